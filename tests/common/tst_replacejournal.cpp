// The replace journal: a start carries out a whole journal to its end and
// drops a torn one without a rename.

#include "common/replacejournal.h"

#include "support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using files::readAll;
using files::writeFile;

class TstReplaceJournal : public QObject
{
    Q_OBJECT
private slots:
    void aTornJournalRenamesNothing();
};

void TstReplaceJournal::aTornJournalRenamesNothing()
{
    QTemporaryDir dir;
    const QList<common::ReplaceMove> moves{{"mosalune-kept00.part", "ReadMe.txt"}, {"mosalune-kept01.part", "a"}};
    for (const auto &[staged, target] : moves)
        writeFile(dir.filePath(staged), "needed");
    const QStringList bodies{"mosalune-kept00.part", "mosalune-kept01.part"};
    // A journal cut anywhere short of its end renames nothing and goes.
    const QByteArray whole = common::replaceJournalBytes(moves);
    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        writeFile(dir.filePath(common::replaceJournalName), whole.left(cut));
        QCOMPARE(common::rollForwardReplace(dir.path()), common::RollForward::Dropped);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), bodies);
    }
    writeFile(dir.filePath(common::replaceJournalName), whole);
    QCOMPARE(common::rollForwardReplace(dir.path()), common::RollForward::Finished);
    QCOMPARE(readAll(dir.filePath("ReadMe.txt")), QByteArray("needed"));
}

QTEST_GUILESS_MAIN(TstReplaceJournal)
#include "tst_replacejournal.moc"

// The update's files wait under temporary names until all have arrived, then
// go in together; the progress bar's limits for any file size.

#include "support/files.h"

#include "common/releasepage.h"
#include "common/replacejournal.h"
#include "updater/stagedfiles.h"
#include "updater/downloadwindow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>


using files::modeOf;
using files::readAll;
using files::writeFile;

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Stages name with content the way the download window does: the body lies
// in the folder under a temporary name and is adopted.
QString stage(mslupdate::StagedFiles &staged, const QString &name, const QByteArray &content)
{
    QTemporaryFile body(QDir(staged.folder()).filePath("mosalune-XXXXXX.part"));
    body.setAutoRemove(false);
    if (!body.open() || body.write(content) != content.size())
        return QString();
    body.close();
    return staged.adopt(name, body.fileName()) ? body.fileName() : QString();
}

} // namespace

class TstStagedFiles : public QObject
{
    Q_OBJECT
private slots:
    void targetNames_data();
    void targetNames();
    void commitPutsEveryFileInPlace();
    void discardLeavesTheFolderAsItWas();
    void aTargetThatIsAFolderFailsBeforeAnyRename();
    void onlyBodiesInTheFolderAreAdopted();
    void leftoversOfAKilledUpdaterGo();
    void barSettings_data();
    void barSettings();
};

void TstStagedFiles::targetNames_data()
{
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("written");
    QTest::newRow("the updater") << "MSLUpdate.exe"
                                 << "NewMSLUpdate.exe";
    QTest::newRow("main program") << "Mosalune.exe"
                                  << "Mosalune.exe";
    QTest::newRow("other case is another file") << "msLUpdate.exe"
                                                << "msLUpdate.exe";
    QTest::newRow("data file") << "BrontelSkin.dll"
                               << "BrontelSkin.dll";
}

void TstStagedFiles::targetNames()
{
    QFETCH(QString, listed);
    QFETCH(QString, written);
    QCOMPARE(common::targetFileName(listed), written);
}

void TstStagedFiles::commitPutsEveryFileInPlace()
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    // An old program file, longer than its replacement and with its own
    // permissions; an old data file; and a program file that is new.
    writeFile(dir.filePath("Mosalune.exe"), QByteArray(5000, 'o'), 0750);
    writeFile(dir.filePath("ReadMe.txt"), "old notes", 0600);

    mslupdate::StagedFiles staged(folder);
    QVERIFY(!stage(staged, "Mosalune.exe", "new main").isEmpty());
    QVERIFY(!stage(staged, "ReadMe.txt", "new notes").isEmpty());
    QVERIFY(!stage(staged, "NewMSLUpdate.exe", "new updater").isEmpty());
    QCOMPARE(staged.count(), 3);
    // Nothing is in place before the commit.
    QCOMPARE(readAll(dir.filePath("Mosalune.exe")), QByteArray(5000, 'o'));
    QVERIFY(!QFile::exists(dir.filePath("NewMSLUpdate.exe")));

    QString error;
    QVERIFY2(staged.commit(&error), qPrintable(error));
    QCOMPARE(readAll(dir.filePath("Mosalune.exe")), QByteArray("new main"));
    QCOMPARE(readAll(dir.filePath("ReadMe.txt")), QByteArray("new notes"));
    QCOMPARE(readAll(dir.filePath("NewMSLUpdate.exe")), QByteArray("new updater"));
    QCOMPARE(modeOf(dir.filePath("Mosalune.exe")), mode_t(0750));
    QCOMPARE(modeOf(dir.filePath("ReadMe.txt")), mode_t(0600));
    QCOMPARE(modeOf(dir.filePath("NewMSLUpdate.exe")), mode_t(0755));
    QCOMPARE(entries(folder), QStringList({"Mosalune.exe", "NewMSLUpdate.exe", "ReadMe.txt"}));
    QCOMPARE(staged.count(), 0);
}

void TstStagedFiles::discardLeavesTheFolderAsItWas()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("Mosalune.exe"), "old main", 0755);
    {
        mslupdate::StagedFiles staged(dir.path());
        stage(staged, "Mosalune.exe", "new main");
        stage(staged, "Other.dll", "new");
        QCOMPARE(entries(dir.path()).size(), 3);
        staged.discard();
        QCOMPARE(entries(dir.path()), QStringList({"Mosalune.exe"}));
        stage(staged, "Mosalune.exe", "newer main");
        // Going out of scope discards too.
    }
    QCOMPARE(entries(dir.path()), QStringList({"Mosalune.exe"}));
    QCOMPARE(readAll(dir.filePath("Mosalune.exe")), QByteArray("old main"));
}

void TstStagedFiles::aTargetThatIsAFolderFailsBeforeAnyRename()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("Mosalune.exe"), "old main", 0755);
    QVERIFY(QDir(dir.path()).mkdir("Data.dll"));
    mslupdate::StagedFiles staged(dir.path());
    stage(staged, "Mosalune.exe", "new main");
    stage(staged, "Data.dll", "new data");
    QString error;
    QVERIFY(!staged.commit(&error));
    QVERIFY2(error.contains("Data.dll"), qPrintable(error));
    // The first file, listed before the bad one, was not replaced either.
    QCOMPARE(readAll(dir.filePath("Mosalune.exe")), QByteArray("old main"));
    staged.discard();
    QCOMPARE(entries(dir.path()), QStringList({"Data.dll", "Mosalune.exe"}));
}

void TstStagedFiles::onlyBodiesInTheFolderAreAdopted()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    mslupdate::StagedFiles staged(dir.path());
    QString error;
    QVERIFY(!staged.adopt("Mosalune.exe", QString(), &error));
    QVERIFY(!staged.adopt("Mosalune.exe", dir.filePath("mosalune-gone00.part"), &error));
    // A body outside the folder could not go in by a rename; it is dropped.
    const QString outside = elsewhere.filePath("mosalune-abcdef.part");
    writeFile(outside, "body");
    QVERIFY(!staged.adopt("Mosalune.exe", outside, &error));
    QVERIFY(!QFile::exists(outside));
    QCOMPARE(staged.count(), 0);
    QVERIFY(staged.commit(&error));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TstStagedFiles::leftoversOfAKilledUpdaterGo()
{
    QTemporaryDir dir;
    const QStringList kept{"Mosalune.exe",    "notes.part",    ".hidden",
                           "mosalune-1.part", "a-123456.part", "mosalune-1234567.part"};
    for (const QString &name : kept)
        writeFile(dir.filePath(name), "keep");
    writeFile(dir.filePath("mosalune-x9Y8z7.part"), "left");
    writeFile(dir.filePath("mosalune-000000.part"), "left");
    // Bodies that a replace journal lists are the next start's to put in place.
    const QList<common::ReplaceMove> moves{{"mosalune-kept00.part", "ReadMe.txt"}, {"mosalune-kept01.part", "a"}};
    for (const auto &[staged, target] : moves)
        writeFile(dir.filePath(staged), "needed");
    writeFile(dir.filePath(common::replaceJournalName), common::replaceJournalBytes(moves));
    mslupdate::StagedFiles::removeLeftovers(dir.path());
    QStringList expected = kept + QStringList{"mosalune-kept00.part", "mosalune-kept01.part", common::replaceJournalName};
    expected.sort();
    QCOMPARE(entries(dir.path()), expected);
}

void TstStagedFiles::barSettings_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::newRow("no length: busy") << qint64(500) << qint64(-1) << 0 << 0;
    QTest::newRow("empty body: full") << qint64(0) << qint64(0) << 1 << 1;
    QTest::newRow("small") << qint64(3) << qint64(10) << 10 << 3;
    // Where single precision would lose the last byte.
    QTest::newRow("2^24 + 1, one short")
        << qint64(16777216) << qint64(16777217) << 16777217 << 16777216;
    QTest::newRow("2^24 + 1, done") << qint64(16777217) << qint64(16777217) << 16777217 << 16777217;
    QTest::newRow("largest int") << qint64(2147483646) << qint64(2147483647) << 2147483647
                                 << 2147483646;
    QTest::newRow("5 GiB, half") << qint64(5) * 512 * 1024 * 1024 << qint64(5) * 1024 * 1024 * 1024
                                 << 1342177280 << 671088640;
    QTest::newRow("5 GiB, done") << qint64(5) * 1024 * 1024 * 1024 << qint64(5) * 1024 * 1024 * 1024
                                 << 1342177280 << 1342177280;
    QTest::newRow("more than announced") << qint64(20) << qint64(10) << 10 << 10;
}

void TstStagedFiles::barSettings()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(int, maximum);
    QFETCH(int, value);
    const mslupdate::ProgressBarSetting bar = mslupdate::progressBarSetting(done, total);
    QCOMPARE(bar.maximum, maximum);
    QCOMPARE(bar.value, value);
}

QTEST_GUILESS_MAIN(TstStagedFiles)
#include "tst_stagedfiles.moc"

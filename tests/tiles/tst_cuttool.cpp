// mosalune-cut: the window's tile job from the command line, with no display.

#include "support/files.h"
#include "support/formharness.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using files::readAll;

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);
const QString cutter = QStringLiteral(MOSALUNE_TOOLS_DIR "/mosalune-cut");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the cutter the way a script on a machine without a desktop would.
Run cut(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(cutter, arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString copyInto(const QTemporaryDir &dir, const QString &name)
{
    const QString target = dir.filePath(name);
    QFile::copy(data + QLatin1Char('/') + name, target);
    return target;
}

} // namespace

class TstCutTool : public QObject
{
    Q_OBJECT
private slots:
    void writesWhatTheWindowWrites_data();
    void writesWhatTheWindowWrites();
    void badPictureIsReportedAndSkipped();
    void helpAndUsage();
};

void TstCutTool::writesWhatTheWindowWrites_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("jpeg") << "picture.jpg";
    QTest::newRow("wmf") << "picture.wmf";
    QTest::newRow("rotated photo") << "rotated-exif.jpg";
}

void TstCutTool::writesWhatTheWindowWrites()
{
    QFETCH(QString, file);
    QTemporaryDir byWindow;
    QTemporaryDir byTool;

    FormHarness h(QStringLiteral("http://127.0.0.1:9/release.html"));
    h.network.result = false;
    QVERIFY(h.open());
    h.dialogs.fileNames << copyInto(byWindow, file);
    QTest::mouseClick(h.form->findChild<QPushButton *>("Command1"), Qt::LeftButton);
    QTest::mouseClick(h.form->findChild<QPushButton *>("Command2"), Qt::LeftButton);
    QCOMPARE(h.dialogs.messages.size(), 1);

    const Run run = cut({copyInto(byTool, file)});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    for (int tile = 1; tile <= 8; ++tile) {
        const QString name = QString::number(tile) + QStringLiteral(".jpg");
        const QByteArray expected = readAll(byWindow.filePath(name));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(readAll(byTool.filePath(name)), expected);
    }
}

void TstCutTool::badPictureIsReportedAndSkipped()
{
    QTemporaryDir good;
    QTemporaryDir bad;
    QTemporaryDir alsoGood;
    const QString notes = copyInto(bad, "notes.txt");
    const Run run = cut({copyInto(good, "picture.png"), notes, copyInto(alsoGood, "picture.gif")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("图片格式错误")), qPrintable(run.err));
    QVERIFY2(run.err.contains(notes), qPrintable(run.err));
    // Nothing beside the bad file; both good pictures are cut all the same.
    QCOMPARE(QDir(bad.path()).entryList(QDir::Files), QStringList({"notes.txt"}));
    QCOMPARE(QDir(good.path()).entryList(QDir::Files).size(), 9);
    QCOMPARE(QDir(alsoGood.path()).entryList(QDir::Files).size(), 9);
}

void TstCutTool::helpAndUsage()
{
    const Run help = cut({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains(QStringLiteral("mosalune-cut")));
    QVERIFY(help.out.contains(QStringLiteral("1.jpg")));
    const Run none = cut({});
    QCOMPARE(none.exitCode, 2);
    QVERIFY(none.out.isEmpty());
}

QTEST_MAIN(TstCutTool)
#include "tst_cuttool.moc"

// The swap of a downloaded updater: left alone while the updater's window is
// open in another process, put in place about a second after it is gone.

#include "support/files.h"
#include "support/formharness.h"

#include "main/startup/updaterswap.h"
#include "platform/timer.h"
#include "platform/windowfinder.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using files::readAll;

namespace {

const QString windowProgram = QStringLiteral(MOSALUNE_TOOLS_DIR "/mosalune-test-window");

void writeFile(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

// The permission bits as the file system keeps them (Qt adds the current
// user's own bits on top).
QFileDevice::Permissions modeOf(const QString &path)
{
    const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                     | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                     | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return QFile::permissions(path) & all;
}

const QFileDevice::Permissions executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                            | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                            | QFileDevice::ExeOther;
const QFileDevice::Permissions plain = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                       | QFileDevice::ReadGroup | QFileDevice::ReadOther;

} // namespace

class TstUpdaterSwap : public QObject
{
    Q_OBJECT
private slots:
    void swapWaitsForTheUpdatersWindow();
    void newUpdaterWithoutAnOldOneIsLeftAlone();
    void replaceUpdaterResults();
};

void TstUpdaterSwap::swapWaitsForTheUpdatersWindow()
{
    QTemporaryDir program;
    QTemporaryDir windowsFolder;
    const QString oldPath = program.filePath(mosalune::updaterFileName);
    const QString newPath = program.filePath(mosalune::newUpdaterFileName);
    writeFile(oldPath, "old updater", executable);
    writeFile(newPath, "new updater, longer than the old one", plain);

    // The updater's notice window, in a process of its own.
    QProcess updater;
    updater.start(windowProgram, {mosalune::updaterWindowClass, mosalune::updaterWindowTitle,
                                  windowsFolder.path()});
    QVERIFY(updater.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += updater.readAllStandardOutput()).contains("SHOWN"), 10000);

    platform::RuntimeDirWindows windows(windowsFolder.path());
    FormHarness h(QStringLiteral("http://127.0.0.1:9/"), program.path());
    h.network.result = false;
    h.windows = &windows;
    QVERIFY(h.open());
    QVERIFY(h.form->Timer1->isRunning());
    QCOMPARE(h.form->Timer1->interval(), 20);

    // Fifty ticks a second for half a second: nothing is touched.
    QTest::qWait(500);
    QCOMPARE(readAll(oldPath), QByteArray("old updater"));
    QVERIFY(QFile::exists(newPath));

    updater.closeWriteChannel(); // the updater ends
    QVERIFY(updater.waitForFinished(10000));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(newPath), 5000);
    // About a second: the 1000 ms grace plus a tick or two.
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(readAll(oldPath), QByteArray("new updater, longer than the old one"));
    QCOMPARE(modeOf(oldPath), executable);
}

void TstUpdaterSwap::newUpdaterWithoutAnOldOneIsLeftAlone()
{
    QTemporaryDir program;
    const QString newPath = program.filePath(mosalune::newUpdaterFileName);
    writeFile(newPath, "new", plain);
    FormHarness h(QStringLiteral("http://127.0.0.1:9/"), program.path());
    h.network.result = false;
    QVERIFY(h.open());
    QTest::qWait(300);
    QCOMPARE(readAll(newPath), QByteArray("new"));
    QVERIFY(!QFile::exists(program.filePath(mosalune::updaterFileName)));
    // The window is found missing on every tick; the folder stays as it is.
    QVERIFY(h.fakeWindows.calls > 5);
}

void TstUpdaterSwap::replaceUpdaterResults()
{
    QTemporaryDir program;
    const QString oldPath = program.filePath(mosalune::updaterFileName);
    const QString newPath = program.filePath(mosalune::newUpdaterFileName);
    QCOMPARE(mosalune::replaceUpdater(program.path()), mosalune::SwapResult::NotPossible);
    writeFile(oldPath, "old", executable);
    QCOMPARE(mosalune::replaceUpdater(program.path()), mosalune::SwapResult::NotPossible);
    QCOMPARE(readAll(oldPath), QByteArray("old"));
    // A folder in the new updater's place is not an updater.
    QVERIFY(QDir(program.path()).mkdir(mosalune::newUpdaterFileName));
    QCOMPARE(mosalune::replaceUpdater(program.path()), mosalune::SwapResult::NotPossible);
    QVERIFY(QDir(program.path()).rmdir(mosalune::newUpdaterFileName));
    writeFile(newPath, "new", plain);
    QCOMPARE(mosalune::replaceUpdater(program.path()), mosalune::SwapResult::Swapped);
    QCOMPARE(readAll(oldPath), QByteArray("new"));
    QCOMPARE(modeOf(oldPath), executable);
}

QTEST_MAIN(TstUpdaterSwap)
#include "tst_updaterswap.moc"

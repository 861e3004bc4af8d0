// The swap of a downloaded updater: left alone while the updater's window is
// open in another process, put in place about a second after it is gone.

#include "support/files.h"
#include "support/formharness.h"

#include "main/mainwindow/updaterswap.h"
#include "platform/timer.h"
#include "platform/windowfinder.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <unistd.h>
#include <QtTest>

using files::readAll;

namespace {

const QString windowProgram = QStringLiteral(MOSALUNE_TEST_TOOLS_DIR "/mosalune-test-window");

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
    void aFolderInTheNewUpdatersPlaceCostsNoWait();
    void aFailedSwapIsNotRetriedOnEveryTick();
    void aRefusedPermissionCopyDoesNotStopTheSwap();
    void mainWindowIsFoundByItsProgramName();
};

namespace {

// How long ten ticks of Timer1 take, driven by hand.
qint64 tenTicks(mosalune::MainWindow &form)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 10; ++i)
        form.watchForUpdaterSwap();
    return clock.elapsed();
}

} // namespace

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
    updater.start(windowProgram, {common::formWindowClass, mosalune::updaterWindowTitle,
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

// A folder by the new updater's name is not a new updater: no tick waits
// for it (each wait would freeze the window for a second).
void TstUpdaterSwap::aFolderInTheNewUpdatersPlaceCostsNoWait()
{
    QTemporaryDir program;
    const QString oldPath = program.filePath(mosalune::updaterFileName);
    writeFile(oldPath, "old", executable);
    QVERIFY(QDir(program.path()).mkdir(mosalune::newUpdaterFileName));
    FormHarness h(QStringLiteral("http://127.0.0.1:9/"), program.path());
    h.network.result = false;
    QVERIFY(h.open());
    h.form->Timer1->setEnabled(false);
    const qint64 took = tenTicks(*h.form);
    QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    QCOMPARE(readAll(oldPath), QByteArray("old"));
    QVERIFY(QFileInfo(program.filePath(mosalune::newUpdaterFileName)).isDir());
}

// A swap that cannot be done (here: the old updater is immutable) waits its
// one second once; later ticks do not wait again.
void TstUpdaterSwap::aFailedSwapIsNotRetriedOnEveryTick()
{
    QTemporaryDir program;
    const QString oldPath = program.filePath(mosalune::updaterFileName);
    const QString newPath = program.filePath(mosalune::newUpdaterFileName);
    writeFile(oldPath, "old", executable);
    writeFile(newPath, "new", plain);
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), oldPath}) != 0)
        QSKIP("chattr +i needs root and a file system that supports it");
    const auto undo = qScopeGuard(
        [&] { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), oldPath}); });

    FormHarness h(QStringLiteral("http://127.0.0.1:9/"), program.path());
    h.network.result = false;
    QVERIFY(h.open());
    h.form->Timer1->setEnabled(false);
    QElapsedTimer clock;
    clock.start();
    h.form->watchForUpdaterSwap();
    QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(readAll(oldPath), QByteArray("old"));
    QCOMPARE(readAll(newPath), QByteArray("new"));

    const qint64 took = tenTicks(*h.form);
    QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    QCOMPARE(readAll(oldPath), QByteArray("old"));
    QCOMPARE(readAll(newPath), QByteArray("new"));
}

// The new updater belongs to another user in a folder the main program may
// write to: its permissions cannot be changed, but the rename works and is
// done.
void TstUpdaterSwap::aRefusedPermissionCopyDoesNotStopTheSwap()
{
    if (::geteuid() != 0)
        QSKIP("needs root to make files of another user");
    QTemporaryDir program;
    const QString oldPath = program.filePath(mosalune::updaterFileName);
    const QString newPath = program.filePath(mosalune::newUpdaterFileName);
    writeFile(oldPath, "old", executable);
    writeFile(newPath, "new updater", plain);
    QVERIFY(QFile::setPermissions(program.path(), QFileDevice::Permissions(0x7777)));

    // The swap as the user nobody: the files are root's.
    QProcess swap;
    swap.start(QStringLiteral("setpriv"),
               {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                QStringLiteral("--clear-groups"),
                QStringLiteral(MOSALUNE_TEST_TOOLS_DIR "/mosalune-test-swap"), program.path()});
    QVERIFY(swap.waitForFinished(10000));
    const QByteArray said = swap.readAllStandardOutput() + swap.readAllStandardError();
    QCOMPARE(said.trimmed(), QByteArray("swapped"));
    QCOMPARE(readAll(oldPath), QByteArray("new updater"));
    QVERIFY(!QFile::exists(newPath));
}

void TstUpdaterSwap::mainWindowIsFoundByItsProgramName()
{
    QTemporaryDir program;
    FormHarness h(QStringLiteral("http://127.0.0.1:9/"), program.path());
    h.network.result = false;
    QVERIFY(h.open());
    QVERIFY(h.fakeWindows.findWindow(common::formWindowClass, common::mainWindowKey));
    h.form->hide();
    QVERIFY(!h.fakeWindows.findWindow(common::formWindowClass, common::mainWindowKey));
}

QTEST_MAIN(TstUpdaterSwap)
#include "tst_updaterswap.moc"

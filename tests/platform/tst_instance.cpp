// One updater per program folder: a second start sees the first, and a
// first that crashed or was killed locks nobody out.

#include "common/replacejournal.h"
#include "platform/instance.h"
#include "platform/stoppedupdate.h"
#include "support/fakeservices.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

class TstInstance : public QObject
{
    Q_OBJECT
private slots:
    void secondSeesFirst();
    void killedFirstLeavesNoLock_data();
    void killedFirstLeavesNoLock();
    void unusableFolderLocksNothing();
    void unfinishedUpdateIsTold();
};

void TstInstance::secondSeesFirst()
{
    QTemporaryDir folder;
    {
        platform::LockFileInstance first(QStringLiteral("/opt/a/MSLUpdate.exe"), folder.path());
        QVERIFY(!first.previousInstance());
        platform::LockFileInstance second(QStringLiteral("/opt/a/MSLUpdate.exe"), folder.path());
        QVERIFY(second.previousInstance());
        // Another installation is another updater.
        platform::LockFileInstance elsewhere(QStringLiteral("/opt/b/MSLUpdate.exe"), folder.path());
        QVERIFY(!elsewhere.previousInstance());
    }
    // Ended normally: the next start is the first again, twice over.
    for (int i = 0; i < 2; ++i) {
        platform::LockFileInstance next(QStringLiteral("/opt/a/MSLUpdate.exe"), folder.path());
        QVERIFY(!next.previousInstance());
    }
}

void TstInstance::killedFirstLeavesNoLock_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("killed") << SIGKILL;
    QTest::newRow("crashed") << SIGSEGV;
}

void TstInstance::killedFirstLeavesNoLock()
{
    QFETCH(int, signal);
    QTemporaryDir folder;
    const QString key = QStringLiteral("/opt/a/MSLUpdate.exe");
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // The earlier updater: takes the lock, says so, then waits to die.
        // A plain death: neither a core file nor the test library's crash
        // report (which would start a debugger).
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::signal(SIGSEGV, SIG_DFL);
        platform::LockFileInstance first(key, folder.path());
        const char said = first.previousInstance() ? 'p' : 'r';
        (void)!::write(ready[1], &said, 1);
        for (;;)
            ::pause();
    }
    // However this test ends, the child goes with it.
    bool reaped = false;
    const auto cleanup = qScopeGuard([&] {
        if (!reaped) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    });
    ::close(ready[1]);
    char said = 0;
    QCOMPARE(::read(ready[0], &said, 1), ssize_t(1));
    ::close(ready[0]);
    QCOMPARE(said, 'r');
    {
        platform::LockFileInstance whileAlive(key, folder.path());
        QVERIFY(whileAlive.previousInstance());
    }
    ::kill(child, signal);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    reaped = true;
    QVERIFY(WIFSIGNALED(status));
    platform::LockFileInstance afterwards(key, folder.path());
    QVERIFY(!afterwards.previousInstance());
}

void TstInstance::unusableFolderLocksNothing()
{
    QTemporaryDir folder;
    QFile blocker(folder.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A path below a plain file can never be a folder.
    platform::LockFileInstance first(QStringLiteral("k"), folder.filePath("file/sub"));
    platform::LockFileInstance second(QStringLiteral("k"), folder.filePath("file/sub"));
    QVERIFY(!first.previousInstance());
    QVERIFY(!second.previousInstance());
}

// What the lock holder does first: a journal that cannot be read (a link,
// never followed) is told.
void TstInstance::unfinishedUpdateIsTold()
{
    QTemporaryDir folder;
    QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), folder.filePath(common::replaceJournalName)));
    fakes::FakeDialogs dialogs;
    platform::finishStoppedUpdate(folder.path(), dialogs);
    QCOMPARE(dialogs.messages.size(), 1);
    QVERIFY(dialogs.messages[0].text.startsWith(QStringLiteral("上次的更新没有完成：无法读取更新记录")));
}

QTEST_GUILESS_MAIN(TstInstance)
#include "tst_instance.moc"

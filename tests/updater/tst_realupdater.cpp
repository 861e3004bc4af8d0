// The real MSLUpdate.exe on a real X server, against the fixture server: the
// notice window appears with its title and size; "确定" clicked with the
// mouse brings the download window, which fetches three files, puts them in
// place and starts the new "Mosalune.exe"; a second updater is refused while
// one runs, also after an earlier one was killed; an updater killed (or
// failing) at any rename of its replace step leaves a folder that the next
// start of either program completes.

#include "support/pagebuilder.h"
#include "fixtureserver.h"
#include "support/files.h"
#include "support/xserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <signal.h>
#include <unistd.h>

using files::readAll;

namespace {

const QString program = QStringLiteral(MSLUPDATE_TEST_PROGRAM);
const QString noticeTitle = QStringLiteral("Mosalune 更新程序");

// The stand-in main program: it leaves a mark beside itself when started.
const QByteArray standIn = "#!/bin/sh\necho started > \"$(dirname \"$0\")/mosalune-started\"\n";

} // namespace

class TstRealUpdater : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void noticeThenDownloadThenRestart();
    void secondUpdaterIsRefused();
    void refusedWhileTheMainProgramRuns();
    void stoppedAtEveryRename_data();
    void stoppedAtEveryRename();

private:
    // A program folder holding the updater and an old companion file.
    bool makeProgramFolder(QTemporaryDir &folder);
    void startUpdater(QProcess &updater, const QString &folder, const QString &page, const QStringList &tracing = {},
                      const QString &program = QStringLiteral("MSLUpdate.exe"));
    // Clicks "确定" of the notice window once it is shown, after a picture of
    // the screen when a file is named.
    void clickNoticeOk(const QString &picture = {});

    XServer m_x;
    FixtureServer m_server;
    QTemporaryDir m_runtime;
};

void TstRealUpdater::initTestCase()
{
    QVERIFY2(m_x.start(), "Xvfb did not start");
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    // The window registry and the single-instance lock live here, away from
    // any real updater of the user.
    QVERIFY(QFile::setPermissions(m_runtime.path(), QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner));
    m_server.writeFile("files/main.sh", standIn);
    m_server.writeFile("files/updater.bin", "new updater");
    m_server.writeFile("files/notes.txt", "new notes");

    QList<QPair<QString, QString>> files{
        {"Mosalune.exe", "/files/main.sh"}, {"MSLUpdate.exe", "/files/updater.bin"}, {"ReadMe.txt", "/files/notes.txt"}};
    // The same files with the main program last, so that it is still the
    // old one after a kill among the renames and can be started.
    for (const QString release : {"release.html", "main-last.html"}) {
        pagebuilder::ReleasePage page;
        page.files.clear();
        int ordinal = 1;
        for (const auto &[name, body] : files) {
            const QString share = QStringLiteral("share/%1-%2.html").arg(release).arg(ordinal);
            m_server.writeFile(share, pagebuilder::sharePage(m_server.address(body)).toUtf8());
            page.files << pagebuilder::fileEntry(ordinal++, name, m_server.address("/" + share));
        }
        m_server.writeFile(release, page.build().toUtf8());
        std::rotate(files.begin(), files.begin() + 1, files.end());
    }
}

bool TstRealUpdater::makeProgramFolder(QTemporaryDir &folder)
{
    const QString copy = folder.filePath(QStringLiteral("MSLUpdate.exe"));
    QFile readMe(folder.filePath(QStringLiteral("ReadMe.txt")));
    // The skin as the main program leaves it beside itself.
    return QFile::copy(program, copy) && QFile::setPermissions(copy, QFile::permissions(program)) &&
           QFile::copy(QStringLiteral(MOSALUNE_SKIN_LIBRARY), folder.filePath("BrontelSkin.dll")) &&
           QFile::copy(QStringLiteral(MOSALUNE_SKIN_THEME), folder.filePath("Brontel.Skin")) &&
           readMe.open(QIODevice::WriteOnly) && readMe.write("old notes") == 9;
}

// tracing: strace options to run it under; program: the updater (online) or
// the main program (offline, so that it goes straight to its window).
void TstRealUpdater::startUpdater(QProcess &updater, const QString &folder, const QString &page,
                                  const QStringList &tracing, const QString &program)
{
    QProcessEnvironment env = m_x.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"),
               program == u"MSLUpdate.exe" ? QStringLiteral("online") : QStringLiteral("offline"));
    env.insert(QStringLiteral("MOSALUNE_TEST_RELEASE_PAGE"), m_server.address(page));
    updater.setProcessEnvironment(env);
    updater.setWorkingDirectory(folder);
    const QStringList command = tracing + QStringList{"--", QDir(folder).filePath(program)};
    updater.start(command.first() == u"--" ? command.last() : QStringLiteral("strace"),
                  command.first() == u"--" ? QStringList() : command);
    QVERIFY(updater.waitForStarted(10000));
}

void TstRealUpdater::clickNoticeOk(const QString &picture)
{
    std::optional<TopLevel> notice;
    QTRY_VERIFY_WITH_TIMEOUT((notice = m_x.shownTopLevel(noticeTitle, QSize(257, 337))).has_value(), 20000);
    if (!picture.isEmpty()) {
        QTest::qWait(500); // drawn before the picture is taken
        m_x.screenshot(picture);
    }
    // "确定" lies at 8, 298 (89 × 33) in the window. It takes a click only
    // once the window has read the page, a moment after it shows (longer
    // under the sanitizers): clicked again while the window stays. Below it
    // then lies no window of the updater's.
    for (int tries = 0; tries < 40 && m_x.shown(noticeTitle) > 0; ++tries) {
        m_x.click(notice->at + QPoint(52, 314));
        QTest::qWait(500);
    }
}

void TstRealUpdater::noticeThenDownloadThenRestart()
{
    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    const QByteArray updaterBytes = readAll(folder.filePath("MSLUpdate.exe"));
    QProcess updater;
    startUpdater(updater, folder.path(), "/release.html");
    clickNoticeOk(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-notice.png"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("NewMSLUpdate.exe")), 20000);
    m_x.screenshot(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-download.png"));
    // The notice window has gone; the download window is the only one.
    QCOMPARE(m_x.shown(noticeTitle), 0);

    // Five seconds of countdown, then the new main program starts.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath("mosalune-started")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 10000);
    QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater.exitCode(), 0);
    QCOMPARE(readAll(folder.filePath("Mosalune.exe")), standIn);
    QCOMPARE(readAll(folder.filePath("NewMSLUpdate.exe")), QByteArray("new updater"));
    QCOMPARE(readAll(folder.filePath("ReadMe.txt")), QByteArray("new notes"));
    QVERIFY(readAll(folder.filePath("MSLUpdate.exe")) == updaterBytes);
    const QStringList left = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(left, QStringList({"Brontel.Skin", "BrontelSkin.dll", "MSLUpdate.exe", "Mosalune.exe",
                                "NewMSLUpdate.exe", "ReadMe.txt", "mosalune-started"}));
}

void TstRealUpdater::secondUpdaterIsRefused()
{
    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    QProcess first;
    startUpdater(first, folder.path(), "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.topLevel(noticeTitle, QSize(257, 337)).has_value(), 20000);

    QProcess second;
    startUpdater(second, folder.path(), "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral("提示：")) > 0, 20000);
    m_x.screenshot(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-second.png"));
    QCOMPARE(second.state(), QProcess::Running); // waiting for its message to be closed
    second.kill();
    second.waitForFinished(5000);

    // The first one dies without tidying up; the next start is not locked out.
    first.kill();
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_x.shown(noticeTitle), 0, 10000);
    QProcess third;
    startUpdater(third, folder.path(), "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.topLevel(noticeTitle, QSize(257, 337)).has_value(), 20000);
    QCOMPARE(m_x.shown(QStringLiteral("提示：")), 0);
    third.kill();
    third.waitForFinished(5000);
}

// The real main program, offline, with its main window open: the updater's
// download window finds it (whatever its version) and refuses.
void TstRealUpdater::refusedWhileTheMainProgramRuns()
{
    QProcess mosalune;
    startUpdater(mosalune, QFileInfo(QStringLiteral(MOSALUNE_TEST_PROGRAM)).absolutePath(), "/release.html", {},
                 "Mosalune.exe");
    const auto stop = qScopeGuard([&] {
        mosalune.kill();
        mosalune.waitForFinished(5000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral(" Mosalune   Ver13.04.20")) > 0, 30000);

    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    QProcess updater;
    startUpdater(updater, folder.path(), "/release.html");
    clickNoticeOk();
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral("Mosalune 更新提示:")) > 0, 20000);
    m_x.screenshot(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-mainopen.png"));
    // Nothing was fetched or written.
    QVERIFY(!QFile::exists(folder.filePath("NewMSLUpdate.exe")));
    QVERIFY(!QFile::exists(folder.filePath("Mosalune.exe")));
    QCOMPARE(readAll(folder.filePath("ReadMe.txt")), QByteArray("old notes"));
    updater.kill();
    updater.waitForFinished(5000);
}

// The replace step is rename 1 (the journal) and renames 2 to 4 (the three
// files, the main program last). Killed before rename k, or rename k failing,
// leaves a mixture that the next start of either program makes all old or all new.
void TstRealUpdater::stoppedAtEveryRename_data()
{
    QTest::addColumn<QString>("injection");
    QTest::addColumn<int>("rename");
    QTest::addColumn<bool>("mainProgramNext");
    for (int k = 1; k <= 8; ++k)
        QTest::addRow("killed at rename %d, then %s", (k + 1) / 2, k % 2 ? "MSLUpdate.exe" : "Mosalune.exe")
            << QStringLiteral("signal=KILL") << (k + 1) / 2 << (k % 2 == 0);
    QTest::newRow("rename 3 fails, then MSLUpdate.exe") << QStringLiteral("error=EIO") << 3 << false;
}

void TstRealUpdater::stoppedAtEveryRename()
{
    QFETCH(QString, injection);
    QFETCH(int, rename);
    QFETCH(bool, mainProgramNext);
    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    const QString mainProgram = QStringLiteral(MOSALUNE_TEST_PROGRAM);
    QVERIFY(QFile::copy(mainProgram, folder.filePath("Mosalune.exe")));
    QVERIFY(QFile::setPermissions(folder.filePath("Mosalune.exe"), QFile::permissions(mainProgram)));
    // The three files, with what the update puts in them.
    const QList<QPair<QString, QByteArray>> files{
        {"NewMSLUpdate.exe", "new updater"}, {"ReadMe.txt", "new notes"}, {"Mosalune.exe", standIn}};
    const auto newFiles = [&] {
        return int(std::count_if(files.cbegin(), files.cend(),
                                 [&](const auto &f) { return readAll(folder.filePath(f.first)) == f.second; }));
    };
    const auto bodies = [&] { return QDir(folder.path()).entryList({"mosalune-??????.part"}).size(); };
    const QString journal = folder.filePath("mosalune-replace.journal");
    QProcess updater;
    // The replace step renames within the opened folder (renameat), nothing
    // else of the updater does.
    const QString trace = folder.filePath("renames.trace");
    const QStringList tracing{"-f", "-qq", "-o", trace, "-e", "trace=renameat", "-e",
                              QStringLiteral("inject=renameat:%1:when=%2").arg(injection).arg(rename)};
    // strace and the updater in a group of their own: a row that fails ends
    // both, so that no untraced updater is left holding the lock for the next.
    updater.setChildProcessModifier([] { ::setsid(); });
    const auto end = qScopeGuard([&] {
        if (QTest::currentTestFailed()) {
            m_x.screenshot(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-failed-row.png"));
            qInfo().noquote() << "windows:" << m_x.windows().join(u", ") << "\nrenames:" << readAll(trace)
                              << "\nupdater:" << updater.readAllStandardOutput() << updater.readAllStandardError();
        }
        if (updater.state() != QProcess::NotRunning)
            ::kill(-pid_t(updater.processId()), SIGKILL);
        updater.waitForFinished(5000);
    });
    startUpdater(updater, folder.path(), "/main-last.html", tracing);
    clickNoticeOk();
    if (injection.startsWith("error")) {
        // The failure is told; "No" ends the updater (killing strace would
        // leave it running untraced).
        QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral("提示")) > 0, 30000);
        QVERIFY(m_x.pressKey(QStringLiteral("提示"), QStringLiteral("Escape")));
    }
    QTRY_COMPARE_WITH_TIMEOUT(updater.state(), QProcess::NotRunning, 30000);
    // Stopped among the renames: what went in before it, and the journal.
    QCOMPARE(newFiles(), qMax(0, rename - 2));
    QCOMPARE(QFile::exists(journal), rename >= 2);
    QCOMPARE(bodies(), 3 - qMax(0, rename - 2));

    QProcess next;
    startUpdater(next, folder.path(), "/release.html", {}, mainProgramNext ? "Mosalune.exe" : "MSLUpdate.exe");
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(journal) && newFiles() % 3 == 0, 20000);
    // Its window comes after the roll-forward.
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(mainProgramNext ? QStringLiteral(" Mosalune   Ver13.04.20")
                                                       : noticeTitle) > 0, 30000);
    next.kill();
    next.waitForFinished(5000);
    QCOMPARE(newFiles(), rename >= 2 ? 3 : 0);
    QCOMPARE(bodies(), rename >= 2 ? 0 : 3);
    QVERIFY(!QFile::exists(journal + ".new"));
}

QTEST_GUILESS_MAIN(TstRealUpdater)
#include "tst_realupdater.moc"

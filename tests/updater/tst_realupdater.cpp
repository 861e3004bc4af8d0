// The real MSLUpdate.exe on a real X server, against the fixture server: the
// notice window appears with its title and size; "确定" clicked with the
// mouse brings the download window, which fetches three files, puts them in
// place and starts the new "Mosalune.exe"; a second updater is refused while
// one runs, also after an earlier one was killed.

#include "common/pagebuilder.h"
#include "fixtureserver.h"
#include "support/xserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString program = QStringLiteral(MSLUPDATE_TEST_PROGRAM);
const QString noticeTitle = QStringLiteral("Mosalune 更新程序");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

private:
    // A program folder holding the updater and an old companion file.
    bool makeProgramFolder(QTemporaryDir &folder);
    void startUpdater(QProcess &updater, const QTemporaryDir &folder, const QString &page);

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

    pagebuilder::ReleasePage page;
    page.files.clear();
    const QList<QPair<QString, QString>> files{{"Mosalune.exe", "/files/main.sh"},
                                               {"MSLUpdate.exe", "/files/updater.bin"},
                                               {"ReadMe.txt", "/files/notes.txt"}};
    int ordinal = 1;
    for (const auto &[name, body] : files) {
        const QString share = QStringLiteral("share/%1.html").arg(ordinal);
        m_server.writeFile(share, pagebuilder::sharePage(m_server.address(body)).toUtf8());
        page.files << pagebuilder::fileEntry(ordinal++, name, m_server.address("/" + share));
    }
    m_server.writeFile("release.html", page.build().toUtf8());
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

void TstRealUpdater::startUpdater(QProcess &updater, const QTemporaryDir &folder,
                                  const QString &page)
{
    QProcessEnvironment env = m_x.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), QStringLiteral("online"));
    env.insert(QStringLiteral("MOSALUNE_TEST_RELEASE_PAGE"), m_server.address(page));
    updater.setProcessEnvironment(env);
    updater.setWorkingDirectory(folder.path());
    updater.start(folder.filePath(QStringLiteral("MSLUpdate.exe")), {});
    QVERIFY(updater.waitForStarted(10000));
}

void TstRealUpdater::noticeThenDownloadThenRestart()
{
    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    const QByteArray updaterBytes = readAll(folder.filePath("MSLUpdate.exe"));
    QProcess updater;
    startUpdater(updater, folder, "/release.html");

    std::optional<TopLevel> notice;
    QTRY_VERIFY_WITH_TIMEOUT((notice = m_x.topLevel(noticeTitle, QSize(257, 337))).has_value(),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(noticeTitle) > 0, 10000);
    QTest::qWait(500); // drawn before the picture is taken
    m_x.screenshot(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-notice.png"));

    // "确定" lies at 8, 298 (89 × 33) in the window.
    m_x.click(notice->at + QPoint(52, 314));
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
    startUpdater(first, folder, "/release.html");
    QTRY_VERIFY_WITH_TIMEOUT(m_x.topLevel(noticeTitle, QSize(257, 337)).has_value(), 20000);

    QProcess second;
    startUpdater(second, folder, "/release.html");
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
    startUpdater(third, folder, "/release.html");
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
    QProcessEnvironment env = m_x.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), QStringLiteral("offline"));
    mosalune.setProcessEnvironment(env);
    const QString mainProgram = QStringLiteral(MOSALUNE_TEST_PROGRAM);
    mosalune.setWorkingDirectory(QFileInfo(mainProgram).absolutePath());
    mosalune.start(mainProgram, {});
    QVERIFY(mosalune.waitForStarted(10000));
    const auto stop = qScopeGuard([&] {
        mosalune.kill();
        mosalune.waitForFinished(5000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral(" Mosalune   Ver13.04.20")) > 0, 30000);

    QTemporaryDir folder;
    QVERIFY(makeProgramFolder(folder));
    QProcess updater;
    startUpdater(updater, folder, "/release.html");
    std::optional<TopLevel> notice;
    QTRY_VERIFY_WITH_TIMEOUT((notice = m_x.topLevel(noticeTitle, QSize(257, 337))).has_value(),
                             20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(noticeTitle) > 0, 10000);
    m_x.click(notice->at + QPoint(52, 314));
    QTRY_VERIFY_WITH_TIMEOUT(m_x.shown(QStringLiteral("Mosalune 更新提示:")) > 0, 20000);
    m_x.screenshot(QStringLiteral(MSLUPDATE_SCREENSHOT_DIR "/realupdater-mainopen.png"));
    // Nothing was fetched or written.
    QVERIFY(!QFile::exists(folder.filePath("NewMSLUpdate.exe")));
    QVERIFY(!QFile::exists(folder.filePath("Mosalune.exe")));
    QCOMPARE(readAll(folder.filePath("ReadMe.txt")), QByteArray("old notes"));
    updater.kill();
    updater.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TstRealUpdater)
#include "tst_realupdater.moc"

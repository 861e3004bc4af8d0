// The download window against the fixture server: the lists, one download at
// a time, every file put in place only once all have arrived, the countdown
// and the restart of the main program; every failure leaves the folder as it
// was and asks whether to open the release page.

#include "support/files.h"
#include "support/updaterharness.h"

#include "common/inet.h"
#include "common/programfiles.h"
#include "platform/timer.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using files::modeOf;
using files::readAll;
using files::writeFile;
using Files = QList<QPair<QString, QString>>;

namespace {

const QString kFailed = QStringLiteral("更新失败，是否去官网下载最新版本");

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// The program folder as an installation leaves it.
struct Installation {
    QTemporaryDir dir;
    Installation()
    {
        writeFile(dir.filePath("Mosalune.exe"), QByteArray(70000, 'M'), 0750);
        writeFile(dir.filePath("MSLUpdate.exe"), "old updater", 0755);
        writeFile(dir.filePath("ReadMe.txt"), "old notes", 0644);
    }
    QString path() const { return dir.path(); }
    QString file(const QString &name) const { return dir.filePath(name); }
    // Whole folder: names and contents.
    QMap<QString, QByteArray> snapshot() const
    {
        QMap<QString, QByteArray> all;
        for (const QString &name : entries(dir.path()))
            all.insert(name, readAll(dir.filePath(name)));
        return all;
    }
};

} // namespace

class TstDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void threeFilesThenCountdown();
    void bodiesArriveExactly_data();
    void bodiesArriveExactly();
    void failuresLeaveEverythingAsItWas_data();
    void failuresLeaveEverythingAsItWas();
    void yesOpensTheReleasePage();
    void refusedWhileTheMainProgramIsOpen();
    void mainProgramThatCannotBeStartedIsNamed();
    void progressWithoutLengthIsBusy();
    void escapeAndCloseAskWhetherToStop();

private:
    // Runs the download window until it has ended or started its countdown.
    void runToEnd(UpdaterHarness &h, mslupdate::DownloadWindow &ud, int timeoutMs = 20000);
    FixtureServer m_server;
};

void TstDownload::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_server.writeFile("files/main.bin", QByteArray("new main program ") + QByteArray(3000, 'm'));
    m_server.writeFile("files/updater.bin", "new updater");
    m_server.writeFile("files/notes.txt", "new notes");
    m_server.writeFile("files/empty.bin", QByteArray());
    m_server.writeFile(
        "bad-share.html",
        "<html><body>保存至网盘<a class=\"btn\" href='x' id=\"b\">下载</a></body></html>");
}

void TstDownload::runToEnd(UpdaterHarness &h, mslupdate::DownloadWindow &ud, int timeoutMs)
{
    QTRY_VERIFY_WITH_TIMEOUT(h.ends > 0 || ud.Timer1->interval() == 1000, timeoutMs);
}

void TstDownload::threeFilesThenCountdown()
{
    Installation inst;
    const QMap<QString, QByteArray> before = inst.snapshot();
    const QString page = releasePageFor(m_server, {{"Mosalune.exe", "/files/main.bin"},
                                                   {"MSLUpdate.exe", "/files/updater.bin"},
                                                   {"ReadMe.txt", "/files/notes.txt"}});
    m_server.writeFile("three.html", page.toUtf8());
    UpdaterHarness h(m_server.address("/three.html"), inst.path());
    h.ud = std::make_unique<mslupdate::DownloadWindow>(h.makeServices());
    mslupdate::DownloadWindow &ud = *h.ud;

    // What the window shows after each completion, and whether anything was
    // in place by then.
    QStringList statusLines;
    QList<bool> untouched;
    connect(ud.Inet1, &common::Inet::finished, this, [&] {
        statusLines << ud.Label1()->text();
        // Temporary files come and go; the program's files must not change.
        bool same = !QFile::exists(inst.file("NewMSLUpdate.exe"));
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            same = same && readAll(inst.file(it.key())) == it.value();
        untouched << same;
    });
    ud.load();
    QCOMPARE(ud.Label1()->text(), QStringLiteral("正在下载 Mosalune.exe"));
    QCOMPARE(ud.Label1()->textFormat(), Qt::PlainText); // a file name is never markup
    QVERIFY(ud.isVisible());
    QCOMPARE(ud.List1()->count(), 3);
    QCOMPARE(ud.List2()->count(), 3);
    const QString second = ud.List1()->item(1)->text();
    QVERIFY2(
        second.startsWith(QStringLiteral("2、MSLUpdate.exe\"") + m_server.address("/share/")) &&
            second.endsWith(QStringLiteral(".html?from=page&x=1\"")),
        qPrintable(second));
    QCOMPARE(ud.List2()->item(2)->text(),
             m_server.address("/files/notes.txt") + QStringLiteral("?dl=1&n=3"));
    QCOMPARE(ud.FileIndex, 0);

    runToEnd(h, ud);
    QCOMPARE(h.ends, 0);
    QCOMPARE(statusLines, QStringList({"正在下载 NewMSLUpdate.exe", "正在下载 ReadMe.txt",
                                       "更新完成，5秒钟后自动关闭本窗口"}));
    // Until the last body had arrived, nothing was replaced.
    QCOMPARE(untouched, QList<bool>({true, true, false}));
    QCOMPARE(ud.FileIndex, 2);
    QCOMPARE(readAll(inst.file("Mosalune.exe")), readAll(m_server.root() + "/files/main.bin"));
    QCOMPARE(readAll(inst.file("NewMSLUpdate.exe")), QByteArray("new updater"));
    QCOMPARE(readAll(inst.file("MSLUpdate.exe")), QByteArray("old updater"));
    QCOMPARE(readAll(inst.file("ReadMe.txt")), QByteArray("new notes"));
    QCOMPARE(modeOf(inst.file("Mosalune.exe")), mode_t(0750));
    QCOMPARE(modeOf(inst.file("NewMSLUpdate.exe")), mode_t(0755));
    QCOMPARE(modeOf(inst.file("ReadMe.txt")), mode_t(0644));
    QCOMPARE(entries(inst.path()),
             QStringList({"MSLUpdate.exe", "Mosalune.exe", "NewMSLUpdate.exe", "ReadMe.txt"}));

    QVERIFY(ud.Timer1->isRunning());
    QCOMPARE(ud.Timer1->interval(), 1000);
    // The countdown, driven tick by tick.
    for (int left = 4; left >= 1; --left) {
        ud.countDownToClose();
        QCOMPARE(ud.Label1()->text(), QStringLiteral("更新完成，%1秒钟后自动关闭本窗口").arg(left));
        QVERIFY(h.shell.nothingDone());
    }
    ud.countDownToClose();
    QVERIFY(!ud.isVisible());
    QCOMPARE(h.shell.started, QStringList({inst.file("Mosalune.exe")}));
    QVERIFY(h.shell.opened.isEmpty());
    QCOMPARE(h.ends, 1);
    QVERIFY(h.dialogs.messages.isEmpty());
}

// Bodies of every shape arrive byte for byte, whatever stood there before.
void TstDownload::bodiesArriveExactly_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no length") << "/nolength/bytes/300000" << FixtureServer::patternBytes(300000);
    QTest::newRow("chunked") << "/chunked/bytes/200000" << FixtureServer::patternBytes(200000);
    QTest::newRow("empty body") << "/files/empty.bin" << QByteArray();
    QTest::newRow("redirected") << "/redirect/2/bytes/1000" << FixtureServer::patternBytes(1000);
    QTest::newRow("trickling") << "/trickle/20/20000/bytes/100000"
                               << FixtureServer::patternBytes(100000);
    QTest::newRow("20 MB, past single precision")
        << "/bytes/20000001" << FixtureServer::patternBytes(20000001);
}

void TstDownload::bodiesArriveExactly()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, expected);
    Installation inst;
    // A data file: an empty program is refused.
    m_server.writeFile("one.html", releasePageFor(m_server, {{"ReadMe.txt", path}}).toUtf8());
    UpdaterHarness h(m_server.address("/one.html"), inst.path());
    mslupdate::DownloadWindow &ud = h.openDownload();
    runToEnd(h, ud, 60000);
    QCOMPARE(h.ends, 0);
    QCOMPARE(ud.Label1()->text(), QStringLiteral("更新完成，5秒钟后自动关闭本窗口"));
    const QByteArray written = readAll(inst.file("ReadMe.txt"));
    QCOMPARE(written.size(), expected.size());
    QVERIFY(written == expected);
    QCOMPARE(ud.ProgressBar1()->value(), ud.ProgressBar1()->maximum());
    if (!expected.isEmpty())
        QCOMPARE(qint64(ud.ProgressBar1()->maximum()), qint64(expected.size()));
    QCOMPARE(entries(inst.path()), QStringList({"MSLUpdate.exe", "Mosalune.exe", "ReadMe.txt"}));
}

void TstDownload::failuresLeaveEverythingAsItWas_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("listed"); // entries in List1 when it failed
    QTest::addColumn<QString>("status");
    auto files = [this](const QString &second) {
        return releasePageFor(m_server, {{"Mosalune.exe", "/files/main.bin"},
                                         {"MSLUpdate.exe", second},
                                         {"ReadMe.txt", "/files/notes.txt"}});
    };
    QTest::newRow("404 on the second of three")
        << files("/status/404") << 3 << "正在下载 NewMSLUpdate.exe";
    QTest::newRow("500 with a body")
        << files("/status/500/oops") << 3 << "正在下载 NewMSLUpdate.exe";
    QTest::newRow("connection cut mid-file")
        << files("/drop/bytes/300000") << 3 << "正在下载 NewMSLUpdate.exe";
    QTest::newRow("body shorter than announced")
        << files("/short/bytes/300000") << 3 << "正在下载 NewMSLUpdate.exe";
    QTest::newRow("stalls past the time-out")
        << files("/delay/3000/files/updater.bin") << 3 << "正在下载 NewMSLUpdate.exe";
    QTest::newRow("empty updater") << files("/files/empty.bin") << 3 << "正在下载 NewMSLUpdate.exe";
    QTest::newRow("empty main program")
        << releasePageFor(m_server, {{"ReadMe.txt", "/files/notes.txt"}, {"Mosalune.exe", "/nolength/bytes/0"}})
        << 2 << "正在下载 Mosalune.exe";

    pagebuilder::ReleasePage empty;
    empty.files.clear();
    QTest::newRow("empty list") << empty.build() << 0 << "正在准备更新...";
    QTest::newRow("one bad share page")
        << releasePageFor(m_server, {{"Mosalune.exe", "/files/main.bin"},
                                     {"ReadMe.txt", "share:/bad-share.html"},
                                     {"MSLUpdate.exe", "/files/updater.bin"}})
        << 3 << "正在准备更新...";
    QTest::newRow("share page missing")
        << releasePageFor(m_server, {{"Mosalune.exe", "share:/share/none.html"}}) << 1
        << "正在准备更新...";
    QString broken = files("/files/updater.bin");
    broken.replace(QStringLiteral("消息推送："), QStringLiteral("消息："));
    QTest::newRow("page without its push heading") << broken << 0 << "正在准备更新...";
    QTest::newRow("release page missing") << QString() << 0 << "正在准备更新...";
}

void TstDownload::failuresLeaveEverythingAsItWas()
{
    QFETCH(QString, page);
    QFETCH(int, listed);
    QFETCH(QString, status);
    Installation inst;
    const QMap<QString, QByteArray> before = inst.snapshot();
    QFile::remove(m_server.root() + "/fail.html");
    if (!page.isEmpty())
        m_server.writeFile("fail.html", page.toUtf8());
    UpdaterHarness h(m_server.address("/fail.html"), inst.path());
    h.ud = std::make_unique<mslupdate::DownloadWindow>(h.makeServices(1));
    // The failure question comes while the window still shows where it
    // stopped.
    QString shownAtQuestion;
    h.dialogs.onMessage = [&](const fakes::Message &) { shownAtQuestion = h.ud->Label1()->text(); };
    h.ud->load();
    QTRY_COMPARE_WITH_TIMEOUT(h.ends, 1, 20000);

    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages.at(0).text, kFailed);
    QCOMPARE(h.dialogs.messages.at(0).title, QStringLiteral("提示"));
    QCOMPARE(h.dialogs.messages.at(0).buttons, platform::MessageButtons::YesNo);
    QCOMPARE(h.dialogs.messages.at(0).icon, platform::MessageIcon::None);
    QCOMPARE(shownAtQuestion, status);
    QCOMPARE(h.ud->List1()->count(), listed);
    // No answered "Yes": nothing opened.
    QVERIFY(h.shell.nothingDone());
    // Every old file as it was, nothing added (no temporary file either).
    QCOMPARE(inst.snapshot(), before);
    QCOMPARE(modeOf(inst.file("Mosalune.exe")), mode_t(0750));
    // Nothing further happens once it has ended.
    QTest::qWait(300);
    QCOMPARE(h.ends, 1);
    QCOMPARE(h.dialogs.messages.size(), 1);
}

void TstDownload::yesOpensTheReleasePage()
{
    Installation inst;
    UpdaterHarness h(m_server.address("/no-such-page.html"), inst.path());
    h.dialogs.answers = {platform::MessageAnswer::Yes};
    h.openDownload();
    QCOMPARE(h.ends, 1);
    QCOMPARE(h.shell.opened, QList<QUrl>({QUrl(m_server.address("/no-such-page.html"))}));
    QVERIFY(h.shell.started.isEmpty());
}

void TstDownload::refusedWhileTheMainProgramIsOpen()
{
    Installation inst;
    const QMap<QString, QByteArray> before = inst.snapshot();
    m_server.writeFile("open.html",
                       releasePageFor(m_server, {{"Mosalune.exe", "/files/main.bin"}}).toUtf8());
    UpdaterHarness h(m_server.address("/open.html"), inst.path());
    // The main program's window as the main program publishes it.
    h.windows.add(common::formWindowClass, common::mainWindowKey);
    mslupdate::DownloadWindow &ud = h.openDownload();
    QCOMPARE(h.ends, 1);
    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages.at(0).text,
             QStringLiteral("发现原程序正在运行,请关闭原程序后再点击更新."));
    QCOMPARE(h.dialogs.messages.at(0).title, QStringLiteral("Mosalune 更新提示:"));
    QCOMPARE(h.dialogs.messages.at(0).buttons, platform::MessageButtons::Ok);
    QCOMPARE(h.dialogs.messages.at(0).icon, platform::MessageIcon::None);
    // Nothing was fetched.
    QCOMPARE(ud.List1()->count(), 0);
    QVERIFY(!ud.Inet1->downloading());
    QTest::qWait(200);
    QCOMPARE(inst.snapshot(), before);
}

void TstDownload::mainProgramThatCannotBeStartedIsNamed()
{
    Installation inst;
    m_server.writeFile("start.html",
                       releasePageFor(m_server, {{"ReadMe.txt", "/files/notes.txt"}}).toUtf8());
    UpdaterHarness h(m_server.address("/start.html"), inst.path());
    h.shell.result = false;
    mslupdate::DownloadWindow &ud = h.openDownload();
    runToEnd(h, ud);
    for (int i = 0; i < 5; ++i)
        ud.countDownToClose();
    QCOMPARE(h.ends, 1);
    QCOMPARE(h.dialogs.messages.size(), 1);
    QVERIFY2(h.dialogs.messages.at(0).text.contains(inst.file("Mosalune.exe")),
             qPrintable(h.dialogs.messages.at(0).text));
    QCOMPARE(h.dialogs.messages.at(0).title, QStringLiteral("提示"));
}

void TstDownload::progressWithoutLengthIsBusy()
{
    Installation inst;
    m_server.writeFile(
        "busy.html",
        releasePageFor(m_server, {{"ReadMe.txt", "/nolength/trickle/30/4000/bytes/40000"}})
            .toUtf8());
    UpdaterHarness h(m_server.address("/busy.html"), inst.path());
    h.ud = std::make_unique<mslupdate::DownloadWindow>(h.makeServices());
    QList<int> maxima;
    connect(h.ud->Inet1, &common::Inet::progress, this,
            [&] { maxima << h.ud->ProgressBar1()->maximum(); });
    h.ud->load();
    runToEnd(h, *h.ud);
    QVERIFY(!maxima.isEmpty());
    for (int maximum : std::as_const(maxima))
        QCOMPARE(maximum, 0);
    QCOMPARE(h.ud->ProgressBar1()->value(), h.ud->ProgressBar1()->maximum());
    QCOMPARE(readAll(inst.file("ReadMe.txt")), FixtureServer::patternBytes(40000));
}

// Esc first, answered "No" while the first body completes: nothing moves
// until the answer, then the download goes on. The window manager's close
// next, answered "Yes": the update stops with the folder as it was.
void TstDownload::escapeAndCloseAskWhetherToStop()
{
    Installation inst;
    const QMap<QString, QByteArray> before = inst.snapshot();
    m_server.writeFile("stop.html", releasePageFor(m_server, {{"Mosalune.exe", "/trickle/100/2000/bytes/20000"},
                                                              {"ReadMe.txt", "/trickle/100/100/bytes/100000"}})
                                        .toUtf8());
    UpdaterHarness h(m_server.address("/stop.html"), inst.path());
    mslupdate::DownloadWindow &ud = h.openDownload();
    QVERIFY(QTest::qWaitForWindowExposed(&ud));
    QStringList bodiesAtQuestion;
    QStringList statusAtQuestion;
    h.dialogs.onMessage = [&](const fakes::Message &) {
        QTest::qWait(2500); // long enough for the first body to arrive
        bodiesAtQuestion << QDir(inst.path()).entryList({QStringLiteral("mosalune-??????.part")}, QDir::Files);
        statusAtQuestion << ud.Label1()->text();
    };
    QTest::keyClick(ud.windowHandle(), Qt::Key_Escape);
    // The first body arrived while the question was open and waited for the
    // answer: no second download had begun.
    QCOMPARE(bodiesAtQuestion.size(), 1);
    QCOMPARE(statusAtQuestion, QStringList{QStringLiteral("正在下载 Mosalune.exe")});
    // After "No" it is kept for the update while the second one downloads.
    QCOMPARE(ud.Label1()->text(), QStringLiteral("正在下载 ReadMe.txt"));
    QVERIFY(ud.isVisible() && QFile::exists(inst.file(bodiesAtQuestion.at(0))));

    h.dialogs.answers = {platform::MessageAnswer::Yes};
    QVERIFY(!ud.close());
    QCOMPARE(h.dialogs.messages.size(), 2);
    for (const fakes::Message &message : std::as_const(h.dialogs.messages))
        QCOMPARE(message.text, QStringLiteral("确定要停止更新吗？已下载的文件将被删除，原有文件保持不变。"));
    QCOMPARE(h.dialogs.messages.at(0).buttons, platform::MessageButtons::YesNo);
    QCOMPARE(h.dialogs.messages.at(0).icon, platform::MessageIcon::None);
    QVERIFY(h.ends == 1 && !ud.isVisible());
    QTest::qWait(300);
    QCOMPARE(inst.snapshot(), before);
    QCOMPARE(h.dialogs.messages.size(), 2);
    QVERIFY(h.shell.nothingDone());

    // Closed while the page is still fetched: "Yes" abandons the fetch at
    // once, long before the slow page would come.
    UpdaterHarness early(m_server.address("/delay/30000/stop.html"), inst.path());
    early.dialogs.answers = {platform::MessageAnswer::Yes};
    early.ud = std::make_unique<mslupdate::DownloadWindow>(early.makeServices());
    QCoreApplication::postEvent(early.ud.get(), new QCloseEvent);
    QElapsedTimer clock;
    clock.start();
    early.ud->load();
    QVERIFY2(clock.elapsed() < 10000, "the fetch was not abandoned");
    QVERIFY(early.ends == 1 && early.ud->List2()->count() == 0 && early.dialogs.messages.size() == 1);
    QCOMPARE(inst.snapshot(), before);
}

QTEST_MAIN(TstDownload)
#include "tst_download.moc"

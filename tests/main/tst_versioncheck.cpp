// The version check window against release pages from the fixture server: its
// load step, the timed progress driven tick by tick, the update question and
// every way out of it, and the silent hand-over when the load step fails.

#include "support/fakeservices.h"
#include "support/files.h"

#include "support/pagebuilder.h"
#include "fixtureserver.h"

#include "common/inet.h"
#include "main/supportfiles.h"
#include "main/versioncheck/versioncheckwindow.h"
#include "platform/appinfo.h"
#include "platform/skinlibrary.h"
#include "platform/timer.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using pagebuilder::ReleasePage;

namespace {

const QString kStart = QStringLiteral("载入系统文件...");
const QString kConfig = QStringLiteral("加载程序配置...");
const QString kVersion = QStringLiteral("检测版本信息...");
const QString kSame = QStringLiteral(" 载入成功！");
const QString kOffline = QStringLiteral("网络连接失败！");
const QString kDamagedUpdater = QStringLiteral("更新文件已损坏,是否去官网重新下载最新完整版程序？");

struct Check {
    QTemporaryDir dir;
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    fakes::FakeNetworkState network{true};
    fakes::FakeWindowFinder windows;
    platform::AppInfo app;
    mosalune::ProgramState state;
    fakes::FakeResources resources = fakes::FakeResources::supportFiles();
    fakes::FakeSkinLibrary skin;
    mosalune::Services services{dialogs, shell, network, windows, app, state, 5};
    mosalune::StartupServices startup{services, resources, skin};
    std::unique_ptr<mosalune::VersionCheckWindow> form;

    int ticks = 0;        // ticks driven so far
    int form1At = -1;     // the tick on which the main window was asked for (0: the load)
    int endAt = -1;       // the tick on which the program was ended
    int handOvers = 0;
    QStringList captions; // the caption after each tick

    explicit Check(const QString &pageUrl)
    {
        app.folder = dir.path();
        app.major = 13;
        app.minor = 4;
        app.revision = 20;
        app.releasePageUrl = pageUrl;
    }

    void load()
    {
        form = std::make_unique<mosalune::VersionCheckWindow>(startup);
        QObject::connect(form.get(), &mosalune::VersionCheckWindow::showMainWindow, [this] {
            ++handOvers;
            form1At = ticks;
            // The main window comes first; the form is unloaded after it
            // (or before it, when the load step failed).
        });
        QObject::connect(form.get(), &mosalune::VersionCheckWindow::programEnds, [this] {
            ++handOvers;
            endAt = ticks;
            QVERIFY(form->isUnloaded());
        });
        form->load();
    }

    // Drives up to count ticks, one at a time, as the timer would.
    void tick(int count)
    {
        for (int i = 0; i < count; ++i) {
            ++ticks;
            form->advanceProgress();
            captions.append(form->Label1()->text());
        }
    }
    int value() const { return form->ProgressBar1()->value(); }
};

} // namespace

class TstVersionCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }

    void loadStep();
    void sameVersionOpensTheMainWindowAt100_data();
    void sameVersionOpensTheMainWindowAt100();
    void offlineOpensTheMainWindowAt100();
    void differentVersionAsksOnce_data();
    void differentVersionAsksOnce();
    void failedLoadHandsOverSilently_data();
    void failedLoadHandsOverSilently();
    void textFilesWrittenOnlyWhenMissing();
    void design();

private:
    QString publish(const QString &name, const QString &html)
    {
        m_server.writeFile(name, html.toUtf8());
        return m_server.url(QLatin1Char('/') + name).toString();
    }
    QString pageWithVersion(const QString &version)
    {
        ReleasePage page;
        page.version = version;
        return publish(QStringLiteral("page-%1.html").arg(++m_pages), page.build());
    }

    FixtureServer m_server;
    int m_pages = 0;
};

void TstVersionCheck::loadStep()
{
    Check check(pageWithVersion(QStringLiteral("13.04.20")));
    check.load();
    mosalune::VersionCheckWindow &form = *check.form;
    QVERIFY(!form.isUnloaded());
    QVERIFY(form.isVisible());
    QCOMPARE(check.handOvers, 0);
    // Skin: the library from AppDir, the theme from the plain folder, no
    // password, the glass look for this very window.
    QCOMPARE(check.skin.loadedPaths, QStringList{check.dir.path() + QStringLiteral("/BrontelSkin.dll")});
    QCOMPARE(check.skin.attachCalls.size(), 1);
    QCOMPARE(check.skin.attachCalls.first().first, check.dir.path() + QStringLiteral("/Brontel.Skin"));
    QCOMPARE(check.skin.attachCalls.first().second, QString());
    QCOMPARE(check.skin.aeroCalls, QList<std::int32_t>{platform::skinWindowHandle(form)});
    QCOMPARE(form.Timer1->interval(), 10);
    QVERIFY(form.Timer1->isEnabled());
    QCOMPARE(form.Text1()->text(), QStringLiteral("13.04.20"));
    QCOMPARE(form.Text2()->text(), QStringLiteral("13.04.20"));
    QCOMPARE(check.state.NetConnected, true);
    QCOMPARE(check.value(), 0);
    QCOMPARE(form.Label1()->text(), kStart);
}

// A signed build takes only a newer release: an older or unreadable
// version is no offer, as the same one is.
void TstVersionCheck::sameVersionOpensTheMainWindowAt100_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("key");
    QTest::newRow("same") << "13.04.20" << QString();
    QTest::newRow("signed, older") << "13.04.19" << "key";
    QTest::newRow("signed, single digits") << "13.4.20 现已发布" << "key";
}

void TstVersionCheck::sameVersionOpensTheMainWindowAt100()
{
    QFETCH(QString, page);
    QFETCH(QString, key);
    Check check(pageWithVersion(page));
    check.app.releaseKey = key;
    check.load();
    check.tick(99);
    QCOMPARE(check.value(), 99);
    QCOMPARE(check.handOvers, 0);
    QVERIFY(!check.form->isUnloaded());
    check.tick(1);
    QCOMPARE(check.form1At, 100);
    QCOMPARE(check.endAt, -1);
    QVERIFY(check.form->isUnloaded());
    QVERIFY(!check.form->isVisible());
    QVERIFY(!check.form->Timer1->isRunning());

    QStringList expected;
    for (int n = 1; n <= 100; ++n)
        expected << (n >= 90 ? kSame : n >= 60 ? kVersion : n >= 30 ? kConfig : kStart);
    QCOMPARE(check.captions, expected);
    QVERIFY(check.dialogs.messages.isEmpty());
    QVERIFY(check.shell.nothingDone());

    // A tick that was already queued when the form went does nothing.
    check.tick(3);
    QCOMPARE(check.value(), 100);
    QCOMPARE(check.handOvers, 1);
}

void TstVersionCheck::offlineOpensTheMainWindowAt100()
{
    // Offline, the page is never asked for: this one would fail the load.
    Check check(m_server.url(QStringLiteral("/status/500")).toString());
    check.network.result = false;
    check.load();
    QCOMPARE(check.handOvers, 0);
    QCOMPARE(check.form->Text2()->text(), QString());
    QCOMPARE(check.state.NetConnected, false);
    check.tick(100);
    QCOMPARE(check.form1At, 100);
    QCOMPARE(check.captions.at(88), kVersion);
    QCOMPARE(check.captions.at(89), kOffline);
    QCOMPARE(check.captions.at(99), kOffline);
    QVERIFY(check.dialogs.messages.isEmpty());
}

void TstVersionCheck::differentVersionAsksOnce_data()
{
    QTest::addColumn<QString>("page");          // the page's version text, as written
    QTest::addColumn<QString>("shown");         // what the question shows
    QTest::addColumn<bool>("updaterThere");
    QTest::addColumn<bool>("updaterStarts");
    QTest::addColumn<QList<platform::MessageAnswer>>("answers");
    QTest::addColumn<QString>("outcome");       // "updater", "page", "form1"

    using Answer = platform::MessageAnswer;
    using Answers = QList<Answer>;
    const Answers ok{Answer::Ok};
    QTest::newRow("newer, OK, updater there") << "13.04.21" << "13.04.21" << true << true << ok << "updater";
    QTest::newRow("older, OK, updater there") << "13.04.19" << "13.04.19" << true << true << ok << "updater";
    QTest::newRow("single digits") << "13.4.20 现已发布" << "13.4.20 " << true << true << ok << "updater";
    QTest::newRow("cancel") << "13.04.21" << "13.04.21" << true << true
                            << Answers{Answer::Cancel} << "form1";
    QTest::newRow("updater missing, yes") << "13.04.21" << "13.04.21" << false << true
                                          << Answers{Answer::Ok, Answer::Yes} << "page";
    QTest::newRow("updater missing, no") << "13.04.21" << "13.04.21" << false << true
                                         << Answers{Answer::Ok, Answer::No} << "form1";
    QTest::newRow("updater cannot start, no") << "13.04.21" << "13.04.21" << true << false
                                              << Answers{Answer::Ok, Answer::No} << "form1";
}

void TstVersionCheck::differentVersionAsksOnce()
{
    QFETCH(QString, page);
    QFETCH(QString, shown);
    QFETCH(bool, updaterThere);
    QFETCH(bool, updaterStarts);
    QFETCH(QList<platform::MessageAnswer>, answers);
    QFETCH(QString, outcome);

    Check check(pageWithVersion(page));
    const QString updater = check.dir.filePath(QStringLiteral("MSLUpdate.exe"));
    if (updaterThere) {
        QFile file(updater);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    check.shell.result = updaterStarts;
    check.dialogs.answers = answers;
    // While the question is open, the timer's ticks keep coming: none may
    // move the bar or ask again.
    int valueWhileAsking = -1;
    QString captionWhileAsking;
    check.dialogs.onMessage = [&](const fakes::Message &) {
        if (check.dialogs.messages.size() > 1)
            return;
        QVERIFY(!check.form->Timer1->isRunning());
        for (int i = 0; i < 5; ++i)
            check.form->advanceProgress();
        valueWhileAsking = check.value();
        captionWhileAsking = check.form->Label1()->text();
    };
    check.load();
    QCOMPARE(check.form->Text2()->text(), shown);
    check.tick(89);
    QVERIFY(check.dialogs.messages.isEmpty());
    check.tick(1);

    QVERIFY(check.dialogs.messages.size() >= 1);
    const fakes::Message question = check.dialogs.messages.first();
    QCOMPARE(question.text, QStringLiteral("发现新版本 Ver：") + shown + QStringLiteral(" 是否需要更新？"));
    QCOMPARE(question.title, QStringLiteral("更新提示："));
    QCOMPARE(question.buttons, platform::MessageButtons::OkCancel);
    QCOMPARE(question.icon, platform::MessageIcon::None);
    QCOMPARE(valueWhileAsking, 90);
    QCOMPARE(captionWhileAsking, kVersion);

    const bool secondQuestion = answers.size() == 2;
    QCOMPARE(check.dialogs.messages.size(), secondQuestion ? 2 : 1);
    if (secondQuestion) {
        QCOMPARE(check.dialogs.messages.at(1).text, kDamagedUpdater);
        QCOMPARE(check.dialogs.messages.at(1).title, QStringLiteral("提示:"));
        QCOMPARE(check.dialogs.messages.at(1).buttons, platform::MessageButtons::YesNo);
        QCOMPARE(check.dialogs.messages.at(1).icon, platform::MessageIcon::None);
    }

    QStringList started;
    if (outcome == QLatin1String("updater")
        || (updaterThere && answers.first() == platform::MessageAnswer::Ok))
        started << updater;
    QList<QUrl> opened;
    if (outcome == QLatin1String("page"))
        opened << QUrl(check.app.releasePageUrl);
    QCOMPARE(check.shell.started, started);
    QCOMPARE(check.shell.opened, opened);
    QCOMPARE(check.handOvers, 1);
    QCOMPARE(check.form1At, outcome == QLatin1String("form1") ? 90 : -1);
    QCOMPARE(check.endAt, outcome == QLatin1String("form1") ? -1 : 90);
    QVERIFY(check.form->isUnloaded());

    check.tick(20);
    QCOMPARE(check.value(), 90);
    QCOMPARE(check.handOvers, 1);
    QCOMPARE(check.dialogs.messages.size(), secondQuestion ? 2 : 1);
}

void TstVersionCheck::failedLoadHandsOverSilently_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("textFilesWritten");

    ReleasePage noVer;
    noVer.version.clear();
    QString html = noVer.build();
    html.replace(QStringLiteral("Ver"), QStringLiteral("版本"));
    QTest::newRow("no Ver on the page") << publish(QStringLiteral("nover.html"), html) << QString() << true;
    QTest::newRow("empty page") << publish(QStringLiteral("empty.html"), QString()) << QString() << true;
    QTest::newRow("not found") << m_server.url(QStringLiteral("/status/404")).toString() << QString() << true;
    QTest::newRow("cut short") << m_server.url(QStringLiteral("/short/nover.html")).toString() << QString() << true;
    QTest::newRow("time-out") << m_server.url(QStringLiteral("/delay/8000/page-1.html")).toString() << QString()
                              << true;
    QTest::newRow("refused") << QStringLiteral("refused") << QString() << true;
    QTest::newRow("skin library damaged") << pageWithVersion(QStringLiteral("13.04.21")) << "skin" << false;
    QTest::newRow("text file cannot be written") << pageWithVersion(QStringLiteral("13.04.21")) << "text" << false;
}

void TstVersionCheck::failedLoadHandsOverSilently()
{
    QFETCH(QString, page);
    QFETCH(QString, failure);
    QFETCH(bool, textFilesWritten);
    if (page == QLatin1String("refused")) {
        // A port that was free a moment ago: nobody listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        page = QStringLiteral("http://127.0.0.1:%1/page.html").arg(probe.serverPort());
    }
    Check check(page);
    check.services.requestTimeout = 2;
    if (failure == QLatin1String("skin"))
        check.skin.failLoad = true;
    if (failure == QLatin1String("text"))
        QVERIFY(QDir(check.dir.path()).mkdir(mosalune::partialName(QStringLiteral("ReadMe.txt"))));

    check.load();
    QCOMPARE(check.form1At, 0);
    QCOMPARE(check.handOvers, 1);
    QVERIFY(check.form->isUnloaded());
    QVERIFY(!check.form->isVisible());
    QVERIFY(!check.form->Timer1->isRunning());
    QVERIFY(check.dialogs.messages.isEmpty());
    QVERIFY(check.shell.nothingDone());
    QCOMPARE(QFileInfo::exists(check.dir.filePath(QStringLiteral("WhatsNew.txt"))), textFilesWritten);
    if (failure == QLatin1String("skin"))
        QVERIFY(check.skin.attachCalls.isEmpty());
    // No partial text file under a real name.
    QVERIFY(!QFileInfo::exists(check.dir.filePath(QStringLiteral("ReadMe.txt"))) || textFilesWritten);

    check.tick(100);
    QCOMPARE(check.value(), 0);
    QCOMPARE(check.handOvers, 1);
}

void TstVersionCheck::textFilesWrittenOnlyWhenMissing()
{
    const QString url = pageWithVersion(QStringLiteral("13.04.20"));
    Check check(url);
    const QByteArray edited = "我改过的许可协议";
    {
        QFile license(check.dir.filePath(QStringLiteral("License.txt")));
        QVERIFY(license.open(QIODevice::WriteOnly));
        license.write(edited);
    }
    check.load();
    QCOMPARE(check.resources.requested, QList<int>({104, 105, 106}));
    QCOMPARE(files::readAll(check.dir.filePath(QStringLiteral("License.txt"))), edited);
    QCOMPARE(files::readAll(check.dir.filePath(QStringLiteral("ReadMe.txt"))), check.resources.resources.value(104));
    QCOMPARE(files::readAll(check.dir.filePath(QStringLiteral("WhatsNew.txt"))), check.resources.resources.value(105));
    QCOMPARE(files::readAll(check.dir.filePath(QStringLiteral("广告合作及其协议.txt"))),
             check.resources.resources.value(106));
    QCOMPARE(QDir(check.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);

    // A deleted file comes back on the next start; the others stay.
    QVERIFY(QFile::remove(check.dir.filePath(QStringLiteral("WhatsNew.txt"))));
    Check again(url);
    again.app.folder = check.dir.path();
    again.load();
    QCOMPARE(again.resources.requested, QList<int>({105}));
    QCOMPARE(files::readAll(check.dir.filePath(QStringLiteral("WhatsNew.txt"))), again.resources.resources.value(105));
}

void TstVersionCheck::design()
{
    Check check(pageWithVersion(QStringLiteral("13.04.20")));
    check.load();
    mosalune::VersionCheckWindow &form = *check.form;
    QCOMPARE(form.windowTitle(), QStringLiteral("自动更新"));
    QVERIFY(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(form.size(), QSize(312, 46));
    QCOMPARE(form.ProgressBar1()->geometry(), QRect(0, 0, 313, 17));
    QCOMPARE(form.ProgressBar1()->minimum(), 0);
    QCOMPARE(form.ProgressBar1()->maximum(), 100);
    QCOMPARE(form.Label1()->geometry(), QRect(93, 23, 121, 16));
    QCOMPARE(form.Label1()->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(form.Label1()->font().pointSizeF(), 10.5);
    QCOMPARE(form.Label1()->palette().color(QPalette::WindowText), QColor(0x00, 0xC0, 0x00));
    QVERIFY(!form.Text1()->isVisible());
    QVERIFY(!form.Text2()->isVisible());
    QCOMPARE(form.Inet1->requestTimeout(), 5);
    // Only the bar and the status line show; the hidden boxes take no part.
    const QRegion shape = form.mask();
    QCOMPARE(shape.intersected(QRect(0, 0, 313, 17)), QRegion(0, 0, 313, 17));
    QVERIFY(!shape.subtracted(QRegion(0, 0, 313, 17)).isEmpty());
    QVERIFY(shape.subtracted(QRegion(0, 0, 313, 17) + QRegion(93, 23, 121, 16)).isEmpty());
}

QTEST_MAIN(TstVersionCheck)
#include "tst_versioncheck.moc"

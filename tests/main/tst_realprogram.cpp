// The real Mosalune.exe on a real X server: its main window appears with the
// program's title, offline and against a release page from the fixture
// server; a page that cannot be cut brings up the question instead. A
// metafile that keeps its player busy is played by a child of the program
// while the window goes on painting. The keyboard alone cuts under openbox.

#include "support/pagebuilder.h"
#include "fixtureserver.h"
#include "support/files.h"
#include "support/metafilebuilder.h"
#include "support/processes.h"
#include "support/xgrab.h"
#include "support/xserver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString program = QStringLiteral(MOSALUNE_TEST_PROGRAM);
const QString mainTitle = QStringLiteral(" Mosalune   Ver13.04.20");

} // namespace

class TstRealProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(m_x.start(), "Xvfb did not start");
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    }
    void mainWindowAppears_data();
    void mainWindowAppears();
    void slowMetafilePlaysBesideAPaintingWindow();
    void stalledPageOpensTheMainWindowInTime_data();
    void stalledPageOpensTheMainWindowInTime();
    void keyboardOnlyUnderAWindowManager();

private:
    // Starts the real program on `x`; `page` is where its version check looks.
    bool start(QProcess &mosalune, const XServer &x, const QString &network, const QString &page = {},
               const QStringList &arguments = {})
    {
        QProcessEnvironment env = x.environment();
        env.insert(QStringLiteral("MOSALUNE_TEST_NETWORK"), network);
        if (!page.isEmpty())
            env.insert(QStringLiteral("MOSALUNE_TEST_RELEASE_PAGE"), m_server.address(page));
        mosalune.setProcessEnvironment(env);
        mosalune.setWorkingDirectory(QFileInfo(program).absolutePath());
        mosalune.start(program, arguments);
        return mosalune.waitForStarted(10000);
    }

    XServer m_x;
    FixtureServer m_server;
};

void TstRealProgram::mainWindowAppears_data()
{
    QTest::addColumn<QString>("network");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    // The page announces the running version, so that the version check
    // lets the main window open.
    const QString good = pagebuilder::ReleasePage{.version = QStringLiteral("13.04.20")}.build();
    QTest::newRow("offline") << "offline" << good << mainTitle + "|400x322";
    QTest::newRow("push on") << "online" << good << mainTitle + "|400x322";
    QString broken = good;
    broken.replace(QStringLiteral("最新完整版"), QStringLiteral("完整版"));
    QTest::newRow("page that cannot be cut") << "online" << broken << QStringLiteral("提示:|");
}

void TstRealProgram::mainWindowAppears()
{
    QFETCH(QString, network);
    QFETCH(QString, page);
    QFETCH(QString, expected);
    m_server.writeFile(QStringLiteral("release.html"), page.toUtf8());

    QProcess mosalune;
    QVERIFY(start(mosalune, m_x, network, QStringLiteral("/release.html")));

    QTRY_VERIFY_WITH_TIMEOUT(m_x.hasWindow(expected), 20000);
    // The question stands alone: no main window behind it.
    QVERIFY2(expected.startsWith(mainTitle) || !m_x.hasWindow(mainTitle), "a main window behind the question");
    QCOMPARE(mosalune.state(), QProcess::Running);
    mosalune.kill();
    mosalune.waitForFinished(5000);
}

namespace {

// Pixels of the window that are not the server's white background.
int paintedPixels(const QImage &window)
{
    int painted = 0;
    for (int y = 0; y < window.height(); ++y)
        for (int x = 0; x < window.width(); ++x)
            if (qGray(window.pixel(x, y)) < 200)
                ++painted;
    return painted;
}

} // namespace

void TstRealProgram::slowMetafilePlaysBesideAPaintingWindow()
{
    // The window shows on a white desktop of its own: whatever it does not
    // paint stays white.
    XServer x;
    QVERIFY2(x.start({QStringLiteral("-wr")}), "Xvfb did not start");
    QTemporaryDir dir;
    const QString slow = dir.filePath(QStringLiteral("slow.wmf"));
    files::writeFile(slow, metafiles::slowPie());
    const QString good = dir.filePath(QStringLiteral("picture.wmf"));
    QVERIFY(QFile::copy(QStringLiteral(MOSALUNE_TEST_DATA "/picture.wmf"), good));

    QProcess mosalune;
    QVERIFY(start(mosalune, x, QStringLiteral("offline")));
    std::optional<TopLevel> window;
    QTRY_VERIFY_WITH_TIMEOUT((window = x.shownTopLevel(mainTitle, QSize(400, 322))).has_value(), 20000);
    const QRect frame(window->at, window->size);
    const QString windowId = x.windowId(mainTitle);
    QVERIFY(!windowId.isEmpty());

    // "选择图片", the file name typed into the dialog, Enter.
    auto open = [&](const QString &path) {
        x.click(window->at + QPoint(56, 97));
        QTRY_VERIFY_WITH_TIMEOUT(x.shown(QStringLiteral("打开")) == 1, 10000);
        x.run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), x.windowId("打开")});
        x.run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), path});
        x.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    };

    for (int round = 0; round < 2; ++round) {
        open(slow);
        // The player is a child of the program, not the program itself.
        auto playing = [&] {
            for (const QString &child : childrenOf(mosalune.processId()))
                if (child.contains(QStringLiteral("slow.wmf")))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(playing(), 5000);

        // Taken off the screen and put back while it plays: a window that
        // answers paints itself again; a stuck one would stay white.
        x.run(QStringLiteral("xdotool"), {QStringLiteral("windowunmap"), QStringLiteral("--sync"), windowId});
        QVERIFY(paintedPixels(grabScreen(x.display(), frame)) < 100);
        x.run(QStringLiteral("xdotool"), {QStringLiteral("windowmap"), QStringLiteral("--sync"), windowId});
        QTRY_VERIFY_WITH_TIMEOUT(paintedPixels(grabScreen(x.display(), frame)) > 5000, 2000);
        QVERIFY2(playing(), "the picture was no longer playing when the window was painted");
        if (round == 0)
            x.screenshot(QStringLiteral(MOSALUNE_SHOT_DIR "/slow-metafile-while-playing.png"));

        // Cut off after the time limit, with the window's one message.
        QTRY_VERIFY_WITH_TIMEOUT(x.shown(QStringLiteral("警告：")) == 1, 15000);
        QVERIFY(childrenOf(mosalune.processId()).isEmpty());
        QVERIFY(x.pressKey(QStringLiteral("警告："), QStringLiteral("Return")));
        QTRY_COMPARE_WITH_TIMEOUT(x.shown(QStringLiteral("警告：")), 0, 5000);

        // The next picture plays through the same way and shows.
        open(good);
        auto showsRed = [&] {
            // The picture's top left quadrant, in the display box.
            const QPoint at = window->at + QPoint(100, 121 + 50);
            const QImage pixel = grabScreen(x.display(), QRect(at, QSize(1, 1)));
            return !pixel.isNull() && qRed(pixel.pixel(0, 0)) > 200 && qGreen(pixel.pixel(0, 0)) < 60;
        };
        QTRY_VERIFY_WITH_TIMEOUT(showsRed(), 5000);
        QCOMPARE(x.shown(QStringLiteral("警告：")), 0);
    }
    QCOMPARE(mosalune.state(), QProcess::Running);
    mosalune.kill();
    mosalune.waitForFinished(5000);
}

void TstRealProgram::stalledPageOpensTheMainWindowInTime_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("stalls before its headers") << "/delay/100000/release.html";
    QTest::newRow("stalls after its headers") << "/trickle/100000/1/release.html";
}

// Whatever the server does, the main window opens within the shipped 30 s, and
// the version check's bar stands drawn while it waits for the page.
void TstRealProgram::stalledPageOpensTheMainWindowInTime()
{
    QFETCH(QString, path);
    XServer x;
    QVERIFY2(x.start({QStringLiteral("-wr")}), "Xvfb did not start");
    m_server.writeFile(QStringLiteral("release.html"),
                       pagebuilder::ReleasePage{.version = QStringLiteral("13.04.20")}.build().toUtf8());
    QProcess mosalune;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(start(mosalune, x, QStringLiteral("online"), path));

    std::optional<TopLevel> check;
    // The splash before it has the same title and stands a few pixels off.
    QTRY_VERIFY_WITH_TIMEOUT((check = x.shownTopLevel(QStringLiteral("自动更新"), QSize(312, 46))).has_value(), 10000);
    QTest::qWait(1500); // well inside the fetch
    const QImage window = grabScreen(x.display(), QRect(check->at, QSize(312, 46)));
    window.save(QStringLiteral(MOSALUNE_SHOT_DIR "/version-check-waiting.png"));
    const int drawn = paintedPixels(window.copy(0, 0, 312, 17));
    QVERIFY2(drawn > 500, qPrintable(QStringLiteral("%1 drawn pixels of the bar").arg(drawn)));
    // Taken off the screen and put back during the fetch, it draws itself
    // again: the waiting thread paints.
    const auto bar = [&] { return paintedPixels(grabScreen(x.display(), QRect(check->at, QSize(312, 17)))); };
    const QString id = x.windowId(QStringLiteral("自动更新"));
    x.run(QStringLiteral("xdotool"), {QStringLiteral("windowunmap"), QStringLiteral("--sync"), id});
    QCOMPARE(bar(), 0);
    x.run(QStringLiteral("xdotool"), {QStringLiteral("windowmap"), QStringLiteral("--sync"), id});
    QTRY_VERIFY_WITH_TIMEOUT(bar() > 500, 2000);
    QVERIFY2(!x.topLevel(mainTitle, QSize(400, 322)).has_value() && x.topLevel(QStringLiteral("自动更新")),
             "the page fetch was over before the window was looked at");

    QTRY_VERIFY_WITH_TIMEOUT(x.topLevel(mainTitle, QSize(400, 322)).has_value(), 30000);
    QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
    mosalune.kill();
    mosalune.waitForFinished(5000);
}

// Under openbox, with a picture named on the command line: the update question
// stands in the middle of the screen; Tab and Enter (the keypad's too) choose
// a picture beside the first one and cut it; the picture box shows its focus.
void TstRealProgram::keyboardOnlyUnderAWindowManager()
{
    XServer x;
    QVERIFY2(x.start(), "Xvfb did not start");
    QVERIFY2(x.startWindowManager(), "openbox did not start");
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("第一张.png"));
    QVERIFY(QFile::copy(QStringLiteral(MOSALUNE_TEST_DATA "/picture.png"), first));
    QVERIFY(QFile::copy(QStringLiteral(MOSALUNE_TEST_DATA "/picture.jpg"), dir.filePath("other.jpg")));
    m_server.writeFile(QStringLiteral("newer.html"),
                       pagebuilder::ReleasePage{.version = QStringLiteral("13.04.21")}.build().toUtf8());
    QProcess mosalune;
    QVERIFY(start(mosalune, x, QStringLiteral("online"), QStringLiteral("/newer.html"), {first}));
    const auto centred = [](const TopLevel &box, const QRect &over) {
        const QPoint off = QRect(box.at, box.size).center() - over.center();
        return qAbs(off.x()) < 12 && qAbs(off.y()) < 30; // a title bar's height
    };

    std::optional<TopLevel> box;
    QTRY_VERIFY_WITH_TIMEOUT((box = x.shownTopLevel(QStringLiteral("更新提示："))).has_value(), 20000);
    x.screenshot(QStringLiteral(MOSALUNE_SHOT_DIR "/update-question-openbox.png"));
    QVERIFY2(centred(*box, QRect(0, 0, 1024, 768)), qPrintable(QStringLiteral("at %1,%2").arg(box->at.x()).arg(box->at.y())));
    QVERIFY(x.pressKey(QStringLiteral("更新提示："), QStringLiteral("Escape")));

    std::optional<TopLevel> window;
    QTRY_VERIFY_WITH_TIMEOUT((window = x.shownTopLevel(mainTitle, QSize(400, 322))).has_value(), 20000);
    // Black dots along the top of the box's inside: its focus mark.
    const auto markDots = [&] {
        const QImage row = grabScreen(x.display(), QRect(window->at + QPoint(3, 124), QSize(394, 1)));
        int dots = 0;
        for (int i = 0; i < row.width(); ++i)
            dots += QColor(row.pixel(i, 0)).value() < 60;
        return dots;
    };
    QTRY_VERIFY_WITH_TIMEOUT(markDots() > 100, 10000);
    x.screenshot(QStringLiteral(MOSALUNE_SHOT_DIR "/picture-box-focus.png"));
    QVERIFY(x.pressKey(mainTitle, QStringLiteral("Tab"))); // to 选择图片
    QTRY_COMPARE_WITH_TIMEOUT(markDots(), 0, 5000);

    // Enter opens the dialog in the first picture's folder: the bare name of
    // the picture beside it is enough.
    QVERIFY(x.pressKey(mainTitle, QStringLiteral("Return")));
    QTRY_VERIFY_WITH_TIMEOUT(x.shown(QStringLiteral("打开")) == 1, 10000);
    x.run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), x.windowId("打开")});
    x.screenshot(QStringLiteral(MOSALUNE_SHOT_DIR "/file-dialog.png"));
    x.run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), QStringLiteral("other.jpg")});
    x.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    QTRY_VERIFY_WITH_TIMEOUT(x.shown(QStringLiteral("打开")) == 0, 10000);

    // The next Tab and the keypad's Enter cut it beside the pictures.
    QVERIFY(x.pressKey(mainTitle, QStringLiteral("Tab")));
    QVERIFY(x.pressKey(mainTitle, QStringLiteral("KP_Enter")));
    QTRY_VERIFY_WITH_TIMEOUT((box = x.shownTopLevel(QStringLiteral("恭喜:"))).has_value(), 10000);
    x.screenshot(QStringLiteral(MOSALUNE_SHOT_DIR "/cut-done-openbox.png"));
    QVERIFY(centred(*box, QRect(window->at, window->size)));
    for (int tile = 1; tile <= 8; ++tile)
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("%1.jpg").arg(tile))).size() > 0);
    mosalune.kill();
    mosalune.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TstRealProgram)
#include "tst_realprogram.moc"

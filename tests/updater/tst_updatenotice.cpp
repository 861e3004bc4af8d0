// The notice window: its four states after the load, the change log as laid
// out from the page, the single instance, and the clicks a person makes.

#include "support/accessibletree.h"
#include "support/updaterharness.h"

#include "common/inet.h"
#include "common/programfiles.h"
#include "platform/windowhabits.h"

#include "widgets/clicklabel.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QtTest>

namespace {

const QString kInvite = QStringLiteral("单击确定来进行如下版本的更新:");
const QString kFailedText =
    QStringLiteral("\n\n对不起，在线升级失败，您可以进入官网手动下载最新版本");

// A page written by hand: version, then the change log section as given,
// then a file list and the push.
QString handPage(const QString &version, const QString &logSection)
{
    return QStringLiteral("<html><body><p>Ver") + version + QStringLiteral("</p>") + logSection +
           QStringLiteral(
               "更新文件及地址：</strong></p><p>1、Mosalune.exe(<a href=\"http://127.0.0.1:9/s\" "
               "target=\"_blank\">x</a>)</p><p><strong>消息推送：关</strong></p>"
               "<p>最新完整版</p></body></html>");
}

} // namespace

class TstUpdateNotice : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void shownStates_data();
    void shownStates();
    void secondInstanceEnds();
    void skinIsAttachedOrLeftOut_data();
    void skinIsAttachedOrLeftOut();
    void windowIsFoundWhileShown();
    void clicksOpenTheReleasePage_data();
    void clicksOpenTheReleasePage();
    void cancelAndCloseBoxEndTheUpdater_data();
    void cancelAndCloseBoxEndTheUpdater();
    void confirmHandsOverToTheDownloadWindow();

private:
    FixtureServer m_server;
    QTemporaryDir m_folder;
};

void TstUpdateNotice::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    platform::installWindowHabits(*qApp);
}

void TstUpdateNotice::shownStates_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("page"); // empty: none on the server
    QTest::addColumn<QString>("label1");
    QTest::addColumn<QString>("label2");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("link");

    pagebuilder::ReleasePage newer;
    const QString log = QStringLiteral("更新日志\n修复了GIF 图片无法载入的问题\n切图速度提高一倍");
    QTest::newRow("newer version")
        << true << newer.build() << kInvite << "Ver:13.04.21" << log << true << false;
    pagebuilder::ReleasePage same;
    same.version = QStringLiteral("13.04.20");
    QTest::newRow("same version") << true << same.build() << "您的软件已经是最新版:"
                                  << "Ver:13.04.20" << log << false << false;
    pagebuilder::ReleasePage older;
    older.version = QStringLiteral("13.04.19");
    QTest::newRow("older version")
        << true << older.build() << kInvite << "Ver:13.04.19" << log << true << false;
    QTest::newRow("offline") << false << newer.build() << "网络连接失败"
                             << "无法获取版本号"
                             << "\n\n无法获取更新内容" << false << false;
    QTest::newRow("page missing") << true << QString() << "在线升级失败"
                                  << "无法获取版本号" << kFailedText << false << true;
    QString noLog = newer.build();
    noLog.replace(QStringLiteral("更新日志"), QStringLiteral("日志"));
    QTest::newRow("no change log heading") << true << noLog << "在线升级失败"
                                           << "无法获取版本号" << kFailedText << false << true;
    QString noVer = newer.build();
    noVer.replace(QStringLiteral("Ver"), QStringLiteral("V."));
    QTest::newRow("no version") << true << noVer << "在线升级失败"
                                << "无法获取版本号" << kFailedText << false << true;

    // The change-log layouts.
    QTest::newRow("log: heading, A, B, final paragraph")
        << true
        << handPage("13.04.21",
                    "<p><strong>更新日志</strong></p><p>Alpha</p><p>Beta</p><p><strong>")
        << kInvite << "Ver:13.04.21"
        << "更新日志\nAlpha\nBeta" << true << false;
    QTest::newRow("log: without the final paragraph")
        << true
        << handPage("13.04.21", "<p><strong>更新日志</strong></p><p>Alpha</p><p>Beta<strong>")
        << kInvite << "Ver:13.04.21"
        << "更新日志\nAlpha\nBe" << true << false;
    QTest::newRow("log: coloured and spaced")
        << true
        << handPage(
               "13.04.21",
               "<p><strong>更新日志</strong></p><p><span style=\"color: #ff0000;\">"
               "红&nbsp;字</span></p><p><span style=\"color: #000000;\">黑字</span></p><p><strong>")
        << kInvite << "Ver:13.04.21"
        << "更新日志\n红字\n黑字" << true << false;
    QTest::newRow("log: no paragraph at all")
        << true << handPage("13.04.21", "<strong>更新日志</strong>") << "在线升级失败"
        << "无法获取版本号" << kFailedText << false << true;
    QTest::newRow("log: one short line only")
        << true << handPage("13.04.21", "<p>更新日志</p><p>A") << "在线升级失败"
        << "无法获取版本号" << kFailedText << false << true;
    QTest::newRow("short version text")
        << true << handPage("13.4", "<p>更新日志</p><p>Alpha</p><p>") << kInvite << "Ver:13.4</p>"
        << "更新日志\nAlpha" << true << false;
    QTest::newRow("version in tags, shown as written") << true << handPage("1<u>2</u>345", "<p>更新日志</p><p>A</p><p>")
                                                       << kInvite << "Ver:1<u>2</u" << "更新日志\nA" << true << false;
}

void TstUpdateNotice::shownStates()
{
    QFETCH(bool, online);
    QFETCH(QString, page);
    QFETCH(QString, label1);
    QFETCH(QString, label2);
    QFETCH(QString, text1);
    QFETCH(bool, confirm);
    QFETCH(bool, link);
    QFile::remove(m_server.root() + "/notice.html");
    if (!page.isEmpty())
        m_server.writeFile("notice.html", page.toUtf8());

    UpdaterHarness h(m_server.address("/notice.html"), m_folder.path());
    h.network.result = online;
    QVERIFY(h.openNotice());
    mslupdate::UpdateNoticeWindow &form = *h.form;
    QVERIFY(form.isVisible());
    QCOMPARE(form.windowTitle(), QStringLiteral("Mosalune 更新程序"));
    QCOMPARE(form.size(), QSize(257, 337));
    QCOMPARE(form.Label1()->text(), label1);
    QCOMPARE(form.Label2()->text(), label2);
    for (const QLabel *label : {form.Label2(), form.Label1()}) // never markup: as wide as the text
        QVERIFY(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text())
                && label->textFormat() == Qt::PlainText);
    QCOMPARE(form.Text1()->toPlainText(), text1);
    QCOMPARE(form.Command1()->isEnabled(), confirm);
    QCOMPARE(form.Label3()->isVisible(), link);
    QVERIFY(h.dialogs.messages.isEmpty());
    QCOMPARE(h.ends, 0);
}

void TstUpdateNotice::secondInstanceEnds()
{
    UpdaterHarness h(m_server.address("/notice.html"), m_folder.path());
    h.instance.previous = true;
    QVERIFY(!h.openNotice());
    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages.at(0).text, QStringLiteral("更新程序已经在运行"));
    QCOMPARE(h.dialogs.messages.at(0).title, QStringLiteral("提示："));
    QCOMPARE(h.dialogs.messages.at(0).buttons, platform::MessageButtons::Ok);
    QCOMPARE(h.dialogs.messages.at(0).icon, platform::MessageIcon::None);
    QVERIFY(!h.form->isVisible());
    // Neither the network nor the page was asked.
    QCOMPARE(h.network.calls, 0);
}

void TstUpdateNotice::skinIsAttachedOrLeftOut_data()
{
    QTest::addColumn<bool>("libraryBroken");
    QTest::addColumn<int>("attachResult");
    QTest::newRow("attached") << false << 0;
    QTest::newRow("theme refused") << false << 3;
    QTest::newRow("library missing or damaged") << true << 0;
}

// However the skin fares, the window reads the page as always.
void TstUpdateNotice::skinIsAttachedOrLeftOut()
{
    QFETCH(bool, libraryBroken);
    QFETCH(int, attachResult);
    m_server.writeFile("notice.html", pagebuilder::ReleasePage().build().toUtf8());
    UpdaterHarness h(m_server.address("/notice.html"), m_folder.path());
    h.skin.failLoad = libraryBroken;
    h.skin.attachResult = attachResult;
    QVERIFY(h.openNotice());
    QCOMPARE(h.skin.loadedPaths, QStringList({m_folder.filePath("BrontelSkin.dll")}));
    if (libraryBroken) {
        QVERIFY(h.skin.attachCalls.isEmpty());
        QVERIFY(h.skin.aeroCalls.isEmpty());
    } else {
        QCOMPARE(h.skin.attachCalls.size(), 1);
        QCOMPARE(h.skin.attachCalls.at(0).first, m_folder.filePath("Brontel.Skin"));
        QCOMPARE(h.skin.attachCalls.at(0).second, QString());
        QCOMPARE(h.skin.aeroCalls, QList<std::int32_t>({std::int32_t(h.form->winId())}));
    }
    QCOMPARE(h.form->Label1()->text(), kInvite);
    QCOMPARE(h.form->Label2()->text(), QStringLiteral("Ver:13.04.21"));
    QVERIFY(h.form->Command1()->isEnabled());
    QVERIFY(!h.form->Label3()->isVisible());
    QVERIFY(h.dialogs.messages.isEmpty());
}

void TstUpdateNotice::windowIsFoundWhileShown()
{
    m_server.writeFile("notice.html", pagebuilder::ReleasePage().build().toUtf8());
    UpdaterHarness h(m_server.address("/notice.html"), m_folder.path());
    h.form = std::make_unique<mslupdate::UpdateNoticeWindow>(h.makeServices());
    QVERIFY(!h.windows.findWindow(common::formWindowClass, common::updaterWindowTitle));
    QVERIFY(h.form->load());
    QVERIFY(h.windows.findWindow(common::formWindowClass, common::updaterWindowTitle));
    h.form->Command2()->click();
    QVERIFY(!h.windows.findWindow(common::formWindowClass, common::updaterWindowTitle));
}

void TstUpdateNotice::clicksOpenTheReleasePage_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("opened"); // after three clicks
    QTest::addColumn<int>("key");    // pressed instead, after Tab has led there
    const QString good = pagebuilder::ReleasePage().build();
    QTest::newRow("Image1, left") << good << "Image1" << int(Qt::LeftButton) << 3 << 0;
    QTest::newRow("Image1, right") << good << "Image1" << int(Qt::RightButton) << 0 << 0;
    QTest::newRow("Label3, left") << QString() << "Label3" << int(Qt::LeftButton) << 3 << 0;
    QTest::newRow("Label3, right") << QString() << "Label3" << int(Qt::RightButton) << 0 << 0;
    QTest::newRow("Label3, Enter") << QString() << "Label3" << 0 << 3 << int(Qt::Key_Return);
    QTest::newRow("Label3, keypad Enter") << QString() << "Label3" << 0 << 3 << int(Qt::Key_Enter);
    QTest::newRow("Label3, Space") << QString() << "Label3" << 0 << 3 << int(Qt::Key_Space);
}

void TstUpdateNotice::clicksOpenTheReleasePage()
{
    QFETCH(QString, page);
    QFETCH(QString, control);
    QFETCH(int, button);
    QFETCH(int, opened);
    QFETCH(int, key);
    QFile::remove(m_server.root() + "/notice.html");
    if (!page.isEmpty())
        m_server.writeFile("notice.html", page.toUtf8());
    UpdaterHarness h(m_server.address("/notice.html"), m_folder.path());
    QVERIFY(h.openNotice());
    QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
    QWidget *target = control == "Image1" ? static_cast<QWidget *>(h.form->Image1())
                                          : static_cast<QWidget *>(h.form->Label3());
    QVERIFY(target->isVisible());
    if (key) { // 取消, the log, then the link
        h.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
        h.form->Command2()->setFocus(Qt::TabFocusReason);
        for (int tab = 0; tab < 2; ++tab)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), target);
    }
    for (int i = 0; i < 3; ++i)
        key ? QTest::keyClick(target, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier)
            : QTest::mouseClick(target, Qt::MouseButton(button), {}, QPoint(5, 5));
    const QList<QUrl> expected(opened, QUrl(m_server.address("/notice.html")));
    QCOMPARE(h.shell.opened, expected);
    QVERIFY(h.shell.started.isEmpty());
    // The window stays open.
    QVERIFY(h.form->isVisible());
    QCOMPARE(h.ends, 0);
}

void TstUpdateNotice::cancelAndCloseBoxEndTheUpdater_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("page");
    QTest::newRow("取消") << "click" << "/notice.html";
    QTest::newRow("close box") << "close box" << "/notice.html";
    QTest::newRow("Enter on 取消") << "Enter" << "/notice.html";
    QTest::newRow("Esc") << "Esc" << "/notice.html";
    // The close comes while a page that takes 30 s is fetched: the fetch is
    // abandoned at once.
    QTest::newRow("close while the page is fetched") << "early close" << "/delay/30000/notice.html";
}

void TstUpdateNotice::cancelAndCloseBoxEndTheUpdater()
{
    QFETCH(QString, how);
    QFETCH(QString, page);
    m_server.writeFile("notice.html", pagebuilder::ReleasePage().build().toUtf8());
    UpdaterHarness h(m_server.address(page), m_folder.path());
    h.form = std::make_unique<mslupdate::UpdateNoticeWindow>(h.makeServices());
    if (how == u"early close")
        QMetaObject::invokeMethod(h.form.get(), [&h] { h.form->close(); }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(h.form->load());
    QVERIFY(clock.elapsed() < 10000);
    if (how == u"early close") {
        // Ended before the page came.
    } else if (how == u"close box") {
        QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
        // A screen reader finds every control by its name, and no ornaments.
        QCOMPARE(accessibleControls(h.form.get()),
                 QStringList({"Image1:横幅", "Label1:" + kInvite, "Label2:" + h.form->Label2()->text(),
                              "Text1:更新日志", "Command1:确定", "Command2:取消"}));
        h.form->close();
    } else if (how == u"Esc") {
        QTest::keyClick(h.form.get(), Qt::Key_Escape);
    } else if (how == u"click") {
        QTest::mouseClick(h.form->Command2(), Qt::LeftButton);
    } else {
        h.form->Command2()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(h.form->Command2(), Qt::Key_Return);
    }
    QVERIFY(!h.form->isVisible());
    QCOMPARE(h.ends, 1);
    QVERIFY(h.form->ud() == nullptr);
}

void TstUpdateNotice::confirmHandsOverToTheDownloadWindow()
{
    QTemporaryDir folder;
    m_server.writeFile("files/notes.txt", "new notes");
    m_server.writeFile("confirm.html",
                       releasePageFor(m_server, {{"ReadMe.txt", "/files/notes.txt"}}).toUtf8());
    UpdaterHarness h(m_server.address("/confirm.html"), folder.path());
    QVERIFY(h.openNotice());
    QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
    // A click on the disabled button would do nothing; this one is enabled.
    QVERIFY(h.form->Command1()->isEnabled());
    QTest::mouseClick(h.form->Command1(), Qt::LeftButton);
    QVERIFY(!h.form->isVisible());
    QVERIFY(!h.windows.findWindow(common::formWindowClass, common::updaterWindowTitle));
    mslupdate::DownloadWindow *ud = h.form->ud();
    QVERIFY(ud);
    QVERIFY(ud->isVisible());
    QCOMPARE(ud->size(), QSize(313, 75));
    QVERIFY(ud->windowFlags().testFlag(Qt::FramelessWindowHint));
    QTRY_COMPARE_WITH_TIMEOUT(ud->Label1()->text(),
                              QStringLiteral("更新完成，5秒钟后自动关闭本窗口"), 10000);
    QCOMPARE(h.ends, 0);
}

QTEST_MAIN(TstUpdateNotice)
#include "tst_updatenotice.moc"

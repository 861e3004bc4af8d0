// The main window's set-up: the message push read from the release page over
// HTTP, the question when the page cannot be cut, the timers and the banner.

#include "support/formharness.h"

#include "support/pagebuilder.h"
#include "fixtureserver.h"

#include "main/mainwindow/pushnoticedialog.h"
#include "widgets/clicklabel.h"
#include "widgets/picturebox.h"
#include "platform/timer.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QtTest>

using pagebuilder::ReleasePage;

namespace {

const QString kDamaged = QStringLiteral("您的软件已经损坏，是否去官网下载最新版本");

QList<mosalune::PushNoticeDialog *> openDialogs()
{
    QList<mosalune::PushNoticeDialog *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<mosalune::PushNoticeDialog *>(w); d && d->isVisible())
            found << d;
    return found;
}

} // namespace

class TstMainWindowLoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }
    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<mosalune::PushNoticeDialog *>(w))
                delete w;
    }

    void offlineStart();
    void pushReading_data();
    void pushReading();
    void pageThatCannotBeCut_data();
    void pageThatCannotBeCut();
    void fetchFailureOpensTheWindow_data();
    void fetchFailureOpensTheWindow();
    void dialogOnTheThirdTick();
    void tickCountStopsAtItsLargestValue();
    void bannerAndContactLineOpenTheReleasePage();

private:
    QString publish(const QString &name, const QString &html)
    {
        m_server.writeFile(name, html.toUtf8());
        return m_server.url(QLatin1Char('/') + name).toString();
    }

    FixtureServer m_server;
};

void TstMainWindowLoad::offlineStart()
{
    FormHarness h(publish("offline.html", ReleasePage().build()));
    h.network.result = false;
    QVERIFY(h.open());
    QCOMPARE(h.network.calls, 1);
    QVERIFY(!h.form->Timer2->isRunning());
    QVERIFY(h.form->Timer1->isRunning());
    QCOMPARE(h.form->PushSwitch, QString());
    QCOMPARE(h.state.PushMessage, QString());
    QCOMPARE(h.form->windowTitle(), QStringLiteral(" Mosalune   Ver13.04.20"));
    QCOMPARE(h.form->Line3->X1(), 4455.0f);
    QVERIFY(h.dialogs.messages.isEmpty());
    // Ticks never open the dialog by themselves.
    for (int i = 0; i < 4; ++i)
        h.form->countPushMinutes();
    QVERIFY(openDialogs().isEmpty());
}

void TstMainWindowLoad::pushReading_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("pushSwitch");
    QTest::addColumn<bool>("timer2Runs");
    QTest::addColumn<QString>("pushMessage");

    ReleasePage on;
    QTest::newRow("push on") << on.build() << "开" << true
                             << "<p>欢迎使用Mosalune<p>新版已发布，请及时更新<p>";
    ReleasePage off = on;
    off.pushSwitch = QStringLiteral("关");
    QTest::newRow("push off, text still cut and cleaned")
        << off.build() << "关" << false << "<p>欢迎使用Mosalune<p>新版已发布，请及时更新<p>";
    ReleasePage spans = on;
    spans.push = QStringList{pagebuilder::red(QStringLiteral("红&nbsp;&nbsp;字")) + QStringLiteral("<em>斜</em>"),
                             pagebuilder::black(pagebuilder::strong(QStringLiteral("黑")))};
    QTest::newRow("colour spans and entities gone, other tags kept")
        << spans.build() << "开" << true << "<p>红字<em>斜</em><p>黑<p>";
}

void TstMainWindowLoad::pushReading()
{
    QFETCH(QString, page);
    QFETCH(QString, pushSwitch);
    QFETCH(bool, timer2Runs);
    QFETCH(QString, pushMessage);
    FormHarness h(publish("push.html", page));
    QVERIFY(h.open());
    QVERIFY(h.dialogs.messages.isEmpty());
    QCOMPARE(h.form->PushSwitch, pushSwitch);
    QCOMPARE(h.form->Timer2->isRunning(), timer2Runs);
    if (timer2Runs)
        QCOMPARE(h.form->Timer2->interval(), 60000);
    QCOMPARE(h.state.PushMessage, pushMessage);
    // The layout steps still ran after the reading.
    QCOMPARE(h.form->windowTitle(), QStringLiteral(" Mosalune   Ver13.04.20"));
    QCOMPARE(h.form->Picture1()->width(), 150);
}

void TstMainWindowLoad::pageThatCannotBeCut_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<platform::MessageAnswer>("answer");
    QTest::addColumn<bool>("opensPage");

    const QString withoutEnd = ReleasePage().build().replace(QStringLiteral("最新完整版"), QStringLiteral("完整版"));
    QTest::newRow("end marker missing, yes") << withoutEnd << platform::MessageAnswer::Yes << true;
    QTest::newRow("end marker missing, no") << withoutEnd << platform::MessageAnswer::No << false;
    const QString noPush = ReleasePage().build().replace(QStringLiteral("消息推送："), QStringLiteral("消息推送:"));
    QTest::newRow("push marker missing") << noPush << platform::MessageAnswer::Yes << true;
    const QString endFirst = QStringLiteral("<p>最新完整版</p>") + ReleasePage().build().replace(
                                 QStringLiteral("<p>最新完整版"), QStringLiteral("<p>完整版"));
    QTest::newRow("end before the push marker") << endFirst << platform::MessageAnswer::No << false;
    QTest::newRow("empty page") << QString() << platform::MessageAnswer::Yes << true;
}

void TstMainWindowLoad::pageThatCannotBeCut()
{
    QFETCH(QString, page);
    QFETCH(platform::MessageAnswer, answer);
    QFETCH(bool, opensPage);
    const QString address = publish("broken.html", page);
    FormHarness h(address);
    h.dialogs.answers << answer;
    // The load says the program has to end; the window is never shown.
    QVERIFY(!h.open());
    QVERIFY(!h.form->isVisible());
    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages[0].text, kDamaged);
    QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("提示:"));
    QCOMPARE(h.dialogs.messages[0].buttons, platform::MessageButtons::YesNo);
    QCOMPARE(h.dialogs.messages[0].icon, platform::MessageIcon::None);
    QCOMPARE(h.shell.opened, opensPage ? QList<QUrl>{QUrl(address)} : QList<QUrl>());
    QVERIFY(h.shell.started.isEmpty());
    QVERIFY(!h.form->Timer1->isRunning());
}

void TstMainWindowLoad::fetchFailureOpensTheWindow_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("checkTimedOut");
    QTest::newRow("not found") << m_server.url("/status/404").toString() << 5 << false;
    QTest::newRow("server error") << m_server.url("/status/500").toString() << 5 << false;
    QTest::newRow("nobody listening") << QStringLiteral("http://127.0.0.1:9/release.html") << 5 << false;
    QTest::newRow("slower than the time-out") << m_server.url("/delay/4000/x").toString() << 1 << false;
    QTest::newRow("body cut short") << m_server.url("/drop/bytes/4000").toString() << 5 << false;
    // The version check's fetch timed out: no second wait, even for a page that would come.
    publish("late.html", ReleasePage().build());
    QTest::newRow("after the version check timed out") << m_server.url("/delay/2000/late.html").toString() << 5 << true;
}

void TstMainWindowLoad::fetchFailureOpensTheWindow()
{
    QFETCH(QString, address);
    QFETCH(int, timeout);
    QFETCH(bool, checkTimedOut);
    FormHarness h(address);
    h.state.PageTimedOut = checkTimedOut;
    QVERIFY(h.open(timeout));
    QVERIFY(h.form->isVisible());
    QVERIFY(h.dialogs.messages.isEmpty());
    QVERIFY(!h.form->Timer2->isRunning());
    QCOMPARE(h.state.PushMessage, QString());
}

void TstMainWindowLoad::dialogOnTheThirdTick()
{
    FormHarness h(publish("ticks.html", ReleasePage().build()));
    QVERIFY(h.open());
    h.form->countPushMinutes();
    h.form->countPushMinutes();
    QVERIFY(openDialogs().isEmpty());
    h.form->countPushMinutes();
    QCOMPARE(openDialogs().size(), 1);
    mosalune::PushNoticeDialog *dialog = openDialogs().first();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("消息推送："));
    // Modeless and a window of its own: the main window stays usable.
    QVERIFY(!dialog->isModal());
    QVERIFY(dialog->isWindow());
    QCOMPARE(dialog->findChild<QPlainTextEdit *>("Text1")->toPlainText(),
             QStringLiteral("欢迎使用Mosalune\n新版已发布，请及时更新"));
    h.form->countPushMinutes();
    h.form->countPushMinutes();
    QCOMPARE(openDialogs().size(), 1);
    QCOMPARE(h.form->PushTicks, qint16(5));
}

void TstMainWindowLoad::tickCountStopsAtItsLargestValue()
{
    FormHarness h(publish("ticks2.html", ReleasePage().build()));
    QVERIFY(h.open());
    h.form->PushTicks = 32766;
    h.form->countPushMinutes();
    h.form->countPushMinutes();
    QCOMPARE(h.form->PushTicks, qint16(32767));
    QVERIFY(openDialogs().isEmpty());
}

void TstMainWindowLoad::bannerAndContactLineOpenTheReleasePage()
{
    const QString address = publish("banner.html", ReleasePage().build());
    FormHarness h(address);
    h.network.result = false;
    QVERIFY(h.open());
    auto *image1 = h.form->findChild<widgets::ClickLabel *>("Image1");
    auto *label1 = h.form->findChild<widgets::ClickLabel *>("Label1");
    QVERIFY(image1 && label1);
    QCOMPARE(image1->geometry(), QRect(3, 3, 394, 72));
    QTest::mouseClick(image1, Qt::RightButton);
    QTest::mouseClick(label1, Qt::MiddleButton);
    QVERIFY(h.shell.nothingDone());
    QTest::mouseClick(image1, Qt::LeftButton);
    QTest::mouseClick(label1, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(h.shell.opened, QList<QUrl>({QUrl(address), QUrl(address)}));
    QVERIFY(h.shell.started.isEmpty());
}

QTEST_MAIN(TstMainWindowLoad)
#include "tst_mainwindowload.moc"

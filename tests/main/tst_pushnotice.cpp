// The pushed notice dialog: its text, and what its two buttons and its close
// box do to the main window's Timer2.

#include "support/formharness.h"

#include "main/mainwindow/pushnoticedialog.h"
#include "platform/timer.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {

struct DialogHarness : FormHarness {
    platform::Timer timer2{60000};

    DialogHarness() : FormHarness(QString())
    {
        makeServices();
        timer2.setEnabled(true);
    }

    QPointer<mosalune::PushNoticeDialog> show()
    {
        auto *dialog = new mosalune::PushNoticeDialog(*services, &timer2);
        dialog->load();
        dialog->show();
        return dialog;
    }
};

QString shownText(mosalune::PushNoticeDialog *dialog)
{
    return dialog->findChild<QPlainTextEdit *>("Text1")->toPlainText();
}

} // namespace

class TstPushNotice : public QObject
{
    Q_OBJECT
private slots:
    void design();
    void text_data();
    void text();
    void buttons();
    void silencedAfterTheMainWindowHasGone();
};

void TstPushNotice::design()
{
    DialogHarness h;
    QPointer<mosalune::PushNoticeDialog> dialog = h.show();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("消息推送："));
    QCOMPARE(dialog->size(), QSize(402, 213));
    auto *cancel = dialog->findChild<QPushButton *>("CancelButton");
    auto *ok = dialog->findChild<QPushButton *>("OKButton");
    QCOMPARE(cancel->text(), QStringLiteral("知道了，不再提醒"));
    QCOMPARE(ok->text(), QStringLiteral("确定"));
    QCOMPARE(ok->geometry(), QRect(289, 181, 81, 25));
    auto *text1 = dialog->findChild<QPlainTextEdit *>("Text1");
    QCOMPARE(text1->palette().color(QPalette::Text), QColor(255, 0, 0));
    QCOMPARE(text1->palette().color(QPalette::Base), dialog->palette().color(QPalette::Button));
    delete dialog;
}

void TstPushNotice::text_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("pushMessage");
    QTest::addColumn<QString>("shown");
    QTest::newRow("offline") << false << "<p>a<p>b" << "网络连接失败，暂时无法获取消息推送内容";
    QTest::newRow("empty") << true << "" << "";
    QTest::newRow("no paragraph mark, shown as it is")
        << true << "第一行\r\n第二行" << "第一行\n第二行";
    QTest::newRow("text before the first mark is dropped")
        << true << "前言<p>第一段<p>第二段<p>" << "第一段\n第二段";
    QTest::newRow("ends right after its only mark") << true << "前言<p>" << "";
}

void TstPushNotice::text()
{
    QFETCH(bool, online);
    QFETCH(QString, pushMessage);
    QFETCH(QString, shown);
    DialogHarness h;
    h.network.result = online;
    h.state.PushMessage = pushMessage;
    QPointer<mosalune::PushNoticeDialog> dialog = h.show();
    QCOMPARE(shownText(dialog), shown);
    delete dialog;
}

void TstPushNotice::buttons()
{
    {
        DialogHarness h;
        QPointer<mosalune::PushNoticeDialog> dialog = h.show();
        QTest::mouseClick(dialog->findChild<QPushButton *>("OKButton"), Qt::LeftButton);
        QTRY_VERIFY(!dialog);
        QVERIFY(h.timer2.isRunning());
    }
    {
        DialogHarness h;
        QPointer<mosalune::PushNoticeDialog> dialog = h.show();
        dialog->close(); // the close box
        QTRY_VERIFY(!dialog);
        QVERIFY(h.timer2.isRunning());
    }
    {
        DialogHarness h;
        QPointer<mosalune::PushNoticeDialog> dialog = h.show();
        QTest::mouseClick(dialog->findChild<QPushButton *>("CancelButton"), Qt::LeftButton);
        QTRY_VERIFY(!dialog);
        QVERIFY(!h.timer2.isRunning());
        QVERIFY(!h.timer2.isEnabled());
        QCOMPARE(h.timer2.interval(), 0);
    }
}

void TstPushNotice::silencedAfterTheMainWindowHasGone()
{
    DialogHarness h;
    auto *timer2 = new platform::Timer(60000);
    auto *dialog = new mosalune::PushNoticeDialog(*h.services, timer2);
    dialog->load();
    dialog->show();
    QPointer<mosalune::PushNoticeDialog> guard = dialog;
    delete timer2; // the main window and its timers are gone
    QTest::mouseClick(dialog->findChild<QPushButton *>("CancelButton"), Qt::LeftButton);
    QTRY_VERIFY(!guard);
}

QTEST_MAIN(TstPushNotice)
#include "tst_pushnotice.moc"

#include "platform/dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The real message boxes, answered with the keyboard as a person would: the
// default button takes Return, Escape takes the cancelling one. Their text
// comes from pages and file names, and shows exactly as given.
class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void keysAnswerTheBox_data();
    void keysAnswerTheBox();
};

void TestDialogs::keysAnswerTheBox_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("text");
    const QStringList okCancel{QStringLiteral("确定"), QStringLiteral("取消")};
    const QStringList yesNo{QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")};
    QTest::newRow("OK/Cancel, Return") << int(platform::MbOkCancel) << int(Qt::Key_Return) << okCancel
                                       << int(platform::IdOk) << QStringLiteral("发现新版本");
    QTest::newRow("OK/Cancel, Escape") << int(platform::MbOkCancel) << int(Qt::Key_Escape) << okCancel
                                       << int(platform::IdCancel)
                                       << QStringLiteral("发现新版本 Ver：1<u>2</u 是否需要更新？");
    QTest::newRow("Yes/No, Return") << int(platform::MbYesNo) << int(Qt::Key_Return) << yesNo
                                    << int(platform::IdYes)
                                    << QStringLiteral("发现新版本 Ver：<b>9</b> 是否需要更新？");
    QTest::newRow("OK only, Return") << int(platform::MbOkOnly + platform::MbCritical) << int(Qt::Key_Return)
                                     << QStringList{QStringLiteral("确定")} << int(platform::IdOk)
                                     << QStringLiteral("正在下载 a&amp;b.exe");
}

void TestDialogs::keysAnswerTheBox()
{
    QFETCH(int, style);
    QFETCH(int, key);
    QFETCH(QStringList, buttons);
    QFETCH(int, answer);
    QFETCH(QString, text);
    platform::QtDialogService dialogs;
    QStringList seen;
    QString title;
    QString shown;
    int format = -1;
    int shownWidth = 0;
    int literalWidth = 0;
    bool pressed = false;
    // Twice in a row: nothing of the first box carries over to the second.
    for (int round = 0; round < 2; ++round) {
        seen.clear();
        pressed = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            format = box->textFormat();
            if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
                shown = label->text();
                // Laid out as markup, the text would take the width of what
                // is left once the tags are obeyed.
                shownWidth = label->sizeHint().width();
                literalWidth = label->fontMetrics().horizontalAdvance(text);
            }
            for (QAbstractButton *button : box->buttons())
                seen << button->text();
            QTest::keyClick(box, Qt::Key(key));
            pressed = true;
        });
        QCOMPARE(dialogs.msgBox(nullptr, text, style, QStringLiteral("更新提示：")), answer);
        QVERIFY(pressed);
        seen.sort();
        QStringList expected = buttons;
        expected.sort();
        QCOMPARE(seen, expected);
        QCOMPARE(title, QStringLiteral("更新提示："));
        QVERIFY2(shownWidth >= literalWidth, qPrintable(QStringLiteral("%1 < %2").arg(shownWidth).arg(literalWidth)));
        QCOMPARE(format, int(Qt::PlainText));
        QCOMPARE(shown, text);
    }
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"

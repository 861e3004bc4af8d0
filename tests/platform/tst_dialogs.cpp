#include "platform/dialogs.h"
#include "platform/titlebar.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The real message boxes, answered with the keyboard as a person would: the
// default button takes Return, Escape takes the cancelling one. The text (a
// version from a page here) shows as written, never as markup.
class TstDialogs : public QObject
{
    Q_OBJECT

private slots:
    void keysAnswerTheBox_data();
    void keysAnswerTheBox();
    void fileDialogStartsInPicturesThenTheLastFolder();
    void ownTitleBar();
};

void TstDialogs::keysAnswerTheBox_data()
{
    using platform::MessageAnswer;
    using platform::MessageButtons;
    using platform::MessageIcon;
    QTest::addColumn<MessageButtons>("buttons");
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("shownIcon"); // QMessageBox::Icon
    QTest::addColumn<MessageAnswer>("answer");
    const QStringList okCancel{QStringLiteral("确定"), QStringLiteral("取消")};
    const QStringList yesNo{QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")};
    const QStringList ok{QStringLiteral("确定")};
    QTest::newRow("OK/Cancel, Return") << MessageButtons::OkCancel << MessageIcon::None << int(Qt::Key_Return)
                                       << okCancel << int(QMessageBox::NoIcon) << MessageAnswer::Ok;
    QTest::newRow("OK/Cancel, Escape") << MessageButtons::OkCancel << MessageIcon::None << int(Qt::Key_Escape)
                                       << okCancel << int(QMessageBox::NoIcon) << MessageAnswer::Cancel;
    QTest::newRow("Yes/No, Return") << MessageButtons::YesNo << MessageIcon::None << int(Qt::Key_Return) << yesNo
                                    << int(QMessageBox::NoIcon) << MessageAnswer::Yes;
    QTest::newRow("OK only, Return") << MessageButtons::Ok << MessageIcon::Critical << int(Qt::Key_Return) << ok
                                     << int(QMessageBox::Critical) << MessageAnswer::Ok;
    QTest::newRow("information") << MessageButtons::Ok << MessageIcon::Information << int(Qt::Key_Return) << ok
                                 << int(QMessageBox::Information) << MessageAnswer::Ok;
}

void TstDialogs::keysAnswerTheBox()
{
    QFETCH(platform::MessageButtons, buttons);
    QFETCH(platform::MessageIcon, icon);
    QFETCH(int, key);
    QFETCH(QStringList, labels);
    QFETCH(int, shownIcon);
    QFETCH(platform::MessageAnswer, answer);
    platform::QtDialogService dialogs;
    QStringList seen;
    QString title;
    int iconSeen = -1;
    const QString text = QStringLiteral("发现新版本 Ver：1<u>2</u 是否需要更新？");
    QString shown; // the box's text as laid out, and its format
    bool pressed = false;
    // Twice in a row: nothing of the first box carries over to the second.
    for (int round = 0; round < 2; ++round) {
        seen.clear();
        shown.clear();
        pressed = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            iconSeen = int(box->icon());
            // As markup the text would be only as wide as what the tags leave.
            if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                shown = label->text() + (label->textFormat() == Qt::PlainText ? "" : " (not plain)")
                        + (label->sizeHint().width() < label->fontMetrics().horizontalAdvance(text) ? " (narrow)" : "");
            for (QAbstractButton *button : box->buttons())
                seen << button->text();
            QTest::keyClick(box, Qt::Key(key));
            pressed = true;
        });
        QCOMPARE(dialogs.msgBox(nullptr, text, buttons, icon, QStringLiteral("更新提示：")), answer);
        QVERIFY(pressed);
        seen.sort();
        QStringList expected = labels;
        expected.sort();
        QCOMPARE(seen, expected);
        QCOMPARE(title, QStringLiteral("更新提示："));
        QCOMPARE(iconSeen, shownIcon);
        QCOMPARE(shown, text);
    }
}

void TstDialogs::fileDialogStartsInPicturesThenTheLastFolder()
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_CONFIG_HOME");
    const QString trip = home.filePath(QStringLiteral("Pictures/trip")), picked = trip + "/a.png";
    QVERIFY(QDir().mkpath(trip) && QFile(picked).open(QIODevice::WriteOnly) && QDir().mkpath(home.filePath("desk")));
    platform::QtDialogService dialogs;
    QStringList opened, filters;
    // Chosen, cancelled, opened again, and after a picture named on the command line.
    for (const QString &answer : {picked, QString(), QString(), QString()}) {
        if (opened.size() == 3)
            dialogs.rememberFile(home.filePath(QStringLiteral("desk/b.png")));
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            opened << dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            dialog->selectFile(answer);
            QTest::keyClick(dialog, answer.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
        });
        QCOMPARE(dialogs.openFileName(nullptr, {QStringLiteral("jpg"), QStringLiteral("wmf")}), answer);
    }
    QCOMPARE(opened, QStringList({home.filePath(QStringLiteral("Pictures")), trip, trip, home.filePath("desk")}));
    QCOMPARE(filters, QStringList({QStringLiteral("图片文件 (*.jpg *.wmf)"), QStringLiteral("所有文件 (*)")}));
}

// The bar Wayland windows draw for themselves: the controls move below it,
// and the close button (the only one without a minimise hint) closes.
void TstDialogs::ownTitleBar()
{
    QWidget window(nullptr, Qt::Dialog | Qt::WindowCloseButtonHint);
    window.setWindowTitle(QStringLiteral("Mosalune 更新程序"));
    auto *button = new QPushButton(QStringLiteral("取消"), &window);
    button->move(160, 298);
    window.resize(257, 337);
    platform::addOwnTitleBar(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(QRect(button->pos(), window.size()), QRect(160, 328, 257, 367));
    QTest::mouseClick(window.findChild<QWidget *>("mosalune_titlebar"), Qt::LeftButton, {}, QPoint(257 - 15, 15));
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TstDialogs)
#include "tst_dialogs.moc"

#include "platform/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QScreen>
#include <QLabel>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// The real message boxes, answered with the keyboard as a person would: the
// default button takes Return, Escape takes the cancelling one. The text (a
// version from a page here) shows as written, never as markup. A box stands
// in the middle of a framed parent, and of the screen when its parent is a
// borderless (see-through) form.
class TstDialogs : public QObject
{
    Q_OBJECT

private slots:
    void keysAnswerTheBox_data();
    void keysAnswerTheBox();
    void fileDialogStartsInPicturesThenTheLastFolder();
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
    QTest::addColumn<QString>("parent");
    const QStringList okCancel{QStringLiteral("确定"), QStringLiteral("取消")};
    const QStringList yesNo{QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")};
    const QStringList ok{QStringLiteral("确定")};
    QTest::newRow("OK/Cancel, Return") << MessageButtons::OkCancel << MessageIcon::None << int(Qt::Key_Return)
                                       << okCancel << int(QMessageBox::NoIcon) << MessageAnswer::Ok << "borderless";
    QTest::newRow("OK/Cancel, Escape") << MessageButtons::OkCancel << MessageIcon::None << int(Qt::Key_Escape)
                                       << okCancel << int(QMessageBox::NoIcon) << MessageAnswer::Cancel << "framed";
    QTest::newRow("Yes/No, Return") << MessageButtons::YesNo << MessageIcon::None << int(Qt::Key_Return) << yesNo
                                    << int(QMessageBox::NoIcon) << MessageAnswer::Yes << "none";
    QTest::newRow("OK only, Return") << MessageButtons::Ok << MessageIcon::Critical << int(Qt::Key_Return) << ok
                                     << int(QMessageBox::Critical) << MessageAnswer::Ok << "framed";
    QTest::newRow("information") << MessageButtons::Ok << MessageIcon::Information << int(Qt::Key_Return) << ok
                                 << int(QMessageBox::Information) << MessageAnswer::Ok << "hidden";
}

void TstDialogs::keysAnswerTheBox()
{
    QFETCH(platform::MessageButtons, buttons);
    QFETCH(platform::MessageIcon, icon);
    QFETCH(int, key);
    QFETCH(QStringList, labels);
    QFETCH(int, shownIcon);
    QFETCH(platform::MessageAnswer, answer);
    QFETCH(QString, parent);
    // Near the top-left corner, where Qt's own placement puts the box.
    QWidget owner(nullptr, parent == "borderless" ? Qt::FramelessWindowHint : Qt::Window);
    owner.setGeometry(40, 40, 500, 300);
    if (parent != "hidden")
        owner.show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint centre = parent == "framed" ? owner.frameGeometry().center() : screen.center();
    QPoint boxCentre;
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
            boxCentre = box->geometry().center();
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
        QCOMPARE(dialogs.msgBox(parent == "none" ? nullptr : &owner, text, buttons, icon,
                                QStringLiteral("更新提示："))
                     , answer);
        QVERIFY2((boxCentre - centre).manhattanLength() < 10, // the frame, on some platforms
                 qPrintable(QStringLiteral("box at %1,%2").arg(boxCentre.x()).arg(boxCentre.y())));
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

QTEST_MAIN(TstDialogs)
#include "tst_dialogs.moc"

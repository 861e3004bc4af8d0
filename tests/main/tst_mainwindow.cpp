// The main window's tile work, driven as a user drives it: the buttons, the
// file dialog, drops and the preview box, with the message boxes answered by
// a stand-in.

#include "support/accessibletree.h"
#include "support/files.h"
#include "support/formharness.h"
#include "support/metafilebuilder.h"
#include "support/picturechildmain.h"

#include "platform/dialogs.h"
#include "widgets/picturebox.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>
#include <QLabel>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using files::readAll;

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);
const QString kLoadFirst = QStringLiteral("请先载入图片");
const QString kDone = QStringLiteral("图片已经切割完毕,在原图片文件夹下以1-8命名");
const QString kBadPicture = QStringLiteral("图片格式错误");

// One main window with its stand-ins, offline.
// A message box's buttons and icon, as the expected lists below write them.
QString styleName(const fakes::Message &m)
{
    static const char *const buttons[] = {"ok", "ok/cancel", "yes/no"};
    static const char *const icons[] = {"", " critical", " information"};
    return QLatin1String(buttons[int(m.buttons)]) + QLatin1String(icons[int(m.icon)]);
}

struct Harness : FormHarness {
    explicit Harness(int major = 13, int minor = 4, int revision = 20)
        : FormHarness(QStringLiteral("http://127.0.0.1:9/release.html"))
    {
        network.result = false;
        app.major = major;
        app.minor = minor;
        app.revision = revision;
        open();
    }

    QPushButton *button(const char *name) { return form->findChild<QPushButton *>(name); }
    QCheckBox *check2() { return form->findChild<QCheckBox *>("Check2"); }
    void chooseFile(const QString &path)
    {
        dialogs.fileNames << path;
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
    }
    void generate() { QTest::mouseClick(button("Command2"), Qt::LeftButton); }
    void drop(QMimeData *mime)
    {
        // What a file manager's drag does: enter, then drop.
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->p1(), &enter);
        QDropEvent event(QPointF(20, 20), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form->p1(), &event);
    }
    bool guidesVisible(bool visible)
    {
        for (auto *line : {form->Line1, form->Line2, form->Line3, form->Line4})
            if (line->isVisible() != visible)
                return false;
        return true;
    }
    QStringList titles() const
    {
        QStringList t;
        for (const auto &m : dialogs.messages)
            t << m.text + QLatin1Char('|') + m.title + QLatin1Char('|') + styleName(m);
        return t;
    }
};

QString copyInto(const QTemporaryDir &dir, const QString &name, const QString &as = QString())
{
    const QString target = dir.filePath(as.isEmpty() ? name : as);
    QFile::copy(data + QLatin1Char('/') + name, target);
    return target;
}

} // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QDir::setCurrent(m_cwd.path()); }
    void windowLayout();
    void titleVersionIsZeroPadded();
    void nothingLoaded();
    void loadPreviewAndGenerate();
    void generatingTwiceReplacesTiles();
    void cancelRightAfterOpening();
    void cancelAfterALoad();
    void failedLoadWithGuidesShown();
    void previewClickSequences_data();
    void previewClickSequences();
    void programsOwnChangeRaisesTheClick();
    void realNoticeClosedByMouseOrKeyboard_data();
    void realNoticeClosedByMouseOrKeyboard();
    void busyWhileLoadingAndCutting_data();
    void busyWhileLoadingAndCutting();
    void drops();
    void windowPaintsWhileAPictureLoads_data();
    void windowPaintsWhileAPictureLoads();
    void tileThatCannotBeWritten();

private:
    QTemporaryDir m_cwd;
};

void TstMainWindow::windowLayout()
{
    Harness h;
    QCOMPARE(h.form->windowTitle(), QStringLiteral(" Mosalune   Ver13.04.20"));
    QCOMPARE(h.form->size(), QSize(400, 322));
    QVERIFY(!h.form->windowIcon().pixmap(32).isNull());
    QCOMPARE(h.form->minimumSize(), h.form->maximumSize());
    QVERIFY(!(h.form->windowFlags() & Qt::WindowMaximizeButtonHint));

    QVERIFY(h.guidesVisible(false));
    QCOMPARE(h.form->Line1->X1(), 1485.0f);
    QCOMPARE(h.form->Line2->X2(), 2970.0f);
    QCOMPARE(h.form->Line3->X1(), 4455.0f);
    QCOMPARE(h.form->Line4->Y1(), 1470.0f);
    QCOMPARE(h.form->Line4->X2(), 6000.0f);
    QCOMPARE(h.form->Line1->Y2(), 2940.0f);

    // The display box: 6000 x 3000 twips with an interior of 5940 x 2940; the
    // canvas sits hidden on its corner with an interior of 146 x 146 px.
    QCOMPARE(h.form->p1()->geometry(), QRect(0, 121, 400, 200));
    QCOMPARE(h.form->p1()->scaleWidth(), 5940);
    QCOMPARE(h.form->p1()->scaleHeight(), 2940);
    QCOMPARE(h.form->Picture1()->geometry(), QRect(0, 121, 150, 150));
    QCOMPARE(h.form->Picture1()->scaleWidth(), 2190);
    QVERIFY(!h.form->Picture1()->isVisible());
    QCOMPARE(h.form->p1()->toolTip(), QStringLiteral("您可以直接把图片拖到这里."));
    QCOMPARE(h.button("Command1")->text(), QStringLiteral("选择图片"));
    QCOMPARE(h.button("Command2")->text(), QStringLiteral("生成图片"));
    QCOMPARE(h.check2()->text(), QStringLiteral("效果预览"));
    // The banner is stretched to its frame.
    auto *image1 = h.form->findChild<QLabel *>("Image1");
    QCOMPARE(image1->pixmap().size(), QSize(177, 106));
    QVERIFY(image1->hasScaledContents());

    h.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.form.get()));
    QCOMPARE(QApplication::focusWidget(), h.form->p1()); // the first stop
    // Tab order: display box, choose, generate, preview, then the link.
    QWidget *w = h.form->p1();
    QStringList order;
    for (int i = 0; i < 6; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible())
            w = w->nextInFocusChain();
    }
    QCOMPARE(order, QStringList({"p1", "Command1", "Command2", "Check2", "Label1", "p1"}));
    QCOMPARE(accessibleControls(h.form.get()),
             QStringList({"Image1:横幅", "Command1:选择图片", "Check2:效果预览", "Command2:生成图片",
                          "p1:图片框", "Label1:合作联系：点此访问官网留言"}));
}

void TstMainWindow::titleVersionIsZeroPadded()
{
    Harness h(7, 0, 3);
    QCOMPARE(h.form->windowTitle(), QStringLiteral(" Mosalune   Ver07.00.03"));
}

void TstMainWindow::nothingLoaded()
{
    Harness h;
    h.generate();
    QCOMPARE(h.titles(), QStringList({kLoadFirst + "|通知:|ok information"}));
    QVERIFY(QDir(m_cwd.path()).entryList(QDir::Files).isEmpty());

    // Ticking the preview box asks for a picture once and unticks the box.
    h.dialogs.messages.clear();
    QTest::mouseClick(h.check2(), Qt::LeftButton);
    QCOMPARE(h.titles(), QStringList({kLoadFirst + "|通知:|ok information"}));
    QVERIFY(!h.check2()->isChecked());
    QVERIFY(h.guidesVisible(false));
}

void TstMainWindow::loadPreviewAndGenerate()
{
    QTemporaryDir dir;
    Harness h;
    h.chooseFile(copyInto(dir, "picture.png", "a b.png"));
    QVERIFY(h.dialogs.messages.isEmpty());
    QCOMPARE(h.form->PicFolder, dir.path() + QLatin1Char('/'));

    QTest::mouseClick(h.check2(), Qt::LeftButton);
    QVERIFY(h.guidesVisible(true));
    h.generate();
    QCOMPARE(h.titles(), QStringList({kDone + "|恭喜:|ok information"}));

    // Tiles 1-2 and 5-6 come from the left half, 3-4 and 7-8 from the right.
    const QColor expected[] = {Qt::red, Qt::red, Qt::blue, Qt::blue,
                               Qt::green, Qt::green, Qt::yellow, Qt::yellow};
    QList<QByteArray> withGuides;
    for (int tile = 1; tile <= 8; ++tile) {
        const QString path = dir.filePath(QString::number(tile) + ".jpg");
        QImage image;
        QVERIFY2(image.load(path, "BMP"), qPrintable(path));
        QCOMPARE(image.size(), QSize(146, 146));
        QCOMPARE(image.pixelColor(73, 73), expected[tile - 1]);
        withGuides << readAll(path);
    }

    // The guides are an overlay: hiding them changes nothing in the files.
    QTest::mouseClick(h.check2(), Qt::LeftButton);
    QVERIFY(h.guidesVisible(false));
    h.generate();
    for (int tile = 1; tile <= 8; ++tile)
        QCOMPARE(readAll(dir.filePath(QString::number(tile) + ".jpg")), withGuides[tile - 1]);
    // Nothing but the picture and its tiles in the folder.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 9);
}

void TstMainWindow::generatingTwiceReplacesTiles()
{
    QTemporaryDir dir;
    Harness h;
    h.chooseFile(copyInto(dir, "picture.bmp"));
    h.generate();
    const QByteArray first = readAll(dir.filePath("4.jpg"));
    QFile spoil(dir.filePath("4.jpg"));
    QVERIFY(spoil.open(QIODevice::WriteOnly | QIODevice::Append));
    spoil.write(QByteArray(5000, 'x'));
    spoil.close();
    h.generate();
    QCOMPARE(readAll(dir.filePath("4.jpg")), first);
    QCOMPARE(h.dialogs.messages.size(), 2);
}

void TstMainWindow::cancelRightAfterOpening()
{
    Harness h;
    QTest::mouseClick(h.button("Command1"), Qt::LeftButton); // the dialog is cancelled
    QCOMPARE(h.dialogs.fileDialogs, 1);
    QVERIFY(h.dialogs.messages.isEmpty());
    h.generate();
    QCOMPARE(h.titles(), QStringList({kLoadFirst + "|通知:|ok information"}));
}

void TstMainWindow::cancelAfterALoad()
{
    QTemporaryDir dir;
    Harness h;
    h.chooseFile(copyInto(dir, "picture.gif"));
    const QImage shown = h.form->p1()->image();
    h.generate();
    const QByteArray tile1 = readAll(dir.filePath("1.jpg"));
    for (int round = 0; round < 2; ++round) { // a cancelled dialog gives the emptied box its picture back
        QTest::mouseClick(h.button("Command1"), Qt::LeftButton); // cancelled
        QCOMPARE(h.form->p1()->image(), shown);
        h.generate();
        QCOMPARE(readAll(dir.filePath("1.jpg")), tile1); // the same tiles, never the empty box's
    }
}

void TstMainWindow::failedLoadWithGuidesShown()
{
    QTemporaryDir dir;
    Harness h;
    h.chooseFile(copyInto(dir, "picture.jpg"));
    const QString folder = h.form->PicFolder;
    QTest::mouseClick(h.check2(), Qt::LeftButton);
    QVERIFY(h.guidesVisible(true));

    QTemporaryDir other;
    h.chooseFile(copyInto(other, "notes.txt"));
    QCOMPARE(h.titles(), QStringList({kBadPicture + "|警告：|ok critical"}));
    QCOMPARE(h.form->PicFolder, folder);
    QVERIFY(h.guidesVisible(true));

    // With nothing loaded the box no longer drives the guides.
    h.dialogs.messages.clear();
    QTest::mouseClick(h.check2(), Qt::LeftButton); // untick
    QVERIFY(h.guidesVisible(true));
    QVERIFY(h.dialogs.messages.isEmpty());
    QTest::mouseClick(h.check2(), Qt::LeftButton); // tick again
    QCOMPARE(h.titles(), QStringList({kLoadFirst + "|通知:|ok information"}));
    QVERIFY(!h.check2()->isChecked());
    h.generate();
    QCOMPARE(h.dialogs.messages.size(), 2);
    QCOMPARE(h.dialogs.messages.last().text, kLoadFirst);
    QVERIFY(!QFile::exists(dir.filePath("1.jpg")));
}

void TstMainWindow::previewClickSequences_data()
{
    // Steps: "tick" is a mouse click on the box whatever its state, "load X"
    // chooses test file X in the dialog. After each step: the box's tick,
    // the guides, and the messages that step raised.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing loaded, ticked again and again")
        << QStringList({"tick", "tick", "tick", "tick"})
        << "unticked,hidden,notice|unticked,hidden,notice|unticked,hidden,notice|"
           "unticked,hidden,notice";
    QTest::newRow("load, preview on and off, failed load")
        << QStringList({"load picture.png", "tick", "tick", "tick", "load notes.txt", "tick",
                        "tick", "tick"})
        << "unticked,hidden,-|ticked,shown,-|unticked,hidden,-|ticked,shown,-|"
           "ticked,shown,bad|unticked,shown,-|unticked,shown,notice|unticked,shown,notice";
    QTest::newRow("failed load first, then a picture")
        << QStringList({"load notes.txt", "tick", "tick", "load picture.bmp", "tick", "tick",
                        "tick"})
        << "unticked,hidden,bad|unticked,hidden,notice|unticked,hidden,notice|"
           "unticked,hidden,-|ticked,shown,-|unticked,hidden,-|ticked,shown,-";
}

void TstMainWindow::previewClickSequences()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    Harness h;
    QStringList seen;
    for (const QString &step : std::as_const(steps)) {
        h.dialogs.messages.clear();
        if (step == QLatin1String("tick"))
            QTest::mouseClick(h.check2(), Qt::LeftButton);
        else
            h.chooseFile(copyInto(dir, step.section(QLatin1Char(' '), 1)));
        QString said = QStringLiteral("-");
        if (h.titles() == QStringList({kLoadFirst + "|通知:|ok information"}))
            said = QStringLiteral("notice");
        else if (h.titles() == QStringList({kBadPicture + "|警告：|ok critical"}))
            said = QStringLiteral("bad");
        else if (!h.titles().isEmpty())
            said = h.titles().join(QLatin1Char('+'));
        const QString guides = h.guidesVisible(true)    ? QStringLiteral("shown")
                               : h.guidesVisible(false) ? QStringLiteral("hidden")
                                                        : QStringLiteral("mixed");
        seen << (h.check2()->isChecked() ? QStringLiteral("ticked") : QStringLiteral("unticked"))
                    + QLatin1Char(',') + guides + QLatin1Char(',') + said;
    }
    QCOMPARE(seen.join(QLatin1Char('|')), expected);
}

void TstMainWindow::programsOwnChangeRaisesTheClick()
{
    // The box's click follows the program's changes of its value as well as
    // the user's.
    QTemporaryDir dir;
    Harness h;
    h.chooseFile(copyInto(dir, "picture.gif"));
    h.check2()->setChecked(true);
    QVERIFY(h.guidesVisible(true));
    h.check2()->setChecked(false);
    QVERIFY(h.guidesVisible(false));
    // And after the program's own untick, the next real tick counts again.
    QTemporaryDir other;
    h.chooseFile(copyInto(other, "notes.txt"));
    h.dialogs.messages.clear();
    h.check2()->setChecked(true);
    QCOMPARE(h.titles(), QStringList({kLoadFirst + "|通知:|ok information"}));
    QVERIFY(!h.check2()->isChecked());
    QTest::mouseClick(h.check2(), Qt::LeftButton);
    QCOMPARE(h.titles(), QStringList({kLoadFirst + "|通知:|ok information", kLoadFirst + "|通知:|ok information"}));
    QVERIFY(!h.check2()->isChecked());
}

void TstMainWindow::realNoticeClosedByMouseOrKeyboard_data()
{
    QTest::addColumn<QString>("closeWith");
    QTest::newRow("mouse on the button") << "mouse";
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("space on the focused button") << "space";
}

void TstMainWindow::realNoticeClosedByMouseOrKeyboard()
{
    // The notice as the user gets it: a real modal message box, with its own
    // event loop running inside the box's click, closed as a person would.
    QFETCH(QString, closeWith);
    Harness h;
    h.form->activateWindow();
    platform::QtDialogService real;
    int closed = 0;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        QCOMPARE(box->text(), kLoadFirst);
        QCOMPARE(box->windowTitle(), QStringLiteral("通知:"));
        ++closed;
        if (closeWith == QLatin1String("mouse"))
            QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
        else if (closeWith == QLatin1String("enter"))
            QTest::keyClick(box, Qt::Key_Return);
        else if (closeWith == QLatin1String("escape"))
            QTest::keyClick(box, Qt::Key_Escape);
        else
            QTest::keyClick(box->buttons().first(), Qt::Key_Space);
    });
    closer.start();
    h.dialogs.onMessage = [&](const fakes::Message &m) {
        real.msgBox(h.form.get(), m.text, m.buttons, m.icon, m.title);
    };
    for (int tick = 1; tick <= 3; ++tick) {
        QTest::mouseClick(h.check2(), Qt::LeftButton);
        QCOMPARE(closed, tick);
        QVERIFY(!h.check2()->isChecked());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }
    QCOMPARE(h.dialogs.messages.size(), 3);
    QVERIFY(h.guidesVisible(false));
}

namespace {

// Records how the display box is painted: whether the busy cursor was up and
// whether the box was still empty at that moment.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(widgets::PictureBox *box) : m_box(box) { box->installEventFilter(this); }
    QStringList paints;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QCursor *cursor = QGuiApplication::overrideCursor();
            const bool busy = cursor && cursor->shape() == Qt::WaitCursor;
            const bool empty = m_box->image().pixelColor(200, 100) == m_box->backColor();
            paints << QString(busy ? "busy" : "idle") + (empty ? ",empty" : ",picture");
        }
        return false;
    }

private:
    widgets::PictureBox *m_box;
};

} // namespace

void TstMainWindow::busyWhileLoadingAndCutting_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("byDrop");
    QTest::addColumn<QString>("message");
    QTest::newRow("picture by the dialog") << "picture.png" << false << kDone;
    QTest::newRow("picture by a drop") << "picture.jpg" << true << kDone;
    QTest::newRow("not a picture") << "notes.txt" << false << kLoadFirst;
    QTest::newRow("not a picture, dropped") << "notes.txt" << true << kLoadFirst;
}

void TstMainWindow::busyWhileLoadingAndCutting()
{
    QFETCH(QString, file);
    QFETCH(bool, byDrop);
    QFETCH(QString, message);
    QTemporaryDir dir;
    Harness h;
    QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
    // No message box may come up under the busy cursor.
    QStringList cursorAtMessages;
    h.dialogs.onMessage = [&](const fakes::Message &m) {
        cursorAtMessages << m.text + (QGuiApplication::overrideCursor() ? "|busy" : "|idle");
    };
    // The press on 选择图片 would take the focus off the box, and its focus
    // mark would go with a paint of its own before the one looked for here.
    h.button("Command1")->setFocus();
    QCoreApplication::processEvents();
    PaintWatch watch(h.form->p1());
    const QString path = copyInto(dir, file);
    if (byDrop) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        h.drop(&mime);
    } else {
        h.chooseFile(path);
    }
    // The box was drawn empty under the busy cursor before the decoding.
    QVERIFY2(!watch.paints.isEmpty(), "the window was not repainted before decoding");
    QCOMPARE(watch.paints.first(), QStringLiteral("busy,empty"));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    h.generate();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QStringList expected;
    if (file == QLatin1String("notes.txt"))
        expected << kBadPicture + "|idle";
    expected << message + "|idle";
    QCOMPARE(cursorAtMessages, expected);

    // A tile that cannot be written: the message comes without the busy cursor.
    if (message == kDone) {
        cursorAtMessages.clear();
        QVERIFY(QFile::remove(dir.filePath("3.jpg")));
        QVERIFY(QDir(dir.path()).mkdir("3.jpg"));
        h.generate();
        QCOMPARE(cursorAtMessages.size(), 1);
        QVERIFY2(cursorAtMessages.first().endsWith("|idle"), qPrintable(cursorAtMessages.first()));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }
}

void TstMainWindow::drops()
{
    QTemporaryDir first;
    QTemporaryDir second;
    Harness h;

    // Three files: only the first counts.
    auto *mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(copyInto(first, "picture.emf")),
                   QUrl::fromLocalFile(copyInto(second, "notes.txt")),
                   QUrl::fromLocalFile(copyInto(second, "picture.png"))});
    h.drop(mime);
    QVERIFY(h.dialogs.messages.isEmpty());
    QCOMPARE(h.form->PicFolder, first.path() + QLatin1Char('/'));
    QCOMPARE(h.form->p1()->image().pixelColor(300, 150), QColor(Qt::yellow));
    delete mime;

    // No file in the drop, a folder, or an address that is not a local file.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    h.drop(&text);
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(second.path())});
    h.drop(&folder);
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("http://127.0.0.1/picture.png"))});
    h.drop(&web);
    QCOMPARE(h.titles(), QStringList({kBadPicture + "|警告：|ok critical", kBadPicture + "|警告：|ok critical",
                                      kBadPicture + "|警告：|ok critical"}));
    QCOMPARE(h.form->PicFolder, first.path() + QLatin1Char('/'));
    h.generate();
    QCOMPARE(h.dialogs.messages.last().text, kLoadFirst);
}

void TstMainWindow::windowPaintsWhileAPictureLoads_data()
{
    QTest::addColumn<bool>("metafile");
    QTest::newRow("metafile cut off by the time limit") << true;
    QTest::newRow("1-bit PNG of 128 Mi pixels, seconds to decode") << false;
}

void TstMainWindow::windowPaintsWhileAPictureLoads()
{
    QFETCH(bool, metafile);
    QTemporaryDir dir;
    Harness h;
    QVERIFY(QTest::qWaitForWindowExposed(h.form.get()));
    const picture::PictureChildLimits before = picture::pictureChildLimits();
    picture::PictureChildLimits tight = before;
    tight.wallMilliseconds = 1500;
    picture::setPictureChildLimits(tight);
    const QString slow = dir.filePath(metafile ? "slow.wmf" : "big.png");
    if (metafile)
        files::writeFile(slow, metafiles::slowPie());
    QImage big(16384, 8192, QImage::Format_Mono);
    big.fill(1);
    QVERIFY(metafile || big.save(slow, "png"));
    const QString good = copyInto(dir, "picture.wmf");

    // While the picture plays, a timer asks the box to repaint, as the
    // window system does when something uncovers it.
    int ticks = 0;
    QTimer exposer;
    exposer.setInterval(25);
    QObject::connect(&exposer, &QTimer::timeout, [&] {
        ++ticks;
        h.form->p1()->update();
    });
    QStringList cursorAtMessages;
    h.dialogs.onMessage = [&](const fakes::Message &m) {
        cursorAtMessages << m.text + (QGuiApplication::overrideCursor() ? "|busy" : "|idle");
    };

    // By the dialog, by a drop, and by the dialog again: each time the same.
    for (int round = 0; round < 3; ++round) {
        cursorAtMessages.clear();
        ticks = 0;
        PaintWatch watch(h.form->p1());
        exposer.start();
        if (round == 1) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(slow)});
            h.drop(&mime);
        } else {
            h.chooseFile(slow);
        }
        exposer.stop();
        QVERIFY2(ticks >= 10, qPrintable(QStringLiteral("%1 ticks while playing").arg(ticks)));
        QVERIFY2(watch.paints.count(QStringLiteral("busy,empty")) >= 5, qPrintable(watch.paints.join(' ')));
        QCOMPARE(cursorAtMessages, metafile ? QStringList(kBadPicture + "|idle") : QStringList());
        QCOMPARE(h.form->Picture1()->hasPicture(), !metafile);
        cursorAtMessages.clear();

        h.chooseFile(good);
        QCOMPARE(cursorAtMessages.size(), 0);
        QCOMPARE(h.form->p1()->image().pixelColor(300, 150), QColor(Qt::yellow));
        QCOMPARE(h.form->PicFolder, dir.path() + QLatin1Char('/'));
    }
    picture::setPictureChildLimits(before);
}

void TstMainWindow::tileThatCannotBeWritten()
{
    QTemporaryDir dir;
    Harness h;
    h.chooseFile(copyInto(dir, "picture.png"));
    QVERIFY(QDir(dir.path()).mkdir("6.jpg"));
    h.generate();
    QCOMPARE(h.dialogs.messages.size(), 1);
    const fakes::Message m = h.dialogs.messages.first();
    // The system's reason, and no tile put in place.
    QVERIFY2(m.text.startsWith(QStringLiteral("无法写入文件 %1（").arg(dir.filePath("6.jpg")))
                 && m.text.endsWith(QStringLiteral("），图片切割已停止，原有的图片没有改动。")),
             qPrintable(m.text));
    QCOMPARE(m.title, QStringLiteral("警告："));
    QCOMPARE(m.buttons, platform::MessageButtons::Ok);
    QCOMPARE(m.icon, platform::MessageIcon::Critical);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"6.jpg", "picture.png"}));
    // A picture named on the command line that is not there (a link to
    // nowhere) is named as missing.
    QVERIFY(QFile::link(dir.filePath("gone.jpg"), dir.filePath("link.jpg")));
    h.form->openPicture(dir.filePath("link.jpg"));
    QCOMPARE(h.dialogs.messages.last().text, QStringLiteral("找不到文件：") + dir.filePath("link.jpg"));
    QTemporaryDir own; // a picture that is itself one of the tiles is refused before any is written
    h.chooseFile(copyInto(own, "picture.jpg", "5.jpg"));
    h.generate();
    QVERIFY(h.dialogs.messages.last().text.contains(QStringLiteral("第 5 块")));
    QCOMPARE(QDir(own.path()).entryList(QDir::Files), QStringList({"5.jpg"}));
    QCOMPARE(readAll(own.filePath("5.jpg")), readAll(data + "/picture.jpg"));
}

MOSALUNE_PICTURE_TEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"

#include "main/mainwindow/mainwindow.h"

#include "ui_mainwindow.h"

#include "common/inet.h"
#include "common/releasepage.h"
#include "common/texthelpers.h"
#include "main/mainwindow/pushnoticedialog.h"
#include "main/mainwindow/updaterswap.h"
#include "tiles/tilegeometry.h"
#include "tiles/tilejob.h"
#include "tiles/tilewriter.h"
#include "platform/appinfo.h"
#include "widgets/clicklabel.h"
#include "platform/dialogs.h"
#include "widgets/picturebox.h"
#include "platform/netstate.h"
#include "platform/screen.h"
#include "picture/picturedecoder.h"
#include "platform/shell.h"
#include "platform/timer.h"
#include "platform/titlebar.h"
#include "platform/windowfinder.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMimeData>
#include <QThread>
#include <QUrl>

#include <limits>

// The window's pictures live in a static library's resources, which the
// linker keeps only when something asks for them.
static void initResources()
{
    Q_INIT_RESOURCE(mainresources);
}

namespace mosalune {

namespace {
const QString kLoadFirst = QStringLiteral("请先载入图片");
const QString kNotice = QStringLiteral("通知:");

// The wait cursor over the whole program while a long step runs on the
// window's thread; gone again before any message box asks for the user.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { release(); }
    void release()
    {
        if (m_held)
            QGuiApplication::restoreOverrideCursor();
        m_held = false;
    }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    bool m_held = true;
};
} // namespace

MainWindow::MainWindow(Services &services, QWidget *parent)
    : QWidget(parent), m_services(services), ui(std::make_unique<Ui::Form1>())
{
    initResources();
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/main/mosalune.svg")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    platform::fixWindowSize(*this);
    // The boxes' empty colour is the tile job's: an emptied display box is
    // cut to exactly what the command-line cutter would write.
    ui->p1->setBackColor(tiles::boxBackground());
    ui->Picture1->setBackColor(tiles::boxBackground());

    // The guides belong to the display box: the verticals span its height,
    // the horizontal its width; the layout steps put them on the cut lines.
    Line1 = ui->p1->addLine();
    Line2 = ui->p1->addLine();
    Line3 = ui->p1->addLine();
    Line4 = ui->p1->addLine();
    for (widgets::LineControl *line : {Line1, Line2, Line3})
        line->setY2(2940);
    Line4->setX2(6000);
    for (widgets::LineControl *line : {Line1, Line2, Line3, Line4}) {
        line->setColor(Qt::white);
        line->setVisible(false);
    }

    connect(ui->Command1, &QPushButton::clicked, this, &MainWindow::choosePicture);
    connect(ui->Command2, &QPushButton::clicked, this, &MainWindow::cutTiles);
    // The check box's click follows every change of its value, also the
    // program's own. Not stateChanged: a value the handler sets while the
    // box is still handling the user's click is never published there, so
    // the next real click would go unreported.
    connect(ui->Check2, &QCheckBox::toggled, this, &MainWindow::toggleGuides);
    connect(ui->p1, &widgets::PictureBox::oleDragDrop, this, &MainWindow::dropPicture);
    connect(ui->Image1, &widgets::ClickLabel::mouseDown, this, &MainWindow::openReleasePage);
    connect(ui->Label1, &widgets::ClickLabel::mouseDown, this, &MainWindow::openReleasePage);

    Timer1 = new platform::Timer(20, this);
    Timer2 = new platform::Timer(60000, this);
    connect(Timer1, &platform::Timer::tick, this, &MainWindow::watchForUpdaterSwap);
    connect(Timer2, &platform::Timer::tick, this, &MainWindow::countPushMinutes);
    Inet1 = new common::Inet(this);
    Inet1->setRequestTimeout(m_services.requestTimeout);

    // The updater will not replace the program's files while this window can
    // be found. It is published under the program's bare name: the shown
    // title carries the version, which an updater of another version cannot
    // know. The window registry is the one place that publishes too.
    if (auto *publisher = dynamic_cast<platform::WindowPublisher *>(&m_services.windows))
        m_registration = publisher->publish(this, common::formWindowClass, common::mainWindowKey);
}

MainWindow::~MainWindow() = default;

widgets::PictureBox *MainWindow::p1() const
{
    return ui->p1;
}

widgets::PictureBox *MainWindow::Picture1() const
{
    return ui->Picture1;
}

bool MainWindow::load()
{
    try {
        readMessagePush();
        layoutSteps();
    } catch (const common::RunError &) {
        // A page that was read but cannot be cut means the page and this
        // copy no longer fit together.
        const platform::MessageAnswer answer = m_services.dialogs.msgBox(
            this, QStringLiteral("您的软件已经损坏，是否去官网下载最新版本"),
            platform::MessageButtons::YesNo, platform::MessageIcon::None, QStringLiteral("提示:"));
        if (answer == platform::MessageAnswer::Yes)
            platform::openReleasePage(m_services.shell, m_services.app);
        return false;
    }
    platform::centreOnScreen(*this);
    Timer1->setEnabled(true);
    Timer2->setEnabled(true);
    return true;
}

void MainWindow::readMessagePush()
{
    if (!m_services.network.connected()) {
        Timer2->setInterval(0);
        return;
    }
    // The version check has just asked the same server: when that timed
    // out, the window does not keep the user waiting a second time.
    if (m_services.state.PageTimedOut) {
        Timer2->setInterval(0);
        return;
    }
    QString page;
    try {
        page = common::DecodeUtf8(Inet1->fetchBytes(m_services.app.releasePageUrl));
    } catch (const common::TransferError &) {
        // No page at all (no answer, refused, an error status) is a network
        // problem, not a damaged program: the tile maker opens without push.
        Timer2->setInterval(0);
        return;
    }
    const common::PushSection push = common::ReadPush(page);
    PushSwitch = push.pushSwitch;
    Timer2->setInterval(push.isOn() ? 60000 : 0);
    m_services.state.PushMessage = push.pushMessage;
}

void MainWindow::watchForUpdaterSwap()
{
    // A tick that arrives while swapInNewUpdater yields must not start a second swap.
    if (m_swapping)
        return;
    // After a swap that could not be done, the folder is looked at again
    // only now and then: every failed try would have cost a blocked second.
    if (!m_swapRetry.hasExpired())
        return;
    if (!m_services.windows.findWindow(common::formWindowClass, updaterWindowTitle)
        && hasNewUpdater(m_services.app.folder))
        swapInNewUpdater();
}

void MainWindow::swapInNewUpdater()
{
    if (m_swapping)
        return;
    m_swapping = true;
    const QDir folder(m_services.app.folder);
    const bool updaterOpen = m_services.windows.findWindow(common::formWindowClass, updaterWindowTitle);
    const bool hasNew = hasNewUpdater(m_services.app.folder);
    const bool hasOld = QFileInfo(folder.filePath(updaterFileName)).isFile();
    if (!updaterOpen && hasNew && hasOld) {
        // Give the updater's process time to end after its window closed.
        // A retry comes long after that and does not wait again.
        if (!m_swapFailed) {
            QThread::msleep(1000);
            QCoreApplication::processEvents();
        }
        QString error;
        if (replaceUpdater(m_services.app.folder, &error) == SwapResult::Failed) {
            // Tried again later, and said once: there is no log to keep it.
            if (!m_swapFailed)
                qWarning().noquote() << QStringLiteral("无法用 %1 替换 %2：%3")
                                            .arg(newUpdaterFileName, updaterFileName, error);
            m_swapFailed = true;
            m_swapRetry.setRemainingTime(kSwapRetryMsecs);
        }
    }
    m_swapping = false;
}

void MainWindow::countPushMinutes()
{
    if (!PushSwitch.isEmpty() && PushSwitch == QStringLiteral("开")) {
        // Counting stops at the largest value instead of wrapping round to a
        // negative count.
        if (PushTicks < std::numeric_limits<qint16>::max())
            ++PushTicks;
        if (PushTicks == 3) {
            auto *dialog = new PushNoticeDialog(m_services, Timer2);
            dialog->load();
            dialog->show();
        }
    }
}

void MainWindow::openReleasePage(Qt::MouseButton button)
{
    if (button == Qt::LeftButton)
        platform::openReleasePage(m_services.shell, m_services.app);
}

void MainWindow::layoutSteps()
{
    const platform::AppInfo &app = m_services.app;
    setWindowTitle(QStringLiteral(" Mosalune   Ver")
                   + common::OwnVersion(app.major, app.minor, app.revision));

    for (widgets::LineControl *line : {Line1, Line2, Line3, Line4})
        line->setVisible(false);
    const float sw = float(ui->p1->scaleWidth());
    const float sh = float(ui->p1->scaleHeight());
    Line1->setX1(sw / 4.0f);
    Line1->setX2(sw / 4.0f);
    Line2->setX1(sw / 2.0f);
    Line2->setX2(sw / 2.0f);
    Line3->setX1(sw / 4.0f * 3.0f);
    Line3->setX2(sw / 4.0f * 3.0f);
    Line4->setY1(sh / 2.0f);
    Line4->setY2(sh / 2.0f);

    // The canvas lies hidden on the display box's corner, outer size 150 x 150.
    ui->Picture1->setGeometry(ui->p1->x(), ui->p1->y(), tiles::canvasOuterSize.width(),
                              tiles::canvasOuterSize.height());
}

bool MainWindow::pictureLoaded() const
{
    return ui->Picture1->hasPicture();
}

void MainWindow::choosePicture()
{
    // The display box is emptied while the dialog is open. A cancelled
    // dialog puts back what was loaded: the box never shows nothing while a
    // picture counts as loaded, which would cut the empty box over good tiles.
    const QImage shown = pictureLoaded() ? ui->p1->image() : QImage();
    ui->p1->setPicture(QImage());
    const QString fileName = m_services.dialogs.openFileName(this, picture::pictureSuffixes());
    if (fileName.isEmpty()) {
        if (!shown.isNull())
            ui->p1->drawPersistent(shown);
        return;
    }
    loadPicture(fileName);
}

void MainWindow::openPicture(const QString &path)
{
    ui->p1->setPicture(QImage());
    loadPicture(path);
}

void MainWindow::dropPicture(const QMimeData *data)
{
    ui->p1->setPicture(QImage());
    // Only the first item of the drop counts, and it has to be a local file.
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        loadFailed(tiles::loadFailureReason(picture::PictureError::Cause::NotAPicture));
        return;
    }
    loadPicture(urls.first().toLocalFile());
}

void MainWindow::loadPicture(const QString &path)
{
    // Whichever way the picture came, the next dialog looks beside it.
    m_services.dialogs.rememberFile(path);
    WaitCursor wait;
    // A large picture takes seconds to decode on this thread: draw the window
    // now, so that the emptied box replaces what the file dialog left on
    // screen and the busy cursor is seen over it.
    repaint();
    QImage display;
    try {
        display = tiles::loadDisplay(path);
    } catch (const picture::PictureError &error) {
        // loadDisplay turns whatever a decoder throws into this one error.
        wait.release();
        loadFailed(tiles::loadFailedMessage(error.cause(), path));
        return;
    }
    ui->p1->drawPersistent(display);
    ui->Picture1->setPicture(ui->p1->image());
    PicFolder = tiles::pictureFolder(path);
    PicFile = path;
}

void MainWindow::loadFailed(const QString &message)
{
    m_services.dialogs.msgBox(this, message, platform::MessageButtons::Ok,
                              platform::MessageIcon::Critical, QStringLiteral("警告："));
    ui->Picture1->setPicture(QImage());
}

void MainWindow::cutTiles()
{
    if (!pictureLoaded()) {
        m_services.dialogs.msgBox(this, kLoadFirst, platform::MessageButtons::Ok,
                                  platform::MessageIcon::Information, kNotice);
        return;
    }
    if (const int tile = tiles::tileThatIsThePicture(PicFile, PicFolder)) {
        m_services.dialogs.msgBox(this, tiles::pictureIsATileMessage(PicFile, tile),
                                  platform::MessageButtons::Ok, platform::MessageIcon::Critical,
                                  QStringLiteral("警告："));
        return;
    }
    WaitCursor wait;
    try {
        tiles::writeTiles(ui->p1->image(), PicFolder, [this](int, const QImage &canvas) {
            ui->Picture1->drawPersistent(canvas);
        });
    } catch (const tiles::TileWriteError &error) {
        wait.release();
        m_services.dialogs.msgBox(this, error.message(), platform::MessageButtons::Ok,
                                  platform::MessageIcon::Critical, QStringLiteral("警告："));
        return;
    }
    wait.release();
    m_services.dialogs.msgBox(this, QStringLiteral("图片已经切割完毕,在原图片文件夹下以1-8命名"),
                              platform::MessageButtons::Ok, platform::MessageIcon::Information,
                              QStringLiteral("恭喜:"));
}

void MainWindow::toggleGuides()
{
    const bool checked = ui->Check2->isChecked();
    if (pictureLoaded()) {
        for (widgets::LineControl *line : {Line1, Line2, Line3, Line4})
            line->setVisible(checked);
        return;
    }
    if (checked) {
        m_services.dialogs.msgBox(this, kLoadFirst, platform::MessageButtons::Ok,
                                  platform::MessageIcon::Information, kNotice);
        ui->Check2->setChecked(false);
    }
}

} // namespace mosalune

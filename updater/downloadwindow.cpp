#include "updater/downloadwindow.h"

#include "ui_downloadwindow.h"

#include "common/inet.h"
#include "common/programfiles.h"
#include "common/releasepage.h"
#include "common/texthelpers.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/fetchinput.h"
#include "platform/screen.h"
#include "platform/seethrough.h"
#include "platform/shell.h"
#include "platform/timer.h"
#include "platform/windowfinder.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>

#include <limits>

namespace mslupdate {

namespace {
const QString kDownloading = QStringLiteral("正在下载 ");
} // namespace

ProgressBarSetting progressBarSetting(qint64 done, qint64 total)
{
    if (total < 0)
        return {};
    if (total == 0)
        return {1, 1};
    int shift = 0;
    while ((total >> shift) > std::numeric_limits<int>::max())
        ++shift;
    const qint64 clamped = qBound<qint64>(0, done, total);
    return {int(total >> shift), int(clamped >> shift)};
}

DownloadWindow::DownloadWindow(Services &services, QWidget *parent)
    : QWidget(parent), m_services(services), ui(std::make_unique<Ui::UD>()),
      m_staged(services.app.folder)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(size());

    Timer1 = new platform::Timer(0, this);
    Timer1->setEnabled(true);
    connect(Timer1, &platform::Timer::tick, this, &DownloadWindow::countDownToClose);
    Inet1 = new common::Inet(this);
    Inet1->setRequestTimeout(m_services.requestTimeout);
    platform::letUserStopFetches(*Inet1);
    // Bodies land beside their targets, so that putting them in place is a
    // rename within one folder.
    Inet1->setDownloadFolder(m_services.app.folder);
    connect(Inet1, &common::Inet::finished, this, &DownloadWindow::fileFinished);
    connect(Inet1, &common::Inet::progress, this, &DownloadWindow::showProgress);
}

DownloadWindow::~DownloadWindow() = default;

QProgressBar *DownloadWindow::ProgressBar1() const
{
    return ui->ProgressBar1;
}

QLabel *DownloadWindow::Label1() const
{
    return ui->Label1;
}

QListWidget *DownloadWindow::List1() const
{
    return ui->List1;
}

QListWidget *DownloadWindow::List2() const
{
    return ui->List2;
}

void DownloadWindow::setShownVersion(const QString &version)
{
    m_shownVersion = version;
}

void DownloadWindow::load()
{
    // Only the bar, the status line and the lists float on the desktop.
    platform::makeSeeThrough(*this);
    platform::centreOnScreen(*this);
    show();

    // The main program's file is about to be replaced; while it runs, its
    // window is there under the program's name whatever its version.
    if (m_services.windows.findWindow(common::formWindowClass, common::mainWindowKey)) {
        m_services.dialogs.msgBox(this,
                                  QStringLiteral("发现原程序正在运行,请关闭原程序后再点击更新."),
                                  platform::MessageButtons::Ok, platform::MessageIcon::None,
                                  QStringLiteral("Mosalune 更新提示:"));
        end();
        return;
    }

    StagedFiles::removeLeftovers(m_services.app.folder);
    // The window paints while a page is fetched, and Esc or the window
    // manager's close ask whether to stop meanwhile: "是" abandons the fetch.
    m_fetchingLists = true;
    try {
        readLists();
    } catch (const common::RunError &error) {
        m_fetchingLists = false;
        if (!m_ended)
            failed(error.message());
        return;
    }
    m_fetchingLists = false;
    if (!m_ended)
        startFile(0);
}

// The page's file list, checked against the release the user was shown and
// its signature, and one direct address per file. Nothing is downloaded
// before all of it holds.
void DownloadWindow::readLists()
{
    const QString pageAddress = m_services.app.releasePageUrl;
    const QString page = common::DecodeUtf8(common::fetchNamedBytes(*Inet1, pageAddress));
    checkVersion(common::PageVersion(page));
    QStringList shareLinks;
    for (const common::FileEntry &entry : common::FileEntries(page)) {
        ui->List1->addItem(entry.displayEntry);
        shareLinks << entry.shareAddress;
    }
    if (shareLinks.isEmpty())
        throw common::RunError(QStringLiteral("更新文件列表是空的"));
    m_signedList.load(*Inet1, m_services.app.releaseKey, pageAddress, page);
    for (const QString &link : std::as_const(shareLinks))
        ui->List2->addItem(
            common::DirectAddress(common::DecodeUtf8(common::fetchNamedBytes(*Inet1, link))));
}

// The page may have changed since the notice window read it: only the
// release the user saw is installed. A signed build installs only a newer
// one, so a replayed old release, genuinely signed in its day, is refused.
void DownloadWindow::checkVersion(const QString &version) const
{
    if (!m_shownVersion.isEmpty() && version != m_shownVersion)
        throw common::RunError(QStringLiteral("发布页现在公布的版本 %1 不是更新窗口显示的 %2")
                                   .arg(version, m_shownVersion));
    const platform::AppInfo &app = m_services.app;
    if (!app.releaseKey.isEmpty() && !common::IsNewerVersion(version, app.major, app.minor, app.revision))
        throw common::RunError(QStringLiteral("发布页的版本 %1 不比本程序的 %2 新，不会装回旧版本")
                                   .arg(version, common::OwnVersion(app.major, app.minor, app.revision)));
}

void DownloadWindow::startFile(int i)
{
    const QString listed = common::EntryFileName(ui->List1->item(i)->text());
    ui->Label1->setText(kDownloading + common::targetFileName(listed));
    Inet1->startDownload(ui->List2->item(i)->text());
}

void DownloadWindow::showProgress(qint64 done, qint64 total)
{
    const ProgressBarSetting bar = progressBarSetting(done, total);
    ui->ProgressBar1->setRange(0, bar.maximum);
    ui->ProgressBar1->setValue(bar.value);
}

void DownloadWindow::fileFinished(common::Inet::Outcome outcome)
{
    if (m_asking && !m_ended) {
        m_heldOutcome = outcome;
        return;
    }
    ui->ProgressBar1->setValue(0);
    if (m_ended)
        return;
    // The status line names the file being written.
    const QString name = ui->Label1->text().mid(kDownloading.size());
    if (outcome == common::Inet::Outcome::Failed) {
        failed(QStringLiteral("无法下载 %1：%2").arg(name, Inet1->lastError()));
        return;
    }

    const qint64 size = Inet1->bytesReceived();
    QString error;
    // The body already lies beside its target under a temporary name; it
    // stays there until every file has arrived, and only if it is what the
    // maker signed.
    const QString body = Inet1->releaseBodyFile();
    // A program of no bytes is what a server that answers with nothing
    // gives, never a release.
    const bool program = name == common::mainProgramFileName || name == common::newUpdaterFileName;
    if (!m_staged.adopt(name, body, &error)) {
        failed(error);
        return;
    }
    if (program && QFileInfo(body).size() == 0) {
        failed(QStringLiteral("下载的 %1 是空的").arg(name));
        return;
    }
    if (!m_signedList.matches(FileIndex, Inet1->bodySha256())) {
        failed(QStringLiteral("第 %1 个更新文件 %2 的 SHA-256 与签名的列表不符").arg(FileIndex + 1).arg(name));
        return;
    }
    showProgress(size, size);

    if (FileIndex == ui->List2->count() - 1) {
        if (!putInPlace(&error)) {
            failed(QStringLiteral("无法替换旧文件：%1").arg(error));
            return;
        }
        ui->Label1->setText(QStringLiteral("更新完成，5秒钟后自动关闭本窗口"));
        Timer1->setInterval(1000);
        return;
    }
    startFile(FileIndex + 1);
    ++FileIndex;
}

// Every file is here: only now is anything replaced.
bool DownloadWindow::putInPlace(QString *error)
{
    m_replaced = m_staged.commit(error);
    return m_replaced;
}

void DownloadWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        askToStop();
    else
        QWidget::keyPressEvent(event);
}

void DownloadWindow::closeEvent(QCloseEvent *event)
{
    // The window goes only with the updater.
    event->ignore();
    askToStop();
}

// Until the files are in place the update can be stopped, and stopping
// replaces nothing. Once they are, there is nothing left to stop.
void DownloadWindow::askToStop()
{
    if (m_ended || m_replaced || m_asking)
        return;
    m_asking = true;
    const platform::MessageAnswer answer = m_services.dialogs.msgBox(
        this, QStringLiteral("确定要停止更新吗？已下载的文件将被删除，原有文件保持不变。"),
        platform::MessageButtons::YesNo, platform::MessageIcon::None, QStringLiteral("提示"));
    m_asking = false;
    const std::optional<common::Inet::Outcome> held = std::exchange(m_heldOutcome, std::nullopt);
    if (m_ended)
        return;
    if (answer == platform::MessageAnswer::Yes) {
        // The transfer under way goes with its control, its body file too;
        // a page fetch waiting in load() is abandoned at once and returns
        // there, where the control is still in use.
        if (m_fetchingLists) {
            Inet1->abandonFetch();
        } else {
            delete Inet1;
            Inet1 = nullptr;
        }
        m_staged.discard();
        hide();
        end();
        return;
    }
    if (held)
        fileFinished(*held);
}

void DownloadWindow::countDownToClose()
{
    ++CloseTicks;
    if (CloseTicks != 5) {
        ui->Label1->setText(QStringLiteral("更新完成，%1秒钟后自动关闭本窗口").arg(5 - CloseTicks));
        return;
    }
    unload();
    const QString program = QDir(m_services.app.folder).filePath(common::mainProgramFileName);
    if (!m_services.shell.startProgram(program)) {
        m_services.dialogs.msgBox(nullptr,
                                  QStringLiteral("更新已完成，但无法启动 %1，请手动启动。")
                                      .arg(QDir::toNativeSeparators(program)),
                                  platform::MessageButtons::Ok, platform::MessageIcon::Critical,
                                  QStringLiteral("提示"));
    }
    end();
}

// Whatever failed, the installation stays as it was: nothing downloaded so
// far is kept. The user is only asked whether to fetch the release by hand;
// the reason is for whoever reads the updater's output (there is no log).
void DownloadWindow::failed(const QString &reason)
{
    qWarning().noquote() << QStringLiteral("更新失败：") + reason;
    m_staged.discard();
    const platform::MessageAnswer answer = m_services.dialogs.msgBox(
        this, QStringLiteral("更新失败，是否去官网下载最新版本"), platform::MessageButtons::YesNo,
        platform::MessageIcon::None, QStringLiteral("提示"));
    if (answer == platform::MessageAnswer::Yes)
        platform::openReleasePage(m_services.shell, m_services.app);
    end();
}

void DownloadWindow::unload()
{
    Timer1->setInterval(0);
    hide();
}

void DownloadWindow::end()
{
    m_ended = true;
    Timer1->setInterval(0);
    if (m_services.endProgram)
        m_services.endProgram();
}

} // namespace mslupdate

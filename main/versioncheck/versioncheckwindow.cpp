#include "main/versioncheck/versioncheckwindow.h"

#include "ui_versioncheckwindow.h"

#include "common/inet.h"
#include "common/programfiles.h"
#include "common/releasepage.h"
#include "main/splash/splashwindow.h"
#include "main/supportfiles.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/netstate.h"
#include "platform/resources.h"
#include "platform/screen.h"
#include "platform/seethrough.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/timer.h"

#include <QFileInfo>

#include <exception>

namespace mosalune {

VersionCheckWindow::VersionCheckWindow(StartupServices &startup, QWidget *parent)
    : QWidget(parent), m_startup(startup), ui(std::make_unique<Ui::PreUD>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(size());
    // Tahoma 10.5 pt; its green is in the form's style sheet, out of the
    // theme's reach.
    QFont font = ui->Label1->font();
    font.setPointSizeF(10.5);
    ui->Label1->setFont(font);

    Timer1 = new platform::Timer(0, this);
    connect(Timer1, &platform::Timer::tick, this, &VersionCheckWindow::advanceProgress);
    Inet1 = new common::Inet(this);
    Inet1->setRequestTimeout(m_startup.services.requestTimeout);
}

VersionCheckWindow::~VersionCheckWindow() = default;

QProgressBar *VersionCheckWindow::ProgressBar1() const
{
    return ui->ProgressBar1;
}

QLabel *VersionCheckWindow::Label1() const
{
    return ui->Label1;
}

QLineEdit *VersionCheckWindow::Text1() const
{
    return ui->Text1;
}

QLineEdit *VersionCheckWindow::Text2() const
{
    return ui->Text2;
}

void VersionCheckWindow::load()
{
    try {
        loadStep();
    } catch (const std::exception &) {
        // Whatever failed (the skin, a text file, the page), the tile maker
        // itself still works: it opens without the check, and says nothing.
        unload();
        emit showMainWindow();
    }
}

void VersionCheckWindow::loadStep()
{
    Services &services = m_startup.services;
    const platform::AppInfo &app = services.app;
    if (services.state.AppDir.isEmpty())
        services.state.AppDir = appDirFor(app.folder);
    const QString &appDir = services.state.AppDir;

    platform::SkinLibrary &skin = m_startup.skin;
    skin.load(appDir + skinLibraryFile.name);
    skin.SkinH_AttachEx(app.folder + QLatin1Char('/') + skinThemeFile.name, QString());
    // A transparent background has to be chosen before the native window
    // exists, and asking for the window's handle creates it.
    platform::makeSeeThrough(*this);
    skin.SkinH_SetAero(platform::skinWindowHandle(*this));
    platform::centreOnScreen(*this);
    // The bar stands at 0 on the screen from the moment the window shows,
    // through the text files and the page fetch (which paints as it waits).
    ui->ProgressBar1->setValue(ui->ProgressBar1->minimum());
    showPainted(*this);

    Timer1->setEnabled(true);
    Timer1->setInterval(10);
    ui->Text1->setText(common::OwnVersion(app.major, app.minor, app.revision));

    writeMissingTextFiles(appDir, m_startup.resources);

    if (!services.network.connected()) {
        ui->Text2->setText(QString());
        services.state.NetConnected = false;
        m_loaded = true;
        return;
    }
    QString page;
    try {
        page = Inet1->fetchText(app.releasePageUrl);
    } catch (const common::TransferError &) {
        services.state.PageTimedOut = Inet1->timedOut();
        throw;
    }
    ui->Text2->setText(common::PageVersion(page));
    services.state.NetConnected = true;
    m_loaded = true;
}

void VersionCheckWindow::advanceProgress()
{
    if (!m_loaded || m_asking || m_unloaded)
        return;
    QProgressBar *bar = ui->ProgressBar1;
    bar->setValue(qMin(bar->value() + 1, bar->maximum()));
    if (bar->value() >= 10)
        ui->Label1->setText(QStringLiteral("载入系统文件..."));
    if (bar->value() >= 30)
        ui->Label1->setText(QStringLiteral("加载程序配置..."));
    if (bar->value() >= 60)
        ui->Label1->setText(QStringLiteral("检测版本信息..."));
    if (bar->value() >= 90)
        checkStep(bar->value());
}

void VersionCheckWindow::checkStep(int n)
{
    Services &services = m_startup.services;
    if (!services.state.NetConnected) {
        ui->Label1->setText(QStringLiteral("网络连接失败！"));
        if (n >= 100) {
            emit showMainWindow();
            unload();
        }
        return;
    }
    // Any other text is an update; a signed build takes only a newer one, so
    // that a replayed old release is not offered.
    const platform::AppInfo &app = services.app;
    if (!common::OffersUpdate(ui->Text2->text(), app.major, app.minor, app.revision,
                              !app.releaseKey.isEmpty())) {
        ui->Label1->setText(QStringLiteral(" 载入成功！"));
        if (n >= 100) {
            emit showMainWindow();
            unload();
        }
        return;
    }

    // One question per run: the timer is held while it is open.
    m_asking = true;
    Timer1->setEnabled(false);
    const platform::MessageAnswer answer = services.dialogs.msgBox(
        this,
        QStringLiteral("发现新版本 Ver：") + ui->Text2->text() + QStringLiteral(" 是否需要更新？"),
        platform::MessageButtons::OkCancel, platform::MessageIcon::None,
        QStringLiteral("更新提示："));
    if (answer != platform::MessageAnswer::Ok) {
        emit showMainWindow();
        unload();
        return;
    }
    const QString updater = services.app.folder + QLatin1Char('/') + common::updaterFileName;
    // A file that cannot be started is as useless as a missing one: ask the
    // same question instead of ending with nothing on the screen.
    if (QFileInfo::exists(updater)
        && services.shell.startProgram(updater)) {
        unload();
        emit programEnds();
        return;
    }
    const platform::MessageAnswer download = services.dialogs.msgBox(
        this, QStringLiteral("更新文件已损坏,是否去官网重新下载最新完整版程序？"),
        platform::MessageButtons::YesNo, platform::MessageIcon::None, QStringLiteral("提示:"));
    if (download == platform::MessageAnswer::Yes) {
        platform::openReleasePage(services.shell, services.app);
        unload();
        emit programEnds();
        return;
    }
    emit showMainWindow();
    unload();
}

void VersionCheckWindow::unload()
{
    m_unloaded = true;
    m_asking = false;
    Timer1->setEnabled(false);
    hide();
}

} // namespace mosalune

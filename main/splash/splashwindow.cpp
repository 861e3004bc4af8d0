#include "main/splash/splashwindow.h"

#include "ui_splashwindow.h"

#include "common/errors.h"
#include "main/supportfiles.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/resources.h"
#include "platform/screen.h"
#include "platform/seethrough.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QWindow>

namespace mosalune {

void showPainted(QWidget &window)
{
    window.show();
    constexpr QEventLoop::ProcessEventsFlags onlyDrawing =
        QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers;
    // Mapping is not drawing: until the window system exposes the window and
    // it paints, the screen shows whatever lay behind it.
    const QDeadlineTimer deadline(1000);
    QCoreApplication::processEvents(onlyDrawing);
    while (window.windowHandle() && !window.windowHandle()->isExposed() && !deadline.hasExpired()) {
        QThread::msleep(5);
        QCoreApplication::processEvents(onlyDrawing);
    }
    window.repaint();
    QCoreApplication::processEvents(onlyDrawing);
}

SplashWindow::SplashWindow(StartupServices &startup, QWidget *parent)
    : QWidget(parent), m_startup(startup), ui(std::make_unique<Ui::Pre>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(size());
}

SplashWindow::~SplashWindow() = default;

QProgressBar *SplashWindow::ProgressBar1() const
{
    return ui->ProgressBar1;
}

QLabel *SplashWindow::Label1() const
{
    return ui->Label1;
}

bool SplashWindow::load()
{
    Services &services = m_startup.services;
    services.state.AppDir = appDirFor(services.app.folder);
    platform::makeSeeThrough(*this);
    platform::centreOnScreen(*this);
    show();
    ui->ProgressBar1->setValue(ui->ProgressBar1->minimum());
    QCoreApplication::processEvents();
    try {
        writeWithProgress(skinLibraryFile);
        writeWithProgress(skinThemeFile);
    } catch (const common::RunError &error) {
        // Without its support files the program cannot start as it should;
        // it says why and ends instead of running half set up.
        hide();
        services.dialogs.msgBox(nullptr,
                                error.message()
                                    + QStringLiteral("\n\nMosalune 无法启动。请确认程序所在的文件夹可以写入、"
                                                     "磁盘还有空间，然后重新运行程序。"),
                                platform::MessageButtons::Ok, platform::MessageIcon::Critical,
                                QStringLiteral("Mosalune 启动失败"));
        return false;
    }
    hide();
    return true;
}

void SplashWindow::writeWithProgress(const SupportFile &file)
{
    const QString &appDir = m_startup.services.state.AppDir;
    const QString &name = file.name;
    if (supportFileExists(appDir, name))
        return;
    const QByteArray bytes = m_startup.resources.customResource(file.resourceId);
    QProgressBar *bar = ui->ProgressBar1;
    bar->setMaximum(static_cast<int>(bytes.size()));
    bar->setValue(bar->minimum());
    ui->Label1->setText(QStringLiteral("正在加载") + name);
    writeSupportFile(appDir, name, bytes, chunkSize, [bar](qsizetype written) {
        bar->setValue(bar->minimum() + static_cast<int>(written));
        QCoreApplication::processEvents();
    });
}

} // namespace mosalune

// Mosalune.exe: the tile maker.

#include "common/programfiles.h"
#include "main/programsetup.h"
#include "main/splash/splashwindow.h"
#include "main/services.h"
#include "main/startupservices.h"
#include "main/mainwindow/mainwindow.h"
#include "main/versioncheck/versioncheckwindow.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/fonts.h"
#include "platform/instance.h"
#include "platform/netstate.h"
#include "picture/picturechild.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/stoppedupdate.h"
#include "platform/translations.h"
#include "platform/windowhabits.h"
#include "platform/windowfinder.h"

#include <QApplication>
#include <QDir>

// The support files live in a static library's resources, which the linker
// keeps only when something asks for them.
static void initSupportFiles()
{
    Q_INIT_RESOURCE(supportfiles);
}

int main(int argc, char **argv)
{
    if (const auto status = picture::runPictureChild(argc, argv))
        return *status;
    QApplication app(argc, argv);
    // The window class the menu entry names (StartupWMClass), whatever name
    // the program was started by; the entry's own name for Wayland.
    QCoreApplication::setApplicationName(QStringLiteral("Mosalune"));
    QGuiApplication::setDesktopFileName(QStringLiteral("mosalune"));
    platform::installFontFallbacks();
    platform::installChineseTranslations(app);
    platform::installWindowHabits(app);
    initSupportFiles();

    const platform::AppInfo info = mosalune::programInfo();
    const std::unique_ptr<platform::NetworkState> network = mosalune::programNetworkState();
    platform::QtDialogService dialogs;
    platform::SystemShell shell;
    platform::RuntimeDirWindows windows;
    // An update stopped among its renames is finished before any file of the
    // folder is used. A running updater is left to finish its own: its lock
    // is taken for the moment of the roll-forward only.
    {
        platform::LockFileInstance updater(QDir(info.folder).absoluteFilePath(common::updaterFileName));
        if (!updater.previousInstance())
            platform::finishStoppedUpdate(info.folder, dialogs);
    }
    mosalune::ProgramState state;
    mosalune::Services services{dialogs, shell, *network, windows, info, state};
    platform::QtResourceStore resources;
    platform::SharedSkinLibrary skin;
    mosalune::StartupServices startup{services, resources, skin};

    {
        mosalune::SplashWindow pre(startup);
        if (!pre.load())
            return 1;
    }

    // The start-up hands over to the main window or ends the program; the
    // end is queued so that it is seen by the running event loop.
    std::unique_ptr<mosalune::MainWindow> form;
    auto end = [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); };
    mosalune::VersionCheckWindow preud(startup);
    QObject::connect(&preud, &mosalune::VersionCheckWindow::showMainWindow, [&] {
        form = std::make_unique<mosalune::MainWindow>(services);
        if (!form->load()) {
            end();
            return;
        }
        form->show();
        // A picture handed over by the file manager ("Open with", the menu
        // entry's %f) or typed after the program's name.
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.size() > 1)
            form->openPicture(arguments.at(1));
    });
    QObject::connect(&preud, &mosalune::VersionCheckWindow::programEnds, end);
    preud.load();
    return app.exec();
}

// MSLUpdate.exe: the updater, started by the main program when the release
// page announces another version.

#include "common/programfiles.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/fonts.h"
#include "platform/instance.h"
#include "platform/netstate.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/stoppedupdate.h"
#include "platform/translations.h"
#include "platform/windowhabits.h"
#include "platform/windowfinder.h"
#include "updater/updatenoticewindow.h"
#include "updater/programsetup.h"
#include "updater/services.h"

#include <QApplication>
#include <QDir>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The forms end the updater themselves: between the notice window and
    // the download window there is a moment without a shown window.
    app.setQuitOnLastWindowClosed(false);
    platform::installFontFallbacks();
    platform::installChineseTranslations(app);
    platform::installWindowHabits(app);

    const platform::AppInfo info = mslupdate::programInfo();
    const std::unique_ptr<platform::NetworkState> network = mslupdate::programNetworkState();
    platform::QtDialogService dialogs;
    platform::SystemShell shell;
    platform::RuntimeDirWindows windows;
    // One updater per program folder: two would write the same files.
    platform::LockFileInstance instance(
        QDir(info.folder).absoluteFilePath(common::updaterFileName));
    // An update stopped among its renames is finished first, by whichever
    // program starts next; the lock keeps the main program out meanwhile.
    if (!instance.previousInstance())
        platform::finishStoppedUpdate(info.folder, dialogs);
    platform::SharedSkinLibrary skin;
    // The window paints and can be closed while its page is fetched, before
    // the event loop runs: an end asked for then must not be lost.
    bool ended = false;
    mslupdate::Services services{dialogs, shell,   *network,
                                 windows, windows, instance,
                                 skin,    info,    [&ended] {
                                     ended = true;
                                     QCoreApplication::exit(0);
                                 }};

    mslupdate::UpdateNoticeWindow form(services);
    if (!form.load() || ended)
        return 0;
    return app.exec();
}

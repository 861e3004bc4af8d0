// Mosalune.exe: the tile maker.

#include "main/programsetup.h"
#include "main/startup/services.h"
#include "main/tiles/form1.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/fonts.h"
#include "platform/netstate.h"
#include "platform/shell.h"
#include "platform/translations.h"
#include "platform/windowfinder.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    platform::installFontFallbacks();
    platform::installChineseTranslations(app);

    const platform::AppInfo info = mosalune::programInfo();
    const std::unique_ptr<platform::NetworkState> network = mosalune::programNetworkState();
    platform::QtDialogService dialogs;
    platform::SystemShell shell;
    platform::RuntimeDirWindows windows;
    mosalune::ProgramState state;
    mosalune::Services services{dialogs, shell, *network, windows, info, state};

    mosalune::Form1 form(services);
    if (!form.load())
        return 0;
    form.show();
    return app.exec();
}

// Times the first start's writing of the two skin files by the splash window
// (real resources, real window, progress and repaints included) against a
// plain write of the same bytes in the same run.
//
//     mosalune-bench-supportfiles [RUNS]     (default 25)

#include "main/splash/splashwindow.h"
#include "main/services.h"
#include "main/startupservices.h"
#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/netstate.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/windowfinder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class Offline : public platform::NetworkState
{
public:
    bool connected() override { return false; }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(supportfiles);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 25;

    platform::QtResourceStore resources;
    const QByteArray library = resources.customResource(101);
    const QByteArray theme = resources.customResource(102);

    std::vector<double> ours;
    std::vector<double> plain;
    for (int run = 0; run < runs; ++run) {
        {
            QTemporaryDir folder;
            platform::AppInfo info;
            info.folder = folder.path();
            platform::QtDialogService dialogs;
            platform::SystemShell shell;
            Offline network;
            platform::RuntimeDirWindows windows(folder.path());
            mosalune::ProgramState state;
            mosalune::Services services{dialogs, shell, network, windows, info, state};
            platform::SharedSkinLibrary skin;
            mosalune::StartupServices startup{services, resources, skin};
            mosalune::SplashWindow pre(startup);
            QElapsedTimer clock;
            clock.start();
            if (!pre.load())
                return 1;
            ours.push_back(clock.nsecsElapsed() / 1e6);
        }
        {
            // The peer: the same bytes written as two plain files, no
            // window, no temporary name, no flush to the disk.
            QTemporaryDir folder;
            QElapsedTimer clock;
            clock.start();
            for (const auto &[name, bytes] : {std::pair{"BrontelSkin.dll", &library}, std::pair{"Brontel.Skin", &theme}}) {
                QFile file(folder.filePath(QLatin1String(name)));
                if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size())
                    return 1;
            }
            plain.push_back(clock.nsecsElapsed() / 1e6);
        }
    }
    std::printf("support files written by SplashWindow (BrontelSkin.dll %lld B + Brontel.Skin %lld B), %d runs, platform %s\n",
                static_cast<long long>(library.size()), static_cast<long long>(theme.size()), runs,
                qPrintable(QGuiApplication::platformName()));
    std::printf("  SplashWindow (window shown, progress, temporary name, sync, rename): median %.2f ms\n", median(ours));
    std::printf("  plain QFile writes of the same bytes:                        median %.2f ms\n", median(plain));
    std::printf("  ratio ours/plain: %.1f   target: ours well under 50 ms -> %s\n", median(ours) / median(plain),
                median(ours) < 50.0 ? "met" : "NOT met");
    return 0;
}

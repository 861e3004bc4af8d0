// Runs the updater's download window on a release page, exactly as the
// updater does after "确定" (file list, every share page, one download at a
// time into a temporary file beside its target, all put in place at the end),
// without showing anything. Ends once the countdown would start; prints the
// files and the seconds it took. run.sh sets it against curl.
//
//     mslupdate-bench-update <release page address> <program folder> [release key]
//
// With a release key the window checks the signed list beside the page and
// every body's SHA-256, as a signed build does.

#include "platform/appinfo.h"
#include "platform/dialogs.h"
#include "platform/instance.h"
#include "platform/netstate.h"
#include "platform/shell.h"
#include "platform/skinlibrary.h"
#include "platform/timer.h"
#include "platform/windowfinder.h"
#include "updater/services.h"
#include "updater/downloadwindow.h"

#include "common/inet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>

#include <cstdio>

namespace {

// Nobody is there to answer: a message is printed and answered "No".
class PrintedDialogs : public platform::DialogService
{
public:
    platform::MessageAnswer msgBox(QWidget *, const QString &text, platform::MessageButtons,
                                   platform::MessageIcon, const QString &title) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        return platform::MessageAnswer::No;
    }
    QString openFileName(QWidget *, const QStringList &) override { return QString(); }
    void rememberFile(const QString &) override {}
};

class NoShell : public platform::Shell
{
public:
    bool openAddress(const QUrl &) override { return true; }
    bool startProgram(const QString &) override { return true; }
};

class Online : public platform::NetworkState
{
public:
    bool connected() override { return true; }
};

class NoWindows : public platform::WindowFinder, public platform::WindowPublisher
{
public:
    bool findWindow(const QString &, const QString &) override { return false; }
    std::unique_ptr<platform::WindowRegistration> publish(QWidget *, const QString &,
                                                          const QString &) override
    {
        return std::make_unique<platform::WindowRegistration>();
    }
};

class FirstInstance : public platform::InstanceCheck
{
public:
    bool previousInstance() override { return false; }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: mslupdate-bench-update <release page address> <program folder>"
                             " [release key]\n");
        return 2;
    }
    platform::AppInfo info;
    info.folder = QFileInfo(args.at(2)).absoluteFilePath();
    info.major = 13;
    info.minor = 4;
    info.revision = 20;
    info.releasePageUrl = args.at(1);
    info.releaseKey = args.value(3);

    PrintedDialogs dialogs;
    NoShell shell;
    Online network;
    NoWindows windows;
    FirstInstance instance;
    platform::SharedSkinLibrary skin;
    int code = 1;
    bool ended = false;
    mslupdate::Services services{
        dialogs, shell, network, windows, windows, instance, skin, info, [&] {
            ended = true;
            app.exit(code);
        }};

    QElapsedTimer clock;
    clock.start();
    mslupdate::DownloadWindow ud(services);
    QObject::connect(ud.Inet1, &common::Inet::finished, &app, [&] {
        if (ud.Timer1->interval() == 1000) {
            code = 0;
            std::printf("%d files in %.3f s\n", ud.List1()->count(),
                        double(clock.nsecsElapsed()) / 1e9);
            app.exit(0);
        }
    });
    ud.load();
    std::fprintf(stderr, "lists ready after %.3f s\n", double(clock.nsecsElapsed()) / 1e9);
    if (ended) // failed before anything was downloaded
        return code;
    return app.exec();
}

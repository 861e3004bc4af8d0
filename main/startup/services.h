#pragma once

#include <QString>

namespace platform {
class DialogService;
class Shell;
class NetworkState;
class WindowFinder;
struct AppInfo;
} // namespace platform

namespace mosalune {

// The main program's global values, shared by its forms.
struct ProgramState {
    QString AppDir;            // the program folder with one trailing separator
    bool NetConnected = false; // what the version check found
    QString PushMessage;       // the push text cut from the release page
};

// What the forms of the main program are given when they are made: main()
// passes the real services, tests pass doubles.
struct Services {
    platform::DialogService &dialogs;
    platform::Shell &shell;
    platform::NetworkState &network;
    platform::WindowFinder &windows;
    const platform::AppInfo &app;
    ProgramState &state;
    // The request time-out of the forms' transfer controls, in seconds.
    int requestTimeout = 60;
};

} // namespace mosalune

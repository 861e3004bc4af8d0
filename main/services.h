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
    bool PageTimedOut = false; // the version check's page fetch timed out
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
    // The request time-out of the forms' transfer controls, in seconds. The
    // start-up fetches the release page twice (version check, then the main
    // window) before the main window opens, which must be within 30 s of
    // start whatever the server does: 12 s each, and the second is not made
    // when the first timed out (ProgramState::PageTimedOut).
    int requestTimeout = 12;
};

} // namespace mosalune

#pragma once

#include <functional>

namespace platform {
class DialogService;
class Shell;
class NetworkState;
class WindowFinder;
class WindowPublisher;
class InstanceCheck;
class SkinLibrary;
struct AppInfo;
} // namespace platform

namespace mslupdate {

// What the updater's forms are given when they are made: main() passes the
// real services, tests pass doubles.
struct Services {
    platform::DialogService &dialogs;
    platform::Shell &shell;
    platform::NetworkState &network;
    platform::WindowFinder &windows;
    platform::WindowPublisher &publisher;
    platform::InstanceCheck &instance;
    platform::SkinLibrary &skin;
    const platform::AppInfo &app;
    // Ends the updater at once: no further handler of it runs.
    std::function<void()> endProgram;
    // The request time-out of the forms' transfer controls, in seconds.
    int requestTimeout = 60;
};

} // namespace mslupdate

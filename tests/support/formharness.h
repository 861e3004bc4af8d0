#pragma once

// One main window with stand-ins for the platform, for the form tests.

#include "support/fakeservices.h"

#include "main/services.h"
#include "main/mainwindow/mainwindow.h"
#include "platform/appinfo.h"

#include <QDir>

#include <memory>

struct FormHarness {
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    fakes::FakeNetworkState network{true};
    fakes::FakeWindowFinder fakeWindows;
    platform::WindowFinder *windows = &fakeWindows;
    platform::AppInfo app;
    mosalune::ProgramState state;
    std::unique_ptr<mosalune::Services> services;
    std::unique_ptr<mosalune::MainWindow> form;

    explicit FormHarness(const QString &releasePage, const QString &folder = QDir::tempPath())
    {
        app.folder = folder;
        app.major = 13;
        app.minor = 4;
        app.revision = 20;
        app.releasePageUrl = releasePage;
    }

    // The services the forms are given, from the stand-ins as they are set
    // now.
    mosalune::Services &makeServices(int timeoutSeconds = 5)
    {
        services = std::make_unique<mosalune::Services>(
            mosalune::Services{dialogs, shell, network, *windows, app, state, timeoutSeconds});
        return *services;
    }

    // Makes the window and runs its load; returns what the load returned.
    bool open(int timeoutSeconds = 5)
    {
        form = std::make_unique<mosalune::MainWindow>(makeServices(timeoutSeconds));
        const bool ok = form->load();
        if (ok)
            form->show();
        return ok;
    }
};

#pragma once

// The updater's windows with stand-ins for the platform, and release pages
// whose files and share pages the fixture server serves.

#include "support/pagebuilder.h"
#include "fixtureserver.h"
#include "support/fakeservices.h"

#include "platform/appinfo.h"
#include "updater/updatenoticewindow.h"
#include "updater/services.h"
#include "updater/downloadwindow.h"

#include <QDir>

#include <memory>

struct UpdaterHarness {
    fakes::FakeDialogs dialogs;
    fakes::FakeShell shell;
    fakes::FakeNetworkState network{true};
    fakes::FakeWindowFinder windows;
    fakes::FakeInstance instance;
    fakes::FakeSkinLibrary skin;
    platform::AppInfo app;
    int ends = 0;
    std::unique_ptr<mslupdate::Services> services;
    std::unique_ptr<mslupdate::UpdateNoticeWindow> form;
    std::unique_ptr<mslupdate::DownloadWindow> ud;

    UpdaterHarness(const QString &releasePage, const QString &folder)
    {
        app.folder = folder;
        app.major = 13;
        app.minor = 4;
        app.revision = 20;
        app.releasePageUrl = releasePage;
    }

    mslupdate::Services &makeServices(int timeoutSeconds = 5)
    {
        services = std::make_unique<mslupdate::Services>(
            mslupdate::Services{dialogs, shell, network, windows, windows, instance, skin, app,
                                [this] { ++ends; }, timeoutSeconds});
        return *services;
    }

    // The notice window, made and loaded; returns what the load returned.
    bool openNotice()
    {
        form = std::make_unique<mslupdate::UpdateNoticeWindow>(makeServices());
        return form->load();
    }

    // The download window on its own, made and loaded.
    mslupdate::DownloadWindow &openDownload()
    {
        ud = std::make_unique<mslupdate::DownloadWindow>(makeServices());
        ud->load();
        return *ud;
    }
};

// A release page listing files (name, body path on the server), each through
// a share page of its own on the server. A body path "share:<path>" gives the
// entry that share page instead (for share pages made by the test).
inline QString releasePageFor(FixtureServer &server, const QList<QPair<QString, QString>> &files,
                              const QString &version = QStringLiteral("13.04.21"))
{
    // Every page gets share pages of its own, so pages made one after the
    // other (as data rows are) do not overwrite each other's.
    static int pageNumber = 0;
    ++pageNumber;
    pagebuilder::ReleasePage page;
    page.version = version;
    page.files.clear();
    int ordinal = 1;
    for (const auto &[name, bodyPath] : files) {
        QString share;
        if (bodyPath.startsWith(QStringLiteral("share:"))) {
            share = bodyPath.mid(6);
        } else {
            share = QStringLiteral("/share/%1/%2.html").arg(pageNumber).arg(ordinal);
            // The direct address as the share service writes it, &amp; and all.
            const QString direct =
                server.address(bodyPath) + QStringLiteral("?dl=1&amp;n=%1").arg(ordinal);
            server.writeFile(share.mid(1), pagebuilder::sharePage(direct).toUtf8());
        }
        page.files << pagebuilder::fileEntry(
            ordinal, name, server.address(share) + QStringLiteral("?from=page&amp;x=1"));
        ++ordinal;
    }
    return page.build();
}

#pragma once

#include <QString>

namespace platform {

// What a program knows about itself: its folder and the version numbers of
// its version resource, plus the one outside setting, the release page.
struct AppInfo {
    QString folder; // the program's folder, without a trailing separator
    int major = 0;
    int minor = 0;
    int revision = 0;
    QString releasePageUrl;
    // The minisign public key releases are signed with; empty: unsigned.
    QString releaseKey;

    // The real values of the running program, from the build.
    static AppInfo current();
};

} // namespace platform

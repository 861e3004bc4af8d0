#pragma once

#include <QString>

// Internals of the lock-file window registry, shared with its tests.
namespace platform::windowfiles {

// Common start of the lock file names of every window with this class and
// title. Class and title are hashed so that any title makes a valid file name.
QString namePrefix(const QString &windowClass, const QString &title);

// Makes sure that path is a folder that only the current user can reach:
// creates it 0700 when missing; refuses a symlink, a folder of another user
// or one that others may write to. Returns false when it cannot be trusted.
bool ensurePrivateFolder(const QString &path);

// The folder used when none is given: below $XDG_RUNTIME_DIR when that is a
// private folder of the user, otherwise below the temp folder. Empty when
// neither can be trusted. Shared by every display of the user: what is
// locked there (one updater per program folder) is one per user.
QString defaultFolder();

// The name of the desktop the program shows its windows on, made for a file
// name: the Wayland display for Wayland, the X display without its screen
// number for X (":0.1" is on the desktop of ":0"), else the platform's name.
QString displayScope(const QString &platformName);

// Where the windows shown on that platform's desktop are published: a
// private folder per display below defaultFolder(), so that a window on
// another display (another session of the user) is not found. Empty when
// no private folder can be had.
QString displayFolder(const QString &platformName);

} // namespace platform::windowfiles

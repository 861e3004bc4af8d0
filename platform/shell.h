#pragma once

#include "platform/appinfo.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace platform {

// Opens addresses and starts programs with a normal, focused window,
// detached, without waiting for them.
class Shell
{
public:
    virtual ~Shell() = default;
    // Opens the address with the desktop's default handler; false when
    // nothing could open it.
    virtual bool openAddress(const QUrl &address) = 0;
    // Starts the program without arguments; false when it could not be
    // started.
    virtual bool startProgram(const QString &path) = 0;
};

// Opens addresses through the desktop and starts programs as processes.
class SystemShell : public Shell
{
public:
    using AddressOpener = std::function<bool(const QUrl &address)>;

    // Opens addresses with the desktop's default handler.
    SystemShell();
    // Opens addresses with opener instead.
    explicit SystemShell(AddressOpener opener);

    bool openAddress(const QUrl &address) override;
    bool startProgram(const QString &path) override;

private:
    AddressOpener m_openAddress;
};

// The address as something to open: a web address as written, a path as a
// local file.
QUrl addressToUrl(const QString &address);

// Opens the program's release page, as configured, in the browser.
bool openReleasePage(Shell &shell, const AppInfo &app);

// Hands the address to the desktop's default handler.
bool openWithDesktop(const QUrl &address);

} // namespace platform

#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace platform {

// Runs a command line with a normal, focused window, detached, without
// waiting for it.
class Shell
{
public:
    virtual ~Shell() = default;
    // Returns false when the program could not be started.
    virtual bool run(const QString &commandLine) = 0;
};

// "explorer.exe " followed by an address opens the address with the desktop's
// default browser; any other command line starts its program detached.
class SystemShell : public Shell
{
public:
    using AddressOpener = std::function<bool(const QUrl &address)>;

    // Opens addresses with the desktop's default handler.
    SystemShell();
    // Opens addresses with opener instead.
    explicit SystemShell(AddressOpener opener);

    bool run(const QString &commandLine) override;

private:
    AddressOpener m_openAddress;
};

// The address of a command line "explorer.exe <address>", or nothing when
// the command line starts another program.
std::optional<QString> explorerAddress(const QString &commandLine);

// The address as something to open: a web address as written, a path as a
// local file.
QUrl addressToUrl(const QString &address);

// Hands the address to the desktop's default handler.
bool openWithDesktop(const QUrl &address);

} // namespace platform

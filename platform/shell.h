#pragma once

#include <QString>

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
    bool run(const QString &commandLine) override;
};

} // namespace platform

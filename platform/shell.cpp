#include "platform/shell.h"

#include <QDir>
#include <QProcess>

namespace platform {

QUrl addressToUrl(const QString &address)
{
    return QUrl::fromUserInput(address, QDir::currentPath());
}

bool openReleasePage(Shell &shell, const AppInfo &app)
{
    return shell.openAddress(addressToUrl(app.releasePageUrl));
}

SystemShell::SystemShell()
    : m_openAddress(openWithDesktop)
{
}

SystemShell::SystemShell(AddressOpener opener)
    : m_openAddress(std::move(opener))
{
}

bool SystemShell::openAddress(const QUrl &address)
{
    return address.isValid() && !address.isEmpty() && m_openAddress(address);
}

bool SystemShell::startProgram(const QString &path)
{
    return !path.isEmpty() && QProcess::startDetached(path, {});
}

} // namespace platform

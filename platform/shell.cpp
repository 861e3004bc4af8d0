#include "platform/shell.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

namespace platform {

std::optional<QString> explorerAddress(const QString &commandLine)
{
    static const QString program = QStringLiteral("explorer.exe");
    // Windows names are case-insensitive; the address starts after the
    // blanks that follow the program name.
    if (!commandLine.startsWith(program, Qt::CaseInsensitive))
        return std::nullopt;
    const QStringView rest = QStringView(commandLine).mid(program.size());
    if (!rest.isEmpty() && !rest.front().isSpace())
        return std::nullopt;
    QStringView address = rest.trimmed();
    if (address.size() >= 2 && address.front() == u'"' && address.back() == u'"')
        address = address.mid(1, address.size() - 2);
    return address.toString();
}

QUrl addressToUrl(const QString &address)
{
    return QUrl::fromUserInput(address, QDir::currentPath());
}

SystemShell::SystemShell()
    : m_openAddress(openWithDesktop)
{
}

SystemShell::SystemShell(AddressOpener opener)
    : m_openAddress(std::move(opener))
{
}

bool SystemShell::run(const QString &commandLine)
{
    if (const std::optional<QString> address = explorerAddress(commandLine)) {
        const QUrl url = addressToUrl(*address);
        return url.isValid() && !url.isEmpty() && m_openAddress(url);
    }
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return QProcess::startDetached(program, arguments);
}

} // namespace platform

#include "platform/shell.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>

namespace platform {

bool openWithDesktop(const QUrl &address)
{
    // Qt knows the desktop's own way (portals, the session's settings) when a
    // real display is there; headless platforms have no handler at all.
    if (qGuiApp) {
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")
            && QDesktopServices::openUrl(address))
            return true;
    }
    return QProcess::startDetached(QStringLiteral("xdg-open"),
                                   {address.toString(QUrl::FullyEncoded)});
}

} // namespace platform

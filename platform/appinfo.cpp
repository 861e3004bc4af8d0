#include "platform/appinfo.h"

#include "buildinfo.h"

#include <QCoreApplication>

namespace platform {

AppInfo AppInfo::current()
{
    AppInfo info;
    info.folder = QCoreApplication::applicationDirPath();
    info.major = buildinfo::versionMajor;
    info.minor = buildinfo::versionMinor;
    info.revision = buildinfo::versionRevision;
    info.releasePageUrl = QString::fromUtf8(buildinfo::releasePageUrl);
    info.releaseKey = QString::fromLatin1(buildinfo::releaseKey);
    return info;
}

} // namespace platform

#pragma once

#include "common/programfiles.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {
class ResourceStore;
}

namespace mosalune {

// The files the program writes beside itself when they are missing, with the
// ids of the resources that hold them.
struct SupportFile {
    int resourceId;
    QString name;
};
inline const SupportFile skinLibraryFile{101, common::skinLibraryFileName};
inline const SupportFile skinThemeFile{102, common::skinThemeFileName};
inline const SupportFile textFiles[] = {
    {103, QStringLiteral("License.txt")},
    {104, QStringLiteral("ReadMe.txt")},
    {105, QStringLiteral("WhatsNew.txt")},
    {106, QStringLiteral("广告合作及其协议.txt")},
};

// The program folder with exactly one trailing separator; a folder that ends
// in one already (the root) stays as it is.
QString appDirFor(const QString &programFolder);

// Whether a support file is there. Anything under that name counts: what
// the user put there is never replaced.
bool supportFileExists(const QString &appDir, const QString &name);

// The name a support file is written under until it is complete.
QString partialName(const QString &name);

// Writes bytes as appDir + name: first under a temporary name in the same
// folder, flushed to the disk, then renamed into place, so that an
// interrupted write never leaves a file under the real name. written is
// called after each chunk of at most chunkSize bytes with the count written
// so far. Throws common::RunError naming the file and the reason; nothing of
// the file is left behind then.
void writeSupportFile(const QString &appDir, const QString &name, const QByteArray &bytes,
                      qsizetype chunkSize = 0,
                      const std::function<void(qsizetype written)> &written = {});

// Writes each of the four text files that is missing from appDir, from its
// resource. Throws common::RunError as writeSupportFile does.
void writeMissingTextFiles(const QString &appDir, platform::ResourceStore &resources);

} // namespace mosalune

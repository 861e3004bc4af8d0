#include "main/supportfiles.h"

#include "common/errors.h"
#include "platform/resources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace mosalune {

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The reason in the user's words, with the system's own text for whoever
// has to look further.
QString reasonFor(const QFile &file, const QString &appDir)
{
    QString reason;
    switch (file.error()) {
    case QFileDevice::ResourceError:
        reason = QStringLiteral("磁盘空间不足或系统资源不足");
        break;
    case QFileDevice::OpenError:
        reason = QFileInfo(appDir).isDir() && !QFileInfo(appDir).isWritable()
            ? QStringLiteral("程序所在的文件夹不允许写入")
            : QStringLiteral("无法创建文件");
        break;
    case QFileDevice::RenameError:
        reason = QStringLiteral("无法把写好的文件改成正式的文件名");
        break;
    default:
        reason = QStringLiteral("写入磁盘失败");
        break;
    }
    const QString system = file.errorString();
    return system.isEmpty() ? reason : reason + QStringLiteral("（") + system + QStringLiteral("）");
}

[[noreturn]] void fail(const QString &path, const QString &reason)
{
    throw common::RunError(QStringLiteral("无法写入文件 %1\n原因：%2").arg(shown(path), reason));
}

// The data must be on the disk before the rename makes it the real file:
// after a power cut the name must not point at a file that was never written.
bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_UNIX
    return ::fsync(file.handle()) == 0;
#else
    return true;
#endif
}

} // namespace

QString appDirFor(const QString &programFolder)
{
    const QString folder = QDir::fromNativeSeparators(programFolder);
    if (folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

bool supportFileExists(const QString &appDir, const QString &name)
{
    const QFileInfo info(appDir + name);
    // A dangling link is something the user put there too.
    return info.exists() || info.isSymLink();
}

QString partialName(const QString &name)
{
    return name + QStringLiteral(".part");
}

void writeSupportFile(const QString &appDir, const QString &name, const QByteArray &bytes,
                      qsizetype chunkSize, const std::function<void(qsizetype)> &written)
{
    const QString target = appDir + name;
    // Whatever is under the temporary name, a partial file of an earlier,
    // interrupted start or a link someone planted there, is removed (a link
    // itself, never what it points to), and the file is created afresh:
    // opened only if nothing is there, so a link put back in between makes
    // the write fail instead of writing through it.
    QFile file(appDir + partialName(name));
    QFile::remove(file.fileName());
    // Unbuffered: what the progress reports as written is in the file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        fail(target, reasonFor(file, appDir));
    const qsizetype step = chunkSize > 0 ? chunkSize : qMax<qsizetype>(bytes.size(), 1);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qsizetype size = qMin(step, bytes.size() - done);
        if (file.write(bytes.constData() + done, size) != size) {
            const QString reason = reasonFor(file, appDir);
            file.remove();
            fail(target, reason);
        }
        done += size;
        if (written)
            written(done);
    }
    if (!syncToDisk(file)) {
        const QString reason = reasonFor(file, appDir);
        file.remove();
        fail(target, reason);
    }
    file.close();
    if (supportFileExists(appDir, name)) {
        // Someone put the file there while it was being written: theirs stays.
        file.remove();
        return;
    }
    if (!file.rename(target)) {
        const QString reason = reasonFor(file, appDir);
        file.remove();
        fail(target, reason);
    }
}

void writeMissingTextFiles(const QString &appDir, platform::ResourceStore &resources)
{
    for (const SupportFile &file : textFiles) {
        const QString &name = file.name;
        if (!supportFileExists(appDir, name))
            writeSupportFile(appDir, name, resources.customResource(file.resourceId));
    }
}

} // namespace mosalune

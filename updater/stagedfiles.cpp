#include "updater/stagedfiles.h"

#include "common/fspath.h"
#include "common/programfiles.h"
#include "common/replacejournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace mslupdate {

namespace {

bool failWith(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

QString reason(const std::error_code &code)
{
    return QString::fromLocal8Bit(code.message().c_str());
}

// Permissions for a file that replaces nothing: what a program file or a
// data file is normally given.
fs::perms freshPermissions(const QString &target)
{
    const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write |
                               fs::perms::group_read | fs::perms::others_read;
    if (target.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive))
        return readable | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return readable;
}

} // namespace

StagedFiles::StagedFiles(QString folder) : m_folder(std::move(folder)) {}

StagedFiles::~StagedFiles()
{
    discard();
}

bool StagedFiles::adopt(const QString &fileName, const QString &contentPath, QString *error)
{
    const QFileInfo content(contentPath);
    if (contentPath.isEmpty() || !content.isFile())
        return failWith(error, QStringLiteral("下载的文件已不存在：%1").arg(fileName));
    if (content.absoluteDir() != QDir(m_folder) || !common::isBodyFileName(content.fileName())) {
        QFile::remove(contentPath);
        return failWith(
            error, QStringLiteral("下载的文件不在 %1 中").arg(QDir::toNativeSeparators(m_folder)));
    }
    m_entries.append({QDir(m_folder).filePath(fileName), content.absoluteFilePath()});
    return true;
}

bool StagedFiles::commit(QString *error)
{
    // Everything that can be found out before the first rename is found out
    // before it.
    for (const Entry &entry : std::as_const(m_entries)) {
        std::error_code code;
        const fs::path target = common::toFsPath(entry.target);
        const fs::file_status old = fs::symlink_status(target, code);
        const bool exists = !code && fs::exists(old);
        if (exists && !fs::is_regular_file(old))
            return failWith(error, QStringLiteral("无法替换 %1：它不是一个普通文件")
                                       .arg(QDir::toNativeSeparators(entry.target)));
        if (!fs::is_regular_file(fs::status(common::toFsPath(entry.staged), code)))
            return failWith(error, QStringLiteral("下载的文件已不存在：%1")
                                       .arg(QDir::toNativeSeparators(entry.staged)));
        const fs::perms mode = exists ? old.permissions() : freshPermissions(entry.target);
        fs::permissions(common::toFsPath(entry.staged), mode, fs::perm_options::replace, code);
        if (code)
            return failWith(error, QStringLiteral("无法设置 %1 的权限：%2")
                                       .arg(QDir::toNativeSeparators(entry.staged), reason(code)));
    }
    QList<common::ReplaceMove> moves;
    for (const Entry &entry : std::as_const(m_entries)) {
        // The bodies' bytes reach the disk before the journal promises them.
        QFile body(entry.staged);
        if (!body.open(QIODevice::ReadOnly) || ::fsync(body.handle()) != 0)
            return failWith(error, QStringLiteral("无法写入 %1").arg(
                                       QDir::toNativeSeparators(entry.staged)));
        moves.append({QFileInfo(entry.staged).fileName(), QFileInfo(entry.target).fileName()});
    }
    // A journal that the next start could not read back would not finish
    // anything (a listed name shaped like a body, say).
    if (!common::readReplaceJournal(common::replaceJournalBytes(moves)))
        return failWith(error, QStringLiteral("更新文件的名字不能用于更新记录"));
    if (!common::writeReplaceJournal(m_folder, moves, error))
        return false;
    // From here on the staged files belong to the journal, whatever happens.
    m_entries.clear();
    return common::carryOutReplace(m_folder, moves, error);
}

void StagedFiles::discard()
{
    for (const Entry &entry : std::as_const(m_entries))
        QFile::remove(entry.staged);
    m_entries.clear();
}

void StagedFiles::removeLeftovers(const QString &folder)
{
    // The transfer control's bodies, named after its template.
    QDir dir(folder);
    const QStringList needed = common::journalBodies(folder);
    const QString bodies = QString(common::downloadBodyTemplate).replace(QLatin1Char('X'), QLatin1Char('?'));
    const QStringList leftovers = dir.entryList({bodies},
                                                QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : leftovers) {
        if (!needed.contains(name))
            dir.remove(name);
    }
}

} // namespace mslupdate

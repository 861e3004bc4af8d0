#include "main/mainwindow/updaterswap.h"

#include "common/fspath.h"

#include <QDir>

#include <filesystem>
#include <system_error>

namespace mosalune {

bool hasNewUpdater(const QString &folder)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(
        common::toFsPath(QDir(folder).filePath(newUpdaterFileName)), ec);
}

SwapResult replaceUpdater(const QString &folder, QString *error)
{
    const std::filesystem::path oldFile = common::toFsPath(QDir(folder).filePath(updaterFileName));
    const std::filesystem::path newFile = common::toFsPath(QDir(folder).filePath(newUpdaterFileName));
    std::error_code ec;
    const auto oldStatus = std::filesystem::status(oldFile, ec);
    if (ec || !std::filesystem::is_regular_file(oldStatus))
        return SwapResult::NotPossible;
    const auto newStatus = std::filesystem::status(newFile, ec);
    if (ec || !std::filesystem::is_regular_file(newStatus))
        return SwapResult::NotPossible;

    // rename() replaces the target in one step (MoveFileEx with
    // replace-existing on Windows). It needs only the folder to be writable,
    // so it comes first: a permission copy that is refused (the file belongs
    // to another user) must not keep the new updater out.
    std::filesystem::rename(newFile, oldFile, ec);
    if (ec) {
        if (error)
            *error = QString::fromStdString(ec.message());
        return SwapResult::Failed;
    }
    std::filesystem::permissions(oldFile, oldStatus.permissions(),
                                 std::filesystem::perm_options::replace, ec);
    return SwapResult::Swapped;
}

} // namespace mosalune

#include "main/startup/updaterswap.h"

#include "common/fspath.h"

#include <QDir>

#include <filesystem>
#include <system_error>

namespace mosalune {

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

    std::filesystem::permissions(newFile, oldStatus.permissions(),
                                 std::filesystem::perm_options::replace, ec);
    if (ec) {
        if (error)
            *error = QString::fromStdString(ec.message());
        return SwapResult::Failed;
    }
    // rename() replaces the target in one step (MoveFileEx with
    // replace-existing on Windows).
    std::filesystem::rename(newFile, oldFile, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::permissions(newFile, newStatus.permissions(),
                                     std::filesystem::perm_options::replace, ignored);
        if (error)
            *error = QString::fromStdString(ec.message());
        return SwapResult::Failed;
    }
    return SwapResult::Swapped;
}

} // namespace mosalune

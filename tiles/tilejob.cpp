#include "tiles/tilejob.h"

#include "tiles/tilegeometry.h"
#include "tiles/tilewriter.h"
#include "picture/corethread.h"
#include "picture/picturedecoder.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <exception>

#include <sys/stat.h>

namespace tiles {

QImage loadDisplay(const QString &path, bool *damaged)
{
    const QImage picture =
        picture::loadPictureStretched(path, displayOuterSize, boxBackground(), damaged);
    try {
        return paintDisplay(picture);
    } catch (...) {
        throw picture::PictureError(); // out of memory: no picture to show
    }
}

int tileThatIsThePicture(const QString &picture, const QString &folder, const QStringList &names)
{
    // The file's identity, not its spelling: "./1.jpg", a link or a second
    // hard link to the picture are all the picture.
    struct stat source;
    if (::stat(QFile::encodeName(picture).constData(), &source) != 0)
        return 0;
    const int count = names.isEmpty() ? tileCount : int(names.size());
    for (int tile = 1; tile <= count; ++tile) {
        struct stat target;
        const QString path = folder + (names.isEmpty() ? tileFileName(tile) : names.at(tile - 1));
        if (::stat(QFile::encodeName(path).constData(), &target) == 0
            && target.st_dev == source.st_dev && target.st_ino == source.st_ino)
            return tile;
    }
    return 0;
}

QString pictureIsATileMessage(const QString &picture, int tile, const QString &name)
{
    return QStringLiteral("图片 %1 就是要写入的第 %2 块 %3，切图会用它自己的一块把它覆盖，"
                          "所以什么也没写。请先把图片改名或移到别的文件夹。")
        .arg(QDir::toNativeSeparators(picture))
        .arg(tile)
        .arg(name.isEmpty() ? tileFileName(tile) : name);
}

QString loadFailureReason(picture::PictureError::Cause cause)
{
    using Cause = picture::PictureError::Cause;
    switch (cause) {
    case Cause::NoSuchFile:
        return QStringLiteral("找不到文件");
    case Cause::NameNotUtf8:
        return QStringLiteral("无法打开文件，文件名不是 UTF-8 编码");
    case Cause::Folder:
        return QStringLiteral("这是文件夹，不是图片");
    case Cause::Unreadable:
        return QStringLiteral("无法读取文件");
    case Cause::NotAPicture:
        break;
    }
    return picture::PictureError().message(); // the window's one text for the rest
}

QString loadFailedMessage(picture::PictureError::Cause cause, const QString &path)
{
    using Cause = picture::PictureError::Cause;
    if (cause != Cause::NoSuchFile && cause != Cause::NameNotUtf8)
        return loadFailureReason(Cause::NotAPicture);
    return QStringLiteral("%1：%2").arg(loadFailureReason(cause), QDir::toNativeSeparators(path));
}

namespace {

// Tiles first..last cut and written to `files`, not yet in place. The tile
// that could not be ends it; the error says which and why.
std::exception_ptr makeTiles(const QImage &display, const QString &folder, int first, int last,
                    TileFiles &files, const std::function<void(int, const QImage &)> &onTile)
{
    for (int tile = first; tile <= last; ++tile) {
        const QString path = folder + tileFileName(tile);
        try {
            const QImage canvas = cutTile(display, tile);
            if (onTile)
                onTile(tile, canvas);
            files.add(canvas, path);
        } catch (const TileWriteError &) {
            return std::current_exception();
        } catch (...) {
            // Out of memory, say: the tile is not written, and no more.
            return std::make_exception_ptr(
                TileWriteError(path, writeFailedMessage(path, ENOMEM), ENOMEM));
        }
    }
    files.syncData();
    return nullptr;
}

} // namespace

void writeTiles(const QImage &display, const QString &folder,
                const std::function<void(int, const QImage &)> &onTile)
{
    // Written one after the other, put in place together: one sync of the
    // folder for all eight.
    TileFiles files;
    std::exception_ptr failed;
    TileFiles bottom;
    std::exception_ptr bottomFailed;
    // With no window to show each tile as it is made, the bottom row is
    // made on another core meanwhile.
    picture::CoreThread helper(
        [&] { bottomFailed = makeTiles(display, folder, 5, tileCount, bottom, {}); });
    if (!onTile && QThread::idealThreadCount() > 1 && helper.start()) {
        failed = makeTiles(display, folder, 1, 4, files, {});
        helper.join();
        if (!failed) {
            files.append(std::move(bottom));
            failed = bottomFailed;
        }
    } else {
        failed = makeTiles(display, folder, 1, tileCount, files, onTile);
    }
    // All or nothing: a tile that could not be made leaves the old ones
    // (the files made so far are dropped with `files`).
    if (failed)
        std::rethrow_exception(failed);
    files.commit();
}

} // namespace tiles

#include "main/tiles/tilejob.h"

#include "main/tiles/tilegeometry.h"
#include "main/tiles/tilewriter.h"
#include "platform/picturedecoder.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace tiles {

QImage loadDisplay(const QString &path, bool *damaged)
{
    const QImage picture =
        platform::loadPictureStretched(path, displayOuterSize, boxBackground(), damaged);
    try {
        return paintDisplay(picture);
    } catch (...) {
        throw platform::PictureError(); // out of memory: no picture to show
    }
}

int tileThatIsThePicture(const QString &picture, const QString &folder)
{
    // The file's identity, not its spelling: "./1.jpg", a link or a second
    // hard link to the picture are all the picture.
    struct stat source;
    if (::stat(QFile::encodeName(picture).constData(), &source) != 0)
        return 0;
    for (int tile = 1; tile <= tileCount; ++tile) {
        struct stat target;
        const QString path = folder + tileFileName(tile);
        if (::stat(QFile::encodeName(path).constData(), &target) == 0
            && target.st_dev == source.st_dev && target.st_ino == source.st_ino)
            return tile;
    }
    return 0;
}

QString pictureIsATileMessage(const QString &picture, int tile)
{
    return QStringLiteral("图片 %1 就是要写入的第 %2 块 %3，切图会用它自己的一块把它覆盖，"
                          "所以什么也没写。请先把图片改名或移到别的文件夹。")
        .arg(QDir::toNativeSeparators(picture))
        .arg(tile)
        .arg(tileFileName(tile));
}

void writeTiles(const QImage &display, const QString &folder,
                const std::function<void(int, const QImage &)> &onTile)
{
    // Written one after the other, put in place together: one sync of the
    // folder for all eight.
    BitmapFiles files;
    for (int tile = 1; tile <= tileCount; ++tile) {
        const QString path = folder + tileFileName(tile);
        try {
            const QImage canvas = cutTile(display, tile);
            if (onTile)
                onTile(tile, canvas);
            files.add(canvas, path);
        } catch (const TileWriteError &) {
            files.commit(); // the tiles before it stay
            throw;
        } catch (...) {
            // Out of memory, say: the tile is not written, and no more.
            files.commit();
            throw TileWriteError(path, writeFailedMessage(path));
        }
    }
    files.commit();
}

} // namespace tiles

#include "main/tiles/tilejob.h"

#include "main/tiles/tilegeometry.h"
#include "main/tiles/tilewriter.h"
#include "platform/picturedecoder.h"

namespace tiles {

QImage loadDisplay(const QString &path)
{
    const QImage picture = platform::loadPictureStretched(path, displayOuterSize, boxBackground());
    try {
        return paintDisplay(picture);
    } catch (...) {
        throw platform::PictureError(); // out of memory: no picture to show
    }
}

void writeTiles(const QImage &display, const QString &folder,
                const std::function<void(int, const QImage &)> &onTile)
{
    for (int tile = 1; tile <= tileCount; ++tile) {
        const QString path = folder + tileFileName(tile);
        try {
            const QImage canvas = cutTile(display, tile);
            if (onTile)
                onTile(tile, canvas);
            saveBitmap(canvas, path);
        } catch (const TileWriteError &) {
            throw;
        } catch (...) {
            // Out of memory, say: the tile is not written, and no more.
            throw TileWriteError(path, writeFailedMessage(path));
        }
    }
}

} // namespace tiles

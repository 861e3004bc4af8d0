#include "main/tiles/tilejob.h"

#include "main/tiles/tilegeometry.h"
#include "main/tiles/tilewriter.h"
#include "platform/picturedecoder.h"

namespace tiles {

QImage loadDisplay(const QString &path)
{
    return paintDisplay(platform::loadPictureStretched(path, displayOuterSize, boxBackground()));
}

void writeTiles(const QImage &display, const QString &folder,
                const std::function<void(int, const QImage &)> &onTile)
{
    for (int tile = 1; tile <= tileCount; ++tile) {
        const QImage canvas = cutTile(display, tile);
        if (onTile)
            onTile(tile, canvas);
        saveBitmap(canvas, folder + tileFileName(tile));
    }
}

} // namespace tiles

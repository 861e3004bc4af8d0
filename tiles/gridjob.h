#pragma once

#include "common/errors.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <vector>

// The command-line cutter's grid job: any grid of square tiles cut from the
// picture at any size up to its own resolution, stretched, cropped or padded
// to the grid's shape, written as real JPEG, PNG, WebP or bitmap files, all
// or nothing. The window's job (tilejob.h) is the default one and is not
// this.
namespace tiles {

enum class Fit { Stretch, Crop, Pad };
enum class TileFormat { Bmp, Jpeg, Png, Webp };

struct GridOptions {
    int columns = 4;
    int rows = 2;
    int size = 146; // each tile's edge in pixels; 0: the picture's own pixels
    int gap = 0;    // left out between neighbouring tiles
    Fit fit = Fit::Stretch;
    QColor background = Qt::white; // around a padded picture
    TileFormat format = TileFormat::Bmp;
    int quality = 92;      // JPEG and WebP
    bool lossless = false; // the JPEG's own blocks, cropped
};

inline constexpr int minTileSize = 16;
inline constexpr int maxTileSize = 8192;
inline constexpr int maxGridSide = 10;
inline constexpr int maxGap = 200;

// A grid job refused before anything was written; the message says why.
class GridError : public common::RunError
{
public:
    using RunError::RunError;
};

// Tile `tile` (1..columns*rows)'s file name: its number and the extension
// of its format.
QString gridTileName(const GridOptions &options, int tile);

// The tiles' edge for a picture of `picture` pixels, upright.
int tileEdge(const GridOptions &options, QSize picture);
// The grid's area for tiles of `edge` pixels, gaps included.
QSize gridArea(const GridOptions &options, int edge);
// Tile `tile`'s square in the area.
QRect tileSquare(const GridOptions &options, int edge, int tile);
// The picture's pixels that fill the area when cropped (the whole picture
// otherwise).
QRect croppedPart(const GridOptions &options, QSize picture, QSize area);
// The area with the picture in it as `options.fit` says.
QImage fitToArea(const QImage &picture, const GridOptions &options, QSize area);

// One tile's file content, marked sRGB where the format can say so.
QByteArray encodeTile(QImage tile, const GridOptions &options);

// The lossless tiles of a JPEG file's bytes, in tile order. Throws GridError
// when the picture cannot be cut without re-encoding.
std::vector<QByteArray> losslessTiles(const QString &path, const GridOptions &options);

// Cuts the picture into folder + gridTileName(...) for every tile, all or
// nothing (throws picture::PictureError, GridError or TileWriteError).
// `damaged` is set when the picture could be read only in part.
void cutGrid(const QString &picture, const QString &folder, const GridOptions &options,
             bool *damaged = nullptr);

} // namespace tiles

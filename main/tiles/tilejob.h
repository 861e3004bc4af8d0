#pragma once

#include <QImage>
#include <QString>

#include <functional>

// The tile job as one straight pipe: picture file -> display image ->
// eight canvas images -> eight bitmap files. The main window and the
// command-line cutter both run it, so they write the same files.
namespace tiles {

// Decodes the picture (no larger than the display needs) and stretches it
// into the display box. Throws platform::PictureError.
QImage loadDisplay(const QString &path);

// Cuts the display image into tiles 1..8 and writes each as
// folder + "N.jpg". onTile sees every canvas image before it is saved. Stops
// at the first file that cannot be written (throws TileWriteError); the files
// written before it stay.
void writeTiles(const QImage &display, const QString &folder,
                const std::function<void(int tile, const QImage &canvas)> &onTile = {});

} // namespace tiles

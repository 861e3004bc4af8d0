#pragma once

#include "picture/picturedecoder.h"

#include <QImage>
#include <QString>

#include <functional>

// The tile job as one straight pipe: picture file -> display image ->
// eight canvas images -> eight bitmap files. The main window and the
// command-line cutter both run it, so they write the same files.
namespace tiles {

// Decodes the picture (no larger than the display needs) and stretches it
// into the display box.
// Throws picture::PictureError. `damaged` (when given) is set when the
// file was cut short or corrupt and only part of it could be shown.
QImage loadDisplay(const QString &path, bool *damaged = nullptr);

// The tile (1..8) whose file in `folder` is the picture itself, under any
// name or link, or 0. Cutting it would destroy the picture with its own
// tile, so both the window and the tool refuse before writing anything.
// `names` are the tiles' file names when they are not 1.jpg ... 8.jpg.
int tileThatIsThePicture(const QString &picture, const QString &folder,
                         const QStringList &names = {});

// What the user is told when the cut is refused for that reason; `name` is
// the tile's file name when it is not N.jpg.
QString pictureIsATileMessage(const QString &picture, int tile, const QString &name = {});

// Why a picture could not be loaded, in a few words ("找不到文件", ...).
QString loadFailureReason(picture::PictureError::Cause cause);
// What the window says when `path` could not be loaded: the file that is
// not there, or whose name cannot be read, is named; for anything else the
// one text "图片格式错误".
QString loadFailedMessage(picture::PictureError::Cause cause, const QString &path);

// Cuts the display image into tiles 1..8 and writes each as
// folder + "N.jpg". onTile sees every canvas image before it is saved. All or
// nothing: at the first file that cannot be written it throws TileWriteError
// and every old tile stays as it was. When it returns, all eight are on the
// disk.
void writeTiles(const QImage &display, const QString &folder,
                const std::function<void(int tile, const QImage &canvas)> &onTile = {});

} // namespace tiles

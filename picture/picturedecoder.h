#pragma once

#include "common/errors.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

namespace picture {

// A file that is not a picture we can read (or no file at all). The message
// is the window's one text for all of these; cause() tells them apart for
// tools that report per file.
class PictureError : public common::RunError
{
public:
    // NameNotUtf8: not there under the name as given, which had bytes that
    // are not UTF-8 (a GBK name from an archive, say) and so was not read
    // as the file system spells it.
    enum class Cause { NotAPicture, NoSuchFile, Folder, Unreadable, NameNotUtf8 };
    explicit PictureError(Cause cause = Cause::NotAPicture);
    Cause cause() const noexcept { return m_cause; }

private:
    Cause m_cause;
};

// The most pixels a picture may have, 128 Mi (16384 x 8192; a 100-megapixel
// camera's photos fit). A file whose header claims more is refused before it
// is decoded: decoded whole at 4 bytes a pixel it is 512 MiB, and reading it
// row by row still takes seconds. With it, a decode stays under 1 GiB.
inline constexpr qint64 maxPicturePixels = qint64(1) << 27;

// Reads a picture file and renders it at exactly `size` pixels, stretched
// without keeping its aspect ratio, the way a picture box stretches a picture
// into its frame. Decodes no larger than needed (JPEG is decoded at 1/2, 1/4
// or 1/8 scale when that still covers `size`), turns photos upright by their
// EXIF orientation, and paints pictures with transparency over `background`.
//
// Reads Windows bitmaps, GIF, JPEG, PNG, icons, cursors, Windows metafiles and
// enhanced metafiles (and whatever else Qt's image readers know), by content,
// not by file name. Throws PictureError for anything else. A JPEG that is cut
// short or corrupt is shown as far as it can be read, with `damaged` set.
QImage loadPictureStretched(const QString &path, QSize size, const QColor &background,
                           bool *damaged = nullptr);

// The same picture at its own resolution (a metafile at 1600 x 800): every
// pixel, upright, over `background` where it is transparent. A picture with
// a colour profile comes in sRGB from both (an untagged one as it is).
QImage loadPictureUpright(const QString &path, const QColor &background,
                          bool *damaged = nullptr);

// The file name endings of the kinds of picture loadPictureStretched reads,
// lower case and without the dot, for file dialogs to offer (the reading
// itself goes by content).
QStringList pictureSuffixes();

} // namespace picture

#pragma once

#include "picture/decoded.h"

#include <QByteArray>

class QFile;

namespace picture {

// Still WebP pictures straight from libwebp, turned by the EXIF orientation
// their EXIF chunk carries. Animations are not handled here (Qt's reader
// gives their first frame), nor is anything that is not a WebP.
Decoded decodeWebp(const QString &path, QSize atLeast);

// The same on the file's bytes, turned by `orientation` (1..8). A picture
// more than twice `size` either way (once turned) is scaled by libwebp while
// it decodes, to exactly `size`; a smaller one comes at its own size.
Decoded decodeWebpScaled(const QByteArray &file, QSize size, int orientation);

// The EXIF orientation a WebP file carries in its EXIF chunk, or 1; the
// file's read position is kept. Qt's WebP reader does not look at it.
int webpOrientation(QFile &file);

} // namespace picture

#pragma once

#include "picture/decoded.h"

#include "picture/decoded.h"

#include <QImage>
#include <QSize>
#include <QString>

namespace picture {

// Reads HEIC/HEIF and AVIF files through libheif: the primary image, turned
// and cropped as the file says, taken from a thumbnail instead when one
// covers `atLeast`, and averaged down to at most twice
// `atLeast` in each direction. Pictures with transparency come premultiplied.
Decoded decodeHeif(const QString &path, QSize atLeast);

// Averages an interleaved 8-bit RGB or RGBA picture down by whole blocks so
// that it still covers `atLeast`. channels is 3 or 4.
QImage reduceInterleaved(const uchar *data, int width, int height, qsizetype stride, int channels,
                         QSize atLeast);

} // namespace picture

#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace picture {

enum class HeifResult {
    NotHandled, // not a HEIF or AVIF file
    Failed,     // one, but damaged or of a kind we cannot decode
    Decoded,
};

// Reads HEIC/HEIF and AVIF files through libheif: the primary image, turned
// and cropped as the file says, taken from a thumbnail instead when one
// covers `atLeast`, and averaged down to at most twice
// `atLeast` in each direction. Pictures with transparency come premultiplied.
HeifResult decodeHeif(const QString &path, QSize atLeast, QImage *out);

// Averages an interleaved 8-bit RGB or RGBA picture down by whole blocks so
// that it still covers `atLeast`. channels is 3 or 4.
QImage reduceInterleaved(const uchar *data, int width, int height, qsizetype stride, int channels,
                         QSize atLeast);

} // namespace picture

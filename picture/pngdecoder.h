#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace picture {

// What the reduced PNG path made of a file.
enum class PngResult {
    NotHandled, // not a PNG this path takes (small, interlaced): read it the general way
    Failed,     // a PNG that breaks off or is damaged
    Decoded,
};

// Reads a large non-interlaced PNG row by row straight from libpng and
// averages blocks of pixels on the way, so the whole picture is never held:
// the result covers `atLeast` and is at most twice as large in each
// direction. Pictures with transparency come premultiplied.
PngResult decodePngReduced(const QString &path, QSize atLeast, QImage *out);

} // namespace picture

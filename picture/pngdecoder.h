#pragma once

#include "picture/decoded.h"

namespace picture {

// Reads a large non-interlaced PNG row by row straight from libpng and
// averages blocks of pixels on the way, so the whole picture is never held:
// the result covers `atLeast` and is at most twice as large in each
// direction. Pictures with transparency come premultiplied.
// Small and interlaced PNGs are not handled here: Qt's reader takes them.
Decoded decodePngReduced(const QString &path, QSize atLeast);

} // namespace picture

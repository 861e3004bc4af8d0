#pragma once

#include <QImage>
#include <QSize>

class QByteArray;

namespace picture {

// Decodes a still WebP picture straight from libwebp. A picture more than
// twice `size` in both directions (after turning it by `orientation`, the
// EXIF orientation it carries) is scaled by libwebp while it decodes, to
// exactly `size` once turned; a smaller one comes at its own size.
// Animations and anything that is not a WebP give a null image (the general
// reader then takes them); `failed` tells a damaged WebP from those.
QImage decodeWebpScaled(const QByteArray &file, QSize size, int orientation, bool *failed);

} // namespace picture

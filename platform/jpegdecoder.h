#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace platform {

// Decodes a baseline or progressive JPEG straight from libjpeg, shrinking in
// the DCT (1/2, 1/4, 1/8) as far as the result still covers `atLeast` after
// the photo is turned upright, and turns it upright by its EXIF orientation.
// Returns a null image when the file is not a JPEG this path handles (the
// general reader then gets its turn).
QImage decodeJpegUpright(const QString &path, QSize atLeast);

// The EXIF orientation (1..8) stored in an APP1 segment's payload, or 1.
int exifOrientation(const QByteArray &app1);

// Turns an image stored with EXIF orientation `orientation` upright.
QImage applyOrientation(const QImage &stored, int orientation);

} // namespace platform

#pragma once

#include <QByteArray>
#include <QImage>

namespace picture {

// The EXIF orientation (1..8) stored in an APP1 segment's payload, or 1.
int exifOrientation(const QByteArray &app1);

// Turns an image stored with EXIF orientation `orientation` upright.
QImage applyOrientation(const QImage &stored, int orientation);

} // namespace picture

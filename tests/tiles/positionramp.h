#pragma once

#include "tiles/tilegeometry.h"

#include <QColor>
#include <QImage>

// A display image whose pixels carry their own position with sub-pixel
// precision: red = 160 * x, green = 320 * y, on 16 bits per channel. Linear
// filtering of such a ramp gives back the exact sampled position.
inline QImage positionRamp()
{
    QImage image(tiles::displayInteriorSize, QImage::Format_RGBA64);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor::fromRgba64(quint16(160 * x), quint16(320 * y), 0));
    return image;
}

#pragma once

#include <QImage>
#include <QSize>

namespace tiles {

// `picture` at `size` (RGB32): averaged over each target pixel's area where
// it shrinks, bicubic (Catmull-Rom) where it grows, the same image where
// the size is its own.
QImage resampled(const QImage &picture, QSize size);

} // namespace tiles

#pragma once

#include <QColorSpace>
#include <QImage>
#include <QString>

namespace picture {

// The colour space of the ICC profile a JPEG (APP2), PNG (iCCP) or WebP
// (ICCP) file carries, read from its head without decoding a pixel; an
// invalid one when it has none or Qt cannot use it. Our own decoders of
// these formats give bare pixels, so the profile is looked up here.
QColorSpace embeddedColourSpace(const QString &path);

// Whether pixels in `space` are sRGB as they are: untagged, or tagged sRGB.
bool isSrgb(const QColorSpace &space);

// `image` in sRGB: converted from the space it is tagged with, or from
// `fallback` when it carries none. An untagged picture is left exactly as
// it is (taken to be sRGB already).
QImage inSrgb(QImage image, const QColorSpace &fallback = {});

} // namespace picture

#include "tiles/resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tiles {

namespace {

float catmullRom(float x)
{
    x = std::fabs(x);
    if (x < 1.0f)
        return (1.5f * x - 2.5f) * x * x + 1.0f;
    if (x < 2.0f)
        return ((-0.5f * x + 2.5f) * x - 4.0f) * x + 2.0f;
    return 0.0f;
}

// One enlarging pass along x (`horizontal`) or y: four source pixels, edges
// repeated, weighted for each target pixel.
QImage bicubicPass(const QImage &source, int length, bool horizontal)
{
    const int from = horizontal ? source.width() : source.height();
    const int across = horizontal ? source.height() : source.width();
    QImage out(horizontal ? QSize(length, across) : QSize(across, length), QImage::Format_RGB32);
    const double scale = double(from) / length;
    for (int t = 0; t < length; ++t) {
        const double centre = (t + 0.5) * scale - 0.5;
        const int base = int(std::floor(centre));
        float weight[4];
        int at[4];
        for (int k = 0; k < 4; ++k) {
            weight[k] = catmullRom(float(centre - (base - 1 + k)));
            at[k] = std::clamp(base - 1 + k, 0, from - 1);
        }
        for (int a = 0; a < across; ++a) {
            float sum[3] = {0, 0, 0};
            for (int k = 0; k < 4; ++k) {
                const QRgb p = horizontal ? reinterpret_cast<const QRgb *>(source.constScanLine(a))[at[k]]
                                          : reinterpret_cast<const QRgb *>(source.constScanLine(at[k]))[a];
                sum[0] += weight[k] * qRed(p);
                sum[1] += weight[k] * qGreen(p);
                sum[2] += weight[k] * qBlue(p);
            }
            const auto clamp = [](float v) { return std::clamp(int(std::lround(v)), 0, 255); };
            QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(horizontal ? a : t));
            line[horizontal ? t : a] = qRgb(clamp(sum[0]), clamp(sum[1]), clamp(sum[2]));
        }
    }
    return out;
}

} // namespace

QImage resampled(const QImage &picture, QSize size)
{
    QImage image = picture.convertToFormat(QImage::Format_RGB32);
    if (image.size() == size)
        return image;
    // Qt's smooth scaling averages areas when it shrinks: first the sides
    // that shrink, then the ones that grow, bicubic.
    const QSize shrunk(std::min(size.width(), image.width()), std::min(size.height(), image.height()));
    if (shrunk != image.size())
        image = image.scaled(shrunk, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (size.width() > image.width())
        image = bicubicPass(image, size.width(), true);
    if (size.height() > image.height())
        image = bicubicPass(image, size.height(), false);
    return image;
}

} // namespace tiles

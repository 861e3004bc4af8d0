#include "tiles/tilegeometry.h"

#include <QPainter>

namespace tiles {

QColor boxBackground()
{
    return QColor(240, 240, 240);
}

TwipRect sourceRect(int tile, float sw, float sh)
{
    // Every intermediate result is a single, as the window's arithmetic is;
    // a 2-twip strip on each side of every cut line belongs to no tile.
    const float q = sw / 4.0f;
    const float h = sh / 2.0f;
    const int column = (tile - 1) % 4; // 0..3
    const bool bottom = tile > 4;

    TwipRect r;
    switch (column) {
    case 0:
        r.x = 0.0f;
        break;
    case 1:
        r.x = q + 2.0f;
        break;
    case 2:
        r.x = 2.0f * q + 2.0f;
        break;
    default:
        r.x = 3.0f * q + 2.0f;
        break;
    }
    r.width = (column == 0 || column == 3) ? q - 2.0f : q - 4.0f;
    r.y = bottom ? h + 2.0f : 0.0f;
    // The two middle tiles of the bottom row lose 4 twips in height, the
    // others 2; the row's outer tiles still end exactly at the bottom edge.
    r.height = (bottom && (column == 1 || column == 2)) ? h - 4.0f : h - 2.0f;
    return r;
}

QString tileFileName(int tile)
{
    return QString::number(tile) + QStringLiteral(".jpg");
}

QRectF toPixels(const TwipRect &rect)
{
    const double k = twipsPerPixel;
    return QRectF(rect.x / k, rect.y / k, rect.width / k, rect.height / k);
}

QImage emptyDisplay()
{
    QImage image(displayInteriorSize, QImage::Format_RGB32);
    image.fill(boxBackground());
    return image;
}

QImage paintDisplay(const QImage &stretchedPicture)
{
    QImage image = emptyDisplay();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(displayOuterSize)), stretchedPicture);
    return image;
}

QImage cutTile(const QImage &display, int tile)
{
    const float sw = float(display.width() * twipsPerPixel);
    const float sh = float(display.height() * twipsPerPixel);
    QImage canvas(canvasInteriorSize, display.format());
    canvas.fill(boxBackground());
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(canvasOuterSize)), display,
                      toPixels(sourceRect(tile, sw, sh)));
    return canvas;
}

} // namespace tiles

#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

#include <array>

// The tile work's fixed geometry. The window is laid out in twips (15 to a
// pixel at 96 dpi) and the pixel geometry of 96 dpi is kept on every screen,
// so a picture gives the same tiles whatever display it was cut on.
namespace tiles {

inline constexpr int twipsPerPixel = 15;
inline constexpr int tileCount = 8;

// The display box p1: outer 400 x 200 px, a 2-px sunken border, so a drawable
// interior of 396 x 196 px. A picture is stretched to the outer size and drawn
// from the interior's corner; its right and bottom 4 px fall outside.
inline constexpr QSize displayOuterSize(400, 200);
inline constexpr QSize displayInteriorSize(396, 196);
// The canvas Picture1: outer 150 x 150 px, interior 146 x 146 px.
inline constexpr QSize canvasOuterSize(150, 150);
inline constexpr QSize canvasInteriorSize(146, 146);

// What a picture box shows where no picture covers it (the button face).
QColor boxBackground();

// A source rectangle in twips, single precision as the layout arithmetic is.
struct TwipRect {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

// Tile 1..8: 1 to 4 the top row left to right, 5 to 8 the bottom row. sw, sh
// are the display box's interior width and height in twips.
TwipRect sourceRect(int tile, float sw, float sh);
QString tileFileName(int tile);

// A twip rectangle in the source picture's own pixels, fractions kept.
QRectF toPixels(const TwipRect &rect);

// The display box's image after a picture has been stretched into it.
QImage paintDisplay(const QImage &stretchedPicture);
// An empty display box's image.
QImage emptyDisplay();

// Tile `tile` of a display image: its source rectangle stretched to the
// canvas's outer size and clipped to the canvas's interior. Keeps the display
// image's pixel format.
QImage cutTile(const QImage &display, int tile);

} // namespace tiles

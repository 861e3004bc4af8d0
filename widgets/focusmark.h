#pragma once

#include <QPainter>
#include <QRect>

namespace widgets {

// The keyboard focus drawn as a dotted frame just inside `rect`: black dots
// on a white line, so it shows over any picture, banner or theme.
inline void drawFocusMark(QPainter &painter, const QRect &rect)
{
    const QRect frame = rect.adjusted(0, 0, -1, -1);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(frame);
    // Every other pixel, as the desktops these users come from draw it.
    QPen dots(Qt::black, 1, Qt::CustomDashLine);
    dots.setDashPattern({1, 1});
    painter.setPen(dots);
    painter.drawRect(frame);
    painter.restore();
}

} // namespace widgets

#pragma once

// What an X server shows, read back from it: the only way to see whether a
// program of its own has painted its window.

#include <QImage>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

// A part of the root window of `display` (":N"), or a null image.
inline QImage grabScreen(const QString &display, const QRect &area)
{
    xcb_connection_t *connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    QImage image;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, int16_t(area.x()),
                          int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
            nullptr);
        // A 24-bit screen sends 32 bits a pixel, blue first: Qt's RGB32.
        if (reply && reply->depth == 24
            && xcb_get_image_data_length(reply) == area.width() * area.height() * 4) {
            image = QImage(area.size(), QImage::Format_RGB32);
            const uint8_t *data = xcb_get_image_data(reply);
            for (int y = 0; y < area.height(); ++y)
                std::memcpy(image.scanLine(y), data + y * area.width() * 4, size_t(area.width()) * 4);
        }
        std::free(reply);
    }
    xcb_disconnect(connection);
    return image;
}

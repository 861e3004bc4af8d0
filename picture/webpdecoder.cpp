#include "picture/webpdecoder.h"

#include "picture/picturedecoder.h"

#include <QByteArray>

#include <webp/decode.h>

namespace picture {

QImage decodeWebpScaled(const QByteArray &file, QSize size, int orientation, bool *failed)
{
    *failed = false;
    const auto *data = reinterpret_cast<const uint8_t *>(file.constData());
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return {};
    if (WebPGetFeatures(data, size_t(file.size()), &config.input) != VP8_STATUS_OK)
        return {};
    if (config.input.has_animation)
        return {};
    const int width = config.input.width;
    const int height = config.input.height;
    // A lossless picture is decoded whole however it is scaled: 30 bytes
    // can claim 16384 x 16384, a gigabyte.
    if (qint64(width) * height > maxPicturePixels) {
        *failed = true;
        return {};
    }
    // The size asked for is in the stored orientation, before turning.
    const QSize stored = orientation >= 5 ? size.transposed() : size;
    QSize out(width, height);
    // Larger than twice the box one way is reason enough: an extended WebP
    // may claim a canvas of millions of pixels by a few hundred, gigabytes
    // decoded whole, and the box shows it at its own size anyway.
    if (width > stored.width() * 2 || height > stored.height() * 2) {
        config.options.use_scaling = 1;
        config.options.scaled_width = stored.width();
        config.options.scaled_height = stored.height();
        out = stored;
    }
    const bool alpha = config.input.has_alpha;
    QImage image(out, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.isNull()) {
        *failed = true;
        return {};
    }
    // Straight into the image's memory, in its own byte order.
    config.output.colorspace = alpha ? MODE_bgrA : MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(data, size_t(file.size()), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        *failed = true;
        return {};
    }
    return image;
}

} // namespace picture

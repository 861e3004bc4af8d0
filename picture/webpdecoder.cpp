#include "picture/webpdecoder.h"

#include "picture/orientation.h"
#include "picture/picturedecoder.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <webp/decode.h>

namespace picture {

Decoded decodeWebpScaled(const QByteArray &file, QSize size, int orientation)
{
    const auto *data = reinterpret_cast<const uint8_t *>(file.constData());
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Decoded::notHandled();
    if (WebPGetFeatures(data, size_t(file.size()), &config.input) != VP8_STATUS_OK)
        return Decoded::notHandled();
    if (config.input.has_animation)
        return Decoded::notHandled();
    const int width = config.input.width;
    const int height = config.input.height;
    // A lossless picture is decoded whole however it is scaled: 30 bytes
    // can claim 16384 x 16384, a gigabyte.
    if (qint64(width) * height > maxPicturePixels) {
        return Decoded::failed();
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
        return Decoded::failed();
    }
    // Straight into the image's memory, in its own byte order.
    config.output.colorspace = alpha ? MODE_bgrA : MODE_BGRA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(data, size_t(file.size()), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return Decoded::failed();
    return Decoded::picture(applyOrientation(image, orientation));
}

int webpOrientation(QFile &file)
{
    const qint64 start = file.pos();
    int orientation = 1;
    QByteArray riff = file.read(12);
    if (riff.size() == 12 && riff.startsWith("RIFF") && riff.mid(8, 4) == "WEBP") {
        // Chunk headers only: the pictures' data is skipped, not read.
        for (int chunks = 0; chunks < 64; ++chunks) {
            const QByteArray header = file.read(8);
            if (header.size() < 8)
                break;
            const quint32 length = qFromLittleEndian<quint32>(header.constData() + 4);
            if (header.startsWith("EXIF")) {
                if (length > 1024 * 1024)
                    break;
                QByteArray exif = file.read(length);
                if (!exif.startsWith(QByteArray("Exif\0\0", 6)))
                    exif.prepend(QByteArray("Exif\0\0", 6));
                orientation = exifOrientation(exif);
                break;
            }
            if (!file.seek(file.pos() + length + (length & 1)))
                break;
        }
    }
    file.seek(start);
    return orientation;
}

Decoded decodeWebp(const QString &path, QSize atLeast)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Decoded::notHandled();
    const QByteArray head = file.read(12);
    if (!head.startsWith("RIFF") || head.mid(8, 4) != "WEBP" || !file.seek(0))
        return Decoded::notHandled();
    // Decoded from memory: a WebP larger than this is no picture we show.
    if (file.size() > 256 * 1024 * 1024)
        return Decoded::failed();
    const int turn = webpOrientation(file);
    return decodeWebpScaled(file.readAll(), atLeast, turn);
}

} // namespace picture

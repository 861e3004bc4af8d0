#include "platform/jpegdecoder.h"

#include <QFile>
#include <QTransform>
#include <QtEndian>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <jpeglib.h>
}

namespace platform {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void onError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

void onMessage(j_common_ptr, int) {}

struct Decoded {
    unsigned char *pixels = nullptr;
    int width = 0;
    int height = 0;
    int orientation = 1;
};

// The largest DCT shrink (8, 4, 2 or 1) that still covers the size needed.
int scaleDenominator(int width, int height, int needWidth, int needHeight)
{
    int denominator = 8;
    while (denominator > 1
           && ((width + denominator - 1) / denominator < needWidth
               || (height + denominator - 1) / denominator < needHeight))
        denominator /= 2;
    return denominator;
}

// Kept free of C++ objects with destructors: libjpeg reports errors by
// jumping out of it.
bool decode(std::FILE *file, int needWidth, int needHeight, Decoded *out)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    unsigned char *volatile pixels = nullptr;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(pixels);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);

    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1) {
            const int o = exifOrientation(QByteArray::fromRawData(
                reinterpret_cast<const char *>(m->data), qsizetype(m->data_length)));
            if (o != 1) {
                out->orientation = o;
                break;
            }
        }
    }
    // Colour spaces other than YCbCr and grey (CMYK, YCCK) go the general way.
    if (info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_GRAYSCALE
        && info.jpeg_color_space != JCS_RGB) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    // Sizes before turning: a photo turned a quarter swaps what it must cover.
    info.scale_denom = unsigned(scaleDenominator(
        int(info.image_width), int(info.image_height),
        out->orientation >= 5 ? needHeight : needWidth,
        out->orientation >= 5 ? needWidth : needHeight));
    info.scale_num = 1;
    info.out_color_space = JCS_EXT_BGRX;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);

    const size_t stride = size_t(info.output_width) * 4;
    pixels = static_cast<unsigned char *>(std::malloc(stride * info.output_height));
    if (!pixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    out->width = int(info.output_width);
    out->height = int(info.output_height);
    out->pixels = pixels;
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

int exifOrientation(const QByteArray &app1)
{
    // "Exif\0\0", then a TIFF header and its first directory.
    if (app1.size() < 14 || !app1.startsWith(QByteArray("Exif\0\0", 6)))
        return 1;
    const QByteArray tiff = app1.mid(6);
    const bool little = tiff.startsWith("II");
    if (!little && !tiff.startsWith("MM"))
        return 1;
    auto u16 = [&](qsizetype at) -> quint32 {
        if (at < 0 || at + 2 > tiff.size())
            return 0;
        return little ? qFromLittleEndian<quint16>(tiff.constData() + at)
                      : qFromBigEndian<quint16>(tiff.constData() + at);
    };
    auto u32 = [&](qsizetype at) -> quint32 {
        if (at < 0 || at + 4 > tiff.size())
            return 0;
        return little ? qFromLittleEndian<quint32>(tiff.constData() + at)
                      : qFromBigEndian<quint32>(tiff.constData() + at);
    };
    const quint32 directory = u32(4);
    if (directory < 8 || directory + 2 > quint32(tiff.size()))
        return 1;
    const quint32 entries = u16(directory);
    for (quint32 i = 0; i < entries; ++i) {
        const qsizetype entry = qsizetype(directory) + 2 + qsizetype(i) * 12;
        if (entry + 12 > tiff.size())
            break;
        if (u16(entry) == 0x0112) { // Orientation, a SHORT stored in place
            const quint32 value = u16(entry + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

QImage applyOrientation(const QImage &stored, int orientation)
{
    switch (orientation) {
    case 2:
        return stored.mirrored(true, false);
    case 3:
        return stored.mirrored(true, true);
    case 4:
        return stored.mirrored(false, true);
    case 5:
        return stored.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return stored.transformed(QTransform().rotate(90));
    case 7:
        return stored.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return stored.transformed(QTransform().rotate(270));
    default:
        return stored;
    }
}

QImage decodeJpegUpright(const QString &path, QSize atLeast)
{
    std::FILE *stream = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!stream)
        return {};
    unsigned char head[3] = {};
    if (std::fread(head, 1, 3, stream) != 3 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF
        || std::fseek(stream, 0, SEEK_SET) != 0) {
        std::fclose(stream);
        return {};
    }
    Decoded decoded;
    const bool ok = decode(stream, atLeast.width(), atLeast.height(), &decoded);
    std::fclose(stream);
    if (!ok)
        return {};
    const QImage stored(decoded.pixels, decoded.width, decoded.height, decoded.width * 4,
                        QImage::Format_RGB32, std::free, decoded.pixels);
    return applyOrientation(stored, decoded.orientation);
}

} // namespace platform

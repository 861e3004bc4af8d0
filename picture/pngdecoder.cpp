#include "picture/pngdecoder.h"

#include "picture/picturedecoder.h"

#include <QFile>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <png.h>

namespace picture {

namespace {

void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Everything the decode allocates, so that one place frees it whichever way
// the decode ends (libpng reports errors by jumping out).
struct Buffers {
    unsigned char *row = nullptr;
    std::uint64_t *sums = nullptr;
    int *column = nullptr;   // input column -> output column
    int *perColumn = nullptr; // input columns per output column
    unsigned char *pixels = nullptr;
};

void release(Buffers *b)
{
    std::free(b->row);
    std::free(b->sums);
    std::free(b->column);
    std::free(b->perColumn);
    std::free(b->pixels);
    std::free(b);
}

// How the rows arrive and what they are averaged down to.
struct Layout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool alpha = false;
    size_t step = 4; // bytes a pixel in a row
    size_t blue = 0;
    size_t red = 2;
    int outWidth = 0;
    int outHeight = 0;
};

// Everything below is kept free of C++ objects with destructors while
// libpng may jump out of it.

// Reads the header and sets the library to deliver 8-bit pixels; false when
// the file goes the general way.
bool readLayout(png_structp png, png_infop info, int needWidth, int needHeight, Layout *layout)
{
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int colorType = png_get_color_type(png, info);
    // A few kilobytes of zeros inflate to any number of rows: past the
    // bound, no reader gets to spend minutes on them.
    if (std::uint64_t(width) * height > std::uint64_t(maxPicturePixels))
        png_error(png, "too many pixels");
    // Interlaced rows arrive in passes, and small pictures gain nothing:
    // both go the general way.
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE
        || width <= png_uint_32(needWidth) * 2 || height <= png_uint_32(needHeight) * 2)
        return false;
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // 8-bit RGB and RGBA, nearly every large PNG, are taken as stored: the
    // library's own conversions cost a fifth of the time. The rest is
    // brought to 8-bit BGRA first.
    const bool asStored = png_get_bit_depth(png, info) == 8
                          && (colorType == PNG_COLOR_TYPE_RGB_ALPHA
                              || (colorType == PNG_COLOR_TYPE_RGB
                                  && !png_get_valid(png, info, PNG_INFO_tRNS)));
    layout->width = width;
    layout->height = height;
    layout->alpha = alpha;
    layout->step = asStored && colorType == PNG_COLOR_TYPE_RGB ? 3 : 4;
    layout->blue = asStored ? 2 : 0;
    layout->red = asStored ? 0 : 2;
    if (!asStored) {
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        if (!alpha)
            png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    }
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * layout->step)
        png_error(png, "unexpected row layout");
    // Whole blocks of input pixels per output pixel; the output still covers
    // what is needed.
    layout->outWidth = int(width / (width / png_uint_32(needWidth)));
    layout->outHeight = int(height / (height / png_uint_32(needHeight)));
    return true;
}

void allocate(png_structp png, const Layout &layout, Buffers *buffers)
{
    const size_t width = layout.width;
    const size_t outWidth = size_t(layout.outWidth);
    buffers->row = static_cast<unsigned char *>(std::malloc(width * 4));
    buffers->sums = static_cast<std::uint64_t *>(std::calloc(outWidth * 4, sizeof(std::uint64_t)));
    buffers->column = static_cast<int *>(std::malloc(width * sizeof(int)));
    buffers->perColumn = static_cast<int *>(std::calloc(outWidth, sizeof(int)));
    buffers->pixels = static_cast<unsigned char *>(std::malloc(outWidth * 4 * size_t(layout.outHeight)));
    if (!buffers->row || !buffers->sums || !buffers->column || !buffers->perColumn || !buffers->pixels)
        png_error(png, "out of memory");
    for (png_uint_32 x = 0; x < layout.width; ++x) {
        buffers->column[x] = int(std::uint64_t(x) * std::uint64_t(layout.outWidth) / layout.width);
        ++buffers->perColumn[buffers->column[x]];
    }
}

// Adds the row just read to its output columns' sums.
void addRow(const Layout &layout, Buffers *buffers)
{
    const unsigned char *p = buffers->row;
    if (layout.alpha) {
        // Averaged premultiplied, so transparent pixels add no colour.
        for (png_uint_32 x = 0; x < layout.width; ++x, p += 4) {
            std::uint64_t *s = buffers->sums + size_t(buffers->column[x]) * 4;
            const unsigned a = p[3];
            s[0] += unsigned(p[layout.blue]) * a;
            s[1] += unsigned(p[1]) * a;
            s[2] += unsigned(p[layout.red]) * a;
            s[3] += a * 255u;
        }
    } else {
        for (png_uint_32 x = 0; x < layout.width; ++x, p += layout.step) {
            std::uint64_t *s = buffers->sums + size_t(buffers->column[x]) * 4;
            s[0] += p[layout.blue];
            s[1] += p[1];
            s[2] += p[layout.red];
        }
    }
}

// Writes the averages of the `rows` rows summed into output row `outRow`,
// and starts the next block afresh.
void writeAverages(const Layout &layout, int outRow, std::uint64_t rows, Buffers *buffers)
{
    unsigned char *o = buffers->pixels + size_t(outRow) * size_t(layout.outWidth) * 4;
    const std::uint64_t scale = layout.alpha ? 255 : 1;
    for (int x = 0; x < layout.outWidth; ++x, o += 4) {
        const std::uint64_t n = std::uint64_t(buffers->perColumn[x]) * rows * scale;
        const std::uint64_t *s = buffers->sums + size_t(x) * 4;
        o[0] = static_cast<unsigned char>((s[0] + n / 2) / n);
        o[1] = static_cast<unsigned char>((s[1] + n / 2) / n);
        o[2] = static_cast<unsigned char>((s[2] + n / 2) / n);
        o[3] = layout.alpha ? static_cast<unsigned char>((s[3] + n / 2) / n) : 0xff;
    }
    std::memset(buffers->sums, 0, size_t(layout.outWidth) * 4 * sizeof(std::uint64_t));
}

void reduceRows(png_structp png, const Layout &layout, Buffers *buffers)
{
    int outRow = 0;
    std::uint64_t rowsInBlock = 0;
    for (png_uint_32 y = 0; y < layout.height; ++y) {
        png_read_row(png, buffers->row, nullptr);
        addRow(layout, buffers);
        ++rowsInBlock;
        const int nextRow = int(std::uint64_t(y + 1) * std::uint64_t(layout.outHeight) / layout.height);
        if (nextRow != outRow || y + 1 == layout.height) {
            writeAverages(layout, outRow, rowsInBlock, buffers);
            rowsInBlock = 0;
            outRow = nextRow;
        }
    }
}

Decoded decode(std::FILE *file, int needWidth, int needHeight)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png)
        return Decoded::failed();
    png_infop info = png_create_info_struct(png);
    // On the heap: what a jump finds there is what was stored last, unlike
    // locals changed after setjmp.
    Buffers *const buffers = info ? static_cast<Buffers *>(std::calloc(1, sizeof(Buffers))) : nullptr;
    if (!buffers) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return Decoded::failed();
    }
    if (setjmp(png_jmpbuf(png))) {
        release(buffers);
        png_destroy_read_struct(&png, &info, nullptr);
        return Decoded::failed();
    }
    png_init_io(png, file);
    Layout layout;
    const bool handled = readLayout(png, info, needWidth, needHeight, &layout);
    if (handled) {
        allocate(png, layout, buffers);
        reduceRows(png, layout, buffers);
        png_read_end(png, nullptr);
    }
    // No jump comes past here.
    unsigned char *const pixels = buffers->pixels;
    buffers->pixels = nullptr;
    release(buffers);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!handled)
        return Decoded::notHandled();
    return Decoded::picture(QImage(pixels, layout.outWidth, layout.outHeight, layout.outWidth * 4,
                                   layout.alpha ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_RGB32,
                                   std::free, pixels));
}

} // namespace

Decoded decodePngReduced(const QString &path, QSize atLeast)
{
    if (atLeast.width() < 1 || atLeast.height() < 1)
        return Decoded::notHandled();
    std::FILE *stream = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!stream)
        return Decoded::notHandled();
    unsigned char signature[8] = {};
    if (std::fread(signature, 1, 8, stream) != 8 || png_sig_cmp(signature, 0, 8) != 0
        || std::fseek(stream, 0, SEEK_SET) != 0) {
        std::fclose(stream);
        return Decoded::notHandled();
    }
    Decoded decoded = decode(stream, atLeast.width(), atLeast.height());
    std::fclose(stream);
    return decoded;
}

} // namespace picture

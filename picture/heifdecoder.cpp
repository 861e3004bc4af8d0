#include "picture/heifdecoder.h"

#include "picture/picturedecoder.h"

#include <QColorSpace>
#include <QFile>

#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <dlfcn.h>

namespace picture {

namespace {

// libheif and the codecs it brings (x265, libde265, aom, dav1d) are large:
// linked to the program, their loading and start-up code would delay every
// start. They are loaded on the first HEIF or AVIF file instead.
#define MOSALUNE_HEIF_FUNCTIONS(F) \
    F(heif_check_filetype) \
    F(heif_context_alloc) \
    F(heif_context_free) \
    F(heif_context_get_primary_image_handle) \
    F(heif_context_read_from_file) \
    F(heif_context_set_maximum_image_size_limit) \
    F(heif_decode_image) \
    F(heif_decoding_options_alloc) \
    F(heif_decoding_options_free) \
    F(heif_image_get_height) \
    F(heif_image_get_plane_readonly) \
    F(heif_image_get_width) \
    F(heif_image_handle_get_height) \
    F(heif_image_handle_get_raw_color_profile) \
    F(heif_image_handle_get_raw_color_profile_size) \
    F(heif_image_handle_get_list_of_thumbnail_IDs) \
    F(heif_image_handle_get_number_of_thumbnails) \
    F(heif_image_handle_get_thumbnail) \
    F(heif_image_handle_get_width) \
    F(heif_image_handle_has_alpha_channel) \
    F(heif_image_handle_release) \
    F(heif_image_release)

struct HeifLibrary {
#define MOSALUNE_HEIF_MEMBER(name) decltype(&::name) name = nullptr;
    MOSALUNE_HEIF_FUNCTIONS(MOSALUNE_HEIF_MEMBER)
#undef MOSALUNE_HEIF_MEMBER
};

// The library, or nullptr when it cannot be loaded (then no HEIF file can
// be read). Loaded once, and kept.
const HeifLibrary *loadHeif()
{
    static const HeifLibrary *const loaded = []() -> const HeifLibrary * {
        void *const handle = ::dlopen(MOSALUNE_LIBHEIF_NAME, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        auto *const library = new HeifLibrary;
        bool complete = true;
#define MOSALUNE_HEIF_BIND(name) \
    library->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name)); \
    complete = complete && library->name;
        MOSALUNE_HEIF_FUNCTIONS(MOSALUNE_HEIF_BIND)
#undef MOSALUNE_HEIF_BIND
        if (!complete) {
            delete library;
            ::dlclose(handle);
            return nullptr;
        }
        return library;
    }();
    return loaded;
}

// Only called once loadHeif() has succeeded.
const HeifLibrary &heif()
{
    return *loadHeif();
}

struct ContextFree {
    void operator()(heif_context *c) const { heif().heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle *h) const { heif().heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image *i) const { heif().heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options *o) const { heif().heif_decoding_options_free(o); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

bool ok(const heif_error &error)
{
    return error.code == heif_error_Ok;
}

// The handle's size is the one shown, after the file's rotation and crop.
bool covers(const heif_image_handle *h, QSize atLeast)
{
    return heif().heif_image_handle_get_width(h) >= atLeast.width()
           && heif().heif_image_handle_get_height(h) >= atLeast.height();
}

} // namespace

QImage reduceInterleaved(const uchar *data, int width, int height, qsizetype stride, int channels,
                         QSize atLeast)
{
    const bool alpha = channels == 4;
    const int fx = std::max(1, width / std::max(1, atLeast.width()));
    const int fy = std::max(1, height / std::max(1, atLeast.height()));
    const int outWidth = width / fx;
    const int outHeight = height / fy;
    QImage out(outWidth, outHeight,
               alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (out.isNull())
        return out;
    std::vector<int> column(static_cast<size_t>(width));
    std::vector<quint64> perColumn(size_t(outWidth), 0);
    for (int x = 0; x < width; ++x) {
        column[size_t(x)] = int(qint64(x) * outWidth / width);
        ++perColumn[size_t(column[size_t(x)])];
    }
    std::vector<quint64> sums(size_t(outWidth) * 4, 0);
    int outRow = 0;
    quint64 rows = 0;
    for (int y = 0; y < height; ++y) {
        const uchar *p = data + stride * y;
        for (int x = 0; x < width; ++x, p += channels) {
            quint64 *s = sums.data() + size_t(column[size_t(x)]) * 4;
            // Averaged premultiplied, so see-through pixels add no colour.
            const unsigned a = alpha ? p[3] : 1u;
            s[0] += unsigned(p[0]) * a;
            s[1] += unsigned(p[1]) * a;
            s[2] += unsigned(p[2]) * a;
            s[3] += a;
        }
        ++rows;
        const int next = int(qint64(y + 1) * outHeight / height);
        if (next != outRow || y + 1 == height) {
            QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(outRow));
            for (int x = 0; x < outWidth; ++x) {
                const quint64 *s = sums.data() + size_t(x) * 4;
                const quint64 n = perColumn[size_t(x)] * rows * (alpha ? 255 : 1);
                const auto mean = [&](quint64 v) { return int((v + n / 2) / n); };
                line[x] = qRgba(mean(s[0]), mean(s[1]), mean(s[2]),
                                alpha ? mean(s[3] * 255) : 255);
            }
            std::fill(sums.begin(), sums.end(), 0);
            rows = 0;
            outRow = next;
        }
    }
    return out;
}

namespace {

enum class FileKind { Other, Unreadable, Heif };

// What the file is, from its first bytes: libheif is loaded only for one
// that may be its.
FileKind fileKind(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileKind::Other;
    const QByteArray head = file.read(64);
    // Every HEIF and AVIF file begins with its file type box; without one
    // the library need not be loaded to tell.
    if (head.size() < 12 || head.mid(4, 4) != "ftyp")
        return FileKind::Other;
    if (!loadHeif())
        return FileKind::Unreadable;
    switch (heif().heif_check_filetype(reinterpret_cast<const uint8_t *>(head.constData()), int(head.size()))) {
    case heif_filetype_no:
        return FileKind::Other;
    case heif_filetype_yes_unsupported:
        return FileKind::Unreadable;
    case heif_filetype_yes_supported:
    case heif_filetype_maybe:
        break;
    }
    return FileKind::Heif;
}

// Cameras store small versions beside the photo: the smallest that still
// covers the box saves decoding the whole photo.
Handle smallestCovering(Handle handle, QSize atLeast)
{
    const int thumbnails = heif().heif_image_handle_get_number_of_thumbnails(handle.get());
    if (thumbnails <= 0)
        return handle;
    std::vector<heif_item_id> ids(static_cast<size_t>(thumbnails));
    heif().heif_image_handle_get_list_of_thumbnail_IDs(handle.get(), ids.data(), thumbnails);
    Handle best;
    for (const heif_item_id id : ids) {
        heif_image_handle *thumb = nullptr;
        if (!ok(heif().heif_image_handle_get_thumbnail(handle.get(), id, &thumb)))
            continue;
        Handle candidate(thumb);
        if (covers(candidate.get(), atLeast)
            && (!best
                || heif().heif_image_handle_get_width(candidate.get())
                       < heif().heif_image_handle_get_width(best.get())))
            best = std::move(candidate);
    }
    if (best)
        return best;
    return handle;
}

// Decodes the image behind `handle` to 8-bit RGB(A), turned as the file
// says, and averages it down to cover `atLeast`.
Decoded decodeHandle(heif_image_handle *handle, QSize atLeast)
{
    if (qint64(heif().heif_image_handle_get_width(handle)) * heif().heif_image_handle_get_height(handle)
        > maxPicturePixels)
        return Decoded::failed();
    const bool alpha = heif().heif_image_handle_has_alpha_channel(handle);
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif().heif_decoding_options_alloc());
    if (!options)
        return Decoded::failed();
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    heif_image *decoded = nullptr;
    if (!ok(heif().heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                              options.get())))
        return Decoded::failed();
    Image image(decoded);
    int stride = 0;
    const uint8_t *plane = heif().heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif().heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif().heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || width < 1 || height < 1)
        return Decoded::failed();
    QImage reduced = reduceInterleaved(plane, width, height, stride, alpha ? 4 : 3, atLeast);
    if (reduced.isNull())
        return Decoded::failed();
    // Its ICC profile, if any, tags the pixels; they are turned to sRGB
    // with every other decoder's.
    if (const size_t size = heif().heif_image_handle_get_raw_color_profile_size(handle);
        size > 0 && size <= 4 * 1024 * 1024) {
        QByteArray profile(qsizetype(size), '\0');
        if (ok(heif().heif_image_handle_get_raw_color_profile(handle, profile.data())))
            reduced.setColorSpace(QColorSpace::fromIccProfile(profile));
    }
    return Decoded::picture(std::move(reduced));
}

} // namespace

Decoded decodeHeif(const QString &path, QSize atLeast)
{
    switch (fileKind(path)) {
    case FileKind::Other:
        return Decoded::notHandled();
    case FileKind::Unreadable:
        return Decoded::failed();
    case FileKind::Heif:
        break;
    }
    Context context(heif().heif_context_alloc());
    if (!context)
        return Decoded::failed();
    // The largest phone photos are about 16000 px across; a file that claims
    // more is refused before anything is allocated for it.
    heif().heif_context_set_maximum_image_size_limit(context.get(), 16384);
    if (!ok(heif().heif_context_read_from_file(context.get(), QFile::encodeName(path).constData(), nullptr)))
        return Decoded::failed();
    heif_image_handle *primary = nullptr;
    if (!ok(heif().heif_context_get_primary_image_handle(context.get(), &primary)))
        return Decoded::failed();
    return decodeHandle(smallestCovering(Handle(primary), atLeast).get(), atLeast);
}

} // namespace picture

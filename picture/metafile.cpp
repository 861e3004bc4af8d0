#include "picture/metafile.h"

#include <QImage>
#include <QtEndian>

#include <cstdlib>

extern "C" {
#include <emf2svg.h>
#include <libwmf/api.h>
#include <libwmf/gd.h>
}

namespace picture {

namespace {

quint32 le32(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

quint16 le16(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

} // namespace

MetafileKind metafileKind(const QByteArray &head)
{
    if (head.size() >= 44 && le32(head, 0) == 1 && le32(head, 40) == 0x464D4520) // " EMF"
        return MetafileKind::Emf;
    if (head.size() >= 4 && le32(head, 0) == 0x9AC6CDD7) // placeable metafile key
        return MetafileKind::Wmf;
    // A bare metafile header: type 1 (memory) or 2 (disk), header size of
    // nine words, and a version Windows wrote (0x0100 or 0x0300).
    if (head.size() >= 18 && (le16(head, 0) == 1 || le16(head, 0) == 2) && le16(head, 2) == 9
        && (le16(head, 4) == 0x0100 || le16(head, 4) == 0x0300))
        return MetafileKind::Wmf;
    return MetafileKind::None;
}

namespace {

int collect(void *context, char *buffer, int length)
{
    static_cast<QByteArray *>(context)->append(buffer, length);
    return length;
}

} // namespace

QImage renderWmf(const QByteArray &data, QSize size)
{
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    wmfAPI *api = nullptr;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR
                                | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&api, flags, &options) != wmf_E_None) {
        if (api)
            wmf_api_destroy(api);
        return {};
    }

    QByteArray png;
    // libwmf reads from a buffer it does not own but takes it as non-const.
    QByteArray copy = data;
    if (wmf_mem_open(api, reinterpret_cast<unsigned char *>(copy.data()), long(copy.size()))
        == wmf_E_None) {
        wmfD_Rect bbox{};
        if (wmf_scan(api, 0, &bbox) == wmf_E_None) {
            wmf_gd_t *device = WMF_GD_GetData(api);
            if (device->flags & WMF_GD_SUPPORTS_PNG) {
                // Played straight at the size it is shown at, so lines and
                // edges stay sharp.
                device->type = wmf_gd_png;
                device->flags |= WMF_GD_OUTPUT_MEMORY | WMF_GD_OWN_BUFFER;
                device->sink.context = &png;
                device->sink.function = collect;
                device->bbox = bbox;
                device->width = unsigned(size.width());
                device->height = unsigned(size.height());
                if (wmf_play(api, 0, &bbox) != wmf_E_None)
                    png.clear();
            }
        }
        wmf_mem_close(api);
    }
    wmf_api_destroy(api);

    QImage image;
    if (png.isEmpty() || !image.loadFromData(png, "PNG"))
        return {};
    return image;
}

QByteArray emfToSvg(const QByteArray &data)
{
    generatorOptions options{};
    options.nameSpace = const_cast<char *>("");
    options.verbose = false;
    options.emfplus = true;
    options.svgDelimiter = true;
    options.imgWidth = 0;
    options.imgHeight = 0;
    QByteArray copy = data;
    char *out = nullptr;
    size_t outLength = 0;
    const int ok = emf2svg(copy.data(), static_cast<size_t>(copy.size()), &out, &outLength,
                           &options);
    QByteArray svg;
    if (ok && out && outLength)
        svg = QByteArray(out, static_cast<qsizetype>(outLength));
    std::free(out);
    return svg;
}

} // namespace picture

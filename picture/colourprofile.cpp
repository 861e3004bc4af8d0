#include "picture/colourprofile.h"

#include <QFile>
#include <QMap>
#include <QtEndian>

#include <zlib.h>

namespace picture {

namespace {

// No camera or editor writes a profile near this; more is not a profile.
constexpr qint64 kMaxProfileBytes = 4 * 1024 * 1024;
// A profile comes before the pixels, in the first few megabytes; a walk
// through a file of endless tiny segments stops here.
constexpr qint64 kMaxHeadBytes = 16 * 1024 * 1024;

// A deflated profile, at most kMaxProfileBytes of it: a few kilobytes may
// inflate to gigabytes.
QByteArray inflated(const QByteArray &packed)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    QByteArray out(kMaxProfileBytes, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

// The chunks of "ICC_PROFILE\0" APP2 segments, joined in their numbered
// order, up to the first scan.
QByteArray jpegProfile(QFile &file)
{
    QMap<int, QByteArray> chunks;
    qint64 at = 2;
    for (;;) {
        uchar head[4];
        if (!file.seek(at) || file.read(reinterpret_cast<char *>(head), 4) != 4 || head[0] != 0xFF)
            break;
        const int marker = head[1];
        const int length = qFromBigEndian<quint16>(head + 2);
        if (marker == 0xDA || marker == 0xD9 || length < 2 || at > kMaxHeadBytes)
            break;
        if (marker == 0xE2 && length > 16) {
            const QByteArray segment = file.read(length - 2);
            if (segment.startsWith(QByteArrayLiteral("ICC_PROFILE\0")) && segment.size() > 14)
                chunks.insert(uchar(segment[12]), segment.mid(14));
        }
        at += 2 + length;
    }
    QByteArray profile;
    for (const QByteArray &chunk : std::as_const(chunks)) {
        profile += chunk;
        if (profile.size() > kMaxProfileBytes)
            return {};
    }
    return profile;
}

// An iCCP chunk before the first IDAT: a name, a zero, the method (0) and
// the deflated profile.
QByteArray pngProfile(QFile &file)
{
    qint64 at = 8;
    for (;;) {
        uchar head[8];
        if (!file.seek(at) || file.read(reinterpret_cast<char *>(head), 8) != 8)
            return {};
        const quint32 length = qFromBigEndian<quint32>(head);
        const QByteArray type(reinterpret_cast<const char *>(head + 4), 4);
        if (type == "IDAT" || type == "IEND" || length > kMaxProfileBytes || at > kMaxHeadBytes)
            return {};
        if (type == "iCCP") {
            const QByteArray chunk = file.read(length);
            const qsizetype zero = chunk.indexOf('\0');
            if (zero < 0 || zero + 2 >= chunk.size())
                return {};
            return inflated(chunk.mid(zero + 2));
        }
        at += 12 + qint64(length);
    }
}

// The ICCP chunk of an extended WebP file.
QByteArray webpProfile(QFile &file)
{
    qint64 at = 12;
    for (;;) {
        uchar head[8];
        if (!file.seek(at) || file.read(reinterpret_cast<char *>(head), 8) != 8)
            return {};
        const QByteArray type(reinterpret_cast<const char *>(head), 4);
        const quint32 length = qFromLittleEndian<quint32>(head + 4);
        if (type == "ICCP")
            return length <= kMaxProfileBytes ? file.read(length) : QByteArray();
        if (type != "VP8X")
            return {}; // the profile comes right after the header chunk
        at += 8 + qint64(length) + (length & 1);
    }
}

} // namespace

QColorSpace embeddedColourSpace(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray magic = file.read(12);
    QByteArray profile;
    if (magic.startsWith("\xFF\xD8"))
        profile = jpegProfile(file);
    else if (magic.startsWith("\x89PNG\r\n\x1A\n"))
        profile = pngProfile(file);
    else if (magic.startsWith("RIFF") && magic.mid(8, 4) == "WEBP")
        profile = webpProfile(file);
    return profile.isEmpty() ? QColorSpace() : QColorSpace::fromIccProfile(profile);
}

bool isSrgb(const QColorSpace &space)
{
    return !space.isValid() || space == QColorSpace(QColorSpace::SRgb);
}

QImage inSrgb(QImage image, const QColorSpace &fallback)
{
    const QColorSpace space = image.colorSpace().isValid() ? image.colorSpace() : fallback;
    if (isSrgb(space))
        return image;
    image.setColorSpace(space);
    image.convertToColorSpace(QColorSpace::SRgb);
    return image;
}

} // namespace picture

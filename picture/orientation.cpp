#include "picture/orientation.h"

#include <QTransform>
#include <QtEndian>

namespace picture {

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

} // namespace picture

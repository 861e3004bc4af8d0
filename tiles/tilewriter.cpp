#include "tiles/tilewriter.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <QSaveFile>

namespace tiles {

namespace {
// 96 dots per inch in dots per metre, as Windows stores it.
constexpr int dotsPerMetre96 = 3780;
} // namespace

QByteArray bitmapBytes(const QImage &image)
{
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    rgb.setDotsPerMeterX(dotsPerMetre96);
    rgb.setDotsPerMeterY(dotsPerMetre96);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(rgb))
        return {};
    return bytes;
}

QString writeFailedMessage(const QString &path)
{
    return QStringLiteral("无法写入文件 %1，图片切割已停止。").arg(QDir::toNativeSeparators(path));
}

void saveBitmap(const QImage &image, const QString &path)
{
    const QByteArray bytes = bitmapBytes(image);
    QSaveFile file(path);
    // Rename over a file that we are not allowed to open, as Windows would
    // replace it; QSaveFile falls back to direct writing only on request.
    file.setDirectWriteFallback(false);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly)
        || file.write(bytes) != bytes.size() || !file.commit()) {
        file.cancelWriting();
        throw TileWriteError(path, writeFailedMessage(path));
    }
}

QString pictureFolder(const QString &path)
{
    const QString normal = QDir::fromNativeSeparators(path);
    const int slash = normal.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return path.left(slash + 1);
}

} // namespace tiles

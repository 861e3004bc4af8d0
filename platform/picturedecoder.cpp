#include "platform/picturedecoder.h"

#include "platform/heifdecoder.h"
#include "platform/jpegdecoder.h"
#include "platform/metafile.h"
#include "platform/picturechild.h"
#include "platform/pngdecoder.h"
#include "platform/webpdecoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>

namespace platform {

namespace {

QImage canvas(QSize size, const QColor &background)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

QImage renderSvg(const QByteArray &svg, QSize size, const QColor &background)
{
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        throw PictureError();
    renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
    QImage image = canvas(size, background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

QImage stretchOver(const QImage &picture, QSize size, const QColor &background)
{
    if (!picture.hasAlphaChannel() && picture.size() == size)
        return picture.convertToFormat(QImage::Format_RGB32);
    QImage image = canvas(size, background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), size), picture);
    return image;
}

// The EXIF orientation a WebP file carries in its EXIF chunk, or 1. Qt's
// WebP reader does not look at it.
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

} // namespace

PictureError::PictureError(Cause cause)
    : RunError(QStringLiteral("图片格式错误")), m_cause(cause)
{
}

QImage loadPictureStretched(const QString &path, QSize size, const QColor &background,
                           bool *damaged)
{
    if (damaged)
        *damaged = false;
    using Cause = PictureError::Cause;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        throw PictureError(Cause::NoSuchFile);
    if (info.isDir())
        throw PictureError(Cause::Folder);
    if (!info.isFile())
        throw PictureError();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(Cause::Unreadable);
    // The size a file system reports is not always what can be read; the
    // first bytes tell an empty file from one that cannot be read at all.
    char head[64];
    const qint64 got = file.read(head, sizeof head);
    if (got < 0)
        throw PictureError(Cause::Unreadable);
    if (got == 0)
        throw PictureError();
    if (!file.seek(0))
        throw PictureError(Cause::Unreadable);

    // Metafiles are drawings, not pixels: render them straight at the size
    // they are shown at.
    const MetafileKind kind = metafileKind(QByteArray::fromRawData(head, got));
    if (kind != MetafileKind::None) {
        // A metafile is small; a huge one is not a metafile we want to play.
        if (file.size() > 64 * 1024 * 1024)
            throw PictureError();
        // The players trust the file's numbers: a few bytes can keep them
        // busy for minutes or take gigabytes. Play it where that costs only
        // a refused picture.
        if (pictureChildAvailable()) {
            file.close();
            return renderInChild(path, size, background);
        }
        const QByteArray data = file.readAll();
        if (kind == MetafileKind::Wmf) {
            const QImage played = renderWmf(data, size);
            if (played.isNull())
                throw PictureError();
            return stretchOver(played, size, background);
        }
        const QByteArray svg = emfToSvg(data);
        if (svg.isEmpty())
            throw PictureError();
        return renderSvg(svg, size, background);
    }

    // Photos are the common input and the largest: decode them shrunk, and
    // upright, in one pass.
    bool refusedJpeg = false;
    const QImage photo = decodeJpegUpright(path, size, 0, &refusedJpeg, damaged);
    if (!photo.isNull())
        return stretchOver(photo, size, background);
    if (refusedJpeg)
        throw PictureError();

    // Large PNGs are averaged down row by row as they are read, so even a
    // huge one never has to fit in memory whole.
    QImage reduced;
    switch (decodePngReduced(path, size, &reduced)) {
    case PngResult::Decoded:
        return stretchOver(reduced, size, background);
    case PngResult::Failed:
        throw PictureError();
    case PngResult::NotHandled:
        break;
    }

    // Phone cameras' HEIC and the web's AVIF: libheif, turned as the file
    // says, from a thumbnail when one is large enough.
    switch (decodeHeif(path, size, &reduced)) {
    case HeifResult::Decoded:
        return stretchOver(reduced, size, background);
    case HeifResult::Failed:
        throw PictureError();
    case HeifResult::NotHandled:
        break;
    }

    // Still WebP pictures: libwebp scales while it decodes, so a large one
    // is never held whole. Animations go to Qt's reader, which gives the
    // first frame.
    const QByteArray start = QByteArray::fromRawData(head, got);
    if (start.startsWith("RIFF") && start.mid(8, 4) == "WEBP") {
        if (file.size() > 256 * 1024 * 1024)
            throw PictureError();
        const int turn = webpOrientation(file);
        const QByteArray bytes = file.readAll();
        if (!file.seek(0))
            throw PictureError(Cause::Unreadable);
        bool failed = false;
        const QImage still = decodeWebpScaled(bytes, size, turn, &failed);
        if (failed)
            throw PictureError();
        if (!still.isNull())
            return stretchOver(applyOrientation(still, turn), size, background);
    }

    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    // Qt refuses pictures above 128 MB decoded; a 48-megapixel TIFF from a
    // scanner or camera is more than that. Beyond 1 GB a file is more
    // likely hostile than a picture.
    reader.setAllocationLimit(1024);
    if (!reader.canRead())
        throw PictureError();

    // Let the decoder shrink while it decodes (JPEG does this in the DCT).
    // The size asked for is in the stored orientation, before the EXIF
    // rotation is applied.
    const int webpTurn = reader.format() == "webp"
                                 && reader.transformation() == QImageIOHandler::TransformationNone
                             ? webpOrientation(file)
                             : 1;
    const QSize stored = reader.size();
    if (stored.isValid() && stored.width() > size.width() * 2
        && stored.height() > size.height() * 2
        && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        const bool turned = (reader.transformation() & QImageIOHandler::TransformationRotate90)
                            || webpTurn >= 5;
        reader.setScaledSize(turned ? size.transposed() : size);
    }

    QImage picture = reader.read();
    if (picture.isNull())
        throw PictureError();
    picture = applyOrientation(picture, webpTurn);
    return stretchOver(picture, size, background);
}

} // namespace platform

#include "platform/picturedecoder.h"

#include "platform/jpegdecoder.h"
#include "platform/metafile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>

namespace platform {

namespace {

const QString kNotAPicture = QStringLiteral("图片格式错误");

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
        throw PictureError(kNotAPicture);
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

} // namespace

QImage loadPictureStretched(const QString &path, QSize size, const QColor &background)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        throw PictureError(kNotAPicture);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(kNotAPicture);
    if (file.size() == 0)
        throw PictureError(kNotAPicture);

    // Metafiles are drawings, not pixels: render them straight at the size
    // they are shown at.
    const MetafileKind kind = metafileKind(file.peek(64));
    if (kind != MetafileKind::None) {
        // A metafile is small; a huge one is not a metafile we want to play.
        if (file.size() > 64 * 1024 * 1024)
            throw PictureError(kNotAPicture);
        const QByteArray data = file.readAll();
        if (kind == MetafileKind::Wmf) {
            const QImage played = renderWmf(data, size);
            if (played.isNull())
                throw PictureError(kNotAPicture);
            return stretchOver(played, size, background);
        }
        const QByteArray svg = emfToSvg(data);
        if (svg.isEmpty())
            throw PictureError(kNotAPicture);
        return renderSvg(svg, size, background);
    }

    // Photos are the common input and the largest: decode them shrunk, and
    // upright, in one pass.
    const QImage photo = decodeJpegUpright(path, size);
    if (!photo.isNull())
        return stretchOver(photo, size, background);

    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        throw PictureError(kNotAPicture);

    // Let the decoder shrink while it decodes (JPEG does this in the DCT).
    // The size asked for is in the stored orientation, before the EXIF
    // rotation is applied.
    const QSize stored = reader.size();
    if (stored.isValid() && stored.width() > size.width() * 2
        && stored.height() > size.height() * 2
        && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        reader.setScaledSize(turned ? size.transposed() : size);
    }

    QImage picture = reader.read();
    if (picture.isNull())
        throw PictureError(kNotAPicture);
    return stretchOver(picture, size, background);
}

} // namespace platform

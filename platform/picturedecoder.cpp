#include "platform/picturedecoder.h"

#include "platform/heifdecoder.h"
#include "platform/jpegdecoder.h"
#include "platform/metafile.h"
#include "platform/picturechild.h"
#include "platform/pngdecoder.h"
#include "platform/webpdecoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <QThread>
#include <QTransform>
#include <QtEndian>

#include <exception>
#include <functional>
#include <memory>

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

// A picture more than twice `size` both ways, brought down to `size`
// before anything else copies it. Non-premultiplied alpha is premultiplied
// in place first, which the smooth scaling would otherwise do in a copy.
QImage shrunkToCover(QImage picture, QSize size)
{
    if (picture.width() <= size.width() * 2 || picture.height() <= size.height() * 2)
        return picture;
    if (picture.format() == QImage::Format_ARGB32)
        picture.convertTo(QImage::Format_ARGB32_Premultiplied);
    return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// What Qt's readers do with a file's orientation when they turn it
// themselves: mirror or flip, then a quarter turn.
QImage turnedAsTagged(const QImage &stored, QImageIOHandler::Transformations turn)
{
    if (turn == QImageIOHandler::TransformationNone)
        return stored;
    if (turn == QImageIOHandler::TransformationRotate270)
        return stored.transformed(QTransform().rotate(270));
    const QImage mirrored = stored.mirrored(turn & QImageIOHandler::TransformationMirror,
                                            turn & QImageIOHandler::TransformationFlip);
    return turn & QImageIOHandler::TransformationRotate90
               ? mirrored.transformed(QTransform().rotate(90))
               : mirrored;
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

// A large picture takes seconds to decode. On a GUI application's own
// thread the decode runs on a worker while this waits in a local event loop
// that leaves out user input: windows paint and timers run, but no click
// starts a second load. Elsewhere (a worker, a program without windows) it
// runs right here. Whatever the decode throws comes back here.
QImage decodeWhileEventsFlow(const std::function<QImage()> &decode)
{
    QImage result;
    std::exception_ptr failure;
    const auto run = [&] {
        try {
            result = decode();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    const QCoreApplication *const app = QCoreApplication::instance();
    if (!qobject_cast<const QGuiApplication *>(app) || QThread::currentThread() != app->thread()) {
        run();
    } else {
        const std::unique_ptr<QThread> worker(QThread::create(run));
        QEventLoop loop;
        QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
        worker->start();
        if (worker->isRunning() || worker->isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        else
            run(); // no thread to be had
        worker->wait();
    }
    if (failure)
        std::rethrow_exception(failure);
    return result;
}

QImage loadPixels(QFile &file, const QByteArray &start, QSize size, const QColor &background,
                  bool *damaged);

QImage loadPicture(const QString &path, QSize size, const QColor &background, bool *damaged)
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

    const QByteArray start(head, got);
    return decodeWhileEventsFlow(
        [&] { return loadPixels(file, start, size, background, damaged); });
}

QImage loadPixels(QFile &file, const QByteArray &start, QSize size, const QColor &background,
                  bool *damaged)
{
    const QString path = file.fileName();
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
    if (start.startsWith("RIFF") && start.mid(8, 4) == "WEBP") {
        if (file.size() > 256 * 1024 * 1024)
            throw PictureError();
        const int turn = webpOrientation(file);
        const QByteArray bytes = file.readAll();
        if (!file.seek(0))
            throw PictureError(PictureError::Cause::Unreadable);
        bool failed = false;
        const QImage still = decodeWebpScaled(bytes, size, turn, &failed);
        if (failed)
            throw PictureError();
        if (!still.isNull())
            return stretchOver(applyOrientation(still, turn), size, background);
    }

    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    // Turned here once it is small: turning makes a copy, and of a picture
    // at the pixel bound that is another 512 MiB.
    reader.setAutoTransform(false);
    // Qt refuses pictures above 128 MB decoded; a 48-megapixel TIFF from a
    // scanner or camera is more than that. The bound on pixels, at 4 bytes
    // each, is the most any picture may take.
    reader.setAllocationLimit(int(maxPicturePixels * 4 / (1024 * 1024)));
    if (!reader.canRead())
        throw PictureError();
    // Refused on the header's word, before a reader fills a screen of a GIF
    // or a TIFF's strips at any size a few bytes claim.
    if (const QSize claimed = reader.size();
        claimed.isValid() && qint64(claimed.width()) * claimed.height() > maxPicturePixels)
        throw PictureError();

    // Let the decoder shrink while it decodes (JPEG does this in the DCT).
    // The size asked for is in the stored orientation, before the EXIF
    // rotation is applied. Qt's PNG reader only pretends: it decodes whole
    // and scales a copy, twice the memory of reading it plain.
    const int webpTurn = reader.format() == "webp"
                                 && reader.transformation() == QImageIOHandler::TransformationNone
                             ? webpOrientation(file)
                             : 1;
    const QSize stored = reader.size();
    if (stored.isValid() && stored.width() > size.width() * 2
        && stored.height() > size.height() * 2
        && reader.supportsOption(QImageIOHandler::ScaledSize) && reader.format() != "png") {
        const bool turned = (reader.transformation() & QImageIOHandler::TransformationRotate90)
                            || webpTurn >= 5;
        reader.setScaledSize(turned ? size.transposed() : size);
    }

    const QImageIOHandler::Transformations turn = reader.transformation();
    QImage picture = reader.read();
    if (picture.isNull())
        throw PictureError();
    picture = shrunkToCover(std::move(picture),
                            (turn & QImageIOHandler::TransformationRotate90) || webpTurn >= 5
                                ? size.transposed()
                                : size);
    picture = turnedAsTagged(picture, turn);
    picture = applyOrientation(picture, webpTurn);
    return stretchOver(picture, size, background);
}

} // namespace

PictureError::PictureError(Cause cause)
    : RunError(QStringLiteral("图片格式错误")), m_cause(cause)
{
}

QImage loadPictureStretched(const QString &path, QSize size, const QColor &background,
                           bool *damaged)
{
    try {
        return loadPicture(path, size, background, damaged);
    } catch (const PictureError &) {
        throw;
    } catch (...) {
        // Out of memory, or anything else a library throws: a picture this
        // program cannot read, never the end of the program.
        throw PictureError();
    }
}

} // namespace platform

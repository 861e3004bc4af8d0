#include "picture/picturedecoder.h"

#include "picture/colourprofile.h"
#include "picture/heifdecoder.h"
#include "picture/jpegdecoder.h"
#include "picture/metafile.h"
#include "picture/orientation.h"
#include "picture/picturechild.h"
#include "picture/pngdecoder.h"
#include "picture/webpdecoder.h"

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

#include <exception>
#include <functional>
#include <memory>

namespace picture {

namespace {

// The size that asks every decoder for all of a picture's pixels: none
// shrinks a picture that does not cover it twice over.
constexpr QSize ownPixels(65535, 65535);
// A metafile is a drawing with no pixels of its own: at its own resolution
// it is drawn at four times the window's box.
constexpr QSize metafileOwnSize(1600, 800);

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

QImage loadPixels(const QString &path, QSize size, const QColor &background, bool *damaged);

QImage loadPicture(const QString &path, QSize size, const QColor &background, bool *damaged)
{
    if (damaged)
        *damaged = false;
    using Cause = PictureError::Cause;
    const QFileInfo info(path);
    // A link that points nowhere is no file either.
    if (path.isEmpty() || !info.exists())
        throw PictureError(path.contains(QChar::ReplacementCharacter) ? Cause::NameNotUtf8
                                                                       : Cause::NoSuchFile);
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
        if (size == ownPixels)
            size = metafileOwnSize;
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

    file.close();
    return decodeWhileEventsFlow([&] { return loadPixels(path, size, background, damaged); });
}

// Everything else through Qt's image readers (GIF, BMP, icons, TIFF,
// animated WebP, small and interlaced PNG...). Never NotHandled: what no
// reader knows is no picture.
Decoded decodeWithQt(const QString &path, QSize size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Decoded::failed();
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
        return Decoded::failed();
    // Refused on the header's word, before a reader fills a screen of a GIF
    // or a TIFF's strips at any size a few bytes claim.
    if (const QSize claimed = reader.size();
        claimed.isValid() && qint64(claimed.width()) * claimed.height() > maxPicturePixels)
        return Decoded::failed();

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
        return Decoded::failed();
    picture = shrunkToCover(std::move(picture),
                            (turn & QImageIOHandler::TransformationRotate90) || webpTurn >= 5
                                ? size.transposed()
                                : size);
    picture = turnedAsTagged(picture, turn);
    return Decoded::picture(applyOrientation(picture, webpTurn));
}

// The decoders in the order they are asked; the first that knows the file
// decodes it. Photos first: they are the common input and the largest, and
// are decoded shrunk and upright in one pass. Large PNGs are averaged down
// row by row as they are read; phone cameras' HEIC and the web's AVIF go
// through libheif; still WebP pictures are scaled by libwebp while they
// decode.
constexpr Decoder decoders[] = {decodeJpeg, decodePngReduced, decodeHeif, decodeWebp, decodeWithQt};

// The picture at its own size over `background`, in RGB32 as a stretched one
// is.
QImage overBackground(const QImage &picture, const QColor &background)
{
    if (!picture.hasAlphaChannel())
        return picture.convertToFormat(QImage::Format_RGB32);
    QImage image = canvas(picture.size(), background);
    image.setColorSpace(picture.colorSpace());
    QPainter(&image).drawImage(0, 0, picture);
    return image;
}

QImage loadPixels(const QString &path, QSize size, const QColor &background, bool *damaged)
{
    for (const Decoder decode : decoders) {
        Decoded decoded = decode(path, size);
        if (decoded.status == Decoded::Status::NotHandled)
            continue;
        if (decoded.status == Decoded::Status::Failed)
            throw PictureError();
        if (damaged)
            *damaged = decoded.damaged;
        // Colours as the profile means them, before any resampling mixes
        // them; Qt's readers tag what they read, ours leave it to the file.
        const QImage picture = decoded.image.colorSpace().isValid()
                                   ? inSrgb(std::move(decoded.image))
                                   : inSrgb(std::move(decoded.image), embeddedColourSpace(path));
        return size == ownPixels ? overBackground(picture, background)
                                 : stretchOver(picture, size, background);
    }
    throw PictureError();
}

} // namespace

PictureError::PictureError(Cause cause)
    : RunError(QStringLiteral("图片格式错误")), m_cause(cause)
{
}

QImage loadPictureUpright(const QString &path, const QColor &background, bool *damaged)
{
    return loadPictureStretched(path, ownPixels, background, damaged);
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

QStringList pictureSuffixes()
{
    // Our own decoders first, then whatever Qt's readers add on this system.
    QStringList suffixes{QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("jpe"),
                         QStringLiteral("jfif"), QStringLiteral("png"),  QStringLiteral("webp"),
                         QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("avif"),
                         QStringLiteral("wmf"),  QStringLiteral("emf"),  QStringLiteral("bmp"),
                         QStringLiteral("gif")};
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        const QString suffix = QString::fromLatin1(format).toLower();
        if (!suffixes.contains(suffix))
            suffixes.append(suffix);
    }
    return suffixes;
}

} // namespace picture

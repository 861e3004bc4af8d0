#include "tiles/gridjob.h"

#include "tiles/resample.h"
#include "tiles/tilewriter.h"
#include "picture/colourprofile.h"
#include "picture/corethread.h"
#include "picture/jpegdecoder.h"
#include "picture/picturedecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <turbojpeg.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

namespace tiles {

namespace {

int ceilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

// A JPEG file read whole for the transform is bounded as the decoder's
// reading of it is.
constexpr qint64 kMaxLosslessBytes = 256 * 1024 * 1024;

GridError tooSmall(const GridOptions &options)
{
    return GridError(QStringLiteral("图片太小，切不出 %1 × %2 块").arg(options.columns).arg(options.rows));
}

} // namespace

QString gridTileName(const GridOptions &options, int tile)
{
    static const char *const extensions[] = {".bmp", ".jpg", ".png", ".webp"};
    return QString::number(tile) + QLatin1String(extensions[int(options.format)]);
}

int tileEdge(const GridOptions &options, QSize picture)
{
    if (options.size > 0)
        return options.size;
    const int c = options.columns;
    const int r = options.rows;
    if (options.fit == Fit::Pad)
        return std::max(ceilDiv(picture.width(), c), ceilDiv(picture.height(), r));
    // The gaps are left out of the picture's own pixels too, so that the
    // grid fits in the picture and nothing is enlarged.
    const int g = options.gap;
    return std::min((picture.width() - (c - 1) * g) / c, (picture.height() - (r - 1) * g) / r);
}

QSize gridArea(const GridOptions &options, int edge)
{
    return QSize(options.columns * edge + (options.columns - 1) * options.gap,
                 options.rows * edge + (options.rows - 1) * options.gap);
}

QRect tileSquare(const GridOptions &options, int edge, int tile)
{
    const int row = (tile - 1) / options.columns;
    const int column = (tile - 1) % options.columns;
    const int step = edge + options.gap;
    return QRect(column * step, row * step, edge, edge);
}

QRect croppedPart(const GridOptions &options, QSize picture, QSize area)
{
    if (options.fit != Fit::Crop)
        return QRect(QPoint(0, 0), picture);
    QSize part = area;
    if (options.size > 0) {
        const double k = std::min(double(picture.width()) / area.width(),
                                  double(picture.height()) / area.height());
        part = QSize(std::min(picture.width(), int(std::lround(k * area.width()))),
                     std::min(picture.height(), int(std::lround(k * area.height()))));
    }
    return QRect(QPoint((picture.width() - part.width()) / 2, (picture.height() - part.height()) / 2),
                 part);
}

QImage fitToArea(const QImage &picture, const GridOptions &options, QSize area)
{
    QImage placed;
    QPoint at(0, 0);
    if (options.fit == Fit::Pad) {
        const double k = options.size > 0 ? std::max(double(picture.width()) / area.width(),
                                                      double(picture.height()) / area.height())
                                          : 1.0;
        const QSize size(std::min(area.width(), int(std::lround(picture.width() / k))),
                         std::min(area.height(), int(std::lround(picture.height() / k))));
        placed = resampled(picture, size);
        at = QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
    } else {
        placed = resampled(picture.copy(croppedPart(options, picture.size(), area)), area);
    }
    // A new image: nothing of the file's own (its text, say) comes along.
    QImage image(area, QImage::Format_RGB32);
    image.fill(options.background);
    QPainter(&image).drawImage(at, placed);
    image.setColorSpace(QColorSpace::SRgb);
    return image;
}

QByteArray encodeTile(QImage tile, const GridOptions &options)
{
    if (options.format == TileFormat::Bmp)
        return bitmapBytes(tile);
    static const char *const formats[] = {"bmp", "jpeg", "png", "webp"};
    tile.setColorSpace(QColorSpace::SRgb); // a view stays a view: it is not shared
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, formats[int(options.format)]);
    if (options.format != TileFormat::Png)
        writer.setQuality(options.quality);
    if (!writer.write(tile))
        return {};
    return buffer.data();
}

namespace {

// A JPEG cut at its own size: the tiles are views into the decoded rows, and
// the second core encodes each one as soon as its rows are there, while the
// first goes on decoding; rows below the grid are never decoded. Then both
// cores encode what is left.
class TilePipeline : public picture::RowSink
{
public:
    explicit TilePipeline(const GridOptions &options)
        : m_options(options), m_count(options.columns * options.rows), m_helper([this] { encodeOnHelper(); })
    {
    }

    int wanted(const QImage &picture) override
    {
        m_edge = tileEdge(m_options, picture.size());
        if (m_edge < 1)
            return 0;
        const QSize area = gridArea(m_options, m_edge);
        m_origin = croppedPart(m_options, picture.size(), area).topLeft();
        // Held until the tiles are done, whatever becomes of the decode.
        m_picture = picture;
        m_rowsOf = const_cast<uchar *>(m_picture.constBits()); // nobody else writes it
        m_stride = picture.bytesPerLine();
        m_files.resize(size_t(m_count));
        m_helper.start(); // else this core encodes them all once the rows are there
        return m_origin.y() + area.height();
    }

    void rowsReady(int rows) noexcept override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_rows = rows;
        }
        m_moreRows.notify_all();
    }

    // Once the decode has ended: the rest of the tiles on this core too,
    // when it gave every row.
    std::vector<QByteArray> finish(bool decoded)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
            if (!decoded)
                m_next = m_count + 1;
        }
        m_moreRows.notify_all();
        if (decoded)
            encodeTiles();
        m_helper.join();
        if (m_failure)
            std::rethrow_exception(m_failure);
        return std::move(m_files);
    }

private:
    void encodeOnHelper()
    {
        try {
            encodeTiles();
        } catch (...) {
            m_failure = std::current_exception();
        }
    }

    void encodeTiles()
    {
        for (int tile = m_next++; tile <= m_count; tile = m_next++) {
            const QRect square = tileSquare(m_options, m_edge, tile).translated(m_origin);
            if (!waitForRows(square.bottom() + 1))
                return;
            QImage view(m_rowsOf + square.y() * m_stride + square.x() * 4, m_edge, m_edge, m_stride,
                        QImage::Format_RGB32);
            m_files[size_t(tile - 1)] = encodeTile(std::move(view), m_options);
        }
    }

    // False when the decode ended without them.
    bool waitForRows(int rows)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_moreRows.wait(lock, [&] { return m_rows >= rows || m_ended; });
        return m_rows >= rows;
    }

    const GridOptions &m_options;
    const int m_count;
    int m_edge = 0;
    QPoint m_origin;
    QImage m_picture;
    uchar *m_rowsOf = nullptr;
    qsizetype m_stride = 0;
    std::vector<QByteArray> m_files;
    std::atomic<int> m_next{1};
    std::mutex m_mutex;
    std::condition_variable m_moreRows;
    int m_rows = 0;
    bool m_ended = false;
    std::exception_ptr m_failure;
    picture::CoreThread m_helper;
};

// The pipeline's way, for a full-size crop of a JPEG that needs nothing done
// to its colours: nothing when the picture is not one.
std::optional<std::vector<QByteArray>> pipelinedTiles(const QString &path, const GridOptions &options,
                                                      bool *damaged)
{
    if (options.fit != Fit::Crop || options.size != 0)
        return std::nullopt;
    if (!picture::isSrgb(picture::embeddedColourSpace(path)))
        return std::nullopt;
    TilePipeline pipeline(options);
    const picture::Decoded decoded = picture::decodeJpegRows(path, pipeline);
    if (decoded.status == picture::Decoded::Status::NotHandled)
        return std::nullopt;
    std::vector<QByteArray> files = pipeline.finish(decoded.status == picture::Decoded::Status::Decoded);
    if (decoded.status == picture::Decoded::Status::Failed)
        throw picture::PictureError();
    if (damaged)
        *damaged = decoded.damaged;
    return files;
}

// The picture's tiles decoded, fitted and encoded afresh; the second half is
// encoded on another core.
std::vector<QByteArray> reencodedTiles(const QString &path, const GridOptions &options,
                                       bool *damaged)
{
    QImage picture = picture::loadPictureUpright(path, options.background, damaged);
    const int edge = tileEdge(options, picture.size());
    if (edge < 1)
        throw tooSmall(options);
    const QSize area = gridArea(options, edge);
    if (qint64(area.width()) * area.height() > picture::maxPicturePixels)
        throw GridError(QStringLiteral("网格太大：%1 × %2 像素，最多 %3 像素")
                            .arg(area.width()).arg(area.height()).arg(picture::maxPicturePixels));
    // Cropped at its own size, the picture itself is the area: no copy.
    QImage fitted;
    QPoint origin(0, 0);
    if (options.fit == Fit::Crop && options.size == 0) {
        fitted = picture;
        origin = croppedPart(options, picture.size(), area).topLeft();
    } else {
        fitted = fitToArea(picture, options, area);
    }
    picture = QImage();
    fitted.convertTo(QImage::Format_RGB32);
    uchar *const rows = fitted.bits(); // ours alone now: no copy
    const int count = options.columns * options.rows;
    std::vector<QByteArray> files(static_cast<size_t>(count));
    // Each tile is a view into the area's rows, not a copy: a full-size
    // photo's tiles would be another copy of the photo.
    const auto encode = [&](int first, int last) {
        for (int tile = first; tile <= last; ++tile) {
            const QRect square = tileSquare(options, edge, tile).translated(origin);
            QImage view(rows + square.y() * fitted.bytesPerLine() + square.x() * 4, edge, edge,
                        fitted.bytesPerLine(), QImage::Format_RGB32);
            files[size_t(tile - 1)] = encodeTile(std::move(view), options);
        }
    };
    const int half = (count + 1) / 2;
    picture::CoreThread helper([&] { encode(half + 1, count); });
    const bool parallel = count > 1 && helper.start();
    encode(1, parallel ? half : count);
    helper.join();
    return files;
}

} // namespace

namespace {

// What a JPEG's header says of it, for the lossless job.
struct JpegBlocks {
    QSize size;
    int blockWidth = 8;
    int blockHeight = 8;
};

// Refuses, with the reason, every JPEG whose blocks cannot simply be copied
// into the tiles: not a JPEG, too large, turned by EXIF, a colour profile to
// convert, a gap that cuts through blocks.
JpegBlocks losslessSource(tjhandle handle, const QString &path, const QByteArray &jpeg,
                          const GridOptions &options)
{
    int width = 0, height = 0, subsampling = 0, colours = 0;
    if (!handle || !jpeg.startsWith("\xFF\xD8")
        || tjDecompressHeader3(handle, reinterpret_cast<const unsigned char *>(jpeg.constData()),
                               jpeg.size(), &width, &height, &subsampling, &colours) != 0
        || subsampling < 0)
        throw GridError(QStringLiteral("--lossless 只能切 JPEG 图片"));
    if (qint64(width) * height > picture::maxPicturePixels)
        throw picture::PictureError();
    QImageReader reader(path);
    if (reader.transformation() != QImageIOHandler::TransformationNone)
        throw GridError(QStringLiteral("照片带有 EXIF 方向标记，要转正就得重新编码；"
                                       "无损切图不转正照片，请去掉 --lossless"));
    if (!picture::isSrgb(picture::embeddedColourSpace(path)))
        throw GridError(QStringLiteral("图片带有颜色配置文件，要转换到 sRGB 就得重新编码；"
                                       "请去掉 --lossless"));
    const JpegBlocks blocks{QSize(width, height), tjMCUWidth[subsampling], tjMCUHeight[subsampling]};
    if (options.gap % blocks.blockWidth != 0 || options.gap % blocks.blockHeight != 0)
        throw GridError(QStringLiteral("间隔 %1 像素会切开 JPEG 的 %2 × %3 像素块，无损切图做不到；"
                                       "请把 --gap 改成 %4 的倍数")
                            .arg(options.gap).arg(blocks.blockWidth).arg(blocks.blockHeight)
                            .arg(std::max(blocks.blockWidth, blocks.blockHeight)));
    return blocks;
}

// Each tile starts at the block edge at or before its square's corner and
// grows to cover the square: the picture's own blocks, no new encoding.
std::vector<tjtransform> blockCrops(const GridOptions &options, const JpegBlocks &blocks)
{
    const int edge = tileEdge(options, blocks.size);
    if (edge < 1)
        throw tooSmall(options);
    const QPoint origin = croppedPart(options, blocks.size, gridArea(options, edge)).topLeft();
    std::vector<tjtransform> transforms(static_cast<size_t>(options.columns * options.rows));
    for (size_t i = 0; i < transforms.size(); ++i) {
        const QRect square = tileSquare(options, edge, int(i) + 1).translated(origin);
        tjtransform &t = transforms[i];
        t = tjtransform();
        t.r.x = square.x() / blocks.blockWidth * blocks.blockWidth;
        t.r.y = square.y() / blocks.blockHeight * blocks.blockHeight;
        t.r.w = square.right() + 1 - t.r.x;
        t.r.h = square.bottom() + 1 - t.r.y;
        t.op = TJXOP_NONE;
        t.options = TJXOPT_CROP | TJXOPT_COPYNONE; // no EXIF, XMP or comments
    }
    return transforms;
}

} // namespace

std::vector<QByteArray> losslessTiles(const QString &path, const GridOptions &options)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw picture::PictureError(picture::PictureError::Cause::Unreadable);
    if (file.size() > kMaxLosslessBytes)
        throw picture::PictureError();
    const QByteArray jpeg = file.readAll();
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitTransform(), tjDestroy);
    std::vector<tjtransform> transforms = blockCrops(options, losslessSource(handle.get(), path, jpeg, options));
    const int count = int(transforms.size());
    std::vector<unsigned char *> buffers(size_t(count), nullptr);
    std::vector<unsigned long> sizes(size_t(count), 0);
    const int failed = tjTransform(handle.get(), reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                   jpeg.size(), count, buffers.data(), sizes.data(), transforms.data(), 0);
    std::vector<QByteArray> files;
    for (int i = 0; i < count; ++i) {
        if (!failed)
            files.emplace_back(reinterpret_cast<const char *>(buffers[size_t(i)]), qsizetype(sizes[size_t(i)]));
        tjFree(buffers[size_t(i)]);
    }
    if (failed)
        throw picture::PictureError();
    return files;
}

void cutGrid(const QString &picture, const QString &folder, const GridOptions &options, bool *damaged)
{
    if (damaged)
        *damaged = false;
    std::vector<QByteArray> files;
    if (options.lossless)
        files = losslessTiles(picture, options);
    else if (auto pipelined = pipelinedTiles(picture, options, damaged))
        files = std::move(*pipelined);
    else
        files = reencodedTiles(picture, options, damaged);
    TileFiles out;
    for (size_t i = 0; i < files.size(); ++i) {
        const QString path = folder + gridTileName(options, int(i) + 1);
        if (files[i].isEmpty()) // the encoder found no memory
            throw TileWriteError(path, writeFailedMessage(path, ENOMEM), ENOMEM);
        out.add(files[i], path);
    }
    out.commit();
}

} // namespace tiles

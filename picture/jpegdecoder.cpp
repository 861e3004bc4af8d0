#include "picture/jpegdecoder.h"

#include "picture/corethread.h"
#include "picture/orientation.h"

#include <QFile>
#include <QList>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

#include "picture/picturedecoder.h"

namespace picture {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void onError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

// Warnings (level -1: data cut short, corrupt data skipped) are counted, so
// that a picture shown only in part can be told from a whole one.
void onMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
}


// Enough for the coefficients of a progressive photo of some 170 megapixels.
constexpr long kMemoryBudget = 512L * 1024 * 1024;

// The largest DCT shrink (8, 4, 2 or 1) that still covers the size needed.
int scaleDenominator(int width, int height, int needWidth, int needHeight)
{
    int denominator = 8;
    while (denominator > 1
           && ((width + denominator - 1) / denominator < needWidth
               || (height + denominator - 1) / denominator < needHeight))
        denominator /= 2;
    return denominator;
}

// Bytes a file may hold before its frame header: EXIF, colour profiles
// (up to 255 segments of 64 KB) and the tables, with room to spare.
constexpr qint64 kHeaderBytes = 64LL * 1024 * 1024;
// Entropy-coded data never needs more than a few bytes a pixel; a file that
// goes on far beyond that (a header followed by gigabytes of zeros) is not a
// photo, and is refused once that much has been read.
constexpr qint64 kBytesPerPixel = 16;
// Bands of a JPEG with restart markers for each thread that decodes them.
constexpr int kBandsPerThread = 4;
// Bytes read from the file at a time, by every pass and by the band scan.
constexpr size_t kReadBytes = 64 * 1024;

// One pass of libjpeg over part of the file: first the bytes at `prefix`
// (a band's own header), then the file's bytes from `begin` to `end`, read
// with pread() so that passes on several threads share the descriptor. A
// band then gets an end marker; the whole stream may not go past `end`.
struct Pass {
    int fd = -1;
    const JOCTET *prefix = nullptr;
    size_t prefixSize = 0;
    qint64 begin = 0;
    qint64 end = 0;
    bool band = false;
    // A band's restart markers keep the numbers they have in the whole
    // file: the first one it meets is this one (RST0 + shift).
    int restartShift = 0;
    // Where the decoded rows go (stride bytes apart), and the size the
    // pass must give at the shrink asked for.
    unsigned char *pixels = nullptr;
    size_t stride = 0;
    int width = 0;
    int height = 0;
};

struct Source {
    jpeg_source_mgr pub;
    const Pass *pass;
    const JOCTET *prefix;
    qint64 at;
    bool started;
    bool ended;
    JOCTET buffer[kReadBytes];
};

const JOCTET kEndMarker[2] = {0xFF, JPEG_EOI};

void startSource(j_decompress_ptr info)
{
    reinterpret_cast<Source *>(info->src)->started = false;
}

boolean fillSource(j_decompress_ptr info)
{
    auto *source = reinterpret_cast<Source *>(info->src);
    const Pass &pass = *source->pass;
    if (source->prefix) {
        source->pub.next_input_byte = source->prefix;
        source->pub.bytes_in_buffer = pass.prefixSize;
        source->prefix = nullptr;
        source->started = true;
        return TRUE;
    }
    if (source->at >= pass.end && !pass.band)
        ERREXIT(info, JERR_FILE_READ); // longer than any picture of its size
    if (source->at < pass.end) {
        const size_t want = size_t(std::min<qint64>(qint64(kReadBytes), pass.end - source->at));
        ssize_t got;
        do
            got = ::pread(pass.fd, source->buffer, want, off_t(source->at));
        while (got < 0 && errno == EINTR);
        if (got < 0)
            ERREXIT(info, JERR_FILE_READ);
        if (got > 0) {
            source->at += got;
            source->pub.next_input_byte = source->buffer;
            source->pub.bytes_in_buffer = size_t(got);
            source->started = true;
            return TRUE;
        }
    }
    // The data ends: a band where its rows end, anything else early. As
    // libjpeg's own file source does, an early end gets an end marker and
    // a warning.
    if (!source->started)
        ERREXIT(info, JERR_INPUT_EMPTY);
    if (!pass.band || source->at < pass.end || source->ended)
        WARNMS(info, JWRN_JPEG_EOF);
    source->ended = true;
    source->pub.next_input_byte = kEndMarker;
    source->pub.bytes_in_buffer = 2;
    return TRUE;
}

void skipInSource(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    auto *source = reinterpret_cast<Source *>(info->src);
    while (size_t(count) > source->pub.bytes_in_buffer) {
        count -= long(source->pub.bytes_in_buffer);
        source->pub.bytes_in_buffer = 0;
        // What is skipped in the file is not read at all.
        if (!source->prefix && source->at < source->pass->end) {
            const qint64 jump = std::min<qint64>(count, source->pass->end - source->at);
            source->at += jump;
            count -= long(jump);
            if (count == 0)
                return;
        }
        fillSource(info);
    }
    source->pub.next_input_byte += size_t(count);
    source->pub.bytes_in_buffer -= size_t(count);
}

// A band's restart marker that has the number it has in the whole file is
// the expected one; anything else is resynchronised as libjpeg does.
boolean resyncBand(j_decompress_ptr info, int desired)
{
    const auto *source = reinterpret_cast<Source *>(info->src);
    if (info->unread_marker == JPEG_RST0 + (desired + source->pass->restartShift) % 8) {
        info->unread_marker = 0;
        return TRUE;
    }
    return jpeg_resync_to_restart(info, desired);
}

void endSource(j_decompress_ptr) {}

// What the header says, read before any pixel is decoded.
struct Header {
    int width = 0;
    int height = 0;
    int orientation = 1;
    bool ours = false; // a colour space this path decodes
    int components = 0;
    bool restarts = false; // one sequential Huffman scan with restart markers
    qint64 scanStart = 0;  // where the scan's entropy-coded data begins
};

// Kept free of C++ objects with destructors: libjpeg reports errors by
// jumping out of it. With header set, reads the header into it and decodes
// nothing; otherwise decodes at 1/denominator into pass.pixels, and fails
// unless that gives exactly pass.width x pass.height.
bool runPass(const Pass &pass, int denominator, Header *header, bool *damaged)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    auto *const source = static_cast<Source *>(std::malloc(sizeof(Source)));
    if (!source)
        return false;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(source);
        return false;
    }
    jpeg_create_decompress(&info);
    // A progressive file keeps every coefficient of the whole picture while
    // it decodes, whatever the shrink: a few KB whose header claims
    // 20000 x 20000 would take over a gigabyte. Past the budget libjpeg has
    // no backing store to fall back on and fails instead. A baseline file
    // never needs those buffers.
    info.mem->max_memory_to_use = kMemoryBudget;
    source->pub.init_source = startSource;
    source->pub.fill_input_buffer = fillSource;
    source->pub.skip_input_data = skipInSource;
    source->pub.resync_to_restart = pass.band ? resyncBand : jpeg_resync_to_restart;
    source->pub.term_source = endSource;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
    source->pass = &pass;
    source->prefix = pass.prefix;
    source->at = pass.begin;
    source->ended = false;
    info.src = &source->pub;
    if (header)
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);

    if (header) {
        for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
            if (m->marker == JPEG_APP0 + 1) {
                const int o = exifOrientation(QByteArray::fromRawData(
                    reinterpret_cast<const char *>(m->data), qsizetype(m->data_length)));
                if (o != 1) {
                    header->orientation = o;
                    break;
                }
            }
        }
        header->width = int(info.image_width);
        header->height = int(info.image_height);
        // Colour spaces other than YCbCr and grey (CMYK, YCCK) go the
        // general way.
        header->ours = info.jpeg_color_space == JCS_YCbCr
                       || info.jpeg_color_space == JCS_GRAYSCALE
                       || info.jpeg_color_space == JCS_RGB;
        header->components = info.num_components;
        header->restarts = info.restart_interval > 0 && !info.progressive_mode && !info.arith_code
                           && info.comps_in_scan == info.num_components;
        header->scanStart = source->at - qint64(source->pub.bytes_in_buffer);
        jpeg_destroy_decompress(&info);
        std::free(source);
        return true;
    }
    info.scale_denom = unsigned(denominator);
    info.scale_num = 1;
    info.out_color_space = JCS_EXT_BGRX;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    if (int(info.output_width) != pass.width || int(info.output_height) != pass.height
        || info.output_components != 4)
        ERREXIT(&info, JERR_BAD_DCTSIZE); // not the rows this pass is for
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pass.pixels + pass.stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    *damaged = errors.pub.num_warnings > 0;
    jpeg_destroy_decompress(&info);
    std::free(source);
    return true;
}

// Reads exactly `size` bytes at `offset`, or fails.
bool readAt(int fd, char *into, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size_t(size), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        size -= got;
        offset += got;
    }
    return true;
}

quint16 be16(const char *d)
{
    return quint16((quint8(d[0]) << 8) | quint8(d[1]));
}

} // namespace

// Cuts a sequential JPEG with restart markers into bands of whole MCU rows,
// each decodable on its own: the same header with its height changed, the
// entropy data of its restart intervals as the file holds it, and an end
// marker. Every restart resets the decoder's state, so each band decodes to
// exactly the rows it has in the whole picture. Bands begin where an
// interval begins a row of MCUs, as near as can be to equal shares of the
// entropy data (the decoding time goes with it). Nothing when the file does
// not allow it.
RestartPlan restartBands(int fd, int wanted)
{
    if (wanted < 2)
        return {};
    // The segments up to the start of the scan.
    QByteArray head;
    qint64 read = 0;
    const auto readUpTo = [&](qint64 size) {
        if (size > kHeaderBytes)
            return false;
        while (read < size) {
            const qint64 more = std::min<qint64>(kHeaderBytes, std::max<qint64>(size, read + qint64(kReadBytes)));
            head.resize(qsizetype(more));
            ssize_t got;
            do
                got = ::pread(fd, head.data() + read, size_t(more - read), off_t(read));
            while (got < 0 && errno == EINTR);
            if (got <= 0) {
                head.resize(qsizetype(read));
                return false;
            }
            read += got;
        }
        return true;
    };
    if (!readUpTo(4) || quint8(head[0]) != 0xFF || quint8(head[1]) != 0xD8)
        return {};
    qint64 at = 2;
    qsizetype heightAt = -1;
    int width = 0, height = 0, components = 0, hMax = 1, vMax = 1, interval = 0;
    qint64 scanStart = -1;
    while (readUpTo(at + 4)) {
        if (quint8(head[at]) != 0xFF)
            return {};
        const quint8 marker = quint8(head[at + 1]);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const qint64 length = be16(head.constData() + at + 2);
        if (length < 2 || !readUpTo(at + 2 + length))
            return {};
        const char *const body = head.constData() + at + 4;
        if (marker == 0xC0 || marker == 0xC1) {
            if (length < 8)
                return {};
            heightAt = qsizetype(at + 5);
            height = be16(body + 1);
            width = be16(body + 3);
            components = quint8(body[5]);
            if (length < 8 + 3 * components)
                return {};
            for (int c = 0; c < components; ++c) {
                const quint8 sampling = quint8(body[6 + 3 * c + 1]);
                hMax = std::max(hMax, sampling >> 4);
                vMax = std::max(vMax, sampling & 15);
            }
        } else if ((marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
                    && marker != 0xCC)) {
            return {}; // progressive, lossless or arithmetic: not ours
        } else if (marker == 0xDD) {
            if (length < 4)
                return {};
            interval = be16(body);
        } else if (marker == 0xDA) {
            // One scan with every component: the MCU spans all of them.
            if (length < 3 || quint8(body[0]) != components)
                return {};
            scanStart = at + 2 + length;
            break;
        }
        at += 2 + length;
    }
    if (scanStart < 0 || heightAt < 0 || interval <= 0 || width <= 0 || height <= 0
        || (components != 1 && components != 3))
        return {};
    const int mcuWidth = components == 1 ? 8 : 8 * hMax;
    const int mcuHeight = components == 1 ? 8 : 8 * vMax;
    const int mcusPerRow = (width + mcuWidth - 1) / mcuWidth;
    const int mcuRows = (height + mcuHeight - 1) / mcuHeight;
    // No more than the decoder itself would read.
    const qint64 limit = kHeaderBytes + kBytesPerPixel * width * height * components;

    // Where each restart interval's data begins and the scan ends, read a
    // block at a time; markers are rare in the entropy data, so the search
    // jumps from 0xFF to 0xFF.
    QList<qint64> intervalStart{scanStart};
    QList<qint64> intervalEnd;
    qint64 end = -1;
    std::unique_ptr<char[]> block(new char[kReadBytes]);
    for (qint64 from = scanStart; end < 0 && from < limit;) {
        ssize_t got;
        do
            got = ::pread(fd, block.get(), kReadBytes, off_t(from));
        while (got < 0 && errno == EINTR);
        if (got < 2)
            return {};
        const char *const bytes = block.get();
        qint64 i = 0;
        while (i + 1 < got) {
            const void *ff = std::memchr(bytes + i, 0xFF, size_t(got - 1 - i));
            if (!ff) {
                i = got - 1; // the last byte may begin a marker
                break;
            }
            i = static_cast<const char *>(ff) - bytes;
            const quint8 next = quint8(bytes[i + 1]);
            if (next == 0x00 || next == 0xFF) {
                ++i;
                continue;
            }
            if (next >= 0xD0 && next <= 0xD7) {
                intervalEnd << from + i;
                intervalStart << from + i + 2;
                i += 2;
                continue;
            }
            end = from + i; // EOI, or any other marker: the scan ends here
            break;
        }
        from += i;
    }
    if (end < 0)
        return {};
    intervalEnd << end;
    const qint64 intervals = intervalStart.size();
    if (intervals * interval < qint64(mcusPerRow) * mcuRows
        || (intervals - 1) * interval >= qint64(mcusPerRow) * mcuRows)
        return {};

    // The intervals that begin rows, and the one nearest each share's start.
    QList<qsizetype> firstInterval{0};
    QList<int> firstRow{0};
    for (int share = 1; share < wanted; ++share) {
        const qint64 target = scanStart + (end - scanStart) * share / wanted;
        qsizetype best = -1;
        for (qsizetype k = firstInterval.last() + 1; k < intervals; ++k) {
            const qint64 mcu = k * interval;
            if (mcu % mcusPerRow != 0)
                continue;
            if (best >= 0 && std::abs(intervalStart[k] - target) > std::abs(intervalStart[best] - target))
                break;
            best = k;
        }
        if (best < 0)
            break;
        firstInterval << best;
        firstRow << int(best * interval / mcusPerRow);
    }
    if (firstInterval.size() < 2)
        return {};
    firstInterval << intervals;
    firstRow << mcuRows;

    RestartPlan plan;
    plan.header = head.left(qsizetype(scanStart));
    plan.heightAt = heightAt;
    for (qsizetype b = 0; b + 1 < firstInterval.size(); ++b) {
        RestartBand band;
        band.begin = intervalStart[firstInterval[b]];
        band.end = intervalEnd[firstInterval[b + 1] - 1];
        band.firstRow = firstRow[b] * mcuHeight;
        band.rows = std::min(firstRow[b + 1] * mcuHeight, height) - band.firstRow;
        band.restartShift = int(firstInterval[b] % 8);
        plan.bands << band;
    }
    return plan;
}

Decoded decodeJpegUpright(const QString &path, QSize atLeast, int threads)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Decoded::notHandled();
    // Closed whichever way this ends.
    const std::unique_ptr<const int, void (*)(const int *)> closer(&fd, [](const int *f) { ::close(*f); });
    char head[3] = {};
    if (!readAt(fd, head, 3, 0) || quint8(head[0]) != 0xFF || quint8(head[1]) != 0xD8
        || quint8(head[2]) != 0xFF)
        return Decoded::notHandled();

    // From here on it is a JPEG: what this path cannot read, no reader can.
    Header header;
    Pass headerPass;
    headerPass.fd = fd;
    headerPass.end = kHeaderBytes;
    if (!runPass(headerPass, 0, &header, nullptr))
        return Decoded::failed();
    if (qint64(header.width) * header.height > maxPicturePixels)
        return Decoded::failed();
    if (!header.ours)
        return Decoded::notHandled();
    // Sizes before turning: a photo turned a quarter swaps what it must cover.
    const bool turned = header.orientation >= 5;
    const int denominator = scaleDenominator(header.width, header.height,
                                             turned ? atLeast.height() : atLeast.width(),
                                             turned ? atLeast.width() : atLeast.height());
    // Every pass writes its rows straight into the picture.
    Pass whole;
    whole.fd = fd;
    whole.end = kHeaderBytes
                + kBytesPerPixel * header.width * header.height * std::max(1, header.components);
    whole.width = (header.width + denominator - 1) / denominator;
    whole.height = (header.height + denominator - 1) / denominator;
    whole.stride = size_t(whole.width) * 4;
    whole.pixels = static_cast<unsigned char *>(std::malloc(whole.stride * size_t(whole.height)));
    if (!whole.pixels)
        return Decoded::failed();
    QImage stored(whole.pixels, whole.width, whole.height, qsizetype(whole.stride),
                  QImage::Format_RGB32, std::free, whole.pixels);

    if (threads <= 0)
        threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    // Bands of equal shares of the data still take unequal times (the
    // detail varies across a photo): a few more bands than threads, each
    // thread taking the next one left, end close together.
    const RestartPlan plan =
        header.restarts && threads > 1 ? restartBands(fd, threads * kBandsPerThread) : RestartPlan();
    bool decoded = false;
    bool warned = false;
    if (plan.bands.size() >= 2) {
        // The bands on every thread, each band's rows into their place.
        const qsizetype count = plan.bands.size();
        std::vector<QByteArray> heads(static_cast<size_t>(count), plan.header);
        std::vector<Pass> passes(static_cast<size_t>(count));
        std::vector<char> good(static_cast<size_t>(count), 0);
        for (qsizetype b = 0; b < count; ++b) {
            const RestartBand &band = plan.bands[b];
            QByteArray &bandHead = heads[size_t(b)];
            bandHead[plan.heightAt] = char(band.rows >> 8);
            bandHead[plan.heightAt + 1] = char(band.rows & 0xFF);
            Pass &pass = passes[size_t(b)];
            pass.fd = fd;
            pass.prefix = reinterpret_cast<const JOCTET *>(bandHead.constData());
            pass.prefixSize = size_t(bandHead.size());
            pass.begin = band.begin;
            pass.end = band.end;
            pass.band = true;
            pass.restartShift = band.restartShift;
            pass.width = whole.width;
            pass.height = (band.rows + denominator - 1) / denominator;
            pass.stride = whole.stride;
            pass.pixels = whole.pixels + whole.stride * size_t(band.firstRow / denominator);
        }
        const auto decodeBand = [&](qsizetype b) {
            bool bandWarned = false;
            // A band libjpeg had to warn about is not trusted: the whole
            // stream then decides what the damage looks like.
            good[size_t(b)] = runPass(passes[size_t(b)], denominator, nullptr, &bandWarned)
                              && !bandWarned;
        };
        std::atomic<qsizetype> next{0};
        const auto decodeBands = [&] {
            for (qsizetype b = next++; b < count; b = next++)
                decodeBand(b);
        };
        std::vector<std::unique_ptr<CoreThread>> workers;
        for (int t = 1; t < threads && t < count; ++t) {
            auto worker = std::make_unique<CoreThread>(decodeBands);
            if (!worker->start(t))
                break; // no more threads to be had: the ones there do it all
            workers.push_back(std::move(worker));
        }
        decodeBands();
        for (const std::unique_ptr<CoreThread> &worker : workers)
            worker->join();
        decoded = std::all_of(good.begin(), good.end(), [](char g) { return g != 0; });
    }
    // A file the bands could not serve is decoded whole, as one stream.
    if (!decoded && !runPass(whole, denominator, nullptr, &warned))
        return Decoded::failed();
    return Decoded::picture(applyOrientation(stored, header.orientation), warned);
}

Decoded decodeJpeg(const QString &path, QSize atLeast)
{
    return decodeJpegUpright(path, atLeast, 0);
}

} // namespace picture

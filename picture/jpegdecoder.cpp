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
#include <sys/mman.h>
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
// How often a row sink hears of the rows decoded.
constexpr unsigned kRowsPerReport = 16;
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
    // Told as the rows arrive, and the decode stops after `lastRow` rows
    // (0: all of them).
    RowSink *sink = nullptr;
    int lastRow = 0;
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

// Everything from here to runPass is kept free of C++ objects with
// destructors while libjpeg may jump out of it.

void prepareSource(Source *source, const Pass &pass)
{
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
}

void describeHeader(const jpeg_decompress_struct &info, const Source &source, Header *header)
{
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
    header->scanStart = source.at - qint64(source.pub.bytes_in_buffer);
}

void decodeRows(jpeg_decompress_struct *info, const Pass &pass, int denominator)
{
    info->scale_denom = unsigned(denominator);
    info->scale_num = 1;
    info->out_color_space = JCS_EXT_BGRX;
    info->dct_method = JDCT_ISLOW;
    info->do_fancy_upsampling = FALSE;
    jpeg_start_decompress(info);
    if (int(info->output_width) != pass.width || int(info->output_height) != pass.height
        || info->output_components != 4)
        ERREXIT(info, JERR_BAD_DCTSIZE); // not the rows this pass is for
    const unsigned last = pass.lastRow > 0 ? std::min(unsigned(pass.lastRow), info->output_height)
                                           : info->output_height;
    while (info->output_scanline < last) {
        JSAMPROW row = pass.pixels + pass.stride * info->output_scanline;
        jpeg_read_scanlines(info, &row, 1);
        if (pass.sink && (info->output_scanline % kRowsPerReport == 0 || info->output_scanline == last))
            pass.sink->rowsReady(int(info->output_scanline));
    }
    if (last == info->output_height)
        jpeg_finish_decompress(info);
    else
        jpeg_abort_decompress(info); // the rows below are not wanted
}

// With header set, reads the header into it and decodes nothing; otherwise
// decodes at 1/denominator into pass.pixels, and fails unless that gives
// exactly pass.width x pass.height.
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
    prepareSource(source, pass);
    info.src = &source->pub;
    if (header)
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    if (header) {
        describeHeader(info, *source, header);
    } else {
        decodeRows(&info, pass, denominator);
        *damaged = errors.pub.num_warnings > 0;
    }
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

ssize_t preadSome(int fd, char *into, size_t size, qint64 offset)
{
    ssize_t got;
    do
        got = ::pread(fd, into, size, off_t(offset));
    while (got < 0 && errno == EINTR);
    return got;
}

quint16 be16(const char *d)
{
    return quint16((quint8(d[0]) << 8) | quint8(d[1]));
}

// The file's first bytes, read a block at a time as far as they are asked
// for, never past kHeaderBytes.
struct HeadBytes {
    int fd = -1;
    QByteArray bytes;
    qint64 read = 0;

    bool upTo(qint64 size)
    {
        if (size > kHeaderBytes)
            return false;
        while (read < size) {
            const qint64 more = std::min<qint64>(kHeaderBytes, std::max<qint64>(size, read + qint64(kReadBytes)));
            bytes.resize(qsizetype(more));
            const ssize_t got = preadSome(fd, bytes.data() + read, size_t(more - read), read);
            if (got <= 0) {
                bytes.resize(qsizetype(read));
                return false;
            }
            read += got;
        }
        return true;
    }
};

// The frame as the segments before the scan describe it.
struct Frame {
    QByteArray header; // the file up to the scan's entropy-coded data
    qsizetype heightAt = -1;
    int width = 0;
    int height = 0;
    int components = 0;
    int hMax = 1;
    int vMax = 1;
    int interval = 0;
    qint64 scanStart = -1;
};

// Takes what the segment at `at` says of the frame; false when it rules the
// bands out.
bool readSegment(quint8 marker, const char *body, qint64 length, qint64 at, Frame *frame)
{
    if (marker == 0xC0 || marker == 0xC1) {
        if (length < 8)
            return false;
        frame->heightAt = qsizetype(at + 5);
        frame->height = be16(body + 1);
        frame->width = be16(body + 3);
        frame->components = quint8(body[5]);
        if (length < 8 + 3 * frame->components)
            return false;
        for (int c = 0; c < frame->components; ++c) {
            const quint8 sampling = quint8(body[6 + 3 * c + 1]);
            frame->hMax = std::max(frame->hMax, sampling >> 4);
            frame->vMax = std::max(frame->vMax, sampling & 15);
        }
    } else if ((marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
                && marker != 0xCC)) {
        return false; // progressive, lossless or arithmetic: not ours
    } else if (marker == 0xDD) {
        if (length < 4)
            return false;
        frame->interval = be16(body);
    } else if (marker == 0xDA) {
        // One scan with every component: the MCU spans all of them.
        if (length < 3 || quint8(body[0]) != frame->components)
            return false;
        frame->scanStart = at + 2 + length;
    }
    return true;
}

// Reads the segments up to the scan; false when the bands cannot serve it.
bool readFrame(int fd, Frame *frame)
{
    HeadBytes head{fd, {}, 0};
    if (!head.upTo(4) || quint8(head.bytes[0]) != 0xFF || quint8(head.bytes[1]) != 0xD8)
        return false;
    for (qint64 at = 2; frame->scanStart < 0;) {
        if (!head.upTo(at + 4) || quint8(head.bytes[at]) != 0xFF)
            return false;
        const quint8 marker = quint8(head.bytes[at + 1]);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const qint64 length = be16(head.bytes.constData() + at + 2);
        if (length < 2 || !head.upTo(at + 2 + length)
            || !readSegment(marker, head.bytes.constData() + at + 4, length, at, frame))
            return false;
        at += 2 + length;
    }
    frame->header = head.bytes.left(qsizetype(frame->scanStart));
    return frame->heightAt >= 0 && frame->interval > 0 && frame->width > 0 && frame->height > 0
           && (frame->components == 1 || frame->components == 3);
}

// Where each restart interval's data begins and ends.
struct Intervals {
    QList<qint64> starts;
    QList<qint64> ends;
};

// Looks through one block of entropy data read at `from`: a restart marker
// ends an interval and begins the next, any other marker (EOI most often)
// ends the scan there, at *end. Returns how far it looked; the last byte may
// begin a marker and is looked at again with the next block.
qint64 scanBlock(const char *bytes, qint64 got, qint64 from, Intervals *intervals, qint64 *end)
{
    qint64 i = 0;
    while (i + 1 < got) {
        // Markers are rare in the entropy data: the search jumps from 0xFF
        // to 0xFF.
        const void *ff = std::memchr(bytes + i, 0xFF, size_t(got - 1 - i));
        if (!ff)
            return got - 1;
        i = static_cast<const char *>(ff) - bytes;
        const quint8 next = quint8(bytes[i + 1]);
        if (next == 0x00 || next == 0xFF) {
            ++i;
            continue;
        }
        if (next >= 0xD0 && next <= 0xD7) {
            intervals->ends << from + i;
            intervals->starts << from + i + 2;
            i += 2;
            continue;
        }
        *end = from + i;
        break;
    }
    return i;
}

bool findIntervals(int fd, const Frame &frame, Intervals *intervals)
{
    // No more than the decoder itself would read.
    const qint64 limit = kHeaderBytes + kBytesPerPixel * frame.width * frame.height * frame.components;
    intervals->starts = {frame.scanStart};
    qint64 end = -1;
    std::unique_ptr<char[]> block(new char[kReadBytes]);
    for (qint64 from = frame.scanStart; end < 0 && from < limit;) {
        const ssize_t got = preadSome(fd, block.get(), kReadBytes, from);
        if (got < 2)
            return false;
        from += scanBlock(block.get(), got, from, intervals, &end);
    }
    if (end < 0)
        return false;
    intervals->ends << end;
    return true;
}

struct McuGrid {
    int height = 8;
    int perRow = 0;
    int rows = 0;
};

McuGrid mcuGrid(const Frame &frame)
{
    const int mcuWidth = frame.components == 1 ? 8 : 8 * frame.hMax;
    McuGrid grid;
    grid.height = frame.components == 1 ? 8 : 8 * frame.vMax;
    grid.perRow = (frame.width + mcuWidth - 1) / mcuWidth;
    grid.rows = (frame.height + grid.height - 1) / grid.height;
    return grid;
}

// Whether the intervals found are exactly the ones the frame needs.
bool coversFrame(const Intervals &intervals, int interval, const McuGrid &grid)
{
    const qint64 count = intervals.starts.size();
    const qint64 mcus = qint64(grid.perRow) * grid.rows;
    return count * interval >= mcus && (count - 1) * interval < mcus;
}

// The first interval and MCU row of each band: of the intervals that begin
// rows, the one nearest each share's start.
struct BandStarts {
    QList<qsizetype> interval{0};
    QList<int> row{0};
};

BandStarts bandStarts(const Frame &frame, const McuGrid &grid, const Intervals &intervals, int wanted)
{
    const qint64 end = intervals.ends.last();
    BandStarts starts;
    for (int share = 1; share < wanted; ++share) {
        const qint64 target = frame.scanStart + (end - frame.scanStart) * share / wanted;
        qsizetype best = -1;
        for (qsizetype k = starts.interval.last() + 1; k < intervals.starts.size(); ++k) {
            const qint64 mcu = k * frame.interval;
            if (mcu % grid.perRow != 0)
                continue;
            if (best >= 0
                && std::abs(intervals.starts[k] - target) > std::abs(intervals.starts[best] - target))
                break;
            best = k;
        }
        if (best < 0)
            break;
        starts.interval << best;
        starts.row << int(best * frame.interval / grid.perRow);
    }
    return starts;
}

RestartPlan bandsFrom(const Frame &frame, const McuGrid &grid, const Intervals &intervals,
                      BandStarts starts)
{
    starts.interval << intervals.starts.size();
    starts.row << grid.rows;
    RestartPlan plan;
    plan.header = frame.header;
    plan.heightAt = frame.heightAt;
    for (qsizetype b = 0; b + 1 < starts.interval.size(); ++b) {
        RestartBand band;
        band.begin = intervals.starts[starts.interval[b]];
        band.end = intervals.ends[starts.interval[b + 1] - 1];
        band.firstRow = starts.row[b] * grid.height;
        band.rows = std::min(starts.row[b + 1] * grid.height, frame.height) - band.firstRow;
        band.restartShift = int(starts.interval[b] % 8);
        plan.bands << band;
    }
    return plan;
}

// Each band's pass: its own header (its height in place of the frame's), its
// stretch of the file, its rows of the picture.
std::vector<Pass> bandPasses(const RestartPlan &plan, const Pass &whole, int denominator,
                             std::vector<QByteArray> *heads)
{
    const size_t count = size_t(plan.bands.size());
    heads->assign(count, plan.header);
    std::vector<Pass> passes(count);
    for (size_t b = 0; b < count; ++b) {
        const RestartBand &band = plan.bands[qsizetype(b)];
        QByteArray &bandHead = (*heads)[b];
        bandHead[plan.heightAt] = char(band.rows >> 8);
        bandHead[plan.heightAt + 1] = char(band.rows & 0xFF);
        Pass &pass = passes[b];
        pass.fd = whole.fd;
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
    return passes;
}

// Runs the passes on up to `threads` cores, each thread taking the next one
// left; true when every one decoded without a warning.
bool runOnCores(const std::vector<Pass> &passes, int denominator, int threads)
{
    const size_t count = passes.size();
    std::vector<char> good(count, 0);
    std::atomic<size_t> next{0};
    const auto decodeBands = [&] {
        for (size_t b = next++; b < count; b = next++) {
            bool bandWarned = false;
            // A band libjpeg had to warn about is not trusted: the whole
            // stream then decides what the damage looks like.
            good[b] = runPass(passes[b], denominator, nullptr, &bandWarned) && !bandWarned;
        }
    };
    std::vector<std::unique_ptr<CoreThread>> workers;
    for (int t = 1; t < threads && size_t(t) < count; ++t) {
        auto worker = std::make_unique<CoreThread>(decodeBands);
        if (!worker->start(t))
            break; // no more threads to be had: the ones there do it all
        workers.push_back(std::move(worker));
    }
    decodeBands();
    for (const std::unique_ptr<CoreThread> &worker : workers)
        worker->join();
    return std::all_of(good.begin(), good.end(), [](char g) { return g != 0; });
}

// Decodes a file with restart markers in bands side by side, straight into
// the whole pass's rows; false when it has no bands or one of them failed.
bool decodeInBands(const Header &header, const Pass &whole, int denominator, int threads)
{
    if (!header.restarts || threads < 2)
        return false;
    // Bands of equal shares of the data still take unequal times (the
    // detail varies across a photo): a few more bands than threads end close
    // together.
    const RestartPlan plan = restartBands(whole.fd, threads * kBandsPerThread);
    if (plan.bands.size() < 2)
        return false;
    std::vector<QByteArray> heads;
    return runOnCores(bandPasses(plan, whole, denominator, &heads), denominator, threads);
}

// A picture's file, open for the passes (pread shares it between threads)
// until it goes.
struct JpegFile {
    explicit JpegFile(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {}
    ~JpegFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    JpegFile(const JpegFile &) = delete;
    JpegFile &operator=(const JpegFile &) = delete;
    const int fd;
};

// The frame's header, and false too when it cannot be read or claims more
// pixels than any picture may have.
bool readHeader(int fd, Header *header)
{
    Pass headerPass;
    headerPass.fd = fd;
    headerPass.end = kHeaderBytes;
    return runPass(headerPass, 0, header, nullptr)
           && qint64(header->width) * header->height <= maxPicturePixels;
}

bool startsAsJpeg(int fd)
{
    char head[3] = {};
    return readAt(fd, head, 3, 0) && quint8(head[0]) == 0xFF && quint8(head[1]) == 0xD8
           && quint8(head[2]) == 0xFF;
}

// The largest shrink that still covers `atLeast` once the photo is upright:
// one turned a quarter swaps what it must cover.
int denominatorFor(const Header &header, QSize atLeast)
{
    const bool turned = header.orientation >= 5;
    return scaleDenominator(header.width, header.height, turned ? atLeast.height() : atLeast.width(),
                            turned ? atLeast.width() : atLeast.height());
}

// The pass over the whole file at 1/denominator, into newly allocated rows
// (none when they cannot be had).
Pass wholePass(int fd, const Header &header, int denominator)
{
    Pass whole;
    whole.fd = fd;
    whole.end = kHeaderBytes
                + kBytesPerPixel * header.width * header.height * std::max(1, header.components);
    whole.width = (header.width + denominator - 1) / denominator;
    whole.height = (header.height + denominator - 1) / denominator;
    whole.stride = size_t(whole.width) * 4;
    const size_t bytes = whole.stride * size_t(whole.height);
    whole.pixels = static_cast<unsigned char *>(std::malloc(bytes));
    // A photo at its own size is a hundred megabytes written once: in huge
    // pages it takes a few dozen page faults instead of tens of thousands.
    constexpr size_t hugePage = size_t(2) << 20;
    if (whole.pixels && bytes >= 4 * hugePage) {
        const auto start = (reinterpret_cast<uintptr_t>(whole.pixels) + hugePage - 1) & ~(hugePage - 1);
        const auto end = (reinterpret_cast<uintptr_t>(whole.pixels) + bytes) & ~(hugePage - 1);
        ::madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
    }
    return whole;
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
    Frame frame;
    Intervals intervals;
    if (wanted < 2 || !readFrame(fd, &frame) || !findIntervals(fd, frame, &intervals))
        return {};
    const McuGrid grid = mcuGrid(frame);
    if (!coversFrame(intervals, frame.interval, grid))
        return {};
    const BandStarts starts = bandStarts(frame, grid, intervals, wanted);
    if (starts.interval.size() < 2)
        return {};
    return bandsFrom(frame, grid, intervals, starts);
}

Decoded decodeJpegUpright(const QString &path, QSize atLeast, int threads)
{
    const JpegFile file(path);
    const int fd = file.fd;
    if (fd < 0 || !startsAsJpeg(fd))
        return Decoded::notHandled();
    // From here on it is a JPEG: what this path cannot read, no reader can.
    Header header;
    if (!readHeader(fd, &header))
        return Decoded::failed();
    if (!header.ours)
        return Decoded::notHandled();
    const int denominator = denominatorFor(header, atLeast);
    // Every pass writes its rows straight into the picture's pixels.
    const Pass whole = wholePass(fd, header, denominator);
    if (!whole.pixels)
        return Decoded::failed();
    const QImage stored(whole.pixels, whole.width, whole.height, qsizetype(whole.stride),
                        QImage::Format_RGB32, std::free, whole.pixels);
    if (threads <= 0)
        threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    // A file the bands could not serve is decoded whole, as one stream.
    bool warned = false;
    if (!decodeInBands(header, whole, denominator, threads) && !runPass(whole, denominator, nullptr, &warned))
        return Decoded::failed();
    return Decoded::picture(applyOrientation(stored, header.orientation), warned);
}

Decoded decodeJpegRows(const QString &path, RowSink &sink)
{
    const JpegFile file(path);
    const int fd = file.fd;
    Header header;
    if (fd < 0 || !startsAsJpeg(fd) || !readHeader(fd, &header) || !header.ours
        || header.orientation != 1 || header.restarts)
        return Decoded::notHandled(); // the ways above read it, or refuse it
    Pass whole = wholePass(fd, header, 1);
    if (!whole.pixels)
        return Decoded::failed();
    const QImage stored(whole.pixels, whole.width, whole.height, qsizetype(whole.stride),
                        QImage::Format_RGB32, std::free, whole.pixels);
    whole.lastRow = sink.wanted(stored);
    if (whole.lastRow <= 0)
        return Decoded::notHandled();
    whole.sink = &sink;
    bool warned = false;
    if (!runPass(whole, 1, nullptr, &warned))
        return Decoded::failed();
    return Decoded::picture(stored, warned);
}

Decoded decodeJpeg(const QString &path, QSize atLeast)
{
    return decodeJpegUpright(path, atLeast, 0);
}

} // namespace picture

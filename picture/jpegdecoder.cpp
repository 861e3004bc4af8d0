#include "picture/jpegdecoder.h"

#include <QFile>
#include <QList>
#include <QThread>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

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

struct DecodedPart {
    unsigned char *pixels = nullptr;
    int width = 0;
    int height = 0;
    bool damaged = false; // libjpeg warned: what it could not read is grey
};

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
// Files up to this size are read whole, for decoding in bands side by side;
// larger ones are streamed.
constexpr qint64 kWholeFileBytes = 64LL * 1024 * 1024;

// Where libjpeg reads from: bytes in memory, or a file streamed through a
// small buffer so that its size costs no memory.
struct Input {
    const unsigned char *data = nullptr;
    size_t size = 0;
    std::FILE *file = nullptr;
    qint64 limit = 0; // bytes of the file that may be read
};

struct FileSource {
    jpeg_source_mgr pub;
    std::FILE *file;
    qint64 left;
    bool started;
    JOCTET buffer[16384];
};

void startFile(j_decompress_ptr info)
{
    reinterpret_cast<FileSource *>(info->src)->started = false;
}

boolean fillFromFile(j_decompress_ptr info)
{
    auto *source = reinterpret_cast<FileSource *>(info->src);
    if (source->left <= 0)
        ERREXIT(info, JERR_FILE_READ); // longer than any picture of its size
    const size_t want = size_t(std::min<qint64>(qint64(sizeof source->buffer), source->left));
    size_t got = std::fread(source->buffer, 1, want, source->file);
    source->left -= qint64(got);
    if (got == 0) {
        // As libjpeg's own file source does: an early end gets an end marker
        // and a warning.
        if (!source->started)
            ERREXIT(info, JERR_INPUT_EMPTY);
        WARNMS(info, JWRN_JPEG_EOF);
        source->buffer[0] = JOCTET(0xFF);
        source->buffer[1] = JOCTET(JPEG_EOI);
        got = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = got;
    source->started = true;
    return TRUE;
}

void skipInFile(j_decompress_ptr info, long count)
{
    jpeg_source_mgr *source = info->src;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        fillFromFile(info);
    }
    if (count > 0) {
        source->next_input_byte += size_t(count);
        source->bytes_in_buffer -= size_t(count);
    }
}

void endFile(j_decompress_ptr) {}

void attachSource(j_decompress_ptr info, const Input &input, FileSource *source)
{
    if (!input.file) {
        jpeg_mem_src(info, input.data, static_cast<unsigned long>(input.size));
        return;
    }
    source->pub.init_source = startFile;
    source->pub.fill_input_buffer = fillFromFile;
    source->pub.skip_input_data = skipInFile;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = endFile;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
    source->file = input.file;
    source->left = input.limit;
    info->src = &source->pub;
}

// What the header says, read before any pixel is decoded.
struct Header {
    int width = 0;
    int height = 0;
    int orientation = 1;
    bool ours = false; // a colour space this path decodes
    int components = 0;
};

// Kept free of C++ objects with destructors: libjpeg reports errors by
// jumping out of it. With headerOnly, fills `header` and decodes nothing;
// otherwise decodes at 1/denominator.
bool decode(const Input &input, bool headerOnly, int denominator, Header *header, DecodedPart *out)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    FileSource *const source = input.file ? static_cast<FileSource *>(std::malloc(sizeof(FileSource)))
                                          : nullptr;
    if (input.file && !source)
        return false;
    unsigned char *volatile pixels = nullptr;
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.emit_message = onMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(pixels);
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
    attachSource(&info, input, source);
    if (headerOnly)
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);

    if (headerOnly) {
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

    const size_t stride = size_t(info.output_width) * 4;
    pixels = static_cast<unsigned char *>(std::malloc(stride * info.output_height));
    if (!pixels) {
        jpeg_destroy_decompress(&info);
        std::free(source);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    out->width = int(info.output_width);
    out->height = int(info.output_height);
    out->pixels = pixels;
    out->damaged = errors.pub.num_warnings > 0;
    jpeg_destroy_decompress(&info);
    std::free(source);
    return true;
}

quint16 be16(const QByteArray &d, qsizetype at)
{
    return quint16((quint8(d[at]) << 8) | quint8(d[at + 1]));
}

// Cuts a sequential JPEG with restart markers into streams of whole MCU
// rows, each a complete JPEG of its own: the same header with its height
// changed, the entropy data of its restart intervals (restart numbers
// counted afresh from 0), and an end marker. Every restart resets the
// decoder's state, so each band decodes to exactly the rows it has in the
// whole picture. Returns nothing when the file does not allow it.
} // namespace

QList<QByteArray> restartBands(const QByteArray &jpeg, int wanted)
{
    if (wanted < 2 || jpeg.size() < 4)
        return {};
    qsizetype at = 2;
    qsizetype heightAt = -1;
    int width = 0, height = 0, components = 0, hMax = 1, vMax = 1, interval = 0;
    qsizetype scanStart = -1;
    while (at + 4 <= jpeg.size()) {
        if (quint8(jpeg[at]) != 0xFF)
            return {};
        const quint8 marker = quint8(jpeg[at + 1]);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const qsizetype length = be16(jpeg, at + 2);
        if (length < 2 || at + 2 + length > jpeg.size())
            return {};
        const qsizetype body = at + 4;
        if (marker == 0xC0 || marker == 0xC1) {
            if (length < 8)
                return {};
            heightAt = body + 1;
            height = be16(jpeg, body + 1);
            width = be16(jpeg, body + 3);
            components = quint8(jpeg[body + 5]);
            if (length < 8 + 3 * components)
                return {};
            for (int c = 0; c < components; ++c) {
                const quint8 sampling = quint8(jpeg[body + 6 + 3 * c + 1]);
                hMax = std::max(hMax, sampling >> 4);
                vMax = std::max(vMax, sampling & 15);
            }
        } else if ((marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
                    && marker != 0xCC)) {
            return {}; // progressive, lossless or arithmetic: not ours
        } else if (marker == 0xDD) {
            if (length < 4)
                return {};
            interval = be16(jpeg, body);
        } else if (marker == 0xDA) {
            // One scan with every component: the MCU spans all of them.
            if (quint8(jpeg[body]) != components)
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

    // Where each restart interval's data begins and the scan ends.
    QList<qsizetype> intervalStart{scanStart};
    QList<qsizetype> intervalEnd;
    qsizetype end = -1;
    const char *const bytes = jpeg.constData();
    for (qsizetype i = scanStart; i + 1 < jpeg.size(); ++i) {
        // Markers are rare in the entropy data: jump from 0xFF to 0xFF.
        const void *ff = std::memchr(bytes + i, 0xFF, size_t(jpeg.size() - 1 - i));
        if (!ff)
            break;
        i = static_cast<const char *>(ff) - bytes;
        const quint8 next = quint8(bytes[i + 1]);
        if (next == 0x00 || next == 0xFF)
            continue;
        if (next >= 0xD0 && next <= 0xD7) {
            intervalEnd << i;
            intervalStart << i + 2;
            ++i;
            continue;
        }
        end = i; // EOI, or any other marker: the scan ends here
        break;
    }
    if (end < 0)
        return {};
    intervalEnd << end;
    const qsizetype intervals = intervalStart.size();
    if (qint64(intervals) * interval < qint64(mcusPerRow) * mcuRows
        || qint64(intervals - 1) * interval >= qint64(mcusPerRow) * mcuRows)
        return {};

    // Bands begin where an interval begins a row of MCUs.
    const int rowsPerBand = (mcuRows + wanted - 1) / wanted;
    QList<qsizetype> firstInterval{0};
    QList<int> firstRow{0};
    for (qsizetype k = 1; k < intervals; ++k) {
        const qint64 mcu = qint64(k) * interval;
        if (mcu % mcusPerRow != 0)
            continue;
        const int row = int(mcu / mcusPerRow);
        if (row - firstRow.last() >= rowsPerBand) {
            firstInterval << k;
            firstRow << row;
        }
    }
    if (firstInterval.size() < 2)
        return {};
    firstInterval << intervals;
    firstRow << mcuRows;

    const QByteArray header = jpeg.left(scanStart);
    QList<QByteArray> bands;
    for (qsizetype b = 0; b + 1 < firstInterval.size(); ++b) {
        QByteArray band = header;
        const int bandHeight = std::min(firstRow[b + 1] * mcuHeight, height) - firstRow[b] * mcuHeight;
        band[heightAt] = char(bandHeight >> 8);
        band[heightAt + 1] = char(bandHeight & 0xFF);
        const qsizetype first = firstInterval[b];
        const qsizetype last = firstInterval[b + 1];
        band.reserve(band.size() + (intervalEnd[last - 1] - intervalStart[first]) + 2);
        for (qsizetype k = first; k < last; ++k) {
            if (k > first) {
                band += char(0xFF);
                band += char(0xD0 + (k - first - 1) % 8);
            }
            band.append(jpeg.constData() + intervalStart[k], intervalEnd[k] - intervalStart[k]);
        }
        band += char(0xFF);
        band += char(0xD9);
        bands << band;
    }
    return bands;
}

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

QImage decodeJpegUpright(const QString &path, QSize atLeast, int threads, bool *refused,
                         bool *damaged)
{
    if (refused)
        *refused = false;
    if (damaged)
        *damaged = false;
    std::FILE *const file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return {};
    // Closed whichever way this ends.
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> closer(file, std::fclose);
    unsigned char head[3] = {};
    if (std::fread(head, 1, 3, file) != 3 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF
        || std::fseek(file, 0, SEEK_SET) != 0)
        return {};

    // From here on it is a JPEG: what this path cannot read, no reader can.
    const auto refuse = [refused]() {
        if (refused)
            *refused = true;
        return QImage();
    };
    Header header;
    if (!decode(Input{nullptr, 0, file, kHeaderBytes}, true, 0, &header, nullptr))
        return refuse();
    if (qint64(header.width) * header.height > maxPicturePixels)
        return refuse();
    if (!header.ours)
        return {};
    // Sizes before turning: a photo turned a quarter swaps what it must cover.
    const bool turned = header.orientation >= 5;
    const int denominator = scaleDenominator(header.width, header.height,
                                             turned ? atLeast.height() : atLeast.width(),
                                             turned ? atLeast.width() : atLeast.height());
    const Input streamed{nullptr, 0, file,
                         kHeaderBytes
                             + kBytesPerPixel * header.width * header.height
                                   * std::max(1, header.components)};

    // The common photo is read whole, to be decoded in bands side by side.
    QByteArray jpeg;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size > 0 && size <= kWholeFileBytes && std::fseek(file, 0, SEEK_SET) == 0) {
            jpeg.resize(size);
            if (std::fread(jpeg.data(), 1, size_t(size), file) != size_t(size))
                jpeg.clear();
        }
    }
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return refuse();
    const Input whole = jpeg.isEmpty()
                            ? streamed
                            : Input{reinterpret_cast<const unsigned char *>(jpeg.constData()),
                                    size_t(jpeg.size()), nullptr, 0};

    if (threads <= 0)
        threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    const QList<QByteArray> bands = restartBands(jpeg, threads);
    DecodedPart decoded;
    if (bands.size() >= 2) {
        // Each band on a core of its own, then the rows joined in order.
        std::vector<DecodedPart> parts(size_t(bands.size()));
        std::vector<char> good(size_t(bands.size()), 0);
        const auto decodeBand = [&](qsizetype b) {
            const QByteArray &band = bands[b];
            good[size_t(b)] = decode(Input{reinterpret_cast<const unsigned char *>(band.constData()),
                                           size_t(band.size())},
                                     false, denominator, nullptr, &parts[size_t(b)]);
        };
        std::vector<std::thread> workers;
        workers.reserve(size_t(bands.size()));
        for (qsizetype b = 1; b < bands.size(); ++b) {
            try {
                workers.emplace_back(decodeBand, b);
            } catch (const std::system_error &) {
                decodeBand(b); // no thread to be had: on this one
            }
        }
        decodeBand(0);
        for (std::thread &worker : workers)
            worker.join();
        bool joined = true;
        int rows = 0;
        for (size_t b = 0; b < parts.size(); ++b) {
            joined = joined && good[b] && parts[b].width == parts[0].width;
            rows += parts[b].height;
            decoded.damaged = decoded.damaged || parts[b].damaged;
        }
        if (joined) {
            const size_t stride = size_t(parts[0].width) * 4;
            decoded.pixels = static_cast<unsigned char *>(std::malloc(stride * size_t(rows)));
            if (decoded.pixels) {
                size_t offset = 0;
                for (const DecodedPart &part : parts) {
                    std::memcpy(decoded.pixels + offset, part.pixels, stride * size_t(part.height));
                    offset += stride * size_t(part.height);
                }
                decoded.width = parts[0].width;
                decoded.height = rows;
            }
        }
        for (DecodedPart &part : parts)
            std::free(part.pixels);
    }
    // A file the bands could not serve is decoded whole, as one stream.
    if (!decoded.pixels
        && !decode(whole, false, denominator, nullptr, &decoded))
        return refuse();
    const QImage stored(decoded.pixels, decoded.width, decoded.height, decoded.width * 4,
                        QImage::Format_RGB32, std::free, decoded.pixels);
    if (damaged)
        *damaged = decoded.damaged;
    return applyOrientation(stored, header.orientation);
}

Decoded decodeJpeg(const QString &path, QSize atLeast)
{
    bool refused = false;
    bool damaged = false;
    QImage photo = decodeJpegUpright(path, atLeast, 0, &refused, &damaged);
    if (!photo.isNull())
        return Decoded::picture(std::move(photo), damaged);
    return refused ? Decoded::failed() : Decoded::notHandled();
}

} // namespace picture

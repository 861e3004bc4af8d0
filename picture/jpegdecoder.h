#pragma once

#include "picture/decoded.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

namespace picture {

// Decodes a baseline or progressive JPEG straight from libjpeg, shrinking in
// the DCT (1/2, 1/4, 1/8) as far as the result still covers `atLeast` after
// the photo is turned upright, and turns it upright by its EXIF orientation.
// Not handled when the file is not a JPEG this path reads (the general
// reader then gets its turn); failed when it is one and still cannot be
// decoded (damaged, or past the memory budget): no other reader should try
// it again, least of all one without a budget. A picture libjpeg had to warn
// about (the file ends early, or corrupt data was skipped) is `damaged`:
// shown as far as it could be read.
//
// A sequential JPEG with restart markers at the starts of MCU rows is cut
// into bands that are decoded side by side on up to `threads` cores (0: as
// many as the machine has, at most 8); the result is the same, pixel for
// pixel, as decoding it in one piece (threads = 1).
Decoded decodeJpegUpright(const QString &path, QSize atLeast, int threads = 0);

// Hears of a JPEG's rows as they are decoded, so that a job can start on
// the first ones while later ones decode.
class RowSink
{
public:
    virtual ~RowSink() = default;
    // Before any row: the picture the rows go into (its own size, RGB32),
    // and how many rows from the top the job needs. The decode stops
    // there, and the rows below stay unset; 0 ends it as NotHandled.
    virtual int wanted(const QImage &picture) = 0;
    // The top `rows` rows are decoded. Called on the decoding thread, from
    // inside libjpeg: it must not throw.
    virtual void rowsReady(int rows) noexcept = 0;
};

// A sequential JPEG at its own size, as stored, with its rows told to `sink`
// as they arrive. Only for a file the one-stream way suits: one with an
// EXIF turn or with restart bands (decoded on several cores) is NotHandled,
// as is whatever is no JPEG; decodeJpegUpright reads those. The picture's
// colour profile is not applied.
Decoded decodeJpegRows(const QString &path, RowSink &sink);

// The same through the decoders' one contract, on every core.
Decoded decodeJpeg(const QString &path, QSize atLeast);

// One band of rows of a JPEG with restart markers: its entropy data is the
// file's bytes from `begin` to `end`, and it decodes on its own to `rows`
// pixel rows from `firstRow` on. Its first restart marker is numbered
// `restartShift` (the numbers it has in the whole file are kept).
struct RestartBand {
    qint64 begin = 0;
    qint64 end = 0;
    int firstRow = 0;
    int rows = 0;
    int restartShift = 0;
};

// How a JPEG is cut into bands (at most `wanted`) for decoding side by side:
// the file's header up to its scan, where in it the frame's height is
// stored (each band states its own), and the bands. No bands when the file
// has no restart markers at row starts or is not a single sequential scan.
struct RestartPlan {
    QByteArray header;
    qsizetype heightAt = -1;
    QList<RestartBand> bands;
};
RestartPlan restartBands(int fd, int wanted);

} // namespace picture

#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <utility>

namespace picture {

// What one decoder made of a file. Every decoder answers the same way:
// - NotHandled: not a file of its kind; the next decoder gets its turn;
// - Failed: one of its kind that it cannot read (damaged, or past the pixel
//   bound); no other decoder may try it, least of all one without a bound;
// - Decoded: the picture, upright, covering the size asked for (a decoder
//   may give more, at most about twice as much each way). `damaged` says it
//   could be read only in part and is shown as far as it goes.
struct Decoded {
    enum class Status { NotHandled, Failed, Decoded };
    Status status = Status::NotHandled;
    QImage image;
    bool damaged = false;

    static Decoded notHandled() { return {}; }
    static Decoded failed() { return {Status::Failed, {}, false}; }
    static Decoded picture(QImage image, bool damaged = false)
    {
        return {Status::Decoded, std::move(image), damaged};
    }
};

// A decoder: reads the picture file at `path` to cover `atLeast`.
using Decoder = Decoded (*)(const QString &path, QSize atLeast);

} // namespace picture

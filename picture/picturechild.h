#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace picture {

// Metafile players (libwmf, libemf2svg) can be driven into minutes of work,
// gigabytes of memory or a crash by a file of a few bytes. Such pictures are
// played in a short-lived child process of the running program, under a time
// and a memory limit, and only the finished display-sized image comes back.
//
// Every program that loads pictures calls this first thing in main(), before
// it makes its application object:
//
//     if (const auto status = picture::runPictureChild(argc, argv))
//         return *status;
//
// When this process was started as such a child, it plays the picture, writes
// it to standard output and returns the exit status. Otherwise it returns
// nothing and from then on loadPictureStretched() plays metafiles in a child
// of this program. A program that never calls it plays them in-process.
std::optional<int> runPictureChild(int argc, char **argv);

// Whether runPictureChild() has been called in this (parent) process.
bool pictureChildAvailable();

struct PictureChildLimits
{
    int wallMilliseconds = 5000;            // the window waits no longer
    int cpuSeconds = 10;                    // in case the parent is gone
    qint64 memoryBytes = 512ll << 20;       // the child's data, all of it
};

// The limits the next children run under; tests make them tighter.
void setPictureChildLimits(const PictureChildLimits &limits);
PictureChildLimits pictureChildLimits();

// Plays the picture at `path` in a child and returns exactly `size` pixels.
// A child that crashes, runs out of time or memory, or hands back anything
// but the image asked for is PictureError, the same as a bad file. Events
// other than user input are handled while waiting, so windows keep painting.
QImage renderInChild(const QString &path, QSize size, const QColor &background);

// Platform part: the limits applied to this process when it is a child, and
// the file a child is started from (this program's own).
void limitPictureChild(const PictureChildLimits &limits);
QString pictureChildProgram();

} // namespace picture

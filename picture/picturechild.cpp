#include "picture/picturechild.h"

#include "picture/picturedecoder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>
#include <QtEndian>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace picture {

namespace {

// Chosen so that no picture's file name can be mistaken for it.
constexpr char kChildFlag[] = "--mosalune-play-picture-in-child";
constexpr char kMagic[4] = {'M', 'S', 'L', 'P'};
constexpr int kHeaderBytes = 12;
constexpr int kLargestSide = 16384;

// Set once at start-up, read from whatever thread decodes.
std::atomic<bool> g_available{false};
PictureChildLimits g_limits;

enum ChildStatus { Played = 0, NotPlayable = 3, BadArguments = 4, OutputFailed = 5 };

bool playableSize(QSize size)
{
    return size.width() >= 1 && size.height() >= 1 && size.width() <= kLargestSide
           && size.height() <= kLargestSide;
}

int playInChild(int argc, char **argv)
{
    // flag, width, height, background, memory, cpu seconds, path
    if (argc != 8)
        return BadArguments;
    bool ok[5] = {};
    const int width = QByteArray(argv[2]).toInt(&ok[0]);
    const int height = QByteArray(argv[3]).toInt(&ok[1]);
    const QColor background = QColor::fromString(QLatin1String(argv[4]));
    PictureChildLimits limits;
    limits.memoryBytes = QByteArray(argv[5]).toLongLong(&ok[2]);
    limits.cpuSeconds = QByteArray(argv[6]).toInt(&ok[3]);
    ok[4] = background.isValid();
    for (bool each : ok)
        if (!each)
            return BadArguments;
    if (!playableSize(QSize(width, height)))
        return BadArguments;
    limitPictureChild(limits);

    // Text in an enhanced metafile is drawn with Qt's fonts, which need a GUI
    // application; the child never shows anything.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int appArgc = 1;
    QGuiApplication app(appArgc, argv);
    const QString path = QString::fromLocal8Bit(argv[7]);

    QImage image;
    try {
        image = loadPictureStretched(path, QSize(width, height), background);
    } catch (const PictureError &) {
        return NotPlayable;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    if (image.size() != QSize(width, height))
        return NotPlayable;

    // 32-bit pixels: the rows follow one another with no padding.
    char header[kHeaderBytes];
    std::memcpy(header, kMagic, 4);
    qToLittleEndian<quint32>(quint32(width), header + 4);
    qToLittleEndian<quint32>(quint32(height), header + 8);
    const size_t pixels = size_t(image.sizeInBytes());
    if (std::fwrite(header, 1, sizeof header, stdout) != sizeof header
        || std::fwrite(image.constBits(), 1, pixels, stdout) != pixels)
        return OutputFailed;
    return std::fflush(stdout) == 0 ? Played : OutputFailed;
}

} // namespace

std::optional<int> runPictureChild(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], kChildFlag) == 0)
        return playInChild(argc, argv);
    g_available = true;
    return std::nullopt;
}

bool pictureChildAvailable()
{
    return g_available && QCoreApplication::instance();
}

void setPictureChildLimits(const PictureChildLimits &limits)
{
    g_limits = limits;
}

PictureChildLimits pictureChildLimits()
{
    return g_limits;
}

QImage renderInChild(const QString &path, QSize size, const QColor &background)
{
    if (!playableSize(size))
        throw PictureError();
    const PictureChildLimits limits = g_limits;
    const qint64 expected = kHeaderBytes + qint64(size.width()) * size.height() * 4;

    QProcess child;
    child.setProgram(pictureChildProgram());
    child.setArguments({QString::fromLatin1(kChildFlag), QString::number(size.width()),
                        QString::number(size.height()), background.name(QColor::HexRgb),
                        QString::number(limits.memoryBytes), QString::number(limits.cpuSeconds),
                        path});
    child.setStandardInputFile(QProcess::nullDevice());
    // What the players print about a broken file means nothing to a user.
    child.setStandardErrorFile(QProcess::nullDevice());

    QByteArray output;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&child, &QProcess::readyReadStandardOutput, &loop, [&] {
        output += child.readAllStandardOutput();
        if (output.size() > expected)
            child.kill(); // more than the picture asked for: not ours to read
    });
    // A crash ends the child as well; a failed start is seen below.
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);

    child.start();
    if (!child.waitForStarted(limits.wallMilliseconds))
        throw PictureError();
    deadline.start(limits.wallMilliseconds);
    if (child.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (child.state() != QProcess::NotRunning) {
        // Out of time (or the application is quitting): the picture is not
        // worth waiting for.
        child.kill();
        child.waitForFinished(1000);
        throw PictureError();
    }
    output += child.readAllStandardOutput();
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != Played
        || output.size() != expected || !output.startsWith(QByteArray(kMagic, 4))
        || qFromLittleEndian<quint32>(output.constData() + 4) != quint32(size.width())
        || qFromLittleEndian<quint32>(output.constData() + 8) != quint32(size.height()))
        throw PictureError();

    return QImage(reinterpret_cast<const uchar *>(output.constData()) + kHeaderBytes, size.width(),
                  size.height(), qsizetype(size.width()) * 4, QImage::Format_RGB32)
        .copy();
}

} // namespace picture

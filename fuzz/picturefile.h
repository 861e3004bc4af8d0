#pragma once

// The decoders read files by path, as the program does: each input is
// written to one file of this process, in memory where the system has it.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include "picture/picturedecoder.h"

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

inline QString inputFile(const std::uint8_t *data, std::size_t size)
{
    static const QString path = [] {
        const QString shm = QStringLiteral("/dev/shm");
        const QString dir = QDir(shm).exists() ? shm : QDir::tempPath();
        return dir + QStringLiteral("/mosalune-fuzz-%1").arg(::getpid());
    }();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort(); // the fuzzer's own trouble, not the decoder's
    return path;
}

inline QByteArray inputBytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Qt's image readers and fonts want an application object.
template <typename App>
void makeApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static App app(argc, argv);
}

// The whole loader, the way the window calls it: exactly the box's size, or
// the one refusal.
inline void loadIntoTheBox(const std::uint8_t *data, std::size_t size)
{
    const QSize box(400, 200);
    try {
        const QImage image = picture::loadPictureStretched(inputFile(data, size), box, Qt::white);
        if (image.size() != box)
            std::abort();
    } catch (const picture::PictureError &) {
    }
}

#pragma once

#include "common/errors.h"

#include <QImage>
#include <QString>

namespace tiles {

// A tile file that could not be written. path names the file.
class TileWriteError : public common::RunError
{
public:
    TileWriteError(QString path, QString message)
        : RunError(std::move(message)), m_path(std::move(path)) {}
    const QString &path() const noexcept { return m_path; }

private:
    QString m_path;
};

// The canvas image as the file holds it: an uncompressed 24-bit Windows
// bitmap at 96 dpi, whatever the file's name says.
QByteArray bitmapBytes(const QImage &image);

// Writes the bitmap under a temporary name beside `path` and renames it into
// place, so `path` is either the old file or the whole new one, never half.
void saveBitmap(const QImage &image, const QString &path);

// The folder part of a picture's path, up to and including its last
// separator; empty for a bare file name (the tiles then go to the current
// folder).
QString pictureFolder(const QString &path);

// The text shown when a tile cannot be written.
QString writeFailedMessage(const QString &path);

} // namespace tiles

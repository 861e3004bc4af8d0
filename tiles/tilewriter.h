#pragma once

#include "common/errors.h"

#include <QImage>
#include <QString>

#include <vector>

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

// Bitmap files written so that each target is, whenever the machine stops,
// either its old file or the whole new one: each is written under no name
// (or under a temporary one where the file system has no unnamed files) and
// only put in place by commit(), which syncs each file's data, renames them
// into place in the order they were added, then syncs their folders once.
// A target that is a link is written through it, and an existing target's
// permissions are kept. What is not committed is dropped.
class BitmapFiles
{
public:
    BitmapFiles() = default;
    BitmapFiles(const BitmapFiles &) = delete;
    BitmapFiles &operator=(const BitmapFiles &) = delete;
    ~BitmapFiles();

    // Throws TileWriteError naming `path` (and holds nothing for it).
    void add(const QImage &image, const QString &path);
    // Syncs the data of the files added so far (commit() does it for any
    // left), so that the waiting can be done on another thread.
    void syncData();
    // Takes over `later`'s files, to be put in place after these.
    void append(BitmapFiles &&later);
    // Throws TileWriteError naming the first file that could not be put in
    // place; the ones before it are in place (and their folder synced).
    void commit();

private:
    struct File {
        QString path;         // as the caller named it
        int fd = -1;
        int folder = -1;      // the folder it goes to
        QByteArray name;      // its name there
        QByteArray temporary; // a named temporary file in that folder, or empty
        bool synced = false;  // its data is on the disk
    };
    struct Folder {
        QByteArray path;
        int fd = -1;
    };
    void drop();
    std::vector<File> m_files;
    std::vector<Folder> m_folders;
};

// One bitmap written as above.
void saveBitmap(const QImage &image, const QString &path);

// The folder part of a picture's path, up to and including its last
// separator; empty for a bare file name (the tiles then go to the current
// folder).
QString pictureFolder(const QString &path);

// The text shown when a tile cannot be written.
QString writeFailedMessage(const QString &path);

} // namespace tiles

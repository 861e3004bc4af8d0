#pragma once

#include "common/errors.h"

#include <QImage>
#include <QString>

#include <vector>

namespace tiles {

// A tile file that could not be written. path names the file, error is the
// system's errno for it (0 when unknown).
class TileWriteError : public common::RunError
{
public:
    TileWriteError(QString path, QString message, int error = 0)
        : RunError(std::move(message)), m_path(std::move(path)), m_error(error) {}
    const QString &path() const noexcept { return m_path; }
    int error() const noexcept { return m_error; }

private:
    QString m_path;
    int m_error;
};

// The canvas image as the file holds it: an uncompressed 24-bit Windows
// bitmap at 96 dpi, whatever the file's name says.
QByteArray bitmapBytes(const QImage &image);

// A set of tile files written all or nothing: each is written under no name
// (or under a temporary one where the file system has no unnamed files) and
// nothing is put in place until commit(), which first syncs every file's
// data and gives each a temporary name beside its target, and only then
// renames them into place in the order they were added and syncs their
// folders once. A failure before the renames leaves every old file as it was
// and nothing behind. A target that is a link is written through it, and an
// existing target's permissions are kept. What is not committed is dropped.
class TileFiles
{
public:
    TileFiles() = default;
    TileFiles(const TileFiles &) = delete;
    TileFiles &operator=(const TileFiles &) = delete;
    ~TileFiles();

    // Throws TileWriteError naming `path` (and holds nothing for it).
    void add(const QByteArray &bytes, const QString &path);
    // The image as a bitmap (bitmapBytes).
    void add(const QImage &image, const QString &path);
    // Syncs the data of the files added so far (commit() does it for any
    // left), so that the waiting can be done on another thread.
    void syncData();
    // Takes over `later`'s files, to be put in place after these.
    void append(TileFiles &&later);
    // Throws TileWriteError naming the first file that could not be put in
    // place, with a message that says whether any was.
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
    int prepare(File &file);
    [[noreturn]] void failAt(size_t index, int error);
    std::vector<File> m_files;
    std::vector<Folder> m_folders;
};

// One bitmap written as above.
void saveBitmap(const QImage &image, const QString &path);

// The folder part of a picture's path, up to and including its last
// separator; empty for a bare file name (the tiles then go to the current
// folder).
QString pictureFolder(const QString &path);

// Why a file could not be written, in the user's words: a full disk, a
// read-only folder, no permission, or the system's own reason for `error`.
QString writeFailureReason(int error);

// The text shown when a tile cannot be written. `replaced` tiles had been put
// in place before it (0: every old file is as it was).
QString writeFailedMessage(const QString &path, int error, int replaced = 0);

} // namespace tiles

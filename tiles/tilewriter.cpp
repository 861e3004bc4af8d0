#include "tiles/tilewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tiles {

namespace {
// 96 dots per inch in dots per metre, as Windows stores it.
constexpr int dotsPerMetre96 = 3780;
constexpr int fileHeaderBytes = 14;
constexpr int infoHeaderBytes = 40;

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size_t(size));
        if (done < 0 && errno == EINTR)
            continue;
        if (done == 0)
            errno = ENOSPC; // a write that takes nothing: no room left
        if (done <= 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

} // namespace

QByteArray bitmapBytes(const QImage &image)
{
    // A Windows bitmap file header and info header, then the rows bottom
    // up, three bytes a pixel (blue, green, red), each row padded to four
    // bytes.
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        return {};
    const int width = rgb.width();
    const int height = rgb.height();
    const qsizetype rowBytes = (qsizetype(width) * 3 + 3) / 4 * 4;
    const qsizetype pixelBytes = rowBytes * height;
    const qsizetype offset = fileHeaderBytes + infoHeaderBytes;
    QByteArray bytes(offset + pixelBytes, '\0');
    char *const out = bytes.data();
    out[0] = 'B';
    out[1] = 'M';
    qToLittleEndian<quint32>(quint32(offset + pixelBytes), out + 2);
    qToLittleEndian<quint32>(quint32(offset), out + 10);
    char *const info = out + fileHeaderBytes;
    qToLittleEndian<quint32>(infoHeaderBytes, info);
    qToLittleEndian<qint32>(width, info + 4);
    qToLittleEndian<qint32>(height, info + 8);
    qToLittleEndian<quint16>(1, info + 12);  // planes
    qToLittleEndian<quint16>(24, info + 14); // bits a pixel
    qToLittleEndian<quint32>(0, info + 16);  // uncompressed
    qToLittleEndian<quint32>(quint32(pixelBytes), info + 20);
    qToLittleEndian<qint32>(dotsPerMetre96, info + 24);
    qToLittleEndian<qint32>(dotsPerMetre96, info + 28);
    for (int y = 0; y < height; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(height - 1 - y));
        uchar *row = reinterpret_cast<uchar *>(out + offset + rowBytes * y);
        for (int x = 0; x < width; ++x) {
            *row++ = uchar(qBlue(line[x]));
            *row++ = uchar(qGreen(line[x]));
            *row++ = uchar(qRed(line[x]));
        }
    }
    return bytes;
}

QString writeFailureReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case EROFS:
        return QStringLiteral("文件夹是只读的");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case 0:
        return QStringLiteral("原因不明");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString writeFailedMessage(const QString &path, int error, int replaced)
{
    const QString start = QStringLiteral("无法写入文件 %1（%2），图片切割已停止")
                              .arg(QDir::toNativeSeparators(path), writeFailureReason(error));
    if (replaced == 0)
        return start + QStringLiteral("，原有的图片没有改动。");
    return start + QStringLiteral("，前 %1 块已经换成新的。").arg(replaced);
}

TileFiles::~TileFiles()
{
    drop();
    for (const Folder &folder : m_folders)
        ::close(folder.fd);
}

void TileFiles::drop()
{
    for (const File &file : m_files) {
        ::close(file.fd);
        if (!file.temporary.isEmpty())
            ::unlinkat(file.folder, file.temporary.constData(), 0);
    }
    m_files.clear();
}

void TileFiles::add(const QImage &image, const QString &path)
{
    const QByteArray bytes = bitmapBytes(image);
    if (bytes.isEmpty())
        throw TileWriteError(path, writeFailedMessage(path, ENOMEM), ENOMEM);
    add(bytes, path);
}

void TileFiles::add(const QByteArray &bytes, const QString &path)
{
    const auto fail = [&path](int error) {
        throw TileWriteError(path, writeFailedMessage(path, error), error);
    };
    // Through a link to the file it names, as an editor saves.
    const QFileInfo info(path);
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath());
    const QByteArray folderPath = QFile::encodeName(target.absolutePath());
    File file;
    file.path = path;
    file.name = QFile::encodeName(target.fileName());
    auto folder = std::find_if(m_folders.begin(), m_folders.end(),
                               [&](const Folder &f) { return f.path == folderPath; });
    if (folder == m_folders.end()) {
        const int fd = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            fail(errno);
        m_folders.push_back(Folder{folderPath, fd});
        folder = m_folders.end() - 1;
    }
    file.folder = folder->fd;
    // An existing file keeps its permissions; a new one gets the usual ones.
    // Anything else under the name (a folder, say) could not be renamed
    // over once the other tiles are in place: refused now, before any is.
    struct stat old;
    const bool exists = ::fstatat(file.folder, file.name.constData(), &old, 0) == 0;
    if (exists && !S_ISREG(old.st_mode))
        fail(S_ISDIR(old.st_mode) ? EISDIR : EEXIST);
    file.fd = ::openat(file.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (file.fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM || errno == ENOSPC))
        fail(errno); // a named file would fare no better
    if (file.fd < 0) {
        // No unnamed files here: a temporary name beside the target.
        for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
            file.temporary = file.name + '.'
                             + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            file.fd = ::openat(file.folder, file.temporary.constData(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (file.fd < 0 && errno != EEXIST)
                break;
        }
        if (file.fd < 0)
            fail(errno);
    }
    if ((exists && ::fchmod(file.fd, old.st_mode & 07777) != 0)
        || !writeAll(file.fd, bytes.constData(), bytes.size())) {
        const int error = errno;
        ::close(file.fd);
        if (!file.temporary.isEmpty())
            ::unlinkat(file.folder, file.temporary.constData(), 0);
        fail(error);
    }
    // Its data goes to the disk while the next file is made; the sync then
    // mostly finds it there.
    ::sync_file_range(file.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    m_files.push_back(file);
}

void TileFiles::syncData()
{
    for (File &file : m_files)
        file.synced = file.synced || ::fdatasync(file.fd) == 0;
}

void TileFiles::append(TileFiles &&later)
{
    for (Folder &folder : later.m_folders) {
        const auto same = std::find_if(m_folders.begin(), m_folders.end(),
                                       [&](const Folder &f) { return f.path == folder.path; });
        if (same == m_folders.end()) {
            m_folders.push_back(folder);
            continue;
        }
        for (File &file : later.m_files)
            if (file.folder == folder.fd)
                file.folder = same->fd;
        ::close(folder.fd);
    }
    later.m_folders.clear();
    m_files.insert(m_files.end(), later.m_files.begin(), later.m_files.end());
    later.m_files.clear();
}

// The file's data on the disk and the file under a temporary name beside its
// target, ready for the rename: 0, or the errno that stopped it.
int TileFiles::prepare(File &file)
{
    if (!file.synced && ::fdatasync(file.fd) != 0)
        return errno;
    file.synced = true;
    if (!file.temporary.isEmpty())
        return 0;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = file.name + '.'
                                + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        if (::linkat(AT_FDCWD, self.constData(), file.folder, name.constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            file.temporary = name;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

void TileFiles::failAt(size_t index, int error)
{
    const QString path = m_files[index].path;
    // The files before `index` are in place and no longer ours to remove.
    m_files.erase(m_files.begin(), m_files.begin() + qsizetype(index));
    drop();
    for (const Folder &folder : m_folders)
        ::fsync(folder.fd);
    throw TileWriteError(path, writeFailedMessage(path, error, int(index)), error);
}

void TileFiles::commit()
{
    // Every file is whole on the disk under a name of its own before the
    // first old one is replaced, so a full disk or a refused name leaves the
    // old set untouched.
    for (File &file : m_files)
        if (const int error = prepare(file))
            failAt(0, error);
    // Renames hardly fail once their files are there. A crash between them
    // may still leave old and new tiles mixed; no journal is kept for that,
    // as the user sees the cut did not finish and cuts again.
    for (size_t i = 0; i < m_files.size(); ++i) {
        File &file = m_files[i];
        if (::renameat(file.folder, file.temporary.constData(), file.folder,
                       file.name.constData()) != 0)
            failAt(i, errno);
        ::close(file.fd);
        file.fd = -1;
        file.temporary.clear();
    }
    const size_t placed = m_files.size();
    const QString last = m_files.empty() ? QString() : m_files.back().path;
    m_files.clear();
    int error = 0;
    for (const Folder &folder : m_folders)
        if (::fsync(folder.fd) != 0 && error == 0)
            error = errno;
    if (error != 0)
        throw TileWriteError(last, writeFailedMessage(last, error, int(placed)), error);
}

void saveBitmap(const QImage &image, const QString &path)
{
    TileFiles files;
    files.add(image, path);
    files.commit();
}

QString pictureFolder(const QString &path)
{
    const QString normal = QDir::fromNativeSeparators(path);
    const int slash = normal.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return path.left(slash + 1);
}

} // namespace tiles

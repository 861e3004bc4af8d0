#include "common/replacejournal.h"

#include "common/programfiles.h"
#include "common/releasepage.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

const QByteArray kHeader = "mosalune-replace 1\n";
// Written to this name first and renamed, so that a journal under its own
// name is always whole.
const QString kUnfinishedSuffix = QStringLiteral(".new");
// Far more than kMaxJournalMoves entries of the longest names take.
constexpr qint64 kMaxJournalBytes = 1024 * 1024;

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

// The program folder, opened once: every name below is looked up in it, so
// that nothing outside it can be reached whatever happens to the path.
class Folder
{
public:
    explicit Folder(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~Folder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;
    int fd() const { return m_fd; }
    bool sync() const { return m_fd >= 0 && ::fsync(m_fd) == 0; }

private:
    int m_fd;
};

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool failWith(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The journal's bytes, at most kMaxJournalBytes + 1 of them; nullopt when it
// is not there; *error set when it is there but cannot be read.
std::optional<QByteArray> readJournalFile(const Folder &folder, QString *error)
{
    if (folder.fd() < 0) {
        failWith(error, systemError(errno));
        return std::nullopt;
    }
    const int fd = ::openat(folder.fd(), encoded(replaceJournalName).constData(),
                            O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT)
            failWith(error, systemError(errno));
        return std::nullopt;
    }
    QByteArray bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        bytes.resize(kMaxJournalBytes + 1);
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(got);
    }
    ::close(fd);
    return bytes;
}

} // namespace

bool isBodyFileName(const QString &name)
{
    static const QRegularExpression body(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(downloadBodyTemplate)
            .replace(QStringLiteral("XXXXXX"), QStringLiteral("[A-Za-z0-9]{6}"))));
    return body.match(name).hasMatch();
}

QByteArray replaceJournalBytes(const QList<ReplaceMove> &moves)
{
    QByteArray bytes = kHeader;
    bytes += QByteArray::number(moves.size()) + '\n';
    // Neither name can hold "/" or a line break.
    for (const ReplaceMove &move : moves)
        bytes += move.staged.toUtf8() + '/' + move.target.toUtf8() + '\n';
    bytes += "end " + QByteArray::number(moves.size()) + '\n';
    return bytes;
}

std::optional<QList<ReplaceMove>> readReplaceJournal(const QByteArray &bytes)
{
    if (bytes.size() > kMaxJournalBytes || !bytes.startsWith(kHeader) || !bytes.endsWith('\n'))
        return std::nullopt;
    QList<QByteArray> lines = bytes.mid(kHeader.size()).split('\n');
    lines.removeLast(); // after the final line break
    if (lines.size() < 2)
        return std::nullopt;
    bool ok = false;
    const int count = lines.first().toInt(&ok);
    if (!ok || count < 0 || count > kMaxJournalMoves || lines.size() != count + 2
        || lines.first() != QByteArray::number(count)
        || lines.last() != "end " + QByteArray::number(count))
        return std::nullopt;

    QList<ReplaceMove> moves;
    QSet<QString> names;
    for (int i = 1; i <= count; ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype slash = line.indexOf('/');
        if (slash < 0)
            return std::nullopt;
        const ReplaceMove move{QString::fromUtf8(line.left(slash)),
                               QString::fromUtf8(line.mid(slash + 1))};
        // Only names that round-trip: a byte that is not UTF-8 would name
        // another file than the one written.
        if (move.staged.toUtf8() != line.left(slash) || move.target.toUtf8() != line.mid(slash + 1))
            return std::nullopt;
        if (!isBodyFileName(move.staged) || !unsafeNameReason(move.target).isEmpty()
            || isBodyFileName(move.target) || move.target.startsWith(replaceJournalName))
            return std::nullopt;
        // A name twice would make the outcome depend on the order of renames.
        if (names.contains(move.staged) || names.contains(move.target))
            return std::nullopt;
        names << move.staged << move.target;
        moves.append(move);
    }
    return moves;
}

bool writeReplaceJournal(const QString &folderPath, const QList<ReplaceMove> &moves, QString *error)
{
    const Folder folder(folderPath);
    const QByteArray journal = encoded(replaceJournalName);
    const QByteArray unfinished = journal + encoded(kUnfinishedSuffix);
    struct stat info {};
    if (folder.fd() < 0)
        return failWith(error, QStringLiteral("无法写入更新记录：%1").arg(systemError(errno)));
    if (::fstatat(folder.fd(), journal.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return failWith(error, QStringLiteral("上次更新还没有完成（%1 仍在）")
                                   .arg(QDir::toNativeSeparators(QDir(folderPath).filePath(replaceJournalName))));
    ::unlinkat(folder.fd(), unfinished.constData(), 0);
    const int fd = ::openat(folder.fd(), unfinished.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return failWith(error, QStringLiteral("无法写入更新记录：%1").arg(systemError(errno)));
    const bool written = writeAll(fd, replaceJournalBytes(moves)) && ::fsync(fd) == 0;
    const int code = errno;
    ::close(fd);
    if (!written
        || ::renameat(folder.fd(), unfinished.constData(), folder.fd(), journal.constData()) != 0) {
        const int failure = written ? errno : code;
        ::unlinkat(folder.fd(), unfinished.constData(), 0);
        return failWith(error, QStringLiteral("无法写入更新记录：%1").arg(systemError(failure)));
    }
    if (!folder.sync()) {
        // Not known to be on the disk: the renames must not start.
        const int failure = errno;
        ::unlinkat(folder.fd(), journal.constData(), 0);
        return failWith(error, QStringLiteral("无法写入更新记录：%1").arg(systemError(failure)));
    }
    return true;
}

namespace {

bool carryOut(const QString &folderPath, const Folder &folder, const QList<ReplaceMove> &moves,
              QString *error)
{
    const auto cannotReplace = [&](const QString &target, const QString &why) {
        return failWith(error, QStringLiteral("无法替换 %1：%2")
                                   .arg(QDir::toNativeSeparators(QDir(folderPath).filePath(target)), why));
    };
    if (folder.fd() < 0)
        return failWith(error, QStringLiteral("无法打开 %1：%2")
                                   .arg(QDir::toNativeSeparators(folderPath), systemError(errno)));
    for (const ReplaceMove &move : moves) {
        const QByteArray staged = encoded(move.staged);
        struct stat info {};
        if (::fstatat(folder.fd(), staged.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue; // renamed before the program was stopped
            return cannotReplace(move.target, systemError(errno));
        }
        if (!S_ISREG(info.st_mode))
            return cannotReplace(move.target, QStringLiteral("%1 不是一个普通文件").arg(move.staged));
        if (::renameat(folder.fd(), staged.constData(), folder.fd(), encoded(move.target).constData()) != 0)
            return cannotReplace(move.target, systemError(errno));
    }
    // Every rename on the disk before the record of them goes.
    if (!folder.sync())
        return failWith(error, QStringLiteral("无法完成更新：%1").arg(systemError(errno)));
    if (::unlinkat(folder.fd(), encoded(replaceJournalName).constData(), 0) != 0 && errno != ENOENT)
        return failWith(error, QStringLiteral("无法删除更新记录：%1").arg(systemError(errno)));
    folder.sync();
    return true;
}

} // namespace

bool carryOutReplace(const QString &folderPath, const QList<ReplaceMove> &moves, QString *error)
{
    return carryOut(folderPath, Folder(folderPath), moves, error);
}

RollForward rollForwardReplace(const QString &folderPath, QString *error)
{
    const Folder folder(folderPath);
    if (folder.fd() < 0)
        return RollForward::NoJournal; // no folder, nothing of ours in it
    // A journal still under its temporary name was never complete, so no
    // rename had started.
    ::unlinkat(folder.fd(), (encoded(replaceJournalName) + encoded(kUnfinishedSuffix)).constData(), 0);
    QString readError;
    const std::optional<QByteArray> bytes = readJournalFile(folder, &readError);
    if (!bytes) {
        if (readError.isEmpty())
            return RollForward::NoJournal;
        failWith(error, QStringLiteral("无法读取更新记录：%1").arg(readError));
        return RollForward::Failed;
    }
    const std::optional<QList<ReplaceMove>> moves = readReplaceJournal(*bytes);
    if (!moves) {
        // Not written by an updater: it names nothing that can be trusted.
        ::unlinkat(folder.fd(), encoded(replaceJournalName).constData(), 0);
        folder.sync();
        return RollForward::Dropped;
    }
    return carryOut(folderPath, folder, *moves, error) ? RollForward::Finished : RollForward::Failed;
}

QStringList journalBodies(const QString &folder)
{
    QStringList bodies;
    if (const std::optional<QByteArray> bytes = readJournalFile(Folder(folder), nullptr)) {
        if (const auto moves = readReplaceJournal(*bytes)) {
            for (const ReplaceMove &move : *moves)
                bodies << move.staged;
        }
    }
    return bodies;
}

} // namespace common

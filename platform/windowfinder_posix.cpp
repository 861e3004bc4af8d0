#include "platform/windowfinder.h"
#include "platform/windowfinder_p.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrl>
#include <QWidget>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// A shown window is a file in a private folder that its process keeps
// flock()ed. The kernel releases the lock however the process ends, so a
// window can never outlive its process, not even after SIGKILL. A file that
// can be locked by somebody else is therefore a leftover and is removed.
//
// Files appear under their final name only once they are locked (created
// under a temporary name, locked, then renamed), and their owner removes the
// name before letting go of the lock, so a finder never mistakes a live
// window for a leftover.

namespace platform {

namespace windowfiles {

namespace {

constexpr char tempPrefix[] = ".pub-";

bool isPrivateRuntimeDir(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

} // namespace

QString namePrefix(const QString &windowClass, const QString &title)
{
    // The length keeps ("ab", "c") apart from ("a", "bc").
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(windowClass.size()));
    hash.addData(QByteArrayView(":"));
    hash.addData(windowClass.toUtf8());
    hash.addData(title.toUtf8());
    return QString::fromLatin1(hash.result().toHex().left(32)) + u'-';
}

bool ensurePrivateFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    const QByteArray encoded = QFile::encodeName(info.absoluteFilePath());
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
        return false;

    // Checked and fixed through one descriptor, so that nothing can be
    // swapped in between the check and the chmod.
    const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
            // Others may already have planted files in a folder they could write to.
            && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    if (ok && (st.st_mode & 07777) != 0700)
        ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok;
}

QString defaultFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateRuntimeDir(runtime)) {
        const QString folder = runtime + QStringLiteral("/mosalune-windows");
        if (ensurePrivateFolder(folder))
            return folder;
    }
    const QString fallback = QDir::tempPath() + QStringLiteral("/mosalune-windows-")
            + QString::number(::geteuid());
    if (ensurePrivateFolder(fallback))
        return fallback;
    return QString();
}

QString displayScope(const QString &platformName)
{
    QString scope;
    if (platformName.startsWith(QLatin1String("wayland"))) {
        // A relative name is a socket in the runtime folder; Wayland's default.
        const QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
        scope = QStringLiteral("wayland-") + (display.isEmpty() ? QStringLiteral("wayland-0") : display);
    } else if (platformName == QLatin1String("xcb")) {
        QString display = qEnvironmentVariable("DISPLAY");
        const qsizetype colon = display.lastIndexOf(u':');
        const qsizetype dot = display.indexOf(u'.', colon + 1);
        if (colon >= 0 && dot >= 0)
            display.truncate(dot);
        // "unix:0" is the local ":0".
        if (display.startsWith(QLatin1String("unix:")))
            display.remove(0, 4);
        scope = QStringLiteral("x11-") + display;
    } else {
        scope = platformName.isEmpty() ? QStringLiteral("none") : platformName;
    }
    // Keeps a socket path or any odd character from leaving the folder.
    return QString::fromLatin1(QUrl::toPercentEncoding(scope, ":"));
}

QString displayFolder(const QString &platformName)
{
    const QString base = defaultFolder();
    if (base.isEmpty())
        return QString();
    const QString folder = base + u'/' + displayScope(platformName);
    return ensurePrivateFolder(folder) ? folder : QString();
}

} // namespace windowfiles

namespace {

// Removes temporary files of processes that died between creating and
// renaming them. Files of live processes are left alone: they may not be
// locked yet.
void removeDeadTemporaries(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const size_t prefixLength = sizeof(windowfiles::tempPrefix) - 1;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, windowfiles::tempPrefix, prefixLength) != 0)
            continue;
        const QByteArray rest(entry->d_name + prefixLength);
        bool ok = false;
        const pid_t pid = rest.left(rest.indexOf('-')).toInt(&ok);
        if (ok && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

class LockFileRegistration : public QObject, public WindowRegistration
{
public:
    LockFileRegistration(QWidget *window, const QString &folder, const QString &prefix)
        : m_window(window), m_folder(QFile::encodeName(folder)), m_prefix(prefix.toLatin1())
    {
        if (!window)
            return;
        window->installEventFilter(this);
        QObject::connect(window, &QObject::destroyed, this, [this] { unpublish(); });
        if (window->isVisible())
            publishNow();
    }

    ~LockFileRegistration() override
    {
        if (m_window)
            m_window->removeEventFilter(this);
        unpublish();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window) {
            if (event->type() == QEvent::Show && m_window->isVisible())
                publishNow();
            // A minimised window gets a hide event too but still exists for
            // whoever looks for it.
            else if (event->type() == QEvent::Hide && !m_window->isVisible())
                unpublish();
        }
        return false;
    }

private:
    void publishNow()
    {
        if (m_fd >= 0 || m_folder.isEmpty())
            return;
        removeDeadTemporaries(m_folder);

        static std::atomic<quint64> counter{0};
        const QByteArray tag = QByteArray::number(::getpid()) + '-'
                + QByteArray::number(++counter) + '-'
                + QByteArray::number(QRandomGenerator::system()->generate(), 16);
        const QByteArray temporary = m_folder + '/' + windowfiles::tempPrefix + tag;
        const QByteArray final = m_folder + '/' + m_prefix + tag + ".lock";

        const int fd = ::open(temporary.constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            qWarning("Cannot publish window: %s", std::strerror(errno));
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0
            || ::rename(temporary.constData(), final.constData()) != 0) {
            qWarning("Cannot publish window: %s", std::strerror(errno));
            ::unlink(temporary.constData());
            ::close(fd);
            return;
        }
        m_fd = fd;
        m_path = final;
    }

    void unpublish()
    {
        if (m_fd < 0)
            return;
        // Name first, lock second: see the top of this file.
        ::unlink(m_path.constData());
        ::close(m_fd);
        m_fd = -1;
        m_path.clear();
    }

    QPointer<QWidget> m_window;
    QByteArray m_folder;
    QByteArray m_prefix;
    QByteArray m_path;
    int m_fd = -1;
};

} // namespace

RuntimeDirWindows::RuntimeDirWindows(const QString &folder)
{
    if (folder.isEmpty())
        m_folder = windowfiles::displayFolder(QGuiApplication::platformName());
    else if (windowfiles::ensurePrivateFolder(folder))
        m_folder = QFileInfo(folder).absoluteFilePath();
    if (m_folder.isEmpty())
        qWarning("No private folder for window registrations; windows cannot be found");
}

bool RuntimeDirWindows::findWindow(const QString &windowClass, const QString &title)
{
    if (m_folder.isEmpty())
        return false;
    DIR *dir = ::opendir(QFile::encodeName(m_folder).constData());
    if (!dir)
        return false;
    const QByteArray prefix = windowfiles::namePrefix(windowClass, title).toLatin1();
    const int dirFd = ::dirfd(dir);
    bool found = false;
    while (!found) {
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (std::strncmp(entry->d_name, prefix.constData(), size_t(prefix.size())) != 0)
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A shared probe: two finders looking at the same leftover at once
        // must not take each other for its owner.
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0)
            found = errno == EWOULDBLOCK;
        else
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
    return found;
}

std::unique_ptr<WindowRegistration>
RuntimeDirWindows::publish(QWidget *window, const QString &windowClass, const QString &title)
{
    return std::make_unique<LockFileRegistration>(window, m_folder,
                                                  windowfiles::namePrefix(windowClass, title));
}

} // namespace platform

#include "platform/instance.h"
#include "platform/windowfinder_p.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

LockFileInstance::LockFileInstance(const QString &key, const QString &folder)
{
    QString where = folder;
    if (where.isEmpty())
        where = windowfiles::defaultFolder();
    else if (!windowfiles::ensurePrivateFolder(where))
        where.clear();
    if (where.isEmpty())
        return;
    // Hashed so that any key (a folder path, say) makes a valid file name.
    const QByteArray name =
        QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QByteArray path = QFile::encodeName(where) + "/instance-" + name + ".lock";
    // The file itself stays: removing it would let two starts lock two
    // different files of the same name. Only the lock counts.
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return;
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_previous = errno == EWOULDBLOCK;
        ::close(m_fd);
        m_fd = -1;
    }
}

LockFileInstance::~LockFileInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform

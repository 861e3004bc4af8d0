#include "common/bodyhasher.h"

#include <QFile>

#include <openssl/evp.h>

#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace common {

namespace {

// Small enough to stay in the core's own cache between the read and the
// digest.
constexpr qint64 kPiece = 128 * 1024;
constexpr qint64 kWriteBackStep = 8 * 1024 * 1024;

} // namespace

BodyHasher::BodyHasher(const QString &path) : m_context(EVP_MD_CTX_new())
{
    m_failed = !m_context || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1;
    m_thread = std::thread([this, path] { run(path); });
}

BodyHasher::~BodyHasher()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    EVP_MD_CTX_free(m_context);
}

void BodyHasher::written(qint64 size)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_written = size;
        wake = m_idle;
    }
    if (wake)
        m_changed.notify_all();
}

QByteArray BodyHasher::finish()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (m_failed || m_hashed != m_written || EVP_DigestFinal_ex(m_context, digest, &length) != 1
        || length != 32)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}

// Hashes what is written as it comes; once closing, what is left, then ends.
void BodyHasher::run(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        m_failed = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_failed) {
        m_idle = true;
        m_changed.wait(lock, [this] { return m_written > m_hashed || m_closing; });
        m_idle = false;
        const bool last = m_closing;
        const qint64 end = m_written;
        lock.unlock();
        const bool ok = hashUpTo(file, end);
        lock.lock();
        if (!ok)
            m_failed = true;
        if (last && m_hashed == m_written)
            return;
    }
}

bool BodyHasher::hashUpTo(QFile &file, qint64 end)
{
    std::vector<char> piece(static_cast<size_t>(kPiece));
    while (m_hashed < end) {
        const qint64 n = file.read(piece.data(), qMin(kPiece, end - m_hashed));
        if (n <= 0 || EVP_DigestUpdate(m_context, piece.data(), size_t(n)) != 1)
            return false;
        m_hashed += n;
        // Here rather than on the transfer's thread: starting the write-back
        // blocks while the disk's queue is full (30 ms of a 300 MB body).
        startWriteBack(int(file.handle()), &m_writtenBack, m_hashed);
    }
    return true;
}

void startWriteBack(int fd, qint64 *handedOver, qint64 end)
{
#ifdef Q_OS_LINUX
    if (end - *handedOver < kWriteBackStep)
        return;
    ::sync_file_range(fd, *handedOver, end - *handedOver, SYNC_FILE_RANGE_WRITE);
    *handedOver = end;
#else
    Q_UNUSED(fd);
    Q_UNUSED(handedOver);
    Q_UNUSED(end);
#endif
}

} // namespace common

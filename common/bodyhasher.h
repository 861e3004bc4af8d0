#pragma once

#include <QByteArray>
#include <QString>

class QFile;

#include <condition_variable>
#include <mutex>
#include <thread>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace common {

// The SHA-256 of a body as it streams to its file, taken on a thread of its
// own so that the transfer never waits for it. The network thread only says
// how far the file is written; the hashing thread reads that part back from
// the system's cache in small pieces, so the digest works on data fresh in
// its own core's cache (hashing blocks another core had just filled took
// twice as long as the digest itself). OpenSSL's digest uses the processor's
// SHA instructions where there are any; on two cores it keeps up with the
// network. The same thread starts the disk's write-back of what it hashed.
class BodyHasher
{
public:
    // The file the body is written to, unbuffered, from its first byte.
    explicit BodyHasher(const QString &path);
    // Stops the thread; a hash not finished is dropped.
    ~BodyHasher();
    BodyHasher(const BodyHasher &) = delete;
    BodyHasher &operator=(const BodyHasher &) = delete;

    // The first `size` bytes of the file are written.
    void written(qint64 size);
    // Waits until every written byte is hashed; the 32-byte digest, or an
    // empty one when the file could not be read or the digest not made.
    QByteArray finish();

private:
    void run(const QString &path);
    bool hashUpTo(QFile &file, qint64 end);

    EVP_MD_CTX *m_context = nullptr;
    bool m_failed = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_written = 0;
    qint64 m_hashed = 0;
    qint64 m_writtenBack = 0; // only the hashing thread's
    bool m_closing = false;
    bool m_idle = false;
    std::thread m_thread;
};

// The updater syncs every body before it puts it in place; handing a file's
// written bytes to the disk as the download goes, from *handedOver up to
// end once 8 MiB are waiting, leaves that sync little to wait for (a 300 MB
// body's sync took half a second after the transfer). Linux only.
void startWriteBack(int fd, qint64 *handedOver, qint64 end);

} // namespace common

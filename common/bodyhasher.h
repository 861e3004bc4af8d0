#pragma once

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace common {

// The SHA-256 of a body as it streams to its file, taken on a thread of its
// own so that the transfer never waits for it: the network thread only
// copies each block into a short queue. OpenSSL's digest uses the
// processor's SHA instructions where there are any, several times faster
// than a portable one; on two cores the hash then keeps up with the network.
class BodyHasher
{
public:
    BodyHasher();
    // Stops the thread; a hash not finished is dropped.
    ~BodyHasher();
    BodyHasher(const BodyHasher &) = delete;
    BodyHasher &operator=(const BodyHasher &) = delete;

    // Queues a copy of the block; waits only while the queue is full.
    void add(const char *data, qsizetype size);
    // Waits until every block is hashed; the 32-byte digest, or an empty one
    // when the digest could not be made.
    QByteArray finish();

private:
    void run();

    // About a hundred of libcurl's blocks: enough to ride out a slow moment
    // of the hashing thread, little enough to never matter in memory.
    static constexpr qsizetype kMaxQueued = 8 * 1024 * 1024;

    EVP_MD_CTX *m_context = nullptr;
    bool m_failed = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    qsizetype m_queued = 0;
    bool m_closing = false;
    bool m_busy = false;
    std::thread m_thread;
};

} // namespace common

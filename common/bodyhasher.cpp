#include "common/bodyhasher.h"

#include <openssl/evp.h>

namespace common {

BodyHasher::BodyHasher() : m_context(EVP_MD_CTX_new())
{
    m_failed = !m_context || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1;
    m_thread = std::thread([this] { run(); });
}

BodyHasher::~BodyHasher()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    EVP_MD_CTX_free(m_context);
}

void BodyHasher::add(const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    QByteArray block(data, size);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queued < kMaxQueued || m_closing; });
    m_queued += block.size();
    m_queue.push_back(std::move(block));
    lock.unlock();
    m_changed.notify_all();
}

QByteArray BodyHasher::finish()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (m_failed || EVP_DigestFinal_ex(m_context, digest, &length) != 1 || length != 32)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
}

void BodyHasher::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing; });
        if (m_queue.empty())
            return;
        QByteArray block = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        if (!m_failed && EVP_DigestUpdate(m_context, block.constData(), size_t(block.size())) != 1)
            m_failed = true;
        lock.lock();
        m_busy = false;
        m_queued -= block.size();
        m_changed.notify_all();
    }
}

} // namespace common

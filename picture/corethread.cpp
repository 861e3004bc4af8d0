#include "picture/corethread.h"

#include <algorithm>
#include <vector>

namespace picture {

bool CoreThread::start(int nth)
{
    if (sched_getaffinity(0, sizeof m_allowed, &m_allowed) != 0)
        return startPlaced(nullptr);
    // The nth allowed core after the caller's, round the allowed ones.
    const int here = sched_getcpu();
    std::vector<int> others;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &m_allowed) && cpu != here)
            others.push_back(cpu);
    if (others.empty())
        return startPlaced(nullptr);
    cpu_set_t there;
    CPU_ZERO(&there);
    CPU_SET(others[size_t(std::max(nth, 1) - 1) % others.size()], &there);
    return startPlaced(&there) || startPlaced(nullptr);
}

void CoreThread::join()
{
    if (m_started)
        pthread_join(m_thread, nullptr);
    m_started = false;
}

bool CoreThread::startPlaced(const cpu_set_t *core)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    m_placed = core != nullptr;
    m_started = (!core || pthread_attr_setaffinity_np(&attributes, sizeof *core, core) == 0)
                && pthread_create(&m_thread, &attributes, &CoreThread::run, this) == 0;
    pthread_attr_destroy(&attributes);
    return m_started;
}

void *CoreThread::run(void *self)
{
    auto *const thread = static_cast<CoreThread *>(self);
    if (thread->m_placed)
        pthread_setaffinity_np(pthread_self(), sizeof thread->m_allowed, &thread->m_allowed);
    thread->m_work();
    return nullptr;
}

} // namespace picture

#pragma once

#include <functional>
#include <utility>

#include <pthread.h>
#include <sched.h>

namespace picture {

// A thread started on another core than its maker's. A new thread is
// otherwise queued on the core that made it, busy with its own share of the
// work, and waits there until the scheduler moves it: a few milliseconds on
// an idle machine, as long as the work itself. Once running it may go
// wherever the process may. Used for the JPEG decoder's bands and for the
// tiles.
class CoreThread
{
public:
    explicit CoreThread(std::function<void()> work) : m_work(std::move(work)) {}
    CoreThread(const CoreThread &) = delete;
    CoreThread &operator=(const CoreThread &) = delete;
    ~CoreThread() { join(); }

    // On the nth (from 1) other core the process may use; false when no
    // thread could be started.
    bool start(int nth = 1);
    void join();

private:
    bool startPlaced(const cpu_set_t *core);
    static void *run(void *self);

    std::function<void()> m_work;
    cpu_set_t m_allowed;
    bool m_placed = false;
    bool m_started = false;
    pthread_t m_thread{};
};

} // namespace picture

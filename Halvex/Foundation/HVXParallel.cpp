#include "HVXParallel.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
// The calling thread's niceness (0 where threads have no priority of their own).
int currentNiceness()
{
#ifdef Q_OS_LINUX
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    return errno == 0 ? nice : 0;
#else
    return 0;
#endif
}

// A thread's niceness can only be raised without privileges, which is why lowered work has a pool
// of its own: its threads never run normal work again.
void lowerCurrentThreadTo(int niceness)
{
#ifdef Q_OS_LINUX
    if (niceness > currentNiceness())
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), niceness);
#else
    Q_UNUSED(niceness)
#endif
}

QThreadPool &makePool()
{
    auto *pool = new QThreadPool;
    pool->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    return *pool;
}

QThreadPool &normalPool()
{
    static QThreadPool &pool = makePool();
    return pool;
}

QThreadPool &lowPriorityPool()
{
    static QThreadPool &pool = makePool();
    return pool;
}

// The pool for work asked for from this thread, and the task that runs it at this thread's priority.
struct Placement
{
    QThreadPool *pool;
    int niceness;

    static Placement forCurrentThread()
    {
        const int niceness = currentNiceness();
        return {niceness > 0 ? &lowPriorityPool() : &normalPool(), niceness};
    }

    std::function<void()> wrap(std::function<void()> task) const
    {
        if (niceness <= 0)
            return task;
        return [task = std::move(task), niceness = niceness] {
            lowerCurrentThreadTo(niceness);
            task();
        };
    }
};
} // namespace

void hvxParallelFor(size_t count, const std::function<void(size_t)> &work, size_t maxThreads)
{
    if (count == 0)
        return;
    const Placement placement = Placement::forCurrentThread();
    const size_t poolThreads = size_t(placement.pool->maxThreadCount());
    const size_t threads = std::min(count, maxThreads == 0 ? poolThreads : std::min(maxThreads, poolThreads));
    std::atomic<size_t> next{0};
    auto drain = [&] {
        for (size_t i = next++; i < count; i = next++)
            work(i);
    };
    // Helpers only start on free threads, so each that starts runs now and is waited for below. The
    // last one tells under the lock, so this frame outlives everything a helper touches.
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    for (size_t t = 1; t < threads; ++t) {
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        const bool started = placement.pool->tryStart(placement.wrap([&] {
            drain();
            std::lock_guard lock(mutex);
            if (--running == 0)
                finished.notify_all();
        }));
        if (!started) {
            std::lock_guard lock(mutex);
            --running;
            break;
        }
    }
    drain();
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return running == 0; });
}

struct HVXHelperThreads::State
{
    std::function<void()> work;
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    bool closed = false;

    void runOne()
    {
        {
            std::lock_guard lock(mutex);
            if (closed)
                return;
            ++running;
        }
        work();
        {
            std::lock_guard lock(mutex);
            --running;
        }
        changed.notify_all();
    }
};

HVXHelperThreads::HVXHelperThreads(int count, std::function<void()> work)
    : m_state(std::make_shared<State>())
{
    m_state->work = std::move(work);
    const Placement placement = Placement::forCurrentThread();
    // A helper may wait in the pool's queue for a thread: the state it reads outlives this object.
    for (int i = 0; i < count; ++i)
        placement.pool->start(placement.wrap([state = m_state] { state->runOne(); }));
}

HVXHelperThreads::~HVXHelperThreads() { join(); }

void HVXHelperThreads::join()
{
    std::unique_lock lock(m_state->mutex);
    m_state->closed = true;
    m_state->changed.wait(lock, [this] { return m_state->running == 0; });
}

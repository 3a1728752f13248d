#include "TVLLibraryIndexJobs.h"

#include "TVLLibraryIndexActivity.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <mutex>

namespace {
// An update shows its progress only once it has run this long, then at this pace.
constexpr qint64 kQuietMilliseconds = 250;
constexpr qint64 kProgressInterval = 100;

std::mutex g_mutex;
std::atomic<bool> *g_runningCancel = nullptr;  // the running update's flag, under g_mutex
std::atomic<bool> g_stopped = false;
} // namespace

QThreadPool &TVLLibraryIndexJobs::pool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(1);
        // One long-lived thread, so its index stays open between jobs.
        created->setExpiryTimeout(-1);
        if (auto *application = QCoreApplication::instance())
            QObject::connect(application, &QCoreApplication::aboutToQuit, application, &TVLLibraryIndexJobs::stopForQuit);
        return created;
    }();
    return *pool;
}

QThreadPool &TVLLibraryIndexJobs::readerPool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(1);
        created->setExpiryTimeout(-1);
        return created;
    }();
    return *pool;
}

TVLLibraryIndex &TVLLibraryIndexJobs::indexOfThisThread()
{
    thread_local TVLLibraryIndex index;
    return index;
}

TVLLibraryIndex::UpdateResult TVLLibraryIndexJobs::update(TVLLibraryIndex &index, const QString &path)
{
    std::atomic<bool> cancel = false;
    {
        std::lock_guard lock(g_mutex);
        if (g_stopped) {
            TVLLibraryIndex::UpdateResult stopped;
            stopped.cancelled = true;
            return stopped;
        }
        g_runningCancel = &cancel;
    }
    TVLLibraryIndexActivity &activity = TVLLibraryIndexActivity::shared();
    QElapsedTimer running;
    running.start();
    qint64 lastShown = -kProgressInterval;
    bool shown = false;
    const auto result = index.update(path, [&](const TVLLibraryIndex::Progress &progress) {
        const qint64 elapsed = running.elapsed();
        if (elapsed < kQuietMilliseconds || elapsed - lastShown < kProgressInterval)
            return;
        lastShown = elapsed;
        shown = true;
        activity.post(progress);
    }, &cancel);
    {
        std::lock_guard lock(g_mutex);
        g_runningCancel = nullptr;
    }
    if (shown)
        activity.postFinished();
    return result;
}

void TVLLibraryIndexJobs::cancelUpdate()
{
    std::lock_guard lock(g_mutex);
    if (g_runningCancel)
        g_runningCancel->store(true);
}

void TVLLibraryIndexJobs::stopForQuit()
{
    {
        std::lock_guard lock(g_mutex);
        g_stopped = true;
        if (g_runningCancel)
            g_runningCancel->store(true);
    }
    pool().clear();
    readerPool().clear();
    pool().waitForDone();
    readerPool().waitForDone();
}

bool TVLLibraryIndexJobs::isStopped() { return g_stopped; }

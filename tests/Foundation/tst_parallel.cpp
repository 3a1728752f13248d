// Work spread over the shared pool: every item once, fan-outs inside fan-outs, helpers that never
// got a thread, and work asked for at a lower priority staying there.

#include "Halvex/Foundation/HVXParallel.h"

#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <atomic>
#include <vector>
#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

class TestParallel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyItemRunsOnceEvenWhenNested()
    {
        // More outer items than threads, each fanning out again: with helpers only on free
        // threads, nothing waits for a thread another fan-out holds.
        constexpr size_t kOuter = 16, kInner = 64;
        std::vector<std::atomic<int>> runs(kOuter * kInner);
        hvxParallelFor(kOuter, [&](size_t outer) {
            hvxParallelFor(kInner, [&](size_t inner) { ++runs[outer * kInner + inner]; });
        });
        for (const std::atomic<int> &count : runs)
            QCOMPARE(count.load(), 1);
        hvxParallelFor(0, [](size_t) { QFAIL("no items, no calls"); });
    }

    void helpersWaitedForAndLateOnesDropped()
    {
        // join() returns only after a helper that started has returned.
        std::atomic<int> finished{0};
        QSemaphore started;
        {
            HVXHelperThreads helpers(2, [&] {
                started.release();
                QThread::msleep(100);
                ++finished;
            });
            QVERIFY(started.tryAcquire(1, 5000));
            helpers.join();
            QVERIFY(finished.load() >= 1);
        }

        // With every thread of the pool taken, helpers queue; joined before a thread frees, they
        // never run.
        const int poolThreads = std::max(1, QThread::idealThreadCount());
        QSemaphore holding, release;
        HVXHelperThreads holders(poolThreads, [&] {
            holding.release();
            release.acquire();
        });
        QVERIFY(holding.tryAcquire(poolThreads, 5000));
        std::atomic<int> late{0};
        {
            HVXHelperThreads queued(2, [&] { ++late; });
        }
        release.release(poolThreads);
        holders.join();
        QTest::qWait(50);
        QCOMPARE(late.load(), 0);
    }

#ifdef Q_OS_LINUX
    void lowerPriorityWorkStaysLower()
    {
        std::atomic<int> lowest{100};
        std::unique_ptr<QThread> worker(QThread::create([&] {
            ::setpriority(PRIO_PROCESS, id_t(::gettid()), 7);
            hvxParallelFor(64, [&](size_t) {
                const int nice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
                int seen = lowest.load();
                while (nice < seen && !lowest.compare_exchange_weak(seen, nice)) {
                }
                QThread::usleep(200);
            });
        }));
        worker->start();
        QVERIFY(worker->wait(30000));
        QCOMPARE(lowest.load(), 7);
    }
#endif
};

QTEST_GUILESS_MAIN(TestParallel)
#include "tst_parallel.moc"

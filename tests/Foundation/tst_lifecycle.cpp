// Work handed to the main thread, settings subscriptions that end early, and SIGTERM/SIGINT
// arriving as a call on the main thread.

#include "Halvex/Foundation/HVXDefaults.h"
#include "Halvex/Foundation/HVXMainThread.h"
#include "Halvex/Foundation/HVXTerminationSignals.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <csignal>

class TestLifecycle : public QObject
{
    Q_OBJECT
    QTemporaryDir m_temp;

private Q_SLOTS:
    void workReachesTheMainThread()
    {
        QThread *main = QThread::currentThread();
        QThread *ranOn = nullptr;
        hvxOnMain([&] { ranOn = QThread::currentThread(); });
        QCOMPARE(ranOn, main);  // at once when already there

        std::atomic<bool> syncDone{false};
        QThread *asyncRanOn = nullptr, *syncRanOn = nullptr;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            hvxOnMain([&] { asyncRanOn = QThread::currentThread(); });
            hvxOnMainSync([&] { syncRanOn = QThread::currentThread(); });
            // The blocking call has returned, so its work has run.
            syncDone = syncRanOn == main;
        }));
        worker->start();
        QTRY_VERIFY(worker->isFinished());
        QVERIFY(syncDone);
        QTRY_COMPARE(asyncRanOn, main);
    }

    void subscriptionsEndEarlyAndWithTheirContext()
    {
        auto defaults = HVXDefaults::createWithStoreAtPath(m_temp.filePath("s.ini"));
        int calls = 0;
        auto context = std::make_unique<QObject>();
        HVXSubscription subscription = defaults->subscribe({"A", "B"}, context.get(), [&] { ++calls; }, true);
        QCOMPARE(calls, 1);  // the current value at registration
        defaults->setValue("A", 1);
        defaults->setValue("C", 1);
        defaults->remove("B");
        QCOMPARE(calls, 3);
        subscription.end();
        subscription.end();
        QVERIFY(!subscription.isActive());
        defaults->setValue("A", 2);
        QCOMPARE(calls, 3);

        HVXSubscription tied = defaults->subscribe({"A"}, context.get(), [&] { ++calls; });
        context.reset();
        defaults->setValue("A", 3);
        QCOMPARE(calls, 3);
        tied.end();
    }

    void terminationSignalsCallTheHandler()
    {
        int calls = 0;
        HVXTerminationSignals::install([&] { ++calls; });
        ::raise(SIGTERM);
        QTRY_COMPARE(calls, 1);
        ::raise(SIGINT);
        QTRY_COMPARE(calls, 2);
        HVXTerminationSignals::install({});
    }
};

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"

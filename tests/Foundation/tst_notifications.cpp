#include "Halvex/Foundation/HVXNotificationCenter.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {
const QString kName = QStringLiteral("TVLSessionDidUpdate");
const QString kOther = QStringLiteral("TVLTagsDidChangeNotification");
const QString kIdle = QStringLiteral("TVLFindStringDidChange");

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void postReachesObserversByNameAndObject()
    {
        HVXNotificationCenter &center = HVXNotificationCenter::defaultCenter();
        int session = 0, tags = 0;
        QObject anyObserver, oneObserver, otherObserver;
        QList<const void *> anyObjects;
        QVariantMap lastInfo;
        center.addObserver(&anyObserver, kName, nullptr, [&](const HVXNotification &n) {
            anyObjects.append(n.object);
            lastInfo = n.userInfo;
        });
        center.addObserver(&oneObserver, kName, &session, [&](const HVXNotification &n) {
            QCOMPARE(n.object, static_cast<const void *>(&session));
            QCOMPARE(n.name, kName);
        });
        int otherCalls = 0;
        center.addObserver(&otherObserver, kOther, nullptr, [&](const HVXNotification &) { ++otherCalls; });
        int oneCalls = 0;
        center.addObserver(&oneObserver, kName, &session, [&](const HVXNotification &) { ++oneCalls; });

        center.post(kName, &session, {{QStringLiteral("grew"), true}});
        center.post(kName, &tags);
        QCOMPARE(anyObjects, (QList<const void *>{&session, &tags}));
        QVERIFY(lastInfo.isEmpty());
        QCOMPARE(oneCalls, 1);
        QCOMPARE(otherCalls, 0);

        center.post(kOther);
        QCOMPARE(otherCalls, 1);
        QCOMPARE(anyObjects.size(), 2);

        // Removing by name leaves the observer's other names alone.
        center.addObserver(&anyObserver, kOther, nullptr, [&](const HVXNotification &) { ++otherCalls; });
        center.removeObserver(&anyObserver, kName);
        center.post(kName, &session);
        center.post(kOther);
        QCOMPARE(anyObjects.size(), 2);
        QCOMPARE(otherCalls, 3);
        center.removeObserver(&anyObserver);
        center.removeObserver(&oneObserver);
        center.removeObserver(&otherObserver);
    }

    void observationEndsWithTheObserver()
    {
        HVXNotificationCenter &center = HVXNotificationCenter::defaultCenter();
        int calls = 0;
        {
            QObject observer;
            center.addObserver(&observer, kName, nullptr, [&](const HVXNotification &) { ++calls; });
            center.post(kName);
            QCOMPARE(calls, 1);
        }
        center.post(kName);
        QCOMPARE(calls, 1);

        // An observer destroyed by an earlier callback of the same post is not called.
        auto doomed = std::make_unique<QObject>();
        QObject killer;
        int doomedCalls = 0;
        center.addObserver(&killer, kName, nullptr, [&](const HVXNotification &) { doomed.reset(); });
        center.addObserver(doomed.get(), kName, nullptr, [&](const HVXNotification &) { ++doomedCalls; });
        center.post(kName);
        QVERIFY(!doomed);
        QCOMPARE(doomedCalls, 0);
        center.removeObserver(&killer);
    }

    void observersMayChangeObservationsWhileBeingCalled()
    {
        HVXNotificationCenter &center = HVXNotificationCenter::defaultCenter();
        QObject once, steady, late;
        int onceCalls = 0, steadyCalls = 0, lateCalls = 0;
        center.addObserver(&once, kName, nullptr, [&](const HVXNotification &) {
            ++onceCalls;
            center.removeObserver(&once);
            center.addObserver(&late, kName, nullptr, [&](const HVXNotification &) { ++lateCalls; });
        });
        center.addObserver(&steady, kName, nullptr, [&](const HVXNotification &) { ++steadyCalls; });

        center.post(kName);
        QCOMPARE(onceCalls, 1);
        QCOMPARE(steadyCalls, 1);
        QCOMPARE(lateCalls, 0); // added during the post: heard from the next one on

        center.post(kName);
        QCOMPARE(onceCalls, 1);
        QCOMPARE(steadyCalls, 2);
        QCOMPARE(lateCalls, 1);

        // A callback that posts again is called again, inside its own post.
        QObject nested;
        int depth = 0, maxDepth = 0;
        center.addObserver(&nested, kOther, nullptr, [&](const HVXNotification &) {
            maxDepth = std::max(maxDepth, ++depth);
            if (depth < 3)
                center.post(kOther);
            --depth;
        });
        center.post(kOther);
        QCOMPARE(maxDepth, 3);
        center.removeObserver(&steady);
        center.removeObserver(&late);
        center.removeObserver(&nested);
    }

    void postWhenIdleCoalescesUntilTheLoopIsIdle()
    {
        HVXNotificationCenter &center = HVXNotificationCenter::defaultCenter();
        QObject observer;
        int store = 0;
        QList<const void *> delivered;
        center.addObserver(&observer, kIdle, nullptr, [&](const HVXNotification &n) { delivered.append(n.object); });

        for (int i = 0; i < 100; ++i)
            center.postWhenIdle(kIdle);
        center.postWhenIdle(kIdle, &store);
        center.postWhenIdle(kIdle, &store);
        QVERIFY(delivered.isEmpty()); // never from inside the call
        QTRY_COMPARE(delivered.size(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(delivered, (QList<const void *>{nullptr, &store}));

        // A later post is a new notification.
        center.postWhenIdle(kIdle);
        QTRY_COMPARE(delivered.size(), 3);

        // Work queued before the post runs first; posts made by that work join the same one.
        delivered.clear();
        int stepsDone = 0;
        int stepsDoneWhenDelivered = -1;
        QObject counter;
        center.addObserver(&counter, kIdle, nullptr, [&](const HVXNotification &) { stepsDoneWhenDelivered = stepsDone; });
        for (int i = 0; i < 5; ++i)
            QMetaObject::invokeMethod(&observer, [&] {
                ++stepsDone;
                center.postWhenIdle(kIdle);
            }, Qt::QueuedConnection);
        center.postWhenIdle(kIdle);
        QTRY_VERIFY(!delivered.isEmpty());
        // Anything those posts queued came before this.
        bool markerRan = false;
        QTimer::singleShot(0, &observer, [&] { markerRan = true; });
        QTRY_VERIFY(markerRan);
        QCOMPARE(delivered.size(), 1);
        QCOMPARE(stepsDoneWhenDelivered, 5);
        center.removeObserver(&observer);
        center.removeObserver(&counter);
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"

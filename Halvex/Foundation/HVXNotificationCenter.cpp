#include "HVXNotificationCenter.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

HVXNotificationCenter &HVXNotificationCenter::defaultCenter()
{
    static HVXNotificationCenter *center = [] {
        auto *created = new HVXNotificationCenter;
        // Idle posts need the main thread's event loop, whichever thread asks first.
        if (const QCoreApplication *app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        return created;
    }();
    return *center;
}

void HVXNotificationCenter::post(const QString &name, const void *object, const QVariantMap &userInfo)
{
    const HVXNotification notification{name, object, userInfo};
    // Observers may add or remove observations while being called: walk a snapshot of ids.
    std::vector<quint64> ids;
    for (const Observation &o : m_observations)
        if (o.name == name && (!o.object || o.object == object))
            ids.push_back(o.id);
    for (quint64 id : ids) {
        auto it = std::find_if(m_observations.begin(), m_observations.end(),
                               [id](const Observation &o) { return o.id == id; });
        if (it == m_observations.end() || !it->observer)
            continue;
        Callback callback = it->callback;
        callback(notification);
    }
    dropDeadObservations();
}

void HVXNotificationCenter::postWhenIdle(const QString &name, const void *object)
{
    const QPair<QString, quintptr> key{name, reinterpret_cast<quintptr>(object)};
    if (m_pendingIdlePosts.contains(key))
        return;
    m_pendingIdlePosts.insert(key);
    QTimer::singleShot(0, this, [this, key] {
        m_pendingIdlePosts.remove(key);
        post(key.first, reinterpret_cast<const void *>(key.second));
    });
}

void HVXNotificationCenter::addObserver(QObject *observer, const QString &name, const void *object,
                                        Callback callback)
{
    if (!observer || !callback)
        return;
    m_observations.push_back({m_nextId++, observer, name, object, std::move(callback)});
    connect(observer, &QObject::destroyed, this, &HVXNotificationCenter::dropDeadObservations,
            Qt::UniqueConnection);
}

void HVXNotificationCenter::removeObserver(QObject *observer, const QString &name)
{
    std::erase_if(m_observations, [&](const Observation &o) {
        return o.observer == observer && (name.isEmpty() || o.name == name);
    });
}

void HVXNotificationCenter::dropDeadObservations()
{
    std::erase_if(m_observations, [](const Observation &o) { return o.observer.isNull(); });
}

#pragma once
// Named notifications with an object, the program's way for subsystems to hear of each other
// ("TVLSessionDidUpdate" with the session, "TVLProjectMetadataDidChangeNotification" with the
// store). Everything runs on the main thread. An observation ends when its observer QObject is
// destroyed, or when removeObserver() is called.

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <vector>

struct HVXNotification
{
    QString name;
    const void *object = nullptr;
    QVariantMap userInfo;
};

class HVXNotificationCenter final : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void(const HVXNotification &)>;

    static HVXNotificationCenter &defaultCenter();

    void post(const QString &name, const void *object = nullptr, const QVariantMap &userInfo = {});

    // Posts once when the event loop is next idle, however often the same name and object
    // were posted before then.
    void postWhenIdle(const QString &name, const void *object = nullptr);

    // Calls back for every notification of this name; with an object, only for that object.
    void addObserver(QObject *observer, const QString &name, const void *object, Callback callback);
    void removeObserver(QObject *observer, const QString &name = {});

private:
    struct Observation
    {
        quint64 id;
        QPointer<QObject> observer;
        QString name;
        const void *object;
        Callback callback;
    };

    void dropDeadObservations();

    std::vector<Observation> m_observations;
    QSet<QPair<QString, quintptr>> m_pendingIdlePosts;
    quint64 m_nextId = 1;
};

#pragma once
// The object the session page reaches as "tavlo" over the web channel. The page's script calls
// post(message) with a plain object ({"action": ..., ...}); the bridge hands it on as a map.

#include <QObject>
#include <QVariantMap>

class TVLPageBridge final : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE void post(const QVariantMap &message) { Q_EMIT messagePosted(message); }

Q_SIGNALS:
    void messagePosted(const QVariantMap &message);
};

#pragma once
// A handle on one observation made of Qt connections. The observation also ends by itself when
// its context object goes away (Qt's connection rules); end() stops it earlier, and ending an
// ended subscription, or one whose context is gone, does nothing.

#include <QList>
#include <QMetaObject>

class HVXSubscription final
{
public:
    HVXSubscription() = default;
    explicit HVXSubscription(QList<QMetaObject::Connection> connections) : m_connections(std::move(connections)) {}

    bool isActive() const;
    void end();

private:
    QList<QMetaObject::Connection> m_connections;
};

#include "HVXSubscription.h"

#include <QObject>

bool HVXSubscription::isActive() const
{
    for (const QMetaObject::Connection &connection : m_connections)
        if (connection)
            return true;
    return false;
}

void HVXSubscription::end()
{
    for (const QMetaObject::Connection &connection : std::exchange(m_connections, {}))
        QObject::disconnect(connection);
}

#include "TVLChangeHub.h"

#include <QCoreApplication>
#include <QThread>

TVLChangeHub &TVLChangeHub::shared()
{
    static TVLChangeHub *hub = [] {
        auto *created = new TVLChangeHub;
        // Whichever thread asks first, announcements are heard on the main thread.
        if (const QCoreApplication *app = QCoreApplication::instance())
            created->moveToThread(app->thread());
        return created;
    }();
    return *hub;
}

void TVLChangeHub::announce(TVLObject *node, TVLProperty property)
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        return;
    Q_EMIT changed(node, property);
}

#include "TVLChangeHub.h"

#include <QCoreApplication>
#include <QThread>

TVLChangeHub &TVLChangeHub::shared()
{
    static TVLChangeHub hub;
    return hub;
}

void TVLChangeHub::announce(TVLObject *node, TVLProperty property)
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        return;
    Q_EMIT changed(node, property);
}

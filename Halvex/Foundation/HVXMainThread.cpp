#include "HVXMainThread.h"

#include <QCoreApplication>
#include <QThread>

bool hvxIsMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void hvxOnMain(std::function<void()> work)
{
    if (hvxIsMainThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

void hvxOnMainSync(const std::function<void()> &work)
{
    if (hvxIsMainThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&work] { work(); }, Qt::BlockingQueuedConnection);
}

#include "TVLLibraryIndexJobs.h"

QThreadPool &TVLLibraryIndexJobs::pool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(1);
        // One long-lived thread, so its index stays open between jobs.
        created->setExpiryTimeout(-1);
        return created;
    }();
    return *pool;
}

TVLLibraryIndex &TVLLibraryIndexJobs::indexOfThisThread()
{
    thread_local TVLLibraryIndex index;
    return index;
}

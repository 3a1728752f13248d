#pragma once
// Work on the library index off the main thread. Jobs run one after the other on a thread of
// their own, each with the index that thread keeps open; the answer comes back on the thread of
// `context` (the main thread for widgets), and not at all when `context` is gone by then.

#include "Tavlo/Index/TVLLibraryIndex.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <memory>

namespace TVLLibraryIndexJobs {
QThreadPool &pool();
TVLLibraryIndex &indexOfThisThread();

template <typename Result>
void run(QObject *context, std::function<Result(TVLLibraryIndex &)> work, std::function<void(Result)> answer)
{
    pool().start([context = QPointer<QObject>(context), work = std::move(work), answer = std::move(answer)] {
        auto result = std::make_shared<Result>(work(indexOfThisThread()));
        if (context)
            QMetaObject::invokeMethod(context.data(), [answer, result] { answer(std::move(*result)); }, Qt::QueuedConnection);
    });
}
} // namespace TVLLibraryIndexJobs

#pragma once
// Work on the library index off the main thread. Jobs run one after the other on a thread of
// their own, each with the index that thread keeps open; the answer comes back on the thread of
// `context` (the main thread for widgets), and not at all when `context` is gone by then.
// Updates made through update() report their progress to TVLLibraryIndexActivity and can be
// cancelled; when the application quits, the running update is cancelled and waiting jobs are
// dropped, so quitting never waits for a long build of the index.

#include "Tavlo/Index/TVLLibraryIndex.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <memory>

namespace TVLLibraryIndexJobs {
QThreadPool &pool();
TVLLibraryIndex &indexOfThisThread();

// On the jobs thread: brings the index up to date for `path`, with progress and cancellation.
TVLLibraryIndex::UpdateResult update(TVLLibraryIndex &index, const QString &path);
// Stops the update running now (if any) after the file it is writing.
void cancelUpdate();
// Cancels the running update, drops the waiting jobs and waits for the jobs thread; no update
// runs afterwards.
void stopForQuit();
bool isStopped();

// A second thread with an index of its own, for answers read from what the index holds now:
// they don't wait behind a long update on the jobs thread (the database lets readers go on while
// one connection writes).
QThreadPool &readerPool();

template <typename Result>
void runOn(QThreadPool &threads, QObject *context, std::function<Result(TVLLibraryIndex &)> work,
           std::function<void(Result)> answer)
{
    threads.start([context = QPointer<QObject>(context), work = std::move(work), answer = std::move(answer)] {
        auto result = std::make_shared<Result>(work(indexOfThisThread()));
        if (context)
            QMetaObject::invokeMethod(context.data(), [answer, result] { answer(std::move(*result)); }, Qt::QueuedConnection);
    });
}

template <typename Result>
void run(QObject *context, std::function<Result(TVLLibraryIndex &)> work, std::function<void(Result)> answer)
{
    runOn<Result>(pool(), context, std::move(work), std::move(answer));
}

// Work that only reads the index: never an update.
template <typename Result>
void read(QObject *context, std::function<Result(TVLLibraryIndex &)> work, std::function<void(Result)> answer)
{
    runOn<Result>(readerPool(), context, std::move(work), std::move(answer));
}
} // namespace TVLLibraryIndexJobs

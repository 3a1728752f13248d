#pragma once
// What the index's jobs thread is doing, told on the main thread: the progress of an update
// that takes long enough to be seen, and its end. Updates that finish at once (a session that
// grew by a line) say nothing.

#include "Tavlo/Index/TVLLibraryIndex.h"

#include <QObject>

class TVLLibraryIndexActivity final : public QObject
{
    Q_OBJECT
public:
    static TVLLibraryIndexActivity &shared();

    bool isUpdating() const { return m_updating; }
    const TVLLibraryIndex::Progress &progress() const { return m_progress; }
    // "Indexing… 120 of 2,698 files, 410 MB of 2,106 MB"
    static QString describe(const TVLLibraryIndex::Progress &progress);

    // Called from the jobs thread; the signals follow on the main thread.
    void post(const TVLLibraryIndex::Progress &progress);
    void postFinished();

Q_SIGNALS:
    void progressChanged(const TVLLibraryIndex::Progress &progress);
    void updateFinished();

private:
    TVLLibraryIndexActivity() = default;

    bool m_updating = false;
    TVLLibraryIndex::Progress m_progress;
};

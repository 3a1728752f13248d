#pragma once
// Runs text searches over sessions on a worker thread, so typing never waits for them. Every
// search gets a new generation; a newer search cancels the older one, and answers of an older
// generation are dropped. The first matches are reported as soon as they are found, then about
// every 100 ms, then all of them when the search is done. The texts read on the way are kept
// (TVLSearchIndex), so the next search, a narrower one above all, is much faster.

#include "Tavlo/DataObjects/TVLSearchIndex.h"

#include <QObject>
#include <QSet>
#include <atomic>
#include <memory>
#include <vector>

class TVLSession;

class TVLSearchEngine final : public QObject
{
    Q_OBJECT
public:
    struct Matches
    {
        QSet<QString> exchangeIds;
        std::vector<std::shared_ptr<TVLSession>> sessions;  // those with a match, in search order
        bool complete = false;
    };

    explicit TVLSearchEngine(QObject *parent = nullptr);
    ~TVLSearchEngine() override;

    // Starts a search and answers its generation; matchesFound follows on the main thread.
    quint64 search(const std::vector<std::shared_ptr<TVLSession>> &sessions, const TVLSearchQuery &query);
    // Drops the running search, if any; its answers are not delivered.
    void cancel();
    quint64 generation() const { return m_generation->load(); }
    bool isSearching() const { return m_running > 0; }
    TVLSearchIndex &index() { return m_index; }
    // The longest an answer of the current search held the main thread (its texts kept, the
    // job let go, the signal handled), in milliseconds.
    double longestAnswerMilliseconds() const { return double(m_longestAnswerNanoseconds) / 1e6; }

Q_SIGNALS:
    void matchesFound(quint64 generation, const TVLSearchEngine::Matches &matches);

private:
    void deliver(quint64 generation, const Matches &matches, const std::shared_ptr<TVLSearchJob> &finishedJob);

    TVLSearchIndex m_index;
    std::shared_ptr<std::atomic<quint64>> m_generation;
    int m_running = 0;
    qint64 m_longestAnswerNanoseconds = 0;
};

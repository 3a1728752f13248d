#include "TVLSearchEngine.h"

#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThreadPool>

namespace {
// What the job has found in its first `sessionsDone` sessions, the last one maybe in part (read
// on the job's thread).
TVLSearchEngine::Matches matchesOf(const TVLSearchJob &job, size_t sessionsDone, bool complete)
{
    TVLSearchEngine::Matches matches;
    matches.complete = complete;
    for (size_t s = 0; s < sessionsDone && s < job.sessions.size(); ++s) {
        const TVLSearchJob::Session &session = job.sessions[s];
        if (!session.anyMatched)
            continue;
        matches.sessions.push_back(session.session);
        const auto &exchanges = session.texts().exchanges;
        for (size_t i = 0; i < exchanges.size() && i < session.matched.size(); ++i)
            if (session.matched[i])
                matches.exchangeIds.insert(exchanges[i]->uuid());
    }
    return matches;
}
} // namespace

TVLSearchEngine::TVLSearchEngine(QObject *parent)
    : QObject(parent)
    , m_generation(std::make_shared<std::atomic<quint64>>(0))
{
}

TVLSearchEngine::~TVLSearchEngine() { cancel(); }

void TVLSearchEngine::cancel() { ++*m_generation; }

quint64 TVLSearchEngine::search(const std::vector<std::shared_ptr<TVLSession>> &sessions, const TVLSearchQuery &query)
{
    const quint64 generation = ++*m_generation;
    m_longestAnswerNanoseconds = 0;
    auto job = std::make_shared<TVLSearchJob>(m_index.makeJob(sessions, query));
    ++m_running;
    QPointer<TVLSearchEngine> self(this);
    std::shared_ptr<std::atomic<quint64>> current = m_generation;
    // Answers are queued to the application object, so that the tree nodes the job holds are
    // always let go on the main thread, even when this engine is gone by then.
    auto post = [self, generation](Matches matches, std::shared_ptr<TVLSearchJob> finished) {
        QMetaObject::invokeMethod(qApp, [self, generation, matches = std::move(matches), finished]() mutable {
            QElapsedTimer clock;
            clock.start();
            if (self)
                self->deliver(generation, matches, finished);
            // The job's nodes are let go here, on the main thread, and that is part of the cost.
            finished.reset();
            matches = {};
            if (self && generation == self->m_generation->load())
                self->m_longestAnswerNanoseconds = qMax(self->m_longestAnswerNanoseconds, clock.nsecsElapsed());
        }, Qt::QueuedConnection);
    };
    QThreadPool::globalInstance()->start([job, current, generation, post] {
        const auto cancelled = [&] { return current->load() != generation; };
        const bool done = job->run(cancelled, [&](size_t sessionsDone) {
            if (!cancelled())
                post(matchesOf(*job, sessionsDone, false), nullptr);
        });
        post(done ? matchesOf(*job, job->sessions.size(), true) : Matches{}, job);
    });
    return generation;
}

void TVLSearchEngine::deliver(quint64 generation, const Matches &matches, const std::shared_ptr<TVLSearchJob> &finishedJob)
{
    if (finishedJob) {
        --m_running;
        m_index.store(*finishedJob, generation == m_generation->load() && matches.complete);
    }
    if (generation != m_generation->load())
        return;
    Q_EMIT matchesFound(generation, matches);
}

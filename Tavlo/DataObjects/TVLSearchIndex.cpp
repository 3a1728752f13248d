#include "TVLSearchIndex.h"
#include "Halvex/Foundation/HVXParallel.h"

#include "TVLExchange.h"
#include "TVLMessage.h"
#include "TVLSession.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <thread>

// MARK: - Query

TVLSearchQuery TVLSearchQuery::make(const QString &text, bool caseSensitive)
{
    TVLSearchQuery query;
    query.text = text;
    query.text.remove(QChar(0));
    query.caseSensitive = caseSensitive;
    query.needle = caseSensitive ? query.text : query.text.toCaseFolded();
    return query;
}

bool TVLSearchQuery::narrows(const TVLSearchQuery &older) const
{
    return !older.isEmpty() && caseSensitive == older.caseSensitive && needle.contains(older.needle);
}

// MARK: - Exchange text

namespace {
// A compact summary's text is made from usage the main thread sets; every other line's text
// comes from its own bytes (and the fold limit, which the job carries).
bool readsOnMainThread(const TVLMessage &message) { return message.isCompactSummary(); }
} // namespace

std::shared_ptr<const TVLExchangeText> TVLExchangeText::make(const TVLExchange &exchange,
                                                             const QHash<int, QString> &mainThreadTexts,
                                                             qint64 patchLineLimit)
{
    auto result = std::make_shared<TVLExchangeText>();
    int position = 0;
    for (const TVLObject::Ptr &child : exchange.children()) {
        const auto *message = static_cast<const TVLMessage *>(child.get());
        const auto given = mainThreadTexts.constFind(position++);
        const QString line = given != mainThreadTexts.constEnd()
                                 ? *given
                                 : message->rawMarkdownWithPatchLineLimit(patchLineLimit).value_or(QString());
        if (line.isEmpty())
            continue;
        if (!result->m_text.isEmpty())
            result->m_text += QChar(0);
        result->m_text += line;
    }
    result->m_text.squeeze();
    QString folded = result->m_text.toCaseFolded();
    result->m_folded = folded == result->m_text ? result->m_text : folded;
    return result;
}

bool TVLExchangeText::contains(const TVLSearchQuery &query) const
{
    if (query.isEmpty())
        return true;
    const QString &haystack = query.caseSensitive ? m_text : m_folded;
    return haystack.contains(query.needle, Qt::CaseSensitive);
}

qsizetype TVLExchangeText::bytes() const
{
    const qsizetype text = m_text.capacity() * qsizetype(sizeof(QChar));
    return m_folded.constData() == m_text.constData() ? text : text + m_folded.capacity() * qsizetype(sizeof(QChar));
}

// MARK: - Job

namespace {
// Reading texts is most of a first search, and any exchange's text can be read on its own, so
// helper threads read ahead of the search, which goes through the exchanges in order.
class TextReaders
{
public:
    struct Slot
    {
        TVLSearchJob::Session *session;
        size_t exchange;
    };

    TextReaders(std::vector<Slot> pending, qint64 patchLineLimit, const std::function<bool()> &cancelled)
        : m_slots(std::move(pending))
        , m_patchLineLimit(patchLineLimit)
        , m_states(m_slots.size())
        , m_cancelled(cancelled)
    {
        constexpr size_t kSlotsWorthAHelper = 256;
        const int helpers = qMin(3, QThread::idealThreadCount() - 1);
        if (m_slots.size() < kSlotsWorthAHelper)
            return;
        m_helpers = std::make_unique<HVXHelperThreads>(helpers, [this] {
            for (size_t k = m_cursor++; k < m_slots.size() && !m_stop; k = m_cursor++) {
                if ((k & 63) == 0 && m_cancelled && m_cancelled())
                    break;
                claimAndRead(k);
            }
        });
    }
    ~TextReaders()
    {
        m_stop = true;
        m_helpers.reset();
    }

    bool isSlot(size_t k, const TVLSearchJob::Session *session, size_t exchange) const
    {
        return k < m_slots.size() && m_slots[k].session == session && m_slots[k].exchange == exchange;
    }

    // The text of slot k, read here unless a helper has it or is reading it.
    void ensure(size_t k)
    {
        if (claimAndRead(k))
            return;
        while (m_states[k].load(std::memory_order_acquire) != kRead)
            std::this_thread::yield();
    }

private:
    static constexpr quint8 kWaiting = 0, kReading = 1, kRead = 2;

    bool claimAndRead(size_t k)
    {
        quint8 expected = kWaiting;
        if (!m_states[k].compare_exchange_strong(expected, kReading, std::memory_order_acq_rel))
            return false;
        TVLSearchJob::Session &session = *m_slots[k].session;
        const size_t i = m_slots[k].exchange;
        const auto given = session.mainThreadTexts.constFind(i);
        session.built->texts[i] = TVLExchangeText::make(
            *session.built->exchanges[i], given != session.mainThreadTexts.constEnd() ? *given : QHash<int, QString>(),
            m_patchLineLimit);
        m_states[k].store(kRead, std::memory_order_release);
        return true;
    }

    std::vector<Slot> m_slots;
    qint64 m_patchLineLimit = 0;
    std::vector<std::atomic<quint8>> m_states;
    std::function<bool()> m_cancelled;
    std::atomic<size_t> m_cursor{0};
    std::atomic<bool> m_stop{false};
    std::unique_ptr<HVXHelperThreads> m_helpers;
};
} // namespace

bool TVLSearchJob::run(const std::function<bool()> &cancelled, const std::function<void(size_t)> &progress,
                       int progressIntervalMilliseconds)
{
    std::vector<TextReaders::Slot> pending;
    for (Session &session : sessions)
        if (session.built)
            for (size_t i = 0; i < session.built->texts.size(); ++i)
                if (!session.built->texts[i])
                    pending.push_back({&session, i});
    TextReaders readers(std::move(pending), patchLineLimit, cancelled);
    size_t nextSlot = 0;

    QElapsedTimer sinceProgress;
    sinceProgress.start();
    bool reportedFirst = false;
    size_t tested = 0;
    for (size_t s = 0; s < sessions.size(); ++s) {
        Session &session = sessions[s];
        const TVLSessionTexts &texts = session.texts();
        const size_t count = texts.exchanges.size();
        session.matched.assign(count, 0);
        session.anyMatched = false;
        const TVLSessionTexts *previous = session.previousMatched ? session.previousTexts.get() : nullptr;
        for (size_t i = 0; i < count; ++i) {
            if ((++tested & 63) == 0 && cancelled && cancelled())
                return false;
            // Slots are in search order: the next one missing is the next one listed. Its text
            // is only looked at once it has been read.
            if (readers.isSlot(nextSlot, &session, i))
                readers.ensure(nextSlot++);
            const TVLExchangeText *text = texts.texts[i].get();
            // A text that missed the previous query, which this one contains, misses this one too.
            const bool missedBefore = previous && i < previous->texts.size() && previous->texts[i].get() == text
                                      && !(*session.previousMatched)[i];
            const bool matches = !missedBefore && text->contains(query);
            session.matched[i] = matches;
            session.anyMatched = session.anyMatched || matches;
            // The first match is reported at once, a long session's later ones as they come: a
            // big session shows its first marks long before the last of its texts is read.
            if (progress && ((matches && !reportedFirst) || ((tested & 63) == 0 && sinceProgress.elapsed() >= progressIntervalMilliseconds))) {
                reportedFirst = reportedFirst || matches;
                progress(s + 1);
                sinceProgress.restart();
            }
        }
        if (progress && sinceProgress.elapsed() >= progressIntervalMilliseconds) {
            progress(s + 1);
            sinceProgress.restart();
        }
    }
    return !(cancelled && cancelled());
}

// MARK: - Index

namespace {
// An exchange of a growing session may be made anew at a read, but one that holds the same
// line objects as before has the same text. (A half line at the end comes back as a new one.)
bool sameLines(const TVLExchange &a, const TVLExchange &b)
{
    return &a == &b || (!a.children().empty() && tvlSameNodes(a.children(), b.children()));
}
} // namespace

TVLSearchJob TVLSearchIndex::makeJob(const std::vector<std::shared_ptr<TVLSession>> &sessions, const TVLSearchQuery &query)
{
    TVLSearchJob job;
    job.query = query;
    job.patchLineLimit = TVLMessage::patchLineLimit();
    const bool narrows = m_lastQueryNumber != 0 && query.narrows(m_lastQuery);
    job.sessions.resize(sessions.size());
    for (size_t s = 0; s < sessions.size(); ++s) {
        const std::shared_ptr<TVLSession> &session = sessions[s];
        TVLSearchJob::Session &entry = job.sessions[s];
        entry.session = session;
        const auto cached = m_sessions.constFind(session.get());
        const CachedSession *known =
            cached != m_sessions.constEnd() && cached->session.lock() == session ? &cached.value() : nullptr;
        if (known && narrows && known->matched && known->matchedBy == m_lastQueryNumber) {
            entry.previousTexts = known->texts;
            entry.previousMatched = known->matched;
        }
        const auto &exchanges = session->exchanges();
        if (known && known->textsComplete && known->texts->exchanges == exchanges) {
            entry.known = known->texts;
            continue;
        }
        auto built = std::make_shared<TVLSessionTexts>();
        built->exchanges = exchanges;
        built->texts.resize(exchanges.size());
        const TVLSessionTexts *before = known ? known->texts.get() : nullptr;
        for (size_t i = 0; i < exchanges.size(); ++i) {
            if (before && i < before->exchanges.size() && before->texts[i] && sameLines(*before->exchanges[i], *exchanges[i])) {
                built->texts[i] = before->texts[i];
                continue;
            }
            const TVLObject::List &lines = exchanges[i]->children();
            for (size_t line = 0; line < lines.size(); ++line) {
                const auto &message = static_cast<const TVLMessage &>(*lines[line]);
                if (readsOnMainThread(message))
                    entry.mainThreadTexts[i].insert(int(line), message.rawMarkdown().value_or(QString()));
            }
        }
        entry.built = std::move(built);
    }
    return job;
}

void TVLSearchIndex::store(const TVLSearchJob &job, bool complete)
{
    const quint64 number = complete ? ++m_queriesStored : 0;
    for (const TVLSearchJob::Session &session : job.sessions) {
        CachedSession cached;
        cached.session = session.session;
        if (session.built) {
            cached.texts = session.built;
            cached.textsComplete = complete
                                   || std::all_of(session.built->texts.begin(), session.built->texts.end(),
                                                  [](const auto &text) { return text != nullptr; });
        } else {
            cached.texts = session.known;
            cached.textsComplete = true;
        }
        if (complete) {
            cached.matched = std::make_shared<const std::vector<char>>(session.matched);
            cached.matchedBy = number;
        }
        m_sessions.insert(session.session.get(), std::move(cached));
    }
    m_lastQuery = complete ? job.query : TVLSearchQuery();
    m_lastQueryNumber = number;
    prune();
}

void TVLSearchIndex::prune()
{
    m_sessions.removeIf([](const auto &entry) { return entry.value().session.expired(); });
}

void TVLSearchIndex::clear()
{
    m_sessions.clear();
    m_lastQuery = {};
    m_lastQueryNumber = 0;
}

qsizetype TVLSearchIndex::textBytes() const
{
    qsizetype total = 0;
    for (const CachedSession &session : m_sessions)
        for (const auto &text : session.texts->texts)
            if (text)
                total += text->bytes();
    return total;
}

#include "TVLSearchIndex.h"

#include "TVLExchange.h"
#include "TVLMessage.h"
#include "TVLSession.h"

#include <QElapsedTimer>

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
// Lines whose text is made from state the main thread changes (compaction usage, fold
// settings) are read there; every other line only from its own bytes.
bool readsOnMainThread(const TVLMessage &message)
{
    return message.isCompactSummary() || message.hasSourceToolAssistantUuid();
}
} // namespace

std::shared_ptr<const TVLExchangeText> TVLExchangeText::make(const TVLExchange &exchange,
                                                             const QHash<int, QString> &mainThreadTexts)
{
    auto result = std::make_shared<TVLExchangeText>();
    int position = 0;
    for (const TVLObject::Ptr &child : exchange.children()) {
        const auto *message = static_cast<const TVLMessage *>(child.get());
        const auto given = mainThreadTexts.constFind(position++);
        const QString line = given != mainThreadTexts.constEnd() ? *given : message->rawMarkdown().value_or(QString());
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

bool TVLSearchJob::run(const std::function<bool()> &cancelled, const std::function<void(size_t)> &progress,
                       int progressIntervalMilliseconds)
{
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    bool reportedFirst = false;
    size_t tested = 0;
    for (size_t s = 0; s < sessions.size(); ++s) {
        Session &session = sessions[s];
        session.matched = false;
        for (Exchange &entry : session.exchanges) {
            if ((++tested & 63) == 0 && cancelled && cancelled())
                return false;
            if (!entry.text)
                entry.text = TVLExchangeText::make(*entry.exchange, entry.mainThreadTexts);
            const bool skipped = previousMisses && previousMisses->contains(entry.text.get());
            entry.matched = !skipped && entry.text->contains(query);
            session.matched = session.matched || entry.matched;
        }
        if (progress && ((session.matched && !reportedFirst) || sinceProgress.elapsed() >= progressIntervalMilliseconds)) {
            reportedFirst = reportedFirst || session.matched;
            progress(s + 1);
            sinceProgress.restart();
        }
    }
    return !(cancelled && cancelled());
}

std::shared_ptr<const QSet<const TVLExchangeText *>> TVLSearchJob::misses() const
{
    auto missed = std::make_shared<QSet<const TVLExchangeText *>>();
    for (const Session &session : sessions)
        for (const Exchange &entry : session.exchanges)
            if (entry.text && !entry.matched)
                missed->insert(entry.text.get());
    return missed;
}

// MARK: - Index

TVLSearchJob TVLSearchIndex::makeJob(const std::vector<std::shared_ptr<TVLSession>> &sessions, const TVLSearchQuery &query)
{
    TVLSearchJob job;
    job.query = query;
    if (query.narrows(m_lastQuery))
        job.previousMisses = m_lastMisses;
    job.sessions.reserve(sessions.size());
    for (const auto &session : sessions) {
        TVLSearchJob::Session entry;
        entry.session = session;
        const auto cached = m_sessions.constFind(session.get());
        const std::vector<CachedExchange> *known =
            cached != m_sessions.constEnd() && cached->session.lock() == session ? &cached->exchanges : nullptr;
        const auto &exchanges = session->exchanges();
        entry.exchanges.reserve(exchanges.size());
        for (size_t i = 0; i < exchanges.size(); ++i) {
            TVLSearchJob::Exchange exchange;
            exchange.exchange = exchanges[i];
            const TVLObject::List &lines = exchanges[i]->children();
            if (known && i < known->size() && (*known)[i].lineCount == lines.size() && !lines.empty()
                && (*known)[i].firstLine.lock() == lines.front())
                exchange.text = (*known)[i].text;
            if (!exchange.text) {
                for (size_t line = 0; line < lines.size(); ++line) {
                    const auto &message = static_cast<const TVLMessage &>(*lines[line]);
                    if (readsOnMainThread(message))
                        exchange.mainThreadTexts.insert(int(line), message.rawMarkdown().value_or(QString()));
                }
            }
            entry.exchanges.push_back(std::move(exchange));
        }
        job.sessions.push_back(std::move(entry));
    }
    return job;
}

void TVLSearchIndex::store(const TVLSearchJob &job, bool complete)
{
    for (const TVLSearchJob::Session &session : job.sessions) {
        CachedSession cached;
        cached.session = session.session;
        cached.exchanges.reserve(session.exchanges.size());
        for (const TVLSearchJob::Exchange &entry : session.exchanges) {
            CachedExchange exchange;
            const TVLObject::List &lines = entry.exchange->children();
            if (!lines.empty())
                exchange.firstLine = std::static_pointer_cast<TVLMessage>(lines.front());
            exchange.lineCount = lines.size();
            exchange.text = entry.text;
            cached.exchanges.push_back(std::move(exchange));
        }
        m_sessions.insert(session.session.get(), std::move(cached));
    }
    prune();
    if (!complete)
        return;
    m_lastQuery = job.query;
    m_lastMisses = job.misses();
    m_lastMissTexts.clear();
    for (const TVLSearchJob::Session &session : job.sessions)
        for (const TVLSearchJob::Exchange &entry : session.exchanges)
            if (entry.text && !entry.matched)
                m_lastMissTexts.push_back(entry.text);
}

void TVLSearchIndex::prune()
{
    m_sessions.removeIf([](const auto &entry) { return entry.value().session.expired(); });
}

void TVLSearchIndex::clear()
{
    m_sessions.clear();
    m_lastQuery = {};
    m_lastMisses.reset();
    m_lastMissTexts.clear();
}

qsizetype TVLSearchIndex::textBytes() const
{
    qsizetype total = 0;
    for (const CachedSession &session : m_sessions)
        for (const CachedExchange &exchange : session.exchanges)
            if (exchange.text)
                total += exchange.text->bytes();
    return total;
}

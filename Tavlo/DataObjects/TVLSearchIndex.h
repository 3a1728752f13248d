#pragma once
// Text search over the exchanges of many sessions, fast enough to run on every keystroke.
//
// An exchange matches a search text when one of its shown lines contains it (the rule of
// TVLExchange::matchesSearchStringCaseSensitive). Reading a line's text means parsing its JSON
// again, so the index keeps each exchange's searchable text, its lines joined by NUL (which no
// search text holds, so a match never spans two lines), together with a case-folded copy. The
// exchanges of a growing session keep their lines between reads, so their texts are found again
// by their first line and line count and only the changed end is read.
//
// A search is a TVLSearchJob: built on the main thread from the sessions (cheap: pointers and
// the texts already known), run on any thread (it reads the lines that have no text yet and
// tests every exchange), and handed back to the index, which keeps the new texts. A job that
// narrows the previous one (its text contains the previous text) tests only the exchanges that
// matched then, and those that changed since.

#include <QHash>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class TVLExchange;
class TVLMessage;
class TVLSession;

struct TVLSearchQuery
{
    QString text;    // as given, without NUL characters
    QString needle;  // the text, case-folded unless the search is case-sensitive
    bool caseSensitive = false;

    static TVLSearchQuery make(const QString &text, bool caseSensitive);
    bool isEmpty() const { return text.isEmpty(); }
    // Whatever contains this query contains the older one too.
    bool narrows(const TVLSearchQuery &older) const;
};

// The searchable text of one exchange; never changed once made.
class TVLExchangeText final
{
public:
    // Lines that cannot be read on another thread (their text depends on state the main thread
    // changes) are given as `mainThreadTexts`, by line position; the rest are read here, file
    // edits folded as `patchLineLimit` says.
    static std::shared_ptr<const TVLExchangeText> make(const TVLExchange &exchange,
                                                       const QHash<int, QString> &mainThreadTexts, qint64 patchLineLimit);

    bool contains(const TVLSearchQuery &query) const;
    const QString &text() const { return m_text; }
    qsizetype bytes() const;

private:
    QString m_text;
    QString m_folded;  // shares m_text's data when folding changes nothing
};

// The texts of one session's exchanges, in exchange order, as one read of the session had them.
struct TVLSessionTexts
{
    std::vector<std::shared_ptr<TVLExchange>> exchanges;
    std::vector<std::shared_ptr<const TVLExchangeText>> texts;  // null where not read yet
};

struct TVLSearchJob
{
    struct Session
    {
        std::shared_ptr<TVLSession> session;
        // Every text known already and the session unchanged: used as it is. Otherwise the job
        // makes its own list, with the texts that are still valid taken over.
        std::shared_ptr<const TVLSessionTexts> known;
        std::shared_ptr<TVLSessionTexts> built;
        QHash<size_t, QHash<int, QString>> mainThreadTexts;  // by exchange, then line
        // What the previous query found, for narrowing: a text that missed then misses now.
        std::shared_ptr<const TVLSessionTexts> previousTexts;
        std::shared_ptr<const std::vector<char>> previousMatched;
        std::vector<char> matched;
        bool anyMatched = false;

        const TVLSessionTexts &texts() const { return built ? *built : *known; }
    };

    TVLSearchQuery query;
    std::vector<Session> sessions;
    qint64 patchLineLimit = 0;  // the setting, read on the main thread

    // Runs the search until it is done or `cancelled` says to stop; `progress` is called (on
    // this thread) right after the first match and then about every `progressInterval` ms, with
    // the number of sessions searched so far, the last of them possibly in part (the exchanges
    // not tested yet count as not matching). Answers whether it ran to the end.
    bool run(const std::function<bool()> &cancelled, const std::function<void(size_t)> &progress = {},
             int progressIntervalMilliseconds = 100);
};

class TVLSearchIndex final
{
public:
    // A job for the sessions, with every text the index already holds.
    TVLSearchJob makeJob(const std::vector<std::shared_ptr<TVLSession>> &sessions, const TVLSearchQuery &query);
    // Keeps the texts a job read; when it ran to the end, also what it found, for the next job
    // to narrow.
    void store(const TVLSearchJob &job, bool complete);
    // Forgets texts of sessions that are gone.
    void prune();
    void clear();

    qsizetype textBytes() const;

private:
    struct CachedSession
    {
        std::weak_ptr<TVLSession> session;
        std::shared_ptr<const TVLSessionTexts> texts;
        bool textsComplete = false;
        std::shared_ptr<const std::vector<char>> matched;  // under the query of matchedBy
        quint64 matchedBy = 0;
    };

    QHash<const TVLSession *, CachedSession> m_sessions;
    // The last query that ran to the end, and its number; 0: none to narrow from.
    TVLSearchQuery m_lastQuery;
    quint64 m_lastQueryNumber = 0;
    quint64 m_queriesStored = 0;
};

#include "TVLUsageSummary.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <ctime>

namespace {
// Local dates change on quarter hours at most, so one conversion serves a quarter of an hour;
// the C library's conversion is used, which is many times cheaper than QDateTime's.
class LocalDays
{
public:
    const QString &dayFor(qint64 msecs)
    {
        const qint64 quarter = msecs >= 0 ? msecs / kQuarter : (msecs - kQuarter + 1) / kQuarter;
        if (quarter == m_lastQuarter)
            return *m_lastDay;
        auto it = m_days.constFind(quarter);
        if (it == m_days.constEnd())
            it = m_days.insert(quarter, localDate(quarter * kQuarter / 1000));
        m_lastQuarter = quarter;
        m_lastDay = &it.value();
        return it.value();
    }

private:
    // Each day's text is made once; its quarters share it.
    QString localDate(qint64 seconds)
    {
#ifdef Q_OS_UNIX
        const time_t time = time_t(seconds);
        struct tm local;
        if (localtime_r(&time, &local)) {
            const int key = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
            auto it = m_texts.constFind(key);
            if (it == m_texts.constEnd())
                it = m_texts.insert(key, QString::asprintf("%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday));
            return it.value();
        }
#endif
        return QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate);
    }

    QHash<int, QString> m_texts;

    static constexpr qint64 kQuarter = 15 * 60 * 1000;
    QHash<qint64, QString> m_days;
    qint64 m_lastQuarter = std::numeric_limits<qint64>::min();
    const QString *m_lastDay = nullptr;
};

struct Accumulator
{
    TVLUsageSummary::Row row;
    QSet<QString> models;
    QSet<QString> unpriced;
    QSet<int> sessions;

    // `cost` is nothing when the record's model has no price. Consecutive records mostly share
    // model and session, so the sets are only touched when those change.
    void add(const TVLLibraryIndex::UsageRecord &record, std::optional<double> cost)
    {
        row.usage.addUsage(record.usage);
        if (!lastModel || *lastModel != record.model) {
            models.insert(record.model);
            lastModel = &record.model;
        }
        if (record.file != lastFile) {
            sessions.insert(record.file);
            lastFile = record.file;
        }
        if (cost)
            row.costUSD += *cost;
        else
            unpriced.insert(record.model);
    }
    const QString *lastModel = nullptr;
    int lastFile = -1;
    TVLUsageSummary::Row finish()
    {
        row.models = QStringList(models.begin(), models.end());
        row.models.sort();
        row.unpricedModels = QStringList(unpriced.begin(), unpriced.end());
        row.unpricedModels.sort();
        row.sessions = int(sessions.size());
        return std::move(row);
    }
};
} // namespace

std::optional<TVLUsageSummary::Grouping> TVLUsageSummary::groupingForName(const QString &name)
{
    static const QHash<QString, Grouping> names = {{QStringLiteral("day"), Grouping::Day},
                                                   {QStringLiteral("month"), Grouping::Month},
                                                   {QStringLiteral("project"), Grouping::Project},
                                                   {QStringLiteral("session"), Grouping::Session},
                                                   {QStringLiteral("model"), Grouping::Model}};
    const auto it = names.constFind(name);
    if (it == names.constEnd())
        return std::nullopt;
    return it.value();
}

TVLUsageSummary::Summary TVLUsageSummary::summarize(const TVLLibraryIndex::UsageRecords &records, Grouping grouping,
                                                    const TVLPriceTable &prices)
{
    LocalDays days;
    QHash<QString, Accumulator> groups;
    Accumulator totals;
    QString lastKey;
    Accumulator *lastGroup = nullptr;
    const QString *lastModel = nullptr;
    std::optional<TVLPriceTable::Price> price;
    for (const auto &record : records.records) {
        if (!lastModel || *lastModel != record.model) {
            price = prices.priceForModel(record.model);
            lastModel = &record.model;
        }
        std::optional<double> cost;
        if (price)
            cost = TVLPriceTable::cost(*price, record.usage);
        QString key;
        switch (grouping) {
        case Grouping::Day:
            key = record.timestamp ? days.dayFor(record.timestamp) : QStringLiteral("(no date)");
            break;
        case Grouping::Month:
            key = record.timestamp ? days.dayFor(record.timestamp).left(7) : QStringLiteral("(no date)");
            break;
        case Grouping::Project:
            key = QFileInfo(records.files[record.file].project).fileName();
            break;
        case Grouping::Session:
            key = records.files[record.file].session;
            break;
        case Grouping::Model:
            key = record.model.isEmpty() ? QStringLiteral("(no model)") : record.model;
            break;
        }
        if (!lastGroup || key != lastKey) {
            lastGroup = &groups[key];
            lastKey = key;
        }
        lastGroup->add(record, cost);
        totals.add(record, cost);
    }
    Summary summary;
    summary.totals = totals.finish();
    summary.totals.key = QStringLiteral("Total");
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        Row row = it.value().finish();
        row.key = it.key();
        summary.rows.push_back(std::move(row));
    }
    const bool byTime = grouping == Grouping::Day || grouping == Grouping::Month;
    std::sort(summary.rows.begin(), summary.rows.end(), [byTime](const Row &a, const Row &b) {
        if (byTime || a.usage.totalTokens() == b.usage.totalTokens())
            return a.key < b.key;
        return a.usage.totalTokens() > b.usage.totalTokens();
    });
    return summary;
}

std::optional<QDate> TVLUsageSummary::dayFromText(const QString &text)
{
    QDate day = QDate::fromString(text, Qt::ISODate);
    if (!day.isValid())
        day = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
    if (!day.isValid())
        return std::nullopt;
    return day;
}

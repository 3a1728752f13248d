#pragma once
// List prices of model calls, in USD per million tokens, from a JSON table:
// {"date": "2026-12-08", "source": "...", "models": {"claude-sonnet-4-5": {"input": 3, "output": 15,
// "cacheWrite5m": 3.75, "cacheWrite1h": 6, "cacheRead": 0.3}, ...}}. The program ships one (its
// date is printed with every cost); another can be given. A model the table doesn't name has
// no price: its cost is unknown, never guessed.

#include "Tavlo/DataObjects/TVLTokenUsage.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>
#include <optional>

class TVLPriceTable final
{
public:
    struct Price
    {
        double input = 0;
        double output = 0;
        double cacheWrite5m = 0;
        double cacheWrite1h = 0;
        double cacheRead = 0;
    };

    // The table among the program's resources.
    static const TVLPriceTable &builtIn();
    static std::optional<TVLPriceTable> fromFile(const QString &path, QString *error);
    static std::optional<TVLPriceTable> fromJson(const QByteArray &json, QString *error);

    const QString &date() const { return m_date; }
    const QString &source() const { return m_source; }

    // The price of a model id as transcripts name it ("claude-sonnet-4-5-20250929"): the entry
    // named by the whole id, or by the id without its date suffix ("-20250929") or context
    // marker ("[1m]").
    std::optional<Price> priceForModel(const QString &model) const;
    // USD for the counts. Cache writes without the 5-minute/1-hour split count as 5-minute ones.
    static double cost(const Price &price, const TVLTokenUsage &usage);

private:
    QString m_date;
    QString m_source;
    QHash<QString, Price> m_prices;
    // Ids already looked up. The built-in table is shared by every thread that prices usage, so
    // the cache is locked; a table's prices never change once it is made, so its copies can
    // share one cache.
    struct Lookups
    {
        QMutex lock;
        QHash<QString, std::optional<Price>> byModel;
    };
    std::shared_ptr<Lookups> m_lookups = std::make_shared<Lookups>();
};

#pragma once
// Usage records of the library index summed by day, month, project, session or model, with
// their cost from a price table. Days and months are the local calendar's.

#include "TVLLibraryIndex.h"
#include "TVLPriceTable.h"

#include <QDate>
#include <QStringList>

namespace TVLUsageSummary {
enum class Grouping { Day, Month, Project, Session, Model };
std::optional<Grouping> groupingForName(const QString &name);

struct Row
{
    QString key;
    TVLTokenUsage usage;
    double costUSD = 0;
    // Models with tokens in this row that the price table doesn't name; their cost is not in
    // costUSD.
    QStringList unpricedModels;
    QStringList models;
    int sessions = 0;
};
struct Summary
{
    Row totals;
    std::vector<Row> rows;  // days and months in order; the rest by total tokens, most first
};

Summary summarize(const TVLLibraryIndex::UsageRecords &records, Grouping grouping, const TVLPriceTable &prices);

// A day given as "YYYY-MM-DD" or "YYYYMMDD".
std::optional<QDate> dayFromText(const QString &text);
} // namespace TVLUsageSummary

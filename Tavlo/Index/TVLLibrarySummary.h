#pragma once
// The page shown for a log root or a project: its sessions, tokens and cost per day as a bar
// chart (an inline SVG, no script), and its busiest sessions with tvl:// links. Built from the
// library index as it is; the text is Markdown with inline HTML, converted like any page.

#include "TVLLibraryIndex.h"
#include "TVLPriceTable.h"

namespace TVLLibrarySummary {
// `title` names the root or project. At most `days` days up to the last day with usage.
QString markdownForPath(TVLLibraryIndex &index, const QString &path, const QString &title, const TVLPriceTable &prices,
                        int days = 60);
// The chart alone, for the rows of a summary by day.
QString svgBarChart(const std::vector<std::pair<QString, double>> &bars, const QString &unit);
} // namespace TVLLibrarySummary

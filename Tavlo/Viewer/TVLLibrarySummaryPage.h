#pragma once
// What the page shows for a selected log root or project: the library summary (usage per day as
// a chart, the busiest sessions) instead of an empty page. The index is brought up to date on
// its own thread first; the page shows what the index knows at once and the summary when ready.

#include "Tavlo/DataObjects/TVLObject.h"

#include <QObject>
#include <QTimer>
#include <functional>

class TVLLibraryIndex;
class TVLPageController;

class TVLLibrarySummaryPage final : public QObject
{
    Q_OBJECT
public:
    explicit TVLLibrarySummaryPage(TVLPageController *page, QObject *parent = nullptr);

    // Whether the object gets a summary: a root or a project whose own page is empty.
    static bool showsSummaryFor(TVLObject *object);
    void show(const TVLObject::Ptr &object);

Q_SIGNALS:
    // The summary of the object is on the page.
    void summaryShown(TVLObject *object);

private:
    void showProgress();
    void indexUpdated(const QStringList &paths);
    void refresh();
    void showMarkdown(const TVLObject::Ptr &object, const QString &markdown);

    TVLPageController *m_page;
    int m_request = 0;
    const TVLObject *m_shownObject = nullptr;
    QString m_shownMarkdown;
    bool m_pageReady = false;
    // The summary shown, made again when the index learns of changes under it.
    std::weak_ptr<TVLObject> m_refreshObject;
    std::function<QString(TVLLibraryIndex &)> m_summarize;
    QTimer m_refresh;
};

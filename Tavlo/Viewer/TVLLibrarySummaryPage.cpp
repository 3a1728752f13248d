#include "TVLLibrarySummaryPage.h"

#include "TVLLibraryIndexActivity.h"
#include "TVLLibraryIndexFollower.h"
#include "TVLLibraryIndexJobs.h"
#include "TVLPageController.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/Index/TVLLibrarySummary.h"

#include <QFileInfo>
#include <QJsonArray>

namespace {
constexpr int kRefreshMilliseconds = 3000;
}

TVLLibrarySummaryPage::TVLLibrarySummaryPage(TVLPageController *page, QObject *parent) : QObject(parent), m_page(page)
{
    TVLLibraryIndexActivity &activity = TVLLibraryIndexActivity::shared();
    connect(&activity, &TVLLibraryIndexActivity::progressChanged, this, &TVLLibrarySummaryPage::showProgress);
    connect(&activity, &TVLLibraryIndexActivity::updateFinished, this, &TVLLibrarySummaryPage::showProgress);
    connect(&TVLLibraryIndexFollower::shared(), &TVLLibraryIndexFollower::updated, this, &TVLLibrarySummaryPage::indexUpdated);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshMilliseconds);
    connect(&m_refresh, &QTimer::timeout, this, &TVLLibrarySummaryPage::refresh);
    connect(m_page, &TVLPageController::pageLoaded, this, [this] {
        m_pageReady = true;
        if (TVLLibraryIndexActivity::shared().isUpdating())
            showProgress();
    });
}

void TVLLibrarySummaryPage::showProgress()
{
    // The line lives in the summary's page, once its script is there.
    if (!m_pageReady || !m_shownObject || m_page->displayedObject().get() != m_shownObject)
        return;
    const TVLLibraryIndexActivity &activity = TVLLibraryIndexActivity::shared();
    m_page->script().showIndexProgress(activity.isUpdating() ? TVLLibraryIndexActivity::describe(activity.progress()) : QString());
}

bool TVLLibrarySummaryPage::showsSummaryFor(TVLObject *object)
{
    if (!object || object->path().isEmpty())
        return false;
    if (!dynamic_cast<TVLRoot *>(object) && !dynamic_cast<TVLProject *>(object))
        return false;
    // A project's usage report (asked for with a modifier key) keeps its place.
    return object->markdown().isEmpty();
}

void TVLLibrarySummaryPage::show(const TVLObject::Ptr &object)
{
    m_page->displayObject(object);
    m_shownObject = nullptr;
    const int request = ++m_request;
    const QString path = object->path();
    auto *project = dynamic_cast<TVLProject *>(object.get());
    const QString title = project ? project->projectName() : QFileInfo(path).fileName();
    auto summarize = [path, title](TVLLibraryIndex &index) {
        return TVLLibrarySummary::markdownForPath(index, path, title, TVLPriceTable::builtIn());
    };
    auto answer = [this, request, object](QString markdown) {
        if (request == m_request && !markdown.isEmpty())
            showMarkdown(object, markdown);
    };
    // What the index holds already (also while a long update runs), then the same after it has
    // read what changed.
    TVLLibraryIndexJobs::read<QString>(this, summarize, answer);
    TVLLibraryIndexJobs::run<QString>(
        this,
        [summarize, path](TVLLibraryIndex &index) {
            if (!TVLLibraryIndexJobs::update(index, path).ok)
                return QString();
            return summarize(index);
        },
        answer);
    m_refreshObject = object;
    m_summarize = summarize;
}

void TVLLibrarySummaryPage::indexUpdated(const QStringList &paths)
{
    const auto object = m_refreshObject.lock();
    if (!object || m_page->displayedObject() != object)
        return;
    const QString prefix = object->path() + QLatin1Char('/');
    const bool touchesShown = std::any_of(paths.begin(), paths.end(), [&](const QString &path) {
        return path == object->path() || path.startsWith(prefix);
    });
    if (touchesShown && !m_refresh.isActive())
        m_refresh.start();
}

// A live session changes the totals with every line: the summary follows a few times a minute,
// read from the index as it is, and keeps the reader's place.
void TVLLibrarySummaryPage::refresh()
{
    const auto object = m_refreshObject.lock();
    if (!object || m_page->displayedObject() != object || !m_summarize)
        return;
    const int request = m_request;
    TVLLibraryIndexJobs::read<QString>(this, m_summarize, [this, request, object](QString markdown) {
        if (request != m_request || markdown.isEmpty() || m_page->displayedObject() != object || markdown == m_shownMarkdown)
            return;
        m_shownMarkdown = markdown;
        m_pageReady = false;
        m_page->reloadMarkdownKeepingScroll(markdown);
    });
}

void TVLLibrarySummaryPage::showMarkdown(const TVLObject::Ptr &object, const QString &markdown)
{
    if (m_page->displayedObject() != object || (object.get() == m_shownObject && markdown == m_shownMarkdown))
        return;
    m_shownObject = object.get();
    m_shownMarkdown = markdown;
    m_pageReady = false;
    m_page->fullLoad(markdown);
    Q_EMIT summaryShown(object.get());
}

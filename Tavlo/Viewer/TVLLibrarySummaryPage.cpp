#include "TVLLibrarySummaryPage.h"

#include "TVLLibraryIndexActivity.h"
#include "TVLLibraryIndexJobs.h"
#include "TVLPageController.h"
#include "Tavlo/DataObjects/TVLProject.h"
#include "Tavlo/DataObjects/TVLRoot.h"
#include "Tavlo/Index/TVLLibrarySummary.h"

#include <QFileInfo>
#include <QJsonArray>

TVLLibrarySummaryPage::TVLLibrarySummaryPage(TVLPageController *page, QObject *parent) : QObject(parent), m_page(page)
{
    TVLLibraryIndexActivity &activity = TVLLibraryIndexActivity::shared();
    connect(&activity, &TVLLibraryIndexActivity::progressChanged, this, &TVLLibrarySummaryPage::showProgress);
    connect(&activity, &TVLLibraryIndexActivity::updateFinished, this, &TVLLibrarySummaryPage::showProgress);
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
    m_page->callPage(QStringLiteral("showIndexProgress"),
                     {activity.isUpdating() ? TVLLibraryIndexActivity::describe(activity.progress()) : QString()});
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
    // What the index holds already, then the same after it has read what changed.
    for (const bool update : {false, true}) {
        TVLLibraryIndexJobs::run<QString>(
            this,
            [summarize, update, path](TVLLibraryIndex &index) {
                if (update && !TVLLibraryIndexJobs::update(index, path).ok)
                    return QString();
                return summarize(index);
            },
            [this, request, object](QString markdown) {
                if (request == m_request && !markdown.isEmpty())
                    showMarkdown(object, markdown);
            });
    }
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

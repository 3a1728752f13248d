#include "TVLLoadingNote.h"

#include "TVLPageController.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLProject.h"

#include <QJsonArray>
#include <QTimer>

TVLLoadingNote::TVLLoadingNote(TVLPageController *page, QObject *parent)
    : QObject(parent)
    , m_page(page)
{
    connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, this, &TVLLoadingNote::changed);
    // The note goes into the project's own (empty) page once that has loaded.
    connect(m_page, &TVLPageController::pageLoaded, this, [this] {
        m_pageReady = true;
        sendNote();
    });
}

void TVLLoadingNote::show(const std::shared_ptr<TVLProject> &project)
{
    m_project = project;
    m_pageReady = false;
    m_page->displayObject(project);
}

void TVLLoadingNote::clear() { m_project.reset(); }

std::shared_ptr<TVLProject> TVLLoadingNote::project() const { return m_project.lock(); }

void TVLLoadingNote::sendNote()
{
    const auto project = m_project.lock();
    if (!m_pageReady || !project || !project->isLoading() || m_page->displayedObject() != project)
        return;
    m_page->callPage(QStringLiteral("showLoadingNote"), QJsonArray{project->loadingNote()});
}

void TVLLoadingNote::changed(TVLObject *object, TVLProperty property)
{
    const auto project = m_project.lock();
    if (!project || object != project.get())
        return;
    if (m_page->displayedObject() != project) {
        clear();
        return;
    }
    if (property == TVLProperty::DisplayTitle) {
        sendNote();
    } else if (property == TVLProperty::IsLoaded && project->isLoaded()) {
        // Announced as the load begins to apply; reported once it has finished.
        QTimer::singleShot(0, this, [this, weak = m_project] {
            const auto loaded = weak.lock();
            if (!loaded || loaded != m_project.lock() || !loaded->isLoaded())
                return;
            clear();
            Q_EMIT projectLoaded(loaded.get());
        });
    }
}

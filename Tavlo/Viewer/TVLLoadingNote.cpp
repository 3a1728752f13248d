#include "TVLLoadingNote.h"

#include "TVLPageController.h"
#include "Tavlo/DataObjects/TVLChangeHub.h"
#include "Tavlo/DataObjects/TVLObject.h"

#include <QTimer>

TVLLoadingNote::TVLLoadingNote(TVLPageController *page, QObject *parent)
    : QObject(parent)
    , m_page(page)
{
    connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, this, &TVLLoadingNote::changed);
    // The note goes into the object's own (empty) page once that has loaded.
    connect(m_page, &TVLPageController::pageLoaded, this, [this] {
        m_pageReady = true;
        sendNote();
    });
}

void TVLLoadingNote::show(const std::shared_ptr<TVLObject> &object)
{
    m_object = object;
    m_pageReady = false;
    m_finishing = false;
    m_page->displayObject(object);
}

void TVLLoadingNote::clear() { m_object.reset(); }

void TVLLoadingNote::sendNote()
{
    const auto object = m_object.lock();
    if (!m_pageReady || !object || !object->isLoading() || m_page->displayedObject() != object)
        return;
    m_page->script().showLoadingNote(object->loadingNote());
}

void TVLLoadingNote::changed(TVLObject *object, TVLProperty property)
{
    const auto shown = m_object.lock();
    if (!shown || object != shown.get())
        return;
    if (m_page->displayedObject() != shown) {
        clear();
        return;
    }
    if (shown->isLoading()) {
        if (property == TVLProperty::DisplayTitle)
            sendNote();
        return;
    }
    // The first announcement of the loaded object comes while its read is being applied: the
    // end is reported once that is done.
    if (std::exchange(m_finishing, true))
        return;
    QTimer::singleShot(0, this, [this, weak = m_object] {
        const auto done = weak.lock();
        if (!done || done != m_object.lock() || done->isLoading())
            return;
        clear();
        Q_EMIT loaded(done.get());
    });
}

#include "TVLPageController.h"

#include "TVLPageBridge.h"
#include "TVLPagePrinter.h"
#include "TVLPageProfile.h"
#include "TVLPageSchemeHandler.h"
#include "TVLPageSections.h"
#include "TVLPageTemplate.h"
#include "TVLWebPage.h"

#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "Tavlo/DataObjects/TVLAnnotation.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLDesktop.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLSessionMarkdown.h"
#include "Tavlo/DataObjects/TVLTag.h"
#include "Tavlo/DataObjects/TVLToolSteps.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QThreadPool>
#include <QWebChannel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineFindTextResult>
#include <QWebEngineView>


namespace {

// Within this many CSS pixels of the end the reader counts as at the end: the live update is
// generous, the reload that rebuilds the page stricter.
constexpr int liveUpdateEndTolerance = 50;
constexpr int reloadEndTolerance = 20;

// Page conversions run here one after the other, so that their results reach the page in the
// order they were asked for. Never destroyed: leaving the program does not wait for it.
QThreadPool &pageConversionQueue()
{
    static QThreadPool *queue = [] {
        auto *pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        return pool;
    }();
    return *queue;
}

QJsonObject tagRecord(const TVLTag &tag)
{
    return QJsonObject{{QStringLiteral("id"), double(tag.tagId())},
                       {QStringLiteral("name"), tag.name()},
                       {QStringLiteral("color"), TVLPageController::hexColorFromColor(tag.color())},
                       {QStringLiteral("textColor"), TVLPageController::contrastingTextColorForColor(tag.color())}};
}

} // namespace

TVLPageController::TVLPageController(QWidget *parent)
    : QWidget(parent)
    , m_webView(new QWebEngineView(this))
    , m_page(new TVLWebPage(m_webView))
    , m_script(m_page)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_webView);
    setFocusProxy(m_webView);

    m_webView->setPage(m_page);
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);

    // The channel and the bridge belong to the page, so they live exactly as long as it does.
    m_bridge = new TVLPageBridge(m_page);
    m_channel = new QWebChannel(m_page);
    m_channel->registerObject(QStringLiteral("tavlo"), m_bridge);
    m_page->setWebChannel(m_channel);
    connectBridge();
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok)
            didFinishNavigation();
    });
    observeNotifications();
}

TVLPageController::~TVLPageController()
{
    disconnect(&TVLChangeHub::shared(), nullptr, this, nullptr);
    if (!m_publishedUrl.isEmpty())
        TVLPageProfile::schemeHandler()->withdrawDocument(m_publishedUrl);
}

void TVLPageController::observeNotifications()
{
    const TVLChangeHub *hub = &TVLChangeHub::shared();
    connect(hub, &TVLChangeHub::sessionDidUpdate, this, [this](TVLSession *session) { sessionDidUpdate(session); });
    connect(hub, &TVLChangeHub::projectMetadataDidChange, this,
            [this](const TVLProjectMetadata *store) { metadataDidChange(store); });
    // Badges carry the tags' names and colours.
    connect(hub, &TVLChangeHub::tagsDidChange, this, [this] { updateAllTagBadges(); });
}

// ---- Loading

void TVLPageController::setScrollTarget(const TVLScrollTarget &target)
{
    m_pendingScrollToBottom = target.kind == TVLScrollTarget::Kind::Bottom;
    m_pendingScrollTop = target.kind == TVLScrollTarget::Kind::Offset ? target.offset : 0;
    m_pendingScrollToExchangeId = target.kind == TVLScrollTarget::Kind::Exchange ? target.exchangeId : QString();
}

void TVLPageController::displayObject(const std::shared_ptr<TVLObject> &object, const TVLScrollTarget &target)
{
    setScrollTarget(target);
    m_displayedObject = object;
    rememberDisplayedMarkdown(object ? object->markdown() : QString());
    const auto session = std::dynamic_pointer_cast<TVLSession>(object);
    m_lastDisplayedExchangeCount = session ? unsigned(session->exchanges().size()) : 0;
    fullLoad(m_lastDisplayedMarkdown);
}

QString TVLPageController::htmlDocFromMarkdown(const QString &markdown) const
{
    return TVLPageTemplate::shared().documentWithBody(
        TVLPageSections::dataElementOf({TVLPageSections::sourceOfMarkdown(markdown)}));
}

TVLPageSources TVLPageController::sourcesOfPage(const QString &markdown) const
{
    // The shown session or exchange is read block by block; any other Markdown is one piece.
    const bool shownObjectsPage = m_displayedObject && markdown == m_lastDisplayedMarkdown
                                  && (std::dynamic_pointer_cast<TVLSession>(m_displayedObject)
                                      || std::dynamic_pointer_cast<TVLExchange>(m_displayedObject));
    if (shownObjectsPage)
        return TVLPageSections::sourcesOfObject(*m_displayedObject);
    return {TVLPageSections::sourceOfMarkdown(markdown)};
}

void TVLPageController::convertThen(TVLPageSources sources, std::function<void(const QJsonArray &)> then)
{
    QPointer<TVLPageController> self(this);
    pageConversionQueue().start([self, sources = std::move(sources), then = std::move(then)] {
        const QJsonArray sections = TVLPageSections::converted(sources);
        QMetaObject::invokeMethod(qApp, [self, sections, then] {
            if (self)
                then(sections);
        }, Qt::QueuedConnection);
    });
}

QString TVLPageController::currentAppearance() const
{
    const QColor window = QApplication::palette().color(QPalette::Window);
    return window.lightness() < 128 ? QStringLiteral("dark") : QStringLiteral("light");
}

void TVLPageController::fullLoad(const QString &markdown)
{
    ++m_generation;
    const quint64 load = ++m_loadGeneration;
    m_loadPending = true;
    // A long session opens with its newest exchanges; the earlier ones follow after the load.
    const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject);
    const bool inParts = session && markdown == m_lastDisplayedMarkdown
                         && m_parts.start(*session, m_pendingScrollToExchangeId);
    if (!inParts)
        m_parts.clear();
    // The sources are read from the model here; their conversion keeps the window free.
    convertThen(inParts ? m_parts.takeNewest() : sourcesOfPage(markdown), [this, load](const QJsonArray &sections) {
        if (load != m_loadGeneration)
            return;
        const QString document = TVLPageTemplate::shared().documentWithBody(TVLPageSections::dataElement(sections));
        TVLPageSchemeHandler *handler = TVLPageProfile::schemeHandler();
        const QUrl previous = m_publishedUrl;
        m_publishedUrl = handler->publishDocument(document.toUtf8(), QStringLiteral("appearance=") + currentAppearance());
        m_page->loadDocument(m_publishedUrl);
        if (!previous.isEmpty())
            handler->withdrawDocument(previous);
    });
}

// ---- Live updates

// The session's Markdown is one "\n" + exchange + "\n" after another. Where the last exchange
// begins is kept, so that a live update rebuilds only the end of the text instead of every
// exchange of a long session again.
void TVLPageController::rememberDisplayedMarkdown(const QString &markdown)
{
    m_lastDisplayedMarkdown = markdown;
    m_lastExchangeMarkdownOffset = -1;
    const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject);
    if (!session || session->isFilterActive() || session->exchanges().empty())
        return;
    const qsizetype offset = markdown.size() - 2 - session->exchanges().back()->markdownWithSectionAnchors().size();
    if (offset >= 0 && markdown.at(offset) == QLatin1Char('\n'))
        m_lastExchangeMarkdownOffset = offset;
}

void TVLPageController::rememberAppendedMarkdown(const QStringList &changedMarkdown, const TVLSession &session)
{
    if (m_lastExchangeMarkdownOffset < 0 || session.isFilterActive()) {
        rememberDisplayedMarkdown(session.markdown());
        return;
    }
    m_lastDisplayedMarkdown.truncate(m_lastExchangeMarkdownOffset);
    for (const QString &markdown : changedMarkdown) {
        m_lastExchangeMarkdownOffset = m_lastDisplayedMarkdown.size();
        m_lastDisplayedMarkdown += QLatin1Char('\n') + markdown + QLatin1Char('\n');
    }
}

void TVLPageController::sessionDidUpdate(TVLSession *session)
{
    if (!session || !m_displayedObject || session != dynamic_cast<TVLSession *>(m_displayedObject.get()))
        return;
    const auto shown = std::static_pointer_cast<TVLSession>(m_displayedObject);
    // A page on its way shows the session as it was when the load began: it is brought up to
    // date once it is there.
    if (m_loadPending) {
        m_updateWhenLoaded = true;
        return;
    }
    const unsigned count = unsigned(shown->exchanges().size());
    const unsigned shownCount = m_lastDisplayedExchangeCount;
    // Unsigned on purpose: a page that shows no exchange (0 - 1 wraps) is reloaded too. Under
    // a filter the page holds only the matching exchanges, which appending would not respect.
    if (shownCount - 1 >= count || shown->isFilterActive())
        fullReloadSession(shown);
    else
        appendNewExchangesFrom(shownCount, shown);
}

void TVLPageController::appendNewExchangesFrom(unsigned firstNewIndex, const std::shared_ptr<TVLSession> &session)
{
    if (!session || firstNewIndex == 0)
        return;
    const quint64 generation = ++m_generation;
    m_script.pageScrollState(liveUpdateEndTolerance, [this, generation, firstNewIndex, session](TVLPageScript::ScrollState state) {
        if (generation != m_generation)
            return;
        const auto &exchanges = session->exchanges();
        // The session shrank while the page was asked: only a full reload fits the page now.
        if (firstNewIndex > exchanges.size()) {
            fullReloadSession(session);
            return;
        }

        // The last shown exchange, then the new ones.
        QStringList changedMarkdown;
        QStringList touched;
        TVLPageSources sources;
        for (size_t index = firstNewIndex - 1; index < exchanges.size(); ++index) {
            changedMarkdown << exchanges[index]->markdownWithSectionAnchors();
            touched << exchanges[index]->sectionId();
            sources.push_back(TVLPageSections::sourceOfExchange(*exchanges[index]));
        }
        const unsigned count = unsigned(exchanges.size());
        convertThen(std::move(sources), [=, this](const QJsonArray &sections) {
            if (generation != m_generation)
                return;
            QJsonArray newSections = sections;
            newSections.removeFirst();
            m_script.replaceLastAndAppend(touched.first(), sections.first(), newSections, state.atBottom, state.scrollTop);
            m_lastDisplayedExchangeCount = count;
            rememberAppendedMarkdown(changedMarkdown, *session);
            sendBadgesForMessageIds(touched);
            Q_EMIT incrementalUpdateSent();
        });
    });
}

void TVLPageController::fullReloadSession(const std::shared_ptr<TVLSession> &session)
{
    if (!session)
        return;
    const quint64 generation = ++m_generation;
    m_script.pageScrollState(reloadEndTolerance, [this, generation, session](TVLPageScript::ScrollState state) {
        if (generation != m_generation)
            return;
        const QString markdown = session->markdown();
        if (markdown == m_lastDisplayedMarkdown)
            return;
        rememberDisplayedMarkdown(markdown);
        m_lastDisplayedExchangeCount = unsigned(session->exchanges().size());
        m_pendingScrollToBottom = state.atBottom;
        m_pendingScrollTop = state.scrollTop;
        fullLoad(markdown);
    });
}

void TVLPageController::reloadMarkdownKeepingScroll(const QString &markdown)
{
    const quint64 generation = ++m_generation;
    m_script.pageScrollState(reloadEndTolerance, [this, generation, markdown](TVLPageScript::ScrollState state) {
        if (generation != m_generation)
            return;
        m_pendingScrollToBottom = false;
        m_pendingScrollTop = state.scrollTop;
        fullLoad(markdown);
    });
}

void TVLPageController::reloadFilteredContentWithSession(const std::shared_ptr<TVLSession> &session,
                                                         const std::optional<QString> &scrollToExchangeId)
{
    if (!session)
        return;
    m_pendingScrollToExchangeId = scrollToExchangeId.value_or(QString());
    Q_EMIT visibleExchangeMarksCleared();
    m_displayedObject = session;
    rememberDisplayedMarkdown(session->markdown());
    fullLoad(m_lastDisplayedMarkdown);
}

void TVLPageController::reloadFilteredContent()
{
    if (const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject))
        reloadFilteredContentWithSession(session, std::nullopt);
}

// ---- After a load, scrolling

void TVLPageController::didFinishNavigation()
{
    m_loadPending = false;
    // An exchange asked for during the load may lie in a part still to come.
    if (!m_pendingScrollToExchangeId.isEmpty() && m_parts.isStillToCome(m_pendingScrollToExchangeId))
        m_script.prependSections(TVLPageSections::converted(m_parts.takeEarlier(m_pendingScrollToExchangeId)));
    QJsonObject scroll;
    if (!m_pendingScrollToExchangeId.isEmpty())
        scroll.insert(QStringLiteral("exchangeId"), m_pendingScrollToExchangeId);
    else if (m_pendingScrollToBottom)
        scroll.insert(QStringLiteral("toBottom"), true);
    else if (m_pendingScrollTop > 0)
        scroll.insert(QStringLiteral("scrollTop"), m_pendingScrollTop);
    m_script.finishLoad(scroll);

    m_pendingScrollToExchangeId.clear();
    m_pendingScrollToBottom = false;
    m_pendingScrollTop = 0;

    updateAllTagBadges();
    Q_EMIT pageLoaded();
    sendEarlierParts(m_loadGeneration);
    if (std::exchange(m_updateWhenLoaded, false))
        sessionDidUpdate(dynamic_cast<TVLSession *>(m_displayedObject.get()));
}

// One part at a time, the next one once the page has taken the last, so that the reader's
// scrolling and clicks get their turn in between.
void TVLPageController::sendEarlierParts(quint64 load)
{
    if (load != m_loadGeneration)
        return;
    if (!m_parts.hasEarlier()) {
        Q_EMIT allPartsShown();
        return;
    }
    m_script.prependSections(TVLPageSections::converted(m_parts.takeEarlier()), [this, load] {
        QTimer::singleShot(10, this, [this, load] { sendEarlierParts(load); });
    });
}

void TVLPageController::scrollToExchangeId(const QString &exchangeId)
{
    if (exchangeId.isEmpty())
        return;
    // While a page loads its script is not there yet: the load ends at the exchange instead.
    if (m_loadPending) {
        m_pendingScrollToExchangeId = exchangeId;
        return;
    }
    // An exchange of a long page that has not arrived yet comes first, with all after it.
    if (m_parts.isStillToCome(exchangeId))
        m_script.prependSections(TVLPageSections::converted(m_parts.takeEarlier(exchangeId)));
    m_script.scrollToExchange(exchangeId);
}

void TVLPageController::selectedText(std::function<void(const QString &)> answer)
{
    m_script.selectedText(std::move(answer));
}

void TVLPageController::copySelection() { m_page->triggerAction(QWebEnginePage::Copy); }

void TVLPageController::findText(const QString &text, bool caseSensitive, bool backwards,
                                 std::function<void(int, int)> found)
{
    // The text goes to the page as data; nothing is built from it.
    m_script.findInPage(text, caseSensitive, backwards, std::move(found));
}

// ---- Print

void TVLPageController::printCustom()
{
    if (m_lastDisplayedMarkdown.isEmpty()) {
        hvxBeep();
        return;
    }
    TVLPagePrinter::printBody(TVLPageSections::dataElementOf(sourcesOfPage(m_lastDisplayedMarkdown)));
}

// ---- Messages from the page

void TVLPageController::connectBridge()
{
    connect(m_bridge, &TVLPageBridge::visibleExchangesReported, this, [this](const QStringList &ids) {
        m_lastVisibleExchangeIds = ids;
        Q_EMIT visibleExchangesChanged(m_lastVisibleExchangeIds);
    });
    // A link the reader followed: with Command held it opens behind the window.
    connect(m_bridge, &TVLPageBridge::linkFollowed, this, [this](const QString &url) { m_page->openActivatedLink(QUrl(url)); });
    connect(m_bridge, &TVLPageBridge::contextMenuAsked, this, [this](const QString &sectionId, int x, int y) {
        if (!readerIsBusyElsewhere())
            Q_EMIT contextMenuRequested(sectionId, QPoint(x, y));
    });
    connect(m_bridge, &TVLPageBridge::popoverDataAsked, this, [this](const QString &sectionId) {
        if (!readerIsBusyElsewhere())
            showPopoverForMessageId(sectionId);
    });
    connect(m_bridge, &TVLPageBridge::tagToggled, this, [this](const QString &sectionId, quint64 tagId, bool checked) {
        if (!readerIsBusyElsewhere())
            toggleTagForMessageIdTagIdChecked(sectionId, tagId, checked);
    });
    connect(m_bridge, &TVLPageBridge::annotationSaved, this, [this](const QString &sectionId, const QString &annotation) {
        if (!readerIsBusyElsewhere())
            saveAnnotationForMessageIdAnnotation(sectionId, annotation);
    });
    connect(m_bridge, &TVLPageBridge::tagsAsked, this, [this](const QStringList &sectionIds) {
        if (!readerIsBusyElsewhere())
            loadTagsForSections(sectionIds);
    });
}

bool TVLPageController::readerIsBusyElsewhere() { return hvxIsModifierHeld(HVXModifierCommand); }

TVLProjectMetadata *TVLPageController::shownMetadata() const
{
    return m_displayedObject ? m_displayedObject->metadata() : nullptr;
}

void TVLPageController::showPopoverForMessageId(const QString &messageId)
{
    TVLProjectMetadata *metadata = shownMetadata();
    if (!metadata || messageId.isEmpty())
        return;
    QJsonArray allTags;
    for (const TVLTag *tag : TVLTag::allTags())
        allTags.append(tagRecord(*tag));
    QJsonArray attached;
    for (quint64 tagId : metadata->tagIdsForMessageId(messageId))
        attached.append(double(tagId));
    m_script.showPopover(messageId, allTags, attached, metadata->annotationForMessageId(messageId));
}

QJsonArray TVLPageController::badgeRecordsForMessageId(TVLProjectMetadata *metadata, const QString &messageId) const
{
    QJsonArray records;
    for (const TVLTag *tag : metadata->tagsForMessageId(messageId))
        records.append(tagRecord(*tag));
    const QString annotation = metadata->annotationForMessageId(messageId);
    const bool hasAnnotation = !annotation.isEmpty();
    const TVLAnnotation &annotationTag = TVLAnnotation::sharedAnnotation();
    QJsonObject record{{QStringLiteral("id"), double(annotationTag.tagId())},
                       {QStringLiteral("name"), annotationTag.name()},
                       {QStringLiteral("color"), hexColorFromColor(TVLAnnotation::colorForHasAnnotation(hasAnnotation))},
                       {QStringLiteral("textColor"),
                        hexColorFromColor(TVLAnnotation::textColorForHasAnnotation(hasAnnotation))},
                       {QStringLiteral("isAnnotation"), true}};
    if (hasAnnotation)
        record.insert(QStringLiteral("annotationText"), annotation);
    records.append(record);
    return records;
}

// One call for many badges: a page of thousands of exchanges costs one call, not thousands.
void TVLPageController::sendBadgesForMessageIds(const QStringList &messageIds)
{
    TVLProjectMetadata *metadata = shownMetadata();
    if (!metadata)
        return;
    QJsonArray sections;
    for (const QString &messageId : messageIds)
        if (!messageId.isEmpty())
            sections.append(QJsonArray{messageId, badgeRecordsForMessageId(metadata, messageId)});
    if (!sections.isEmpty())
        m_script.setTagsOfSections(sections);
}

void TVLPageController::updateTagBadgesForMessageId(const QString &messageId)
{
    sendBadgesForMessageIds({messageId});
}

void TVLPageController::loadTagsForSections(const QStringList &sectionIds)
{
    // Only a session's or an exchange's sections are exchanges that tags belong to; the summary
    // of a root or project is not one.
    if (!std::dynamic_pointer_cast<TVLSession>(m_displayedObject) && !std::dynamic_pointer_cast<TVLExchange>(m_displayedObject))
        return;
    sendBadgesForMessageIds(sectionIds);
}

void TVLPageController::updateAllTagBadges()
{
    // Parts still to come ask for their badges when they arrive.
    if (m_parts.isActive()) {
        sendBadgesForMessageIds(m_parts.shownIds());
        return;
    }
    if (const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject)) {
        QStringList ids;
        for (const auto &exchange : session->exchanges())
            ids << exchange->sectionId();
        sendBadgesForMessageIds(ids);
    } else if (const auto exchange = std::dynamic_pointer_cast<TVLExchange>(m_displayedObject)) {
        sendBadgesForMessageIds({exchange->sectionId()});
    }
}

void TVLPageController::toggleTagAndRefresh(const QString &messageId, quint64 tagId, bool add)
{
    TVLProjectMetadata *metadata = shownMetadata();
    if (!metadata || messageId.isEmpty())
        return;
    if (add)
        metadata->addTagIdToMessageId(tagId, messageId);
    else
        metadata->removeTagIdFromMessageId(tagId, messageId);
    m_displayedObject->invalidateTagSummaryForMessageId(messageId);
    updateTagBadgesForMessageId(messageId);
}

void TVLPageController::toggleTagForMessageIdTagIdChecked(const QString &messageId, quint64 tagId, bool checked)
{
    toggleTagAndRefresh(messageId, tagId, checked);
}

void TVLPageController::saveAnnotationForMessageIdAnnotation(const QString &messageId, const QString &annotation)
{
    TVLProjectMetadata *metadata = shownMetadata();
    if (!metadata || messageId.isEmpty())
        return;
    metadata->setAnnotationForMessageId(annotation, messageId);
    updateTagBadgesForMessageId(messageId);
}

void TVLPageController::metadataDidChange(const TVLProjectMetadata *metadata)
{
    TVLProjectMetadata *shown = shownMetadata();
    if (!shown || metadata != shown)
        return;
    updateAllTagBadges();
    invalidateAllTagSummaries();
}

void TVLPageController::invalidateAllTagSummaries()
{
    if (const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject)) {
        for (const auto &exchange : session->exchanges())
            exchange->invalidateTagSummaryForMessageId(exchange->sectionId());
    } else if (const auto exchange = std::dynamic_pointer_cast<TVLExchange>(m_displayedObject)) {
        exchange->invalidateTagSummaryForMessageId(exchange->sectionId());
    }
}

void TVLPageController::showTagMenuForMessageIdAtXY(const QString &messageId, int x, int y)
{
    TVLProjectMetadata *metadata = shownMetadata();
    if (messageId.isEmpty())
        return;
    const auto toggle = [this, messageId](quint64 tagId, bool add) { toggleTagAndRefresh(messageId, tagId, add); };
    const std::unique_ptr<QMenu> menu = metadata ? TVLTagMenu::menuForTags(metadata->tagIdsForMessageId(messageId), toggle, m_webView)
                                                 : std::make_unique<QMenu>(m_webView);
    addCopyAsMarkdownForSectionId(*menu, messageId);
    if (!menu->isEmpty())
        menu->exec(m_webView->mapToGlobal(QPoint(x, y)));
}

// The exchange of a section of the shown session, as Markdown on the clipboard.
void TVLPageController::addCopyAsMarkdownForSectionId(QMenu &menu, const QString &sectionId)
{
    const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject);
    const auto exchange = session ? session->exchangeWithUuid(sectionId) : nullptr;
    if (!exchange)
        return;
    menu.addSeparator();
    menu.addAction(tr("Copy as Markdown"), this, [session, exchange] {
        TVLDesktop::current().copyToPasteboard(TVLSessionMarkdown::forExchange(*session, *exchange, TVLToolSteps::shown()));
    });
}

#include "TVLPageController.h"

#include "TVLPageBridge.h"
#include "TVLPageProfile.h"
#include "TVLPageSchemeHandler.h"
#include "TVLPageTemplate.h"
#include "TVLWebPage.h"

#include "Halvex/Foundation/Categories/HVX_JSON.h"
#include "Halvex/Foundation/HVXLog.h"
#include "Halvex/Foundation/HVXModifierKeys.h"
#include "Halvex/Foundation/HVXNotificationCenter.h"
#include "Halvex/cmark/HVXMarkDown.h"
#include "Tavlo/DataObjects/TVLAnnotation.h"
#include "Tavlo/DataObjects/TVLDesktop.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLProjectMetadata.h"
#include "Tavlo/DataObjects/TVLSession.h"
#include "Tavlo/DataObjects/TVLTag.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QSaveFile>
#include <QWebChannel>
#include <QWebEngineView>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString highlightScript =
    QStringLiteral("document.querySelectorAll(':not(.user) > pre code').forEach(el => hljs.highlightElement(el));");

// Scroll state for the live update (50 pixels count as the end).
const QString incrementalScrollStateScript = QStringLiteral(
    "(function(){var st=window.pageYOffset||document.documentElement.scrollTop||0;var sh=document.documentElement."
    "scrollHeight||document.body.scrollHeight;var ch=window.innerHeight||document.documentElement.clientHeight;"
    "return JSON.stringify({scrollTop:st,atBottom:(st+ch>=sh-50)});})()");

// Scroll state for the full reload (20 pixels count as the end).
const QString reloadScrollStateScript = QStringLiteral(
    "(function(){var scrollTop=document.documentElement.scrollTop||document.body.scrollTop;var scrollHeight="
    "document.documentElement.scrollHeight||document.body.scrollHeight;var clientHeight=document.documentElement."
    "clientHeight||window.innerHeight;var atBottom=(scrollTop+clientHeight>=scrollHeight-20);return JSON.stringify("
    "{scrollTop:scrollTop,atBottom:atBottom});})()");

// Replaces the wrapper of the last shown exchange and appends the new exchanges. The id is a
// string literal matched through CSS.escape, so no id can leave its string.
const QString replaceAndAppendScript = QStringLiteral(
    "(function(){var wrapper=document.querySelector('.exchange-wrapper[data-section-id=\"'+CSS.escape(%1)+'\"]');"
    "if(wrapper){wrapper.outerHTML=%2;}document.body.insertAdjacentHTML('beforeend',%3);initSectionMarkers();"
    "document.querySelectorAll(':not(.user) > pre code').forEach(el=>{if(!el.dataset.highlighted){hljs."
    "highlightElement(el);el.dataset.highlighted='1';}});%4})();");

const QString printTrigger = QStringLiteral(
    "window.onload=function(){requestAnimationFrame(function(){requestAnimationFrame(function(){window.print();});});}");

QString scrollOffset(double offset)
{
    return QString::number(offset, 'f', 6);
}

struct ScrollState
{
    double scrollTop = 0;
    bool atBottom = false;
};

// An unreadable answer counts as offset 0, not at the end.
ScrollState scrollStateFromAnswer(const QVariant &answer)
{
    ScrollState state;
    if (answer.typeId() != QMetaType::QString)
        return state;
    const std::optional<QJsonValue> value = hvxJSONValue(answer.toString());
    if (!value || !value->isObject())
        return state;
    const QJsonObject object = value->toObject();
    state.scrollTop = object.value(QStringLiteral("scrollTop")).toDouble(0);
    state.atBottom = object.value(QStringLiteral("atBottom")).toBool(false);
    return state;
}

QString htmlOrEmpty(const QString &markdown)
{
    return markdown.isEmpty() ? QString() : HVXMarkDown::htmlFromMarkdown(markdown).value_or(QString());
}

QString compactJSON(const QJsonArray &array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QJsonObject tagRecord(const TVLTag &tag)
{
    return QJsonObject{{QStringLiteral("id"), double(tag.tagId())},
                       {QStringLiteral("name"), tag.name()},
                       {QStringLiteral("color"), TVLPageController::hexColorFromColor(tag.color())},
                       {QStringLiteral("textColor"), TVLPageController::contrastingTextColorForColor(tag.color())}};
}

QStringList stringList(const QVariant &value)
{
    QStringList list;
    for (const QVariant &item : value.toList())
        list << item.toString();
    return list;
}

} // namespace

TVLPageController::TVLPageController(QObject *parent)
    : QObject(parent)
    , m_webView(std::make_unique<QWebEngineView>())
{
    m_page = new TVLWebPage(m_webView.get());
    m_webView->setPage(m_page);
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);

    m_bridge = new TVLPageBridge(this);
    m_channel = new QWebChannel(this);
    m_channel->registerObject(QStringLiteral("tavlo"), m_bridge);
    m_page->setWebChannel(m_channel);
    connect(m_bridge, &TVLPageBridge::messagePosted, this, &TVLPageController::didReceiveScriptMessage);
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (ok)
            didFinishNavigation();
    });
    observeNotifications();
}

TVLPageController::~TVLPageController()
{
    HVXNotificationCenter::defaultCenter().removeObserver(this);
    if (!m_publishedUrl.isEmpty())
        TVLPageProfile::schemeHandler()->withdrawDocument(m_publishedUrl);
    // The page goes before the channel and bridge it uses.
    m_webView.reset();
}

void TVLPageController::observeNotifications()
{
    HVXNotificationCenter &center = HVXNotificationCenter::defaultCenter();
    center.addObserver(this, TVLSession::didUpdateNotification, nullptr, [this](const HVXNotification &notification) {
        sessionDidUpdate(static_cast<TVLSession *>(const_cast<void *>(notification.object)));
    });
    center.addObserver(this, QStringLiteral("TVLProjectMetadataDidChangeNotification"), nullptr,
                       [this](const HVXNotification &notification) {
                           metadataDidChange(static_cast<const TVLProjectMetadata *>(notification.object));
                       });
    // Badges carry the tags' names and colours.
    center.addObserver(this, QStringLiteral("TVLTagsDidChangeNotification"), nullptr,
                       [this](const HVXNotification &) { updateAllTagBadges(); });
}

// ---- Loading

void TVLPageController::displayObject(const std::shared_ptr<TVLObject> &object)
{
    m_displayedObject = object;
    rememberDisplayedMarkdown(object ? object->markdown() : QString());
    const auto session = std::dynamic_pointer_cast<TVLSession>(object);
    m_lastDisplayedExchangeCount = session ? unsigned(session->exchanges().size()) : 0;
    fullLoad(m_lastDisplayedMarkdown);
}

QString TVLPageController::htmlDocFromMarkdown(const QString &markdown) const
{
    return TVLPageTemplate::shared().documentWithBody(htmlOrEmpty(markdown));
}

QString TVLPageController::jsStringLiteral(const QString &text)
{
    QString literal = text;
    literal.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    literal.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    literal.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    literal.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    literal.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return QStringLiteral("\"%1\"").arg(literal);
}

QString TVLPageController::currentAppearance() const
{
    const QColor window = QApplication::palette().color(QPalette::Window);
    return window.lightness() < 128 ? QStringLiteral("dark") : QStringLiteral("light");
}

void TVLPageController::fullLoad(const QString &markdown)
{
    ++m_generation;
    TVLPageSchemeHandler *handler = TVLPageProfile::schemeHandler();
    const QUrl previous = m_publishedUrl;
    m_publishedUrl = handler->publishDocument(htmlDocFromMarkdown(markdown).toUtf8(),
                                              QStringLiteral("appearance=") + currentAppearance());
    m_page->load(m_publishedUrl);
    if (!previous.isEmpty())
        handler->withdrawDocument(previous);
}

void TVLPageController::runScript(const QString &script, std::function<void(const QVariant &)> answer)
{
    if (answer)
        m_page->runJavaScript(script, std::move(answer));
    else
        m_page->runJavaScript(script);
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
    runScript(incrementalScrollStateScript, [this, generation, firstNewIndex, session](const QVariant &answer) {
        if (generation != m_generation)
            return;
        const auto &exchanges = session->exchanges();
        // The session shrank while the page was asked: only a full reload fits the page now.
        if (firstNewIndex > exchanges.size()) {
            fullReloadSession(session);
            return;
        }
        const ScrollState state = scrollStateFromAnswer(answer);

        QStringList changedMarkdown;  // the last shown exchange, then the new ones
        for (size_t index = firstNewIndex - 1; index < exchanges.size(); ++index)
            changedMarkdown << exchanges[index]->markdownWithSectionAnchors();
        QString newHtml;
        for (qsizetype index = 1; index < changedMarkdown.size(); ++index)
            newHtml += htmlOrEmpty(changedMarkdown[index]);

        const QString scroll =
            state.atBottom
                ? QStringLiteral("requestAnimationFrame(()=>window.scrollTo({top:document.body.scrollHeight,behavior:'smooth'}));")
                : QStringLiteral("window.scrollTo(0,%1);").arg(scrollOffset(state.scrollTop));

        const std::shared_ptr<TVLExchange> &lastShown = exchanges[firstNewIndex - 1];
        const QString lastShownHtml = htmlOrEmpty(changedMarkdown.first());
        runScript(replaceAndAppendScript.arg(jsStringLiteral(lastShown->uuid()), jsStringLiteral(lastShownHtml),
                                             jsStringLiteral(newHtml), scroll));

        m_lastDisplayedExchangeCount = unsigned(exchanges.size());
        rememberAppendedMarkdown(changedMarkdown, *session);

        QStringList touched;
        for (size_t index = firstNewIndex - 1; index < exchanges.size(); ++index)
            touched << exchanges[index]->uuid();
        runBadgeScriptsForMessageIds(touched);
        Q_EMIT incrementalUpdateSent();
    });
}

void TVLPageController::fullReloadSession(const std::shared_ptr<TVLSession> &session)
{
    if (!session)
        return;
    const quint64 generation = ++m_generation;
    runScript(reloadScrollStateScript, [this, generation, session](const QVariant &answer) {
        if (generation != m_generation)
            return;
        const QString markdown = session->markdown();
        if (markdown == m_lastDisplayedMarkdown)
            return;
        const ScrollState state = scrollStateFromAnswer(answer);
        rememberDisplayedMarkdown(markdown);
        m_lastDisplayedExchangeCount = unsigned(session->exchanges().size());
        m_pendingScrollToBottom = state.atBottom;
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
    runScript(highlightScript);

    QString scroll;
    if (!m_pendingScrollToExchangeId.isEmpty())
        scroll = QStringLiteral("requestAnimationFrame(()=>{var el=document.getElementById(%1);if(el) "
                                "el.scrollIntoView({block:'start'});});")
                     .arg(jsStringLiteral(m_pendingScrollToExchangeId));
    else if (m_pendingScrollToBottom)
        scroll = QStringLiteral("requestAnimationFrame(()=>requestAnimationFrame(()=>window.scrollTo(0,document.body."
                                "scrollHeight)));");
    else if (m_pendingScrollTop > 0)
        scroll = QStringLiteral("requestAnimationFrame(()=>window.scrollTo(0,%1));").arg(scrollOffset(m_pendingScrollTop));
    if (!scroll.isEmpty())
        runScript(scroll);

    m_pendingScrollToExchangeId.clear();
    m_pendingScrollToBottom = false;
    m_pendingScrollTop = 0;

    updateAllTagBadges();
    Q_EMIT pageLoaded();
}

void TVLPageController::scrollToExchangeId(const QString &exchangeId)
{
    if (exchangeId.isEmpty())
        return;
    runScript(QStringLiteral("(function(){hidePopover();var el=document.getElementById(%1);if(el) "
                             "el.scrollIntoView({behavior:'smooth',block:'start'});})()")
                  .arg(jsStringLiteral(exchangeId)));
}

void TVLPageController::selectedText(std::function<void(const QString &)> answer)
{
    runScript(QStringLiteral("window.getSelection().toString()"),
              [answer = std::move(answer)](const QVariant &value) { answer(value.toString()); });
}

// ---- Print

std::optional<QString> TVLPageController::privatePrintDirectory()
{
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("tavlo-%1").arg(getuid()));
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        HVXLogError(QStringLiteral("Cannot create the print directory %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
        return std::nullopt;
    }
    // Somebody else's directory or a link planted under our name is never used.
    struct stat info;
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        HVXLogError(QStringLiteral("The print directory %1 is not a private directory of this user").arg(path));
        return std::nullopt;
    }
    if ((info.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        HVXLogError(QStringLiteral("Cannot make the print directory %1 private").arg(path));
        return std::nullopt;
    }
    return path;
}

void TVLPageController::printCustom()
{
    if (m_lastDisplayedMarkdown.isEmpty()) {
        hvxBeep();
        return;
    }
    const QString printScript = QStringLiteral("<script>%1</script></body>").arg(printTrigger);
    QString document = TVLPageTemplate::shared().standaloneDocumentWithBody(htmlOrEmpty(m_lastDisplayedMarkdown),
                                                                           {printTrigger});
    document.replace(QStringLiteral("</body>"), printScript);

    const std::optional<QString> directory = privatePrintDirectory();
    if (!directory) {
        hvxBeep();
        return;
    }
    const QString path = QDir(*directory).filePath(QStringLiteral("tavlo_print.html"));
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly)
                         && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                         && file.write(document.toUtf8()) >= 0 && file.commit();
    if (!written) {
        HVXLogError(QStringLiteral("Beep: Cannot write the print file %1: %2").arg(path, file.errorString()));
        return;
    }
    TVLDesktop::current().openUrl(QUrl::fromLocalFile(path));
}

// ---- Messages from the page

void TVLPageController::didReceiveScriptMessage(const QVariantMap &message)
{
    const QString action = message.value(QStringLiteral("action")).toString();
    if (action == QStringLiteral("visibleExchanges")) {
        m_lastVisibleExchangeIds = stringList(message.value(QStringLiteral("ids")));
        Q_EMIT visibleExchangesChanged(m_lastVisibleExchangeIds);
        return;
    }
    // With Command held the reader is doing something else (opening links in the background).
    if (hvxIsModifierHeld(HVXModifierCommand))
        return;
    const QString messageId = message.value(QStringLiteral("id")).toString();
    if (action == QStringLiteral("contextMenu")) {
        const QPoint point(message.value(QStringLiteral("x")).toInt(), message.value(QStringLiteral("y")).toInt());
        Q_EMIT contextMenuRequested(messageId, point);
    } else if (action == QStringLiteral("requestPopoverData")) {
        showPopoverForMessageId(messageId);
    } else if (action == QStringLiteral("toggleTag")) {
        toggleTagForMessageIdTagIdChecked(messageId, message.value(QStringLiteral("tagId")).toULongLong(),
                                          message.value(QStringLiteral("checked")).toBool());
    } else if (action == QStringLiteral("saveAnnotation")) {
        saveAnnotationForMessageIdAnnotation(messageId, message.value(QStringLiteral("annotation")).toString());
    } else if (action == QStringLiteral("loadTagsForSections")) {
        loadTagsForSections(stringList(message.value(QStringLiteral("sectionIds"))));
    }
}

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
    // Every argument is a proper literal: the id and the annotation can hold any character.
    runScript(QStringLiteral("showPopover(%1, %2, %3, %4);")
                  .arg(jsStringLiteral(messageId), compactJSON(allTags), compactJSON(attached),
                       jsStringLiteral(metadata->annotationForMessageId(messageId))));
}

QString TVLPageController::badgesScriptForMessageId(TVLProjectMetadata *metadata, const QString &messageId) const
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
    return QStringLiteral("setMessageTags(%1, %2);").arg(jsStringLiteral(messageId), compactJSON(records));
}

// One script for many badges: a page of thousands of exchanges costs one call, not thousands.
void TVLPageController::runBadgeScriptsForMessageIds(const QStringList &messageIds)
{
    TVLProjectMetadata *metadata = shownMetadata();
    if (!metadata)
        return;
    QString script;
    for (const QString &messageId : messageIds)
        if (!messageId.isEmpty())
            script += badgesScriptForMessageId(metadata, messageId);
    if (!script.isEmpty())
        runScript(script);
}

void TVLPageController::updateTagBadgesForMessageId(const QString &messageId)
{
    runBadgeScriptsForMessageIds({messageId});
}

void TVLPageController::loadTagsForSections(const QStringList &sectionIds)
{
    runBadgeScriptsForMessageIds(sectionIds);
}

void TVLPageController::updateAllTagBadges()
{
    if (const auto session = std::dynamic_pointer_cast<TVLSession>(m_displayedObject)) {
        QStringList ids;
        for (const auto &exchange : session->exchanges())
            ids << exchange->sectionId();
        runBadgeScriptsForMessageIds(ids);
    } else if (const auto exchange = std::dynamic_pointer_cast<TVLExchange>(m_displayedObject)) {
        runBadgeScriptsForMessageIds({exchange->sectionId()});
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
    if (!metadata || messageId.isEmpty())
        return;
    QMenu menu(m_webView.get());
    const QList<quint64> attached = metadata->tagIdsForMessageId(messageId);
    for (const TVLTag *tag : TVLTag::allTags()) {
        const quint64 tagId = tag->tagId();
        const bool wasAttached = attached.contains(tagId);
        QAction *item = menu.addAction(colorSwatchForColor(tag->color()), tag->name());
        item->setCheckable(true);
        item->setChecked(wasAttached);
        connect(item, &QAction::triggered, this,
                [this, messageId, tagId, wasAttached] { toggleTagAndRefresh(messageId, tagId, !wasAttached); });
    }
    if (TVLTag::allTags().isEmpty())
        menu.addAction(tr("No tags defined"))->setEnabled(false);
    menu.exec(m_webView->mapToGlobal(QPoint(x, y)));
}

// ---- Colours

QString TVLPageController::hexColorFromColor(const HVXColor &color)
{
    auto channel = [](double value) { return int(std::clamp(value, 0.0, 1.0) * 255.0); };
    return QStringLiteral("#%1%2%3")
        .arg(channel(color.red), 2, 16, QLatin1Char('0'))
        .arg(channel(color.green), 2, 16, QLatin1Char('0'))
        .arg(channel(color.blue), 2, 16, QLatin1Char('0'));
}

QString TVLPageController::contrastingTextColorForColor(const HVXColor &color)
{
    return hexColorFromColor(TVLTag::contrastingTextColorForColor(color));
}

QIcon TVLPageController::colorSwatchForColor(const HVXColor &color)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, 11, 11), 3, 3);
    painter.fillPath(path, QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha)));
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.3f), 1));
    painter.drawPath(path);
    painter.end();
    return QIcon(pixmap);
}

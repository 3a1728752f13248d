#include "TVLExchange.h"

#include "Halvex/Foundation/Categories/HVXString.h"
#include "Halvex/Foundation/HVXMenu.h"
#include "TVLDesktop.h"
#include "TVLMessage.h"
#include "TVLProjectMetadata.h"
#include "TVLSession.h"
#include "TVLSessionMarkdown.h"
#include "TVLTag.h"
#include "TVLToolSteps.h"
#include "TVLURL.h"

#include <QUrl>
#include <QUuid>

namespace {
constexpr qsizetype kTitleLength = 256;

// The first `length` UTF-16 units, one less when the cut would split a surrogate pair.
} // namespace

std::shared_ptr<TVLExchange> TVLExchange::initWithFirstMessage(const std::shared_ptr<TVLMessage> &message)
{
    auto exchange = std::make_shared<TVLExchange>();
    exchange->m_uuid = message->uuid();
    message->setParent(exchange.get());
    exchange->setChildren({message});
    return exchange;
}

std::shared_ptr<TVLExchange> TVLExchange::initAsPreamble()
{
    auto exchange = std::make_shared<TVLExchange>();
    exchange->m_uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    exchange->m_isPreamble = true;
    return exchange;
}

QString TVLExchange::sectionId() const
{
    if (!m_isPreamble)
        return m_uuid;
    if (!m_sectionId.isEmpty())
        return m_sectionId;
    for (const Ptr &child : children()) {
        const auto *message = static_cast<const TVLMessage *>(child.get());
        const std::optional<QString> fragment = message->rawMarkdown();
        // Kept once found: lines appended later come after it. Until then every call looks
        // again, since an appended line may be the first that shows.
        if (fragment && !fragment->isEmpty())
            return m_sectionId = message->uuid();
    }
    return m_uuid;
}

std::vector<TVLMessage *> TVLExchange::messages() const
{
    std::vector<TVLMessage *> result;
    result.reserve(children().size());
    for (const Ptr &child : children())
        result.push_back(static_cast<TVLMessage *>(child.get()));
    return result;
}

TVLMessage *TVLExchange::firstMessage() const
{
    return children().empty() ? nullptr : static_cast<TVLMessage *>(children().front().get());
}

QString TVLExchange::markdown() const
{
    QString text;
    for (const Ptr &child : children())
        text += static_cast<TVLMessage *>(child.get())->htmlBlock();
    return text;
}

bool TVLExchange::containsCompactSummary() const
{
    for (const Ptr &child : children())
        if (static_cast<TVLMessage *>(child.get())->isCompactSummary())
            return true;
    return false;
}

QString TVLExchange::plainDisplayTitle() const
{
    if (m_isPreamble)
        return QStringLiteral("Preamble");
    const TVLMessage *first = firstMessage();
    const std::optional<QString> text = first ? first->rawMarkdown() : std::nullopt;
    if (!text || text->isEmpty())
        return QStringLiteral("Exchange");
    QString title = text->size() > kTitleLength ? hvxLeftWithoutSplittingPairs(*text, kTitleLength) : *text;
    title.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return title;
}

QString TVLExchange::displayTitle() const
{
    const QString title = plainDisplayTitle();
    return containsCompactSummary() ? QStringLiteral("\u2756 ") + title : title;
}

QString TVLExchange::model() const
{
    if (!m_model.isEmpty())
        return m_model;
    for (const Ptr &child : children()) {
        const QString &name = static_cast<TVLMessage *>(child.get())->model();
        if (!name.isEmpty() && name != QLatin1String("<synthetic>")) {
            m_model = name;
            break;
        }
    }
    return m_model;
}

// MARK: - Tags and filters

quint16 TVLExchange::tagSummary()
{
    TVLProjectMetadata *store = metadata();
    if (!store)
        return 0;
    const QString id = sectionId();
    quint16 summary = 0;
    if (!store->annotationForMessageId(id).isEmpty())
        summary |= 1;
    for (quint64 tagId : store->tagIdsForMessageId(id))
        summary |= TVLTag::bitMaskForTagId(tagId);
    return summary;
}

void TVLExchange::invalidateTagSummaryForMessageId(const QString &messageId)
{
    if (messageId == m_uuid || (m_isPreamble && messageId == sectionId()))
        invalidateTagSummary();
}

void TVLExchange::sendFilterNotifications()
{
    // The messages are leaves; they keep their own flags untouched.
    updateFilters();
}

void TVLExchange::updateFilters()
{
    const QString text = filterString();
    const quint64 tags = filterTags();
    bool matches = true;
    if (!text.isEmpty() || tags != 0) {
        if (tags != 0 && (tags & tagSummary()) == 0)
            matches = false;
        else if (!text.isEmpty())
            matches = matchesSearchStringCaseSensitive(text, searchIsCaseSensitive());
    }
    setMatchesFilter(matches);
    announce(TVLProperty::DisplayChildren);
}

bool TVLExchange::matchesSearchStringCaseSensitive(const QString &text, bool caseSensitive) const
{
    if (text.isEmpty())
        return true;
    const Qt::CaseSensitivity sensitivity = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    for (const Ptr &child : children()) {
        const std::optional<QString> markdown = static_cast<TVLMessage *>(child.get())->rawMarkdown();
        if (markdown && !markdown->isEmpty() && markdown->contains(text, sensitivity))
            return true;
    }
    return false;
}

// MARK: - Outline and menu

bool TVLExchange::isLeaf() const { return !TVLDesktop::current().dataDebugMode(); }

QString TVLExchange::urlString() const
{
    const QString sessionPath = parent() ? parent()->path() : QString();
    return TVLURL::urlStringForPath(sessionPath, m_uuid);
}

void TVLExchange::addToContextMenu(HVXMenu &menu)
{
    const QString text = urlString();
    menu.addItemWithTitle(QStringLiteral("Copy URL"), [text] {
        // Copied as built: a decoded form would turn "%20" back into a space.
        if (QUrl(text, QUrl::StrictMode).isValid())
            TVLDesktop::current().copyToPasteboard(text);
    });
    if (auto *session = dynamic_cast<TVLSession *>(parent())) {
        // Made when chosen: the menu may outlive a read that replaces the exchange.
        const std::weak_ptr<TVLObject> weakSession = session->weak_from_this();
        const std::weak_ptr<TVLObject> weakExchange = weak_from_this();
        menu.addItemWithTitle(QStringLiteral("Copy as Markdown"), [weakSession, weakExchange] {
            const auto shownSession = std::dynamic_pointer_cast<TVLSession>(weakSession.lock());
            const auto exchange = std::dynamic_pointer_cast<TVLExchange>(weakExchange.lock());
            if (shownSession && exchange)
                TVLDesktop::current().copyToPasteboard(
                    TVLSessionMarkdown::forExchange(*shownSession, *exchange, TVLToolSteps::shown()));
        });
    }
    if (TVLObject *session = parent())
        session->addToContextMenu(menu.addMenuWithTitle(QStringLiteral("Session")));
}

QString TVLExchange::description() const { return QStringLiteral("<TVLExchange %1>").arg(m_uuid); }

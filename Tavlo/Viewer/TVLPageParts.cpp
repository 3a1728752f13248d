#include "TVLPageParts.h"

#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLSession.h"

bool TVLPageParts::start(const TVLSession &session, const QString &exchangeIdInFirstPart)
{
    clear();
    const bool filtering = session.isFilterActive();
    std::vector<std::shared_ptr<TVLExchange>> shown;
    for (const auto &exchange : session.exchanges())
        if (!filtering || exchange->matchesFilter())
            shown.push_back(exchange);
    if (qsizetype(shown.size()) <= kExchangesOfWholePage)
        return false;
    m_exchanges = std::move(shown);
    m_firstShown = qsizetype(m_exchanges.size());
    const qsizetype wanted = exchangeIdInFirstPart.isEmpty() ? -1 : indexOf(exchangeIdInFirstPart);
    m_firstShown = wanted >= 0 ? std::min(wanted, partStartBefore(m_firstShown)) : m_firstShown;
    return true;
}

void TVLPageParts::clear()
{
    m_exchanges.clear();
    m_firstShown = 0;
}

qsizetype TVLPageParts::partStartBefore(qsizetype end) const
{
    qsizetype begin = end;
    qsizetype markdown = 0;
    while (begin > 0 && end - begin < kExchangesPerPart && markdown < kMarkdownPerPart)
        markdown += m_exchanges[size_t(--begin)]->markdownWithSectionAnchors().size();
    return begin;
}

TVLPageSources TVLPageParts::sourcesOfRange(qsizetype from, qsizetype to) const
{
    TVLPageSources sources;
    for (qsizetype i = from; i < to; ++i)
        sources.push_back(TVLPageSections::sourceOfExchange(*m_exchanges[size_t(i)]));
    return sources;
}

TVLPageSources TVLPageParts::takeNewest()
{
    const qsizetype end = qsizetype(m_exchanges.size());
    if (m_firstShown == end)
        m_firstShown = partStartBefore(end);
    return sourcesOfRange(m_firstShown, end);
}

TVLPageSources TVLPageParts::takeEarlier(const QString &exchangeId)
{
    if (m_firstShown == 0)
        return {};
    const qsizetype end = m_firstShown;
    const qsizetype wanted = exchangeId.isEmpty() ? -1 : indexOf(exchangeId);
    m_firstShown = wanted >= 0 && wanted < end ? wanted : partStartBefore(end);
    return sourcesOfRange(m_firstShown, end);
}

qsizetype TVLPageParts::indexOf(const QString &exchangeId) const
{
    for (qsizetype i = qsizetype(m_exchanges.size()) - 1; i >= 0; --i)
        if (m_exchanges[size_t(i)]->uuid() == exchangeId)
            return i;
    return -1;
}

bool TVLPageParts::isStillToCome(const QString &exchangeId) const
{
    const qsizetype index = indexOf(exchangeId);
    return index >= 0 && index < m_firstShown;
}

QStringList TVLPageParts::shownIds() const
{
    QStringList ids;
    for (size_t i = size_t(m_firstShown); i < m_exchanges.size(); ++i)
        ids << m_exchanges[i]->sectionId();
    return ids;
}

#pragma once
// A long session's page in parts. Building and laying out the whole page of thousands of
// exchanges keeps the reader waiting, so the page is loaded with its newest exchanges only and
// the earlier ones follow, newest first, part after part, each added above what is there. The
// parts hold the exchanges the page shows (the filter honoured), in session order; each part's
// sections are read from the model when it is taken.

#include "TVLPageSections.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TVLExchange;
class TVLSession;

class TVLPageParts final
{
public:
    // A page of more exchanges than this is loaded in parts.
    static constexpr qsizetype kExchangesOfWholePage = 400;
    // A part ends after this many exchanges or once its Markdown is this long, whichever is first.
    static constexpr qsizetype kExchangesPerPart = 150;
    static constexpr qsizetype kMarkdownPerPart = 1 << 20;

    // Starts the parts of the session's page; false (and nothing held) when the page is small
    // enough to load whole. An exchange to be scrolled to is in the first part.
    bool start(const TVLSession &session, const QString &exchangeIdInFirstPart = {});
    void clear();

    bool isActive() const { return !m_exchanges.empty(); }
    bool hasEarlier() const { return m_firstShown > 0; }

    // The sections of the newest part; the first call after start().
    TVLPageSources takeNewest();
    // The sections of the next earlier part, or of every exchange down to `exchangeId` when it
    // is given and not on the page yet; none when nothing earlier is left.
    TVLPageSources takeEarlier(const QString &exchangeId = {});

    // Whether the exchange is one of the page's and not on it yet.
    bool isStillToCome(const QString &exchangeId) const;
    // The section ids (the ids badges are kept under) of the exchanges on the page so far, in order.
    QStringList shownIds() const;

private:
    qsizetype indexOf(const QString &exchangeId) const;
    // The sections of the exchanges [from, to).
    TVLPageSources sourcesOfRange(qsizetype from, qsizetype to) const;
    // Where the part that ends before `end` begins.
    qsizetype partStartBefore(qsizetype end) const;

    std::vector<std::shared_ptr<TVLExchange>> m_exchanges;
    qsizetype m_firstShown = 0;  // exchanges from here on are on the page
};

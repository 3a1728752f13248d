#pragma once
// The page's content as data. Transcripts are never put into the page document as markup: each
// block (one line's fragment) is converted from Markdown on its own and handed over as an HTML
// string inside JSON. The page's script cleans every string on its own (DOMPurify) and puts it
// into an element the script made, so markup of a transcript can neither close, open nor name
// anything outside its block, and the document's parser never sees it (no refresh, no unclosed
// element swallowing the rest).
//
// A section is an exchange: its section id and its blocks. A page that is no session (a
// summary, a Markdown text) is one loose piece, cleaned the same way.
//
// Some texts take cmark-gfm very long (it is quadratic on some inputs): the long texts of a page
// are converted on workers within one time limit, and one not done by then is shown as
// preformatted text with a note, while its conversion finishes unseen. Conversion reads only the
// sources, so it may run on any thread.

#include "Tavlo/DataObjects/TVLMessage.h"

#include <QJsonArray>
#include <QString>
#include <chrono>
#include <vector>

class TVLExchange;
class TVLObject;

struct TVLPageSectionSource
{
    QString id;
    bool preamble = false;
    std::vector<TVLMessage::PageBlock> blocks;
    QString looseMarkdown;  // instead of blocks: a page that is not made of exchanges
};

using TVLPageSources = std::vector<TVLPageSectionSource>;

class TVLPageSections final
{
public:
    static TVLPageSectionSource sourceOfExchange(const TVLExchange &exchange);
    static TVLPageSectionSource sourceOfMarkdown(const QString &markdown);
    // The sections the object's page shows: a session's exchanges (its filter honoured), an
    // exchange alone, or the object's Markdown as one loose piece.
    static TVLPageSources sourcesOfObject(const TVLObject &object);

    // The sections as the page's script takes them: [{id, preamble, blocks: [{id, kind, html}]}]
    // or [{html}] for a loose piece.
    static QJsonArray converted(const TVLPageSources &sources);
    // The element of the page document that carries the sections, inert data the document's
    // parser can't read as markup.
    static QString dataElement(const QJsonArray &sections);
    static QString dataElementOf(const TVLPageSources &sources) { return dataElement(converted(sources)); }

    // How long the long texts of one conversion may take; tests shorten it.
    static std::chrono::milliseconds blockTimeLimit();
    static void setBlockTimeLimit(std::chrono::milliseconds limit);
    // What a block that took too long shows instead.
    static QString plainTextFallback(const QString &markdown);
};

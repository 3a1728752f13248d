#pragma once
// Markdown to HTML with cmark-gfm: raw HTML passes through (transcript lines are HTML blocks with
// Markdown inside), every registered GitHub extension is attached (table, strikethrough,
// autolink, tagfilter, tasklist). No state: each call builds and frees its own parser.
// htmlDocFromMarkdown wraps a fragment into a small standalone document with a fixed style.

#include <QString>
#include <QStringList>
#include <optional>

class HVXMarkDown final
{
public:
    HVXMarkDown() = delete;

    // The names of cmark-gfm's registered syntax extensions, in registry order.
    static QStringList availableSyntaxExtensions();

    // The HTML fragment; nothing (after a log line) when cmark-gfm gives no document or an
    // empty rendering, which is what empty or blank Markdown gives.
    static std::optional<QString> htmlFromMarkdown(const QString &markdown);

    // htmlWrapperTop, the fragment (empty when there is none) and htmlWrapperBottom.
    static QString htmlDocFromMarkdown(const QString &markdown);

    // One line: the head with its style sheet, ending with the opening body tag.
    static QString htmlWrapperTop();
    static QString htmlWrapperBottom();
};

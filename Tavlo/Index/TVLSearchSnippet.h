#pragma once
// The piece of an exchange's text that a search result shows: the words of the query marked,
// in a window around the first of them. The full-text index keeps no copy of the text, so the
// snippet is made from the transcript when a result is shown.

#include <QString>

namespace TVLSearchSnippet {
// `open` and `close` go around every word of the text that a word of the query matches (case
// and accents aside; "word*" matches words beginning with it).
QString snippet(const QString &text, const QString &query, const QString &open, const QString &close, int length = 200);
} // namespace TVLSearchSnippet

#pragma once
// What a user types into a search, made into a query the full-text index understands. The
// index's own syntax keeps working (AND, OR, NOT, "phrases", prefix*, ^initial, parentheses);
// every other word is quoted, so "C++" or "foo-bar" is searched as the words in it instead
// of failing as a syntax error. Marks with no letter or digit in them ("-", "+") are dropped.

#include <QString>

namespace TVLSearchQuery {
QString forIndex(const QString &text);
} // namespace TVLSearchQuery

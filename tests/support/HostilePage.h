#pragma once
// A session whose text tries to break the page it is shown on: markup that closes its block and
// forges a section, elements left open, a block of only a comment and text that reads as markup,
// names of the page's script taken, a refresh, a link stretched invisibly over the page, a lone
// carriage return in a prompt, a diff holding a fence.
// Each exchange's prompt is "H<n>-P", its answer "H<n>-A"; the page must show exactly these
// sections, each holding only its own text.

#include <QJsonObject>
#include <QList>
#include <QStringList>

namespace HostilePage {
QList<QJsonObject> lines();
// Only the first exchange and the one with the links, which no markup left open hides.
QList<QJsonObject> linkLines();
// The section ids the page must show, in order.
QStringList sectionIds();
// Text of the last answer, which markup left open earlier must not hide.
inline constexpr char lastAnswer[] = "The last answer is still there";
inline constexpr char visibleLink[] = "https://example.com/ok";
inline constexpr char coveringLink[] = "https://example.com/hijack";
} // namespace HostilePage

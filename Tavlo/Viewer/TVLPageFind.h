#pragma once
// Find in a shown page: the page's script keeps the matches of the text it was asked for, so
// that next and previous only step through them (see tavlo-find.js).

#include <QString>
#include <functional>

class TVLPageController;

class TVLPageFind final
{
public:
    // The page's answer: the match now shown (counted from 1; 0 when none) and how many there are.
    using Answer = std::function<void(int activeMatch, int matchCount)>;

    // Shows the next match of `text` (the previous one when `backwards`), wrapping at the ends.
    static void find(TVLPageController &page, const QString &text, bool caseSensitive, bool backwards, Answer answer);
    // Ends the find: its mark leaves the page.
    static void clear(TVLPageController &page);
};

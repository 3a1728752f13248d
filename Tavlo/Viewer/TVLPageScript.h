#pragma once
// The functions of the session page's script, as the program calls them: one method for each,
// with typed arguments. Arguments travel as JSON, which is a script literal, so no text that
// came with the data can become program text. While a new document loads its script may not
// be there yet: a call is then left out (the load's own work follows), and an answer, when one
// was asked for, is empty.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <functional>

class QWebEnginePage;

class TVLPageScript final
{
public:
    // Where the reader is: the offset, and whether the view is at the end.
    struct ScrollState
    {
        double scrollTop = 0;
        bool atBottom = false;
    };

    explicit TVLPageScript(QWebEnginePage *page) : m_page(page) {}

    // The scroll state, "at the end" meaning within `tolerance` CSS pixels of it. An unreadable
    // answer counts as offset 0, not at the end.
    void pageScrollState(int tolerance, std::function<void(ScrollState)> answer) const;
    // A live update: the last shown exchange's section made anew, the new sections appended; the
    // view follows the end or stays at `scrollTop`.
    void replaceLastAndAppend(const QString &sectionId, const QJsonValue &section, const QJsonArray &newSections,
                              bool followEnd, double scrollTop) const;
    // Earlier sections of a long page, put above those shown; `done` once the page took them.
    void prependSections(const QJsonArray &sections, std::function<void()> done = {}) const;
    // After a full load: highlighting and at most one scroll ({"exchangeId"}, {"toBottom"} or
    // {"scrollTop"}).
    void finishLoad(const QJsonObject &scroll) const;
    void scrollToExchange(const QString &exchangeId) const;
    void selectedText(std::function<void(const QString &)> answer) const;
    // The tag popover of a section: every tag's record, the ids attached, the annotation.
    void showPopover(const QString &sectionId, const QJsonArray &allTags, const QJsonArray &attachedTagIds,
                     const QString &annotation) const;
    // Badges of many sections at once: [[sectionId, [tag records]], ...].
    void setTagsOfSections(const QJsonArray &sectionsWithTags) const;
    // The Changes panel of the shown session.
    void showChanges(const QJsonObject &changes) const;
    // The library index's progress line above a summary; an empty text removes it.
    void showIndexProgress(const QString &text) const;
    // The note of an object still being read.
    void showLoadingNote(const QString &text) const;
    // Shows the next match of `text` (the previous one when `backwards`), wrapping at the ends;
    // the empty text ends the find. The page keeps the matches it found (tavlo-find.js), so next
    // and previous only step through them. `answer` gets the match shown (counted from 1; 0 when
    // none) and how many there are.
    void findInPage(const QString &text, bool caseSensitive, bool backwards,
                    std::function<void(int activeMatch, int matchCount)> answer = {}) const;

private:
    void call(const QString &function, const QJsonArray &arguments,
              std::function<void(const QVariant &)> answer = {}) const;

    QWebEnginePage *m_page;
};

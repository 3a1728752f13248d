#pragma once
// How views hear that a node of the tree changed. Nodes are plain C++ objects (a loaded project
// holds hundreds of thousands of messages), so instead of one QObject per node there is one hub
// that announces "this node's property changed". The outline model listens and turns the
// announcements into row changes. Announcements are made on the main thread only; nodes built
// on a worker thread are not observed yet and stay silent.

#include <QObject>

class TVLObject;

enum class TVLProperty {
    Children,
    DisplayChildren,
    DisplayTitle,
    TitleForWindow,
    ToolTip,
    TokenUsage,
    TagSummary,
    MatchesFilter,
    Path,
    LastChangedAt,
    IsLoaded,
    MostRecentSessionDate,
    Exchanges,
    Subagents,
    SortMode,
};

class TVLChangeHub final : public QObject
{
    Q_OBJECT
public:
    static TVLChangeHub &shared();

    void announce(TVLObject *node, TVLProperty property);

Q_SIGNALS:
    void changed(TVLObject *node, TVLProperty property);
};

#pragma once
// How views hear that the model changed. Nodes are plain C++ objects (a loaded project holds
// hundreds of thousands of messages), so instead of one QObject per node there is one hub that
// announces "this node's property changed"; the outline model listens and turns the announcements
// into row changes. The hub also carries the model's notices that other subsystems observe (the
// page, the find bar, the index follower, the tag views), as typed signals named after them.
// Announcements are made on the main thread only; nodes built on a worker thread are not observed
// yet and stay silent.

#include <QObject>

class TVLObject;
class TVLProjectMetadata;
class TVLSession;

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
    // "TVLSessionDidUpdate": the session was read again or grew.
    void sessionDidUpdate(TVLSession *session);
    // "TVLProjectMetadataDidChangeNotification": tags or annotations of the store's project changed.
    void projectMetadataDidChange(const TVLProjectMetadata *store);
    // "TVLTagsDidChangeNotification": a tag of the palette was renamed or recoloured.
    void tagsDidChange();
    // Exchanges show their messages as rows of their own, or stop to.
    void dataDebugModeDidChange();
};

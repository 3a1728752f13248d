#pragma once
// The node of the library tree: root list, log root, project, subproject, session, sub-agent,
// exchange and message all derive from it. A node has a path, a non-owning parent link and an
// owned, ordered child list that is replaced whole (never edited in place) and stored only when
// it differs. It filters its children for the outline, sums token usage and tag bits up the
// tree, finds its project's metadata store, builds its context menu and watches its path.
// Changes are announced through TVLChangeHub.

#include "Halvex/Foundation/HVXColor.h"
#include "TVLChangeHub.h"
#include "TVLTokenUsage.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class HVXFileWatcher;
class HVXMenu;
class TVLExchange;
class TVLProjectMetadata;

class TVLObject : public std::enable_shared_from_this<TVLObject>
{
public:
    using Ptr = std::shared_ptr<TVLObject>;
    using List = std::vector<Ptr>;

    TVLObject();
    virtual ~TVLObject();
    TVLObject(const TVLObject &) = delete;
    TVLObject &operator=(const TVLObject &) = delete;

    // Which kind of node stands for a path: a log root, a project or a session; nullptr otherwise.
    static Ptr objectForPath(const QString &path);
    static bool pathMightContainProjects(const QString &directory);

    // Stored properties.
    bool matchesFilter() const { return m_matchesFilter; }
    void setMatchesFilter(bool matches);
    const QString &path() const { return m_path; }
    void setPath(const QString &path);
    const List &children() const { return m_children; }
    virtual void setChildren(List children);
    TVLObject *parent() const { return m_parent; }
    void setParent(TVLObject *parent) { m_parent = parent; }
    const QDateTime &lastChangedAt() const { return m_lastChangedAt; }
    void setLastChangedAt(const QDateTime &date);
    const std::optional<TVLTokenUsage> &cachedTokenUsage() const { return m_cachedTokenUsage; }
    void setCachedTokenUsage(std::optional<TVLTokenUsage> usage);

    // Titles and looks.
    virtual QString titleForWindow() const;
    virtual QString displayTitleString() const { return displayTitle(); }
    // Markup text (colour, font and symbol tags), or plain text.
    virtual QString displayTitle() const { return {}; }
    // A node whose transcripts are being read in the background, and how far that read is
    // ("Loading… N MB of M").
    virtual bool isLoading() const { return false; }
    virtual QString loadingNote() const { return {}; }
    virtual HVXColor textColor() const;
    virtual bool hasStandardTextColor() const { return true; }
    virtual QString toolTip() const { return {}; }
    virtual QString displayModelName() const { return {}; }

    // The children the outline shows: all, or those that match the active filter.
    virtual List displayChildren();
    virtual bool isLeaf() const { return false; }
    void addChild(const Ptr &child);

    // What the page shows when this node is selected; empty for nothing.
    virtual QString markdown() const { return {}; }
    virtual void addToContextMenu(HVXMenu &menu);

    // Metadata.
    virtual QString projectPath() const;
    TVLProjectMetadata *metadata();
    TVLProjectMetadata *ownMetadata() const { return m_metadata; }
    TVLProjectMetadata *loadMetadata();

    // Walks the subtree, children before their parent.
    void iterateWithBlock(const std::function<void(TVLObject *)> &block);
    template <class T> T *nearestSelfOrParentOfClass()
    {
        for (TVLObject *node = this; node; node = node->parent())
            if (auto *match = dynamic_cast<T *>(node))
                return match;
        return nullptr;
    }
    virtual std::shared_ptr<TVLExchange> exchangeWithUuid(const QString &uuid);

    // Token usage of the subtree, cached until invalidated.
    virtual std::optional<TVLTokenUsage> tokenUsage();
    virtual void addAdditionalTokenUsage(TVLTokenUsage &usage);
    void invalidateTokenUsage();

    // Tag bits of the subtree (bit 0: annotated; bit n: tag n). Nodes above the exchanges keep
    // the OR of their children until it is invalidated: here and up the tree when a node's
    // children change or invalidateTagSummary() runs, everywhere when any metadata store changes
    // (a store can be shown by several trees, and a change says nothing about which messages).
    virtual quint16 tagSummary();
    void invalidateTagSummary();
    virtual void invalidateTagSummaryForMessageId(const QString &messageId);
    static void invalidateAllTagSummaries();

    // Filters live on the top node; every other node reads them from there.
    QString filterString() const;
    quint64 filterTags() const;
    bool searchIsCaseSensitive() const;
    bool isFilterActive() const { return !filterString().isEmpty() || filterTags() != 0; }
    void setFilterString(const QString &filter);
    void setFilterTags(quint64 tags);
    void setSearchIsCaseSensitive(bool caseSensitive);
    // All three at once, with one pass over the tree instead of one per value.
    void setFilters(const QString &filter, quint64 tags, bool caseSensitive);
    virtual void sendFilterNotifications();
    // After this node's subtree was read again or loaded under an active filter: its nodes
    // are new and unfiltered, so they are matched and the ancestors updated to agree.
    void reapplyActiveFilters();
    // Every node above this one matches again from its children (leaves first, top last).
    void updateFiltersOfAncestors();
    virtual void updateFilters();

    // File watching: one watcher on the path from start to stop; events go to pathDidUpdate.
    virtual void startMonitoring();
    virtual void stopMonitoring();
    bool isMonitoring() const { return m_watcher != nullptr; }
    // The path the watcher runs on: the node's own path, unless a node needs more around it.
    virtual QString monitoredPath() const { return m_path; }
    // Whether the watch goes down into a directory below monitoredPath() (all of them by default).
    virtual bool monitorsDirectory(const QString &directory) const
    {
        Q_UNUSED(directory);
        return true;
    }
    // The directories the running watch holds; 0 when not monitoring.
    int monitoredDirectoryCount() const;
    virtual void pathDidUpdate(const QString &changedPath);

    // A short description for log lines.
    virtual QString description() const;

protected:
    // The directory branch of objectForPath: a log root, a project, or nothing.
    static Ptr objectForDirectory(const QString &directory);
    void announce(TVLProperty property) { TVLChangeHub::shared().announce(this, property); }
    // The kept summary, or nothing when it was never computed or has been invalidated since.
    std::optional<quint16> cachedTagSummary() const;
    void setCachedTagSummary(quint16 summary);
    // Forgets the kept summaries of this node and its parents, without announcing anything.
    void dropCachedTagSummaries();

private:
    struct RootState;
    RootState &rootState();

    TVLProjectMetadata *m_metadata = nullptr;
    TVLObject *m_parent = nullptr;
    QString m_path;
    List m_children;
    QDateTime m_lastChangedAt;
    std::optional<TVLTokenUsage> m_cachedTokenUsage;
    // Filter values and the watcher exist only on top nodes; messages don't pay for them.
    std::unique_ptr<RootState> m_rootState;
    HVXFileWatcher *m_watcher = nullptr;
    bool m_matchesFilter = false;
    // The generation of the metadata stores the kept summary was computed in; 0 for none.
    // Both fit in the padding after m_matchesFilter, so messages don't grow.
    quint16 m_cachedTagSummary = 0;
    quint32 m_cachedTagSummaryGeneration = 0;
};

// Two child lists hold the same nodes in the same order.
bool tvlSameNodes(const TVLObject::List &a, const TVLObject::List &b);

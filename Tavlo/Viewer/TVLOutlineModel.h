#pragma once
// The browser outline's item model over a tree of TVLObjects. The top rows are the content's
// display content (a project shows itself as the one top row; anything else its display
// children); every row's children are its object's display children, fetched when the row is
// first expanded (which loads a project's transcripts) and kept from then on.
//
// The model hears the tree's change announcements, collects them until the event loop is
// next free, and then compares each changed row's old and new child lists: rows that went are
// removed, rows that stayed are moved into the new order, new rows are inserted, and rows whose
// node was rebuilt under the same identity (an exchange after its session was read again) keep
// their place and only report new data. Selection and expansion therefore survive a session
// growing, a project loading and a re-sort.
//
// Columns: the title (styled markup in MarkupRole), four token counts and the tags badge
// (TagSummaryRole, with the badge's tool tip).

#include "Halvex/Foundation/Categories/HVXIndexPath.h"
#include "Tavlo/DataObjects/TVLObject.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QSet>

class TVLOutlineModel final : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column {
        TitleColumn,
        InputTokensColumn,
        OutputTokensColumn,
        CacheCreationTokensColumn,
        CacheReadTokensColumn,
        // Shown beside the title; last here so that the token columns keep their numbers.
        TagsColumn,
        ColumnCount
    };
    enum Role {
        MarkupRole = Qt::UserRole + 1,
        // The row's tag summary (bit 0 annotated, bit n tag n), in the tags column.
        TagSummaryRole = Qt::UserRole + 2,
    };

    // "OutlineInputTokensColumn", ...; empty for the title column.
    static QString columnIdentifier(int column);
    static bool isTokenColumn(int column) { return column >= InputTokensColumn && column <= CacheReadTokensColumn; }

    explicit TVLOutlineModel(QObject *parent = nullptr);
    ~TVLOutlineModel() override;

    void setContentObject(const TVLObject::Ptr &content);
    const TVLObject::Ptr &contentObject() const { return m_content; }
    // The top-level objects: a project alone, else the content's display children.
    TVLObject::List displayContent() const;

    TVLObject *objectForIndex(const QModelIndex &index) const;
    TVLObject::Ptr sharedObjectForIndex(const QModelIndex &index) const;
    // The row of an object, fetching the rows above it as needed; invalid when it is not shown.
    QModelIndex indexForObject(const TVLObject *object);
    // Depth-first search in child order over the rows fetched so far.
    QModelIndex indexOfFetchedObject(const TVLObject *object) const;

    HVXIndexPath indexPathForIndex(const QModelIndex &index) const;
    QModelIndex indexForIndexPath(const HVXIndexPath &path);
    // Whether the path leads into a project that is still loading in the background (its rows
    // are still to come).
    bool pathWaitsForLoad(const HVXIndexPath &path);

    // Applies the changes announced so far now instead of when the event loop is free.
    void processPendingChanges();
    // Compares every fetched row with its object again (data debug mode changes which rows
    // have children).
    void refreshAllRows();

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

Q_SIGNALS:
    // A row's children are about to be asked of a project that has not read its transcripts.
    void projectWillLoad(TVLObject *project);
    void projectDidLoad(TVLObject *project);

private:
    struct Node;

    Node *nodeForIndex(const QModelIndex &index) const;
    QModelIndex indexForNode(const Node *node, int column = 0) const;
    TVLObject::List childObjectsOf(Node *node);
    void fetchChildren(Node *node);
    void syncChildren(Node *node);
    void removeChildRows(Node *node, int first, int last);
    void reorderChildren(Node *node, const QStringList &targetOrder);
    void replaceObject(Node *node, const TVLObject::Ptr &object);
    void forget(Node *node);
    void renumber(Node *node, size_t from = 0);
    void appendChildren(Node *node, const TVLObject::List &objects);
    std::unique_ptr<Node> makeNode(const TVLObject::Ptr &object, Node *parent);
    void emitRowChanged(Node *node);

    void objectChanged(TVLObject *object, TVLProperty property);
    void scheduleProcessing();

    TVLObject::Ptr m_content;
    std::unique_ptr<Node> m_root;
    QHash<const TVLObject *, Node *> m_nodes;
    QSet<const TVLObject *> m_pendingStructure;
    QSet<const TVLObject *> m_pendingData;
    bool m_processingScheduled = false;
    bool m_syncing = false;
};

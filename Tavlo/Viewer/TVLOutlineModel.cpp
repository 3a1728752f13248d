#include "TVLOutlineModel.h"

#include "Halvex/AppKit/HVXAttributedString.h"
#include "Halvex/AppKit/HVXColorNames.h"
#include "TVLTagsSummaryView.h"
#include "Tavlo/DataObjects/TVLExchange.h"
#include "Tavlo/DataObjects/TVLMessage.h"
#include "Tavlo/DataObjects/TVLProject.h"

#include <QBrush>
#include <QLocale>
#include <unordered_map>
#include <QTimer>
#include <typeinfo>

struct TVLOutlineModel::Node
{
    TVLObject::Ptr object;
    Node *parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    // The identity the row keeps while its node is rebuilt (see identityKey).
    QString key;
    int row = 0;
    bool fetched = false;
};

namespace {

// Above this many single moves, a re-sort is announced as one layout change.
constexpr int kMaxSingleMoves = 16;

QString pointerKey(const TVLObject *object)
{
    return QStringLiteral("@%1").arg(quintptr(object), 0, 16);
}

// What makes a row "the same row" across a rebuild of its node: an exchange or message by its
// uuid, anything else by its kind and path. Nodes without either are only equal to themselves.
QString identityKey(const TVLObject *object)
{
    if (const auto *exchange = dynamic_cast<const TVLExchange *>(object)) {
        if (!exchange->isPreamble() && !exchange->uuid().isEmpty())
            return QStringLiteral("exchange:") + exchange->uuid();
        return pointerKey(object);
    }
    if (const auto *message = dynamic_cast<const TVLMessage *>(object))
        return message->uuid().isEmpty() ? pointerKey(object) : QStringLiteral("message:") + message->uuid();
    if (!object->path().isEmpty())
        return QString::fromLatin1(typeid(*object).name()) + QLatin1Char(':') + object->path();
    return pointerKey(object);
}

// Keys for a child list; a key that repeats falls back to the node's own identity.
QStringList identityKeys(const TVLObject::List &objects)
{
    QStringList keys;
    QSet<QString> seen;
    keys.reserve(qsizetype(objects.size()));
    for (const TVLObject::Ptr &object : objects) {
        QString key = identityKey(object.get());
        if (seen.contains(key))
            key = pointerKey(object.get());
        seen.insert(key);
        keys << key;
    }
    return keys;
}

bool isLoadingProject(TVLObject *object)
{
    const auto *project = dynamic_cast<const TVLProject *>(object);
    return project && project->isLoading();
}

bool isStructural(TVLProperty property)
{
    switch (property) {
    case TVLProperty::Children:
    case TVLProperty::DisplayChildren:
    case TVLProperty::Exchanges:
    case TVLProperty::Subagents:
    case TVLProperty::IsLoaded:
        return true;
    default:
        return false;
    }
}

} // namespace

QString TVLOutlineModel::columnIdentifier(int column)
{
    switch (column) {
    case InputTokensColumn: return QStringLiteral("OutlineInputTokensColumn");
    case OutputTokensColumn: return QStringLiteral("OutlineOutputTokensColumn");
    case CacheCreationTokensColumn: return QStringLiteral("OutlineCacheCreationTokensColumn");
    case CacheReadTokensColumn: return QStringLiteral("OutlineCacheReadTokensColumn");
    case TagsColumn: return QStringLiteral("OutlineTagsColumn");
    default: return {};
    }
}

TVLOutlineModel::TVLOutlineModel(QObject *parent)
    : QAbstractItemModel(parent)
    , m_root(std::make_unique<Node>())
{
    m_root->fetched = true;
    connect(&TVLChangeHub::shared(), &TVLChangeHub::changed, this, &TVLOutlineModel::objectChanged);
}

TVLOutlineModel::~TVLOutlineModel() = default;

void TVLOutlineModel::setContentObject(const TVLObject::Ptr &content)
{
    beginResetModel();
    m_content = content;
    m_nodes.clear();
    m_pendingStructure.clear();
    m_pendingData.clear();
    m_root = std::make_unique<Node>();
    m_root->object = content;
    m_root->fetched = true;
    appendChildren(m_root.get(), displayContent());
    endResetModel();
}

TVLObject::List TVLOutlineModel::displayContent() const
{
    if (!m_content)
        return {};
    if (dynamic_cast<TVLProject *>(m_content.get()))
        return {m_content};
    return m_content->displayChildren();
}

// MARK: - Nodes and indexes

std::unique_ptr<TVLOutlineModel::Node> TVLOutlineModel::makeNode(const TVLObject::Ptr &object, Node *parent)
{
    auto node = std::make_unique<Node>();
    node->object = object;
    node->parent = parent;
    node->key = identityKey(object.get());
    m_nodes.insert(object.get(), node.get());
    return node;
}

void TVLOutlineModel::appendChildren(Node *node, const TVLObject::List &objects)
{
    const QStringList keys = identityKeys(objects);
    for (size_t i = 0; i < objects.size(); ++i) {
        node->children.push_back(makeNode(objects[i], node));
        node->children.back()->key = keys.at(qsizetype(i));
    }
    renumber(node);
}

void TVLOutlineModel::forget(Node *node)
{
    for (const auto &child : node->children)
        forget(child.get());
    if (m_nodes.value(node->object.get()) == node)
        m_nodes.remove(node->object.get());
}

void TVLOutlineModel::renumber(Node *node, size_t from)
{
    for (size_t i = from; i < node->children.size(); ++i)
        node->children[i]->row = int(i);
}

TVLOutlineModel::Node *TVLOutlineModel::nodeForIndex(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : m_root.get();
}

QModelIndex TVLOutlineModel::indexForNode(const Node *node, int column) const
{
    if (!node || node == m_root.get())
        return {};
    return createIndex(node->row, column, const_cast<Node *>(node));
}

TVLObject *TVLOutlineModel::objectForIndex(const QModelIndex &index) const
{
    return index.isValid() ? nodeForIndex(index)->object.get() : nullptr;
}

TVLObject::Ptr TVLOutlineModel::sharedObjectForIndex(const QModelIndex &index) const
{
    return index.isValid() ? nodeForIndex(index)->object : nullptr;
}

QModelIndex TVLOutlineModel::indexOfFetchedObject(const TVLObject *object) const
{
    std::function<const Node *(const Node *)> search = [&](const Node *node) -> const Node * {
        for (const auto &child : node->children) {
            if (child->object.get() == object)
                return child.get();
            if (const Node *found = search(child.get()))
                return found;
        }
        return nullptr;
    };
    return indexForNode(search(m_root.get()));
}

QModelIndex TVLOutlineModel::indexForObject(const TVLObject *object)
{
    if (!object)
        return {};
    processPendingChanges();
    // The chain from the object up to the nearest ancestor that has a row already.
    std::vector<const TVLObject *> chain;
    Node *anchor = nullptr;
    for (const TVLObject *step = object; step; step = step->parent()) {
        if (Node *node = m_nodes.value(step)) {
            anchor = node;
            break;
        }
        chain.push_back(step);
    }
    if (!anchor)
        return {};
    // Open the rows on the way down.
    for (auto step = chain.rbegin(); step != chain.rend(); ++step) {
        if (!anchor->fetched)
            fetchChildren(anchor);
        Node *next = nullptr;
        for (const auto &child : anchor->children)
            if (child->object.get() == *step) {
                next = child.get();
                break;
            }
        if (!next)
            return {};
        anchor = next;
    }
    return indexForNode(anchor);
}

HVXIndexPath TVLOutlineModel::indexPathForIndex(const QModelIndex &index) const
{
    HVXIndexPath path;
    for (const Node *node = index.isValid() ? nodeForIndex(index) : nullptr; node && node != m_root.get(); node = node->parent)
        path.prepend(node->row);
    return path;
}

QModelIndex TVLOutlineModel::indexForIndexPath(const HVXIndexPath &path)
{
    Node *node = m_root.get();
    for (qint64 position : path) {
        if (!node->fetched)
            fetchChildren(node);
        if (position < 0 || position >= qint64(node->children.size()))
            return {};
        node = node->children[size_t(position)].get();
    }
    return indexForNode(node);
}

bool TVLOutlineModel::pathWaitsForLoad(const HVXIndexPath &path)
{
    Node *node = m_root.get();
    for (qint64 position : path) {
        if (node != m_root.get() && isLoadingProject(node->object.get()))
            return true;
        if (!node->fetched)
            fetchChildren(node);
        if (position < 0 || position >= qint64(node->children.size()))
            return node != m_root.get() && isLoadingProject(node->object.get());
        node = node->children[size_t(position)].get();
    }
    return false;
}

// MARK: - Children

TVLObject::List TVLOutlineModel::childObjectsOf(Node *node)
{
    if (node == m_root.get())
        return displayContent();
    TVLObject *object = node->object.get();
    if (object->isLeaf())
        return {};
    // A big project reads in the background and its rows come when it is done; a small one
    // is read now.
    auto *project = dynamic_cast<TVLProject *>(object);
    if (project && !project->isLoaded() && !project->isLoading()) {
        Q_EMIT projectWillLoad(project);
        project->loadInBackground();
        Q_EMIT projectDidLoad(project);
    }
    if (project && project->isLoading())
        return {};
    return object->displayChildren();
}

void TVLOutlineModel::fetchChildren(Node *node)
{
    if (node->fetched)
        return;
    node->fetched = true;
    const bool wasSyncing = m_syncing;
    m_syncing = true;
    const TVLObject::List objects = childObjectsOf(node);
    m_syncing = wasSyncing;
    if (objects.empty())
        return;
    beginInsertRows(indexForNode(node), 0, int(objects.size()) - 1);
    appendChildren(node, objects);
    endInsertRows();
}

void TVLOutlineModel::removeChildRows(Node *node, int first, int last)
{
    beginRemoveRows(indexForNode(node), first, last);
    for (int row = first; row <= last; ++row)
        forget(node->children[size_t(row)].get());
    node->children.erase(node->children.begin() + first, node->children.begin() + last + 1);
    renumber(node, size_t(first));
    endRemoveRows();
}

void TVLOutlineModel::reorderChildren(Node *node, const QStringList &targetOrder)
{
    // How many single moves the new order takes, moving each row up into its place.
    QStringList current;
    for (const auto &child : node->children)
        current << child->key;
    int moves = 0;
    {
        QStringList simulated = current;
        for (qsizetype i = 0; i < targetOrder.size(); ++i)
            if (simulated.at(i) != targetOrder.at(i)) {
                simulated.move(simulated.indexOf(targetOrder.at(i), i), i);
                ++moves;
            }
    }
    const QModelIndex parentIndex = indexForNode(node);
    if (moves <= kMaxSingleMoves) {
        for (qsizetype i = 0; i < targetOrder.size(); ++i) {
            if (node->children[size_t(i)]->key == targetOrder.at(i))
                continue;
            size_t from = size_t(i) + 1;
            while (node->children[from]->key != targetOrder.at(i))
                ++from;
            beginMoveRows(parentIndex, int(from), int(from), parentIndex, int(i));
            std::unique_ptr<Node> moving = std::move(node->children[from]);
            node->children.erase(node->children.begin() + qsizetype(from));
            node->children.insert(node->children.begin() + i, std::move(moving));
            renumber(node, size_t(i));
            endMoveRows();
        }
        return;
    }
    // A whole re-sort: one layout change, with every persistent index of these rows carried along.
    Q_EMIT layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)}, QAbstractItemModel::VerticalSortHint);
    std::unordered_map<QString, std::unique_ptr<Node>> byKey;
    for (auto &child : node->children)
        byKey.emplace(child->key, std::move(child));
    node->children.clear();
    for (const QString &key : targetOrder)
        node->children.push_back(std::move(byKey[key]));
    renumber(node);
    const QModelIndexList persistent = persistentIndexList();
    for (const QModelIndex &index : persistent) {
        Node *item = nodeForIndex(index);
        if (index.isValid() && item->parent == node)
            changePersistentIndex(index, createIndex(item->row, index.column(), item));
    }
    Q_EMIT layoutChanged({QPersistentModelIndex(parentIndex)}, QAbstractItemModel::VerticalSortHint);
}

void TVLOutlineModel::replaceObject(Node *node, const TVLObject::Ptr &object)
{
    if (m_nodes.value(node->object.get()) == node)
        m_nodes.remove(node->object.get());
    node->object = object;
    m_nodes.insert(object.get(), node);
    emitRowChanged(node);
    if (node->fetched)
        syncChildren(node);
}

void TVLOutlineModel::syncChildren(Node *node)
{
    if (!node->fetched) {
        // Nothing shown below it yet; whether it has children may have changed.
        emitRowChanged(node);
        return;
    }
    const bool wasSyncing = m_syncing;
    m_syncing = true;
    const TVLObject::List objects = childObjectsOf(node);
    m_syncing = wasSyncing;
    const QStringList keys = identityKeys(objects);
    const QSet<QString> newKeys(keys.cbegin(), keys.cend());

    // 1. Rows whose object is gone, removed in runs from the bottom up.
    for (int row = int(node->children.size()) - 1; row >= 0;) {
        if (newKeys.contains(node->children[size_t(row)]->key)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !newKeys.contains(node->children[size_t(first - 1)]->key))
            --first;
        removeChildRows(node, first, row);
        row = first - 1;
    }

    // 2. The rows that stayed, into the new order.
    QSet<QString> kept;
    for (const auto &child : node->children)
        kept.insert(child->key);
    QStringList target;
    for (const QString &key : keys)
        if (kept.contains(key))
            target << key;
    QStringList current;
    for (const auto &child : node->children)
        current << child->key;
    if (current != target)
        reorderChildren(node, target);

    // 3. New rows, inserted in runs at their places.
    for (qsizetype i = 0; i < keys.size();) {
        if (kept.contains(keys.at(i))) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < keys.size() && !kept.contains(keys.at(end)))
            ++end;
        beginInsertRows(indexForNode(node), int(i), int(end) - 1);
        std::vector<std::unique_ptr<Node>> inserted;
        for (qsizetype k = i; k < end; ++k) {
            inserted.push_back(makeNode(objects[size_t(k)], node));
            inserted.back()->key = keys.at(k);
        }
        node->children.insert(node->children.begin() + i, std::make_move_iterator(inserted.begin()),
                              std::make_move_iterator(inserted.end()));
        renumber(node, size_t(i));
        endInsertRows();
        i = end;
    }

    // 4. Rows that kept their identity but whose node was rebuilt.
    for (size_t i = 0; i < objects.size(); ++i)
        if (node->children[i]->object != objects[i])
            replaceObject(node->children[i].get(), objects[i]);
}

void TVLOutlineModel::emitRowChanged(Node *node)
{
    if (node == m_root.get())
        return;
    Q_EMIT dataChanged(indexForNode(node, 0), indexForNode(node, ColumnCount - 1));
}

void TVLOutlineModel::refreshAllRows()
{
    processPendingChanges();
    std::function<void(Node *)> refresh = [&](Node *node) {
        // Rows that now are leaves lose what was shown below them.
        if (node != m_root.get() && node->object->isLeaf()) {
            if (!node->children.empty())
                removeChildRows(node, 0, int(node->children.size()) - 1);
            node->fetched = false;
            emitRowChanged(node);
            return;
        }
        if (node->fetched)
            syncChildren(node);
        emitRowChanged(node);
        for (size_t i = 0; i < node->children.size(); ++i)
            refresh(node->children[i].get());
    };
    refresh(m_root.get());
    // Views cache whether a row can expand; let them ask again.
    Q_EMIT layoutAboutToBeChanged();
    Q_EMIT layoutChanged();
}

// MARK: - Announcements

void TVLOutlineModel::objectChanged(TVLObject *object, TVLProperty property)
{
    if (!object || !m_content)
        return;
    if (isStructural(property)) {
        // The top rows come from the content, or from a single root's children.
        if (object == m_content.get() || object->parent() == m_content.get())
            m_pendingStructure.insert(m_content.get());
        if (m_nodes.contains(object))
            m_pendingStructure.insert(object);
    } else if (m_nodes.contains(object)) {
        m_pendingData.insert(object);
    } else {
        return;
    }
    scheduleProcessing();
}

void TVLOutlineModel::scheduleProcessing()
{
    if (m_processingScheduled)
        return;
    m_processingScheduled = true;
    QTimer::singleShot(0, this, &TVLOutlineModel::processPendingChanges);
}

void TVLOutlineModel::processPendingChanges()
{
    m_processingScheduled = false;
    // Not in the middle of comparing rows; the changes wait for the next turn of the loop.
    if (m_syncing) {
        scheduleProcessing();
        return;
    }
    // Announcements made while rows are compared (a project that loads, a title computed on
    // demand) are taken up by the next round; a few rounds settle any chain of them.
    for (int round = 0; round < 8 && (!m_pendingStructure.isEmpty() || !m_pendingData.isEmpty()); ++round) {
        const QSet<const TVLObject *> structure = std::exchange(m_pendingStructure, {});
        const QSet<const TVLObject *> changedData = std::exchange(m_pendingData, {});
        if (structure.contains(m_content.get()))
            syncChildren(m_root.get());
        for (const TVLObject *object : structure)
            if (Node *node = m_nodes.value(object))
                syncChildren(node);
        for (const TVLObject *object : changedData)
            if (Node *node = m_nodes.value(object))
                emitRowChanged(node);
    }
}

// MARK: - QAbstractItemModel

QModelIndex TVLOutlineModel::index(int row, int column, const QModelIndex &parent) const
{
    const Node *node = nodeForIndex(parent);
    if (row < 0 || column < 0 || column >= ColumnCount || size_t(row) >= node->children.size())
        return {};
    return createIndex(row, column, node->children[size_t(row)].get());
}

QModelIndex TVLOutlineModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    return indexForNode(nodeForIndex(child)->parent);
}

int TVLOutlineModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(nodeForIndex(parent)->children.size());
}

int TVLOutlineModel::columnCount(const QModelIndex &) const { return ColumnCount; }

bool TVLOutlineModel::hasChildren(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return false;
    const Node *node = nodeForIndex(parent);
    if (node->fetched && !node->children.empty())
        return true;
    // A loading project has its rows still to come.
    if (node->fetched && !isLoadingProject(node->object.get()))
        return false;
    return !node->object->isLeaf();
}

bool TVLOutlineModel::canFetchMore(const QModelIndex &parent) const
{
    const Node *node = nodeForIndex(parent);
    return !node->fetched && node->object && !node->object->isLeaf();
}

void TVLOutlineModel::fetchMore(const QModelIndex &parent)
{
    fetchChildren(nodeForIndex(parent));
}

QVariant TVLOutlineModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    TVLObject *object = nodeForIndex(index)->object.get();
    const int column = index.column();
    if (column == TitleColumn) {
        switch (role) {
        case MarkupRole: return object->displayTitle();
        case Qt::DisplayRole: return hvxAttributedStringNoClip(object->displayTitle()).string();
        case Qt::ToolTipRole: {
            const QString toolTip = object->toolTip();
            return toolTip.isEmpty() ? QVariant() : QVariant(toolTip);
        }
        case Qt::ForegroundRole: {
            // Black is the ordinary text colour: drawn in the palette's, so it follows dark mode.
            const HVXColor color = object->textColor();
            if (object->hasStandardTextColor() && color == HVXSystemColor::black())
                return {};
            return QBrush(hvxQColor(color));
        }
        default: return {};
        }
    }
    if (column == TagsColumn) {
        if (role == TagSummaryRole)
            return uint(object->tagSummary());
        if (role == Qt::ToolTipRole) {
            const QString toolTip = TVLTagsSummaryView(object->tagSummary()).toolTip();
            return toolTip.isEmpty() ? QVariant() : QVariant(toolTip);
        }
        return {};
    }
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    const std::optional<TVLTokenUsage> usage = object->tokenUsage();
    if (!usage)
        return {};
    qint64 value = 0;
    switch (column) {
    case InputTokensColumn: value = usage->inputTokens; break;
    case OutputTokensColumn: value = usage->outputTokens; break;
    case CacheCreationTokensColumn: value = usage->cacheCreationInputTokens; break;
    case CacheReadTokensColumn: value = usage->cacheReadInputTokens; break;
    default: return {};
    }
    return QLocale().toString(value);
}

QVariant TVLOutlineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case TitleColumn: return tr("Name");
        case InputTokensColumn: return tr("Input");
        case OutputTokensColumn: return tr("Output");
        case CacheCreationTokensColumn: return tr("Cache Write");
        case CacheReadTokensColumn: return tr("Cache Read");
        case TagsColumn: return tr("Tags");
        default: return {};
        }
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
        case InputTokensColumn: return tr("Input Tokens");
        case OutputTokensColumn: return tr("Output Tokens");
        case CacheCreationTokensColumn: return tr("Cache Creation Tokens");
        case CacheReadTokensColumn: return tr("Cache Read Tokens");
        default: return {};
        }
    }
    if (role == Qt::TextAlignmentRole && isTokenColumn(section))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TVLOutlineModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

#include "gui/tree/TreeModel.h"

#include "gui/common/Codec.h"
#include "gui/common/Icons.h"

#include <algorithm>

namespace qv {

namespace {

// The node after n's branch in flat order, or null.
Node *afterBranch(const Node *n)
{
    while (!n->isTop() && !n->nextSibling())
        n = n->parent();
    return n->isTop() ? nullptr : n->nextSibling();
}

// Calls f for n and then for each node of n's shown branch (n's descendants
// while open), in flat order.
template <class F>
void forShownBranch(Node *n, F &&f)
{
    f(n);
    if (!n->shownOpen() || !n->hasChildren())
        return;
    Node *c = n->firstChild();
    while (c) {
        f(c);
        if (c->shownOpen() && c->hasChildren()) {
            c = c->firstChild();
            continue;
        }
        while (c != n && !c->nextSibling())
            c = c->parent();
        c = c == n ? nullptr : c->nextSibling();
    }
}

void appendShownBranch(Node *n, std::vector<Node *> &out)
{
    forShownBranch(n, [&out](Node *c) { out.push_back(c); });
}

} // namespace

TreeModel::TreeModel(Outline &outline, QObject *parent) : QAbstractListModel(parent), outline_(outline)
{
    rebuild();
    outline_.setListener(this);
}

TreeModel::~TreeModel() { outline_.setListener(nullptr); }

// ---- rows ----

int TreeModel::rowOf(const Node *node) const
{
    if (!node || node->isTop())
        return -1;
    return int(rows_.rowOf(node));
}

QModelIndex TreeModel::indexFor(const Node *node) const
{
    const int r = rowOf(node);
    return r < 0 ? QModelIndex() : index(r, 0);
}

Node *TreeModel::nodeFor(const QModelIndex &index) const
{
    if (!index.isValid())
        return outline_.top();
    return size_t(index.row()) < rows_.size() ? rows_.at(size_t(index.row())) : nullptr;
}

bool TreeModel::showsChildrenOf(const Node *parent) const
{
    return parent->isTop() || (parent->shownOpen() && rowOf(parent) >= 0);
}

int TreeModel::endOf(const Node *node) const
{
    const Node *after = node->isTop() ? nullptr : afterBranch(node);
    return after ? rowOf(after) : int(rows_.size());
}

int TreeModel::placeRow(const Node *parent, size_t row) const
{
    return row < parent->childCount() ? rowOf(parent->child(row)) : endOf(parent);
}

void TreeModel::rebuild()
{
    rows_.clear();
    for (size_t i = 0; i < outline_.rootCount(); ++i)
        forShownBranch(outline_.root(i), [this](Node *n) { rows_.append(n); });
}

void TreeModel::relayout(const std::function<void()> &build)
{
    emit layoutAboutToBeChanged();
    const QModelIndexList from = persistentIndexList();
    std::vector<Node *> nodes;
    nodes.reserve(size_t(from.size()));
    for (const QModelIndex &i : from)
        nodes.push_back(nodeFor(i));
    build();
    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i) {
        const int r = rowOf(nodes[size_t(i)]);
        to.append(r < 0 ? QModelIndex() : index(r, from[i].column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged();
}

void TreeModel::markChanged(const Node *node)
{
    const int r = rowOf(node);
    if (r >= 0)
        emit dataChanged(index(r, 0), index(r, 0));
}

// ---- open branches ----

bool TreeModel::isExpanded(const Node *node) const
{
    return node && !node->isTop() && node->hasChildren() && node->shownOpen();
}

bool TreeModel::rowHasChildren(int row) const
{
    const Node *n = rows_.at(size_t(row));
    if (!filtering_)
        return n->hasChildren();
    return size_t(row) + 1 < rows_.size() && rows_.at(size_t(row) + 1)->parent() == n;
}

bool TreeModel::rowIsOpen(int row) const
{
    return rowHasChildren(row) && (filtering_ || rows_.at(size_t(row))->shownOpen());
}

void TreeModel::setExpanded(Node *node, bool open)
{
    if (filtering_ || !node || node->isTop())
        return;
    if (open) {
        if (!node->hasChildren() || node->shownOpen())
            return;
        node->setShownOpen(true);
        const int r = rowOf(node);
        if (r < 0)
            return;
        std::vector<Node *> branch;
        appendShownBranch(node, branch);
        beginInsertRows({}, r + 1, r + int(branch.size()) - 1);
        rows_.insert(size_t(r) + 1, branch.data() + 1, branch.size() - 1);
        endInsertRows();
        markChanged(node);
        return;
    }
    if (!node->shownOpen())
        return;
    if (!node->hasChildren() || rowOf(node) < 0) {
        node->setShownOpen(false);
        return;
    }
    emit collapsing(node);
    const int r = rowOf(node);
    const int end = endOf(node);
    node->setShownOpen(false);
    if (r >= 0 && end > r + 1) {
        beginRemoveRows({}, r + 1, end - 1);
        rows_.erase(size_t(r) + 1, size_t(end));
        endRemoveRows();
    }
    markChanged(node);
}

void TreeModel::expandAll()
{
    if (filtering_)
        return;
    relayout([this] {
        rows_.clear();
        for (Node *n = outline_.first(); n; n = flatNext(n)) {
            n->setShownOpen(n->hasChildren());
            rows_.append(n);
        }
    });
}

void TreeModel::collapseAll()
{
    if (filtering_)
        return;
    relayout([this] {
        for (Node *n = outline_.first(); n; n = flatNext(n))
            n->setShownOpen(false);
        rows_.clear();
        for (size_t i = 0; i < outline_.rootCount(); ++i)
            rows_.append(outline_.root(i));
    });
}

void TreeModel::expandBranch(Node *node)
{
    if (filtering_ || !node || node->isTop() || !node->hasChildren())
        return;
    setExpanded(node, false);
    for (Node *n = node->firstChild(), *end = afterBranch(node); n != end; n = flatNext(n))
        n->setShownOpen(n->hasChildren());
    setExpanded(node, true);
}

void TreeModel::reveal(const Node *node)
{
    if (filtering_ || !node || node->isTop())
        return;
    // From the nearest ancestor outwards: the hidden ones are only marked,
    // and the outermost one that opens brings the whole way in at once.
    for (Node *p = node->parent(); p && !p->isTop(); p = p->parent())
        if (!p->shownOpen())
            setExpanded(p, true);
}

// ---- the find's narrowing ----

void TreeModel::setFilter(std::vector<const Node *> matches)
{
    relayout([this, &matches] {
        filtering_ = true;
        matches_ = std::move(matches);
        rows_.clear();
        rowMatch_.clear();
        rowMatch_.reserve(matches_.size());
        // Matches come in flat order, so the ancestors a match shares with
        // the rows before it are already in; the rest go in before it.
        auto isIn = [this](const Node *n) { return rows_.rowOf(n) >= 0; };
        auto add = [this](const Node *n, bool match) {
            rows_.append(const_cast<Node *>(n));
            rowMatch_.push_back(match);
        };
        std::vector<const Node *> way;
        for (const Node *m : matches_) {
            if (isIn(m)) {
                rowMatch_[size_t(rows_.rowOf(m))] = true;
                continue;
            }
            way.clear();
            for (const Node *p = m->parent(); p && !p->isTop() && !isIn(p); p = p->parent())
                way.push_back(p);
            for (auto it = way.rbegin(); it != way.rend(); ++it)
                add(*it, false);
            add(m, true);
        }
    });
}

void TreeModel::clearFilter()
{
    if (!filtering_)
        return;
    relayout([this] {
        filtering_ = false;
        matches_.clear();
        rowMatch_.clear();
        rebuild();
    });
}

void TreeModel::dropFilter()
{
    clearFilter();
    emit filterDropped();
}

// ---- Qt's side ----

int TreeModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant TreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= rows_.size())
        return {};
    const Node *n = rows_.at(size_t(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return toQ(n->caption());
    case Qt::DecorationRole:
        // The selected image index always equals the image index.
        return icons::image(n->imageIndex());
    case Qt::ForegroundRole:
        if (filtering_ && !rowMatch_[size_t(index.row())])
            return dim_;
        return {};
    default:
        return {};
    }
}

bool TreeModel::setData(const QModelIndex &, const QVariant &, int) { return false; }

Qt::ItemFlags TreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    // The rows are flat to the view: it keeps no branch state of its own.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled
        | Qt::ItemIsDropEnabled | Qt::ItemNeverHasChildren;
}

// ---- the outline's changes ----

void TreeModel::aboutToInsert(Node *parent, size_t row, size_t count)
{
    if (filtering_)
        dropFilter();
    pending_.push_back({nullptr, parent, row, count});
}

void TreeModel::inserted()
{
    if (pending_.empty())
        return;
    const Pending p = pending_.back();
    pending_.pop_back();
    if (!showsChildrenOf(p.parent)) {
        markChanged(p.parent); // its mark may show now
        return;
    }
    const int at = placeRow(p.parent, p.row + p.count);
    std::vector<Node *> branch;
    for (size_t i = p.row; i < p.row + p.count; ++i)
        appendShownBranch(p.parent->child(i), branch);
    beginInsertRows({}, at, at + int(branch.size()) - 1);
    rows_.insert(size_t(at), branch.data(), branch.size());
    endInsertRows();
}

void TreeModel::aboutToRemove(Node *parent, size_t row, size_t count)
{
    if (filtering_)
        dropFilter();
    pending_.push_back({nullptr, parent, row, count});
    if (!showsChildrenOf(parent))
        return;
    const int first = rowOf(parent->child(row));
    const int end = placeRow(parent, row + count);
    beginRemoveRows({}, first, end - 1);
    rows_.erase(size_t(first), size_t(end));
    endRemoveRows();
}

void TreeModel::removed()
{
    if (pending_.empty())
        return;
    const Pending p = pending_.back();
    pending_.pop_back();
    if (!p.parent->hasChildren())
        p.parent->setShownOpen(false);
    if (!p.parent->isTop())
        markChanged(p.parent);
}

void TreeModel::aboutToMove(Node *srcParent, size_t srcRow, Node *, size_t)
{
    if (filtering_)
        dropFilter();
    Pending p{srcParent->child(srcRow), srcParent};
    p.shownRow = rowOf(p.node);
    p.shownEnd = p.shownRow < 0 ? -1 : endOf(p.node);
    pending_.push_back(p);
}

void TreeModel::moved()
{
    if (pending_.empty())
        return;
    const Pending p = pending_.back();
    pending_.pop_back();
    Node *n = p.node;
    Node *parent = n->parent();
    if (!p.parent->hasChildren())
        p.parent->setShownOpen(false);
    // rows_ still holds the order before the move; every node outside n's
    // branch keeps its row there until the rows are moved below.
    const bool shown = showsChildrenOf(parent);
    int at = -1;
    if (shown) {
        const Node *after = afterBranch(n);
        at = after ? rowOf(after) : int(rows_.size());
    }
    const int first = p.shownRow;
    const int end = p.shownEnd;
    if (first >= 0 && shown) {
        if (at >= first && at <= end) {
            // Same rows, another depth.
            emit dataChanged(index(first, 0), index(end - 1, 0));
        } else {
            beginMoveRows({}, first, end - 1, {}, at);
            rows_.move(size_t(first), size_t(end), size_t(at));
            endMoveRows();
        }
    } else if (first >= 0) {
        beginRemoveRows({}, first, end - 1);
        rows_.erase(size_t(first), size_t(end));
        endRemoveRows();
    } else if (shown) {
        std::vector<Node *> branch;
        appendShownBranch(n, branch);
        beginInsertRows({}, at, at + int(branch.size()) - 1);
        rows_.insert(size_t(at), branch.data(), branch.size());
        endInsertRows();
    }
    if (!p.parent->isTop())
        markChanged(p.parent);
    if (parent != p.parent && !parent->isTop())
        markChanged(parent);
}

void TreeModel::aboutToReset()
{
    resetDropsFilter_ = filtering_;
    beginResetModel();
    filtering_ = false;
    matches_.clear();
    rowMatch_.clear();
    rows_.clear();
}

void TreeModel::reset()
{
    rebuild();
    endResetModel();
    if (resetDropsFilter_) {
        resetDropsFilter_ = false;
        emit filterDropped();
    }
}

void TreeModel::changed(Node *node) { markChanged(node); }

} // namespace qv

#include "gui/tree/TreeModel.h"

#include "gui/common/Codec.h"
#include "gui/common/Icons.h"

namespace qv {

TreeModel::TreeModel(Outline &outline, QObject *parent) : QAbstractItemModel(parent), outline_(outline)
{
    outline_.setListener(this);
}

TreeModel::~TreeModel() { outline_.setListener(nullptr); }

QModelIndex TreeModel::indexFor(const Node *node) const
{
    if (!node || node->isTop())
        return {};
    return createIndex(int(node->row()), 0, const_cast<Node *>(node));
}

Node *TreeModel::nodeFor(const QModelIndex &index) const
{
    if (!index.isValid())
        return outline_.top();
    return static_cast<Node *>(index.internalPointer());
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (row < 0 || column != 0 || (parent.isValid() && parent.column() != 0))
        return {};
    const Node *p = nodeFor(parent);
    if (size_t(row) >= p->childCount())
        return {};
    return createIndex(row, 0, p->child(size_t(row)));
}

QModelIndex TreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    return indexFor(nodeFor(child)->parent());
}

int TreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(nodeFor(parent)->childCount());
}

int TreeModel::columnCount(const QModelIndex &) const { return 1; }

bool TreeModel::hasChildren(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return false;
    return nodeFor(parent)->hasChildren();
}

QVariant TreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const Node *n = nodeFor(index);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return toQ(n->caption());
    case Qt::DecorationRole:
        // The selected image index always equals the image index.
        return icons::image(n->imageIndex());
    default:
        return {};
    }
}

bool TreeModel::setData(const QModelIndex &, const QVariant &, int) { return false; }

Qt::ItemFlags TreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled
        | Qt::ItemIsDropEnabled;
}

void TreeModel::aboutToInsert(Node *parent, size_t row, size_t count)
{
    beginInsertRows(indexFor(parent), int(row), int(row + count) - 1);
}

void TreeModel::inserted() { endInsertRows(); }

void TreeModel::aboutToRemove(Node *parent, size_t row, size_t count)
{
    beginRemoveRows(indexFor(parent), int(row), int(row + count) - 1);
}

void TreeModel::removed() { endRemoveRows(); }

void TreeModel::aboutToMove(Node *srcParent, size_t srcRow, Node *dstParent, size_t dstRow)
{
    const int src = int(srcRow);
    const int dst = int(dstRow);
    if (srcParent == dstParent && (dst == src || dst == src + 1)) {
        // Lands where it stands: Qt refuses to announce it and nothing changes.
        moves_.push_back(MoveKind::Nothing);
    } else if (beginMoveRows(indexFor(srcParent), src, src, indexFor(dstParent), dst)) {
        moves_.push_back(MoveKind::Move);
    } else {
        beginResetModel();
        moves_.push_back(MoveKind::Reset);
    }
}

void TreeModel::moved()
{
    if (moves_.empty())
        return;
    const MoveKind kind = moves_.back();
    moves_.pop_back();
    if (kind == MoveKind::Move)
        endMoveRows();
    else if (kind == MoveKind::Reset)
        endResetModel();
}

void TreeModel::aboutToReset() { beginResetModel(); }

void TreeModel::reset() { endResetModel(); }

void TreeModel::changed(Node *node)
{
    const QModelIndex i = indexFor(node);
    if (i.isValid())
        emit dataChanged(i, i);
}

} // namespace qv

#include "gui/tree/FindFilter.h"

#include "catalog/Outline.h"
#include "gui/tree/TreeModel.h"

namespace qv {

FindFilter::FindFilter(TreeModel *source, QObject *parent) : QSortFilterProxyModel(parent), source_(source)
{
    setObjectName(QStringLiteral("findFilter"));
    // Rows stay while their caption or note changes: a match edited away
    // stays until the query changes.
    setDynamicSortFilter(false);
    setRecursiveFilteringEnabled(false);
    setSourceModel(source);
}

Node *FindFilter::nodeFor(const QModelIndex &index) const { return source_->nodeFor(mapToSource(index)); }

QModelIndex FindFilter::indexFor(const Node *node) const { return mapFromSource(source_->indexFor(node)); }

void FindFilter::setMatches(const std::vector<const Node *> &matches)
{
    matches_ = matches;
    matched_.clear();
    shown_.clear();
    matched_.reserve(qsizetype(matches.size()));
    shown_.reserve(qsizetype(matches.size()) * 2);
    for (const Node *n : matches) {
        matched_.insert(n);
        // Ancestors stop at the first one already in (its own are too).
        for (const Node *p = n; p && !p->isTop(); p = p->parent()) {
            if (shown_.contains(p))
                break;
            shown_.insert(p);
        }
    }
    // One reset for the whole tree: filtering row by row would announce (and
    // lay out) each removal on its own, and a layout change would carry
    // every expanded row's persistent index across. Setting the source
    // again is the proxy's own reset, the row mappings dropped.
    QSortFilterProxyModel::setSourceModel(nullptr);
    QSortFilterProxyModel::setSourceModel(source_);
}

QVariant FindFilter::data(const QModelIndex &index, int role) const
{
    if (role == Qt::ForegroundRole && index.isValid() && !matched_.contains(nodeFor(index)))
        return dim_;
    return QSortFilterProxyModel::data(index, role);
}

bool FindFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const Node *parent = source_->nodeFor(sourceParent);
    if (!parent || sourceRow < 0 || size_t(sourceRow) >= parent->childCount())
        return false;
    return shown_.contains(parent->child(size_t(sourceRow)));
}

} // namespace qv

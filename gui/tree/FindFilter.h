// The outline filtered to what a find matched: a thin proxy over the tree
// model that keeps the matches and their ancestors, each in its place. The
// rows it keeps are worked out once per query (a set of nodes), so the
// check per row costs one lookup.
#pragma once

#include <QColor>
#include <QSet>
#include <QSortFilterProxyModel>

#include <vector>

namespace qv {

class Node;
class TreeModel;

class FindFilter : public QSortFilterProxyModel { // objectName "findFilter"
    Q_OBJECT
public:
    explicit FindFilter(TreeModel *source, QObject *parent = nullptr);

    TreeModel *treeModel() const { return source_; }
    Node *nodeFor(const QModelIndex &index) const;
    QModelIndex indexFor(const Node *node) const;

    // Keeps the matches (in flat order) and their ancestors; the ancestors
    // that do not match are drawn dimmed.
    void setMatches(const std::vector<const Node *> &matches);
    const std::vector<const Node *> &matches() const { return matches_; }
    bool isMatch(const Node *node) const { return matched_.contains(node); }

    // The text color of the ancestors that do not match.
    void setDimColor(const QColor &color) { dim_ = color; }

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    TreeModel *source_;
    QColor dim_{Qt::gray};
    std::vector<const Node *> matches_;
    QSet<const Node *> matched_;
    QSet<const Node *> shown_; // the matches and their ancestors
};

} // namespace qv

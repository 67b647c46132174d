// The outline as the tree's item model: a flat list of the rows the tree
// shows, in flat order (a node, then the branches of its children while it is
// open). The model owns which branches are open (a mark on each node), so a
// structural change touches only the rows it moves and the view keeps no
// index per open branch; the tree view draws each row's depth and open mark
// itself. It holds no copy of the data: each row is its Node.
//
// A find narrows the rows to its matches and their ancestors, each in its
// place, every branch on the way shown open; an ancestor that does not match
// itself is drawn dimmed. The open marks stay as they were, so leaving the
// find shows the tree as it was.
#pragma once

#include "catalog/Outline.h"
#include "gui/tree/RowIndex.h"

#include <QAbstractListModel>
#include <QColor>

#include <functional>
#include <vector>

namespace qv {

class TreeModel : public QAbstractListModel, public OutlineListener {
    Q_OBJECT
public:
    explicit TreeModel(Outline &outline, QObject *parent = nullptr);
    ~TreeModel() override;

    Outline &outline() const { return outline_; }

    // The index of a shown node; invalid for the top node, null or a node
    // that is not shown.
    QModelIndex indexFor(const Node *node) const;
    // The node of an index; the invalid index gives the outline's top node.
    Node *nodeFor(const QModelIndex &index) const;
    // The shown row of a node, or -1.
    int rowOf(const Node *node) const;
    Node *nodeAt(int row) const { return rows_.at(size_t(row)); }

    // Open branches. A node without children is never open.
    bool isExpanded(const Node *node) const;
    // Opening a node that is not shown only marks it: it shows open once
    // its ancestors are. Closing a shown branch first tells `collapsing`.
    // Neither does anything while filtering.
    void setExpanded(Node *node, bool open);
    void expandAll();
    void collapseAll();
    // Opens the node's whole branch, every level.
    void expandBranch(Node *node);
    // Opens every ancestor of the node, so it is shown.
    void reveal(const Node *node);

    // What a row's mark shows: whether it has (shown) children, and whether
    // they are shown under it.
    bool rowHasChildren(int row) const;
    bool rowIsOpen(int row) const;

    // The find's narrowing: the matches, in flat order.
    void setFilter(std::vector<const Node *> matches);
    void clearFilter();
    bool filtering() const { return filtering_; }
    const std::vector<const Node *> &matches() const { return matches_; }
    bool isMatchRow(int row) const { return filtering_ && rowMatch_[size_t(row)]; }
    // The text color of the ancestors that do not match.
    void setDimColor(const QColor &color) { dim_ = color; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Renaming goes through the window's rename handler, never through here.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // OutlineListener
    void aboutToInsert(Node *parent, size_t row, size_t count) override;
    void inserted() override;
    void aboutToRemove(Node *parent, size_t row, size_t count) override;
    void removed() override;
    void aboutToMove(Node *srcParent, size_t srcRow, Node *dstParent, size_t dstRow) override;
    void moved() override;
    void aboutToReset() override;
    void reset() override;
    void changed(Node *node) override;

signals:
    // A shown, open branch is about to close: its rows go next.
    void collapsing(Node *node);
    // The outline's structure changed while filtering: the whole tree is
    // shown again.
    void filterDropped();

private:
    struct Pending {
        Node *node = nullptr;
        Node *parent = nullptr;
        size_t row = 0;
        size_t count = 0;
        int shownRow = -1; // where a moving node stood, -1 when hidden
        int shownEnd = -1;
    };

    // Whether children of `parent` are shown (it is the top node, or shown and open).
    bool showsChildrenOf(const Node *parent) const;
    // The row just after a shown node's rows (its own and its shown branch).
    int endOf(const Node *node) const;
    // The row at which the children of a shown place start at `row`.
    int placeRow(const Node *parent, size_t row) const;
    void rebuild();
    // Rebuilds the rows (`build` replaces them) as one layout change, every
    // persistent index following its node, or gone with it.
    void relayout(const std::function<void()> &build);
    void dropFilter();
    void markChanged(const Node *node);

    Outline &outline_;
    RowIndex rows_;
    std::vector<Pending> pending_;

    bool filtering_ = false;
    bool resetDropsFilter_ = false; // a reset began while filtering
    std::vector<const Node *> matches_;
    std::vector<char> rowMatch_; // per row while filtering
    QColor dim_{Qt::gray};
};

} // namespace qv

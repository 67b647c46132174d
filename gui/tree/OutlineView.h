// The tree control of the outline: a tree view that can move a node with its
// whole branch by dragging it with the left button and dropping it on another
// node, which then holds the branch as its last child.
//
// Its model hands it the shown rows as a flat list (TreeModel); the view
// draws each row's indentation and open mark, and opens and closes branches
// through the model: by the mark, a double click, the arrow keys and + - *.
//
// The drag is the view's own, built from its mouse events (no platform drag
// session): a left press on a node's icon or label arms it, moving the
// pointer 7 pixels away starts it, the release drops it.
#pragma once

#include <QBasicTimer>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QRect>
#include <QTreeView>

#include <functional>
#include <memory>

class QLabel;

namespace qv {

class Catalog;
class EditStep;
class Node;
class TreeModel;

class OutlineView : public QTreeView { // objectName "TreeView1"
    Q_OBJECT
    Q_PROPERTY(bool dragDropEnabled READ dragDropEnabled WRITE setDragDropEnabled)
public:
    // How far (in pixels, horizontally or vertically) the pointer travels
    // from the press before an armed drag starts.
    static constexpr int kDragThreshold = 7;
    // Where the pointer holds the drag image, from the image's top-left corner.
    static constexpr QPoint kImageHotSpot{2, 2};

    enum class DragState { None, Pending, Active };

    // Drops move branches through `catalog`, whose outline the model shows.
    explicit OutlineView(Catalog &catalog, QWidget *parent = nullptr);
    ~OutlineView() override;

    bool dragDropEnabled() const { return dragDropEnabled_; }
    void setDragDropEnabled(bool enabled) { dragDropEnabled_ = enabled; }
    // While suspended (a filtered tree), no drag starts and nothing drops,
    // whatever dragDropEnabled says.
    void setDragSuspended(bool suspended) { dragSuspended_ = suspended; }

    // A drop that moved a branch hands over the step that takes it back,
    // once the selection after the move is set.
    std::function<void(std::unique_ptr<EditStep>)> onMoveStep;

    // The node whose row contains the point (viewport coordinates), or null;
    // the expand button and the indent belong to the row.
    Node *nodeAt(const QPoint &pos) const;
    // The part of a row that is the item itself: its icon and its label
    // (viewport coordinates, the row's full height). Empty for a hidden row.
    QRect itemRect(const QModelIndex &index) const;
    // True when the point lies on the icon or the label of the node at it.
    bool isOnItem(const QPoint &pos) const;

    // The drag in progress, for the window and for tests.
    DragState dragState() const { return dragState_; }
    // The node of the last left press (the one a drag carries), or null.
    Node *draggedNode() const;
    // The node shown with the drop-target highlight, or null.
    Node *dropTarget() const;
    // Whether the last drag-over accepted a drop at its position.
    bool dropAccepted() const { return dropAccepted_; }
    // The drag image while it is shown over the tree, or null.
    QLabel *dragImage() const;
    // While a click on the selected node's label waits to begin renaming:
    // the id of the timer that begins it (for tests that do not wait), else 0.
    int renameTimerId() const { return pendingRenameTimer_.isActive() ? pendingRenameTimer_.timerId() : 0; }

    // While a node's label is being edited in place.
    bool isRenaming() const { return state() == EditingState; }

    // The width of one level of indentation (the open mark's column).
    int levelIndent() const { return levelIndent_; }
    void setLevelIndent(int pixels);
    // The open mark's square at the start of a shown row, in viewport coordinates.
    QRect markRect(const QModelIndex &index) const;

    // The item's part of the row: right of its indentation and mark.
    QRect visualRect(const QModelIndex &index) const override;
    // The row's caption is wider than the room the row gives it: it is drawn
    // cut short, and its hint shows it whole.
    bool captionElided(const QModelIndex &index) const;

    using QTreeView::edit;

protected:
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event = nullptr) const override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                 const QModelIndex &index) const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;

private:
    // Branches open and close through the model; the view's own branch
    // state stays unused.
    using QTreeView::collapse;
    using QTreeView::collapseAll;
    using QTreeView::expand;
    using QTreeView::expandAll;
    using QTreeView::expandRecursively;
    using QTreeView::expandToDepth;
    using QTreeView::isExpanded;
    using QTreeView::setExpanded;

    class ReleaseGate;
    friend class ReleaseGate;
    // The tests' way to the hooks below (tests/gui/support/OutlineViewProbe.h).
    friend class OutlineViewProbe;

    TreeModel *treeModel() const;
    // The node of a view index (the model's), or null.
    Node *nodeOf(const QModelIndex &index) const;
    QStyleOptionViewItem itemOption(const QModelIndex &index) const;
    // How far a row's item stands from the row's start: its depth plus the mark's column.
    int rowIndent(const QModelIndex &index) const;
    void drawMarks(QPainter *painter, const QRect &row, const QModelIndex &index) const;
    // Opens or closes the branch of a shown row.
    void toggle(const QModelIndex &index);
    // The index of the row under the point, whatever the x.
    QModelIndex rowAt(const QPoint &pos) const;

    void beginDrag(const QPoint &pos, const QPointF &globalPos, Qt::KeyboardModifiers modifiers);
    void startDragging(const QPoint &pos);
    void dragOver(const QPoint &pos);
    bool acceptsAt(const QPoint &pos) const;
    // The drag's release: ends the drag, and drops at pos when the drag was
    // running and accepts there.
    void finishDrag(const QPoint &pos);
    void cancelDrag();
    void endDrag();
    void drop(const QPoint &pos);
    void moveBranch(Node *dragged, Node *target);
    void setDropTarget(const QModelIndex &index);
    void showDragImage(const QPoint &pos);
    QPixmap renderItem(const QModelIndex &index) const;

    Catalog &catalog_;
    int levelIndent_ = 20;
    bool dragDropEnabled_ = false;
    bool dragSuspended_ = false;
    // Called for each node a drop removes, deepest first (the last child's
    // branch before the first child's), the dragged node last.
    std::function<void(Node *)> onDeleteNode_;
    // With customDragDrop_ on, a drop on a node calls onDragNodeEvent_ with
    // the dragged node and the node dropped on (also when they are the
    // same) instead of moving anything.
    bool customDragDrop_ = false;
    std::function<void(Node *src, Node *dst)> onDragNodeEvent_;

    DragState dragState_ = DragState::None;
    QPersistentModelIndex draggedIndex_;
    QPersistentModelIndex dropTargetIndex_;
    QPoint pressPos_;
    bool dropAccepted_ = false;
    // True while the press that armed a drag is finished as a click.
    bool finishingPress_ = false;
    // The left release of a press that armed a drag is the drag's, even
    // after Esc has ended the drag.
    bool releaseOwed_ = false;
    QLabel *dragImage_ = nullptr;
    ReleaseGate *releaseGate_ = nullptr;
    // A click on the selected label that armed a drag still begins renaming
    // after the double-click time, unless a drag runs by then.
    QBasicTimer pendingRenameTimer_;
    QPersistentModelIndex pendingRenameIndex_;
};

} // namespace qv

#include "gui/tree/OutlineView.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "gui/common/MessageBox.h"
#include "gui/tree/TreeModel.h"

#include <QApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimerEvent>
#include <QToolTip>

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace qv {

// The release that ends a drag belongs to the drag: nobody else watching the
// viewport may take it for a click. The gate is put in front of every other
// filter of the viewport whenever a drag is armed, and hands that release to
// the view alone.
class OutlineView::ReleaseGate : public QObject {
public:
    explicit ReleaseGate(OutlineView *view) : QObject(view), view_(view) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::MouseButtonRelease || watched != view_->viewport()
            || view_->finishingPress_ || !view_->releaseOwed_)
            return false;
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() != Qt::LeftButton)
            return false;
        view_->finishDrag(me->position().toPoint());
        return true;
    }

private:
    OutlineView *view_;
};

OutlineView::OutlineView(Catalog &catalog, QWidget *parent) : QTreeView(parent), catalog_(catalog)
{
    setObjectName(QStringLiteral("TreeView1"));
    // Qt's own drag session stays off: the drag here is driven by the mouse
    // events of the view.
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    // The rows come flat: the indentation and the marks are drawn here.
    QTreeView::setIndentation(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    levelIndent_ = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
    releaseGate_ = new ReleaseGate(this);
    viewport()->installEventFilter(releaseGate_);
}

OutlineView::~OutlineView() = default;

TreeModel *OutlineView::treeModel() const { return qobject_cast<TreeModel *>(model()); }

Node *OutlineView::nodeOf(const QModelIndex &index) const
{
    if (!index.isValid())
        return nullptr;
    if (TreeModel *outlineModel = treeModel())
        return outlineModel->nodeFor(index);
    return nullptr;
}

void OutlineView::setLevelIndent(int pixels)
{
    levelIndent_ = pixels;
    scheduleDelayedItemsLayout();
    viewport()->update();
}

int OutlineView::rowIndent(const QModelIndex &index) const
{
    const Node *n = nodeOf(index);
    return n ? int(n->depth() + 1) * levelIndent_ : 0;
}

QRect OutlineView::visualRect(const QModelIndex &index) const
{
    QRect rect = QTreeView::visualRect(index);
    if (rect.isEmpty())
        return rect;
    const int indent = rowIndent(index);
    if (isRightToLeft())
        rect.setRight(rect.right() - indent);
    else
        rect.setLeft(rect.left() + indent);
    return rect;
}

QRect OutlineView::markRect(const QModelIndex &index) const
{
    const QRect item = visualRect(index);
    if (item.isEmpty())
        return {};
    const int x = isRightToLeft() ? item.right() + 1 : item.left() - levelIndent_;
    return QRect(x, item.top(), levelIndent_, item.height());
}

void OutlineView::drawMarks(QPainter *painter, const QRect &row, const QModelIndex &index) const
{
    const TreeModel *outlineModel = treeModel();
    const Node *n = nodeOf(index);
    if (!outlineModel || !n)
        return;
    const int depth = int(n->depth());
    auto column = [&](int level) {
        const int x = isRightToLeft() ? row.right() + 1 - (level + 1) * levelIndent_
                                      : row.left() + level * levelIndent_;
        return QRect(x, row.top(), levelIndent_, row.height());
    };
    QStyleOption opt;
    opt.initFrom(this);
    opt.state &= ~QStyle::State_MouseOver;
    // The node's own column: its mark, and the lines of styles that draw them.
    opt.rect = column(depth);
    opt.state |= QStyle::State_Item;
    if (n->nextSibling())
        opt.state |= QStyle::State_Sibling;
    if (outlineModel->rowHasChildren(index.row()))
        opt.state |= QStyle::State_Children;
    if (outlineModel->rowIsOpen(index.row()))
        opt.state |= QStyle::State_Open;
    style()->drawPrimitive(QStyle::PE_IndicatorBranch, &opt, painter, this);
    // The ancestors' columns: a line where an ancestor has siblings below.
    int level = depth - 1;
    for (const Node *a = n->parent(); a && !a->isTop(); a = a->parent(), --level) {
        if (!a->nextSibling())
            continue;
        opt.rect = column(level);
        opt.state = (opt.state & ~(QStyle::State_Item | QStyle::State_Children | QStyle::State_Open))
            | QStyle::State_Sibling;
        style()->drawPrimitive(QStyle::PE_IndicatorBranch, &opt, painter, this);
    }
}

void OutlineView::toggle(const QModelIndex &index)
{
    TreeModel *outlineModel = treeModel();
    if (!outlineModel || !index.isValid() || !outlineModel->rowHasChildren(index.row()))
        return;
    outlineModel->setExpanded(outlineModel->nodeFor(index), !outlineModel->rowIsOpen(index.row()));
}

void OutlineView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                              const QList<int> &roles)
{
    QTreeView::dataChanged(topLeft, bottomRight, roles);
    // A row's mark lies outside its item: the whole row is drawn again.
    if (topLeft.isValid() && topLeft.row() == bottomRight.row()) {
        const QRect item = QTreeView::visualRect(topLeft);
        viewport()->update(QRect(0, item.top(), viewport()->width(), item.height()));
    }
}

QModelIndex OutlineView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    TreeModel *outlineModel = treeModel();
    const QModelIndex current = currentIndex();
    if (isRightToLeft()) {
        if (cursorAction == MoveLeft)
            cursorAction = MoveRight;
        else if (cursorAction == MoveRight)
            cursorAction = MoveLeft;
    }
    if (!outlineModel || !current.isValid() || (cursorAction != MoveLeft && cursorAction != MoveRight))
        return QTreeView::moveCursor(cursorAction, modifiers);
    const int row = current.row();
    const bool intoChildren
        = style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this);
    Node *n = outlineModel->nodeFor(current);
    if (cursorAction == MoveLeft) {
        // Left closes an open branch, else goes to the parent.
        if (outlineModel->rowIsOpen(row) && !outlineModel->filtering()) {
            outlineModel->setExpanded(n, false);
            return current;
        }
        if (intoChildren && !n->parent()->isTop()) {
            const QModelIndex up = outlineModel->indexFor(n->parent());
            if (up.isValid())
                return up;
        }
    } else {
        // Right opens a closed branch, else goes to the first child.
        if (outlineModel->rowHasChildren(row) && !outlineModel->rowIsOpen(row)) {
            outlineModel->setExpanded(n, true);
            return current;
        }
        if (intoChildren && outlineModel->rowIsOpen(row))
            return outlineModel->index(row + 1, 0);
    }
    return QTreeView::moveCursor(cursorAction, modifiers);
}

QModelIndex OutlineView::rowAt(const QPoint &pos) const
{
    if (!viewport()->rect().contains(pos))
        return {};
    return indexAt(QPoint(columnViewportPosition(0), pos.y()));
}

Node *OutlineView::nodeAt(const QPoint &pos) const { return nodeOf(rowAt(pos)); }

QStyleOptionViewItem OutlineView::itemOption(const QModelIndex &index) const
{
    // The option the item delegate paints the item with.
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualRect(index);
    opt.index = index;
    const QVariant font = index.data(Qt::FontRole);
    if (font.isValid()) {
        opt.font = qvariant_cast<QFont>(font).resolve(opt.font);
        opt.fontMetrics = QFontMetrics(opt.font);
    }
    opt.features |= QStyleOptionViewItem::HasDisplay;
    opt.text = index.data(Qt::DisplayRole).toString();
    const QVariant decoration = index.data(Qt::DecorationRole);
    switch (decoration.userType()) {
    case QMetaType::QIcon:
        opt.icon = qvariant_cast<QIcon>(decoration);
        break;
    case QMetaType::QPixmap:
        opt.icon = QIcon(qvariant_cast<QPixmap>(decoration));
        break;
    case QMetaType::QImage:
        opt.icon = QIcon(QPixmap::fromImage(qvariant_cast<QImage>(decoration)));
        break;
    default:
        break;
    }
    if (!opt.icon.isNull()) {
        opt.features |= QStyleOptionViewItem::HasDecoration;
        const QIcon::Mode mode = (opt.state & QStyle::State_Enabled) ? QIcon::Normal : QIcon::Disabled;
        opt.decorationSize = opt.icon.actualSize(opt.decorationSize, mode, QIcon::Off);
    }
    return opt;
}

QRect OutlineView::itemRect(const QModelIndex &index) const
{
    const QRect row = visualRect(index);
    if (!index.isValid() || row.isEmpty())
        return {};
    const QStyleOptionViewItem opt = itemOption(index);
    const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, this);
    // The label ends where its text does (with the margins the style draws
    // it with), not at the row's right edge.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int labelRight
        = std::min(text.right(), text.left() + 2 * margin + opt.fontMetrics.horizontalAdvance(opt.text) - 1);
    int left = text.left();
    if (opt.features & QStyleOptionViewItem::HasDecoration)
        left = std::min(left, style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, this).left());
    return QRect(QPoint(left, row.top()), QPoint(std::max(left, labelRight), row.bottom()));
}

bool OutlineView::captionElided(const QModelIndex &index) const
{
    if (!index.isValid())
        return false;
    const QStyleOptionViewItem opt = itemOption(index);
    const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, this);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return opt.fontMetrics.horizontalAdvance(opt.text) + 2 * margin > text.width();
}

bool OutlineView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex index = rowAt(help->pos());
        if (captionElided(index))
            QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(), viewport(),
                               visualRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QTreeView::viewportEvent(event);
}

bool OutlineView::isOnItem(const QPoint &pos) const
{
    const QModelIndex index = rowAt(pos);
    return index.isValid() && itemRect(index).contains(pos);
}

Node *OutlineView::draggedNode() const { return nodeOf(draggedIndex_); }

Node *OutlineView::dropTarget() const { return nodeOf(dropTargetIndex_); }

QLabel *OutlineView::dragImage() const
{
    return dragImage_ && dragImage_->isVisible() ? dragImage_ : nullptr;
}

void OutlineView::mousePressEvent(QMouseEvent *event)
{
    // A press that finds a drag still running (its release went elsewhere)
    // ends that drag first.
    if (dragState_ != DragState::None)
        cancelDrag();
    releaseOwed_ = false;
    pendingRenameTimer_.stop();
    if (event->button() == Qt::LeftButton) {
        // A press on the open mark opens or closes the branch and selects nothing.
        const QModelIndex row = rowAt(event->position().toPoint());
        if (row.isValid() && markRect(row).contains(event->position().toPoint())) {
            toggle(row);
            return;
        }
    }
    QTreeView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    draggedIndex_ = rowAt(pos);
    if (draggedIndex_.isValid() && dragDropEnabled_ && !dragSuspended_ && isOnItem(pos))
        beginDrag(pos, event->globalPosition(), event->modifiers());
}

void OutlineView::beginDrag(const QPoint &pos, const QPointF &globalPos, Qt::KeyboardModifiers modifiers)
{
    dragState_ = DragState::Pending;
    releaseOwed_ = true;
    pressPos_ = pos;
    dropAccepted_ = false;
    viewport()->installEventFilter(releaseGate_); // in front of every other filter

    // The press is finished as a click at once: the tree sees a release
    // here, so whoever reacts to clicks on the tree does so now, with the
    // pressed node selected. The real release later belongs to the drag.
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos), globalPos, Qt::LeftButton, Qt::NoButton,
                        modifiers);
    finishingPress_ = true;
    QCoreApplication::sendEvent(viewport(), &release);
    finishingPress_ = false;
}

void OutlineView::mouseMoveEvent(QMouseEvent *event)
{
    if (dragState_ == DragState::None) {
        // After Esc the button is still the drag's: it selects nothing.
        if (!(releaseOwed_ && (event->buttons() & Qt::LeftButton)))
            QTreeView::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (dragState_ == DragState::Pending) {
        const QPoint travel = pos - pressPos_;
        if (std::abs(travel.x()) < kDragThreshold && std::abs(travel.y()) < kDragThreshold)
            return;
        startDragging(pos);
        if (dragState_ != DragState::Active)
            return;
    }
    dragOver(pos);
}

void OutlineView::mouseReleaseEvent(QMouseEvent *event)
{
    // Normally the gate has taken a drag's release already; this covers a
    // filter put in front of the gate since the drag was armed.
    if (!finishingPress_ && event->button() == Qt::LeftButton && releaseOwed_) {
        finishDrag(event->position().toPoint());
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

void OutlineView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (dragState_ != DragState::None)
        cancelDrag();
    releaseOwed_ = false;
    pendingRenameTimer_.stop();
    const QPoint pos = event->position().toPoint();
    const QModelIndex row = rowAt(pos);
    // A double click on the mark is two clicks on it; the first one counted.
    if (event->button() == Qt::LeftButton && row.isValid() && markRect(row).contains(pos))
        return;
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    draggedIndex_ = rowAt(pos);
    // A double click on a node opens or closes its branch, unless it began renaming.
    if (expandsOnDoubleClick() && state() == NoState && row.isValid() && QModelIndex(draggedIndex_) == row)
        toggle(row);
}

void OutlineView::keyPressEvent(QKeyEvent *event)
{
    if (dragState_ != DragState::None && event->key() == Qt::Key_Escape) {
        cancelDrag();
        event->accept();
        return;
    }
    TreeModel *outlineModel = treeModel();
    const QModelIndex current = currentIndex();
    if (outlineModel && current.isValid() && state() != EditingState
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        Node *n = outlineModel->nodeFor(current);
        switch (event->key()) {
        case Qt::Key_Plus:
            outlineModel->setExpanded(n, true);
            event->accept();
            return;
        case Qt::Key_Minus:
            outlineModel->setExpanded(n, false);
            event->accept();
            return;
        case Qt::Key_Asterisk:
            outlineModel->expandBranch(n);
            event->accept();
            return;
        default:
            break;
        }
    }
    QTreeView::keyPressEvent(event);
}

bool OutlineView::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    // No label editing while a drag is armed or running. The click on the
    // selected label that armed the drag asks for renaming all the same:
    // it begins after the double-click time, as without dragging, if no
    // drag runs by then.
    if (dragState_ != DragState::None) {
        if (finishingPress_ && trigger == SelectedClicked && (editTriggers() & SelectedClicked)) {
            pendingRenameIndex_ = index;
            pendingRenameTimer_.start(QApplication::doubleClickInterval(), this);
        }
        return false;
    }
    // The rename a click on the selected label asks for begins after the
    // double-click time. When the focus has gone elsewhere meanwhile (the
    // user clicked into the note), it does not begin: the keys meant for
    // the note must not end up in the node's caption.
    if (trigger == AllEditTriggers && !event && !hasFocus())
        return false;
    return QTreeView::edit(index, trigger, event);
}

void OutlineView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != pendingRenameTimer_.timerId()) {
        QTreeView::timerEvent(event);
        return;
    }
    pendingRenameTimer_.stop();
    const QModelIndex index = pendingRenameIndex_;
    pendingRenameIndex_ = QPersistentModelIndex();
    if (dragState_ == DragState::None && !releaseOwed_ && index.isValid() && index == currentIndex()
        && state() == NoState && hasFocus() && editTriggers() != NoEditTriggers)
        QTreeView::edit(index, AllEditTriggers, nullptr);
}

QItemSelectionModel::SelectionFlags OutlineView::selectionCommand(const QModelIndex &index,
                                                                  const QEvent *event) const
{
    // Ctrl with a click or Space on the selected node would leave the tree
    // with nothing selected, and the note's edits with nowhere to go: it
    // selects the node like a plain click instead.
    QItemSelectionModel::SelectionFlags flags = QTreeView::selectionCommand(index, event);
    if (selectionMode() == QAbstractItemView::SingleSelection && (flags & QItemSelectionModel::Deselect))
        flags = (flags & ~QItemSelectionModel::SelectionFlags(QItemSelectionModel::Deselect))
            | QItemSelectionModel::ClearAndSelect;
    return flags;
}

void OutlineView::startDragging(const QPoint &pos)
{
    if (!draggedIndex_.isValid()) { // the node went away meanwhile
        cancelDrag();
        return;
    }
    dragState_ = DragState::Active;
    pendingRenameTimer_.stop();
    const QPixmap picture = renderItem(draggedIndex_);
    dragImage_ = new QLabel(viewport());
    dragImage_->setObjectName(QStringLiteral("DragImage"));
    dragImage_->setAttribute(Qt::WA_TransparentForMouseEvents);
    dragImage_->setFrameShape(QFrame::NoFrame);
    dragImage_->setContentsMargins(0, 0, 0, 0);
    dragImage_->setPixmap(picture);
    dragImage_->resize(picture.deviceIndependentSize().toSize());
    showDragImage(pos);
}

QPixmap OutlineView::renderItem(const QModelIndex &index) const
{
    const QRect item = itemRect(index);
    if (item.isEmpty())
        return {};
    const qreal ratio = devicePixelRatioF();
    QPixmap picture(item.size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setOpacity(0.75);
    painter.translate(-item.topLeft());
    QStyleOptionViewItem opt = itemOption(index);
    opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver);
    itemDelegateForIndex(index)->paint(&painter, opt, index);
    return picture;
}

void OutlineView::showDragImage(const QPoint &pos)
{
    if (!dragImage_)
        return;
    dragImage_->move(pos - kImageHotSpot);
    dragImage_->show();
    dragImage_->raise();
}

void OutlineView::dragOver(const QPoint &pos)
{
    if (!viewport()->rect().contains(pos)) {
        // Off the tree: no highlight, no image, nothing accepted.
        setDropTarget({});
        if (dragImage_)
            dragImage_->hide();
        dropAccepted_ = false;
        viewport()->setCursor(Qt::ForbiddenCursor);
        return;
    }
    // Over empty space the last highlight stays.
    const QModelIndex row = rowAt(pos);
    if (row.isValid())
        setDropTarget(row);
    showDragImage(pos);
    dropAccepted_ = acceptsAt(pos);
    viewport()->setCursor(dropAccepted_ ? Qt::DragMoveCursor : Qt::ForbiddenCursor);
}

bool OutlineView::acceptsAt(const QPoint &pos) const
{
    if (!dragDropEnabled_ || dragSuspended_ || !viewport()->rect().contains(pos))
        return false;
    // A custom drop decides for itself what dropping anywhere means.
    if (customDragDrop_ && onDragNodeEvent_)
        return true;
    // A branch cannot become a child of one of its own nodes.
    const Node *dragged = draggedNode();
    const Node *over = nodeAt(pos);
    return !(dragged && over && dragged->isAncestorOf(over));
}

void OutlineView::setDropTarget(const QModelIndex &index)
{
    if (QModelIndex(dropTargetIndex_) == index)
        return;
    dropTargetIndex_ = index;
    viewport()->update();
}

void OutlineView::drawRow(QPainter *painter, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const
{
    // The row is drawn as the view draws a flat row, moved right by its
    // indentation; the marks go into the room that leaves.
    const int indent = rowIndent(index);
    drawMarks(painter, option.rect, index);
    painter->save();
    painter->translate(isRightToLeft() ? -indent : indent, 0);
    QTreeView::drawRow(painter, option, index);
    painter->restore();
    if (!dropTargetIndex_.isValid() || QModelIndex(dropTargetIndex_) != index)
        return;
    // The drop target: its icon and label drawn as selected.
    QStyleOptionViewItem opt = itemOption(index);
    opt.state |= QStyle::State_Selected | QStyle::State_Active;
    opt.showDecorationSelected = true;
    painter->save();
    painter->setClipRect(itemRect(index), Qt::IntersectClip);
    itemDelegateForIndex(index)->paint(painter, opt, index);
    painter->restore();
}

void OutlineView::endDrag()
{
    dragState_ = DragState::None;
    dropAccepted_ = false;
    setDropTarget({});
    if (dragImage_) {
        dragImage_->hide();
        dragImage_->deleteLater();
        dragImage_ = nullptr;
    }
    viewport()->unsetCursor();
}

void OutlineView::cancelDrag() { endDrag(); }

void OutlineView::finishDrag(const QPoint &pos)
{
    const bool drops = dragState_ == DragState::Active && acceptsAt(pos);
    releaseOwed_ = false;
    // The highlight goes before the drop is handled.
    endDrag();
    if (drops)
        drop(pos);
}

void OutlineView::drop(const QPoint &pos)
{
    // Only a drop on a node's icon or label does anything.
    const QModelIndex at = rowAt(pos);
    if (!at.isValid() || !itemRect(at).contains(pos))
        return;
    TreeModel *outlineModel = treeModel();
    Node *dragged = draggedNode();
    if (!outlineModel || !dragged)
        return;
    Node *target = outlineModel->nodeFor(at);
    try {
        if (customDragDrop_ && onDragNodeEvent_) {
            onDragNodeEvent_(dragged, target);
            return;
        }
        if (target != dragged && !dragged->isAncestorOf(target))
            moveBranch(dragged, target);
    } catch (const std::exception &e) {
        msg::showError(window(), e);
    }
}

void OutlineView::moveBranch(Node *dragged, Node *target)
{
    TreeModel *outlineModel = treeModel();
    Node *parent = dragged->parent();
    const size_t row = dragged->row();

    // A failing handler must not leave the branch half moved: the removal
    // runs to the end and the first failure is reported afterwards.
    std::exception_ptr failure;
    auto beforeEach = [this, &failure](Node *n) {
        if (!onDeleteNode_)
            return;
        try {
            onDeleteNode_(n);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    Node *selected = nullptr;
    if (selectionModel()) {
        const QModelIndexList rows = selectionModel()->selectedRows();
        if (!rows.isEmpty())
            selected = outlineModel->nodeFor(rows.first());
    }
    std::unique_ptr<EditStep> step = dragMoveStep(catalog_, dragged, target, selected, beforeEach);

    // The dragged node was the selected one. When the view has not chosen
    // another, the node that took its place is selected, else the one
    // before it, else its parent.
    if (selectionModel() && !selectionModel()->hasSelection()) {
        Node *next = nullptr;
        if (row < parent->childCount())
            next = parent->child(row);
        else if (row > 0)
            next = parent->child(row - 1);
        else if (!parent->isTop())
            next = parent;
        if (next)
            selectionModel()->setCurrentIndex(outlineModel->indexFor(next),
                                              QItemSelectionModel::ClearAndSelect
                                                  | QItemSelectionModel::Rows);
    }
    if (step && onMoveStep)
        onMoveStep(std::move(step));
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace qv

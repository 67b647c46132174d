#include "gui/tree/TreePane.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "catalog/Search.h"
#include "gui/common/Codec.h"
#include "gui/common/Contrast.h"
#include "gui/common/WidgetLook.h"
#include "gui/tree/FindController.h"
#include "gui/tree/IconPalette.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <qdrawutil.h>

namespace qv {

namespace {

// Label editing: beginning records the caption, confirming goes to the
// pane's rename handler instead of the model.
class RenameDelegate : public QStyledItemDelegate {
public:
    RenameDelegate(TreePane *pane, TreeCommands *commands)
        : QStyledItemDelegate(pane), pane_(pane), commands_(commands)
    {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        commands_->beginRename(index);
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    void setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const override
    {
        // A box shown while confirming takes the focus from the editor,
        // which asks to commit once more: that second request is dropped.
        if (committing_)
            return;
        if (auto *line = qobject_cast<QLineEdit *>(editor)) {
            committing_ = true;
            commands_->finishRename(index, line->text());
            committing_ = false;
        }
    }

    // The caption's part that matches the find is painted on a highlight.
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString query = pane_->findQuery();
        if (!query.isEmpty() && pane_->filtering()) {
            QStyleOptionViewItem opt = option;
            initStyleOption(&opt, index);
            const Bytes folded = foldForSearch(fromQ(opt.text));
            const size_t at = folded.find(foldForSearch(fromQ(query)));
            if (at != Bytes::npos) {
                const QWidget *widget = opt.widget;
                QStyle *style = widget ? widget->style() : QApplication::style();
                const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
                const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
                const QFontMetrics fm(opt.font);
                const int left = text.left() + margin + fm.horizontalAdvance(opt.text.left(int(at)));
                const int width = fm.horizontalAdvance(opt.text.mid(int(at), query.size()));
                // Yellow, darkened where the tree's text is light.
                const QColor ink = opt.palette.color(QPalette::Text);
                painter->fillRect(QRect(left, text.top() + 1, width, text.height() - 2),
                                  contrast::readableOn(ink, QColor(255, 230, 80)));
            }
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    TreePane *pane_;
    TreeCommands *commands_;
    mutable bool committing_ = false;
};

// The tree toolbar, with the line along its bottom edge.
class EdgedToolBar : public QToolBar {
public:
    using QToolBar::QToolBar;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QToolBar::paintEvent(event);
        QPainter painter(this);
        qDrawShadeLine(&painter, 0, height() - 1, width(), height() - 1, palette(), true, 1, 0);
    }
};

constexpr int kToolbarHeight = 30;
constexpr int kToolButtonSize = 25;
// The room between the expand/collapse pair and the move pair.
constexpr int kMoveGroupGap = 36;

} // namespace

TreePane::TreePane(Catalog &catalog, QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("Panel1"));
    setFrameShape(QFrame::NoFrame);
    setMinimumWidth(kMinimumWidth);

    buildTree(catalog);
    commands_ = new TreeCommands(*this, catalog);
    find_ = new FindController(*this, catalog);
    tree_->setItemDelegate(new RenameDelegate(this, commands_));
    buildToolbar();
    palette_ = new IconPalette(this);
    buildMenu();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar_);
    layout->addWidget(palette_);
    layout->addWidget(find_->findBar());
    layout->addWidget(tree_, 1);

    connect(palette_, &IconPalette::iconChosen, commands_, &TreeCommands::setIcon);
    connect(commands_, &TreeCommands::commandDone, this, &TreePane::commandDone);
    connect(commands_, &TreeCommands::selectionSettled, this,
            [this] { emit selectionMoved(selectedNode()); });
    connect(commands_, &TreeCommands::captionsChanged, find_, &FindController::captionsChanged);
    connect(commands_, &TreeCommands::historyStepped, find_, &FindController::invalidate);
    connect(find_, &FindController::filteringChanged, commands_, &TreeCommands::refreshStructuralActions);
    connect(find_, &FindController::selectionHidden, this, [this] { emit selectionMoved(selectedNode()); });
    connect(find_, &FindController::queryChanged, this, &TreePane::findQueryChanged);
    tree_->onMoveStep = [this](std::unique_ptr<EditStep> step) { commands_->pushStep(std::move(step)); };
}

TreePane::~TreePane()
{
    // The pane's own parts go after it (the undo stack clears itself then):
    // none of their signals may reach the pane any more.
    for (QObject *part : findChildren<QObject *>())
        disconnect(part, nullptr, this, nullptr);
}

void TreePane::buildToolbar()
{
    toolbar_ = new EdgedToolBar(this);
    toolbar_->setObjectName(QStringLiteral("CoolBar1"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setFixedHeight(kToolbarHeight);
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->setContentsMargins(0, 0, 0, 0);
    toolbar_->layout()->setContentsMargins(1, 1, 0, 0);
    toolbar_->layout()->setSpacing(0);

    auto addButton = [this](QAction *a, const char *buttonName) {
        toolbar_->addAction(a);
        QWidget *b = toolbar_->widgetForAction(a);
        b->setObjectName(QString::fromLatin1(buttonName));
        b->setFixedSize(kToolButtonSize, kToolButtonSize);
        b->setFocusPolicy(Qt::NoFocus);
    };
    addButton(commands_->createNodeAction(), "SpeedButton1");
    addButton(commands_->createChildAction(), "SpeedButton15");
    addButton(commands_->deleteNodeAction(), "SpeedButton2");
    toolbar_->addSeparator();
    addButton(commands_->expandAllAction(), "SpeedButton16");
    addButton(commands_->collapseAllAction(), "SpeedButton17");
    // The find button sits in the room before the move pair.
    auto *gap = new QWidget(toolbar_);
    gap->setFixedWidth((kMoveGroupGap - kToolButtonSize) / 2);
    toolbar_->addWidget(gap);
    addButton(find_->findAction(), "findButton");
    gap = new QWidget(toolbar_);
    gap->setFixedWidth(kMoveGroupGap - kToolButtonSize - (kMoveGroupGap - kToolButtonSize) / 2);
    toolbar_->addWidget(gap);
    addButton(commands_->moveUpAction(), "SpeedButton13");
    addButton(commands_->moveDownAction(), "SpeedButton14");
}

void TreePane::buildMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("PopupMenu1"));
    contextMenu_->addAction(commands_->createNodeAction());
    contextMenu_->addAction(commands_->createChildAction());
    contextMenu_->addAction(commands_->deleteNodeAction());
    contextMenu_->addSeparator();
    contextMenu_->addAction(commands_->expandAllAction());
    contextMenu_->addAction(commands_->collapseAllAction());
    contextMenu_->addSeparator();
    contextMenu_->addAction(commands_->moveUpAction());
    contextMenu_->addAction(commands_->moveDownAction());
    contextMenu_->addSeparator();
    contextMenu_->addAction(commands_->undoAction());
    contextMenu_->addAction(commands_->redoAction());
}

void TreePane::buildTree(Catalog &catalog)
{
    tree_ = new OutlineView(catalog, this);
    model_ = new TreeModel(catalog.outline(), this);
    tree_->setModel(model_);
    tree_->setFrameShape(QFrame::NoFrame);
    tree_->setHeaderHidden(true);
    tree_->setLevelIndent(19);
    tree_->setIconSize(QSize(16, 16));
    tree_->setUniformRowHeights(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    tree_->installEventFilter(this);
    tree_->viewport()->installEventFilter(this);

    QPalette pal = tree_->palette();
    // The selection stays visible while the tree has no focus.
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    tree_->setPalette(pal);
    setTreeColors(qv::panelColor(), pal.color(QPalette::Active, QPalette::Text));

    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TreePane::selectionChanged);
    connect(model_, &TreeModel::collapsing, this, &TreePane::branchCollapsing);
    connect(tree_, &QWidget::customContextMenuRequested, this, &TreePane::showMenu);
}

QToolButton *TreePane::button(const QString &name) const { return toolbar_->findChild<QToolButton *>(name); }

QAction *TreePane::action(const QString &name) const
{
    for (const QObject *owner :
         {static_cast<const QObject *>(commands_), static_cast<const QObject *>(find_)})
        if (auto *a = owner->findChild<QAction *>(name, Qt::FindDirectChildrenOnly))
            return a;
    return nullptr;
}

bool TreePane::filtering() const { return model_->filtering(); }

QString TreePane::findQuery() const { return find_->query(); }

void TreePane::noteEdited() { find_->noteEdited(); }

void TreePane::setBeforeCommand(std::function<void()> before)
{
    commands_->setBeforeCommand(std::move(before));
}

Node *TreePane::selectedNode() const
{
    const QModelIndexList rows = tree_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    return model_->nodeFor(rows.first());
}

void TreePane::selectNode(Node *node)
{
    if (!node || node->isTop()) {
        tree_->selectionModel()->clearSelection();
        return;
    }
    model_->reveal(node);
    const QModelIndex index = model_->indexFor(node);
    if (!index.isValid()) {
        tree_->selectionModel()->clearSelection();
        return;
    }
    tree_->selectionModel()->setCurrentIndex(index,
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    tree_->scrollTo(index);
}

void TreePane::setTreeFont(const QString &face, int pointSize)
{
    applyFontFaceAndSize(tree_, face, pointSize);
}

void TreePane::setReadOnly(bool readOnly)
{
    commands_->setReadOnly(readOnly);
    tree_->setEditTriggers(readOnly ? QAbstractItemView::NoEditTriggers
                                    : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TreePane::setTreeColors(const QColor &background, const QColor &text)
{
    // A text colour that comes from the system palette may not suit the
    // stored background (light text of a dark theme on the light default).
    applyTextColors(tree_, background, contrast::readableOn(background, text, contrast::kStrong));
}

void TreePane::selectionChanged()
{
    if (find_->refiltering())
        return;
    if (commands_->busy())
        commands_->deferSelection();
    else
        emit selectionMoved(selectedNode());
}

void TreePane::branchCollapsing(Node *node)
{
    // A collapse that hides the selected node moves the selection to the
    // collapsed node.
    Node *selected = selectedNode();
    if (selected && node->isAncestorOf(selected))
        selectNode(node);
}

void TreePane::showMenu(const QPoint &pos) { contextMenu_->popup(tree_->viewport()->mapToGlobal(pos)); }

void TreePane::showMenuAtSelection()
{
    QPoint at; // the viewport's corner when nothing is selected
    if (Node *selected = selectedNode()) {
        const QModelIndex index = model_->indexFor(selected);
        tree_->scrollTo(index);
        const QRect item = tree_->itemRect(index);
        if (!item.isEmpty())
            at = item.bottomLeft();
    }
    contextMenu_->popup(tree_->viewport()->mapToGlobal(at));
}

bool TreePane::isCommandKey(const QKeyEvent *key) const
{
    const QKeySequence pressed(key->keyCombination());
    const QKeySequence unpadded(QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
    const TreeCommands *c = commands_;
    for (const QAction *a :
         {c->createNodeAction(), c->createChildAction(), c->deleteNodeAction(), c->expandAllAction(),
          c->collapseAllAction(), c->moveUpAction(), c->moveDownAction()}) {
        for (const QKeySequence &keys : a->shortcuts())
            if (keys == pressed || keys == unpadded)
                return true;
    }
    return false;
}

bool TreePane::isUndoKey(const QKeyEvent *key)
{
    return key->matches(QKeySequence::Undo) || key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_Z);
}

bool TreePane::isRedoKey(const QKeyEvent *key)
{
    const QKeyCombination pressed = key->keyCombination();
    return key->matches(QKeySequence::Redo) || pressed == QKeyCombination(Qt::CTRL, Qt::Key_Y)
        || pressed == QKeyCombination(Qt::CTRL | Qt::SHIFT, Qt::Key_Z);
}

bool TreePane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == tree_) {
        const bool renaming = tree_->isRenaming();
        switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // The rename line's keys stay its own: the node commands' keys
            // type into it (the key comes up here unless the line took it).
            const auto *key = static_cast<QKeyEvent *>(event);
            if (renaming && isCommandKey(key)) {
                event->accept();
                return true;
            }
            // Undo and redo come to the tree as key presses, before any
            // window-wide action on the same keys.
            if (!renaming && (isUndoKey(key) || isRedoKey(key))) {
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::ContextMenu:
            // Mouse menus arrive at the viewport; this one is the menu key's.
            if (static_cast<QContextMenuEvent *>(event)->reason() == QContextMenuEvent::Keyboard) {
                if (!renaming)
                    showMenuAtSelection();
                return true;
            }
            break;
        case QEvent::KeyPress: {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (!renaming && key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
                showMenuAtSelection();
                return true;
            }
            if (!renaming && isUndoKey(key)) {
                commands_->undo();
                return true;
            }
            if (!renaming && isRedoKey(key)) {
                commands_->redo();
                return true;
            }
            break;
        }
        default:
            break;
        }
    } else if (watched == tree_->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto *me = static_cast<QMouseEvent *>(event);
            // A right click opens the menu without moving the selection.
            if (me->button() == Qt::RightButton)
                return true;
            if (event->type() == QEvent::MouseButtonRelease && me->button() == Qt::LeftButton) {
                if (Node *n = selectedNode())
                    emit treeClicked(n);
            }
            break;
        }
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace qv

#include "gui/tree/TreePane.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "catalog/Search.h"
#include "gui/common/Codec.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"
#include "gui/common/WidgetLook.h"
#include "gui/tree/IconPalette.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/UndoCommands.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>
#include <qdrawutil.h>

namespace qv {

namespace {

// The tree does not repaint while the scope lasts, however it is left.
class PaintPause {
public:
    explicit PaintPause(QWidget *widget) : widget_(widget) { widget_->setUpdatesEnabled(false); }
    ~PaintPause() { widget_->setUpdatesEnabled(true); }
    PaintPause(const PaintPause &) = delete;
    PaintPause &operator=(const PaintPause &) = delete;

private:
    QWidget *widget_;
};

const QString kRefusalTitle = QStringLiteral(u"Неверное действие");

// Label editing: beginning records the caption, confirming goes to the
// pane's rename handler instead of the model.
class RenameDelegate : public QStyledItemDelegate {
public:
    explicit RenameDelegate(TreePane *pane) : QStyledItemDelegate(pane), pane_(pane) {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        pane_->beginRename(index);
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
            pane_->finishRename(index, line->text());
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
                painter->fillRect(QRect(left, text.top() + 1, width, text.height() - 2),
                                  QColor(255, 230, 80));
            }
        }
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    TreePane *pane_;
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

TreePane::TreePane(Catalog &catalog, QWidget *parent) : QFrame(parent), catalog_(catalog)
{
    setObjectName(QStringLiteral("Panel1"));
    setFrameShape(QFrame::NoFrame);
    setMinimumWidth(kMinimumWidth);

    undoStack_ = new QUndoStack(this);
    undoStack_->setUndoLimit(kUndoLimit);
    buildTree();
    buildActions();
    buildToolbar();
    palette_ = new IconPalette(this);
    buildMenu();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar_);
    layout->addWidget(palette_);
    buildFindBar();
    layout->addWidget(findBar_);
    layout->addWidget(tree_, 1);

    connect(palette_, &IconPalette::iconChosen, this, &TreePane::setIcon);
    connect(undoStack_, &QUndoStack::indexChanged, this, &TreePane::refreshUndoActions);
    refreshUndoActions();
}

TreePane::~TreePane()
{
    // The pane's own parts go after it (the undo stack clears itself then):
    // none of their signals may reach the pane any more.
    for (QObject *part : findChildren<QObject *>())
        disconnect(part, nullptr, this, nullptr);
}

void TreePane::buildActions()
{
    // Each command's hint goes to the status bar; its tooltip adds the first key.
    auto command = [this](const char *name, const char16_t *text, const char16_t *hint, const char *glyph,
                          QList<QKeySequence> keys, void (TreePane::*handler)()) {
        auto *a = new QAction(QString::fromUtf16(text), this);
        a->setObjectName(QString::fromLatin1(name));
        a->setIcon(icons::glyph(QString::fromLatin1(glyph)));
        a->setStatusTip(QString::fromUtf16(hint));
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        a->setToolTip(
            QStringLiteral("%1 (%2)").arg(a->statusTip(), keys.first().toString(QKeySequence::NativeText)));
        connect(a, &QAction::triggered, this, handler);
        // The keys work while the tree (not the note) has the focus.
        tree_->addAction(a);
        return a;
    };
    QList<QKeySequence> deleteKeys = QKeySequence::keyBindings(QKeySequence::Delete);
    if (deleteKeys.isEmpty())
        deleteKeys = {QKeySequence(Qt::Key_Delete)};
    createNodeAction_
        = command("N1", u"Создать узел", u"Создать узел", "create",
                  {QKeySequence(QKeySequence::New), QKeySequence(Qt::Key_Insert)}, &TreePane::createNode);
    createChildAction_
        = command("N12", u"Создать потомка", u"Создать потомка", "createChild",
                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), QKeySequence(Qt::CTRL | Qt::Key_Insert)},
                  &TreePane::createChild);
    deleteNodeAction_
        = command("N2", u"Удалить узел", u"Удалить узел", "delete", deleteKeys, &TreePane::deleteNode);
    expandAllAction_
        = command("N14", u"Развернуть все ветви", u"Развернуть все ветви", "expandAll",
                  {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                  &TreePane::expandAll);
    collapseAllAction_ = command("N15", u"Свернуть все ветви", u"Свернуть все ветви", "collapseAll",
                                 {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, &TreePane::collapseAll);
    moveUpAction_ = command("N17", u"Переместить выше", u"Перемещение элемента дерева вверх", "moveUp",
                            {QKeySequence(Qt::ALT | Qt::Key_Up)}, &TreePane::moveUp);
    moveDownAction_ = command("N18", u"Переместить ниже", u"Перемещение элемента дерева вниз", "moveDown",
                              {QKeySequence(Qt::ALT | Qt::Key_Down)}, &TreePane::moveDown);

    // The menu items only: the keys are taken by the tree itself (see
    // eventFilter), so that they win over the note's window-wide undo.
    auto history = [this](const char *name, const char16_t *hint, const char *glyph, const QKeySequence &key,
                          void (TreePane::*handler)()) {
        auto *a = new QAction(this);
        a->setObjectName(QString::fromLatin1(name));
        a->setIcon(icons::glyph(QString::fromLatin1(glyph)));
        a->setStatusTip(QString::fromUtf16(hint));
        a->setToolTip(QStringLiteral("%1 (%2)").arg(a->statusTip(), key.toString(QKeySequence::NativeText)));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    undoAction_
        = history("treeUndoAction", u"Отменить", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &TreePane::undo);
    redoAction_ = history("treeRedoAction", u"Повторить", "redo", QKeySequence(Qt::CTRL | Qt::Key_Y),
                          &TreePane::redo);

    // Finding works from anywhere in the window.
    auto windowWide = [this](const char *name, const char16_t *text, const QKeySequence &key,
                             void (TreePane::*handler)()) {
        auto *a = new QAction(QString::fromUtf16(text), this);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(a->text());
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(QStringLiteral("%1 (%2)").arg(a->statusTip(), key.toString(QKeySequence::NativeText)));
        connect(a, &QAction::triggered, this, handler);
        addAction(a);
        return a;
    };
    findAction_ = windowWide("findAction", u"Найти", QKeySequence(QKeySequence::Find), &TreePane::openFind);
    findAction_->setIcon(QIcon::fromTheme(QStringLiteral("edit-find"),
                                          style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    findNextAction_
        = windowWide("findNextAction", u"Найти следующий", QKeySequence(Qt::Key_F3), &TreePane::findNext);
    findPreviousAction_ = windowWide("findPreviousAction", u"Найти предыдущий",
                                     QKeySequence(Qt::SHIFT | Qt::Key_F3), &TreePane::findPrevious);
}

void TreePane::buildFindBar()
{
    findBar_ = new QWidget(this);
    findBar_->setObjectName(QStringLiteral("findBar"));
    auto *row = new QHBoxLayout(findBar_);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    findField_ = new QLineEdit(findBar_);
    findField_->setObjectName(QStringLiteral("findField"));
    findField_->setPlaceholderText(QStringLiteral(u"Найти"));
    findField_->setClearButtonEnabled(true);
    findField_->installEventFilter(this);
    findCount_ = new QLabel(findBar_);
    findCount_->setObjectName(QStringLiteral("findCount"));
    row->addWidget(findField_, 1);
    row->addWidget(findCount_);
    findBar_->hide();
    connect(findField_, &QLineEdit::textChanged, this, &TreePane::queryEdited);
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
    addButton(createNodeAction_, "SpeedButton1");
    addButton(createChildAction_, "SpeedButton15");
    addButton(deleteNodeAction_, "SpeedButton2");
    toolbar_->addSeparator();
    addButton(expandAllAction_, "SpeedButton16");
    addButton(collapseAllAction_, "SpeedButton17");
    // The find button sits in the room before the move pair.
    auto *gap = new QWidget(toolbar_);
    gap->setFixedWidth((kMoveGroupGap - kToolButtonSize) / 2);
    toolbar_->addWidget(gap);
    addButton(findAction_, "findButton");
    gap = new QWidget(toolbar_);
    gap->setFixedWidth(kMoveGroupGap - kToolButtonSize - (kMoveGroupGap - kToolButtonSize) / 2);
    toolbar_->addWidget(gap);
    addButton(moveUpAction_, "SpeedButton13");
    addButton(moveDownAction_, "SpeedButton14");
}

void TreePane::buildMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("PopupMenu1"));
    contextMenu_->addAction(createNodeAction_);
    contextMenu_->addAction(createChildAction_);
    contextMenu_->addAction(deleteNodeAction_);
    contextMenu_->addSeparator();
    contextMenu_->addAction(expandAllAction_);
    contextMenu_->addAction(collapseAllAction_);
    contextMenu_->addSeparator();
    contextMenu_->addAction(moveUpAction_);
    contextMenu_->addAction(moveDownAction_);
    contextMenu_->addSeparator();
    contextMenu_->addAction(undoAction_);
    contextMenu_->addAction(redoAction_);
}

void TreePane::buildTree()
{
    tree_ = new OutlineView(catalog_, this);
    model_ = new TreeModel(catalog_.outline(), this);
    tree_->setModel(model_);
    tree_->setItemDelegate(new RenameDelegate(this));
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
    // A new catalogue, or a change to the outline under a find, ends the find.
    connect(model_, &TreeModel::filterDropped, this, &TreePane::closeFind, Qt::QueuedConnection);
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { searchStale_ = true; });
    connect(tree_, &QWidget::customContextMenuRequested, this, &TreePane::showMenu);
    tree_->onMoveStep = [this](std::unique_ptr<EditStep> step) { pushStep(std::move(step)); };
}

QToolButton *TreePane::button(const QString &name) const { return toolbar_->findChild<QToolButton *>(name); }

QAction *TreePane::action(const QString &name) const
{
    return findChild<QAction *>(name, Qt::FindDirectChildrenOnly);
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

void TreePane::setTreeColors(const QColor &background, const QColor &text)
{
    applyTextColors(tree_, background, text);
}

void TreePane::run(const std::function<void()> &command)
{
    if (busy_)
        return;
    busy_ = true;
    try {
        if (beforeCommand_)
            beforeCommand_();
        command();
    } catch (const std::exception &e) {
        msg::showError(window(), e);
    }
    busy_ = false;
    if (selectionPending_) {
        selectionPending_ = false;
        emit selectionMoved(selectedNode());
    }
    emit commandDone();
}

void TreePane::selectionChanged()
{
    if (refiltering_)
        return;
    if (busy_)
        selectionPending_ = true;
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
    for (const QAction *a : {createNodeAction_, createChildAction_, deleteNodeAction_, expandAllAction_,
                             collapseAllAction_, moveUpAction_, moveDownAction_}) {
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
    if (watched == findField_ && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            moveToMatch(key->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            closeFind();
            return true;
        }
    }
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
                undo();
                return true;
            }
            if (!renaming && isRedoKey(key)) {
                redo();
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

void TreePane::createNode()
{
    if (filtering())
        return;
    run([this] {
        Node *selected = selectedNode();
        Node *created = nullptr;
        std::unique_ptr<EditStep> step;
        if (selected) {
            const PaintPause pause(tree_);
            step = createNodeStep(catalog_, selected);
        } else {
            step = createNodeStep(catalog_, nullptr);
        }
        if (step)
            created = nodeAt(catalog_.outline(), step->selectionAfter());
        selectNode(created);
        pushStep(std::move(step));
    });
}

void TreePane::createChild()
{
    if (filtering())
        return;
    run([this] {
        Node *selected = selectedNode();
        if (!selected)
            return;
        std::unique_ptr<EditStep> step;
        {
            const PaintPause pause(tree_);
            step = createChildStep(catalog_, selected);
        }
        if (!step)
            return;
        selectNode(nodeAt(catalog_.outline(), step->selectionAfter()));
        pushStep(std::move(step));
    });
}

void TreePane::deleteNode()
{
    if (filtering())
        return;
    run([this] {
        Node *selected = selectedNode();
        if (!selected)
            return;
        if (selected->hasChildren()) {
            msg::show(window(), QMessageBox::Warning, kRefusalTitle,
                      QStringLiteral(u"Невозможно удалить узел,\r\nсодержащий потомков.\r\n\r\n"
                                     u"Сначала удалите всех потомков."),
                      QMessageBox::Ok);
            return;
        }
        const auto answer
            = msg::show(window(), QMessageBox::Question, QStringLiteral(u"Подтверждение удаления"),
                        QStringLiteral(u"Удалить выбранный узел?"), QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        // The box's event loop may have let the selection move.
        if (selectedNode() == selected && !selected->hasChildren())
            pushStep(deleteLeafStep(catalog_, selected));
    });
}

void TreePane::expandAll()
{
    run([this] {
        model_->expandAll();
        if (Node *selected = selectedNode())
            tree_->scrollTo(model_->indexFor(selected));
    });
}

void TreePane::collapseAll()
{
    run([this] {
        // The selection goes to its root first, which stays shown.
        if (Node *selected = selectedNode()) {
            Node *root = selected;
            while (!root->isRoot())
                root = root->parent();
            if (root != selected)
                selectNode(root);
        }
        model_->collapseAll();
    });
}

void TreePane::moveUp()
{
    if (filtering())
        return;
    run([this] {
        Node *selected = selectedNode();
        if (auto step = moveUpStep(catalog_, selected)) {
            selectNode(selected);
            pushStep(std::move(step));
        }
    });
}

void TreePane::moveDown()
{
    if (filtering())
        return;
    run([this] {
        Node *selected = selectedNode();
        if (auto step = moveDownStep(catalog_, selected)) {
            selectNode(selected);
            pushStep(std::move(step));
        }
    });
}

void TreePane::setIcon(int k)
{
    run([this, k] {
        if (Node *selected = selectedNode())
            pushStep(setIconStep(catalog_, selected, k));
    });
}

void TreePane::beginRename(const QModelIndex &index)
{
    if (beforeCommand_) {
        try {
            beforeCommand_();
        } catch (const std::exception &e) {
            msg::showError(window(), e);
        }
    }
    captionAtRenameStart_ = model_->nodeFor(index)->caption();
}

void TreePane::finishRename(const QModelIndex &index, const QString &text)
{
    if (!index.isValid())
        return;
    Node *node = model_->nodeFor(index);
    run([this, node, &text] {
        const Bytes s = fromQ(text);
        Catalog::RenameResult result;
        std::unique_ptr<EditStep> step = renameStep(catalog_, node, captionAtRenameStart_, s, &result);
        // The nodes of both names may show another note now.
        searchEdited_.push_back(captionAtRenameStart_);
        searchEdited_.push_back(node->caption());
        const QString duplicate = QStringLiteral(u"Узел \"") + toQ(s)
            + QStringLiteral(u"\" \r\nуже имеется в списке.\r\n\r\nВведите другое имя.");
        for (size_t i = 0; i < result.duplicateMessages; ++i)
            msg::show(window(), QMessageBox::Warning, kRefusalTitle, duplicate, QMessageBox::Ok);
        if (result.invalidCaption)
            msg::show(window(), QMessageBox::Warning, kRefusalTitle,
                      QStringLiteral(u"Имя узла не может начинаться с пробела или табуляции\r\n"
                                     u"и не может содержать переводов строки."),
                      QMessageBox::Ok);
        pushStep(std::move(step));
    });
}

void TreePane::undo()
{
    if (filtering() || tree_->dragState() != OutlineView::DragState::None || !undoStack_->canUndo())
        return;
    searchStale_ = true;
    run([this] {
        undoStack_->undo();
        // The note shown follows the record even when the selection stays.
        selectionPending_ = true;
    });
}

void TreePane::redo()
{
    if (filtering() || tree_->dragState() != OutlineView::DragState::None || !undoStack_->canRedo())
        return;
    searchStale_ = true;
    run([this] {
        undoStack_->redo();
        // The note shown follows the record even when the selection stays.
        selectionPending_ = true;
    });
}

void TreePane::pushStep(std::unique_ptr<EditStep> step)
{
    if (!step)
        return;
    // Made again, the step leaves the selection the command left.
    step->setSelectionAfter(pathOf(selectedNode()));
    undoStack_->push(new StepCommand(catalog_, std::move(step), [this](const RowPath &path) {
        selectNode(nodeAt(catalog_.outline(), path));
    }));
}

void TreePane::refreshUndoActions()
{
    // "Отменить: удаление «Имя»"; the plain word when there is nothing.
    auto follow = [](QAction *a, const QString &word, bool can, const QString &step) {
        a->setEnabled(can);
        a->setText(can ? word + QStringLiteral(": ") + step : word);
    };
    const bool free = !filtering();
    follow(undoAction_, QStringLiteral(u"Отменить"), free && undoStack_->canUndo(), undoStack_->undoText());
    follow(redoAction_, QStringLiteral(u"Повторить"), free && undoStack_->canRedo(), undoStack_->redoText());
}

bool TreePane::filtering() const { return model_->filtering(); }

QString TreePane::findQuery() const { return findBar_->isVisible() ? findField_->text() : QString(); }

void TreePane::openFind()
{
    findBar_->show();
    findField_->setFocus(Qt::ShortcutFocusReason);
    findField_->selectAll();
    // The index is made ready once the bar is on screen, before the first
    // letter comes, so typing never waits for it.
    QTimer::singleShot(0, this, [this] {
        if (findBar_->isVisible())
            freshenSearch();
    });
}

void TreePane::closeFind()
{
    findField_->clear(); // shows the whole tree again
    findBar_->hide();
    tree_->setFocus(Qt::OtherFocusReason);
    emit findQueryChanged(QString());
}

void TreePane::findNext() { moveToMatch(1); }

void TreePane::findPrevious() { moveToMatch(-1); }

void TreePane::queryEdited(const QString &text)
{
    const Bytes query = fromQ(text);
    if (query.empty()) {
        stopFiltering();
        findCount_->clear();
        lastQuery_.clear();
        emit findQueryChanged(QString());
        return;
    }
    freshenSearch();
    std::vector<const Node *> found;
    if (narrowable_ && filtering() && !lastQuery_.isEmpty()
        && foldForSearch(query).starts_with(foldForSearch(fromQ(lastQuery_)))) {
        // Typing on narrows the previous result.
        found = search_->findNodes(query, model_->matches());
    } else {
        found = search_->findNodes(query);
    }
    narrowable_ = true;
    lastQuery_ = text;

    Node *selected = selectedNode();
    if (!filtering()) {
        // Dimmed: halfway between the tree's text and its background.
        const QColor ink = tree_->palette().color(QPalette::Text);
        const QColor base = tree_->palette().color(QPalette::Base);
        model_->setDimColor(QColor((ink.red() + base.red()) / 2, (ink.green() + base.green()) / 2,
                                   (ink.blue() + base.blue()) / 2));
    }
    refiltering_ = true;
    model_->setFilter(std::move(found));
    refiltering_ = false;
    refreshStructuralActions();
    const size_t count = model_->matches().size();
    findCount_->setText(count == 0 ? QStringLiteral(u"Ничего не найдено")
                                   : QStringLiteral(u"Найдено: %1").arg(count));
    // The selection stays on a node still shown.
    const QModelIndex at = selected ? model_->indexFor(selected) : QModelIndex();
    if (at.isValid() && model_->nodeFor(tree_->currentIndex()) != selected) {
        refiltering_ = true; // the same node: its note stays as it is
        tree_->selectionModel()->setCurrentIndex(
            at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        refiltering_ = false;
    } else if (!at.isValid() && selected) {
        emit selectionMoved(selectedNode());
    }
    emit findQueryChanged(text);
}

void TreePane::freshenSearch()
{
    if (!search_)
        search_ = std::make_unique<SearchIndex>();
    const uint64_t shape = catalog_.outline().shapeVersion();
    if (searchStale_ || shape != searchShape_) {
        search_->build(catalog_);
        searchStale_ = false;
        searchShape_ = shape;
        searchEdited_.clear();
        narrowable_ = false;
    } else if (!searchEdited_.empty()) {
        search_->updateCaptions(catalog_, searchEdited_);
        searchEdited_.clear();
        narrowable_ = false; // an edited note may match now
    }
}

void TreePane::noteEdited()
{
    const Node *n = selectedNode();
    if (n && (searchEdited_.empty() || searchEdited_.back() != n->caption()))
        searchEdited_.push_back(n->caption());
}

void TreePane::stopFiltering()
{
    if (!filtering())
        return;
    Node *selected = selectedNode();
    // The open branches are as they were before the find; the way to the
    // node selected during it opens too.
    refiltering_ = true;
    model_->clearFilter();
    selectNode(selected);
    refiltering_ = false;
    refreshStructuralActions();
    if (selected)
        tree_->scrollTo(model_->indexFor(selected), QAbstractItemView::PositionAtCenter);
}

void TreePane::moveToMatch(int step)
{
    if (!filtering() || model_->matches().empty())
        return;
    // The nearest match after (before) the selection in flat order, wrapping.
    const int rows = model_->rowCount();
    const Node *selected = selectedNode();
    const int from = selected ? model_->rowOf(selected) : -1;
    Node *next = nullptr;
    if (from >= 0) {
        for (int r = from + step; r >= 0 && r < rows && !next; r += step)
            if (model_->isMatchRow(r))
                next = model_->nodeAt(r);
    }
    if (!next)
        next = const_cast<Node *>(step > 0 ? model_->matches().front() : model_->matches().back());
    selectNode(next);
    tree_->scrollTo(model_->indexFor(next));
}

void TreePane::refreshStructuralActions()
{
    const bool free = !filtering();
    for (QAction *a :
         {createNodeAction_, createChildAction_, deleteNodeAction_, moveUpAction_, moveDownAction_})
        a->setEnabled(free);
    tree_->setDragSuspended(!free);
    refreshUndoActions();
}

} // namespace qv

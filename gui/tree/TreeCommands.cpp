#include "gui/tree/TreeCommands.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "gui/common/Codec.h"
#include "gui/common/Icons.h"
#include "gui/common/MessageBox.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "gui/tree/UndoCommands.h"

#include <QAction>
#include <QUndoStack>

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

} // namespace

TreeCommands::TreeCommands(TreePane &pane, Catalog &catalog) : QObject(&pane), pane_(pane), catalog_(catalog)
{
    undoStack_ = new QUndoStack(this);
    undoStack_->setUndoLimit(kUndoLimit);
    buildActions();
    connect(undoStack_, &QUndoStack::indexChanged, this, &TreeCommands::refreshUndoActions);
    refreshUndoActions();
}

TreeCommands::~TreeCommands() = default;

void TreeCommands::buildActions()
{
    // Each command's hint goes to the status bar; its tooltip adds the first key.
    auto command = [this](const char *name, const char16_t *text, const char16_t *hint, const char *glyph,
                          QList<QKeySequence> keys, void (TreeCommands::*handler)()) {
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
        pane_.tree()->addAction(a);
        return a;
    };
    QList<QKeySequence> deleteKeys = QKeySequence::keyBindings(QKeySequence::Delete);
    if (deleteKeys.isEmpty())
        deleteKeys = {QKeySequence(Qt::Key_Delete)};
    createNodeAction_
        = command("N1", u"Создать узел", u"Создать узел", "create",
                  {QKeySequence(QKeySequence::New), QKeySequence(Qt::Key_Insert)}, &TreeCommands::createNode);
    createChildAction_
        = command("N12", u"Создать потомка", u"Создать потомка", "createChild",
                  {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), QKeySequence(Qt::CTRL | Qt::Key_Insert)},
                  &TreeCommands::createChild);
    deleteNodeAction_
        = command("N2", u"Удалить узел", u"Удалить узел", "delete", deleteKeys, &TreeCommands::deleteNode);
    expandAllAction_
        = command("N14", u"Развернуть все ветви", u"Развернуть все ветви", "expandAll",
                  {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                  &TreeCommands::expandAll);
    collapseAllAction_ = command("N15", u"Свернуть все ветви", u"Свернуть все ветви", "collapseAll",
                                 {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, &TreeCommands::collapseAll);
    moveUpAction_ = command("N17", u"Переместить выше", u"Перемещение элемента дерева вверх", "moveUp",
                            {QKeySequence(Qt::ALT | Qt::Key_Up)}, &TreeCommands::moveUp);
    moveDownAction_ = command("N18", u"Переместить ниже", u"Перемещение элемента дерева вниз", "moveDown",
                              {QKeySequence(Qt::ALT | Qt::Key_Down)}, &TreeCommands::moveDown);

    // The menu items only: the keys are taken by the tree itself (see
    // TreePane::eventFilter), so that they win over the note's window-wide undo.
    auto history = [this](const char *name, const char16_t *hint, const char *glyph, const QKeySequence &key,
                          void (TreeCommands::*handler)()) {
        auto *a = new QAction(this);
        a->setObjectName(QString::fromLatin1(name));
        a->setIcon(icons::glyph(QString::fromLatin1(glyph)));
        a->setStatusTip(QString::fromUtf16(hint));
        a->setToolTip(QStringLiteral("%1 (%2)").arg(a->statusTip(), key.toString(QKeySequence::NativeText)));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    undoAction_ = history("treeUndoAction", u"Отменить", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z),
                          &TreeCommands::undo);
    redoAction_ = history("treeRedoAction", u"Повторить", "redo", QKeySequence(Qt::CTRL | Qt::Key_Y),
                          &TreeCommands::redo);
}

void TreeCommands::run(const std::function<void()> &command)
{
    if (busy_)
        return;
    busy_ = true;
    try {
        if (beforeCommand_)
            beforeCommand_();
        command();
    } catch (const std::exception &e) {
        msg::showError(pane_.window(), e);
    }
    busy_ = false;
    if (selectionPending_) {
        selectionPending_ = false;
        emit selectionSettled();
    }
    emit commandDone();
}

void TreeCommands::createNode()
{
    if (pane_.filtering())
        return;
    run([this] {
        Node *selected = pane_.selectedNode();
        Node *created = nullptr;
        std::unique_ptr<EditStep> step;
        if (selected) {
            const PaintPause pause(pane_.tree());
            step = createNodeStep(catalog_, selected);
        } else {
            step = createNodeStep(catalog_, nullptr);
        }
        if (step)
            created = nodeAt(catalog_.outline(), step->selectionAfter());
        pane_.selectNode(created);
        pushStep(std::move(step));
    });
}

void TreeCommands::createChild()
{
    if (pane_.filtering())
        return;
    run([this] {
        Node *selected = pane_.selectedNode();
        if (!selected)
            return;
        std::unique_ptr<EditStep> step;
        {
            const PaintPause pause(pane_.tree());
            step = createChildStep(catalog_, selected);
        }
        if (!step)
            return;
        pane_.selectNode(nodeAt(catalog_.outline(), step->selectionAfter()));
        pushStep(std::move(step));
    });
}

void TreeCommands::deleteNode()
{
    if (pane_.filtering())
        return;
    run([this] {
        Node *selected = pane_.selectedNode();
        if (!selected)
            return;
        if (selected->hasChildren()) {
            msg::show(pane_.window(), QMessageBox::Warning, kRefusalTitle,
                      QStringLiteral(u"Невозможно удалить узел,\r\nсодержащий потомков.\r\n\r\n"
                                     u"Сначала удалите всех потомков."),
                      QMessageBox::Ok);
            return;
        }
        const auto answer
            = msg::show(pane_.window(), QMessageBox::Question, QStringLiteral(u"Подтверждение удаления"),
                        QStringLiteral(u"Удалить выбранный узел?"), QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        // The box's event loop may have let the selection move.
        if (pane_.selectedNode() == selected && !selected->hasChildren())
            pushStep(deleteLeafStep(catalog_, selected));
    });
}

void TreeCommands::expandAll()
{
    run([this] {
        pane_.model()->expandAll();
        if (Node *selected = pane_.selectedNode())
            pane_.tree()->scrollTo(pane_.model()->indexFor(selected));
    });
}

void TreeCommands::collapseAll()
{
    run([this] {
        // The selection goes to its root first, which stays shown.
        if (Node *selected = pane_.selectedNode()) {
            Node *root = selected;
            while (!root->isRoot())
                root = root->parent();
            if (root != selected)
                pane_.selectNode(root);
        }
        pane_.model()->collapseAll();
    });
}

void TreeCommands::moveUp() { moveSelected(moveUpStep); }

void TreeCommands::moveDown() { moveSelected(moveDownStep); }

void TreeCommands::moveSelected(std::unique_ptr<EditStep> (*makeStep)(Catalog &, Node *))
{
    if (pane_.filtering())
        return;
    run([this, makeStep] {
        Node *selected = pane_.selectedNode();
        if (auto step = makeStep(catalog_, selected)) {
            pane_.selectNode(selected);
            pushStep(std::move(step));
        }
    });
}

void TreeCommands::setIcon(int k)
{
    if (readOnly_)
        return;
    run([this, k] {
        if (Node *selected = pane_.selectedNode())
            pushStep(setIconStep(catalog_, selected, k));
    });
}

void TreeCommands::beginRename(const QModelIndex &index)
{
    if (beforeCommand_) {
        try {
            beforeCommand_();
        } catch (const std::exception &e) {
            msg::showError(pane_.window(), e);
        }
    }
    captionAtRenameStart_ = pane_.model()->nodeFor(index)->caption();
}

void TreeCommands::finishRename(const QModelIndex &index, const QString &text)
{
    if (!index.isValid())
        return;
    Node *node = pane_.model()->nodeFor(index);
    run([this, node, &text] {
        const Bytes s = fromQ(text);
        Catalog::RenameResult result;
        std::unique_ptr<EditStep> step = renameStep(catalog_, node, captionAtRenameStart_, s, &result);
        // The nodes of both names may show another note now.
        emit captionsChanged(captionAtRenameStart_, node->caption());
        const QString duplicate = QStringLiteral(u"Узел \"") + toQ(s)
            + QStringLiteral(u"\" \r\nуже имеется в списке.\r\n\r\nВведите другое имя.");
        for (size_t i = 0; i < result.duplicateMessages; ++i)
            msg::show(pane_.window(), QMessageBox::Warning, kRefusalTitle, duplicate, QMessageBox::Ok);
        if (result.invalidCaption)
            msg::show(pane_.window(), QMessageBox::Warning, kRefusalTitle,
                      QStringLiteral(u"Имя узла не может начинаться с пробела или табуляции\r\n"
                                     u"и не может содержать переводов строки."),
                      QMessageBox::Ok);
        pushStep(std::move(step));
    });
}

void TreeCommands::undo()
{
    if (pane_.filtering() || pane_.tree()->dragState() != OutlineView::DragState::None
        || !undoStack_->canUndo())
        return;
    emit historyStepped();
    run([this] {
        undoStack_->undo();
        // The note shown follows the record even when the selection stays.
        selectionPending_ = true;
    });
}

void TreeCommands::redo()
{
    if (pane_.filtering() || pane_.tree()->dragState() != OutlineView::DragState::None
        || !undoStack_->canRedo())
        return;
    emit historyStepped();
    run([this] {
        undoStack_->redo();
        // The note shown follows the record even when the selection stays.
        selectionPending_ = true;
    });
}

void TreeCommands::pushStep(std::unique_ptr<EditStep> step)
{
    if (!step)
        return;
    // Made again, the step leaves the selection the command left.
    step->setSelectionAfter(pathOf(pane_.selectedNode()));
    undoStack_->push(new StepCommand(catalog_, std::move(step), [this](const RowPath &path) {
        pane_.selectNode(nodeAt(catalog_.outline(), path));
    }));
}

void TreeCommands::setReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    refreshStructuralActions();
}

void TreeCommands::refreshStructuralActions()
{
    const bool free = !pane_.filtering() && !readOnly_;
    for (QAction *a :
         {createNodeAction_, createChildAction_, deleteNodeAction_, moveUpAction_, moveDownAction_})
        a->setEnabled(free);
    pane_.tree()->setDragSuspended(!free);
    refreshUndoActions();
}

void TreeCommands::refreshUndoActions()
{
    // "Отменить: удаление «Имя»"; the plain word when there is nothing.
    auto follow = [](QAction *a, const QString &word, bool can, const QString &step) {
        a->setEnabled(can);
        a->setText(can ? word + QStringLiteral(": ") + step : word);
    };
    const bool free = !pane_.filtering() && !readOnly_;
    follow(undoAction_, QStringLiteral(u"Отменить"), free && undoStack_->canUndo(), undoStack_->undoText());
    follow(redoAction_, QStringLiteral(u"Повторить"), free && undoStack_->canRedo(), undoStack_->redoText());
}

} // namespace qv

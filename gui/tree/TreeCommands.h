// The tree pane's node commands: one action each, shared by its toolbar
// button, its menu item and its keys (which work while the tree has the
// focus), the handlers behind them, and the history that takes them back.
#pragma once

#include "catalog/Text.h"

#include <QObject>

#include <functional>
#include <memory>

class QAction;
class QModelIndex;
class QUndoStack;

namespace qv {

class Catalog;
class EditStep;
class Node;
class TreePane;

class TreeCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kUndoLimit = 500;

    // A catalogue that cannot be saved: every command that changes it is
    // off (expanding, collapsing and finding stay).
    void setReadOnly(bool readOnly);
    bool readOnly() const { return readOnly_; }

    // The keys are added to the pane's tree.
    TreeCommands(TreePane &pane, Catalog &catalog);
    ~TreeCommands() override;

    QAction *createNodeAction() const { return createNodeAction_; }   // N1, SpeedButton1
    QAction *createChildAction() const { return createChildAction_; } // N12, SpeedButton15
    QAction *deleteNodeAction() const { return deleteNodeAction_; }   // N2, SpeedButton2
    QAction *expandAllAction() const { return expandAllAction_; }     // N14, SpeedButton16
    QAction *collapseAllAction() const { return collapseAllAction_; } // N15, SpeedButton17
    QAction *moveUpAction() const { return moveUpAction_; }           // N17, SpeedButton13
    QAction *moveDownAction() const { return moveDownAction_; }       // N18, SpeedButton14
    // Taking the last tree command back and making it again: the tree
    // menu's last items; the pane routes Ctrl+Z / Ctrl+Y / Ctrl+Shift+Z.
    QAction *undoAction() const { return undoAction_; } // treeUndoAction
    QAction *redoAction() const { return redoAction_; } // treeRedoAction

    // The tree commands' history, for this run only.
    QUndoStack *undoStack() const { return undoStack_; }

    // Runs before every command, so the editor can write back what it holds.
    void setBeforeCommand(std::function<void()> before) { beforeCommand_ = std::move(before); }

    void createNode();
    void createChild();
    void deleteNode();
    void expandAll();
    void collapseAll();
    void moveUp();
    void moveDown();
    void setIcon(int k); // a palette button
    void undo();
    void redo();
    // In-place rename: editing of a label begins / is confirmed with `text`.
    void beginRename(const QModelIndex &index);
    void finishRename(const QModelIndex &index, const QString &text);
    // Runs one command: the editor flushed first, errors into the error box,
    // selection changes reported once at the end. The window's import runs
    // through here too.
    void run(const std::function<void()> &command);
    // Records a step a command just ran (a drop, say), with the selection it left.
    void pushStep(std::unique_ptr<EditStep> step);

    // True while a command runs: a selection change then is told once, at its end.
    bool busy() const { return busy_; }
    void deferSelection() { selectionPending_ = true; }
    // The structural commands, tree undo/redo and the drag are off while the
    // tree is filtered.
    void refreshStructuralActions();

signals:
    // A command ran (the save-all button follows the unsaved-changes flag).
    void commandDone();
    // A selection change deferred while the command ran.
    void selectionSettled();
    // A rename: the nodes of both names may show another note now.
    void captionsChanged(const Bytes &before, const Bytes &after);
    // An undo or redo may have changed any note.
    void historyStepped();

private:
    void buildActions();
    void refreshUndoActions();
    // Move up or down: the selected node moves by `makeStep`, and stays selected.
    void moveSelected(std::unique_ptr<EditStep> (*makeStep)(Catalog &, Node *));

    TreePane &pane_;
    Catalog &catalog_;
    QAction *createNodeAction_ = nullptr;
    QAction *createChildAction_ = nullptr;
    QAction *deleteNodeAction_ = nullptr;
    QAction *expandAllAction_ = nullptr;
    QAction *collapseAllAction_ = nullptr;
    QAction *moveUpAction_ = nullptr;
    QAction *moveDownAction_ = nullptr;
    QAction *undoAction_ = nullptr;
    QAction *redoAction_ = nullptr;
    QUndoStack *undoStack_ = nullptr;
    std::function<void()> beforeCommand_;
    Bytes captionAtRenameStart_;
    bool busy_ = false;
    bool readOnly_ = false;
    bool selectionPending_ = false;
};

} // namespace qv

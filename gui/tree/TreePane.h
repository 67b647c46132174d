// The left pane: the tree toolbar, the icon palette and the outline, with
// the tree's context menu and every node command. Each node command is one
// action, shared by its toolbar button, its menu item and its keys (which
// work while the tree has the focus).
#pragma once

#include "catalog/Text.h"
#include "settings/Settings.h"

#include <QFrame>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QAbstractItemModel;
class QMenu;
class QModelIndex;
class QToolBar;
class QToolButton;
class QUndoStack;

namespace qv {

class Catalog;
class EditStep;
class IconPalette;
class SearchIndex;
class Node;
class OutlineView;
class TreeModel;

class TreePane : public QFrame { // objectName "Panel1"
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = qv::kTreeWidth;

    explicit TreePane(Catalog &catalog, QWidget *parent = nullptr);
    ~TreePane() override;

    OutlineView *tree() const { return tree_; }
    TreeModel *model() const { return model_; }
    IconPalette *palette() const { return palette_; }
    QToolBar *toolbar() const { return toolbar_; }
    QMenu *popupMenu() const { return contextMenu_; }
    // A toolbar button ("SpeedButton1", ...) or action ("N1", ...) by objectName.
    QToolButton *button(const QString &name) const;
    QAction *action(const QString &name) const;

    // The node commands.
    QAction *createNodeAction() const { return createNodeAction_; }   // N1, SpeedButton1
    QAction *createChildAction() const { return createChildAction_; } // N12, SpeedButton15
    QAction *deleteNodeAction() const { return deleteNodeAction_; }   // N2, SpeedButton2
    QAction *expandAllAction() const { return expandAllAction_; }     // N14, SpeedButton16
    QAction *collapseAllAction() const { return collapseAllAction_; } // N15, SpeedButton17
    QAction *moveUpAction() const { return moveUpAction_; }           // N17, SpeedButton13
    QAction *moveDownAction() const { return moveDownAction_; }       // N18, SpeedButton14
    // Taking the last tree command back and making it again: the tree
    // menu's last items, and Ctrl+Z / Ctrl+Y / Ctrl+Shift+Z in the tree.
    QAction *undoAction() const { return undoAction_; } // treeUndoAction
    QAction *redoAction() const { return redoAction_; } // treeRedoAction
    // Finding: Ctrl+F (anywhere in the window) or the toolbar's button opens
    // the find bar above the tree; F3 / Shift+F3 (and Enter / Shift+Enter in
    // the field) move through the matches.
    QAction *findAction() const { return findAction_; }                 // findAction, findButton
    QAction *findNextAction() const { return findNextAction_; }         // findNextAction
    QAction *findPreviousAction() const { return findPreviousAction_; } // findPreviousAction
    QWidget *findBar() const { return findBar_; }                       // findBar
    QLineEdit *findField() const { return findField_; }                 // findField
    QLabel *findCount() const { return findCount_; }                    // findCount
    // The filter between the model and the tree, or null before the first find.
    // True while the tree shows only what the find matched; the structural
    // commands (create, delete, move, drag-and-drop, undo/redo) are off.
    bool filtering() const;
    // The text being found, or empty when the find bar is closed.
    QString findQuery() const;
    void openFind();
    void closeFind();
    void findNext();
    void findPrevious();
    // The catalogue changed: the next query reads it again.
    // A note's text changed (the selected node's record): the find takes
    // it in before its next search.
    void noteEdited();

    // The tree commands' history, for this run only.
    QUndoStack *undoStack() const { return undoStack_; }
    static constexpr int kUndoLimit = 500;

    // The tree's single selected node, or null.
    Node *selectedNode() const;
    // Selects the node, makes it current and scrolls it into view, expanding
    // its ancestors. Null clears the selection.
    void selectNode(Node *node);

    // Runs before every command, so the editor can write back what it holds.
    void setBeforeCommand(std::function<void()> before) { beforeCommand_ = std::move(before); }

    void setTreeFont(const QString &face, int pointSize);
    void setTreeColors(const QColor &background, const QColor &text);

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

signals:
    // A command ran (the save-all button follows the unsaved-changes flag).
    void commandDone();
    // The selected node changed; null when nothing is selected.
    void selectionMoved(Node *node);
    // A left click on the tree, with the selected node.
    void treeClicked(Node *node);
    // The find text changed (empty when the bar closed).
    void findQueryChanged(const QString &query);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildActions();
    void buildToolbar();
    void buildMenu();
    void buildTree();
    void buildFindBar();
    void queryEdited(const QString &text);
    // Brings the index up to the catalogue.
    void freshenSearch();
    void stopFiltering();
    void moveToMatch(int step);
    void refreshStructuralActions();
    void selectionChanged();
    void branchCollapsing(Node *node);
    void showMenu(const QPoint &pos);
    // The menu key: the menu opens at the selected node's row.
    void showMenuAtSelection();
    // True when the key is one of the node commands' keys.
    bool isCommandKey(const QKeyEvent *key) const;
    // The undo and redo keys, which the tree takes before any window-wide
    // action on the same keys.
    static bool isUndoKey(const QKeyEvent *key);
    static bool isRedoKey(const QKeyEvent *key);
    // Records a step the command just ran, with the selection it left.
    void pushStep(std::unique_ptr<EditStep> step);
    void refreshUndoActions();
    // Runs one command: the editor flushed first, errors into the error box,
    // selection changes reported once at the end.
    void run(const std::function<void()> &command);

    Catalog &catalog_;
    QToolBar *toolbar_ = nullptr;
    IconPalette *palette_ = nullptr;
    OutlineView *tree_ = nullptr;
    TreeModel *model_ = nullptr;
    QMenu *contextMenu_ = nullptr;
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
    QAction *findAction_ = nullptr;
    QAction *findNextAction_ = nullptr;
    QAction *findPreviousAction_ = nullptr;
    QWidget *findBar_ = nullptr;
    QLineEdit *findField_ = nullptr;
    QLabel *findCount_ = nullptr;
    std::unique_ptr<SearchIndex> search_;
    // The index is built again when stale or when the outline's shape has
    // changed since; the captions whose notes or names changed are taken
    // in node by node.
    bool searchStale_ = true;
    uint64_t searchShape_ = 0;
    std::vector<Bytes> searchEdited_;
    // Whether the next query may search among the last one's matches.
    bool narrowable_ = false;
    QString lastQuery_;
    // While the find changes the rows: the selection the model carries over
    // is not a new selection.
    bool refiltering_ = false;
    std::function<void()> beforeCommand_;
    Bytes captionAtRenameStart_;
    bool busy_ = false;
    bool selectionPending_ = false;
};

} // namespace qv

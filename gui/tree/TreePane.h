// The left pane: the tree toolbar, the icon palette, the find bar and the
// outline with its context menu. The node commands live in TreeCommands,
// the find in FindController; the pane lays them out and routes the tree's
// keys and clicks.
#pragma once

#include "settings/Settings.h"

#include <QFrame>
#include <QString>

#include <functional>

class QAction;
class QKeyEvent;
class QMenu;
class QToolBar;
class QToolButton;

namespace qv {

class Catalog;
class FindController;
class IconPalette;
class Node;
class OutlineView;
class TreeCommands;
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
    TreeCommands *commands() const { return commands_; }
    FindController *finder() const { return find_; }
    // A toolbar button ("SpeedButton1", ...) or action ("N1", ...) by objectName.
    QToolButton *button(const QString &name) const;
    QAction *action(const QString &name) const;

    // True while the tree shows only what the find matched; the structural
    // commands (create, delete, move, drag-and-drop, undo/redo) are off.
    bool filtering() const;
    // The text being found, or empty when the find bar is closed.
    QString findQuery() const;
    // A note's text changed (the selected node's record): the find takes
    // it in before its next search.
    void noteEdited();
    // Runs before every command, so the editor can write back what it holds.
    void setBeforeCommand(std::function<void()> before);

    // The tree's single selected node, or null.
    Node *selectedNode() const;
    // Selects the node, makes it current and scrolls it into view, expanding
    // its ancestors. Null clears the selection.
    void selectNode(Node *node);

    void setTreeFont(const QString &face, int pointSize);
    void setTreeColors(const QColor &background, const QColor &text);
    // A catalogue that cannot be saved: browsing and finding only.
    void setReadOnly(bool readOnly);

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
    void buildToolbar();
    void buildMenu();
    void buildTree(Catalog &catalog);
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

    QToolBar *toolbar_ = nullptr;
    IconPalette *palette_ = nullptr;
    OutlineView *tree_ = nullptr;
    TreeModel *model_ = nullptr;
    QMenu *contextMenu_ = nullptr;
    TreeCommands *commands_ = nullptr;
    FindController *find_ = nullptr;
};

} // namespace qv

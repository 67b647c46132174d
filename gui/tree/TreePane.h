// The left pane: the tree toolbar, the icon palette and the outline, with
// the tree's context menu and every node command.
#pragma once

#include "catalog/Text.h"
#include "settings/Settings.h"

#include <QFrame>
#include <QString>

#include <functional>

class DATreeView;
class IconPalette;
class QAction;
class QMenu;
class QModelIndex;
class QToolButton;
class TreeModel;

namespace qv {
class Catalog;
class Node;
}

class TreePane : public QFrame {  // objectName "Panel1"
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = qv::kTreeWidth;

    explicit TreePane(qv::Catalog &catalog, QWidget *parent = nullptr);

    DATreeView *tree() const { return tree_; }
    TreeModel *model() const { return model_; }
    IconPalette *palette() const { return palette_; }
    QMenu *popupMenu() const { return menu_; }
    // A toolbar button ("SpeedButton1", ...) or menu item ("N1", ...) by objectName.
    QToolButton *button(const QString &name) const;
    QAction *action(const QString &name) const;

    // The tree's single selected node, or null.
    qv::Node *selectedNode() const;
    // Selects the node, makes it current and scrolls it into view, expanding
    // its ancestors. Null clears the selection.
    void selectNode(qv::Node *node);

    // Runs before every command, so the editor can write back what it holds.
    void setBeforeCommand(std::function<void()> before) { before_ = std::move(before); }

    void setTreeFont(const QString &face, int pointSize);
    void setTreeColors(const QColor &background, const QColor &text);

    // The node commands; toolbar button and menu item share each.
    void createNode();    // N1Click
    void createChild();   // SpeedButton15Click
    void deleteNode();    // N2Click
    void expandAll();     // SpeedButton16Click
    void collapseAll();   // SpeedButton17Click
    void moveUp();        // SpeedButton13Click
    void moveDown();      // SpeedButton14Click
    void setIcon(int k);  // bi1Click
    // In-place rename: editing of a label begins / is confirmed with `text`.
    void beginRename(const QModelIndex &index);                      // TreeView1Editing
    void finishRename(const QModelIndex &index, const QString &text);  // TreeView1Edited

signals:
    // A command ran (the save-all button follows the unsaved-changes flag).
    void commandDone();
    // The selected node changed; null when nothing is selected.
    void selectionMoved(qv::Node *node);
    // A left click on the tree (TreeView1Click), with the selected node.
    void treeClicked(qv::Node *node);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolbar();
    void buildMenu();
    void buildTree();
    void selectionChanged();
    void branchCollapsed(const QModelIndex &index);
    void showMenu(const QPoint &pos);
    // Runs one command: the editor flushed first, errors into the error box,
    // selection changes reported once at the end.
    void run(const std::function<void()> &command);

    qv::Catalog &catalog_;
    QFrame *toolbar_ = nullptr;
    IconPalette *palette_ = nullptr;
    DATreeView *tree_ = nullptr;
    TreeModel *model_ = nullptr;
    QMenu *menu_ = nullptr;
    std::function<void()> before_;
    qv::Bytes currentKey_;   // CurrentKey: the caption when editing began
    bool busy_ = false;
    bool selectionPending_ = false;
};

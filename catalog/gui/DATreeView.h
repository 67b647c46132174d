// The tree control of the outline: a tree view that can move nodes by
// drag-and-drop when allowed.
#pragma once

#include <QTreeView>

#include <functional>

namespace qv {
class Node;
}

class DATreeView : public QTreeView {  // objectName "TreeView1"
    Q_OBJECT
    Q_PROPERTY(bool dragDropEnabled READ dragDropEnabled WRITE setDragDropEnabled)
    Q_PROPERTY(bool customDragDrop READ customDragDrop WRITE setCustomDragDrop)
public:
    explicit DATreeView(QWidget *parent = nullptr);

    bool dragDropEnabled() const { return dragDropEnabled_; }
    void setDragDropEnabled(bool enabled) { dragDropEnabled_ = enabled; }
    bool customDragDrop() const { return customDragDrop_; }
    void setCustomDragDrop(bool custom) { customDragDrop_ = custom; }

    // Called for each node a drop removes, deepest first.
    std::function<void(qv::Node *)> onDeleteNode;
    // A custom drop of src onto dst.
    std::function<void(qv::Node *src, qv::Node *dst)> onDragNodeEvent;

private:
    bool dragDropEnabled_ = false;
    bool customDragDrop_ = false;
};

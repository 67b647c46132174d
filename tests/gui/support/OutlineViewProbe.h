// The tree view's hooks that only tests set: a handler for each node a drop
// removes, and the custom drop that hands the dragged node and its target
// to a handler instead of moving anything.
#pragma once

#include "gui/tree/OutlineView.h"

#include <functional>

namespace qv {

class OutlineViewProbe {
public:
    static std::function<void(Node *)> &onDeleteNode(OutlineView *view) { return view->onDeleteNode_; }
    static std::function<void(Node *src, Node *dst)> &onDragNodeEvent(OutlineView *view)
    {
        return view->onDragNodeEvent_;
    }
    static void setCustomDragDrop(OutlineView *view, bool custom) { view->customDragDrop_ = custom; }
};

} // namespace qv

// The outline: a forest of named nodes. Nodes are owned by their parent
// (roots by an invisible top node); every structural change goes through
// Outline so listeners (the Qt model) see each one announced and finished.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace qv {

class Outline;

class Node {
public:
    explicit Node(Bytes caption = {});
    ~Node();  // tears the branch down without recursion
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    const Bytes &caption() const { return caption_; }
    int32_t imageIndex() const { return imageIndex_; }
    int32_t selectedImageIndex() const { return selectedImageIndex_; }

    // The parent; for a root this is the outline's invisible top node,
    // whose own parent is null.
    Node *parent() const { return parent_; }
    bool isTop() const { return parent_ == nullptr; }
    bool isRoot() const { return parent_ && parent_->parent_ == nullptr; }

    size_t childCount() const { return children_.size(); }
    bool hasChildren() const { return !children_.empty(); }
    Node *child(size_t i) const { return children_[i].get(); }
    Node *firstChild() const { return children_.empty() ? nullptr : children_.front().get(); }
    Node *lastChild() const { return children_.empty() ? nullptr : children_.back().get(); }
    // Position among its siblings. O(1).
    size_t row() const { return row_; }
    Node *nextSibling() const;
    Node *prevSibling() const;
    // Number of ancestors: 0 for a root. O(depth).
    size_t depth() const;
    bool isAncestorOf(const Node *other) const;  // O(depth of other)

    // Building a detached branch (before it is handed to an Outline).
    Node *appendChild(std::unique_ptr<Node> child);
    void setImages(int32_t index) { imageIndex_ = selectedImageIndex_ = index; }

private:
    friend class Outline;
    std::unique_ptr<Node> takeChild(size_t row);
    void insertChild(size_t row, std::unique_ptr<Node> child);
    void renumberFrom(size_t row);

    Bytes caption_;
    int32_t imageIndex_ = 0;
    int32_t selectedImageIndex_ = 0;
    Node *parent_ = nullptr;
    size_t row_ = 0;
    std::vector<std::unique_ptr<Node>> children_;
};

// Pre-order ("flat order") walking. Works on any node of an outline.
Node *flatNext(const Node *n);          // next in flat order, or null
Node *flatPrev(const Node *n);          // previous in flat order, or null (never the top node)
Node *deepestLast(Node *n);             // n's deepest last descendant, or n itself
size_t branchSize(const Node *n);       // n and all its descendants

class OutlineListener {
public:
    virtual ~OutlineListener() = default;
    // parent is a node or the top node; rows are positions among its children.
    virtual void aboutToInsert(Node *parent, size_t row, size_t count) = 0;
    virtual void inserted() = 0;
    virtual void aboutToRemove(Node *parent, size_t row, size_t count) = 0;
    virtual void removed() = 0;
    // dstRow counts positions in dstParent before the node is taken out.
    virtual void aboutToMove(Node *srcParent, size_t srcRow, Node *dstParent, size_t dstRow) = 0;
    virtual void moved() = 0;
    virtual void aboutToReset() = 0;
    virtual void reset() = 0;
    virtual void changed(Node *node) = 0;  // caption or icon
};

class Outline {
public:
    Outline();
    ~Outline();
    Outline(const Outline &) = delete;
    Outline &operator=(const Outline &) = delete;

    void setListener(OutlineListener *listener) { listener_ = listener; }

    Node *top() const { return top_.get(); }
    size_t rootCount() const { return top_->childCount(); }
    Node *root(size_t i) const { return top_->child(i); }
    bool empty() const { return top_->children_.empty(); }
    size_t nodeCount() const { return count_; }

    // Absolute index 0 (the first root), or null.
    Node *first() const { return top_->firstChild(); }
    // The i-th node of the flat order (walks; use flatNext for sequences).
    Node *at(size_t absoluteIndex) const;
    size_t absoluteIndex(const Node *n) const;

    // How many nodes carry this caption. O(1).
    size_t captionCount(const Bytes &caption) const;

    // Mutators. `parent` may be top().
    Node *insert(Node *parent, size_t row, Bytes caption, int32_t image = 0);
    Node *append(Node *parent, Bytes caption, int32_t image = 0) {
        return insert(parent, parent->childCount(), std::move(caption), image);
    }
    Node *insertBranch(Node *parent, size_t row, std::unique_ptr<Node> branch);
    // Removes n with its whole branch. `beforeEach`, when given, is called for
    // every node of the branch, deepest first (last child before first), n last.
    void remove(Node *n, const std::function<void(Node *)> &beforeEach = {});
    // Moves n (with its branch) to `row` among newParent's children, counted
    // before n is taken out. newParent must not be n or inside n's branch.
    void move(Node *n, Node *newParent, size_t row);
    void setCaption(Node *n, Bytes caption);
    void setImages(Node *n, int32_t index);
    void clear();
    // Tells listeners that captions or icons may have changed anywhere
    // (after a bulk update made directly on the nodes).
    void refreshAll();
    // Replaces everything with the roots held by `newTop`'s children.
    void replaceAll(std::unique_ptr<Node> newTop);

    // The drag-and-drop move: a copy of d's branch becomes the last child of
    // t, then d's branch is removed (`beforeEach` sees each removed node,
    // deepest first). Refused (null, nothing changes) when t is d or lies in
    // d's branch. Returns the copy.
    Node *copyToAndRemove(Node *d, Node *t, const std::function<void(Node *)> &beforeEach = {});

    // A detached copy of n's branch: captions and icons only.
    static std::unique_ptr<Node> copyBranch(const Node *n);

private:
    void indexBranch(const Node *n, int delta);

    std::unique_ptr<Node> top_;
    size_t count_ = 0;
    std::unordered_map<Bytes, size_t> captions_;
    OutlineListener *listener_ = nullptr;
};

} // namespace qv

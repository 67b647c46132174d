// The outline: a forest of named nodes. Nodes are owned by their parent
// (roots by an invisible top node); every change goes through Outline so the
// listener (the Qt model) sees each one announced and finished, and the
// change sink (the recovery journal) sees each one once.
#pragma once

#include "catalog/CaptionCounts.h"
#include "catalog/Text.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qv {

class Outline;

class Node {
public:
    explicit Node(Bytes caption = {});
    ~Node(); // tears the branch down without recursion
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
    bool isAncestorOf(const Node *other) const; // O(depth of other)

    // Building a detached branch (before it is handed to an Outline). A node
    // inside an outline changes only through the Outline, or the change
    // escapes its listener and its change sink.
    Node *appendChild(std::unique_ptr<Node> child);
    void setImages(int32_t index) { imageIndex_ = selectedImageIndex_ = index; }

    // Kept for the window that shows the outline and never read by the
    // outline itself: whether the branch is shown open, and where the
    // window's index of shown rows last put the node. A new node (a copy
    // included) starts closed.
    bool shownOpen() const { return shownOpen_; }
    void setShownOpen(bool open) const { shownOpen_ = open; }
    uint32_t shownRow() const { return shownRow_; }
    void setShownRow(uint32_t row) const { shownRow_ = row & kShownRowMask; }
    static constexpr uint32_t kShownRowMask = 0x7fffffffu;

private:
    friend class Outline;
    std::unique_ptr<Node> takeChild(size_t row);
    void insertChild(size_t row, std::unique_ptr<Node> child);
    void renumberFrom(size_t row);

    Bytes caption_;
    int32_t imageIndex_ = 0;
    int32_t selectedImageIndex_ = 0;
    Node *parent_ = nullptr;
    uint32_t row_ = 0;
    mutable uint32_t shownRow_ : 31 = 0;
    mutable uint32_t shownOpen_ : 1 = 0;
    std::vector<std::unique_ptr<Node>> children_;
};

// Pre-order ("flat order") walking. Works on any node of an outline.
Node *flatNext(const Node *n);    // next in flat order, or null
Node *flatPrev(const Node *n);    // previous in flat order, or null (never the top node)
Node *deepestLast(Node *n);       // n's deepest last descendant, or n itself
size_t branchSize(const Node *n); // n and all its descendants

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
    virtual void changed(Node *node) = 0; // caption or icon
};

// What changed, for a record of the changes (the recovery journal). Each
// call comes once per change that is really made, while every node named is
// in place, so a node can be told by its path of rows from the top:
// `inserted` after the insertion, `removing`, `moving` and
// `copiedToAndRemoving` before the structure changes, the rest after.
class OutlineChangeSink {
public:
    virtual ~OutlineChangeSink() = default;
    // n, with its whole branch, was inserted.
    virtual void inserted(const Node *n) = 0;
    // n with its branch is about to be removed.
    virtual void removing(const Node *n) = 0;
    // n is about to move to `row` among newParent's children (counted before
    // n is taken out), as Outline::move.
    virtual void moving(const Node *n, const Node *newParent, size_t row) = 0;
    // The drag-and-drop move: `copy`, a copy of d's branch, was appended to
    // its parent's children and d's branch is about to be removed.
    virtual void copiedToAndRemoving(const Node *d, const Node *copy) = 0;
    virtual void captionChanged(const Node *n) = 0;
    virtual void imagesChanged(const Node *n) = 0;
    // Everything was replaced (clear, replaceAll).
    virtual void replaced() = 0;
};

class Outline {
public:
    Outline();
    ~Outline();
    Outline(const Outline &) = delete;
    Outline &operator=(const Outline &) = delete;

    void setListener(OutlineListener *listener) { listener_ = listener; }
    // A second, independent observer; null for none.
    void setChangeSink(OutlineChangeSink *sink) { sink_ = sink; }
    OutlineChangeSink *changeSink() const { return sink_; }

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

    // Changes whenever a node is inserted, removed or moved, or the whole
    // outline replaced; captions and icons leave it as it is.
    uint64_t shapeVersion() const { return shapeVersion_; }

    // How many nodes carry this caption. O(1).
    size_t captionCount(const Bytes &caption) const;

    // Mutators. `parent` may be top().
    Node *insert(Node *parent, size_t row, Bytes caption, int32_t image = 0);
    Node *append(Node *parent, Bytes caption, int32_t image = 0)
    {
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
    // The bulk icon update: every node, in flat order, for which `pick`
    // returns true takes the icon it sets. The listener hears one reset at
    // the end (also when `pick` throws; the icons set before stay), the
    // change sink each icon that changed.
    void assignImages(const std::function<bool(const Node *, int32_t &)> &pick);
    void clear();
    // For the end of the process only: the nodes are let go without being
    // freed one by one (the system takes the memory back at once), and the
    // outline reads as empty. Nobody is told.
    void releaseWithoutFreeing();
    // Tells the listener that captions or icons may have changed anywhere.
    void refreshAll();
    // Replaces everything with the roots held by `newTop`'s children. A
    // reader that knows about how many nodes come and how many caption bytes
    // they carry passes them, so the caption index is sized once.
    void replaceAll(std::unique_ptr<Node> newTop, size_t nodesHint = 0, size_t captionBytesHint = 0);
    // Takes `other`'s nodes (with their caption index) in place of its own,
    // which `other` gets back; O(1). This outline's listener hears one
    // reset and its change sink replaced(); `other`'s hear nothing.
    void exchange(Outline &other);

    // The drag-and-drop move: a copy of d's branch becomes the last child of
    // t, then d's branch is removed (`beforeEach` sees each removed node,
    // deepest first). Refused (null, nothing changes) when t is d or lies in
    // d's branch. Returns the copy.
    Node *copyToAndRemove(Node *d, Node *t, const std::function<void(Node *)> &beforeEach = {});

    // A detached copy of n's branch: captions and icons only.
    static std::unique_ptr<Node> copyBranch(const Node *n);

private:
    void indexBranch(const Node *n, int delta);
    // Removes n's branch, telling the listener but not the sink.
    void takeOut(Node *n);

    std::unique_ptr<Node> top_;
    size_t count_ = 0;
    uint64_t shapeVersion_ = 0;
    CaptionCounts captions_;
    OutlineListener *listener_ = nullptr;
    OutlineChangeSink *sink_ = nullptr;
};

} // namespace qv

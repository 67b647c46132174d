#include "catalog/Outline.h"

#include <cassert>
#include <utility>

namespace qv {

// ---- Node ----

Node::Node(Bytes caption) : caption_(std::move(caption)) {}

Node::~Node()
{
    // Take the descendants apart level by level so a deep chain never
    // recurses through the destructors.
    std::vector<std::unique_ptr<Node>> pending;
    pending.swap(children_);
    while (!pending.empty()) {
        std::unique_ptr<Node> n = std::move(pending.back());
        pending.pop_back();
        for (auto &c : n->children_)
            pending.push_back(std::move(c));
        n->children_.clear();
        // n now has no children: its destructor does no further work.
    }
}

Node *Node::nextSibling() const
{
    if (!parent_ || row_ + 1 >= parent_->children_.size())
        return nullptr;
    return parent_->children_[row_ + 1].get();
}

Node *Node::prevSibling() const
{
    if (!parent_ || row_ == 0)
        return nullptr;
    return parent_->children_[row_ - 1].get();
}

size_t Node::depth() const
{
    size_t d = 0;
    for (const Node *p = parent_; p && p->parent_; p = p->parent_)
        ++d;
    return d;
}

bool Node::isAncestorOf(const Node *other) const
{
    for (const Node *p = other ? other->parent_ : nullptr; p; p = p->parent_)
        if (p == this)
            return true;
    return false;
}

Node *Node::appendChild(std::unique_ptr<Node> child)
{
    child->parent_ = this;
    child->row_ = uint32_t(children_.size());
    children_.push_back(std::move(child));
    return children_.back().get();
}

std::unique_ptr<Node> Node::takeChild(size_t row)
{
    std::unique_ptr<Node> c = std::move(children_[row]);
    children_.erase(children_.begin() + std::ptrdiff_t(row));
    renumberFrom(row);
    c->parent_ = nullptr;
    c->row_ = 0;
    return c;
}

void Node::insertChild(size_t row, std::unique_ptr<Node> child)
{
    child->parent_ = this;
    children_.insert(children_.begin() + std::ptrdiff_t(row), std::move(child));
    renumberFrom(row);
}

void Node::renumberFrom(size_t row)
{
    for (size_t i = row; i < children_.size(); ++i)
        children_[i]->row_ = uint32_t(i);
}

// ---- flat order ----

Node *flatNext(const Node *n)
{
    if (n->hasChildren())
        return n->firstChild();
    for (const Node *p = n; p && p->parent(); p = p->parent())
        if (Node *s = p->nextSibling())
            return s;
    return nullptr;
}

Node *deepestLast(Node *n)
{
    while (n->hasChildren())
        n = n->lastChild();
    return n;
}

Node *flatPrev(const Node *n)
{
    if (Node *s = n->prevSibling())
        return deepestLast(s);
    Node *p = n->parent();
    return (p && !p->isTop()) ? p : nullptr;
}

size_t branchSize(const Node *n)
{
    size_t count = 0;
    std::vector<const Node *> stack{n};
    while (!stack.empty()) {
        const Node *x = stack.back();
        stack.pop_back();
        ++count;
        for (size_t i = 0; i < x->childCount(); ++i)
            stack.push_back(x->child(i));
    }
    return count;
}

// ---- Outline ----

Outline::Outline() : top_(std::make_unique<Node>()) {}
Outline::~Outline() = default;

Node *Outline::at(size_t absoluteIndex) const
{
    Node *n = first();
    for (size_t i = 0; n && i < absoluteIndex; ++i)
        n = flatNext(n);
    return n;
}

size_t Outline::absoluteIndex(const Node *target) const
{
    size_t i = 0;
    for (Node *n = first(); n; n = flatNext(n), ++i)
        if (n == target)
            return i;
    return size_t(-1);
}

size_t Outline::captionCount(const Bytes &caption) const { return captions_.count(caption); }

void Outline::indexBranch(const Node *n, int delta)
{
    std::vector<const Node *> stack{n};
    if (delta > 0) {
        // Counted a batch at a time, so the lookups overlap.
        constexpr size_t kBatch = 256;
        std::string_view batch[kBatch];
        size_t taken = 0;
        while (!stack.empty()) {
            const Node *x = stack.back();
            stack.pop_back();
            batch[taken++] = x->caption();
            if (taken == kBatch) {
                captions_.addEach(batch, taken);
                taken = 0;
            }
            ++count_;
            for (size_t i = 0; i < x->childCount(); ++i)
                stack.push_back(x->child(i));
        }
        captions_.addEach(batch, taken);
        return;
    }
    while (!stack.empty()) {
        const Node *x = stack.back();
        stack.pop_back();
        captions_.remove(x->caption());
        --count_;
        for (size_t i = 0; i < x->childCount(); ++i)
            stack.push_back(x->child(i));
    }
}

Node *Outline::insert(Node *parent, size_t row, Bytes caption, int32_t image)
{
    auto n = std::make_unique<Node>(std::move(caption));
    n->setImages(image);
    return insertBranch(parent, row, std::move(n));
}

Node *Outline::insertBranch(Node *parent, size_t row, std::unique_ptr<Node> branch)
{
    assert(parent && row <= parent->childCount());
    Node *raw = branch.get();
    if (listener_)
        listener_->aboutToInsert(parent, row, 1);
    indexBranch(raw, +1);
    parent->insertChild(row, std::move(branch));
    ++shapeVersion_;
    if (listener_)
        listener_->inserted();
    if (sink_)
        sink_->inserted(raw);
    return raw;
}

namespace {

// Calls `each` for every node of n's branch, deepest first, the last child's
// branch before the first child's, each node after all of its descendants.
void visitDeepestFirst(Node *n, const std::function<void(Node *)> &each)
{
    if (!each)
        return;
    std::vector<std::pair<Node *, bool>> stack{{n, false}};
    while (!stack.empty()) {
        auto [x, expanded] = stack.back();
        if (expanded || !x->hasChildren()) {
            stack.pop_back();
            each(x);
            continue;
        }
        stack.back().second = true;
        for (size_t i = 0; i < x->childCount(); ++i)
            stack.emplace_back(x->child(i), false);
    }
}

// Keeps a change sink quiet for a scope (the composite drag-and-drop move
// reports itself as one change).
class SinkPause {
public:
    explicit SinkPause(OutlineChangeSink *&sink) : slot_(sink), saved_(std::exchange(sink, nullptr)) {}
    ~SinkPause() { slot_ = saved_; }
    SinkPause(const SinkPause &) = delete;
    SinkPause &operator=(const SinkPause &) = delete;

private:
    OutlineChangeSink *&slot_;
    OutlineChangeSink *saved_;
};

} // namespace

void Outline::remove(Node *n, const std::function<void(Node *)> &beforeEach)
{
    assert(n && n->parent());
    visitDeepestFirst(n, beforeEach);
    if (sink_)
        sink_->removing(n);
    takeOut(n);
}

void Outline::takeOut(Node *n)
{
    Node *parent = n->parent();
    const size_t row = n->row();
    if (listener_)
        listener_->aboutToRemove(parent, row, 1);
    indexBranch(n, -1);
    std::unique_ptr<Node> gone = parent->takeChild(row);
    ++shapeVersion_;
    if (listener_)
        listener_->removed();
    gone.reset();
}

void Outline::move(Node *n, Node *newParent, size_t row)
{
    assert(n && newParent && n != newParent && !n->isAncestorOf(newParent));
    Node *oldParent = n->parent();
    const size_t oldRow = n->row();
    if (oldParent == newParent && (row == oldRow || row == oldRow + 1))
        return; // already there
    if (sink_)
        sink_->moving(n, newParent, row);
    if (listener_)
        listener_->aboutToMove(oldParent, oldRow, newParent, row);
    std::unique_ptr<Node> taken = oldParent->takeChild(oldRow);
    if (oldParent == newParent && row > oldRow)
        --row;
    newParent->insertChild(row, std::move(taken));
    ++shapeVersion_;
    if (listener_)
        listener_->moved();
}

void Outline::setCaption(Node *n, Bytes caption)
{
    if (n->caption_ == caption)
        return;
    captions_.remove(n->caption_);
    captions_.add(caption);
    n->caption_ = std::move(caption);
    if (listener_)
        listener_->changed(n);
    if (sink_)
        sink_->captionChanged(n);
}

void Outline::setImages(Node *n, int32_t index)
{
    n->setImages(index);
    if (listener_)
        listener_->changed(n);
    if (sink_)
        sink_->imagesChanged(n);
}

void Outline::assignImages(const std::function<bool(const Node *, int32_t &)> &pick)
{
    struct Refresh {
        Outline &o;
        ~Refresh() { o.refreshAll(); }
    } refresh{*this};
    for (Node *n = first(); n; n = flatNext(n)) {
        int32_t index = n->imageIndex_;
        if (!pick(n, index))
            continue;
        const bool changed = index != n->imageIndex_ || index != n->selectedImageIndex_;
        n->setImages(index);
        if (changed && sink_)
            sink_->imagesChanged(n);
    }
}

void Outline::clear() { replaceAll(std::make_unique<Node>()); }

void Outline::releaseWithoutFreeing()
{
    (void)top_.release();
    top_ = std::make_unique<Node>();
    captions_.releaseWithoutFreeing();
    count_ = 0;
}

void Outline::refreshAll()
{
    if (listener_) {
        listener_->aboutToReset();
        listener_->reset();
    }
}

void Outline::replaceAll(std::unique_ptr<Node> newTop, size_t nodesHint, size_t captionBytesHint)
{
    if (listener_)
        listener_->aboutToReset();
    std::unique_ptr<Node> old = std::move(top_);
    top_ = std::move(newTop);
    top_->parent_ = nullptr;
    ++shapeVersion_;
    captions_.clear();
    captions_.reserve(nodesHint, captionBytesHint);
    count_ = 0;
    for (size_t i = 0; i < top_->childCount(); ++i)
        indexBranch(top_->child(i), +1);
    if (listener_)
        listener_->reset();
    old.reset();
    if (sink_)
        sink_->replaced();
}

void Outline::exchange(Outline &other)
{
    if (listener_)
        listener_->aboutToReset();
    std::swap(top_, other.top_);
    std::swap(count_, other.count_);
    std::swap(captions_, other.captions_);
    ++shapeVersion_;
    ++other.shapeVersion_;
    if (listener_)
        listener_->reset();
    if (sink_)
        sink_->replaced();
}

Node *Outline::copyToAndRemove(Node *d, Node *t, const std::function<void(Node *)> &beforeEach)
{
    if (!d || !t || d == t || d->isTop() || d->isAncestorOf(t))
        return nullptr;
    Node *copy = nullptr;
    try {
        SinkPause pause(sink_);
        copy = insertBranch(t, t->childCount(), copyBranch(d));
        visitDeepestFirst(d, beforeEach);
    } catch (...) {
        // Only the copy was made.
        if (copy && sink_)
            sink_->inserted(copy);
        throw;
    }
    if (sink_)
        sink_->copiedToAndRemoving(d, copy);
    takeOut(d);
    return copy;
}

std::unique_ptr<Node> Outline::copyBranch(const Node *n)
{
    auto copyOne = [](const Node *src) {
        auto c = std::make_unique<Node>(src->caption());
        c->imageIndex_ = src->imageIndex_;
        c->selectedImageIndex_ = src->selectedImageIndex_;
        return c;
    };
    std::unique_ptr<Node> result = copyOne(n);
    std::vector<std::pair<const Node *, Node *>> stack{{n, result.get()}};
    while (!stack.empty()) {
        auto [src, dst] = stack.back();
        stack.pop_back();
        for (size_t i = 0; i < src->childCount(); ++i) {
            Node *c = dst->appendChild(copyOne(src->child(i)));
            stack.emplace_back(src->child(i), c);
        }
    }
    return result;
}

} // namespace qv

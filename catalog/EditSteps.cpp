#include "catalog/EditSteps.h"

#include <algorithm>
#include <stdexcept>

namespace qv {

RowPath pathOf(const Node *n)
{
    RowPath path;
    for (const Node *x = n; x && !x->isTop(); x = x->parent())
        path.push_back(x->row());
    std::reverse(path.begin(), path.end());
    return path;
}

Node *nodeAt(const Outline &outline, const RowPath &path)
{
    if (path.empty())
        return nullptr;
    Node *x = outline.top();
    for (size_t row : path) {
        if (row >= x->childCount())
            return nullptr;
        x = x->child(row);
    }
    return x;
}

namespace {

constexpr size_t npos = RecordTable::npos;

Node *needNode(const Outline &outline, const RowPath &path)
{
    Node *n = nodeAt(outline, path);
    if (!n)
        throw std::logic_error("edit step out of step with the outline");
    return n;
}

// Moves n (with its branch) so that it ends up at `to`, a path in the
// outline as it is after the move.
void moveTo(Outline &outline, Node *n, const RowPath &to)
{
    Node *parent = outline.top();
    for (size_t level = 0; level + 1 < to.size(); ++level) {
        size_t row = to[level];
        // Above its new place n still counts among its present siblings.
        if (n->parent() == parent && n->row() <= row)
            ++row;
        parent = parent->child(row);
    }
    size_t row = to.back();
    if (n->parent() == parent && n->row() < row)
        ++row; // rows are counted before n is taken out
    outline.move(n, parent, row);
}

// A node made by a command together with the record it appended (or none):
// taking it back removes both, making it again puts both back where they
// were, with whatever the note held when it was taken back.
class InsertStep : public EditStep {
public:
    InsertStep(Kind kind, const Node *made, RowPath before, size_t recordRow)
        : EditStep(kind, made->caption(), std::move(before)), path_(pathOf(made)), recordRow_(recordRow)
    {
        setSelectionAfter(path_);
    }

    void undo(Catalog &catalog) override
    {
        Node *n = needNode(catalog.outline(), path_);
        caption_ = n->caption();
        image_ = n->imageIndex();
        if (recordRow_ != npos)
            record_ = catalog.records().removeAt(recordRow_);
        catalog.outline().remove(n);
        catalog.markChanged();
    }

    void redo(Catalog &catalog) override
    {
        RowPath parentPath(path_.begin(), path_.end() - 1);
        Node *parent = parentPath.empty() ? catalog.outline().top() : needNode(catalog.outline(), parentPath);
        catalog.outline().insert(parent, path_.back(), caption_, image_);
        if (recordRow_ != npos)
            catalog.records().insertAt(recordRow_, record_);
        catalog.markChanged();
    }

private:
    RowPath path_;
    size_t recordRow_;
    Bytes caption_;
    int32_t image_ = 0;
    NoteRecord record_;
};

// A deleted leaf and its first record.
class DeleteStep : public EditStep {
public:
    DeleteStep(const Node *n, RowPath before, size_t recordRow, NoteRecord record)
        : EditStep(Kind::Delete, n->caption(), std::move(before)), path_(pathOf(n)), image_(n->imageIndex()),
          recordRow_(recordRow), record_(std::move(record))
    {}

    void undo(Catalog &catalog) override
    {
        RowPath parentPath(path_.begin(), path_.end() - 1);
        Node *parent = parentPath.empty() ? catalog.outline().top() : needNode(catalog.outline(), parentPath);
        catalog.outline().insert(parent, path_.back(), caption(), image_);
        if (recordRow_ != npos)
            catalog.records().insertAt(recordRow_, record_);
        catalog.markChanged();
    }

    void redo(Catalog &catalog) override
    {
        Node *n = needNode(catalog.outline(), path_);
        if (recordRow_ != npos)
            record_ = catalog.records().removeAt(recordRow_);
        catalog.outline().remove(n);
        catalog.markChanged();
    }

private:
    RowPath path_;
    int32_t image_;
    size_t recordRow_;
    NoteRecord record_;
};

class RenameStep : public EditStep {
public:
    RenameStep(const Node *n, Bytes from, Bytes to, size_t recordRow, RowPath before)
        : EditStep(Kind::Rename, from, std::move(before)), path_(pathOf(n)), from_(std::move(from)),
          to_(std::move(to)), recordRow_(recordRow)
    {
        setSelectionAfter(path_);
    }

    void undo(Catalog &catalog) override { apply(catalog, from_); }
    void redo(Catalog &catalog) override { apply(catalog, to_); }

private:
    void apply(Catalog &catalog, const Bytes &caption)
    {
        Node *n = needNode(catalog.outline(), path_);
        if (recordRow_ != npos)
            catalog.records().renameAt(recordRow_, caption);
        catalog.outline().setCaption(n, caption);
        catalog.markChanged();
    }

    RowPath path_;
    Bytes from_, to_;
    size_t recordRow_;
};

// The icon of a node and of its first record, or of the record the
// command appended.
class IconStep : public EditStep {
public:
    IconStep(const Node *n, RowPath before, int32_t oldImage, size_t recordRow, bool appended, Bytes oldIcons,
             const Catalog &catalog)
        : EditStep(Kind::Icon, n->caption(), std::move(before)), path_(pathOf(n)), oldImage_(oldImage),
          newImage_(n->imageIndex()), recordRow_(recordRow), appended_(appended),
          oldIcons_(std::move(oldIcons)), newIcons_(catalog.records().at(recordRow).icons)
    {
        setSelectionAfter(path_);
    }

    void undo(Catalog &catalog) override
    {
        Node *n = needNode(catalog.outline(), path_);
        catalog.outline().setImages(n, oldImage_);
        if (appended_)
            record_ = catalog.records().removeAt(recordRow_);
        else
            catalog.records().setIconsAt(recordRow_, oldIcons_);
        catalog.markChanged();
    }

    void redo(Catalog &catalog) override
    {
        Node *n = needNode(catalog.outline(), path_);
        catalog.outline().setImages(n, newImage_);
        if (appended_)
            catalog.records().insertAt(recordRow_, record_);
        else
            catalog.records().setIconsAt(recordRow_, newIcons_);
        catalog.markChanged();
    }

private:
    RowPath path_;
    int32_t oldImage_, newImage_;
    size_t recordRow_;
    bool appended_;
    Bytes oldIcons_, newIcons_;
    NoteRecord record_;
};

// A node (with its branch) moved from one place to another; the records
// are untouched. The drag-and-drop move made a copy of the branch and
// removed the original: taking it back moves the copy, which carries the
// same captions and icons, to where the original stood.
class MoveStep : public EditStep {
public:
    MoveStep(Kind kind, const Bytes &caption, RowPath before, RowPath from, const Node *moved)
        : EditStep(kind, caption, std::move(before)), from_(std::move(from)), to_(pathOf(moved))
    {
        setSelectionAfter(to_);
    }

    void undo(Catalog &catalog) override
    {
        moveTo(catalog.outline(), needNode(catalog.outline(), to_), from_);
        catalog.markChanged();
    }
    void redo(Catalog &catalog) override
    {
        moveTo(catalog.outline(), needNode(catalog.outline(), from_), to_);
        catalog.markChanged();
    }

private:
    RowPath from_, to_;
};

// Branches appended under one parent and records appended to the table.
// Taken back, they are kept (the branches as copies) to be put back.
class AppendStep : public EditStep {
public:
    AppendStep(Kind kind, Bytes caption, RowPath before, RowPath parent, size_t firstRow, size_t firstRecord)
        : EditStep(kind, std::move(caption), std::move(before)), parent_(std::move(parent)),
          firstRow_(firstRow), firstRecord_(firstRecord)
    {
        RowPath first = parent_;
        first.push_back(firstRow_);
        setSelectionAfter(std::move(first));
    }

    void undo(Catalog &catalog) override
    {
        take(catalog);
        catalog.markChanged();
    }

    void redo(Catalog &catalog) override
    {
        Node *parent = parentNode(catalog);
        for (size_t i = branches_.size(); i-- > 0;)
            catalog.outline().insertBranch(parent, parent->childCount(), std::move(branches_[i]));
        branches_.clear();
        for (size_t i = records_.size(); i-- > 0;)
            catalog.records().append(records_[i].section, records_[i].text, records_[i].icons);
        records_.clear();
        catalog.markChanged();
    }

    // Takes out what lies past the first row and record, last first.
    void take(Catalog &catalog)
    {
        RecordTable &records = catalog.records();
        while (records.size() > firstRecord_)
            records_.push_back(records.removeAt(records.size() - 1));
        Node *parent = parentNode(catalog);
        while (parent->childCount() > firstRow_) {
            Node *n = parent->lastChild();
            branches_.push_back(Outline::copyBranch(n));
            catalog.outline().remove(n);
        }
    }

private:
    Node *parentNode(const Catalog &catalog) const
    {
        return parent_.empty() ? catalog.outline().top() : needNode(catalog.outline(), parent_);
    }

    RowPath parent_;
    size_t firstRow_;
    size_t firstRecord_;
    std::vector<std::unique_ptr<Node>> branches_; // last first
    std::vector<NoteRecord> records_;             // last first
};

std::unique_ptr<EditStep> inserted(EditStep::Kind kind, Catalog &catalog, const Node *made, RowPath before,
                                   size_t recordsBefore)
{
    if (!made)
        return nullptr;
    const size_t recordRow = catalog.records().size() > recordsBefore ? catalog.records().size() - 1 : npos;
    return std::make_unique<InsertStep>(kind, made, std::move(before), recordRow);
}

} // namespace

std::unique_ptr<EditStep> createNodeStep(Catalog &catalog, Node *selected)
{
    RowPath before = pathOf(selected);
    const size_t records = catalog.records().size();
    return inserted(EditStep::Kind::CreateNode, catalog, catalog.createNode(selected), std::move(before),
                    records);
}

std::unique_ptr<EditStep> createChildStep(Catalog &catalog, Node *selected)
{
    RowPath before = pathOf(selected);
    const size_t records = catalog.records().size();
    return inserted(EditStep::Kind::CreateChild, catalog, catalog.createChild(selected), std::move(before),
                    records);
}

std::unique_ptr<EditStep> deleteLeafStep(Catalog &catalog, Node *node)
{
    if (!node || node->hasChildren())
        return nullptr;
    const size_t recordRow = catalog.records().indexOf(node->caption());
    NoteRecord record = recordRow == npos ? NoteRecord{} : catalog.records().at(recordRow).owned();
    auto step = std::make_unique<DeleteStep>(node, pathOf(node), recordRow, std::move(record));
    catalog.deleteLeaf(node);
    return step;
}

std::unique_ptr<EditStep> renameStep(Catalog &catalog, Node *node, const Bytes &currentKey, const Bytes &text,
                                     Catalog::RenameResult *result)
{
    // The key may be the node's own caption, which the rename replaces.
    const Bytes from = currentKey;
    const size_t recordRow = catalog.records().indexOf(from);
    const Catalog::RenameResult r = catalog.rename(node, from, text);
    if (result)
        *result = r;
    if (!r.renamed)
        return nullptr;
    return std::make_unique<RenameStep>(node, from, text, recordRow, pathOf(node));
}

std::unique_ptr<EditStep> setIconStep(Catalog &catalog, Node *node, int32_t icon)
{
    if (!node)
        return nullptr;
    const int32_t oldImage = node->imageIndex();
    size_t recordRow = catalog.records().indexOf(node->caption());
    const bool appended = recordRow == npos;
    Bytes oldIcons = appended ? Bytes() : Bytes(catalog.records().at(recordRow).icons);
    catalog.setIcon(node, icon);
    if (appended)
        recordRow = catalog.records().size() - 1;
    return std::make_unique<IconStep>(node, pathOf(node), oldImage, recordRow, appended, std::move(oldIcons),
                                      catalog);
}

std::unique_ptr<EditStep> moveUpStep(Catalog &catalog, Node *selected)
{
    if (!selected)
        return nullptr;
    RowPath from = pathOf(selected);
    if (!catalog.moveUp(selected))
        return nullptr;
    return std::make_unique<MoveStep>(EditStep::Kind::MoveUp, selected->caption(), from, from, selected);
}

std::unique_ptr<EditStep> moveDownStep(Catalog &catalog, Node *selected)
{
    if (!selected)
        return nullptr;
    RowPath from = pathOf(selected);
    if (!catalog.moveDown(selected))
        return nullptr;
    return std::make_unique<MoveStep>(EditStep::Kind::MoveDown, selected->caption(), from, from, selected);
}

std::unique_ptr<EditStep> appendStep(EditStep::Kind kind, Catalog &catalog, Node *parent, Node *selected,
                                     Bytes caption, const std::function<void()> &add)
{
    if (!parent)
        parent = catalog.outline().top();
    const size_t rows = parent->childCount();
    const size_t records = catalog.records().size();
    auto step = std::make_unique<AppendStep>(kind, std::move(caption), pathOf(selected), pathOf(parent), rows,
                                             records);
    try {
        add();
    } catch (...) {
        step->take(catalog);
        throw;
    }
    if (parent->childCount() == rows && catalog.records().size() == records)
        return nullptr;
    return step;
}

std::unique_ptr<EditStep> dragMoveStep(Catalog &catalog, Node *d, Node *t, Node *selected,
                                       const std::function<void(Node *)> &onDelete)
{
    if (!d || !t)
        return nullptr;
    RowPath before = pathOf(selected);
    RowPath from = pathOf(d);
    const Bytes caption = d->caption();
    Node *copy = nullptr;
    if (!catalog.dragMove(d, t, onDelete, &copy))
        return nullptr;
    return std::make_unique<MoveStep>(EditStep::Kind::DragMove, caption, std::move(before), std::move(from),
                                      copy);
}

} // namespace qv

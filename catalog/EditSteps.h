// The outline's commands as steps that can be taken back and made again.
// Each function runs the catalogue's own command and, when it changed
// anything, returns the step that undoes it exactly: the outline, the
// record table (its order included) and the selection come back as they
// were, so a save after any run of commands and as many undos writes the
// same bytes as before them.
//
// Steps name nodes by their path of rows from the top, never by pointer, so
// a step stays valid when later steps remove and re-create nodes. Steps are
// undone and redone in stack order: undoing a step assumes every later
// step was undone first.
#pragma once

#include "catalog/Catalog.h"

#include <functional>
#include <memory>
#include <vector>

namespace qv {

// Rows from the top down to a node; empty for no node.
using RowPath = std::vector<size_t>;
RowPath pathOf(const Node *n);
// The node at `path`, or null when the path leads nowhere (or is empty).
Node *nodeAt(const Outline &outline, const RowPath &path);

class EditStep {
public:
    enum class Kind { CreateNode, CreateChild, Delete, Rename, Icon, MoveUp, MoveDown, DragMove, Import };

    virtual ~EditStep() = default;
    Kind kind() const { return kind_; }
    // The node's caption when the command ran (for the step's name).
    const Bytes &caption() const { return caption_; }
    // The node selected before the command, and after it.
    const RowPath &selectionBefore() const { return selectionBefore_; }
    const RowPath &selectionAfter() const { return selectionAfter_; }
    void setSelectionAfter(RowPath path) { selectionAfter_ = std::move(path); }

    // Both set the unsaved-changes flag.
    virtual void undo(Catalog &catalog) = 0;
    virtual void redo(Catalog &catalog) = 0;

protected:
    EditStep(Kind kind, Bytes caption, RowPath selectionBefore)
        : kind_(kind), caption_(std::move(caption)), selectionBefore_(std::move(selectionBefore))
    {}

private:
    Kind kind_;
    Bytes caption_;
    RowPath selectionBefore_;
    RowPath selectionAfter_;
};

// The commands, as Catalog runs them. `selected` is the selected node (or
// null); a null result means the command changed nothing. The selection
// after the command is the node it made or moved, else none; the caller
// may set another.
std::unique_ptr<EditStep> createNodeStep(Catalog &catalog, Node *selected);
std::unique_ptr<EditStep> createChildStep(Catalog &catalog, Node *selected);
std::unique_ptr<EditStep> deleteLeafStep(Catalog &catalog, Node *node);
// Runs Catalog::rename; a step only when the node was renamed.
std::unique_ptr<EditStep> renameStep(Catalog &catalog, Node *node, const Bytes &currentKey, const Bytes &text,
                                     Catalog::RenameResult *result = nullptr);
std::unique_ptr<EditStep> setIconStep(Catalog &catalog, Node *node, int32_t icon);
std::unique_ptr<EditStep> moveUpStep(Catalog &catalog, Node *selected);
std::unique_ptr<EditStep> moveDownStep(Catalog &catalog, Node *selected);
// The drag-and-drop move of d's branch under t. `selected` is the selection
// before it.
std::unique_ptr<EditStep> dragMoveStep(Catalog &catalog, Node *d, Node *t, Node *selected,
                                       const std::function<void(Node *)> &onDelete = {});

// Runs `add`, which may only append: branches as the last children of
// `parent` (null: the top) and records at the end of the table. The step
// takes exactly those back and puts them back; null when nothing was
// added. `caption` names the step; the selection after it is the first
// branch added. When `add` throws, whatever it appended is taken back
// before the exception goes on.
std::unique_ptr<EditStep> appendStep(EditStep::Kind kind, Catalog &catalog, Node *parent, Node *selected,
                                     Bytes caption, const std::function<void()> &add);

} // namespace qv

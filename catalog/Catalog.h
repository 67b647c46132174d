// The catalogue: the outline and the record table, joined by caption, the
// unsaved-changes flag and the node commands acting on a selected node.
#pragma once

#include "catalog/Outline.h"
#include "catalog/RecordTable.h"

#include <optional>

namespace qv {

// A note's line break as the editor gives it and as its record holds it.
inline constexpr std::string_view kEditorLineBreak = "\r\n";
inline constexpr std::string_view kRecordLineBreak = "~~";

// A note between the editor's line breaks and the record's.
Bytes editorToRecord(std::string_view editorText);
Bytes recordToEditor(std::string_view recordText);

class Catalog {
public:
    Outline &outline() { return outline_; }
    const Outline &outline() const { return outline_; }
    RecordTable &records() { return records_; }
    const RecordTable &records() const { return records_; }

    bool modified() const { return modified_; }
    void markChanged() { modified_ = true; }
    void clearChanged() { modified_ = false; }

    // ---- the join ----
    // The note for the editor (CR LF line breaks), or nothing when no record
    // carries the caption.
    std::optional<Bytes> noteForEditor(const Bytes &caption) const;
    // Stores the editor text into the node's first record. A node without a
    // record gets one appended (section = caption, icons = its icon), so an
    // edit is never thrown away. Does not touch the flag.
    void storeNote(const Node *node, std::string_view editorText);
    // Stores a note already in record form ("~~" line breaks) into the node's
    // first record; false, with nothing changed, when no record carries the
    // node's caption. The editor keeps this form current edit by edit, so a
    // keystroke costs no conversion of the whole note. Does not touch the flag.
    bool setRecordText(const Node *node, Bytes recordText);
    // The icon join of a load: every node, in flat order, takes the icon of
    // its first record. Raises EConvertError for an icons field that is not
    // an integer or is longer than kMaxNumberLine; a record no node shows
    // is not looked at.
    void joinIcons();

    // ---- node commands ----
    // "Новый элемент N": N the node count, or the next N whose caption is free.
    Bytes defaultCaption() const;
    // New sibling before `selected`, or a new last root when null. Returns it.
    Node *createNode(Node *selected);
    // New last child of `selected`; null (nothing done) when none selected.
    Node *createChild(Node *selected);
    // Deletes a leaf and its first record. Callers check hasChildren first.
    void deleteLeaf(Node *node);

    struct RenameResult {
        size_t duplicateMessages = 0; // one "Узел ... уже имеется" box each
        bool invalidCaption = false;  // a caption the outline file cannot hold
        bool renamed = false;         // the node now carries the new caption
    };
    // Rename of `node`, whose caption was `currentKey` when editing began, to
    // `text`. On refusal the node keeps (or gets back) `currentKey`.
    RenameResult rename(Node *node, const Bytes &currentKey, const Bytes &text);
    // A caption the outline file can carry: no CR, LF, NUL or 0x1A, and no
    // TAB or blank in front.
    static bool captionStorable(const Bytes &caption);

    // Move the selected leaf one place up / down in flat order. Returns true
    // when it moved (the same Node object, now at its new place).
    bool moveUp(Node *selected);
    bool moveDown(Node *selected);

    // Icon k for the node and its first record (a record is appended when the
    // node has none). Sets the flag.
    void setIcon(Node *node, int32_t k);

    // Drag-and-drop move: d's branch becomes the last child of t, as a copy
    // followed by the removal of d's branch; `onDelete` sees each removed node
    // deepest first. Refused (false, nothing changes) when t is d or lies in
    // d's branch. Leaves the flag alone. Returns the copy through `copy`.
    bool dragMove(Node *d, Node *t, const std::function<void(Node *)> &onDelete = {}, Node **copy = nullptr);

    // Empties both halves (for a fresh load).
    void clear();
    // Takes `other`'s outline, records and unsaved-changes flag in place of
    // its own, which `other` gets back (to be dropped): another version of
    // the files read while the window runs. The outline's listener hears
    // one reset.
    void replaceWith(Catalog &other);
    // The end of a run, everything safely on disk: both halves let go
    // without freeing their hundreds of thousands of pieces one by one, so
    // the process ends at once. Leak checkers see it freed as usual.
    void releaseWithoutFreeing();

private:
    Node *addNewNode(Node *parent, size_t row);

    Outline outline_;
    RecordTable records_;
    bool modified_ = false;
};

} // namespace qv

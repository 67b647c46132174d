// What CherryTree's two document formats share: a node's note is built from
// its rich text runs and its objects (tables, code boxes, images, embedded
// files, anchors, LaTeX boxes), each object put back where it stood. An
// object's offset counts the characters of the rich text and of the objects
// before it (one each), as the program that wrote it keeps them.
#pragma once

#include "exchange/Import.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::exchange::cherrytree {

// A link to a node stands in a note as kNodeRef, the node's id, kNodeRef
// until resolveNodeLinks puts the node's caption there. XML text cannot
// hold the byte; text from elsewhere passes through plainText first.
constexpr char kNodeRef = '\x01';

class NoteBuilder {
public:
    // A run of rich text begins; `link` is its link attribute (empty: none).
    void beginRun(std::string_view link, ImportCounts &counts);
    void append(std::string_view utf8);
    // An object at `offset` (negative: after everything), as lines.
    void object(long long offset, std::string lines);
    // The note, the objects in their places and the tags as a last line.
    std::string finish(std::string_view tags, ImportCounts &counts);

private:
    struct Run {
        size_t chars, byte, end;
    };
    struct Object {
        long long offset;
        size_t order;
        std::string lines;
    };
    void closeLink();
    size_t byteAt(size_t chars) const;

    std::string text_;
    std::vector<Run> runs_;
    size_t chars_ = 0;
    std::string link_;    // the open link's attribute
    size_t linkFrom_ = 0; // where its text begins
    std::vector<Object> objects_;
};

// The marker lines (UTF-8).
std::string imageMarker();
std::string fileMarker(std::string_view name);
std::string anchorMarker(std::string_view name);
std::string formulaMarker();
// The file name a LaTeX box is kept under.
constexpr std::string_view kFormulaFile = "__ct_special.tex";

// A table's rows (each a vector of cells) as lines: the header, which the
// document keeps last, first; TABs and line breaks in a cell as blanks.
std::string tableLines(std::vector<std::vector<std::string>> rows);

// The nearest icon of the list to CherryTree's custom icon `id`, or 0.
int iconFor(long long id);
void countIcon(long long id, ImportedNode &node, ImportCounts &counts);

// Text from outside XML: any kNodeRef byte as U+FFFD.
std::string plainText(std::string_view utf8);

// Raises the refusal of an import that would grow past kMaxImportGrowth.
[[noreturn]] void refuseGrowth();

// Puts each linked node's caption in place of its id (ids and captions as
// read, in order).
void resolveNodeLinks(ImportedTree &tree, const std::vector<std::pair<std::string, size_t>> &ids);

} // namespace qv::exchange::cherrytree

// Import of an outline with notes from text, Markdown, OPML or a CherryTree
// notebook (XML or SQLite) into a catalogue. A source is first parsed into a detached tree
// (flat order with depths, UTF-8), then added after the catalogue's last root
// with captions made unique and storable. Nothing here recurses as deep as
// the input.
#pragma once

#include "catalog/Catalog.h"
#include "catalog/Errors.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::exchange {

// CherryTree: the XML document (.ctd) or the SQLite one (.ctb), told apart
// by the file's first bytes.
enum class ImportFormat { Text, Markdown, CherryTree, Opml, Zim };

// One node of the detached tree, in flat (pre-order) order.
struct ImportedNode {
    size_t depth = 0;    // 0 for a root; at most one more than the previous node's
    std::string caption; // UTF-8
    std::string note;    // UTF-8, lines separated by LF
    int icon = 0;        // index in the icon list (0: the default)
};

// An import keeps this many levels: a node deeper goes at the last of them.
constexpr size_t kMaxImportDepth = 1000;
// An import whose catalogue files would take more than this many times the
// source's bytes (or the floor's, for a small source) is refused.
constexpr uint64_t kMaxImportGrowth = 10;
constexpr uint64_t kImportGrowthFloor = uint64_t(1) << 20;

// What a reader carried into the notes, by kind: kept as text, or turned
// into a one-line marker.
struct ImportCounts {
    size_t links = 0;      // as their text and address
    size_t tables = 0;     // as tab-separated rows
    size_t codeBoxes = 0;  // as their lines
    size_t tagged = 0;     // nodes with a last line of tags
    size_t icons = 0;      // node icons given the nearest of the list
    size_t otherIcons = 0; // node icons with none near, left at the default
    size_t images = 0;     // markers from here on
    size_t files = 0;
    size_t anchors = 0;
    size_t formulas = 0;
};

struct ImportedTree {
    std::vector<ImportedNode> nodes;
    uint64_t sourceBytes = 0; // what the tree was parsed from (0: no bound on the import)
    ImportCounts counts;
};

// A source that cannot be imported: the message names the line (or the XML
// line and column), in Windows-1251.
class EImportError : public Error {
public:
    using Error::Error;
};

// The text format: one line per node, one TAB per level before the caption;
// each note line follows as one TAB per level plus one, a blank, the line.
// A file without TABs at line starts but with blanks there is an outline
// indented by the unit of its first indented line, without notes.
ImportedTree parseText(std::string_view utf8);
// ATX headings give the tree, list items below a level-6 heading continue it;
// the text under a heading or item is its note.
ImportedTree parseMarkdown(std::string_view utf8);
// CherryTree's XML document, read in pieces from `read` (which fills the
// buffer and returns the count, 0 at the end). A note holds its rich text
// with each link's address after its text, each table (tab-separated rows,
// the header first) and code box on lines of their own where they stood,
// a marker line for each image, embedded file, anchor and LaTeX box, and
// the node's tags as a last line.
ImportedTree parseCherryTree(const std::function<size_t(char *, size_t)> &read);
ImportedTree parseCherryTree(std::string_view xml);
// CherryTree's SQLite document (.ctb), opened read-only; the same notes.
ImportedTree parseCherryTreeDb(const std::string &path);
// A Zim notebook: the folder holding notebook.zim (or that file); each page
// a node in Zim's order, its wiki text as plain text, its attachments named.
ImportedTree parseZim(const std::string &path);
// OPML: each outline element a node (its text attribute the caption, its
// _note attribute the note).
ImportedTree parseOpml(std::string_view xml);

// Reads and parses a file. Raises the file's errors and EImportError (also
// for an encrypted CherryTree notebook, .ctz or .ctx).
ImportedTree parseFile(const std::string &path, ImportFormat format);

struct ImportSummary {
    size_t nodes = 0;
    size_t notes = 0;    // nodes with a non-empty note
    size_t replaced = 0; // characters the code page cannot hold, and line ends/NUL in captions
    size_t renamed = 0;  // captions given a numeric suffix or a default name
    ImportCounts counts;
    size_t flattened = 0; // nodes deeper than kMaxImportDepth levels, added at the last level
};

// The caption an empty one becomes.
Bytes defaultImportCaption();

// Adds the tree as the last children of `parent` (null: after the
// catalogue's last root): each node with a unique, storable caption (at
// most kMaxImportDepth levels deep, counted from the top) and its icon; a
// record (icons: the node's icon) for each non-empty note or other icon. Raises EImportError, adding nothing, when
// the files would grow past kMaxImportGrowth times the source. Sets the
// catalogue's changed flag when anything was added. Each note's UTF-8 text
// is let go as soon as it is converted (pass the tree with std::move).
ImportSummary addToCatalog(ImportedTree tree, Catalog &catalog, Node *parent = nullptr);

// The summary as one UTF-8 line (without the line end).
std::string summaryLine(const ImportSummary &summary);

} // namespace qv::exchange

// Import of an outline with notes from text, Markdown or a CherryTree
// document into a catalogue. A source is first parsed into a detached tree
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

enum class ImportFormat { Text, Markdown, CherryTree, Zim };

// One node of the detached tree, in flat (pre-order) order.
struct ImportedNode {
    size_t depth = 0;    // 0 for a root; at most one more than the previous node's
    std::string caption; // UTF-8
    std::string note;    // UTF-8, lines separated by LF
};

// An import keeps this many levels: a node deeper goes at the last of them.
constexpr size_t kMaxImportDepth = 1000;
// An import whose catalogue files would take more than this many times the
// source's bytes (or the floor's, for a small source) is refused.
constexpr uint64_t kMaxImportGrowth = 10;
constexpr uint64_t kImportGrowthFloor = uint64_t(1) << 20;

struct ImportedTree {
    std::vector<ImportedNode> nodes;
    uint64_t sourceBytes = 0; // what the tree was parsed from (0: no bound on the import)
    size_t imagesSkipped = 0; // CherryTree images
    size_t filesSkipped = 0;  // CherryTree embedded files
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
// buffer and returns the count, 0 at the end).
ImportedTree parseCherryTree(const std::function<size_t(char *, size_t)> &read);
ImportedTree parseCherryTree(std::string_view xml);

// Reads and parses a file (for Zim, a notebook's folder). Raises the file's
// errors and EImportError.
ImportedTree parseFile(const std::string &path, ImportFormat format);

struct ImportSummary {
    size_t nodes = 0;
    size_t notes = 0;    // nodes with a non-empty note
    size_t replaced = 0; // characters the code page cannot hold, and line ends/NUL in captions
    size_t renamed = 0;  // captions given a numeric suffix or a default name
    size_t imagesSkipped = 0;
    size_t filesSkipped = 0;
    size_t flattened = 0; // nodes deeper than kMaxImportDepth levels, added at the last level
};

// The caption an empty one becomes.
Bytes defaultImportCaption();

// Adds the tree after the catalogue's last root: each node with a unique,
// storable caption (at most kMaxImportDepth levels deep); each non-empty
// note as a record (icons "0"). Raises EImportError, adding nothing, when
// the files would grow past kMaxImportGrowth times the source. Sets the
// catalogue's changed flag when anything was added. Each note's UTF-8 text
// is let go as soon as it is converted (pass the tree with std::move).
ImportSummary addToCatalog(ImportedTree tree, Catalog &catalog);

// The summary as one UTF-8 line (without the line end).
std::string summaryLine(const ImportSummary &summary);

} // namespace qv::exchange

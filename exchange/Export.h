// The catalogue written out as one HTML page, as Markdown, as OPML or as
// indented text, for reading and keeping outside the program. Everything is written
// in the outline's flat order, every caption and every note exactly once
// (a node's note by the first-match join; a node without a record has an
// empty note), as UTF-8, streamed in pieces and without recursion, so an
// outline of any depth is written.
#pragma once

#include "catalog/Catalog.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace qv {

enum class ExportFormat { Html, Markdown, Text, Opml };

// "html", "markdown", "text", "opml" (exactly); false for anything else.
bool parseExportFormat(std::string_view name, ExportFormat &format);

// Receives the output in order, a piece (up to some 64 KB) at a time. It may
// throw; the export then stops with that exception.
using ExportSink = std::function<void(std::string_view)>;

struct ExportOptions {
    // UTF-8: the HTML page's title and heading, the OPML head's title.
    std::string title = "Quorvel";
};

//  - Html: a self-contained page (inline style and script, the icons as
//    data: URIs, nothing fetched): the title as a heading, a filter box that
//    narrows the outline, nested lists, a node with children as an open
//    <details>; each note below its caption at a readable width, line
//    breaks kept, web addresses as links; a print style.
//  - Markdown: a heading per node down to level 6, deeper nodes as list
//    items indented two blanks per level below 6; notes as text with only
//    what Markdown would read as markup there escaped, addresses with a
//    scheme as autolinks. Importing it gives the same outline back.
//  - Opml: outline elements, the caption in text, the note in _note.
//  - Text: a node is a line of one TAB per level and its caption; each note
//    line follows as one TAB per level plus one, a blank and the line.
void exportCatalog(const Catalog &catalog, ExportFormat format, const ExportSink &sink,
                   const ExportOptions &options = {});
void exportCatalog(const Catalog &catalog, ExportFormat format, std::ostream &out,
                   const ExportOptions &options = {});

} // namespace qv

// The catalogue written out as one HTML page, as Markdown or as indented
// text, for reading and keeping outside the program. Everything is written
// in the outline's flat order, every caption and every note exactly once
// (a node's note by the first-match join; a node without a record has an
// empty note), as UTF-8, streamed in pieces and without recursion, so an
// outline of any depth is written.
#pragma once

#include "catalog/Catalog.h"

#include <functional>
#include <iosfwd>
#include <string_view>

namespace qv {

enum class ExportFormat { Html, Markdown, Text };

// "html", "markdown", "text" (exactly); false for anything else.
bool parseExportFormat(std::string_view name, ExportFormat &format);

// Receives the output in order, a piece (up to some 64 KB) at a time. It may
// throw; the export then stops with that exception.
using ExportSink = std::function<void(std::string_view)>;

//  - Html: a self-contained page (inline style, the icons as data: URIs, no
//    script): nested lists, a node with children as an open <details>; each
//    note below its caption, line breaks kept, web addresses as links.
//  - Markdown: a heading per node down to level 6, deeper nodes as list
//    items indented two blanks per level below 6; notes as text with the
//    special characters escaped, web addresses as autolinks.
//  - Text: a node is a line of one TAB per level and its caption; each note
//    line follows as one TAB per level plus one, a blank and the line.
void exportCatalog(const Catalog &catalog, ExportFormat format, const ExportSink &sink);
void exportCatalog(const Catalog &catalog, ExportFormat format, std::ostream &out);

} // namespace qv

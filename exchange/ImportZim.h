// Import of a Zim notebook: a folder holding "notebook.zim", each page a
// text file in Zim's wiki syntax ("Page_name.txt"), a page's sub-pages and
// attachments in the folder of its name beside it.
#pragma once

#include "exchange/Import.h"

#include <string>
#include <string_view>

namespace qv::exchange {

// The notebook in `folder` as a tree in Zim's order (names compared without
// letter case, runs of digits by their value). A folder without its page
// file is a node with an empty note; a page's attachments are named on the
// last line of its note. Only the notebook's own entries are read: a
// symbolic link or anything else that is no plain file or folder is skipped
// and counted with the attachments. Raises EImportError for a folder that
// is no notebook, and the files' errors.
ImportedTree parseZimNotebook(const std::string &folder);

// A page's wiki text as plain text: the header block and a first heading
// that repeats the page's name dropped; headings, emphasis and verbatim
// marks taken off; a link as its text followed by its address (a page as
// its name in quotes); an image as a one-line marker; checkboxes as
// "[ ]" (open), "[x]" (done), "[-]" (cancelled), "[>]" (moved on).
// `images` counts the images met.
std::string zimPageToPlain(std::string_view wiki, std::string_view pageName, size_t &images);

} // namespace qv::exchange

// A Zim page's wiki text as a note's plain text (the Zim import's reader of
// one page, apart so that it can be fuzzed alone).
#pragma once

#include "exchange/Import.h"

#include <string>
#include <string_view>

namespace qv::exchange::zim {

// The page file's text (UTF-8, its header lines included) as plain text:
// headings as their text (a first heading that is the page's own name left
// out), bold, italic, underline, strike-through, verbatim, sub- and
// superscript marks dropped, a link as its text and address (a page as its
// name in «»), an image as a marker line, list bullets as "•", checkboxes as
// "[ ]" or "[x]", a verbatim block's lines as they are.
std::string pageText(std::string_view page, std::string_view caption, ImportCounts &counts);

// A page's name from its file or folder name ("Мой_план" → "Мой план",
// "%3F" → "?").
std::string pageName(std::string_view fileName);

} // namespace qv::exchange::zim

// Web addresses in a line of note text: the one rule by which the note
// editor underlines links and the export writes them.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

// A link inside one line: [start, end) in the line's units.
using LinkSpan = std::pair<size_t, size_t>;

// Every web address of a line, in order. A link starts at http://, https://,
// ftp://, gopher://, telnet://, wais://, prospero://, nntp://, file:,
// mailto:, news: or "www." (any letter case) where no word character
// (letter, digit, '_'), '@', '.', '-' or '/' stands before it; it ends at
// white space, a control character or one of < > " { } | \ ^ ` (or the end
// of the line), and gives back trailing . , ; : ! ? ' * and the closing
// brackets ) ] it did not open. A start with nothing left after it is no
// link.
//
// Over Windows-1251 bytes (the export's notes): byte ranges.
std::vector<LinkSpan> findLinks(std::string_view line);

// Over UTF-16 units (the note editor's blocks): unit ranges. Whether a
// character outside the code page is a letter or digit is asked of
// `otherIsWord`, the caller's own Unicode rule (only for the character
// before a start); without one, no such character is.
using IsWordChar = bool (*)(char32_t codePoint);
std::vector<LinkSpan> findLinks(std::u16string_view line, IsWordChar otherIsWord = nullptr);

} // namespace qv

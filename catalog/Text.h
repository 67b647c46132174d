// Byte strings in the catalogue's code page (Windows-1251) and the one
// conversion between them and UTF-16/UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Every caption, note and file line is a std::string of Windows-1251 bytes,
// compared byte by byte.
using Bytes = std::string;

namespace cp1251 {

// Windows-1251 bytes to UTF-16. Every byte maps to some code point.
std::u16string toUtf16(std::string_view bytes);
// UTF-16 to Windows-1251. A character the code page cannot hold becomes '?'
// (never 0x1A, the record file's end-of-data mark).
Bytes fromUtf16(std::u16string_view text);

// The same through UTF-8, for the program's own literals and for terminals.
Bytes fromUtf8(std::string_view utf8);
std::string toUtf8(std::string_view bytes);

// Locale-aware letter case over Windows-1251 (Latin and Cyrillic letters).
char toUpper(char c);
char toLower(char c);
Bytes upper(std::string_view bytes);
Bytes lower(std::string_view bytes);

// The same letter case over UTF-16 text (the note editor's): a character of
// the code page changes as its byte does above; any other character is
// handed to `otherCase`, the caller's own Unicode rule, except surrogate
// halves and the paragraph separator, which stay as they are.
using UnitCase = char16_t (*)(char16_t unit);
std::u16string upper(std::u16string_view text, UnitCase otherCase);
std::u16string lower(std::u16string_view text, UnitCase otherCase);
// The first character in upper case and the rest in lower case.
std::u16string capitalized(std::u16string_view text, UnitCase otherUpper, UnitCase otherLower);

} // namespace cp1251

// Shorthand for a program text written in UTF-8 source, as Windows-1251.
inline Bytes W(std::string_view utf8) { return cp1251::fromUtf8(utf8); }

// Replace every occurrence of `from` by `to`, left to right, non-overlapping.
Bytes replaceAll(std::string_view text, std::string_view from, std::string_view to);

// Decimal text of a signed 32-bit number: '-' for negatives, no '+', no zeros in front.
Bytes decimal(long long value);

} // namespace qv

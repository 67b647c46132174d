// What the line-based readers (text, Markdown) share.
#pragma once

#include <string_view>

namespace qv::exchange::lines {

// Calls `each(lineNumber, line)` for every line: LF ends a line, a CR before
// it is dropped, a UTF-8 byte order mark in front is skipped, and a last LF
// opens no further line.
template <typename F>
void forEachLine(std::string_view text, F &&each)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    size_t number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        each(++number, line);
    }
}

inline bool blankOnly(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

} // namespace qv::exchange::lines

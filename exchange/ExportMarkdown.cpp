// Markdown: headings down to level 6, list items below, notes as text.
#include "exchange/ExportWriter.h"

#include "catalog/Links.h"

#include <array>

namespace qv::exportdetail {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }
bool asciiPunct(char c)
{
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`')
        || (c >= '{' && c <= '~');
}
// A letter or digit (any byte past ASCII is a letter of the code page or
// a sign no markup uses).
bool wordChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
        || static_cast<unsigned char>(c) >= 0x80;
}

// Whether line[from, to) holds a character that may need a backslash:
// \ ` * _ [ < & ~ (a table, not a search per character).
bool anySpecial(std::string_view line, size_t from, size_t to)
{
    static const std::array<bool, 256> special = [] {
        std::array<bool, 256> t{};
        for (const unsigned char c : std::string_view("\\`*_[<&~"))
            t[c] = true;
        return t;
    }();
    for (size_t i = from; i < to; ++i)
        if (special[static_cast<unsigned char>(line[i])])
            return true;
    return false;
}

// Where a piece of text stands: at a line's start (after a list marker
// too), a heading's text, or inside a line.
enum class Place { LineStart, Heading, Inline };

// The position in s of a character that would begin a block at the start of
// a line (a heading, quote, list item, rule, underline or fence), or npos.
size_t blockMarker(std::string_view s)
{
    if (s.empty())
        return std::string_view::npos;
    const char c = s[0];
    const bool separated = s.size() == 1 || blank(s[1]);
    if (c == '#' || c == '>' || ((c == '-' || c == '+' || c == '*') && separated))
        return 0;
    // A rule (- * _ three times or more) or a heading's underline (= -).
    if (s.find_first_not_of("-*_= \t") == std::string_view::npos && c != ' ' && c != '\t')
        return 0;
    // An ordered list item: up to nine digits, '.' or ')', a blank or the end.
    size_t d = 0;
    while (d < s.size() && d < 10 && s[d] >= '0' && s[d] <= '9')
        ++d;
    if (d >= 1 && d <= 9 && d < s.size() && (s[d] == '.' || s[d] == ')')
        && (d + 1 == s.size() || blank(s[d + 1])))
        return d;
    return std::string_view::npos;
}

// Whether '&' at s[i] begins a character reference ("&amp;", "&#32;").
bool referenceStart(std::string_view s, size_t i)
{
    size_t j = i + 1;
    if (j < s.size() && s[j] == '#')
        ++j;
    const size_t from = j;
    while (j < s.size() && j - from < 32
           && ((s[j] >= '0' && s[j] <= '9') || (s[j] >= 'a' && s[j] <= 'z') || (s[j] >= 'A' && s[j] <= 'Z')))
        ++j;
    return j > from && j < s.size() && s[j] == ';';
}

// The text with a backslash before each character that Markdown would read
// as markup where it stands, and nothing else: emphasis that could open or
// close, code spans, link brackets, HTML and autolinks, character
// references, strike-through, a hard break's backslash, and at a line's
// start the block markers. Blanks that a reader would drop (in front, and
// at a heading's end) are written as character references.
void markdownText(Out &out, std::string_view line, size_t from, size_t to, Place place, char after)
{
    size_t i = from;
    size_t end = to;
    if (place != Place::Inline)
        for (; i < end && blank(line[i]); ++i)
            out.put(line[i] == ' ' ? "&#32;" : "&#9;");
    std::string tail;
    if (place == Place::Heading) {
        while (end > i && blank(line[end - 1]))
            tail.insert(0, line[--end] == ' ' ? "&#32;" : "&#9;");
        if (!tail.empty())
            after = '&';
    }
    const size_t start = i;
    const size_t marker = place == Place::LineStart ? blockMarker(line.substr(i)) : std::string_view::npos;
    // A heading's closing run of '#' (after a blank, or the whole text).
    size_t closing = std::string_view::npos;
    if (place == Place::Heading) {
        const size_t last = line.substr(0, end).find_last_not_of('#');
        const size_t run = last == std::string_view::npos || last < start ? start : last + 1;
        if (run < end && (run == start || blank(line[run - 1])))
            closing = run;
    }
    // Most text has nothing to escape.
    if (marker == std::string_view::npos && closing == std::string_view::npos && !anySpecial(line, i, end)) {
        out.text(line.substr(i, end - i));
        out.put(tail);
        return;
    }
    const size_t lastTick = line.rfind('`');
    const size_t lastClose = line.rfind(']');
    size_t run = i; // the characters not yet written
    for (; i < end; ++i) {
        const char c = line[i];
        const char prev = i > 0 ? line[i - 1] : ' ';
        const char next = i + 1 < end ? line[i + 1] : after;
        bool escape = false;
        switch (c) {
        case '\\':
            escape = next == '\n' || asciiPunct(next);
            break;
        case '`':
            escape = lastTick != i;
            break;
        case '*':
            escape = !(blank(prev) && (blank(next) || next == '\n'));
            break;
        case '_':
            escape = !(wordChar(prev) && wordChar(next)) && !(blank(prev) && (blank(next) || next == '\n'));
            break;
        case '[':
            escape = lastClose != std::string_view::npos && lastClose > i;
            break;
        case '<':
            escape = (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') || next == '/'
                || next == '!' || next == '?';
            break;
        case '&':
            escape = referenceStart(line, i);
            break;
        case '~':
            escape = prev == '~' || next == '~';
            break;
        default:
            break;
        }
        if (escape || i == start + marker || i == closing) {
            out.text(line.substr(run, i - run));
            out.put('\\');
            run = i;
        }
    }
    out.text(line.substr(run, end - run));
    out.put(tail);
}

void markdownText(Out &out, std::string_view line, Place place)
{
    markdownText(out, line, 0, line.size(), place, '\n');
}

void markdownNoteLine(Out &out, std::string_view line)
{
    size_t at = 0;
    for (const auto &[start, end] : findLinks(line)) {
        // An address with a scheme as an autolink; "www." as text, which
        // readers that link bare addresses link.
        const bool bare = startsWithNoCase(line, start, "www.");
        markdownText(out, line, at, start, at == 0 ? Place::LineStart : Place::Inline,
                     bare ? line[start] : '<');
        if (bare) {
            markdownText(out, line, start, end, start == 0 ? Place::LineStart : Place::Inline,
                         end < line.size() ? line[end] : '\n');
        } else {
            out.put('<');
            out.text(line.substr(start, end - start));
            out.put('>');
        }
        at = end;
    }
    if (at < line.size() || at == 0)
        markdownText(out, line, at, line.size(), at == 0 ? Place::LineStart : Place::Inline, '\n');
}

constexpr size_t kHeadingLevels = 6;

} // namespace

void exportMarkdown(const Catalog &catalog, Out &out)
{
    bool first = true;
    walk(catalog.outline(), [&](const Node *n, size_t depth) {
        if (!first)
            out.put('\n');
        first = false;
        size_t indent = 0; // of the note's lines
        if (depth < kHeadingLevels) {
            out.repeat('#', depth + 1);
            out.put(' ');
        } else {
            indent = 2 * (depth - kHeadingLevels);
            out.repeat(' ', indent);
            out.put("- ");
            indent += 2;
        }
        markdownText(out, n->caption(), depth < kHeadingLevels ? Place::Heading : Place::LineStart);
        out.put('\n');
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        const std::vector<std::string_view> lines = noteLines(note);
        if (lines.empty())
            return;
        out.put('\n');
        // Blank lines at a note's ends would be dropped as paragraph breaks;
        // there they are kept as a lone hard-break backslash.
        size_t from = 0, to = lines.size();
        while (from < to && lines[from].empty())
            ++from;
        while (to > from && lines[to - 1].empty())
            --to;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].empty() && i >= from && i < to) {
                out.put('\n');
                continue;
            }
            out.repeat(' ', indent);
            markdownNoteLine(out, lines[i]);
            // A line break inside a paragraph is kept as a hard break.
            if (lines[i].empty() || (i + 1 < lines.size() && !lines[i + 1].empty()))
                out.put('\\');
            out.put('\n');
        }
    });
}

} // namespace qv::exportdetail

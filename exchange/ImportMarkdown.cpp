// The Markdown import: ATX headings give the tree (list items below a
// level-6 heading continue it), or, in a file without headings, its bullet
// lists do; the text under a heading or item is its note.
#include "exchange/Import.h"
#include "exchange/ImportLines.h"

#include <string>
#include <utility>
#include <vector>

namespace qv::exchange {

namespace {

using lines::blankOnly;
using lines::forEachLine;

bool asciiPunct(char c)
{
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`')
        || (c >= '{' && c <= '~');
}

// The length of an autolink "<scheme:...>" at the start of s, or 0.
size_t autolinkLength(std::string_view s)
{
    if (s.size() < 4 || s[0] != '<')
        return 0;
    size_t i = 1;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(s[i]))
        return 0;
    while (i < s.size() && i <= 33
           && (letter(s[i]) || (s[i] >= '0' && s[i] <= '9') || s[i] == '+' || s[i] == '.' || s[i] == '-'))
        ++i;
    if (i < 3 || i >= s.size() || s[i] != ':')
        return 0;
    for (++i; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '>')
            return i + 1;
        if (c <= ' ' || c == '<')
            return 0;
    }
    return 0;
}

// A numeric character reference ("&#32;", "&#x263A;") at the start of s:
// its length, with the character appended to `out` as UTF-8 (U+FFFD for
// one that names no character); 0 when there is none.
size_t characterReference(std::string_view s, std::string &out)
{
    if (s.size() < 4 || s[0] != '&' || s[1] != '#')
        return 0;
    const bool hex = s[2] == 'x' || s[2] == 'X';
    const size_t from = hex ? 3 : 2, most = hex ? 6 : 7;
    uint32_t cp = 0;
    size_t i = from;
    for (; i < s.size() && i - from < most; ++i) {
        const char c = s[i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = uint32_t(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = uint32_t(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = uint32_t(c - 'A' + 10);
        else
            break;
        cp = cp * (hex ? 16 : 10) + d;
    }
    if (i == from || i >= s.size() || s[i] != ';')
        return 0;
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return i + 1;
}

// Backslash escapes removed, autolinks unwrapped, numeric character
// references decoded, a hard break's backslash at the end dropped.
std::string inlineText(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size() && asciiPunct(s[i + 1])) {
            out += s[++i];
        } else if (c == '\\' && i + 1 == s.size()) {
            // hard line break
        } else if (size_t n = c == '<' ? autolinkLength(s.substr(i)) : 0) {
            out.append(s.substr(i + 1, n - 2));
            i += n - 1;
        } else if (size_t r = c == '&' ? characterReference(s.substr(i), out) : 0) {
            i += r - 1;
        } else {
            out += c;
        }
    }
    return out;
}

// "# caption" with up to three blanks in front: the level (1..6) and the
// caption, or level 0.
int heading(std::string_view line, std::string_view &caption)
{
    const size_t lead = line.find_first_not_of(' ');
    if (lead == std::string_view::npos || lead > 3)
        return 0;
    line.remove_prefix(lead);
    const size_t hashes
        = line.find_first_not_of('#') == std::string_view::npos ? line.size() : line.find_first_not_of('#');
    if (hashes < 1 || hashes > 6)
        return 0;
    if (hashes < line.size() && line[hashes] != ' ' && line[hashes] != '\t')
        return 0;
    std::string_view text = line.substr(hashes);
    const size_t from = text.find_first_not_of(" \t");
    text = from == std::string_view::npos ? std::string_view() : text.substr(from);
    const size_t to = text.find_last_not_of(" \t");
    text = text.substr(0, to == std::string_view::npos ? 0 : to + 1);
    // An optional closing sequence of '#' after a blank.
    const size_t lastNonHash = text.find_last_not_of('#');
    if (lastNonHash == std::string_view::npos) {
        text = {};
    } else if (lastNonHash + 1 < text.size() && (text[lastNonHash] == ' ' || text[lastNonHash] == '\t')) {
        text = text.substr(0, lastNonHash);
        const size_t end = text.find_last_not_of(" \t");
        text = text.substr(0, end == std::string_view::npos ? 0 : end + 1);
    }
    caption = text;
    return static_cast<int>(hashes);
}

// "- item", "* item", "+ item": the indentation and the item's text, or false.
bool listItem(std::string_view line, size_t &indent, std::string_view &text)
{
    indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos || indent + 1 >= line.size())
        return false;
    const char m = line[indent];
    if ((m != '-' && m != '*' && m != '+') || line[indent + 1] != ' ')
        return false;
    text = line.substr(indent + 2);
    return true;
}

bool fence(std::string_view line)
{
    const size_t lead = line.find_first_not_of(' ');
    if (lead == std::string_view::npos || lead > 3)
        return false;
    line.remove_prefix(lead);
    return line.substr(0, 3) == "```" || line.substr(0, 3) == "~~~";
}

// The note lines of the node being read: lines blank in the source at
// both ends left out.
struct NoteLines {
    std::vector<std::pair<bool, std::string>> lines; // blank in the source, the text
    void flushInto(std::string &note)
    {
        size_t b = 0, e = lines.size();
        while (b < e && lines[b].first)
            ++b;
        while (e > b && lines[e - 1].first)
            --e;
        for (size_t i = b; i < e; ++i) {
            if (i > b)
                note += '\n';
            note += lines[i].second;
        }
        lines.clear();
    }
};

} // namespace

ImportedTree parseMarkdown(std::string_view utf8)
{
    ImportedTree tree;
    tree.sourceBytes = utf8.size();
    struct Heading {
        int level;
        size_t depth;
    };
    std::vector<Heading> headings;
    std::vector<size_t> items; // indentation of the open list items
    bool inItem = false;
    size_t itemIndent = 0;
    bool inFence = false;
    // A file without headings but with a bullet list at the margin is an
    // outline of list items.
    bool bulletOutline = false;
    {
        bool fenced = false, headed = false;
        forEachLine(utf8, [&](size_t, std::string_view line) {
            std::string_view text;
            size_t indent = 0;
            if (fence(line))
                fenced = !fenced;
            else if (!fenced && heading(line, text))
                headed = true;
            else if (!fenced && listItem(line, indent, text) && indent == 0)
                bulletOutline = true;
        });
        bulletOutline = bulletOutline && !headed;
    }
    NoteLines pending;
    auto finish = [&] {
        if (!tree.nodes.empty())
            pending.flushInto(tree.nodes.back().note);
    };
    forEachLine(utf8, [&](size_t, std::string_view line) {
        std::string_view text;
        size_t indent = 0;
        if (!inFence) {
            if (int level = heading(line, text)) {
                finish();
                while (!headings.empty() && headings.back().level >= level)
                    headings.pop_back();
                const size_t depth = headings.empty() ? 0 : headings.back().depth + 1;
                headings.push_back({level, depth});
                items.clear();
                inItem = false;
                tree.nodes.push_back({depth, inlineText(text), {}, 0});
                return;
            }
            const bool itemsAreNodes = headings.empty() ? bulletOutline : headings.back().level == 6;
            if (itemsAreNodes && listItem(line, indent, text)) {
                finish();
                while (!items.empty() && items.back() >= indent)
                    items.pop_back();
                const size_t depth = (headings.empty() ? 0 : headings.back().depth + 1) + items.size();
                items.push_back(indent);
                inItem = true;
                itemIndent = indent;
                tree.nodes.push_back({depth, inlineText(text), {}, 0});
                return;
            }
        }
        if (tree.nodes.empty()) {
            if (blankOnly(line))
                return;
            tree.nodes.push_back({0, {}, {}, 0}); // text before the first heading
        }
        if (inItem) {
            const size_t strip = std::min(line.find_first_not_of(' '), itemIndent + 2);
            line.remove_prefix(std::min(strip, line.size()));
        }
        const bool isFence = fence(line);
        if (isFence)
            inFence = !inFence;
        pending.lines.emplace_back(blankOnly(line),
                                   inFence || isFence ? std::string(line) : inlineText(line));
    });
    finish();
    return tree;
}

} // namespace qv::exchange

#include "catalog/Links.h"

#include "catalog/Text.h"

#include <array>
#include <string>

namespace qv {

namespace {

constexpr std::string_view kStarts[]
    = {"http://",     "https://", "ftp://", "gopher://", "telnet://", "wais://",
       "prospero://", "nntp://",  "file:",  "mailto:",   "news:",     "www."};

// White space, controls and the characters an address cannot hold.
bool stopsLink(char32_t c)
{
    if (c <= 0x20 || (c >= 0x7F && c <= 0xA0)) // controls, the blank, the no-break space
        return true;
    switch (c) {
    case '<':
    case '>':
    case '"':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '`':
    case 0x1680: // blanks beyond Latin-1
    case 0x202F:
    case 0x205F:
    case 0x3000:
    case 0x2028: // line and paragraph separators
    case 0x2029:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

bool trailingPunctuation(char32_t c)
{
    switch (c) {
    case '.':
    case ',':
    case ';':
    case ':':
    case '!':
    case '?':
    case '\'':
    case '*':
        return true;
    default:
        return false;
    }
}

// A character as a start's letters are compared: ASCII in lower case, the
// two characters that match an ASCII letter in any letter case as that
// letter, nothing (0) for any other.
char32_t folded(char32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 'a';
    if (c == 0x17F) // long s
        return 's';
    if (c == 0x212A) // Kelvin sign
        return 'k';
    return c < 0x80 ? c : 0;
}

// The word characters of the code page: ASCII letters, digits and '_', the
// Cyrillic letters and the micro sign.
bool codePageWord(char32_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == 0xB5
        || (c >= 0x400 && c <= 0x4FF);
}

// A character before a start that keeps it from being one.
bool blocksStart(char32_t c, IsWordChar otherIsWord)
{
    if (c == '@' || c == '.' || c == '-' || c == '/')
        return true;
    if (c < 0x80)
        return codePageWord(c);
    if (c <= 0xFFFF) {
        const char16_t unit = static_cast<char16_t>(c);
        const Bytes b = cp1251::fromUtf16(std::u16string_view(&unit, 1));
        if (b != "?")
            return codePageWord(c);
    }
    return otherIsWord && otherIsWord(c);
}

struct CodePage {
    std::array<char16_t, 256> code{};
    std::array<bool, 256> stops{};
    std::array<bool, 256> blocks{};
};

const CodePage &codePage()
{
    static const CodePage table = [] {
        CodePage t;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            t.code[b] = cp1251::toUtf16(std::string_view(&c, 1)).front();
            t.stops[b] = stopsLink(t.code[b]);
            t.blocks[b] = blocksStart(t.code[b], nullptr);
        }
        return t;
    }();
    return table;
}

// A line of code page bytes.
struct ByteLine {
    std::string_view s;
    const CodePage &page = codePage();
    size_t size() const { return s.size(); }
    char32_t at(size_t i) const { return page.code[static_cast<unsigned char>(s[i])]; }
    bool stops(size_t i) const { return page.stops[static_cast<unsigned char>(s[i])]; }
    bool blockedAt(size_t i) const { return i > 0 && page.blocks[static_cast<unsigned char>(s[i - 1])]; }
};

// A line of UTF-16 units; the character before a start is read whole.
struct Utf16Line {
    std::u16string_view s;
    IsWordChar otherIsWord;
    size_t size() const { return s.size(); }
    char32_t at(size_t i) const { return s[i]; }
    bool stops(size_t i) const { return stopsLink(s[i]); }
    bool blockedAt(size_t i) const
    {
        if (i == 0)
            return false;
        char32_t c = s[i - 1];
        if (c >= 0xDC00 && c <= 0xDFFF && i >= 2 && s[i - 2] >= 0xD800 && s[i - 2] <= 0xDBFF)
            c = 0x10000 + ((char32_t(s[i - 2]) - 0xD800) << 10) + (c - 0xDC00);
        return blocksStart(c, otherIsWord);
    }
};

// The length of the start at `i`, or 0.
template <class Line>
size_t startAt(const Line &line, size_t i)
{
    const char32_t first = folded(line.at(i));
    switch (first) { // the first letters of kStarts
    case 'f':
    case 'g':
    case 'h':
    case 'm':
    case 'n':
    case 'p':
    case 't':
    case 'w':
        break;
    default:
        return 0;
    }
    for (std::string_view s : kStarts) {
        if (char32_t(s[0]) != first || line.size() - i < s.size())
            continue;
        size_t k = 1;
        while (k < s.size() && folded(line.at(i + k)) == char32_t(s[k]))
            ++k;
        if (k == s.size())
            return line.blockedAt(i) ? 0 : s.size();
    }
    return 0;
}

template <class Line>
std::vector<LinkSpan> scan(const Line &line)
{
    std::vector<LinkSpan> out;
    size_t i = 0;
    while (i < line.size()) {
        const size_t prefix = startAt(line, i);
        if (!prefix) {
            ++i;
            continue;
        }
        const size_t start = i;
        const size_t prefixEnd = i + prefix;
        size_t end = prefixEnd;
        while (end < line.size() && !line.stops(end))
            ++end;
        // Give back punctuation that closes the sentence rather than the
        // address: a closing bracket only when the link did not open it.
        size_t opens[2] = {}, closes[2] = {}; // () and []
        for (size_t k = start; k < end; ++k) {
            const char32_t c = line.at(k);
            opens[0] += c == '(';
            closes[0] += c == ')';
            opens[1] += c == '[';
            closes[1] += c == ']';
        }
        while (end > prefixEnd) {
            const char32_t last = line.at(end - 1);
            const int bracket = last == ')' ? 0 : last == ']' ? 1 : -1;
            if (trailingPunctuation(last))
                --end;
            else if (bracket >= 0 && opens[bracket] < closes[bracket]) {
                --closes[bracket];
                --end;
            } else
                break;
        }
        if (end > prefixEnd) {
            out.emplace_back(start, end);
            i = end;
        } else {
            i = prefixEnd;
        }
    }
    return out;
}

} // namespace

std::vector<LinkSpan> findLinks(std::string_view line) { return scan(ByteLine{line}); }

std::vector<LinkSpan> findLinks(std::u16string_view line, IsWordChar otherIsWord)
{
    return scan(Utf16Line{line, otherIsWord});
}

} // namespace qv

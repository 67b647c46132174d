#include "exchange/ZimText.h"

#include "catalog/Links.h"
#include "exchange/CherryTreeNote.h"

#include <algorithm>
#include <vector>

namespace qv::exchange::zim {

namespace {

bool blankOnly(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

std::string_view trimmed(std::string_view s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// "====== Title ======" (2 to 6 '='): the text, or false.
bool heading(std::string_view line, std::string_view &text)
{
    size_t n = 0;
    while (n < line.size() && line[n] == '=')
        ++n;
    if (n < 2 || n > 6 || line.size() < 2 * n)
        return false;
    std::string_view rest = trimmed(line.substr(n));
    size_t m = 0;
    while (m < rest.size() && rest[rest.size() - 1 - m] == '=')
        ++m;
    if (m < 2)
        return false;
    text = trimmed(rest.substr(0, rest.size() - m));
    return true;
}

bool webAddress(std::string_view t)
{
    const size_t colon = t.find("://");
    return (colon != std::string_view::npos && colon > 0 && t.find_first_of(" /") > colon)
        || t.substr(0, 7) == "mailto:" || t.substr(0, 4) == "www.";
}

// [[target|text]] as text and address.
void link(std::string &out, std::string_view inner, ImportCounts &counts)
{
    const size_t bar = inner.find('|');
    const std::string_view target = trimmed(inner.substr(0, bar));
    const std::string_view text
        = bar == std::string_view::npos ? std::string_view() : trimmed(inner.substr(bar + 1));
    ++counts.links;
    std::string address;
    if (webAddress(target) || target.substr(0, 5) == "file:" || target.substr(0, 1) == "/"
        || target.substr(0, 2) == "./" || target.substr(0, 3) == "../" || target.substr(0, 1) == "~")
        address = std::string(target);
    else
        address = "«" + std::string(target) + "»"; // a page
    if (text.empty() || text == target) {
        out += address;
    } else {
        out += text;
        out += " (" + address + ")";
    }
}

// {{./image.png?width=100|alt}}: the marker.
void image(std::string &out, std::string_view inner, ImportCounts &counts)
{
    std::string_view file = inner.substr(0, inner.find_first_of("?|"));
    const size_t slash = file.find_last_of('/');
    if (slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    ++counts.images;
    out += "[Изображение: " + std::string(trimmed(file)) + "]";
}

// One line's inline markup.
void inlineText(std::string &out, std::string_view s, ImportCounts &counts)
{
    // A bare address is text as it stands ("//" in it is no italic).
    const std::vector<LinkSpan> addresses = findLinks(s);
    size_t nextAddress = 0;
    for (size_t i = 0; i < s.size();) {
        while (nextAddress < addresses.size() && addresses[nextAddress].first < i)
            ++nextAddress;
        if (nextAddress < addresses.size() && addresses[nextAddress].first == i) {
            out += s.substr(i, addresses[nextAddress].second - i);
            i = addresses[nextAddress].second;
            continue;
        }
        const std::string_view rest = s.substr(i);
        auto pair = [&](std::string_view open, std::string_view close, auto &&emit) {
            if (rest.substr(0, open.size()) != open)
                return false;
            const size_t end = rest.find(close, open.size());
            if (end == std::string_view::npos)
                return false;
            emit(rest.substr(open.size(), end - open.size()));
            i += end + close.size();
            return true;
        };
        if (pair("[[", "]]", [&](std::string_view inner) { link(out, inner, counts); })
            || pair("{{", "}}", [&](std::string_view inner) { image(out, inner, counts); })
            || pair("''", "''", [&](std::string_view inner) { out += inner; })
            || pair("_{", "}", [&](std::string_view inner) { out += inner; })
            || pair("^{", "}", [&](std::string_view inner) { out += inner; }))
            continue;
        // Emphasis marks are dropped.
        if (rest.substr(0, 2) == "**" || rest.substr(0, 2) == "__" || rest.substr(0, 2) == "~~"
            || rest.substr(0, 2) == "//") {
            i += 2;
            continue;
        }
        out += s[i++];
    }
}

} // namespace

std::string pageName(std::string_view fileName)
{
    std::string out;
    for (size_t i = 0; i < fileName.size(); ++i) {
        const char c = fileName[i];
        auto hex = [](char h) {
            return h >= '0' && h <= '9' ? h - '0'
                : h >= 'a' && h <= 'f'  ? h - 'a' + 10
                : h >= 'A' && h <= 'F'  ? h - 'A' + 10
                                        : -1;
        };
        if (c == '_') {
            out += ' ';
        } else if (c == '%' && i + 2 < fileName.size() && hex(fileName[i + 1]) >= 0
                   && hex(fileName[i + 2]) >= 0) {
            out += static_cast<char>(hex(fileName[i + 1]) * 16 + hex(fileName[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return cherrytree::plainText(out);
}

std::string pageText(std::string_view page, std::string_view caption, ImportCounts &counts)
{
    // The header lines ("Content-Type: text/x-zim-wiki", ...) up to the
    // first blank line.
    if (page.substr(0, 13) == "Content-Type:") {
        const size_t end = page.find("\n\n");
        const size_t endCr = page.find("\r\n\r\n");
        page.remove_prefix(std::min(end == std::string_view::npos ? page.size() : end + 2,
                                    endCr == std::string_view::npos ? page.size() : endCr + 4));
    }
    std::string out;
    bool verbatim = false, first = true;
    while (!page.empty()) {
        const size_t nl = page.find('\n');
        std::string_view line = page.substr(0, nl);
        page.remove_prefix(nl == std::string_view::npos ? page.size() : nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (trimmed(line) == "'''") {
            verbatim = !verbatim;
            continue;
        }
        std::string text;
        std::string_view h;
        if (verbatim) {
            text = line;
        } else if (heading(line, h)) {
            if (first && h == caption)
                continue;
            inlineText(text, h, counts);
        } else {
            // Indentation kept; a bullet as "•", a checkbox as "[ ]"/"[x]".
            const size_t lead = std::min(line.find_first_not_of('\t'), line.size());
            text.append(lead, '\t');
            std::string_view body = line.substr(lead);
            if (body.substr(0, 2) == "* ") {
                text += "• ";
                body.remove_prefix(2);
            } else if (body.size() >= 4 && body[0] == '[' && body[2] == ']' && body[3] == ' ') {
                const char mark = body[1];
                if (mark == ' ' || mark == '*' || mark == 'x' || mark == '>' || mark == '<') {
                    text += mark == '*' || mark == 'x' ? "[x] " : "[ ] ";
                    body.remove_prefix(4);
                }
            }
            inlineText(text, body, counts);
        }
        if (first && blankOnly(text))
            continue; // blank lines in front
        first = false;
        out += text;
        out += '\n';
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return cherrytree::plainText(out);
}

} // namespace qv::exchange::zim

#include "exchange/Export.h"

#include "catalog/Links.h"
#include "exchange/IconData.h"

#include <algorithm>
#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qv {

namespace {

// ---- characters of the code page ----

struct CharTables {
    std::array<std::string, 256> utf8; // each byte as UTF-8
    std::array<bool, 256> control{};   // a C0 or C1 control other than TAB
};

const CharTables &chars()
{
    static const CharTables tables = [] {
        CharTables t;
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            t.utf8[b] = cp1251::toUtf8(std::string_view(&c, 1));
            const char16_t u = cp1251::toUtf16(std::string_view(&c, 1)).front();
            t.control[b] = (u < 0x20 && u != u'\t') || (u >= 0x7F && u < 0xA0);
        }
        return t;
    }();
    return tables;
}

bool startsWithNoCase(std::string_view text, size_t at, std::string_view prefix)
{
    if (text.size() - at < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// ---- output ----

class Out {
public:
    explicit Out(const ExportSink &sink) : sink_(sink) { buf_.reserve(kChunk + 4096); }
    void put(std::string_view s)
    {
        buf_ += s;
        if (buf_.size() >= kChunk)
            flush();
    }
    void put(char c) { buf_ += c; }
    void repeat(char c, size_t n)
    {
        while (n) {
            const size_t k = std::min(n, kChunk);
            buf_.append(k, c);
            n -= k;
            if (buf_.size() >= kChunk)
                flush();
        }
    }
    // Windows-1251 bytes as UTF-8.
    void text(std::string_view bytes)
    {
        const CharTables &t = chars();
        for (char c : bytes)
            buf_ += t.utf8[static_cast<unsigned char>(c)];
        if (buf_.size() >= kChunk)
            flush();
    }
    void finish() { flush(); }

private:
    static constexpr size_t kChunk = 64 * 1024;
    void flush()
    {
        if (!buf_.empty())
            sink_(buf_);
        buf_.clear();
    }
    const ExportSink &sink_;
    std::string buf_;
};

// The lines of a node's note (the first record carrying its caption); none
// for an empty note or a node without a record.
std::vector<std::string_view> noteLines(const Bytes &note)
{
    std::vector<std::string_view> lines;
    if (note.empty())
        return lines;
    std::string_view rest(note);
    for (;;) {
        const size_t at = rest.find("\r\n");
        lines.push_back(rest.substr(0, at));
        if (at == std::string_view::npos)
            break;
        rest.remove_prefix(at + 2);
    }
    return lines;
}

// Calls visit(node, depth) for every node in flat order, without recursion.
template <class Visit>
void walk(const Outline &outline, Visit visit)
{
    size_t depth = 0;
    const Node *n = outline.first();
    while (n) {
        visit(n, depth);
        if (n->hasChildren()) {
            n = n->firstChild();
            ++depth;
            continue;
        }
        const Node *m = n;
        n = nullptr;
        for (;;) {
            if (const Node *s = m->nextSibling()) {
                n = s;
                break;
            }
            m = m->parent();
            if (!m || m->isTop())
                break;
            --depth;
        }
    }
}

// ---- html ----

void htmlText(Out &out, std::string_view bytes)
{
    const CharTables &t = chars();
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '&':
            out.put("&amp;");
            break;
        case '<':
            out.put("&lt;");
            break;
        case '>':
            out.put("&gt;");
            break;
        case '"':
            out.put("&quot;");
            break;
        case '\'':
            out.put("&#39;");
            break;
        default:
            // A control character is an error in a page; it shows as U+FFFD.
            out.put(t.control[b] ? std::string_view("\xEF\xBF\xBD") : std::string_view(t.utf8[b]));
        }
    }
}

void htmlNoteLine(Out &out, std::string_view line)
{
    size_t at = 0;
    for (const auto &[start, end] : findLinks(line)) {
        htmlText(out, line.substr(at, start - at));
        const std::string_view link = line.substr(start, end - start);
        out.put("<a href=\"");
        if (startsWithNoCase(link, 0, "www."))
            out.put("http://");
        htmlText(out, link);
        out.put("\">");
        htmlText(out, link);
        out.put("</a>");
        at = end;
    }
    htmlText(out, line.substr(at));
}

void base64(Out &out, const unsigned char *data, size_t size)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < size; i += 3) {
        const unsigned v
            = data[i] << 16 | (i + 1 < size ? data[i + 1] << 8 : 0) | (i + 2 < size ? data[i + 2] : 0);
        out.put(kDigits[v >> 18 & 63]);
        out.put(kDigits[v >> 12 & 63]);
        out.put(i + 1 < size ? kDigits[v >> 6 & 63] : '=');
        out.put(i + 2 < size ? kDigits[v & 63] : '=');
    }
}

bool hasIcon(const Node *n) { return n->imageIndex() >= 0 && n->imageIndex() < exchange::kIconCount; }

void exportHtml(const Catalog &catalog, Out &out)
{
    out.put("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Quorvel</title>\n<style>\n"
            "body{font:14px/1.4 sans-serif;margin:1em 2em;color:#222;background:#fff}\n"
            "ul{list-style:none;margin:0;padding-left:1.5em}\n"
            "body>ul{padding-left:0}\n"
            "summary{cursor:pointer}\n"
            ".c{margin-left:1.1em}\n"
            ".i{display:inline-block;width:16px;height:16px;margin-right:4px;"
            "vertical-align:text-bottom;background-repeat:no-repeat}\n"
            ".n{white-space:pre-wrap;overflow-wrap:anywhere;margin:.2em 0 .6em 1.1em;"
            "padding:.2em .6em;border-left:3px solid #c4cede;color:#333}\n");
    // Each icon the outline uses, once.
    std::array<bool, exchange::kIconCount> used{};
    walk(catalog.outline(), [&](const Node *n, size_t) {
        if (hasIcon(n))
            used[n->imageIndex()] = true;
    });
    for (int i = 0; i < exchange::kIconCount; ++i) {
        if (!used[i])
            continue;
        out.put(".i");
        out.put(decimal(i));
        out.put("{background-image:url(data:image/png;base64,");
        base64(out, exchange::kIcons[i].data, exchange::kIcons[i].size);
        out.put(")}\n");
    }
    out.put("</style>\n</head>\n<body>\n<ul>\n");

    // Open elements are closed by depth differences: a node with children
    // stays open as <li><details><summary>…</summary>…<ul> until the walk
    // comes back above it; a leaf is closed by the next node.
    bool first = true;
    size_t previous = 0;
    auto closeTo = [&](size_t depth) { // close the previous node and its ancestors down to depth
        out.put("</li>\n");
        for (size_t k = previous; k > depth; --k)
            out.put("</ul></details></li>\n");
    };
    walk(catalog.outline(), [&](const Node *n, size_t depth) {
        if (!first && depth <= previous)
            closeTo(depth);
        first = false;
        previous = depth;
        const bool parent = n->hasChildren();
        out.put(parent ? "<li><details open><summary>" : "<li><div class=\"c\">");
        if (hasIcon(n)) {
            out.put("<span class=\"i i");
            out.put(decimal(n->imageIndex()));
            out.put("\"></span>");
        }
        htmlText(out, n->caption());
        out.put(parent ? "</summary>" : "</div>");
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        const std::vector<std::string_view> lines = noteLines(note);
        if (!lines.empty()) {
            out.put("<div class=\"n\">");
            for (size_t i = 0; i < lines.size(); ++i) {
                if (i)
                    out.put('\n');
                htmlNoteLine(out, lines[i]);
            }
            out.put("</div>");
        }
        if (parent)
            out.put("<ul>\n");
    });
    if (!first) {
        closeTo(0);
    }
    out.put("</ul>\n</body>\n</html>\n");
}

// ---- markdown ----

bool markdownSpecial(char c)
{
    switch (c) {
    case '\\':
    case '`':
    case '*':
    case '_':
    case '{':
    case '}':
    case '[':
    case ']':
    case '(':
    case ')':
    case '#':
    case '+':
    case '-':
    case '.':
    case '!':
    case '|':
    case '<':
    case '>':
    case '&':
    case '~':
    case '=':
        return true;
    default:
        return false;
    }
}

// Text with every special character escaped; blanks and TABs in front
// (which would indent) as character references.
void markdownText(Out &out, std::string_view bytes, bool atLineStart)
{
    const CharTables &t = chars();
    for (char c : bytes) {
        if (atLineStart && (c == ' ' || c == '\t')) {
            out.put(c == ' ' ? "&#32;" : "&#9;");
            continue;
        }
        atLineStart = false;
        if (markdownSpecial(c))
            out.put('\\');
        out.put(t.utf8[static_cast<unsigned char>(c)]);
    }
}

void markdownNoteLine(Out &out, std::string_view line)
{
    size_t at = 0;
    for (const auto &[start, end] : findLinks(line)) {
        markdownText(out, line.substr(at, start - at), at == 0);
        const std::string_view link = line.substr(start, end - start);
        out.put('<');
        if (startsWithNoCase(link, 0, "www."))
            out.put("http://");
        out.text(link);
        out.put('>');
        at = end;
    }
    markdownText(out, line.substr(at), at == 0);
}

constexpr size_t kHeadingLevels = 6;

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
        markdownText(out, n->caption(), false);
        out.put('\n');
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        const std::vector<std::string_view> lines = noteLines(note);
        if (lines.empty())
            return;
        out.put('\n');
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].empty()) {
                out.put('\n');
                continue;
            }
            out.repeat(' ', indent);
            markdownNoteLine(out, lines[i]);
            // A line break inside a paragraph is kept as a hard break.
            if (i + 1 < lines.size() && !lines[i + 1].empty())
                out.put('\\');
            out.put('\n');
        }
    });
}

// ---- text ----

void exportText(const Catalog &catalog, Out &out)
{
    walk(catalog.outline(), [&](const Node *n, size_t depth) {
        out.repeat('\t', depth);
        out.text(n->caption());
        out.put('\n');
        const Bytes note = catalog.noteForEditor(n->caption()).value_or(Bytes());
        for (std::string_view line : noteLines(note)) {
            out.repeat('\t', depth + 1);
            out.put(' ');
            out.text(line);
            out.put('\n');
        }
    });
}

} // namespace

bool parseExportFormat(std::string_view name, ExportFormat &format)
{
    if (name == "html")
        format = ExportFormat::Html;
    else if (name == "markdown")
        format = ExportFormat::Markdown;
    else if (name == "text")
        format = ExportFormat::Text;
    else
        return false;
    return true;
}

void exportCatalog(const Catalog &catalog, ExportFormat format, const ExportSink &sink)
{
    Out out(sink);
    switch (format) {
    case ExportFormat::Html:
        exportHtml(catalog, out);
        break;
    case ExportFormat::Markdown:
        exportMarkdown(catalog, out);
        break;
    case ExportFormat::Text:
        exportText(catalog, out);
        break;
    }
    out.finish();
}

void exportCatalog(const Catalog &catalog, ExportFormat format, std::ostream &out)
{
    exportCatalog(catalog, format, [&out](std::string_view piece) {
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    });
}

} // namespace qv

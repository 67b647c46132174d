// A Zim notebook walked with a stack of open folders (never recursion as
// deep as the notebook), each folder's pages sorted as Zim shows them, each
// page's wiki text turned into plain text a line at a time.
#include "exchange/ImportZim.h"

#include "storage/FileIo.h"
#include "storage/Os.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace qv::exchange {

namespace {

constexpr std::string_view kNotebookFile = "notebook.zim";
constexpr std::string_view kPageSuffix = ".txt";

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string_view trimmed(std::string_view s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c)
        || static_cast<unsigned char>(c) >= 0x80;
}

// ---- names ----

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A page's name from its file name: Zim writes blanks as "_" and escapes
// some characters as "%XX".
std::string pageName(std::string_view fileName)
{
    std::string out;
    for (size_t i = 0; i < fileName.size(); ++i) {
        const char c = fileName[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '%' && i + 2 < fileName.size() && hexValue(fileName[i + 1]) >= 0
                   && hexValue(fileName[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(fileName[i + 1]) * 16 + hexValue(fileName[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// The name without letter case (Latin and Cyrillic), for sorting.
std::string folded(std::string_view s)
{
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xD0 && i + 1 < out.size()) {
            const unsigned char d = static_cast<unsigned char>(out[i + 1]);
            if (d >= 0x90 && d <= 0x9F) { // А..П
                out[i + 1] = static_cast<char>(d + 0x20);
            } else if (d >= 0xA0 && d <= 0xAF) { // Р..Я
                out[i] = static_cast<char>(0xD1);
                out[i + 1] = static_cast<char>(d - 0x20);
            } else if (d == 0x81) { // Ё
                out[i] = static_cast<char>(0xD1);
                out[i + 1] = static_cast<char>(0x91);
            }
            ++i;
        }
    }
    return out;
}

// Zim's order: without letter case, a run of digits by its value.
bool naturalLess(const std::string &a, const std::string &b)
{
    const std::string x = folded(a), y = folded(b);
    size_t i = 0, j = 0;
    while (i < x.size() && j < y.size()) {
        if (isDigit(x[i]) && isDigit(y[j])) {
            size_t ie = i, je = j;
            while (ie < x.size() && isDigit(x[ie]))
                ++ie;
            while (je < y.size() && isDigit(y[je]))
                ++je;
            std::string_view p(x.data() + i, ie - i), q(y.data() + j, je - j);
            p.remove_prefix(std::min(p.find_first_not_of('0'), p.size()));
            q.remove_prefix(std::min(q.find_first_not_of('0'), q.size()));
            if (p.size() != q.size())
                return p.size() < q.size();
            if (p != q)
                return p < q;
            i = ie;
            j = je;
        } else {
            if (x[i] != y[j])
                return static_cast<unsigned char>(x[i]) < static_cast<unsigned char>(y[j]);
            ++i;
            ++j;
        }
    }
    if ((x.size() - i) != (y.size() - j))
        return x.size() - i < y.size() - j;
    return a < b;
}

// ---- wiki text ----

bool hasScheme(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z')))
        ++i;
    return (i > 0 && s.substr(i, 3) == "://") || startsWith(s, "mailto:");
}

// Where a bare web address starts at `i`.
bool addressAt(std::string_view s, size_t i)
{
    if (i > 0 && isWordChar(s[i - 1]))
        return false;
    const std::string_view rest = s.substr(i);
    return startsWith(rest, "www.") || startsWith(rest, "mailto:") || startsWith(rest, "http://")
        || startsWith(rest, "https://") || startsWith(rest, "ftp://") || startsWith(rest, "file://");
}

void inlineText(std::string_view s, std::string &out, size_t &images);

void link(std::string_view inner, std::string &out, size_t &images)
{
    const size_t bar = inner.find('|');
    const std::string_view target = trimmed(inner.substr(0, bar));
    std::string text;
    if (bar != std::string_view::npos)
        inlineText(trimmed(inner.substr(bar + 1)), text, images);
    const bool address = hasScheme(target) || startsWith(target, "www.") || startsWith(target, "./")
        || startsWith(target, "../") || startsWith(target, "/") || startsWith(target, "~/");
    if (address) {
        if (!text.empty() && text != target)
            out += text + ' ';
        out += target;
    } else if (startsWith(target, "#")) {
        out += text.empty() ? std::string(target.substr(1)) : text;
    } else {
        std::string_view page = target;
        if (const size_t colon = page.find_last_of(":+"); colon != std::string_view::npos)
            page = page.substr(colon + 1);
        if (!text.empty() && text != page)
            out += text + ' ';
        out += '"';
        out += page;
        out += '"';
    }
}

// Emphasis, verbatim, links, images and sub/superscripts of one line.
void inlineText(std::string_view s, std::string &out, size_t &images)
{
    size_t i = 0;
    while (i < s.size()) {
        const std::string_view rest = s.substr(i);
        size_t close;
        if (startsWith(rest, "[[") && (close = rest.find("]]", 2)) != std::string_view::npos) {
            link(rest.substr(2, close - 2), out, images);
            i += close + 2;
        } else if (startsWith(rest, "{{") && (close = rest.find("}}", 2)) != std::string_view::npos) {
            std::string_view file = trimmed(rest.substr(2, close - 2));
            file = file.substr(0, file.find('?'));
            if (startsWith(file, "./"))
                file.remove_prefix(2);
            out += "[Изображение: ";
            out += file;
            out += ']';
            ++images;
            i += close + 2;
        } else if (startsWith(rest, "''") && (close = rest.find("''", 2)) != std::string_view::npos) {
            out += rest.substr(2, close - 2);
            i += close + 2;
        } else if (addressAt(s, i)) {
            const size_t end = std::min(rest.find_first_of(" \t"), rest.size());
            out += rest.substr(0, end);
            i += end;
        } else if (startsWith(rest, "**") || startsWith(rest, "//") || startsWith(rest, "__")
                   || startsWith(rest, "~~")) {
            i += 2;
        } else if ((startsWith(rest, "_{") || startsWith(rest, "^{"))
                   && (close = rest.find('}', 2)) != std::string_view::npos) {
            out += rest.substr(2, close - 2);
            i += close + 1;
        } else {
            out += s[i++];
        }
    }
}

// The text of a heading line ("== Text ==", two to six marks), if it is one.
bool heading(std::string_view line, std::string_view &text)
{
    const std::string_view t = trimmed(line);
    size_t marks = 0;
    while (marks < t.size() && t[marks] == '=')
        ++marks;
    if (marks < 2 || marks > 6 || marks >= t.size() || t[marks] != ' ' || t.back() != '=')
        return false;
    size_t end = t.size();
    while (end > marks && t[end - 1] == '=')
        --end;
    text = trimmed(t.substr(marks, end - marks));
    return true;
}

} // namespace

std::string zimPageToPlain(std::string_view wiki, std::string_view name, size_t &images)
{
    std::vector<std::string_view> lines;
    for (size_t pos = 0; pos <= wiki.size();) {
        size_t end = wiki.find('\n', pos);
        if (end == std::string_view::npos)
            end = wiki.size();
        std::string_view line = wiki.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        pos = end + 1;
    }
    size_t first = 0;
    // The header block: "Key: value" lines up to the first blank one.
    if (!lines.empty() && startsWith(lines[0], "Content-Type:")) {
        while (first < lines.size() && !lines[first].empty())
            ++first;
        ++first;
    }
    while (first < lines.size() && trimmed(lines[first]).empty())
        ++first;
    std::string_view title;
    if (first < lines.size() && heading(lines[first], title) && title == name)
        ++first;

    std::string out;
    bool verbatim = false;
    for (size_t k = first; k < lines.size(); ++k) {
        const std::string_view line = lines[k];
        if (trimmed(line) == "'''") {
            verbatim = !verbatim;
            continue;
        }
        std::string text;
        std::string_view headingText;
        if (verbatim) {
            text = line;
        } else if (heading(line, headingText)) {
            inlineText(headingText, text, images);
        } else {
            const size_t indent = std::min(line.find_first_not_of('\t'), line.size());
            text = line.substr(0, indent);
            std::string_view body = line.substr(indent);
            static const std::pair<std::string_view, std::string_view> kMarks[]
                = {{"[ ] ", "[ ] "}, {"[*] ", "[x] "}, {"[x] ", "[-] "},
                   {"[>] ", "[>] "}, {"[<] ", "[<] "}, {"* ", "• "}};
            for (const auto &[zim, plain] : kMarks)
                if (startsWith(body, zim)) {
                    text += plain;
                    body.remove_prefix(zim.size());
                    break;
                }
            inlineText(body, text, images);
        }
        out += text;
        out += '\n';
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\t'))
        out.pop_back();
    return out;
}

ImportedTree parseZimNotebook(const std::string &folderPath)
{
    const std::string root = folderPath.empty() || folderPath.back() == '/' ? folderPath : folderPath + "/";
    if (os::status(root + std::string(kNotebookFile), false).kind != os::Kind::Regular)
        throw EImportError(W("это не записная книжка Zim: в папке нет файла notebook.zim"));

    ImportedTree tree;
    uint64_t bytes = 0;
    struct Page {
        std::string name;     // as Zim shows it
        std::string fileBase; // as the entries are named
        bool hasText = false;
        bool hasFolder = false;
    };
    struct Frame {
        std::string dir;
        std::vector<Page> pages;
        size_t next = 0;
        size_t depth = 0;
    };
    // A folder's pages in order; its other plain files are the owner's
    // attachments (the notebook's own files have no owner).
    auto open = [&](const std::string &dir, size_t depth, ImportedNode *owner) {
        Frame frame{dir, {}, 0, depth};
        std::map<std::string, Page> byBase;
        std::vector<std::string> attachments;
        for (const std::string &entry : os::namesIn(dir)) {
            if (entry.empty() || entry[0] == '.')
                continue;
            bytes += entry.size();
            const os::Kind kind = os::status(dir + entry, false).kind;
            if (kind == os::Kind::Regular && endsWith(entry, kPageSuffix)) {
                const std::string base = entry.substr(0, entry.size() - kPageSuffix.size());
                byBase[base].hasText = true;
            } else if (kind == os::Kind::Directory) {
                byBase[entry].hasFolder = true;
            } else if (owner) {
                attachments.push_back(entry);
            } else if (kind != os::Kind::Regular) {
                ++tree.filesSkipped;
            }
        }
        for (auto &[base, page] : byBase) {
            page.fileBase = base;
            page.name = pageName(base);
            frame.pages.push_back(std::move(page));
        }
        std::sort(frame.pages.begin(), frame.pages.end(),
                  [](const Page &a, const Page &b) { return naturalLess(a.name, b.name); });
        if (owner && !attachments.empty()) {
            std::sort(attachments.begin(), attachments.end(), naturalLess);
            std::string line = "Вложения:";
            for (size_t k = 0; k < attachments.size(); ++k)
                line += (k ? ", " : " ") + attachments[k];
            owner->note += (owner->note.empty() ? "" : "\n") + line;
            tree.filesSkipped += attachments.size();
        }
        return frame;
    };

    std::vector<Frame> stack;
    stack.push_back(open(root, 0, nullptr));
    while (!stack.empty()) {
        Frame &top = stack.back();
        if (top.next == top.pages.size()) {
            stack.pop_back();
            continue;
        }
        const Page page = top.pages[top.next++];
        const std::string dir = top.dir;
        const size_t depth = top.depth;
        ImportedNode node;
        node.depth = depth;
        node.caption = page.name;
        if (page.hasText) {
            InputFile file(dir + page.fileBase + std::string(kPageSuffix));
            std::string wiki;
            char buf[1 << 16];
            for (;;) {
                const long long got = file.read(buf, sizeof buf);
                if (got < 0)
                    throw EReadError();
                if (got == 0)
                    break;
                wiki.append(buf, static_cast<size_t>(got));
            }
            bytes += wiki.size();
            node.note = zimPageToPlain(wiki, page.name, tree.imagesSkipped);
        }
        tree.nodes.push_back(std::move(node));
        if (page.hasFolder)
            stack.push_back(open(dir + page.fileBase + "/", depth + 1, &tree.nodes.back()));
    }
    // Folders alone still bound what the catalogue may grow to.
    tree.sourceBytes = std::max<uint64_t>(bytes, 1);
    return tree;
}

} // namespace qv::exchange

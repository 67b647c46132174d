// Text and Markdown import, reading a source file, and adding a detached tree
// to a catalogue. (CherryTree: ImportCherryTree*.cpp, OPML: Opml.cpp.)
#include "exchange/Import.h"

#include "exchange/CherryTreeNote.h"
#include "exchange/IconData.h"

#include "storage/FileIo.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace qv::exchange {

namespace {

[[noreturn]] void lineError(size_t line, std::string_view whatUtf8)
{
    throw EImportError(W("Строка ") + decimal(static_cast<long long>(line)) + ": " + W(whatUtf8));
}

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

bool blankOnly(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

void addNode(ImportedTree &tree, size_t line, size_t depth, std::string_view caption)
{
    const size_t deepest = tree.nodes.empty() ? 0 : tree.nodes.back().depth + 1;
    if (depth > deepest)
        lineError(line,
                  depth == 1 || tree.nodes.empty() ? "узел с отступом без узла над ним"
                                                   : "отступ больше предыдущего более чем на один уровень");
    tree.nodes.push_back({depth, std::string(caption), {}});
}

ImportedTree parseSpaceIndented(std::string_view text)
{
    ImportedTree tree;
    tree.sourceBytes = text.size();
    size_t unit = 0;
    forEachLine(text, [&](size_t number, std::string_view line) {
        if (blankOnly(line))
            return;
        const size_t blanks = line.find_first_not_of(' ');
        if (blanks > 0 && unit == 0)
            unit = blanks;
        if (unit && blanks % unit != 0)
            lineError(number, "отступ не кратен первому отступу файла");
        addNode(tree, number, unit ? blanks / unit : 0, line.substr(blanks));
    });
    return tree;
}

// ---- Markdown ----

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

// The note lines of the node being read: blank lines at both ends left out.
struct NoteLines {
    std::vector<std::string> lines;
    void flushInto(std::string &note)
    {
        size_t b = 0, e = lines.size();
        while (b < e && blankOnly(lines[b]))
            ++b;
        while (e > b && blankOnly(lines[e - 1]))
            --e;
        for (size_t i = b; i < e; ++i) {
            if (i > b)
                note += '\n';
            note += lines[i];
        }
        lines.clear();
    }
};

} // namespace

ImportedTree parseText(std::string_view utf8)
{
    bool tabs = false, blanks = false;
    forEachLine(utf8, [&](size_t, std::string_view line) {
        if (!line.empty() && line[0] == '\t')
            tabs = true;
        else if (!line.empty() && line[0] == ' ' && !blankOnly(line))
            blanks = true;
    });
    if (blanks && !tabs)
        return parseSpaceIndented(utf8);

    ImportedTree tree;
    tree.sourceBytes = utf8.size();
    bool noteStarted = false;
    forEachLine(utf8, [&](size_t number, std::string_view line) {
        const size_t k = std::min(line.find_first_not_of('\t'), line.size());
        std::string_view rest = line.substr(k);
        if (k == 0 && blankOnly(rest))
            return; // a blank line between nodes
        if (!rest.empty() && rest[0] == ' ') {
            if (k == 0)
                lineError(number, "строка начинается с пробела в файле с отступом табуляцией");
            if (tree.nodes.empty() || tree.nodes.back().depth != k - 1)
                lineError(number, "строка заметки не под своим узлом");
            std::string &note = tree.nodes.back().note;
            if (noteStarted)
                note += '\n';
            note.append(rest.substr(1));
            noteStarted = true;
            return;
        }
        addNode(tree, number, k, rest);
        noteStarted = false;
    });
    return tree;
}

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
                tree.nodes.push_back({depth, inlineText(text), {}});
                return;
            }
            if (!headings.empty() && headings.back().level == 6 && listItem(line, indent, text)) {
                finish();
                while (!items.empty() && items.back() >= indent)
                    items.pop_back();
                const size_t depth = headings.back().depth + 1 + items.size();
                items.push_back(indent);
                inItem = true;
                itemIndent = indent;
                tree.nodes.push_back({depth, inlineText(text), {}});
                return;
            }
        }
        if (tree.nodes.empty()) {
            if (blankOnly(line))
                return;
            tree.nodes.push_back({0, {}, {}}); // text before the first heading
        }
        if (inItem) {
            const size_t strip = std::min(line.find_first_not_of(' '), itemIndent + 2);
            line.remove_prefix(std::min(strip, line.size()));
        }
        const bool isFence = fence(line);
        if (isFence)
            inFence = !inFence;
        pending.lines.push_back(inFence || isFence ? std::string(line) : inlineText(line));
    });
    finish();
    return tree;
}

namespace {

bool endsWithNoCase(std::string_view s, std::string_view suffix)
{
    if (s.size() < suffix.size())
        return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = s[s.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

} // namespace

void cherrytree::refuseGrowth()
{
    throw EImportError(W("Каталог из этого файла занял бы более чем в ")
                       + decimal(static_cast<long long>(kMaxImportGrowth))
                       + W(" раз больше места, чем сам файл; ничего не импортировано"));
}

ImportedTree parseFile(const std::string &path, ImportFormat format)
{
    InputFile file(path);
    if (format == ImportFormat::CherryTree) {
        // The encrypted notebooks are 7-Zip archives; the SQLite ones say so.
        char head[16] = {};
        const long long got = file.read(head, sizeof head);
        if (got < 0)
            throw EReadError();
        const std::string_view magic(head, static_cast<size_t>(got));
        if (endsWithNoCase(path, ".ctz") || endsWithNoCase(path, ".ctx")
            || magic.substr(0, 6) == "7z\xBC\xAF\x27\x1C")
            throw EImportError(W("Документ CherryTree защищён паролем (.ctz, .ctx) и не может быть "
                                 "импортирован; сохраните его в CherryTree без пароля (.ctd или .ctb)"));
        if (magic == std::string_view("SQLite format 3\0", 16))
            return parseCherryTreeDb(path);
        file.rewind();
    }
    auto read = [&](char *buf, size_t n) -> size_t {
        const long long got = file.read(buf, n);
        if (got < 0)
            throw EReadError();
        return static_cast<size_t>(got);
    };
    if (format == ImportFormat::CherryTree)
        return parseCherryTree(read);
    std::string text;
    if (file.size() > 0)
        text.reserve(static_cast<size_t>(file.size()));
    char buf[1 << 16];
    while (size_t got = read(buf, sizeof buf))
        text.append(buf, got);
    switch (format) {
    case ImportFormat::Text:
        return parseText(text);
    case ImportFormat::Opml:
        return parseOpml(text);
    default:
        return parseMarkdown(text);
    }
}

// ---- into the catalogue ----

namespace {

// UTF-8 to the code page, counting the characters that became '?'.
Bytes convert(std::string_view utf8, size_t &replaced)
{
    Bytes out = cp1251::fromUtf8(utf8);
    const auto before = std::count(utf8.begin(), utf8.end(), '?');
    const auto after = std::count(out.begin(), out.end(), '?');
    replaced += static_cast<size_t>(after - before);
    return out;
}

Bytes storableCaption(std::string_view utf8, size_t &replaced)
{
    Bytes c = convert(utf8, replaced);
    for (char &b : c) {
        if (b == '\r' || b == '\n') {
            ++replaced;
            b = ' ';
        } else if (b == '\0' || b == '\x1a') {
            ++replaced;
            b = '?';
        }
    }
    const size_t from = c.find_first_not_of(" \t");
    c.erase(0, from == Bytes::npos ? c.size() : from);
    return c;
}

} // namespace

Bytes defaultImportCaption() { return W("Без имени"); }

ImportSummary addToCatalog(ImportedTree tree, Catalog &catalog)
{
    ImportSummary s;
    s.counts = tree.counts;
    Outline &outline = catalog.outline();
    RecordTable &records = catalog.records();
    std::unordered_set<Bytes> used;
    used.reserve(tree.nodes.size());
    std::unordered_map<Bytes, size_t> nextSuffix;
    auto taken = [&](const Bytes &c) { return used.count(c) || outline.captionCount(c) || records.count(c); };

    // What the catalogue files would hold, checked before anything is added.
    if (tree.sourceBytes > 0) {
        uint64_t output = 0;
        size_t levels = 0; // of the node before
        for (const ImportedNode &n : tree.nodes) {
            const size_t depth = std::min({n.depth, levels, kMaxImportDepth - 1});
            levels = depth + 1;
            output += depth + n.caption.size() + 2;
            if (!n.note.empty() || n.icon)
                output += n.caption.size() + n.note.size() + 8;
        }
        if (output > kMaxImportGrowth * std::max<uint64_t>(tree.sourceBytes, kImportGrowthFloor))
            cherrytree::refuseGrowth();
    }

    std::vector<std::unique_ptr<Node>> roots;
    std::vector<Node *> path; // the ancestors of the next node
    for (ImportedNode &n : tree.nodes) {
        Bytes caption = storableCaption(n.caption, s.replaced);
        if (caption.empty()) {
            caption = defaultImportCaption();
            ++s.renamed;
        }
        if (taken(caption)) {
            size_t &k = nextSuffix[caption];
            k = std::max<size_t>(k, 2);
            Bytes candidate;
            do
                candidate = caption + " (" + decimal(static_cast<long long>(k++)) + ")";
            while (taken(candidate));
            caption = std::move(candidate);
            ++s.renamed;
        }
        used.insert(caption);
        const int icon = n.icon > 0 && n.icon < kIconCount ? n.icon : 0;
        if (!n.note.empty() || icon) {
            Bytes note = convert(n.note, s.replaced);
            std::string().swap(n.note);
            for (char &b : note)
                if (b == '\0' || b == '\x1a' || b == '\r') {
                    ++s.replaced;
                    b = '?';
                }
            records.append(caption, replaceAll(note, "\n", "~~"), decimal(icon));
            if (!note.empty())
                ++s.notes;
        }
        auto node = std::make_unique<Node>(std::move(caption));
        node->setImages(icon);
        size_t depth = std::min(n.depth, path.size());
        if (depth >= kMaxImportDepth) {
            depth = kMaxImportDepth - 1;
            ++s.flattened;
        }
        path.resize(depth);
        Node *raw = node.get();
        if (depth == 0)
            roots.push_back(std::move(node));
        else
            path.back()->appendChild(std::move(node));
        path.push_back(raw);
        ++s.nodes;
    }
    for (auto &root : roots)
        outline.insertBranch(outline.top(), outline.rootCount(), std::move(root));
    if (s.nodes)
        catalog.markChanged();
    return s;
}

std::string summaryLine(const ImportSummary &s)
{
    std::string line = "imported " + std::to_string(s.nodes) + " nodes, " + std::to_string(s.notes)
        + " notes; " + std::to_string(s.replaced) + " characters replaced, " + std::to_string(s.renamed)
        + " captions renamed";
    // Every kind a reader carried, those it found only.
    auto list = [&line](const char *head, std::initializer_list<std::pair<size_t, const char *>> kinds) {
        bool first = true;
        for (const auto &[count, what] : kinds) {
            if (!count)
                continue;
            line += first ? head : ", ";
            line += std::to_string(count) + " " + what;
            first = false;
        }
    };
    const ImportCounts &c = s.counts;
    list("; kept in the notes: ",
         {{c.links, "links"}, {c.tables, "tables"}, {c.codeBoxes, "code boxes"}, {c.tagged, "tag lines"}});
    list("; as marker lines: ",
         {{c.images, "images"},
          {c.files, "embedded files"},
          {c.anchors, "anchors"},
          {c.formulas, "LaTeX boxes"}});
    list("; node icons: ",
         {{c.icons, "given the nearest"}, {c.otherIcons, "without a near one, left at the default"}});
    if (s.flattened)
        line += ", " + std::to_string(s.flattened) + " nodes below level " + std::to_string(kMaxImportDepth)
            + " added at that level";
    return line;
}

} // namespace qv::exchange

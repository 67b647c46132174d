// The text import, reading a source file, and adding a detached tree to a
// catalogue. (Markdown: ImportMarkdown.cpp, CherryTree: ImportCherryTree*.cpp,
// OPML: ImportOpml.cpp.)
#include "exchange/Import.h"

#include "exchange/CherryTreeNote.h"
#include "exchange/IconData.h"
#include "exchange/ImportLines.h"

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

using lines::blankOnly;
using lines::forEachLine;

[[noreturn]] void lineError(size_t line, std::string_view whatUtf8)
{
    throw EImportError(W("Строка ") + decimal(static_cast<long long>(line)) + ": " + W(whatUtf8));
}

void addNode(ImportedTree &tree, size_t line, size_t depth, std::string_view caption)
{
    const size_t deepest = tree.nodes.empty() ? 0 : tree.nodes.back().depth + 1;
    if (depth > deepest)
        lineError(line,
                  depth == 1 || tree.nodes.empty() ? "узел с отступом без узла над ним"
                                                   : "отступ больше предыдущего более чем на один уровень");
    tree.nodes.push_back({depth, std::string(caption), {}, 0});
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
    if (format == ImportFormat::Zim)
        return parseZim(path);
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

ImportSummary addToCatalog(ImportedTree tree, Catalog &catalog, Node *parent)
{
    ImportSummary s;
    s.counts = tree.counts;
    Outline &outline = catalog.outline();
    RecordTable &records = catalog.records();
    if (!parent)
        parent = outline.top();
    // The levels the import may take below `parent`.
    const size_t above = parent->isTop() ? 0 : parent->depth() + 1;
    const size_t maxDepth = above < kMaxImportDepth ? kMaxImportDepth - above : 1;
    // The captions given so far, as the nodes made hold them.
    std::unordered_set<std::string_view> used;
    used.reserve(tree.nodes.size());
    std::unordered_map<Bytes, size_t> nextSuffix;
    auto taken = [&](const Bytes &c) { return used.count(c) || outline.captionCount(c) || records.count(c); };
    // The index of the records grows once.
    size_t recordsMade = 0;
    for (const ImportedNode &n : tree.nodes)
        recordsMade += !n.note.empty() || (n.icon > 0 && n.icon < kIconCount);
    records.reserve(records.size() + recordsMade);

    // What the catalogue files would hold, checked before anything is added.
    if (tree.sourceBytes > 0) {
        uint64_t output = 0;
        size_t levels = 0; // of the node before
        for (const ImportedNode &n : tree.nodes) {
            const size_t depth = std::min({n.depth, levels, maxDepth - 1});
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
        const int icon = n.icon > 0 && n.icon < kIconCount ? n.icon : 0;
        if (!n.note.empty() || icon) {
            const Bytes converted = convert(n.note, s.replaced);
            std::string().swap(n.note);
            // In record form: each line end as "~~", the bytes a record
            // cannot hold as '?'.
            Bytes note;
            note.reserve(converted.size() + converted.size() / 16);
            size_t run = 0; // the bytes not yet copied
            for (size_t i = 0; i < converted.size(); ++i) {
                const char b = converted[i];
                if (b != '\n' && b != '\0' && b != '\x1a' && b != '\r')
                    continue;
                note.append(converted, run, i - run);
                run = i + 1;
                if (b == '\n') {
                    note += "~~";
                } else {
                    ++s.replaced;
                    note += '?';
                }
            }
            note.append(converted, run, Bytes::npos);
            records.append(caption, note, decimal(icon));
            if (!note.empty())
                ++s.notes;
        }
        auto node = std::make_unique<Node>(std::move(caption));
        used.insert(node->caption());
        node->setImages(icon);
        size_t depth = std::min(n.depth, path.size());
        if (depth >= maxDepth) {
            depth = maxDepth - 1;
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
        outline.insertBranch(parent, parent->childCount(), std::move(root));
    if (s.nodes)
        catalog.markChanged();
    return s;
}

std::string summaryLine(const ImportSummary &s)
{
    std::string line = "импортировано узлов: " + std::to_string(s.nodes)
        + ", заметок: " + std::to_string(s.notes) + "; заменено символов: " + std::to_string(s.replaced)
        + ", переименовано узлов: " + std::to_string(s.renamed);
    // Every kind a reader carried, those it found only.
    auto list = [&line](const char *head, std::initializer_list<std::pair<size_t, const char *>> kinds) {
        bool first = true;
        for (const auto &[count, what] : kinds) {
            if (!count)
                continue;
            line += first ? head : ", ";
            line += std::string(what) + " " + std::to_string(count);
            first = false;
        }
    };
    const ImportCounts &c = s.counts;
    list(
        "; в заметках: ",
        {{c.links, "ссылок"}, {c.tables, "таблиц"}, {c.codeBoxes, "блоков кода"}, {c.tagged, "строк меток"}});
    list("; строками-пометками: ",
         {{c.images, "изображений"},
          {c.files, "вложенных файлов"},
          {c.anchors, "якорей"},
          {c.formulas, "формул LaTeX"}});
    list("; значки узлов: ",
         {{c.icons, "подобран близкий"}, {c.otherIcons, "близкого нет, оставлен обычный"}});
    if (s.flattened)
        line += "; узлов глубже уровня " + std::to_string(kMaxImportDepth)
            + ", добавленных на этом уровне: " + std::to_string(s.flattened);
    return line;
}

} // namespace qv::exchange

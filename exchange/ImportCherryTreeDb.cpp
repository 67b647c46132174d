// CherryTree's SQLite document (.ctb), opened read-only and immutable (the
// library neither locks nor writes it): the children table gives the tree
// in each parent's order, a node's txt column its rich text (XML) or plain
// text, and the codebox, grid and image tables its objects with their
// offsets. A node the tree does not reach (a broken or circular parent
// chain) is added as a root after the others, never dropped.
#include "exchange/CherryTreeNote.h"
#include "exchange/XmlReader.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace qv::exchange {

namespace {

using namespace cherrytree;

[[noreturn]] void notCherryTree(std::string_view whyUtf8)
{
    throw EImportError(W("это не документ CherryTree: ") + W(whyUtf8));
}

struct DbClose {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct StatementFinalize {
    void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

// A query; null when its table is missing and `optional`.
Statement prepare(sqlite3 *db, const char *sql, bool optional = false)
{
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        if (optional)
            return nullptr;
        notCherryTree(sqlite3_errmsg(db));
    }
    return Statement(s);
}

// The next row: true; false at the end; raises on an error (a damaged file).
bool step(sqlite3 *db, sqlite3_stmt *s)
{
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    notCherryTree(sqlite3_errmsg(db));
}

std::string text(sqlite3_stmt *s, int column)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, column));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, column))) : std::string();
}

// The file as an URI that opens it read-only and immutable.
std::string uriOf(const std::string &path)
{
    std::string uri = "file:";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '/' || c == '-'
            || c == '_' || c == '.' || c == '~') {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[b >> 4];
            uri += kHex[b & 15];
        }
    }
    return uri + "?mode=ro&immutable=1";
}

// A node's rich text (<node><rich_text>…</rich_text></node>) into its
// builder, or a table's rows (<table><row><cell>…).
class FragmentReader : public XmlReader {
public:
    NoteBuilder *note = nullptr;
    ImportCounts *counts = nullptr;
    std::vector<std::vector<std::string>> rows;

    void start(const char *name, const char **atts) override
    {
        if (std::strcmp(name, "rich_text") == 0 && note) {
            const char *link = attribute(atts, "link");
            note->beginRun(link ? link : "", *counts);
            rich_ = true;
        } else if (std::strcmp(name, "row") == 0) {
            rows.emplace_back();
        } else if (std::strcmp(name, "cell") == 0) {
            if (rows.empty())
                rows.emplace_back();
            rows.back().emplace_back();
            cell_ = true;
        }
    }
    void end(const char *name) override
    {
        if (std::strcmp(name, "rich_text") == 0)
            rich_ = false;
        else if (std::strcmp(name, "cell") == 0)
            cell_ = false;
    }
    void text(std::string_view s) override
    {
        if (rich_ && note)
            note->append(s);
        else if (cell_ && !rows.empty() && !rows.back().empty())
            rows.back().back() += s;
    }
    void reset()
    {
        rich_ = cell_ = false;
        rows.clear();
    }

private:
    bool rich_ = false, cell_ = false;
};

struct Object {
    long long offset;
    int kind; // 0 code box, 1 table, 2 image
    std::string text, anchor, file;
};

} // namespace

ImportedTree parseCherryTreeDb(const std::string &path)
{
    sqlite3 *raw = nullptr;
    const int rc
        = sqlite3_open_v2(uriOf(path).c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    std::unique_ptr<sqlite3, DbClose> db(raw);
    if (rc != SQLITE_OK)
        notCherryTree(raw ? sqlite3_errmsg(raw) : "нет памяти");
    sqlite3 *d = db.get();

    ImportedTree tree;
    {
        // What an import may grow by is measured against the file.
        Statement s = prepare(d, "SELECT page_count * page_size FROM pragma_page_count, pragma_page_size");
        if (step(d, s.get()))
            tree.sourceBytes
                = static_cast<uint64_t>(std::max<sqlite3_int64>(0, sqlite3_column_int64(s.get(), 0)));
    }
    // Every node's row, by id.
    struct Row {
        std::string name, txt, syntax, tags;
        long long flags = 0, rich = 0;
    };
    std::unordered_map<long long, Row> rows;
    std::vector<long long> order; // ids as the node table lists them
    {
        Statement s = prepare(d, "SELECT node_id, name, txt, syntax, tags, is_ro, is_richtxt FROM node");
        while (step(d, s.get())) {
            const long long id = sqlite3_column_int64(s.get(), 0);
            Row r{plainText(text(s.get(), 1)),
                  text(s.get(), 2),
                  text(s.get(), 3),
                  plainText(text(s.get(), 4)),
                  sqlite3_column_int64(s.get(), 5),
                  sqlite3_column_int64(s.get(), 6)};
            if (rows.emplace(id, std::move(r)).second)
                order.push_back(id);
        }
    }
    // Each parent's children in order.
    std::unordered_map<long long, std::vector<std::pair<long long, long long>>>
        children; // parent: (sequence, id)
    {
        Statement s = prepare(d, "SELECT node_id, father_id, sequence FROM children");
        while (step(d, s.get()))
            children[sqlite3_column_int64(s.get(), 1)].emplace_back(sqlite3_column_int64(s.get(), 2),
                                                                    sqlite3_column_int64(s.get(), 0));
        for (auto &[parent, list] : children)
            std::stable_sort(list.begin(), list.end());
    }
    // The objects of each node.
    std::unordered_map<long long, std::vector<Object>> objects;
    if (Statement s = prepare(d, "SELECT node_id, offset, txt FROM codebox", true))
        while (step(d, s.get())) {
            Object o{sqlite3_column_int64(s.get(), 1), 0, plainText(text(s.get(), 2)), {}, {}};
            objects[sqlite3_column_int64(s.get(), 0)].push_back(std::move(o));
        }
    if (Statement s = prepare(d, "SELECT node_id, offset, txt FROM grid", true))
        while (step(d, s.get())) {
            Object o{sqlite3_column_int64(s.get(), 1), 1, text(s.get(), 2), {}, {}};
            objects[sqlite3_column_int64(s.get(), 0)].push_back(std::move(o));
        }
    if (Statement s = prepare(d, "SELECT node_id, offset, anchor, filename FROM image", true))
        while (step(d, s.get())) {
            Object o{sqlite3_column_int64(s.get(), 1),
                     2,
                     {},
                     plainText(text(s.get(), 2)),
                     plainText(text(s.get(), 3))};
            objects[sqlite3_column_int64(s.get(), 0)].push_back(std::move(o));
        }

    // The tree, without recursion: from the roots (parent 0), then from
    // each node not reached.
    std::vector<std::pair<std::string, size_t>> ids;
    std::unordered_set<long long> placed;
    FragmentReader fragment;
    auto add = [&](long long id, size_t depth) {
        Row &r = rows.at(id);
        ImportedNode node{depth, std::move(r.name), {}, 0};
        countIcon(r.flags >> 1, node, tree.counts);
        NoteBuilder note;
        try {
            if ((r.rich & 1) && !r.txt.empty()) {
                fragment.reset();
                fragment.note = &note;
                fragment.counts = &tree.counts;
                fragment.parse(r.txt);
            } else {
                note.beginRun("", tree.counts);
                note.append(plainText(r.txt));
            }
            auto found = objects.find(id);
            if (found != objects.end()) {
                for (Object &o : found->second) {
                    std::string lines;
                    if (o.kind == 0) {
                        lines = std::move(o.text);
                        while (!lines.empty() && lines.back() == '\n')
                            lines.pop_back();
                        ++tree.counts.codeBoxes;
                    } else if (o.kind == 1) {
                        fragment.reset();
                        fragment.note = nullptr;
                        fragment.parse(o.text);
                        lines = tableLines(std::move(fragment.rows));
                        ++tree.counts.tables;
                    } else if (o.file == kFormulaFile) {
                        lines = formulaMarker();
                        ++tree.counts.formulas;
                    } else if (!o.file.empty()) {
                        lines = fileMarker(o.file);
                        ++tree.counts.files;
                    } else if (!o.anchor.empty()) {
                        lines = anchorMarker(o.anchor);
                        ++tree.counts.anchors;
                    } else {
                        lines = imageMarker();
                        ++tree.counts.images;
                    }
                    note.object(o.offset, std::move(lines));
                }
                objects.erase(found);
            }
        } catch (const EImportError &e) {
            throw EImportError(W("узел «") + W(node.caption) + W("»: ") + e.message());
        }
        std::string().swap(r.txt);
        node.note = note.finish(r.tags, tree.counts);
        ids.emplace_back(std::to_string(id), tree.nodes.size());
        tree.nodes.push_back(std::move(node));
    };
    struct Level {
        const std::vector<std::pair<long long, long long>> *list;
        size_t next;
    };
    auto walkFrom = [&](long long parent, size_t depth0) {
        std::vector<Level> stack;
        auto open = [&](long long id) {
            auto c = children.find(id);
            if (c != children.end())
                stack.push_back({&c->second, 0});
        };
        open(parent);
        while (!stack.empty()) {
            Level &level = stack.back();
            if (level.next == level.list->size()) {
                stack.pop_back();
                continue;
            }
            const long long id = (*level.list)[level.next++].second;
            if (!rows.count(id) || !placed.insert(id).second)
                continue;
            add(id, depth0 + stack.size() - 1);
            open(id);
        }
    };
    walkFrom(0, 0);
    for (long long id : order) {
        if (placed.count(id))
            continue;
        placed.insert(id);
        add(id, 0);
        walkFrom(id, 1);
    }
    resolveNodeLinks(tree, ids);
    return tree;
}

} // namespace qv::exchange

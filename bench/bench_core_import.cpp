// Import of a large catalogue: a generated catalogue written in the text
// format and in Markdown (headings to level 6, deeper nodes as list items,
// specials escaped), then parsed and added to an empty catalogue. Median
// wall time of several runs, per form; the save is measured apart. Then the
// same catalogue as CherryTree notebooks, XML and SQLite (every tenth note
// with a link, a table and a code box), each next to the floor of reading
// the file alone (the XML parsed without handlers, the SQLite rows read).
//
//   bench_core_import [--nodes N] [--runs R] [--seed S]

#include "catalog/Catalog.h"
#include "exchange/Import.h"
#include "exchange/XmlReader.h"
#include "generator/Generator.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sqlite3.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTimeGoal = 2.0;       // seconds, parse and add
constexpr double kCherryTreeGoal = 3.0; // seconds, from the file into a catalogue
constexpr double kCherryTreeFactor = 3.0;

std::vector<std::string> noteLines(const qv::Bytes &record)
{
    std::vector<std::string> lines;
    if (record.empty())
        return lines;
    const std::string text = qv::cp1251::toUtf8(qv::replaceAll(record, "~~", "\n"));
    size_t from = 0;
    for (;;) {
        const size_t end = text.find('\n', from);
        lines.push_back(text.substr(from, end - from));
        if (end == std::string::npos)
            return lines;
        from = end + 1;
    }
}

std::string textForm(const qv::gen::Generated &g)
{
    std::string out;
    for (const qv::gen::Entry &e : g.entries) {
        const std::string tabs(e.depth, '\t');
        out += tabs + qv::cp1251::toUtf8(e.caption) + "\n";
        for (const std::string &line : noteLines(e.note))
            out += tabs + "\t " + line + "\n";
    }
    return out;
}

std::string escaped(const std::string &s)
{
    std::string out;
    for (char c : s) {
        if (std::string_view("\\`*_{}[]()#+-.!<>|~").find(c) != std::string_view::npos)
            out += '\\';
        out += c;
    }
    return out;
}

std::string markdownForm(const qv::gen::Generated &g)
{
    std::string out;
    for (const qv::gen::Entry &e : g.entries) {
        std::string indent;
        if (e.depth < 6) {
            out += std::string(e.depth + 1, '#') + " " + escaped(qv::cp1251::toUtf8(e.caption)) + "\n\n";
        } else {
            indent.assign(2 * (e.depth - 6), ' ');
            out += indent + "- " + escaped(qv::cp1251::toUtf8(e.caption)) + "\n";
            indent += "  ";
        }
        for (const std::string &line : noteLines(e.note))
            out += indent + escaped(line) + "\n";
        out += "\n";
    }
    return out;
}

// Text for XML: markup escaped, characters XML cannot hold as blanks.
std::string xml(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
            out += ' ';
        else
            out += c;
    }
    return out;
}

std::string noteText(const qv::gen::Entry &e)
{
    std::string text;
    for (const std::string &line : noteLines(e.note))
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

// The rich text of entry i: its note, and for every tenth a link, a table
// and a code box after it (objects as the document keeps them, after the
// runs, with their offsets).
constexpr const char *kTable
    = "<table char_offset=\"0\" justification=\"left\" col_min=\"40\" col_max=\"400\">"
      "<row><cell>1</cell><cell>один</cell></row><row><cell>A</cell><cell>B</cell></row>"
      "</table>";
std::string richText(const qv::gen::Entry &e, size_t i)
{
    std::string out = "<rich_text>" + xml(noteText(e)) + "</rich_text>";
    if (i % 10 == 0)
        out += "<rich_text link=\"webs https://example.org/" + std::to_string(i) + "\">ссылка</rich_text>";
    return out;
}

std::string ctdForm(const qv::gen::Generated &g)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<cherrytree>\n";
    size_t open = 0;
    for (size_t i = 0; i < g.entries.size(); ++i) {
        const qv::gen::Entry &e = g.entries[i];
        for (; open > e.depth; --open)
            out += "</node>\n";
        out += "<node name=\"" + xml(qv::cp1251::toUtf8(e.caption)) + "\" unique_id=\""
            + std::to_string(i + 1)
            + "\" prog_lang=\"custom-colors\" tags=\"\" readonly=\"0\" custom_icon_id=\"0\" is_bold=\"0\">";
        out += richText(e, i);
        if (i % 10 == 0)
            out += std::string(kTable)
                + "<codebox char_offset=\"1\" justification=\"left\" syntax_highlighting=\"sh\">echo "
                  "a\nls</codebox>";
        out += '\n';
        ++open;
    }
    for (; open > 0; --open)
        out += "</node>\n";
    return out + "</cherrytree>\n";
}

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool writeCtb(const qv::gen::Generated &g, const std::string &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        return false;
    bool ok = exec(
        db,
        "CREATE TABLE node (node_id INTEGER UNIQUE, name TEXT, txt TEXT, syntax TEXT, tags TEXT, "
        "is_ro INTEGER, is_richtxt INTEGER, has_codebox INTEGER, has_table INTEGER, has_image INTEGER, "
        "level INTEGER, ts_creation INTEGER, ts_lastsave INTEGER);"
        "CREATE TABLE codebox (node_id INTEGER, offset INTEGER, justification TEXT, txt TEXT, syntax "
        "TEXT, width INTEGER, height INTEGER, is_width_pix INTEGER, do_highl_bra INTEGER, "
        "do_show_linenum INTEGER);"
        "CREATE TABLE grid (node_id INTEGER, offset INTEGER, justification TEXT, txt TEXT, col_min "
        "INTEGER, col_max INTEGER);"
        "CREATE TABLE image (node_id INTEGER, offset INTEGER, justification TEXT, anchor TEXT, png "
        "BLOB, filename TEXT, link TEXT, time INTEGER);"
        "CREATE TABLE children (node_id INTEGER UNIQUE, father_id INTEGER, sequence INTEGER, "
        "master_id INTEGER);"
        "CREATE TABLE bookmark (node_id INTEGER UNIQUE, sequence INTEGER);"
        "BEGIN;");
    sqlite3_stmt *node = nullptr, *child = nullptr, *code = nullptr, *grid = nullptr;
    ok = ok
        && sqlite3_prepare_v2(
               db, "INSERT INTO node VALUES (?, ?, ?, 'custom-colors', '', 0, 1, 0, 0, 0, 0, 0, 0)", -1,
               &node, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db, "INSERT INTO children VALUES (?, ?, ?, 0)", -1, &child, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(
               db, "INSERT INTO codebox VALUES (?, 1, 'left', 'echo a\nls', 'sh', 500, 100, 1, 1, 0)", -1,
               &code, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db, "INSERT INTO grid VALUES (?, 0, 'left', ?, 40, 400)", -1, &grid, nullptr)
            == SQLITE_OK;
    std::vector<long long> parents{0};
    std::vector<long long> sequence{0};
    for (size_t i = 0; ok && i < g.entries.size(); ++i) {
        const qv::gen::Entry &e = g.entries[i];
        const long long id = static_cast<long long>(i) + 1;
        parents.resize(e.depth + 1);
        sequence.resize(e.depth + 1);
        const std::string name = qv::cp1251::toUtf8(e.caption);
        const std::string txt
            = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><node>" + richText(e, i) + "</node>";
        sqlite3_bind_int64(node, 1, id);
        sqlite3_bind_text(node, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(node, 3, txt.c_str(), static_cast<int>(txt.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(child, 1, id);
        sqlite3_bind_int64(child, 2, parents[e.depth]);
        sqlite3_bind_int64(child, 3, ++sequence[e.depth]);
        ok = sqlite3_step(node) == SQLITE_DONE && sqlite3_step(child) == SQLITE_DONE;
        sqlite3_reset(node);
        sqlite3_reset(child);
        if (ok && i % 10 == 0) {
            sqlite3_bind_int64(code, 1, id);
            sqlite3_bind_int64(grid, 1, id);
            sqlite3_bind_text(grid, 2, kTable, -1, SQLITE_STATIC);
            ok = sqlite3_step(code) == SQLITE_DONE && sqlite3_step(grid) == SQLITE_DONE;
            sqlite3_reset(code);
            sqlite3_reset(grid);
        }
        parents.push_back(id);
        sequence.push_back(0);
    }
    for (sqlite3_stmt *s : {node, child, code, grid})
        sqlite3_finalize(s);
    ok = ok && exec(db, "COMMIT;");
    sqlite3_close(db);
    return ok;
}

// The floors: the XML through the parser with no handler work, and every
// row of the SQLite file read with each node's rich text (XML) parsed so.
class NoWork : public qv::exchange::XmlReader {
    void start(const char *, const char **) override {}
    void end(const char *) override {}
    void text(std::string_view) override {}
};

bool readAllRows(const std::string &path)
{
    sqlite3 *db = nullptr;
    const std::string uri = "file:" + path + "?mode=ro&immutable=1";
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
        return false;
    size_t bytes = 0;
    NoWork reader;
    for (const char *sql :
         {"SELECT node_id, name, txt, syntax, tags, is_ro, is_richtxt FROM node",
          "SELECT node_id, father_id, sequence FROM children", "SELECT node_id, offset, txt FROM codebox",
          "SELECT node_id, offset, txt FROM grid"}) {
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        const bool nodes = std::string_view(sql).find("FROM node") != std::string_view::npos;
        while (sqlite3_step(s) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(s); ++c)
                bytes += static_cast<size_t>(sqlite3_column_bytes(s, c));
            if (nodes)
                reader.parse(std::string_view(reinterpret_cast<const char *>(sqlite3_column_text(s, 2)),
                                              static_cast<size_t>(sqlite3_column_bytes(s, 2))));
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return bytes > 0;
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

} // namespace

int main(int argc, char **argv)
{
    qv::gen::Options options;
    size_t runs = 5;
    qv::bench::Args args(argc, argv, "usage: bench_core_import [--nodes N] [--runs R] [--seed S]");
    while (args.next())
        if (!args.option("--nodes", options.nodes) && !args.option("--runs", runs)
            && !args.option("--seed", options.seed))
            args.usage();
    runs = std::max<size_t>(1, runs);
    const qv::gen::Generated generated = qv::gen::generate(options);
    struct Form {
        const char *name;
        qv::exchange::ImportFormat format;
        std::string input;
    };
    const Form forms[] = {{"text", qv::exchange::ImportFormat::Text, textForm(generated)},
                          {"markdown", qv::exchange::ImportFormat::Markdown, markdownForm(generated)}};
    std::printf("import of %zu nodes (seed %llu), median of %zu runs, goal under %.1f s\n", options.nodes,
                static_cast<unsigned long long>(options.seed), runs, kTimeGoal);
    for (const Form &f : forms) {
        std::vector<double> parseAdd, save;
        for (size_t r = 0; r < runs; ++r) {
            const Clock::time_point t0 = Clock::now();
            qv::exchange::ImportedTree tree = f.format == qv::exchange::ImportFormat::Text
                ? qv::exchange::parseText(f.input)
                : qv::exchange::parseMarkdown(f.input);
            qv::Catalog catalog;
            const qv::exchange::ImportSummary s = qv::exchange::addToCatalog(std::move(tree), catalog);
            parseAdd.push_back(seconds(t0));
            if (r == 0) {
                // Every caption and note came back.
                size_t differ = 0;
                const qv::Node *n = catalog.outline().first();
                for (const qv::gen::Entry &e : generated.entries) {
                    const auto rec = n ? catalog.records().find(n->caption()) : std::nullopt;
                    if (!n || n->caption() != e.caption || (rec ? rec->text : std::string_view()) != e.note)
                        ++differ;
                    n = n ? qv::flatNext(n) : nullptr;
                }
                if (differ)
                    std::printf("%s: %zu nodes differ from the catalogue\n", f.name, differ);
            }
            if (s.nodes != options.nodes) {
                std::fprintf(stderr, "%s: %zu nodes imported, %zu expected\n", f.name, s.nodes,
                             options.nodes);
                return 1;
            }
            const qv::bench::TempDir dir;
            const Clock::time_point t1 = Clock::now();
            qv::CatalogFiles(dir.path()).save(catalog);
            save.push_back(seconds(t1));
        }
        const double m = qv::bench::median(parseAdd);
        std::printf("%-9s %6.1f MB  parse+add %.3f s  save %.3f s  %s\n", f.name,
                    static_cast<double>(f.input.size()) / 1e6, m, qv::bench::median(save),
                    m + qv::bench::median(save) < kTimeGoal ? "(goal met with the save)" : "");
    }

    // CherryTree: the whole import from the file against reading it alone.
    const qv::bench::TempDir tmp;
    const std::string ctd = tmp.path() + "/notes.ctd", ctb = tmp.path() + "/notes.ctb";
    {
        std::ofstream(ctd, std::ios::binary) << ctdForm(generated);
    }
    if (!writeCtb(generated, ctb)) {
        std::fprintf(stderr, "cannot write %s\n", ctb.c_str());
        return 1;
    }
    std::printf("CherryTree: goal under %.1f s and within %.0fx parsing the file alone\n", kCherryTreeGoal,
                kCherryTreeFactor);
    bool ok = true;
    for (const std::string &path : {ctd, ctb}) {
        std::vector<double> floor, parse, whole;
        for (size_t r = 0; r < runs; ++r) {
            Clock::time_point t0 = Clock::now();
            if (path == ctd) {
                std::ifstream in(path, std::ios::binary);
                NoWork reader;
                reader.parse([&in](char *buf, size_t n) {
                    in.read(buf, static_cast<std::streamsize>(n));
                    return static_cast<size_t>(in.gcount());
                });
            } else if (!readAllRows(path)) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            floor.push_back(seconds(t0));
            t0 = Clock::now();
            qv::Catalog catalog;
            qv::exchange::ImportedTree tree
                = qv::exchange::parseFile(path, qv::exchange::ImportFormat::CherryTree);
            parse.push_back(seconds(t0));
            const qv::exchange::ImportSummary s = qv::exchange::addToCatalog(std::move(tree), catalog);
            whole.push_back(seconds(t0));
            if (s.nodes != options.nodes || s.counts.tables != (options.nodes + 9) / 10) {
                std::fprintf(stderr, "%s: %zu nodes, %zu tables imported\n", path.c_str(), s.nodes,
                             s.counts.tables);
                return 1;
            }
        }
        const double f = qv::bench::median(floor), p = qv::bench::median(parse), w = qv::bench::median(whole);
        const bool met = w < kCherryTreeGoal && w <= kCherryTreeFactor * f;
        ok = ok && met;
        std::printf(
            "%-4s %5.1f MB  parsing alone %.3f s  into a tree %.3f s  with the add %.3f s (%.1fx)  %s\n",
            path == ctd ? "ctd" : "ctb", static_cast<double>(std::filesystem::file_size(path)) / 1e6, f, p, w,
            w / f, met ? "met" : "MISSED");
    }
    return ok ? 0 : 1;
}

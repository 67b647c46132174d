// Import of a large catalogue: a generated catalogue written in the text
// format and in Markdown (headings to level 6, deeper nodes as list items,
// specials escaped), then parsed and added to an empty catalogue. Median
// wall time of several runs, per form; the save is measured apart.
//
//   bench_core_import [--nodes N] [--runs R] [--seed S]

#include "catalog/Catalog.h"
#include "exchange/Import.h"
#include "generator/Generator.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTimeGoal = 2.0; // seconds, parse and add

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
    return 0;
}

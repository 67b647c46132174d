// Finding text in a large catalogue: the index's build time and size against
// the notes' size, the search for 1-, 2-, 3- and 6-letter queries (Latin and
// Cyrillic; fresh, and narrowing the result of the query one letter shorter)
// beside the floor, a plain memmem over the raw notes, and the whole of
// `quorvel-tool find` (load, index, search) on the catalogue's files.
// Medians of several runs.
//
//   bench_core_find [--nodes N] [--runs R] [--seed S]

#include "catalog/Catalog.h"
#include "catalog/Search.h"
#include "generator/Generator.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Config {
    size_t nodes = 100000;
    size_t runs = 7;
    uint64_t seed = 1;
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The median of `runs` timings of `once`, in milliseconds.
template <typename F>
double median(size_t runs, F &&once)
{
    std::vector<double> t;
    for (size_t i = 0; i < std::max<size_t>(runs, 1); ++i) {
        const auto start = Clock::now();
        once();
        t.push_back(ms(Clock::now() - start));
    }
    return qv::bench::median(t);
}

// Every occurrence of `needle` in `hay` by memmem, one after another. The
// count goes through a volatile so the search is never left out.
volatile size_t sink = 0;

size_t memmemAll(const qv::Bytes &hay, const qv::Bytes &needle)
{
    size_t count = 0;
    const char *p = hay.data();
    const char *end = hay.data() + hay.size();
    while (const void *hit = memmem(p, static_cast<size_t>(end - p), needle.data(), needle.size())) {
        ++count;
        p = static_cast<const char *>(hit) + 1;
    }
    sink = count;
    return count;
}

#ifdef QV_TOOL_PATH
// `quorvel-tool find DIR TEXT`, its output thrown away; false when it failed.
bool runTool(const std::string &dir, const std::string &utf8Query)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const char *argv[] = {QV_TOOL_PATH, "find", dir.c_str(), utf8Query.c_str(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, QV_TOOL_PATH, &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}
#endif

int run(const Config &cfg)
{
    qv::gen::Options options;
    options.nodes = cfg.nodes;
    options.seed = cfg.seed;
    const qv::gen::Generated generated = qv::gen::generate(options);
    qv::Catalog catalog;
    qv::gen::fill(generated, catalog);

    // The floor's haystack: the raw notes, one after another.
    qv::Bytes rawNotes;
    for (size_t i = 0; i < catalog.records().size(); ++i)
        rawNotes += catalog.records().at(i).text;
    std::printf("Catalogue of %zu nodes (seed %llu), notes %.1f MB\n\n", catalog.outline().nodeCount(),
                static_cast<unsigned long long>(cfg.seed), static_cast<double>(rawNotes.size()) / 1048576.0);

    qv::SearchIndex index;
    const double buildMs = median(cfg.runs, [&] { index.build(catalog); });
    const double ratio = static_cast<double>(index.memoryBytes()) / static_cast<double>(rawNotes.size());
    std::printf("  index build    %8.1f ms\n", buildMs);
    std::printf("  index memory   %8.1f MB  = %.2f x the notes (budget 1.5 x)\n",
                static_cast<double>(index.memoryBytes()) / 1048576.0, ratio);
    const qv::Bytes absent = "\x01\x02\x03";
    const double passMs = median(cfg.runs, [&] { memmemAll(rawNotes, absent); });
    std::printf("  memmem, one pass over the notes (nothing found): %.1f ms\n\n", passMs);

    std::printf("  %-10s %7s %10s %10s %10s %10s %10s %7s\n", "query", "nodes", "findNodes", "find",
                "narrowing", "memmem", "(its hits)", "ratio");
    for (const char *word : {"kernel", "Черновики"}) {
        const qv::Bytes full = qv::W(word);
        std::vector<const qv::Node *> previous;
        for (size_t letters : {1, 2, 3, 6}) {
            const qv::Bytes query = full.substr(0, letters);
            std::vector<const qv::Node *> fresh;
            const double freshMs = median(cfg.runs, [&] { fresh = index.findNodes(query); });
            size_t hits = 0;
            const double findMs = median(cfg.runs, [&] { hits = index.find(query).size(); });
            std::vector<const qv::Node *> narrowed;
            const double narrowMs
                = letters == 1 ? 0 : median(cfg.runs, [&] { narrowed = index.findNodes(query, previous); });
            size_t occurrences = 0;
            const double floorMs = median(cfg.runs, [&] { occurrences = memmemAll(rawNotes, query); });
            if (hits != fresh.size() || (letters > 1 && narrowed != fresh)) {
                std::fprintf(stderr, "results disagree for %s\n", qv::cp1251::toUtf8(query).c_str());
                return 1;
            }
            char narrowText[16] = "-";
            if (letters > 1)
                std::snprintf(narrowText, sizeof narrowText, "%.2f ms", narrowMs);
            const std::string shown = qv::cp1251::toUtf8(query);
            const int pad = static_cast<int>(shown.size() - qv::cp1251::toUtf16(query).size());
            std::printf("  %-*s %7zu %7.2f ms %7.2f ms %10s %7.2f ms %10zu %6.2fx\n", 10 + pad, shown.c_str(),
                        fresh.size(), freshMs, findMs, narrowText, floorMs, occurrences, freshMs / floorMs);
            previous = std::move(fresh);
        }
    }
    std::printf(
        "  (ratio: fresh findNodes / memmem counting every occurrence of the query in the raw notes)\n");

    // The tool's work: load the files, build the index, search.
    const qv::bench::TempDir tmp;
    const std::string &dir = tmp.path();
    qv::gen::writeCatalogFiles(dir, generated);
    std::printf("\n  quorvel-tool find's work in process (load, index, find \"k\"): %.0f ms\n",
                median(cfg.runs, [&] {
                    qv::Catalog loaded;
                    qv::CatalogFiles(dir).load(loaded);
                    qv::SearchIndex fromFiles;
                    fromFiles.build(loaded);
                    (void)fromFiles.find("k");
                }));
#ifdef QV_TOOL_PATH
    for (const char *q : {"k", "черновики"}) {
        bool ok = true;
        const double toolMs = median(cfg.runs, [&] { ok = runTool(dir, q) && ok; });
        std::printf("  quorvel-tool find DIR %-10s end to end: %.0f ms%s\n", q, toolMs,
                    ok ? "" : " (FAILED)");
    }
#endif
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Config cfg;
    qv::bench::Args args(argc, argv, "usage: bench_core_find [--nodes N] [--runs R] [--seed S]");
    while (args.next())
        if (!args.option("--nodes", cfg.nodes) && !args.option("--runs", cfg.runs)
            && !args.option("--seed", cfg.seed))
            args.usage();
    return run(cfg);
}

// Export of a large catalogue: wall time of writing the generated catalogue
// (100,000 nodes, about 45 MB of notes) as HTML, Markdown and text to a file
// the way `quorvel-tool export -o` writes it (through the atomic file),
// median of several runs, with the size of each output.
//
//   bench_core_exchange [--nodes N] [--runs R] [--seed S]

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "exchange/Export.h"
#include "generator/Generator.h"
#include "storage/FileIo.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTimeGoal = 2.0; // seconds, each format

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_core_exchange [--nodes N] [--runs R] [--seed S]\n");
    std::exit(2);
}

size_t number(const char *text)
{
    char *end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (!end || *end || end == text)
        usage();
    return static_cast<size_t>(v);
}

} // namespace

int main(int argc, char **argv)
{
    qv::gen::Options options;
    size_t runs = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 == argc)
            usage();
        if (a == "--nodes")
            options.nodes = number(argv[++i]);
        else if (a == "--runs")
            runs = std::max<size_t>(number(argv[++i]), 1);
        else if (a == "--seed")
            options.seed = number(argv[++i]);
        else
            usage();
    }

    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qv-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;

    qv::Catalog catalog;
    qv::gen::fill(qv::gen::generate(options), catalog);
    std::printf("catalogue: %zu nodes, %zu records\n", catalog.outline().nodeCount(),
                catalog.records().size());

    struct Format {
        const char *name;
        qv::ExportFormat format;
    };
    bool ok = true;
    for (const Format &f :
         {Format{"html", qv::ExportFormat::Html}, Format{"markdown", qv::ExportFormat::Markdown},
          Format{"text", qv::ExportFormat::Text}}) {
        const std::string path = dir + "/out." + f.name;
        std::vector<double> times;
        for (size_t r = 0; r < runs; ++r) {
            const auto start = Clock::now();
            try {
                qv::AtomicFile out(path, qv::AtomicFile::Refusal::Create);
                qv::exportCatalog(catalog, f.format, [&out](std::string_view piece) { out.write(piece); });
                out.commit();
            } catch (const qv::Error &e) {
                std::fprintf(stderr, "export failed: %s\n", qv::messageUtf8(e).c_str());
                return 1;
            }
            times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        const double size = static_cast<double>(fs::file_size(path));
        std::printf("export %-8s median %.3f s (best %.3f s), %.1f MB%s\n", f.name, median, times.front(),
                    size / (1024.0 * 1024.0), median < kTimeGoal ? "" : "  -- over the goal");
        ok = ok && median < kTimeGoal;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("goal: under %.0f s each: %s\n", kTimeGoal, ok ? "met" : "MISSED");
    return ok ? 0 : 1;
}

// Export of a large catalogue: wall time of writing the generated catalogue
// (100,000 nodes, about 45 MB of notes) as HTML, Markdown, text and OPML to a file
// the way `quorvel-tool export -o` writes it (through the atomic file),
// median of several runs, with the size of each output.
//
//   bench_core_exchange [--nodes N] [--runs R] [--seed S]

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "exchange/Export.h"
#include "generator/Generator.h"
#include "storage/FileIo.h"
#include "support/BenchSupport.h"

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

constexpr double kTimeGoal = 1.0; // seconds, each format

} // namespace

int main(int argc, char **argv)
{
    qv::gen::Options options;
    size_t runs = 5;
    qv::bench::Args args(argc, argv, "usage: bench_core_exchange [--nodes N] [--runs R] [--seed S]");
    while (args.next())
        if (!args.option("--nodes", options.nodes) && !args.option("--runs", runs)
            && !args.option("--seed", options.seed))
            args.usage();
    runs = std::max<size_t>(runs, 1);
    const qv::bench::TempDir tmp;
    const std::string &dir = tmp.path();

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
          Format{"text", qv::ExportFormat::Text}, Format{"opml", qv::ExportFormat::Opml}}) {
        const std::string path = dir + "out." + f.name;
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
        const double median = qv::bench::median(times);
        const double size = static_cast<double>(fs::file_size(path));
        std::printf("export %-8s median %.3f s (best %.3f s), %.1f MB%s\n", f.name, median,
                    *std::min_element(times.begin(), times.end()), size / (1024.0 * 1024.0),
                    median < kTimeGoal ? "" : "  -- over the goal");
        ok = ok && median < kTimeGoal;
    }
    std::printf("goal: under %.0f s each: %s\n", kTimeGoal, ok ? "met" : "MISSED");
    return ok ? 0 : 1;
}

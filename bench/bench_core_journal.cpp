// The recovery journal's cost per keystroke in a large catalogue: a note
// edit with the journal recording and without, the flush that follows one
// keystroke (append and sync), and the bytes it appends. Medians.
//
//   bench_core_journal [--nodes N] [--keys K] [--seed S]

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "generator/Generator.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"
#include "storage/Journal.h"
#include "support/BenchSupport.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Config {
    size_t nodes = 100000;
    size_t keys = 400;
    uint64_t seed = 1;
};

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

uint64_t sizeOf(const std::string &path)
{
    std::error_code ec;
    const auto s = fs::file_size(path, ec);
    return ec ? 0 : s;
}

struct Figures {
    double storeDetached = 0, storeAttached = 0, flush = 0, bytes = 0;
};

// One character typed K times into `node`'s note, as the editor stores it.
Figures measure(qv::Catalog &catalog, qv::Journal &journal, const std::string &dir, qv::Node *node,
                size_t keys)
{
    Figures f;
    const std::string original = qv::recordToEditor(catalog.records().find(node->caption())->text);
    std::string text = original;
    const auto type = [&] {
        text += 'k';
        const auto t0 = Clock::now();
        catalog.storeNote(node, text);
        return microseconds(Clock::now() - t0);
    };

    std::vector<double> times;
    journal.detach();
    for (size_t i = 0; i < keys; ++i)
        times.push_back(type());
    f.storeDetached = qv::bench::median(times);

    journal.attach(catalog, {qv::fileIdentity(dir + "data.dat"), qv::fileIdentity(dir + "text.dat")});
    journal.flush();
    text = original;
    times.clear();
    for (size_t i = 0; i < keys; ++i)
        times.push_back(type());
    f.storeAttached = qv::bench::median(times);

    std::vector<double> flushes, bytes;
    text = original;
    for (size_t i = 0; i < keys; ++i) {
        type();
        const uint64_t before = sizeOf(journal.path());
        const auto t0 = Clock::now();
        journal.flush();
        flushes.push_back(microseconds(Clock::now() - t0));
        bytes.push_back(double(sizeOf(journal.path()) - before));
    }
    f.flush = qv::bench::median(flushes);
    f.bytes = qv::bench::median(bytes);
    return f;
}

void print(const char *what, const Figures &f)
{
    std::printf("  %-22s %10.1f us %10.1f us %10.1f us %10.0f B\n", what, f.storeDetached, f.storeAttached,
                f.flush, f.bytes);
}

} // namespace

int main(int argc, char **argv)
{
    Config cfg;
    qv::bench::Args args(argc, argv, "usage: bench_core_journal [--nodes N] [--keys K] [--seed S]");
    while (args.next())
        if (!args.option("--nodes", cfg.nodes) && !args.option("--keys", cfg.keys)
            && !args.option("--seed", cfg.seed))
            args.usage();
    cfg.keys = std::max<size_t>(1, cfg.keys);

    const qv::bench::TempDir tmp;
    qv::gen::Options options;
    options.nodes = cfg.nodes;
    options.seed = cfg.seed;
    const qv::gen::Generated generated = qv::gen::generate(options);
    const size_t fileBytes = qv::gen::writeCatalogFiles(tmp.path(), generated);

    try {
        qv::Catalog catalog;
        qv::CatalogFiles files(tmp.path());
        files.load(catalog);
        qv::Journal journal(tmp.path());

        std::printf("Catalogue of %zu nodes, files %.1f MB (seed %llu), %zu keystrokes per figure\n\n",
                    catalog.outline().nodeCount(), fileBytes / (1024.0 * 1024.0),
                    static_cast<unsigned long long>(cfg.seed), cfg.keys);
        std::printf("  %-22s %13s %13s %13s %12s\n", "keystroke in a note of", "store, off", "store, on",
                    "flush", "appended");

        qv::Node *node = catalog.outline().at(catalog.outline().nodeCount() / 2);
        print("400 bytes", measure(catalog, journal, tmp.path(), node, cfg.keys));

        qv::Node *other = catalog.outline().at(catalog.outline().nodeCount() / 3);
        catalog.records().setText(other->caption(), std::string(1 << 20, 'x'));
        journal.flush();
        print("1 MB", measure(catalog, journal, tmp.path(), other, std::min<size_t>(cfg.keys, 100)));

        std::printf("\n  journal at the end: %.1f KB\n", sizeOf(journal.path()) / 1024.0);
    } catch (const qv::Error &e) {
        std::fprintf(stderr, "failed: %s\n", qv::cp1251::toUtf8(e.message()).c_str());
        return 1;
    }
    return 0;
}

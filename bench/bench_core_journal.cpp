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

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_core_journal [--nodes N] [--keys K] [--seed S]\n");
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

class TempDir {
public:
    TempDir()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qv-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = std::string(buf.data()) + "/";
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

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
    f.storeDetached = median(times);

    journal.attach(catalog, qv::fileIdentity(dir + "data.dat"), qv::fileIdentity(dir + "text.dat"));
    journal.flush();
    text = original;
    times.clear();
    for (size_t i = 0; i < keys; ++i)
        times.push_back(type());
    f.storeAttached = median(times);

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
    f.flush = median(flushes);
    f.bytes = median(bytes);
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
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && !std::strcmp(argv[i], "--nodes"))
            cfg.nodes = number(argv[++i]);
        else if (i + 1 < argc && !std::strcmp(argv[i], "--keys"))
            cfg.keys = std::max<size_t>(1, number(argv[++i]));
        else if (i + 1 < argc && !std::strcmp(argv[i], "--seed"))
            cfg.seed = number(argv[++i]);
        else
            usage();
    }

    TempDir tmp;
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

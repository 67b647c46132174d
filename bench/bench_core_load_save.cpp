// Load and save of a large catalogue: wall time of CatalogFiles::load (with
// the icon join) and CatalogFiles::save, best of several runs, and the peak
// memory of one load measured in a fresh process.
//
//   bench_core_load_save [--nodes N] [--runs R] [--seed S]
//   bench_core_load_save --deep [N]      an outline nested N levels (10000)

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "generator/Generator.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTimeGoal = 0.25;  // seconds, load and save each
constexpr double kMemoryGoal = 2.5; // peak of a load / size of the two files

struct Config {
    size_t nodes = 100000;
    size_t runs = 5;
    uint64_t seed = 1;
    std::optional<size_t> deep;
};

// A kB figure from /proc/self/status ("VmHWM:", "VmRSS:").
long statusKb(const char *key)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    size_t len = std::strlen(key);
    while (std::getline(f, line))
        if (line.compare(0, len, key) == 0)
            return std::strtol(line.c_str() + len, nullptr, 10);
    return -1;
}

std::string withSeparator(const std::string &dir) { return dir.back() == '/' ? dir : dir + '/'; }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string megabytes(double bytes)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", bytes / (1024.0 * 1024.0));
    return buf;
}

// A folder `name` made in `tmp`.
std::string sub(const qv::bench::TempDir &tmp, const char *name)
{
    std::string p = tmp.path() + name;
    fs::create_directories(p);
    return p;
}

// The child's side of the memory measurement: a fresh process loads the
// catalogue and reports its high-water mark before and after.
int measureLoad(const std::string &dir)
{
    long before = statusKb("VmHWM:");
    qv::Catalog catalog;
    qv::CatalogFiles files(withSeparator(dir));
    try {
        files.load(catalog);
    } catch (const qv::Error &e) {
        std::fprintf(stderr, "load failed: %s\n", qv::cp1251::toUtf8(e.message()).c_str());
        return 1;
    }
    long after = statusKb("VmHWM:");
    std::printf("%ld %ld %zu\n", before, after, catalog.outline().nodeCount());
    return 0;
}

struct Memory {
    long baselineKb = -1;
    long peakKb = -1;
};

// Runs this program again as `--measure-load DIR` and reads its figures.
std::optional<Memory> peakOfLoad(const std::string &dir)
{
    int fds[2];
    if (pipe(fds) != 0)
        return std::nullopt;
    pid_t pid = fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "bench_core_load_save", "--measure-load", dir.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Memory m;
    size_t count = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0
        || std::sscanf(out.c_str(), "%ld %ld %zu", &m.baselineKb, &m.peakKb, &count) != 3)
        return std::nullopt;
    return m;
}

struct Timing {
    double best = 0;
    double median = 0;
};

template <typename F>
Timing timeRuns(size_t runs, F &&once)
{
    std::vector<double> t;
    for (size_t i = 0; i < std::max<size_t>(runs, 1); ++i)
        t.push_back(once());
    return {*std::min_element(t.begin(), t.end()), qv::bench::median(t)};
}

double timedLoad(const std::string &dir, size_t expectedNodes)
{
    auto catalog = std::make_unique<qv::Catalog>();
    qv::CatalogFiles files(withSeparator(dir));
    auto start = Clock::now();
    files.load(*catalog);
    double s = seconds(Clock::now() - start);
    if (catalog->outline().nodeCount() != expectedNodes) {
        std::fprintf(stderr, "load gave %zu nodes, expected %zu\n", catalog->outline().nodeCount(),
                     expectedNodes);
        std::exit(1);
    }
    return s; // the catalogue is torn down outside the measured time
}

double timedSave(qv::Catalog &catalog, const std::string &dir)
{
    qv::CatalogFiles files(withSeparator(dir));
    auto start = Clock::now();
    files.save(catalog);
    return seconds(Clock::now() - start);
}

qv::Bytes fileBytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The save's floor: both files' bytes (already in memory) written to
// temporary files, each synced and renamed over its name.
double timedSafeCopy(const qv::Bytes &outline, const qv::Bytes &records, const std::string &dir)
{
    auto start = Clock::now();
    for (const auto &[name, bytes] : {std::pair{"data.dat", &outline}, std::pair{"text.dat", &records}}) {
        const std::string path = dir + "/" + name;
        const std::string temporary = path + ".floor";
        FILE *f = std::fopen(temporary.c_str(), "wb");
        if (!f || std::fwrite(bytes->data(), 1, bytes->size(), f) != bytes->size() || std::fflush(f) != 0
            || ::fsync(fileno(f)) != 0 || std::fclose(f) != 0
            || std::rename(temporary.c_str(), path.c_str()) != 0) {
            std::fprintf(stderr, "the safe copy failed\n");
            std::exit(1);
        }
    }
    return seconds(Clock::now() - start);
}

// The goals hold for the standard catalogue; other shapes print figures only.
void row(const char *what, const Timing &t, std::optional<double> goal)
{
    std::printf("  %-26s %9.3f s %9.3f s", what, t.best, t.median);
    if (goal)
        std::printf("   < %.2f s  %s", *goal, t.best < *goal ? "ok" : "MISSED");
    std::printf("\n");
}

int run(const Config &cfg)
{
    const qv::bench::TempDir tmp;
    const std::string src = sub(tmp, "src");
    const std::string dst = sub(tmp, "dst");

    auto genStart = Clock::now();
    qv::gen::Generated generated;
    if (cfg.deep) {
        generated = qv::gen::deepChain(*cfg.deep, cfg.seed);
    } else {
        qv::gen::Options options;
        options.nodes = cfg.nodes;
        options.seed = cfg.seed;
        generated = qv::gen::generate(options);
    }
    const size_t nodes = generated.entries.size();
    const size_t filesSize = qv::gen::writeCatalogFiles(src, generated);
    const double genSeconds = seconds(Clock::now() - genStart);
    const qv::Bytes expectedOutline = qv::gen::outlineFileBytes(generated);
    const qv::Bytes expectedRecords = qv::gen::recordFileBytes(generated);
    generated = {};

    const auto dataSize = fs::file_size(src + "/data.dat");
    const auto textSize = fs::file_size(src + "/text.dat");
    if (cfg.deep)
        std::printf("Outline nested %zu levels", nodes);
    else
        std::printf("Catalogue of %zu nodes", nodes);
    std::printf(" (seed %llu, generated in %.2f s)\n", static_cast<unsigned long long>(cfg.seed), genSeconds);
    std::printf(
        "  data.dat %s, text.dat %s, together %s\n\n", megabytes(static_cast<double>(dataSize)).c_str(),
        megabytes(static_cast<double>(textSize)).c_str(), megabytes(static_cast<double>(filesSize)).c_str());

    const bool standard = !cfg.deep && cfg.nodes == 100000;
    const std::optional<double> timeGoal = standard ? std::optional<double>(kTimeGoal) : std::nullopt;
    std::printf("  %-26s %11s %11s   %-8s\n", "", "best", "median", standard ? "goal" : "");
    try {
        Timing load = timeRuns(cfg.runs, [&] { return timedLoad(src, nodes); });
        row("load (with icon join)", load, timeGoal);

        qv::Catalog catalog;
        qv::CatalogFiles(withSeparator(src)).load(catalog);
        Timing save = timeRuns(cfg.runs, [&] { return timedSave(catalog, dst); });
        row("save", save, timeGoal);
        const std::string floorDir = sub(tmp, "floor");
        Timing floor
            = timeRuns(cfg.runs, [&] { return timedSafeCopy(expectedOutline, expectedRecords, floorDir); });
        row("floor: safe copy of both", floor, std::nullopt);
        std::printf("  %-26s %9.2f x %9.2f x   (goal <= 1.5 x)\n", "save / floor", save.best / floor.best,
                    save.median / floor.median);
    } catch (const qv::Error &e) {
        std::fprintf(stderr, "failed: %s\n", qv::cp1251::toUtf8(e.message()).c_str());
        return 1;
    }

    const bool same
        = fileBytes(dst + "/data.dat") == expectedOutline && fileBytes(dst + "/text.dat") == expectedRecords;

    if (auto m = peakOfLoad(src)) {
        double used = static_cast<double>(m->peakKb - m->baselineKb) * 1024.0;
        double ratio = used / static_cast<double>(filesSize);
        std::printf("  %-26s %11s %8.2f x files", "peak memory of a load", megabytes(used).c_str(), ratio);
        if (standard)
            std::printf("   < %.1f x  %s", kMemoryGoal, ratio < kMemoryGoal ? "ok" : "MISSED");
        std::printf("\n");
        std::printf("  %-26s %11s\n", "(process baseline)",
                    megabytes(static_cast<double>(m->baselineKb) * 1024.0).c_str());
    } else {
        std::printf("  peak memory of a load: could not be measured\n");
    }
    std::printf("\n  saved files identical to the loaded ones: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--measure-load") == 0)
        return measureLoad(argv[2]);

    Config cfg;
    qv::bench::Args args(argc, argv,
                         "usage: bench_core_load_save [--nodes N] [--runs R] [--seed S]\n"
                         "       bench_core_load_save --deep [N] [--runs R]");
    bool deep = false;
    while (args.next()) {
        if (args.flag("--deep", deep)) {
            size_t levels = 10000;
            args.optionalNumber(levels);
            cfg.deep = levels;
        } else if (!args.option("--nodes", cfg.nodes) && !args.option("--runs", cfg.runs)
                   && !args.option("--seed", cfg.seed))
            args.usage();
    }
    if (cfg.deep && *cfg.deep == 0)
        args.usage();
    return run(cfg);
}

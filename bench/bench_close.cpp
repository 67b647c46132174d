// The end of a run, as a person waits for it: the real program opens a
// catalogue, is told to end (SIGTERM, the close sequence: the save and the
// settings), and the time from the signal to the last byte written, and from
// the last byte written to the process being gone, are measured (medians).
//
//   bench_close [--nodes N] [--runs R] [--seed S] [--copy DIR]
//
// "The last byte" is the newest modification time among the folder's files
// (each is synced before it is renamed into place).

#include "generator/Generator.h"
#include "support/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef QV_QUORVEL_PATH
#define QV_QUORVEL_PATH "quorvel"
#endif

namespace {

namespace fs = std::filesystem;
namespace bench = qv::bench;
using namespace std::chrono_literals;

double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double newestWrite(const std::string &dir)
{
    double newest = 0;
    for (const auto &entry : fs::directory_iterator(dir)) {
        struct stat st {};
        if (stat(entry.path().c_str(), &st) == 0)
            newest = std::max(newest, double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9);
    }
    return newest;
}

} // namespace

int main(int argc, char **argv)
{
    size_t nodes = 100000;
    int runs = 5;
    uint64_t seed = 1;
    std::string copy;
    bench::Args args(argc, argv, "usage: bench_close [--nodes N] [--runs R] [--seed S] [--copy DIR]");
    while (args.next())
        if (!args.option("--nodes", nodes) && !args.option("--runs", runs) && !args.option("--seed", seed)
            && !args.option("--copy", copy))
            args.usage();
    runs = std::max(1, runs);
    const bench::TempDir tmp;
    const std::string root = tmp.path();
    const std::string source = root + "source";
    fs::create_directory(source);
    if (copy.empty()) {
        qv::gen::Options options;
        options.nodes = nodes;
        options.seed = seed;
        qv::gen::writeCatalogFiles(source + "/", qv::gen::generate(options));
    } else {
        for (const char *name : {"data.dat", "text.dat"})
            fs::copy_file(copy + "/" + name, source + "/" + name);
    }
    const double megabytes
        = double(fs::file_size(source + "/data.dat") + fs::file_size(source + "/text.dat")) / 1e6;
    std::printf("%s: %.1f MB of files, medians of %d runs of %s\n\n",
                copy.empty() ? "generated" : copy.c_str(), megabytes, runs, QV_QUORVEL_PATH);

    std::vector<double> closing, gone;
    for (int run = 0; run < runs; ++run) {
        const std::string dir = root + "run";
        fs::remove_all(dir);
        fs::copy(source, dir);
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
                _exit(126);
            execl(QV_QUORVEL_PATH, QV_QUORVEL_PATH, dir.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        // Idle: the start's backups are whole, and then a while more.
        const auto start = std::chrono::steady_clock::now();
        std::error_code error;
        while (std::chrono::steady_clock::now() - start < 120s
               && fs::file_size(dir + "/text.bak", error) != fs::file_size(dir + "/text.dat", error))
            std::this_thread::sleep_for(20ms);
        std::this_thread::sleep_for(1500ms);
        const double signalled = nowSeconds();
        kill(child, SIGTERM);
        int status = 0;
        waitpid(child, &status, 0);
        const double ended = nowSeconds();
        const double lastWrite = newestWrite(dir);
        closing.push_back((lastWrite - signalled) * 1000);
        gone.push_back((ended - lastWrite) * 1000);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::fprintf(stderr, "run %d ended with status %d\n", run, status);
    }
    std::printf("| %-44s | %9s |\n", "step", "ms");
    std::printf("|%s|%s|\n", std::string(46, '-').c_str(), std::string(11, '-').c_str());
    std::printf("| %-44s | %9.1f |\n", "end (SIGTERM) to the last byte written", bench::median(closing));
    std::printf("| %-44s | %9.1f |\n", "last byte written to the process gone", bench::median(gone));
    std::printf("\ngoals: the close under 300 ms at 100,000 nodes; gone within 100 ms at any size\n");
    return 0;
}

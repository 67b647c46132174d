// What a person waits for at start, each in a fresh process and next to its
// floor from the same run:
//  - the first load of the catalogue (core only) against reading and
//    scanning both files;
//  - the open of the real window to an idle, usable state against reading
//    and scanning both files plus an empty window;
//  - the catalogue's share of peak memory against the files' size: the
//    window's peak less that of the program's own window over a folder with
//    no catalogue (the same code and widgets, only the data missing), and,
//    for comparison, less a bare Qt window's.
//
//   bench_open [--nodes N] [--runs R] [--seed S] [--copy DIR]
//
// --copy takes the catalogue files from DIR instead of generating them
// (build/bench/make_catalog writes a large one once).
//
// The program runs itself as the child of each measurement; a child prints
// "ready <peak KiB>" once it is done and ends without tidying up.

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/window/MainWindow.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

long peakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

[[noreturn]] void ready()
{
    std::printf("ready %ld\n", peakKiB());
    std::fflush(stdout);
    std::_Exit(0);
}

// Reads both files whole and looks at every byte once (their line ends).
size_t readAndScan(const std::string &dir)
{
    size_t lines = 0;
    for (const char *name : {"data.dat", "text.dat"}) {
        const qv::Bytes bytes = qv::readWholeFile(dir + name);
        for (const char *p = bytes.data(), *end = p + bytes.size();
             (p = static_cast<const char *>(std::memchr(p, '\r', size_t(end - p)))); ++p)
            ++lines;
    }
    return lines;
}

// Shows `window` and reports once the event loop has nothing left to do.
int readyWhenIdle(QApplication &app, QWidget &window, const std::function<bool()> &usable)
{
    window.show();
    auto *poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [poll, usable] {
        if (usable()) {
            poll->stop();
            // One more turn of the loop: what the start-up queued has run.
            QTimer::singleShot(0, [] { ready(); });
        }
    });
    poll->start(0);
    return app.exec();
}

int child(const std::string &mode, const std::string &dir, int argc, char **argv)
{
    if (mode == "scan") {
        const size_t lines = readAndScan(dir);
        if (!lines)
            return 1;
        ready();
    }
    if (mode == "load") {
        qv::Catalog catalog;
        qv::CatalogFiles(dir).load(catalog);
        if (catalog.outline().empty())
            return 1;
        ready();
    }
    qv::widenStack();
    QApplication app(argc, argv);
    if (mode == "empty" || mode == "floor") {
        if (mode == "floor" && !readAndScan(dir))
            return 1;
        QMainWindow window;
        window.resize(700, 500);
        return readyWhenIdle(app, window, [] { return true; });
    }
    // "window" over the catalogue; "blank" over a folder without one.
    qv::msg::setNextAnswers({});
    qv::MainWindow window(dir);
    return readyWhenIdle(app, window, [&window] { return window.started(); });
}

struct Sample {
    double ms = 0;
    long peakKiB = 0;
};

// Runs this program as a child in `mode`: the time from its start to its
// "ready", and its peak memory.
Sample measure(const char *self, const char *mode, const std::string &dir)
{
    int out[2];
    if (pipe(out) != 0)
        std::exit(2);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(self, self, "--child", mode, dir.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while (text.find('\n') == std::string::npos && (n = read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    const auto end = std::chrono::steady_clock::now();
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Sample s;
    if (text.rfind("ready ", 0) != 0) {
        std::fprintf(stderr, "bench_open: the %s child failed\n", mode);
        std::exit(1);
    }
    s.ms = std::chrono::duration<double, std::milli>(end - start).count();
    s.peakKiB = std::atol(text.c_str() + 6);
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && !std::strcmp(argv[1], "--child"))
        return child(argv[2], std::string(argv[3]), argc, argv);

    size_t nodes = 100000;
    int runs = 5;
    uint64_t seed = 1;
    std::string copy;
    qv::bench::Args args(argc, argv, "usage: bench_open [--nodes N] [--runs R] [--seed S] [--copy DIR]");
    while (args.next())
        if (!args.option("--nodes", nodes) && !args.option("--runs", runs) && !args.option("--seed", seed)
            && !args.option("--copy", copy))
            args.usage();
    runs = std::max(1, runs);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const qv::bench::TempDir tmp;
    const std::string &dir = tmp.path();
    size_t bytes = 0;
    if (copy.empty()) {
        bytes = qv::gen::writeCatalogFiles(dir, qv::gen::generate({nodes, seed}));
        std::printf("%zu nodes", nodes);
    } else {
        for (const char *name : {"data.dat", "text.dat"}) {
            std::filesystem::copy_file(copy + "/" + name, dir + name);
            bytes += std::filesystem::file_size(dir + name);
        }
        std::printf("the catalogue in %s", copy.c_str());
    }
    std::printf(", %.1f MB of files, %d fresh processes of each kind, medians\n\n", double(bytes) / 1e6,
                runs);

    const char *self = "/proc/self/exe";
    const std::string blankDir = dir + "blank/";
    std::filesystem::create_directory(blankDir);
    std::vector<double> scan, load, floor, open, emptyPeak, openPeak, blankPeak;
    for (int r = 0; r < runs; ++r) {
        // Interleaved, so a busy moment costs each kind alike.
        scan.push_back(measure(self, "scan", dir).ms);
        load.push_back(measure(self, "load", dir).ms);
        floor.push_back(measure(self, "floor", dir).ms);
        const Sample empty = measure(self, "empty", dir);
        emptyPeak.push_back(double(empty.peakKiB));
        const Sample window = measure(self, "window", dir);
        open.push_back(window.ms);
        openPeak.push_back(double(window.peakKiB));
        blankPeak.push_back(double(measure(self, "blank", blankDir).peakKiB));
    }

    std::printf("| %-46s | %10s | %10s | %6s |\n", "what", "measured", "floor", "ratio");
    std::printf("|%s|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(12, '-').c_str(),
                std::string(12, '-').c_str(), std::string(8, '-').c_str());
    auto row = [](const char *what, double value, double floorValue, const char *unit) {
        std::printf("| %-46s | %7.1f %-2s | %7.1f %-2s | %5.2fx |\n", what, value, unit, floorValue, unit,
                    value / floorValue);
    };
    row("first load, core (floor: read and scan files)", qv::bench::median(load), qv::bench::median(scan),
        "ms");
    row("open to an idle window (floor: + empty window)", qv::bench::median(open), qv::bench::median(floor),
        "ms");
    row("catalogue's share of peak memory (vs files)",
        (qv::bench::median(openPeak) - qv::bench::median(blankPeak)) * 1024.0 / 1e6, double(bytes) / 1e6,
        "MB");
    row("  the same, less a bare Qt window's peak",
        (qv::bench::median(openPeak) - qv::bench::median(emptyPeak)) * 1024.0 / 1e6, double(bytes) / 1e6,
        "MB");
    std::printf("\npeaks: empty Qt window %.1f MiB, the window without a catalogue %.1f MiB, "
                "the window with it %.1f MiB\n",
                qv::bench::median(emptyPeak) / 1024.0, qv::bench::median(blankPeak) / 1024.0,
                qv::bench::median(openPeak) / 1024.0);
    std::printf("\ngoals: open <= 2x its floor at 100,000 nodes, under 1 s at 1,000,000; "
                "memory share <= 1.6x the files\n");
    return 0;
}

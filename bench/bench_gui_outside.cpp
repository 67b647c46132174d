// The window taking in another program's version of its files, offscreen,
// next to its floor from the same run (the load of the pair into a fresh
// catalogue, as the open does it): the take-in as a save makes it (read,
// replace, view kept: all on the window's thread), the one the watcher
// makes by itself (read on a worker; the longest the window's thread is
// busy meanwhile, as 5 ms ticks see it), and the merge into a window with
// an unsaved change. Each version differs from the last by one root.
//
//   bench_gui_outside [--nodes N] [--seed S] [--runs R]

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/window/MainWindow.h"
#include "gui/window/OutsideWatcher.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// As a sync engine puts a file in place.
void replaceFile(const std::string &path, const std::string &bytes)
{
    const std::string tmp = path + ".bench-tmp";
    std::ofstream(tmp, std::ios::binary) << bytes;
    std::rename(tmp.c_str(), path.c_str());
}

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char **argv)
{
    qv::widenStack();
    size_t nodes = 100000;
    uint64_t seed = 1;
    int runs = 5;
    qv::bench::Args args(argc, argv, "usage: bench_gui_outside [--nodes N] [--seed S] [--runs R]");
    while (args.next())
        if (!args.option("--nodes", nodes) && !args.option("--seed", seed) && !args.option("--runs", runs))
            args.usage();
    runs = std::max(1, runs);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qv::bench::TempDir dir, state;
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(state.path()));
    const std::string &base = dir.path();
    const size_t bytes = qv::gen::writeCatalogFiles(base, qv::gen::generate({nodes, seed}));
    const std::string data = readAll(base + "data.dat");
    std::printf("%zu nodes, %.1f MB of files, medians of %d runs\n\n", nodes, double(bytes) / 1e6, runs);

    std::vector<double> floor;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        qv::Catalog c;
        qv::CatalogFiles(base).load(c);
        floor.push_back(msSince(t));
    }

    qv::msg::setNextAnswers({});
    auto *window = new qv::MainWindow(base);
    window->show();
    QCoreApplication::processEvents();
    qv::OutsideWatcher *watcher = window->outsideWatcher();
    int version = 0;
    auto nextVersion
        = [&] { replaceFile(base + "data.dat", data + "Bench root " + std::to_string(++version) + "\r\n"); };

    std::vector<double> now, async, stall, merged;
    for (int i = 0; i < runs; ++i) {
        nextVersion();
        QElapsedTimer t;
        t.start();
        watcher->takeInNow();
        QCoreApplication::processEvents();
        now.push_back(msSince(t));
    }
    for (int i = 0; i < runs; ++i) {
        // The watcher waits for a quiet second first; what follows is timed.
        bool done = false;
        QObject::connect(watcher, &qv::OutsideWatcher::tookIn, [&] { done = true; });
        QElapsedTimer t, tick;
        double longest = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longest = std::max(longest, msSince(tick));
            tick.restart();
        });
        nextVersion();
        t.start();
        tick.start();
        ticker.start();
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        async.push_back(msSince(t) - qv::OutsideWatcher::kQuietMs);
        // The tick after the take-in sees how long it held the thread.
        for (const double before = longest; longest == before && tick.elapsed() < 2000;)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        stall.push_back(longest);
        QObject::disconnect(watcher, &qv::OutsideWatcher::tookIn, nullptr, nullptr);
    }
    for (int i = 0; i < runs; ++i) {
        window->catalog().markChanged();
        nextVersion();
        QElapsedTimer t;
        t.start();
        watcher->takeInNow();
        QCoreApplication::processEvents();
        merged.push_back(msSince(t));
    }

    const double load = qv::bench::median(floor);
    auto line = [&](const char *what, double ms) {
        std::printf("| %-44s | %9.1f | %6.2fx |\n", what, ms, ms / load);
    };
    std::printf("| %-44s | %9s | %7s |\n", "step", "ms", "/ load");
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(11, '-').c_str(),
                std::string(9, '-').c_str());
    line("floor: load of the pair (as the open)", load);
    line("take-in before a save (window's thread)", qv::bench::median(now));
    line("take-in by the watcher, after the quiet", qv::bench::median(async));
    line("  longest the window's thread was busy", qv::bench::median(stall));
    line("merge into an unsaved window", qv::bench::median(merged));
    std::printf("\ngoal: the take-in within 2x the load, the window responsive meanwhile\n");
    window->catalog().clearChanged();
    delete window;
    return 0;
}

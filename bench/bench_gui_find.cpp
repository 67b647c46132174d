// Finding in the main window over a large catalogue, offscreen: the time
// from a key pressed in the find field to the tree updated (the events it
// leaves behind included), for queries of 1, 2, 3 and 6 letters, Latin and
// Cyrillic, typed on (each narrows the one before) and fresh (a new
// one-letter query replacing the text), as medians over several runs. The
// floor beside them: a plain byte search over the same notes.
//
//   bench_gui_find [--nodes N] [--seed S] [--runs R]

#include "catalog/Catalog.h"
#include "catalog/Search.h"
#include "generator/Generator.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/tree/FindController.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "gui/window/MainWindow.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

struct Config {
    size_t nodes = 100000;
    uint64_t seed = 1;
    int runs = 5;
};

Config parse(int argc, char **argv)
{
    Config c;
    qv::bench::Args args(argc, argv, "usage: bench_gui_find [--nodes N] [--seed S] [--runs R]");
    while (args.next())
        if (!args.option("--nodes", c.nodes) && !args.option("--seed", c.seed)
            && !args.option("--runs", c.runs))
            args.usage();
    return c;
}

double timed(const std::function<void()> &step)
{
    QElapsedTimer t;
    t.start();
    step();
    QCoreApplication::processEvents();
    return double(t.nsecsElapsed()) / 1e6;
}

// Resident memory in MB, from /proc/self/status.
double residentMb()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return double(std::strtol(line.c_str() + 6, nullptr, 10)) / 1024.0;
    return -1;
}

void type(QWidget *field, QChar c)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(field, &release);
}

} // namespace

int main(int argc, char **argv)
{
    qv::widenStack();
    const Config config = parse(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const qv::bench::TempDir dir;
    const std::string &base = dir.path();
    const qv::gen::Generated generated = qv::gen::generate({config.nodes, config.seed});
    const size_t bytes = qv::gen::writeCatalogFiles(base, generated);
    std::printf("%zu nodes, %.1f MB of files\n\n", generated.entries.size(), double(bytes) / 1e6);
    qv::msg::setNextAnswers({});

    auto *window = new qv::MainWindow(base);
    window->show();
    qv::TreePane *pane = window->treePane();
    QLineEdit *field = pane->finder()->findField();
    // The window left idle after the load, as a person finds it: the find
    // keeps its index from the load on, while the window idles.
    QElapsedTimer settle;
    settle.start();
    while (!pane->finder()->indexReady() && settle.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf("the find's index ready %lld ms after the window was shown\n", settle.elapsed());
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double loadedMb = residentMb();
    const qv::Catalog &catalog = window->catalog();

    // The floor: one byte search for a word over every note.
    size_t noteBytes = 0;
    for (size_t i = 0; i < catalog.records().size(); ++i)
        noteBytes += catalog.records().at(i).text.size();
    const double floor = timed([&] {
        size_t hits = 0;
        for (size_t i = 0; i < catalog.records().size(); ++i) {
            const std::string_view t = catalog.records().at(i).text;
            hits += memmem(t.data(), t.size(), "kernel", 6) != nullptr;
        }
        std::printf("floor: %zu notes hold \"kernel\"\n", hits);
    });
    qv::SearchIndex index;
    const double build = timed([&] { index.build(catalog); });
    std::printf("notes %.1f MB; plain byte search (memmem) over them %.1f ms; index build %.1f ms\n\n",
                double(noteBytes) / 1e6, floor, build);

    // Ctrl+F shows the bar; the index is ready by then.
    const double opening = timed([&] {
        pane->finder()->openFind();
        QCoreApplication::processEvents();
    });
    const double first = timed([&] { type(field, QLatin1Char('k')); });
    std::printf("Ctrl+F, the bar shown: %.1f ms\n", opening);
    std::printf("first keystroke: %.1f ms, %s\n", first, qPrintable(pane->finder()->findCount()->text()));
    const double foundMb = residentMb();
    std::printf(
        "resident memory: %.0f MB after the load, %.0f MB after the first find (+%.0f MB); files %.0f MB\n\n",
        loadedMb, foundMb, foundMb - loadedMb, double(bytes) / 1048576.0);

    struct Series {
        const char *name;
        QString word;
    };
    const Series series[] = {{"Latin", QStringLiteral("kernel")}, {"Cyrillic", QString::fromUtf8("погода")}};
    std::printf("| %-9s | %-10s | %8s | %10s | %-18s |\n", "alphabet", "query", "letters", "median ms",
                "found");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(11, '-').c_str(), std::string(12, '-').c_str(),
                std::string(10, '-').c_str(), std::string(12, '-').c_str(), std::string(20, '-').c_str());
    double worstNarrowing = 0, worstAny = 0;
    for (const Series &s : series) {
        std::map<int, std::vector<double>> narrowing;
        std::vector<double> fresh;
        std::map<int, QString> counts;
        for (int run = 0; run < config.runs; ++run) {
            // Fresh: a one-letter query replacing the text of another.
            field->setText(QStringLiteral("zq"));
            QCoreApplication::processEvents();
            field->selectAll();
            fresh.push_back(timed([&] { type(field, s.word[0]); }));
            counts[0] = pane->finder()->findCount()->text();
            for (int n = 2; n <= s.word.size(); ++n) {
                narrowing[n].push_back(timed([&] { type(field, s.word[n - 1]); }));
                counts[n] = pane->finder()->findCount()->text();
            }
        }
        auto line = [&](const char *kind, int letters, double ms, const QString &count) {
            std::printf("| %-9s | %-10s | %8d | %10.1f | %-18s |\n", s.name, kind, letters, ms,
                        count.toUtf8().constData());
        };
        const double f = qv::bench::median(fresh);
        line("fresh", 1, f, counts[0]);
        worstAny = std::max(worstAny, f);
        for (int n : {2, 3, 6}) {
            const double m = qv::bench::median(narrowing[n]);
            line("narrowing", n, m, counts[n]);
            worstNarrowing = std::max(worstNarrowing, m);
            worstAny = std::max(worstAny, m);
        }
    }
    // Where a keystroke's time goes, for "k" then "ke": the search alone,
    // and the filter's new rows with the tree's relayout.
    {
        std::vector<const qv::Node *> one, two;
        const double searchOne = timed([&] { one = index.findNodes("k"); });
        const double searchTwo = timed([&] { two = index.findNodes("ke", one); });
        field->setText(QStringLiteral("k"));
        QCoreApplication::processEvents();
        qv::TreeModel *model = pane->model();
        auto settled = [&](std::vector<const qv::Node *> matches) {
            model->setFilter(std::move(matches));
            QCoreApplication::processEvents(); // the view's relayout
        };
        const double setTwo = timed([&] { settled(two); });
        const double setOne = timed([&] { settled(one); });
        std::printf("\nbreakdown: search \"k\" %.1f ms (%zu nodes), \"ke\" among them %.1f ms (%zu);\n"
                    "  filter's rows + tree relayout: to \"ke\" %.1f ms, back to \"k\" %.1f ms\n",
                    searchOne, one.size(), searchTwo, two.size(), setTwo, setOne);
    }
    // Leaving the find: the whole tree again.
    const double leave = timed([&] { pane->finder()->closeFind(); });
    std::printf("\nEsc (whole tree back): %.1f ms\n", leave);
    std::printf("goals: narrowing <= 16 ms (worst median %.1f), any keystroke <= 50 ms (worst median %.1f)\n",
                worstNarrowing, worstAny);
    window->close();
    delete window;
    return 0;
}

// The main window over a large catalogue, offscreen: time from construction
// to a usable window, and of each node command, a selection change, a
// palette click, expand all and collapse all.
//
//   bench_gui_window [--nodes N] [--seed S]
//   bench_gui_window --deep [N]      an outline nested N levels (100000)

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "gui/window/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

struct Config {
    size_t nodes = 100000;
    uint64_t seed = 1;
    size_t deep = 0;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: bench_gui_window [--nodes N] [--seed S] | --deep [N]\n");
    std::exit(2);
}

size_t number(const char *text)
{
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!end || *end || end == text)
        usage();
    return size_t(v);
}

Config parse(int argc, char **argv)
{
    Config c;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--nodes") && i + 1 < argc)
            c.nodes = number(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            c.seed = number(argv[++i]);
        else if (!std::strcmp(argv[i], "--deep"))
            c.deep = (i + 1 < argc && argv[i + 1][0] != '-') ? number(argv[++i]) : 100000;
        else
            usage();
    }
    return c;
}

// Runs the step and the events it leaves behind (layout, painting).
double timed(const std::function<void()> &step)
{
    QElapsedTimer t;
    t.start();
    step();
    QCoreApplication::processEvents();
    return double(t.nsecsElapsed()) / 1e6;
}

void row(const char *what, double ms) { std::printf("| %-44s | %10.1f |\n", what, ms); }

} // namespace

int main(int argc, char **argv)
{
    qv::widenStack();
    const Config config = parse(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const std::string base = dir.path().toStdString() + "/";
    const qv::gen::Generated generated = config.deep ? qv::gen::deepChain(config.deep, config.seed)
                                                     : qv::gen::generate({config.nodes, config.seed});
    const size_t bytes = qv::gen::writeCatalogFiles(base, generated);
    const size_t count = generated.entries.size();
    std::printf("%zu nodes%s, %.1f MB of files\n\n", count, config.deep ? " in one chain" : "",
                double(bytes) / 1e6);
    std::printf("| %-44s | %10s |\n", "step", "ms");
    std::printf("|%s|%s|\n", std::string(46, '-').c_str(), std::string(12, '-').c_str());

    // Boxes are answered without being shown (the delete confirmation).
    qv::msg::setNextAnswers({});

    qv::MainWindow *window = nullptr;
    row("construction to a usable window", timed([&] {
            window = new qv::MainWindow(base);
            window->show();
        }));
    if (!window->started() || window->catalog().outline().nodeCount() != count) {
        std::fprintf(stderr, "the catalogue did not load\n");
        return 1;
    }
    qv::TreePane *pane = window->treePane();
    qv::Outline &outline = window->catalog().outline();
    auto click = [&](const char *name) { pane->findChild<QAbstractButton *>(name)->click(); };

    qv::Node *middle = outline.at(count / 2);
    row("selection change (middle node)", timed([&] { pane->selectNode(middle); }));
    row("palette click (set icon)", timed([&] { click("bi17"); }));
    row("create node", timed([&] { click("SpeedButton1"); }));
    row("create child", timed([&] { click("SpeedButton15"); }));
    qv::msg::setNextAnswers({QMessageBox::Yes});
    row("delete node", timed([&] { click("SpeedButton2"); }));
    pane->selectNode(outline.at(count / 2));
    row("move up", timed([&] { click("SpeedButton13"); }));
    row("move down", timed([&] { click("SpeedButton14"); }));
    row("rename", timed([&] {
            qv::Node *n = pane->selectedNode();
            const QModelIndex index = pane->model()->indexFor(n);
            pane->beginRename(index);
            pane->finishRename(index, QStringLiteral("bench renamed"));
        }));
    row("expand all", timed([&] { click("SpeedButton16"); }));
    row("selection change (expanded, last node)",
        timed([&] { pane->selectNode(outline.at(outline.nodeCount() - 1)); }));
    row("move up (expanded)", timed([&] { click("SpeedButton13"); }));
    row("create node (expanded)", timed([&] { click("SpeedButton1"); }));
    row("collapse all", timed([&] { click("SpeedButton17"); }));
    row("save all", timed([&] { window->saveAll(); }));
    row("close (save and settings)", timed([&] { window->close(); }));
    delete window;
    return 0;
}

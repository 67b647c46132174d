// The main window over a large catalogue, offscreen: each node command, a
// selection change, a drag-and-drop move, expand all and collapse all, with
// the tree collapsed and with every branch open, each the median of several
// runs next to its floor from the same run (a plain tree view over a flat
// list of as many rows inserting, removing or moving one row, with the
// events it leaves), and the ratio; then save and close.
//
//   bench_gui_window [--nodes N] [--seed S] [--runs R]
//   bench_gui_window --deep [N]      an outline nested N levels (100000)
//   bench_gui_window --copy DIR      a copy of the catalogue in DIR (a large
//                                    one made once by make_catalog)

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/common/MessageBox.h"
#include "gui/common/StackRoom.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "gui/window/MainWindow.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Config {
    size_t nodes = 100000;
    uint64_t seed = 1;
    size_t deep = 0;
    std::string copy;
    int runs = 5;
};

Config parse(int argc, char **argv)
{
    Config c;
    qv::bench::Args args(
        argc, argv, "usage: bench_gui_window [--nodes N] [--seed S] [--runs R] | --deep [N] | --copy DIR");
    bool deep = false;
    while (args.next()) {
        if (args.flag("--deep", deep)) {
            c.deep = 100000;
            args.optionalNumber(c.deep);
        } else if (!args.option("--nodes", c.nodes) && !args.option("--seed", c.seed)
                   && !args.option("--runs", c.runs) && !args.option("--copy", c.copy))
            args.usage();
    }
    c.runs = std::max(1, c.runs);
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

void row(const char *what, double ms) { std::printf("| %-34s | %9.1f |\n", what, ms); }

// A flat list of numbered rows: the least a structural change can cost a view.
class FlatRows : public QAbstractListModel {
public:
    explicit FlatRows(int rows) : count_(rows) {}
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : count_; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("row %1").arg(index.row())) : QVariant();
    }
    void insertOne(int at)
    {
        beginInsertRows({}, at, at);
        ++count_;
        endInsertRows();
    }
    void removeOne(int at)
    {
        beginRemoveRows({}, at, at);
        --count_;
        endRemoveRows();
    }
    void moveOne(int from, int to)
    {
        beginMoveRows({}, from, from, {}, to);
        endMoveRows();
    }

private:
    int count_;
};

// The floor for `rows` shown rows: the median of inserting, removing and
// moving one row in the middle of a plain tree view, selecting and showing it.
double floorFor(int rows, int runs, const QSize &size)
{
    FlatRows model(std::max(rows, 4));
    QTreeView view;
    view.setHeaderHidden(true);
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&model);
    view.resize(size);
    view.show();
    QCoreApplication::processEvents();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const int at = model.rowCount() / 2;
        auto select = [&](int r) {
            view.selectionModel()->setCurrentIndex(model.index(r, 0), QItemSelectionModel::ClearAndSelect);
            view.scrollTo(model.index(r, 0));
        };
        times.push_back(timed([&] {
            model.insertOne(at);
            select(at);
        }));
        times.push_back(timed([&] {
            model.removeOne(at);
            select(at);
        }));
        times.push_back(timed([&] {
            model.moveOne(at, at - 1);
            select(at - 1);
        }));
    }
    return qv::bench::median(times);
}

void send(QWidget *w, QEvent::Type type, const QPoint &pos, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
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
    size_t bytes = 0;
    size_t count = 0;
    if (!config.copy.empty()) {
        for (const char *name : {"data.dat", "text.dat"}) {
            const QString from = QString::fromStdString(config.copy + "/" + name);
            QFile::copy(from, QString::fromStdString(base + name));
            bytes += size_t(QFileInfo(from).size());
        }
        qv::Catalog probe;
        qv::CatalogFiles(base).load(probe);
        count = probe.outline().nodeCount();
    } else {
        const qv::gen::Generated generated = config.deep ? qv::gen::deepChain(config.deep, config.seed)
                                                         : qv::gen::generate({config.nodes, config.seed});
        bytes = qv::gen::writeCatalogFiles(base, generated);
        count = generated.entries.size();
    }
    {
        QFile ini(QString::fromStdString(base + "Quorvel.ini"));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[Base]\r\nDragDrop=1\r\n");
    }
    std::printf("%zu nodes%s, %.1f MB of files, medians of %d runs\n\n", count,
                config.deep ? " in one chain" : "", double(bytes) / 1e6, config.runs);

    // Boxes are answered without being shown (the delete confirmation).
    qv::msg::setNextAnswers({});

    qv::MainWindow *window = nullptr;
    const double construction = timed([&] {
        window = new qv::MainWindow(base);
        window->show();
    });
    if (!window->started() || window->catalog().outline().nodeCount() != count) {
        std::fprintf(stderr, "the catalogue did not load\n");
        return 1;
    }
    qv::TreePane *pane = window->treePane();
    qv::TreeModel *model = pane->model();
    qv::OutlineView *tree = pane->tree();
    qv::Outline &outline = window->catalog().outline();
    auto click = [&](const char *name) { pane->findChild<QAbstractButton *>(name)->click(); };
    const int runs = config.runs;

    // A node in the middle of what is shown: a root while collapsed.
    auto middle = [&](bool expanded) -> qv::Node * {
        if (expanded)
            return outline.at(outline.nodeCount() / 2);
        return outline.root(outline.rootCount() / 2);
    };
    // The median of `runs` runs of `act`, each after an untimed `prepare`.
    auto measure = [&](const std::function<void()> &prepare, const std::function<void()> &act) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            if (prepare)
                prepare();
            QCoreApplication::processEvents();
            times.push_back(timed(act));
        }
        return qv::bench::median(times);
    };
    struct Line {
        const char *step;
        double ms[2] = {0, 0};
    };
    std::vector<Line> lines;
    auto add = [&](const char *step, int state, double ms) {
        auto it = std::find_if(lines.begin(), lines.end(),
                               [&](const Line &l) { return !std::strcmp(l.step, step); });
        if (it == lines.end()) {
            lines.push_back({step});
            it = lines.end() - 1;
        }
        it->ms[state] = ms;
    };
    double floors[2] = {0, 0};
    double transitions[2] = {0, 0}; // collapse all, expand all

    for (int state : {0, 1}) {
        const bool expanded = state == 1;
        // Into the state: collapse all, or expand all (both timed).
        transitions[state] = measure(
            [&] {
                if (expanded)
                    click("SpeedButton17");
                else
                    click("SpeedButton16");
            },
            [&] { click(expanded ? "SpeedButton16" : "SpeedButton17"); });
        floors[state] = floorFor(model->rowCount(), runs, tree->viewport()->size());

        // From the middle to the last row shown.
        qv::Node *last = qv::deepestLast(outline.root(outline.rootCount() - 1));
        if (!expanded)
            last = outline.root(outline.rootCount() - 1);
        add("selection change", state,
            measure([&] { pane->selectNode(middle(expanded)); }, [&] { pane->selectNode(last); }));
        int icon = 0;
        add("set icon (palette)", state,
            measure([&] { pane->selectNode(middle(expanded)); },
                    [&] {
                        icon = (icon + 1) % 80;
                        click(qPrintable(QStringLiteral("bi%1").arg(icon)));
                    }));
        add("create node", state,
            measure([&] { pane->selectNode(middle(expanded)); }, [&] { click("SpeedButton1"); }));
        qv::Node *parent = nullptr;
        add("create child", state,
            measure(
                [&] {
                    if (parent && !expanded)
                        model->setExpanded(parent, false);
                    parent = middle(expanded);
                    pane->selectNode(parent);
                },
                [&] { click("SpeedButton15"); }));
        if (parent && !expanded)
            model->setExpanded(parent, false);
        add("delete node", state,
            measure(
                [&] {
                    pane->selectNode(middle(expanded));
                    click("SpeedButton1"); // a leaf to delete
                    qv::msg::setNextAnswers({QMessageBox::Yes});
                },
                [&] { click("SpeedButton2"); }));
        // Only a leaf moves: a new one beside the middle node.
        auto newLeaf = [&] {
            pane->selectNode(middle(expanded));
            click("SpeedButton1");
        };
        add("move up", state, measure(newLeaf, [&] { click("SpeedButton13"); }));
        add("move down", state, measure(newLeaf, [&] { click("SpeedButton14"); }));
        int renamed = 0;
        add("rename", state,
            measure([&] { pane->selectNode(middle(expanded)); },
                    [&] {
                        qv::Node *n = pane->selectedNode();
                        const QModelIndex index = model->indexFor(n);
                        pane->commands()->beginRename(index);
                        pane->commands()->finishRename(index,
                                                       QStringLiteral("bench renamed %1").arg(++renamed));
                    }));
        // A new leaf dragged onto the row above it.
        QPoint from, onto;
        add("drag-and-drop move", state,
            measure(
                [&] {
                    pane->selectNode(middle(expanded));
                    click("SpeedButton1");
                    qv::Node *leaf = pane->selectedNode();
                    tree->scrollTo(model->indexFor(leaf), QAbstractItemView::PositionAtCenter);
                    QCoreApplication::processEvents();
                    const QModelIndex at = model->indexFor(leaf);
                    const QRect item = tree->itemRect(at);
                    const QRect above = tree->itemRect(model->index(at.row() - 1, 0));
                    from = QPoint(item.left() + 4, item.center().y());
                    onto = QPoint(above.left() + 4, above.center().y());
                    send(tree->viewport(), QEvent::MouseButtonPress, from, Qt::LeftButton);
                    send(tree->viewport(), QEvent::MouseMove, from + QPoint(0, 10), Qt::LeftButton);
                    send(tree->viewport(), QEvent::MouseMove, onto, Qt::LeftButton);
                },
                [&] { send(tree->viewport(), QEvent::MouseButtonRelease, onto, Qt::NoButton); }));
    }

    // Switching from a short note to 1 MiB of ordinary lines, tree expanded.
    qv::Node *longNoted = outline.at(outline.nodeCount() / 3);
    {
        std::string note;
        for (int i = 0; note.size() < (1u << 20); ++i)
            note += "line " + std::to_string(i) + " of a long note with www.example.org and words~~";
        window->catalog().storeNote(longNoted, qv::recordToEditor(note));
    }
    const double longNoteSwitch
        = measure([&] { pane->selectNode(middle(true)); }, [&] { pane->selectNode(longNoted); });

    std::printf("| %-34s | %9s | %9s |\n", "step", "collapsed", "expanded");
    std::printf("|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str());
    for (const Line &l : lines)
        std::printf("| %-34s | %9.1f | %9.1f |\n", l.step, l.ms[0], l.ms[1]);
    std::printf("| %-34s | %9.1f | %9.1f |\n", "floor (one row, plain view)", floors[0], floors[1]);
    double worst[2] = {0, 0};
    for (const Line &l : lines)
        for (int s : {0, 1})
            worst[s] = std::max(worst[s], l.ms[s]);
    std::printf("| %-34s | %8.1fx | %8.1fx |\n", "slowest step / floor", worst[0] / floors[0],
                worst[1] / floors[1]);
    std::printf("\n| %-34s | %9s |\n", "step", "ms");
    std::printf("|%s|%s|\n", std::string(36, '-').c_str(), std::string(11, '-').c_str());
    row("construction to a usable window", construction);
    row("collapse all (from expanded)", transitions[0]);
    row("expand all (from collapsed)", transitions[1]);
    row("switch to a node with a 1 MiB note", longNoteSwitch);
    row("save all", timed([&] { window->saveAll(); }));
    row("close (save and settings)", timed([&] { window->close(); }));
    const double goal = count > 200000 ? 50.0 : 16.0;
    std::printf(
        "\ngoals: every step under %.0f ms; expand all and collapse all under %.0f ms; the switch to a "
        "1 MiB note under 50 ms\n",
        goal, count > 200000 ? 50.0 : 30.0);
    delete window;
    return 0;
}

// Undo and redo of the tree commands: wall time of one undo (and one redo),
// from the call to the repainted tree, in a tree pane over a generated
// catalogue; and the undo of a drag-and-drop move of a large branch.
//
//   bench_gui_undo [--nodes N] [--branch N] [--runs R]
//
// Each command runs once on a node in the middle of the outline; its undo
// and redo are then timed, R times over (the median is shown).

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/common/MessageBox.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeCommands.h"
#include "gui/tree/TreeModel.h"
#include "gui/tree/TreePane.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QUndoStack>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kStepGoalMs = 16.0;
constexpr double kBranchGoalMs = 100.0;

void send(QWidget *w, QEvent::Type type, const QPoint &pos, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// The tree's own drag, from one node's label to another's.
void dragOnto(qv::TreePane &pane, qv::Node *from, qv::Node *onto)
{
    qv::OutlineView *tree = pane.tree();
    QWidget *vp = tree->viewport();
    pane.selectNode(from);
    QCoreApplication::processEvents();
    const QRect a = tree->itemRect(pane.model()->indexFor(from));
    const QPoint start(a.right() - 2, a.center().y());
    send(vp, QEvent::MouseButtonPress, start, Qt::LeftButton);
    send(vp, QEvent::MouseMove, start + QPoint(0, 10), Qt::LeftButton);
    pane.tree()->scrollTo(pane.model()->indexFor(onto));
    const QRect b = tree->itemRect(pane.model()->indexFor(onto));
    const QPoint end(b.right() - 2, b.center().y());
    send(vp, QEvent::MouseMove, end, Qt::LeftButton);
    send(vp, QEvent::MouseButtonRelease, end, Qt::NoButton);
    QCoreApplication::processEvents();
}

double timed(qv::TreePane &pane, void (qv::TreeCommands::*call)())
{
    const auto t0 = Clock::now();
    (pane.commands()->*call)();
    QCoreApplication::processEvents();
    pane.tree()->viewport()->repaint();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Row {
    std::string name;
    double goal;
    double undoMs;
    double redoMs;
};

// A pane over a fresh catalogue: the generated nodes, then (for the branch
// rows) roots "Target" and "Source" ahead of them, Source holding `branch`
// nodes, 100 children of 99 children each (closed, or every one open).
struct Bench {
    Bench(const qv::gen::Generated &generated, size_t branch)
    {
        qv::gen::fill(generated, catalog);
        if (branch) {
            qv::Outline &o = catalog.outline();
            o.insert(o.top(), 0, "Target");
            qv::Node *source = o.insert(o.top(), 1, "Source");
            size_t made = 1;
            for (size_t i = 0; made < branch; ++i) {
                qv::Node *c = o.append(source, "c" + std::to_string(i), int32_t(i % 80));
                ++made;
                for (size_t j = 0; j < 99 && made < branch; ++j, ++made)
                    o.append(c, "c" + std::to_string(i) + "." + std::to_string(j), int32_t(j % 80));
            }
        }
        pane = std::make_unique<qv::TreePane>(catalog);
        pane->tree()->setDragDropEnabled(true);
        pane->resize(300, 600);
        pane->show();
        QCoreApplication::processEvents();
    }

    // A leaf near the middle of the flat order, and its neighbors'.
    qv::Node *middleLeaf() const
    {
        qv::Node *n = catalog.outline().first();
        for (size_t i = 0, half = catalog.outline().nodeCount() / 2; i < half; ++i)
            n = qv::flatNext(n);
        while (n && (n->hasChildren() || n->row() == 0 || n->row() + 1 == n->parent()->childCount()))
            n = qv::flatNext(n);
        return n;
    }

    qv::Catalog catalog;
    std::unique_ptr<qv::TreePane> pane;
};

// Runs `command` once, then times its undo and redo `runs` times.
Row measure(const std::string &name, double goal, Bench &b, int runs, const std::function<void()> &command)
{
    command();
    QCoreApplication::processEvents();
    if (b.pane->commands()->undoStack()->count() != 1) {
        std::printf("  %-40s  the command made no step\n", name.c_str());
        return {name, goal, -1, -1};
    }
    std::vector<double> undo, redo;
    for (int r = 0; r < runs; ++r) {
        undo.push_back(timed(*b.pane, &qv::TreeCommands::undo));
        redo.push_back(timed(*b.pane, &qv::TreeCommands::redo));
    }
    return {name, goal, qv::bench::median(undo), qv::bench::median(redo)};
}

} // namespace

int main(int argc, char **argv)
{
    size_t nodes = 100000;
    size_t branch = 10000;
    int runs = 5;
    qv::bench::Args args(argc, argv, "usage: bench_gui_undo [--nodes N] [--branch N] [--runs R]");
    while (args.next())
        if (!args.option("--nodes", nodes) && !args.option("--branch", branch)
            && !args.option("--runs", runs))
            args.usage();
    branch = std::max<size_t>(1, branch);
    runs = std::max(1, runs);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qv::msg::setNextAnswers({}); // boxes answered, never shown
    qv::gen::Options options;
    options.nodes = nodes;
    const qv::gen::Generated generated = qv::gen::generate(options);

    std::vector<Row> rows;
    auto step = [&](const char *name, const std::function<void(Bench &, qv::Node *)> &command) {
        Bench b(generated, 0);
        qv::Node *leaf = b.middleLeaf();
        b.pane->selectNode(leaf);
        QCoreApplication::processEvents();
        rows.push_back(measure(name, kStepGoalMs, b, runs, [&] { command(b, leaf); }));
    };
    step("create node", [](Bench &b, qv::Node *) { b.pane->commands()->createNode(); });
    step("create child", [](Bench &b, qv::Node *) { b.pane->commands()->createChild(); });
    step("delete", [](Bench &b, qv::Node *) {
        qv::msg::setNextAnswers({QMessageBox::Yes});
        b.pane->commands()->deleteNode();
    });
    step("rename", [](Bench &b, qv::Node *leaf) {
        const QModelIndex index = b.pane->model()->indexFor(leaf);
        b.pane->commands()->beginRename(index);
        b.pane->commands()->finishRename(index, QStringLiteral(u"Новое имя"));
    });
    step("icon change", [](Bench &b, qv::Node *) { b.pane->commands()->setIcon(42); });
    step("move up", [](Bench &b, qv::Node *) { b.pane->commands()->moveUp(); });
    step("move down", [](Bench &b, qv::Node *) { b.pane->commands()->moveDown(); });
    step("drag-and-drop (a leaf)",
         [](Bench &b, qv::Node *leaf) { dragOnto(*b.pane, leaf, b.catalog.outline().root(0)); });
    for (bool expanded : {false, true}) {
        Bench b(generated, branch);
        qv::Outline &o = b.catalog.outline();
        if (expanded)
            b.pane->model()->expandBranch(o.root(1));
        const std::string name
            = "drag-and-drop (" + std::to_string(branch) + "-node branch" + (expanded ? ", open)" : ")");
        rows.push_back(
            measure(name, kBranchGoalMs, b, runs, [&] { dragOnto(*b.pane, o.root(1), o.root(0)); }));
    }

    std::printf("undo and redo in a tree of %zu nodes (median of %d runs)\n", nodes, runs);
    std::printf("  %-40s  %9s  %9s  %7s\n", "step", "undo ms", "redo ms", "goal ms");
    for (const Row &r : rows) {
        const bool ok = r.undoMs >= 0 && r.undoMs <= r.goal && r.redoMs <= r.goal;
        std::printf("  %-40s  %9.2f  %9.2f  %7.0f  %s\n", r.name.c_str(), r.undoMs, r.redoMs, r.goal,
                    ok ? "ok" : "SLOW");
    }
    return 0;
}

// Moving a large branch by drag-and-drop: wall time from the release over
// the target to the repainted tree, for a branch of 10,000 nodes beside a
// generated catalogue, driven by mouse events on the tree's viewport.
//
//   bench_gui_dragdrop [--branch N] [--nodes N] [--runs R]
//
// Shapes of the branch: "collapsed" (100-wide, two levels, nothing open),
// "expanded" (the same, every node open, so the view lays out all of it) and
// "deep" (a chain N levels deep).

#include "catalog/Catalog.h"
#include "generator/Generator.h"
#include "gui/tree/OutlineView.h"
#include "gui/tree/TreeModel.h"
#include "support/BenchSupport.h"

#include <QApplication>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGoalMs = 100.0;

enum class Shape { Collapsed, Expanded, Deep };

const char *name(Shape s)
{
    switch (s) {
    case Shape::Collapsed:
        return "collapsed";
    case Shape::Expanded:
        return "expanded";
    case Shape::Deep:
        return "deep";
    }
    return "";
}

// Roots "Target" and "Source" first, the generated catalogue after them;
// Source's branch holds `branch` nodes in the given shape.
void build(qv::Catalog &catalog, Shape shape, size_t branch, size_t others)
{
    if (others) {
        // Generated once; every run fills a fresh catalogue from it.
        static const qv::gen::Generated generated = [others] {
            qv::gen::Options opt;
            opt.nodes = others;
            return qv::gen::generate(opt);
        }();
        qv::gen::fill(generated, catalog);
    }
    qv::Outline &o = catalog.outline();
    o.insert(o.top(), 0, "Target");
    qv::Node *source = o.insert(o.top(), 1, "Source");
    size_t made = 1;
    if (shape == Shape::Deep) {
        for (qv::Node *p = source; made < branch; ++made)
            p = o.append(p, "d" + std::to_string(made));
    } else {
        for (size_t i = 0; made < branch; ++i) {
            qv::Node *c = o.append(source, "c" + std::to_string(i), int32_t(i % 80));
            ++made;
            for (size_t j = 0; j < 99 && made < branch; ++j, ++made)
                o.append(c, "c" + std::to_string(i) + "." + std::to_string(j), int32_t(j % 80));
        }
    }
}

void send(QWidget *w, QEvent::Type type, const QPoint &pos, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// One run: returns the milliseconds of the drop, or a negative number when
// the branch did not move.
double run(Shape shape, size_t branch, size_t others)
{
    qv::Catalog catalog;
    build(catalog, shape, branch, others);
    const size_t total = catalog.outline().nodeCount();
    const size_t roots = catalog.outline().rootCount();
    qv::TreeModel model(catalog.outline());
    qv::OutlineView tree(catalog);
    tree.setModel(&model);
    tree.setHeaderHidden(true);
    tree.setUniformRowHeights(true);
    tree.setSelectionMode(QAbstractItemView::SingleSelection);
    tree.resize(300, 600);
    tree.setDragDropEnabled(true);
    qv::Node *target = catalog.outline().root(0);
    qv::Node *source = catalog.outline().root(1);
    if (shape == Shape::Expanded)
        model.expandBranch(source);
    tree.show();
    QCoreApplication::processEvents();

    QWidget *vp = tree.viewport();
    const QRect from = tree.itemRect(model.indexFor(source));
    const QRect onto = tree.itemRect(model.indexFor(target));
    const QPoint start(from.right() - 2, from.center().y());
    send(vp, QEvent::MouseButtonPress, start, Qt::LeftButton);
    send(vp, QEvent::MouseMove, start + QPoint(0, 10), Qt::LeftButton);
    const QPoint end(onto.right() - 2, onto.center().y());
    send(vp, QEvent::MouseMove, end, Qt::LeftButton);

    const auto t0 = Clock::now();
    send(vp, QEvent::MouseButtonRelease, end, Qt::NoButton);
    QCoreApplication::processEvents();
    vp->repaint();
    const auto t1 = Clock::now();

    const bool moved = catalog.outline().rootCount() == roots - 1 && target->childCount() == 1
        && qv::branchSize(target->child(0)) == branch && catalog.outline().nodeCount() == total;
    return moved ? std::chrono::duration<double, std::milli>(t1 - t0).count() : -1.0;
}

} // namespace

int main(int argc, char **argv)
{
    size_t branch = 10000;
    size_t others = 100000;
    int runs = 5;
    qv::bench::Args args(argc, argv, "usage: bench_gui_dragdrop [--branch N] [--nodes N] [--runs R]");
    while (args.next())
        if (!args.option("--branch", branch) && !args.option("--nodes", others)
            && !args.option("--runs", runs))
            args.usage();
    runs = std::max(1, runs);
    if (branch < 1)
        branch = 1;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::printf("drag-and-drop move of a %zu-node branch beside %zu other nodes (goal %.0f ms)\n", branch,
                others, kGoalMs);
    bool ok = true;
    for (Shape shape : {Shape::Collapsed, Shape::Expanded, Shape::Deep}) {
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            const double t = run(shape, branch, others);
            if (t < 0) {
                std::printf("  %-9s  the branch did not move\n", name(shape));
                return 1;
            }
            ms.push_back(t);
        }
        std::sort(ms.begin(), ms.end());
        const double median = qv::bench::median(ms);
        std::printf("  %-9s  best %8.2f ms   median %8.2f ms   worst %8.2f ms  %s\n", name(shape), ms.front(),
                    median, ms.back(), median <= kGoalMs ? "ok" : "SLOW");
        ok = ok && median <= kGoalMs;
    }
    return ok ? 0 : 1;
}

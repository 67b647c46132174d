// The three-way merge of a large catalogue: a generated base, each side
// with its own random edits (notes, renames, new nodes, deleted leaves,
// moves) saved as a folder of its own, then the time of the merge of the
// three loaded pairs next to its floor, the time to load the three pairs.
//
//   bench_merge [--nodes N] [--edits E] [--runs R] [--seed S] [--deep]
//
// --deep: the nodes nested one in another, each the only child of the one
// before (the outline file grows with the square of the depth: 10000 levels
// make 50 MB).

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "generator/Generator.h"
#include "merge/OutlineMerge.h"
#include "storage/CatalogFiles.h"
#include "support/BenchSupport.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTimeGoal = 1.0;   // seconds
constexpr double kFloorRatio = 3.0; // merge / load of the three pairs

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// `edits` random edits on `c`, a fifth of each kind.
void edit(qv::Catalog &c, size_t edits, uint64_t seed, const std::string &tag)
{
    qv::gen::Random rnd(seed);
    std::vector<qv::Node *> nodes;
    for (qv::Node *n = c.outline().first(); n; n = qv::flatNext(n))
        nodes.push_back(n);
    std::vector<bool> gone(nodes.size(), false);
    const auto pick = [&]() -> qv::Node * {
        for (;;)
            if (const size_t i = rnd.below(nodes.size()); !gone[i])
                return nodes[i];
    };
    for (size_t e = 0; e < edits; ++e) {
        qv::Node *n = pick();
        const qv::Bytes mark = tag + std::to_string(e);
        switch (e % 5) {
        case 0: { // a line of the note changed
            const std::optional<qv::RecordView> r = c.records().find(n->caption());
            qv::Bytes text = r ? qv::Bytes(r->text) : qv::Bytes();
            const size_t at = text.find("~~");
            text.insert(at == qv::Bytes::npos ? text.size() : at, " " + mark);
            c.records().setText(n->caption(), text);
            break;
        }
        case 1: { // renamed
            const qv::Bytes caption = n->caption() + " " + mark;
            c.records().rename(n->caption(), caption);
            c.outline().setCaption(n, caption);
            break;
        }
        case 2: { // a new child
            const qv::Bytes caption = "new " + mark;
            c.outline().insert(n, rnd.below(n->childCount() + 1), caption);
            c.records().append(caption, "typed " + mark, "0");
            break;
        }
        case 3: // a leaf deleted
            if (!n->hasChildren()) {
                gone[size_t(std::find(nodes.begin(), nodes.end(), n) - nodes.begin())] = true;
                c.deleteLeaf(n);
            }
            break;
        default: { // a leaf moved
            qv::Node *to = pick();
            if (!n->hasChildren() && to != n)
                c.outline().move(n, to, rnd.below(to->childCount() + 1));
            break;
        }
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    size_t nodes = 100000, edits = 1000, runs = 3;
    uint64_t seed = 1;
    bool deep = false;
    qv::bench::Args args(argc, argv,
                         "usage: bench_merge [--nodes N] [--edits E] [--runs R] [--seed S] [--deep]");
    while (args.next())
        if (!args.option("--nodes", nodes) && !args.option("--edits", edits) && !args.option("--runs", runs)
            && !args.option("--seed", seed) && !args.flag("--deep", deep))
            args.usage();

    qv::bench::TempDir tmp;
    const std::string dirs[3] = {tmp.path() + "base/", tmp.path() + "ours/", tmp.path() + "theirs/"};
    try {
        qv::gen::Options options;
        options.nodes = nodes;
        options.seed = seed;
        const qv::gen::Generated generated
            = deep ? qv::gen::deepChain(nodes, seed) : qv::gen::generate(options);
        for (int side = 0; side < 3; ++side) {
            std::filesystem::create_directories(dirs[side]);
            qv::gen::writeCatalogFiles(dirs[side], generated);
            if (side == 0)
                continue;
            qv::Catalog c;
            qv::CatalogFiles files(dirs[side]);
            files.load(c);
            edit(c, edits, seed * 31 + uint64_t(side), side == 1 ? "o" : "t");
            files.save(c);
        }
    } catch (const qv::Error &e) {
        std::fprintf(stderr, "setting up failed: %s\n", qv::messageUtf8(e).c_str());
        return 1;
    }

    std::vector<double> loads, merges;
    size_t conflicts = 0, merged = 0;
    for (size_t run = 0; run < runs; ++run) {
        std::unique_ptr<qv::Catalog> pairs[3];
        auto start = Clock::now();
        for (int side = 0; side < 3; ++side) {
            pairs[side] = std::make_unique<qv::Catalog>();
            qv::CatalogFiles(dirs[side]).load(*pairs[side]);
        }
        loads.push_back(seconds(Clock::now() - start));
        qv::Catalog out;
        start = Clock::now();
        const qv::merge::Report report
            = qv::merge::mergeCatalogs(*pairs[0], *pairs[1], *pairs[2], {"ours", 1}, {"theirs", 2}, out);
        merges.push_back(seconds(Clock::now() - start));
        conflicts = report.conflicts.size();
        merged = out.outline().nodeCount();
    }
    const double load = qv::bench::median(loads), merge = qv::bench::median(merges);
    std::printf(
        "merge of %zu nodes, %zu edits on each side (%zu nodes after, %zu conflicts), median of %zu runs\n",
        nodes, edits, merged, conflicts, runs);
    std::printf("  load of the three pairs (floor) %8.3f s\n", load);
    std::printf("  merge                           %8.3f s   < %.2f s  %s   %.2fx the floor (<= %.0fx)  %s\n",
                merge, kTimeGoal, merge < kTimeGoal ? "ok" : "MISSED", merge / load, kFloorRatio,
                merge <= kFloorRatio * load ? "ok" : "MISSED");
    return 0;
}

// The three-way merge: one row per rule (both orders of the sides giving
// the same result), and random edits on both sides of a random base.
#include "TestSupport.h"
#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "catalog/Text.h"
#include "merge/LineMerge.h"
#include "merge/OutlineMerge.h"
#include "storage/CatalogFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qv::Bytes;
using qv::Catalog;
using qv::W;
namespace merge = qv::merge;

const merge::Side kOurs{"Alpha", 1'800'000'000};  // 2027-01-15 08:00 UTC
const merge::Side kTheirs{"Beta", 1'800'000'600}; // ten minutes later

// A catalogue written as "node;node;...": each node ">" per level, its
// caption, "=" and its note ("/" between lines) when it has a record, and
// "#" with its icons field when that is not 0. The records follow the
// nodes' order.
void build(const std::string &written, Catalog &c)
{
    std::stringstream in(written);
    std::string item;
    std::vector<qv::Node *> levels;
    while (std::getline(in, item, ';')) {
        if (item.empty())
            continue;
        size_t depth = 0;
        while (item[depth] == '>')
            ++depth;
        const size_t eq = item.find('='), hash = item.find('#');
        const Bytes caption = W(item.substr(depth, std::min(eq, hash) - depth));
        levels.resize(depth);
        levels.push_back(c.outline().append(depth ? levels[depth - 1] : c.outline().top(), caption));
        if (eq == std::string::npos && hash == std::string::npos)
            continue;
        const std::string text = eq == std::string::npos ? "" : item.substr(eq + 1, hash - eq - 1);
        const std::string icons = hash == std::string::npos ? "0" : item.substr(hash + 1);
        c.records().append(caption, qv::replaceAll(W(text), "/", "~~"), icons);
    }
    c.joinIcons();
}

// The merged catalogue in the same notation, in UTF-8; the records' sections
// follow after "|" when their order is not the nodes'.
std::string show(const Catalog &c)
{
    std::string out, flat, order;
    for (const qv::Node *n = c.outline().first(); n; n = qv::flatNext(n)) {
        out += (out.empty() ? "" : ";") + std::string(n->depth(), '>') + qv::cp1251::toUtf8(n->caption());
        if (const auto r = c.records().find(n->caption())) {
            out += "=" + qv::cp1251::toUtf8(qv::replaceAll(r->text, "~~", "/"));
            if (r->icons != "0")
                out += "#" + std::string(r->icons);
            flat += qv::cp1251::toUtf8(n->caption()) + ",";
        }
    }
    for (size_t i = 0; i < c.records().size(); ++i)
        order += qv::cp1251::toUtf8(c.records().at(i).section) + ",";
    return order == flat ? out : out + "|" + order;
}

std::string mergeWritten(const std::string &b, const std::string &o, const std::string &t,
                         const merge::Side &os, const merge::Side &ts, size_t *conflicts = nullptr)
{
    Catalog base, ours, theirs, out;
    build(b, base);
    build(o, ours);
    build(t, theirs);
    const merge::Report report = merge::mergeCatalogs(base, ours, theirs, os, ts, out);
    if (conflicts)
        *conflicts = report.conflicts.size();
    return show(out);
}

struct Rule {
    const char *name;
    std::string base, ours, theirs, merged;
    size_t conflicts = 0;
};

std::ostream &operator<<(std::ostream &os, const Rule &r) { return os << r.name; }

const std::string kFirst = "<<<<<<< Версия с машины «Alpha», 2027-01-15 08:00 UTC";
const std::string kSecond = "======= Версия с машины «Beta», 2027-01-15 08:10 UTC";
const std::string kEnd = ">>>>>>> Конец расхождения";

class MergeRule : public ::testing::TestWithParam<Rule> {};

TEST_P(MergeRule, BothOrdersGiveTheTable)
{
    const Rule &r = GetParam();
    size_t conflicts = 0, swapped = 0;
    EXPECT_EQ(mergeWritten(r.base, r.ours, r.theirs, kOurs, kTheirs, &conflicts), r.merged);
    EXPECT_EQ(mergeWritten(r.base, r.theirs, r.ours, kTheirs, kOurs, &swapped), r.merged);
    EXPECT_EQ(conflicts, r.conflicts);
    EXPECT_EQ(swapped, r.conflicts);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MergeRule,
    ::testing::Values(Rule{"Create", "A", "A;B=n", "A", "A;B=n"}, Rule{"Delete", "A;B=n", "A", "A;B=n", "A"},
                      Rule{"RenameCarriesItsNote", "A;B=n", "A;C=n", "A;B=n/m", "A;C=n/m"},
                      Rule{"RenameUnderRenamedParent", "P;>C=c", "Q;>D=c", "P;>C=c;E", "Q;>D=c;E"},
                      Rule{"Icon", "A=x", "A=x#5", "A=x", "A=x#5"},
                      Rule{"MoveToParent", "A;B;C", "A;>C;B", "A;B;C;D", "A;>C;B;D"},
                      Rule{"MoveAmongSiblings", "A;B;C;D", "D;A;B;C", "A;B;C;D;E", "D;A;B;C;E"},
                      Rule{"NoteEditsApart", "A=1/2/3/4/5", "A=1x/2/3/4/5", "A=1/2/3/4/5x", "A=1x/2/3/4/5x"},
                      Rule{"NoteEditsOverlap", "A=1/2/3", "A=1/2o/3", "A=1/2t/3",
                           "A=1/" + kFirst + "/2o/" + kSecond + "/2t/" + kEnd + "/3", 1},
                      Rule{"DeleteAgainstNoteEdit", "A;B=n", "A", "A;B=m", "A;B=m"},
                      Rule{"DeleteAgainstRename", "A;B=n", "A", "A;C=n", "A;C=n"},
                      Rule{"DeleteAgainstNewChild", "A;B", "A", "A;B;>C", "A;B;>C"},
                      Rule{"DeleteBranchAgainstEditBelow", "A;>B;>>C=n;Z", "Z", "A;>B;>>C=m;Z",
                           "A;>B;>>C=m;Z"},
                      Rule{"BothCreateEqual", "A", "A;N=x;P", "A;N=x;Q", "A;N=x;P;Q"},
                      Rule{"BothCreateDifferent", "A", "A;N=x", "A;N=y", "A;N=x;N (2)=y", 1},
                      Rule{"BothRename", "A=n;Z", "B=n;Z;X", "C=n;Z", "C=n;Z;X", 1},
                      Rule{"BothIcon", "A#1;Z", "A#2;Z;X", "A#3;Z", "A=#3;Z;X", 1},
                      Rule{"BothMove", "A;B;C", "A;>C;B", "A;B;>C", "A;B;>C", 1},
                      Rule{"MovesIntoEachOther", "A;B", "A;>B", "B;>A", "A;>B", 1},
                      Rule{"BothInsertAtOnePlace", "A;Z", "A;X;Z", "A;Y;Z", "A;X;Y;Z"},
                      Rule{"NoBase", "", "A=x", "B=y", "A=x;B=y"}),
    [](const auto &rule) { return std::string(rule.param.name); });

// ---- random edits on both sides ----

// A random edit: a tree command, or a line of a note typed or changed.
void randomEdit(Catalog &c, std::mt19937 &rng, size_t &typed)
{
    const size_t count = c.outline().nodeCount();
    if (count && rng() % 3 == 0) {
        const qv::Node *n = c.outline().at(rng() % count);
        std::string note = qv::recordToEditor(c.noteForEditor(n->caption()).value_or(""));
        std::vector<std::string> lines;
        std::stringstream in(qv::replaceAll(note, "\r\n", "\n"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        const std::string line = "typed " + std::to_string(typed++);
        if (!lines.empty() && rng() % 2)
            lines[rng() % lines.size()] = line;
        else
            lines.insert(lines.begin() + long(lines.empty() ? 0 : rng() % (lines.size() + 1)), line);
        std::string text;
        for (size_t i = 0; i < lines.size(); ++i)
            text += (i ? "\r\n" : "") + lines[i];
        c.storeNote(n, text);
        return;
    }
    qvtest::randomStep(c, rng);
}

std::set<std::string> noteLines(const Catalog &c)
{
    std::set<std::string> lines;
    for (size_t i = 0; i < c.records().size(); ++i) {
        std::stringstream in(qv::replaceAll(c.records().at(i).text, "~~", "\n"));
        for (std::string line; std::getline(in, line);)
            lines.insert(line);
    }
    return lines;
}

TEST(Merge, RandomEditsOnBothSides)
{
    const unsigned seeds
        = std::getenv("QV_MERGE_SEEDS") ? unsigned(std::atoi(std::getenv("QV_MERGE_SEEDS"))) : 100;
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        Catalog base, ours, theirs;
        size_t typed = 0;
        for (Catalog *c : {&base, &ours, &theirs}) {
            std::mt19937 same(seed * 7919);
            for (int i = 0; i < 40; ++i) {
                const size_t count = c->outline().nodeCount();
                qv::Node *parent = count && same() % 3 ? c->outline().at(same() % count) : c->outline().top();
                const Bytes caption = "N" + std::to_string(i);
                c->outline().append(parent, caption);
                std::string note;
                for (unsigned k = same() % 5; k > 0; --k)
                    note += (note.empty() ? "" : "~~") + caption + "." + std::to_string(k);
                if (same() % 4)
                    c->records().append(caption, note, std::to_string(same() % 80));
            }
            c->joinIcons();
        }
        for (int i = 0; i < 8; ++i) {
            randomEdit(ours, rng, typed);
            randomEdit(theirs, rng, typed);
        }
        Catalog merged, swapped;
        const merge::Report report = merge::mergeCatalogs(base, ours, theirs, kOurs, kTheirs, merged);
        merge::mergeCatalogs(base, theirs, ours, kTheirs, kOurs, swapped);
        const std::string bytes = qvtest::dump(merged);
        ASSERT_EQ(qvtest::dump(swapped), bytes);
        if (std::getenv("QV_MERGE_SHOW"))
            std::printf("%zu %zu %zu -> %zu, %zu/%zu changes, %zu conflicts\n", base.outline().nodeCount(),
                        ours.outline().nodeCount(), theirs.outline().nodeCount(),
                        merged.outline().nodeCount(), report.oursChanges, report.theirsChanges,
                        report.conflicts.size());
        // Sides as old as each other, from one machine: still one result.
        Catalog alike, alikeSwapped;
        merge::mergeCatalogs(base, ours, theirs, kOurs, kOurs, alike);
        merge::mergeCatalogs(base, theirs, ours, kOurs, kOurs, alikeSwapped);
        ASSERT_EQ(qvtest::dump(alike), qvtest::dump(alikeSwapped));

        // Nothing typed on either side is missing.
        const std::set<std::string> have = noteLines(merged), before = noteLines(base);
        for (const Catalog *side : {&ours, &theirs})
            for (const std::string &line : noteLines(*side))
                if (!before.count(line)) {
                    EXPECT_TRUE(have.count(line)) << line;
                }

        // A caption new on one side only is there (" (N)" after it when the
        // other side took it too), unless both renamed that node.
        std::set<Bytes> captions, lost;
        for (const qv::Node *n = merged.outline().first(); n; n = qv::flatNext(n))
            captions.insert(n->caption().substr(0, n->caption().rfind(" (")));
        for (const merge::Conflict &c : report.conflicts)
            lost.insert(c.other);
        for (const auto &[side, other] : {std::pair{&ours, &theirs}, std::pair{&theirs, &ours}})
            for (const qv::Node *n = side->outline().first(); n; n = qv::flatNext(n))
                if (!base.outline().captionCount(n->caption()) && !lost.count(n->caption())) {
                    EXPECT_TRUE(captions.count(n->caption().substr(0, n->caption().rfind(" ("))))
                        << n->caption();
                }

        // It reads back as it was written (every few seeds: a save syncs).
        if (seed % 8 == 0) {
            qvtest::TempDir dir;
            qv::CatalogFiles(dir.path()).save(merged);
            Catalog reread;
            qv::CatalogFiles(dir.path()).load(reread);
            EXPECT_EQ(qvtest::dump(reread), bytes);
        }

        // The three identities.
        for (const auto &[b, o, t, expected] :
             {std::tuple{&base, &ours, &ours, &ours}, std::tuple{&base, &base, &ours, &ours},
              std::tuple{&base, &ours, &base, &ours}}) {
            Catalog out;
            merge::mergeCatalogs(*b, *o, *t, kOurs, kTheirs, out);
            EXPECT_EQ(qvtest::dump(out), qvtest::dump(*expected));
        }
    }
}

} // namespace

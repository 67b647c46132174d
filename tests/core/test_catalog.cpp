// The catalogue model: outline structure, flat order, the join by caption and
// the node commands.
#include "catalog/Catalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

using namespace qv;

namespace {

// "A(B,C(D)),E" style description of an outline, captions converted to UTF-8.
std::string shape(const Node *parent)
{
    std::string out;
    for (size_t i = 0; i < parent->childCount(); ++i) {
        const Node *c = parent->child(i);
        if (i)
            out += ",";
        out += cp1251::toUtf8(c->caption());
        if (c->hasChildren())
            out += "(" + shape(c) + ")";
    }
    return out;
}
std::string shape(const Outline &o) { return shape(o.top()); }

// Builds an outline from lines of "depth:caption".
void build(Catalog &c, const std::vector<std::pair<int, std::string>> &lines, bool withRecords = true)
{
    std::vector<Node *> chain;
    for (auto &[depth, caption] : lines) {
        chain.resize(size_t(depth));
        Node *parent = depth == 0 ? c.outline().top() : chain.back();
        chain.push_back(c.outline().append(parent, W(caption)));
        if (withRecords)
            c.records().append(W(caption), W("note of " + caption), "0");
    }
}

// Checks what every listener call announces matches what happened.
class CountingListener : public OutlineListener {
public:
    int open = 0, inserts = 0, removes = 0, moves = 0, resets = 0, changes = 0;
    void aboutToInsert(Node *, size_t, size_t) override { ++open; }
    void inserted() override
    {
        --open;
        ++inserts;
    }
    void aboutToRemove(Node *, size_t, size_t) override { ++open; }
    void removed() override
    {
        --open;
        ++removes;
    }
    void aboutToMove(Node *, size_t, Node *, size_t) override { ++open; }
    void moved() override
    {
        --open;
        ++moves;
    }
    void aboutToReset() override { ++open; }
    void reset() override
    {
        --open;
        ++resets;
    }
    void changed(Node *) override { ++changes; }
};

} // namespace

TEST(Outline, FlatOrderCountsCollapsedBranchesAndIndices)
{
    Catalog c;
    build(c, {{0, "A"}, {1, "B"}, {1, "C"}, {2, "D"}, {0, "E"}});
    const Outline &o = c.outline();
    EXPECT_EQ(o.nodeCount(), 5u);
    std::string order;
    for (Node *n = o.first(); n; n = flatNext(n))
        order += cp1251::toUtf8(n->caption());
    EXPECT_EQ(order, "ABCDE");
    std::string back;
    for (Node *n = o.at(4); n; n = flatPrev(n))
        back += cp1251::toUtf8(n->caption());
    EXPECT_EQ(back, "EDCBA");
    EXPECT_EQ(o.at(3)->caption(), "D");
    EXPECT_EQ(o.absoluteIndex(o.at(3)), 3u);
    EXPECT_EQ(o.at(3)->depth(), 2u);
    EXPECT_EQ(o.at(5), nullptr);
}

TEST(Outline, DeepChainIsBuiltMovedCopiedAndDestroyedWithoutRecursion)
{
    constexpr size_t depth = 100000;
    auto c = std::make_unique<Catalog>();
    Node *n = c->outline().append(c->outline().top(), "r");
    for (size_t i = 1; i < depth; ++i)
        n = c->outline().append(n, "n" + std::to_string(i));
    Node *other = c->outline().append(c->outline().top(), "other");
    EXPECT_EQ(c->outline().nodeCount(), depth + 1);
    EXPECT_EQ(branchSize(c->outline().first()), depth);

    std::vector<Bytes> deleted;
    ASSERT_TRUE(c->dragMove(c->outline().first(), other, [&](Node *x) { deleted.push_back(x->caption()); }));
    EXPECT_EQ(deleted.size(), depth);
    EXPECT_EQ(deleted.front(), "n" + std::to_string(depth - 1));
    EXPECT_EQ(deleted.back(), "r"); // the dragged node goes last
    EXPECT_EQ(c->outline().rootCount(), 1u);
    EXPECT_EQ(c->outline().nodeCount(), depth + 1);
    EXPECT_EQ(deepestLast(other)->depth(), depth);
    c.reset(); // must not overflow the stack
}

TEST(Outline, ListenerSeesEveryChangePaired)
{
    Catalog c;
    CountingListener l;
    c.outline().setListener(&l);
    Node *a = c.createNode(nullptr);
    Node *b = c.createChild(a);
    c.createNode(a);
    c.moveUp(b);
    c.setIcon(b, 5);
    c.deleteLeaf(b);
    c.outline().clear();
    EXPECT_EQ(l.open, 0);
    EXPECT_EQ(l.inserts, 3);
    EXPECT_EQ(l.moves, 1);
    EXPECT_EQ(l.removes, 1);
    EXPECT_EQ(l.resets, 1);
    EXPECT_EQ(l.changes, 1);
    c.outline().setListener(nullptr);
}

TEST(RecordTable, FirstMatchRuleForEveryOperation)
{
    RecordTable t;
    t.append("A", "first", "1");
    t.append("a", "lower", "2");
    t.append("A", "second", "3");
    EXPECT_EQ(t.find("A")->text, "first");
    EXPECT_EQ(t.find("a")->text, "lower"); // case-sensitive
    EXPECT_FALSE(t.find("A "));            // no trimming
    EXPECT_EQ(t.count("A"), 2u);

    t.setText("A", "edited");
    t.setIcons("A", "9");
    EXPECT_EQ(t.at(0).text, "edited");
    EXPECT_EQ(t.at(2).text, "second");

    t.rename("A", "B");
    EXPECT_EQ(t.at(0).section, "B");
    EXPECT_EQ(t.find("A")->text, "second");

    // Renaming a later row to a section an earlier row carries keeps table order.
    t.rename("A", "B");
    EXPECT_EQ(t.find("B")->text, "edited");
    t.remove("B");
    EXPECT_EQ(t.size(), 2u);
    EXPECT_EQ(t.find("B")->text, "second");
    EXPECT_EQ(t.at(0).section, "a");
    EXPECT_FALSE(t.remove("missing"));
}

// Random operations, by section and by position, against a plain list
// searched front to back: the index (grown, emptied slots closed up) must
// answer every lookup as the list does.
TEST(RecordTable, IndexAgreesWithALinearScanUnderRandomOperations)
{
    RecordTable t;
    std::vector<NoteRecord> plain;
    auto firstIn = [&](const Bytes &s) {
        return std::find_if(plain.begin(), plain.end(), [&](const NoteRecord &r) { return r.section == s; });
    };
    uint64_t x = 12345;
    auto next = [&x](uint64_t n) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        return (x >> 33) % n;
    };
    for (int step = 0; step < 20000; ++step) {
        const Bytes s = "s" + std::to_string(next(300));
        // Lengths that take one, two and three bytes to note.
        const Bytes text = std::to_string(step) + Bytes(std::array{0, 130, 20000}[next(3)], 'x');
        const size_t row = plain.empty() ? 0 : next(plain.size());
        switch (next(9)) {
        case 0:
        case 1:
            t.append(s, text, "0");
            plain.push_back({s, text, "0"});
            break;
        case 5:
            t.insertAt(row, {s, text, "1"});
            plain.insert(plain.begin() + std::ptrdiff_t(row), {s, text, "1"});
            break;
        case 6:
            if (!plain.empty()) {
                EXPECT_EQ(t.removeAt(row).text, plain[row].text);
                plain.erase(plain.begin() + std::ptrdiff_t(row));
            }
            break;
        case 7:
            // The new section and text may be another record's own bytes.
            if (!plain.empty()) {
                const size_t other = next(plain.size());
                t.renameAt(row, t.at(other).section);
                plain[row].section = plain[other].section;
                if (t.setText(plain[row].section, t.at(other).text))
                    firstIn(plain[row].section)->text = plain[other].text;
            }
            break;
        case 8:
            if (!plain.empty()) {
                ASSERT_EQ(t.indexOf(plain[row].section), size_t(firstIn(plain[row].section) - plain.begin()));
            }
            break;
        case 2:
            if (auto it = firstIn(s); it != plain.end())
                plain.erase(it);
            t.remove(s);
            break;
        case 3: {
            const Bytes to = "s" + std::to_string(next(300));
            (void)row;
            if (auto it = firstIn(s); it != plain.end())
                it->section = to;
            t.rename(s, to);
            break;
        }
        default:
            if (auto it = firstIn(s); it != plain.end())
                it->text = text;
            t.setText(s, text);
        }
        const Bytes probe = "s" + std::to_string(next(300));
        const auto it = firstIn(probe);
        const std::optional<RecordView> found = t.find(probe);
        ASSERT_EQ(found.has_value(), it != plain.end()) << step;
        if (found) {
            ASSERT_EQ(found->text, it->text) << step;
        }
        ASSERT_EQ(t.count(probe), size_t(std::count_if(plain.begin(), plain.end(), [&](const NoteRecord &r) {
                      return r.section == probe;
                  })));
    }
    ASSERT_EQ(t.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        ASSERT_EQ(t.at(i).section, plain[i].section) << i;
        ASSERT_EQ(t.at(i).text, plain[i].text) << i;
    }
}

TEST(CaptionCounts, AgreeWithAPlainMapUnderRandomOperations)
{
    // Short captions stay apart; long ones (some with a two-byte length)
    // fill the byte store so that the removed ones are compacted away while
    // others are still counted.
    CaptionCounts counts;
    counts.reserve(8, 16);
    std::map<Bytes, size_t> plain;
    uint64_t x = 777;
    auto next = [&x](uint64_t n) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        return (x >> 33) % n;
    };
    auto caption = [&] {
        const uint64_t k = next(400);
        return k % 2 ? "c" + std::to_string(k)
                     : std::string((k % 3 ? 40 : 130) + k % 7, char('a' + k % 26)) + std::to_string(k);
    };
    for (int step = 0; step < 30000; ++step) {
        const Bytes c = caption();
        // Phases of mostly adding and mostly removing.
        if (next(5) < ((step / 2000) % 2 ? 1u : 4u)) {
            counts.add(c);
            ++plain[c];
        } else {
            counts.remove(c);
            if (auto it = plain.find(c); it != plain.end() && --it->second == 0)
                plain.erase(it);
        }
        const Bytes probe = caption();
        const auto it = plain.find(probe);
        ASSERT_EQ(counts.count(probe), it == plain.end() ? 0 : it->second) << step;
        ASSERT_EQ(counts.size(), plain.size()) << step;
    }
    for (const auto &[c, n] : plain)
        ASSERT_EQ(counts.count(c), n);
}

TEST(Join, LineBreaksAndTildes)
{
    Catalog c;
    build(c, {{0, "A"}});
    Node *a = c.outline().first();
    c.storeNote(a, "a\r\nb");
    EXPECT_EQ(c.records().find("A")->text, "a~~b");
    EXPECT_EQ(*c.noteForEditor("A"), "a\r\nb");
    c.storeNote(a, "a~~b\rc\nd"); // lone CR and LF are kept
    EXPECT_EQ(*c.noteForEditor("A"), "a\r\nb\rc\nd");
    c.records().setText("A", "a~~~b");
    EXPECT_EQ(*c.noteForEditor("A"), "a\r\n~b");
    c.storeNote(a, "");
    EXPECT_EQ(c.records().find("A")->text, "");
    EXPECT_FALSE(c.noteForEditor("missing").has_value());
}

TEST(Join, NodeWithoutRecordGetsOneAtFirstEditOrIcon)
{
    Catalog c;
    build(c, {{0, "A"}, {0, "B"}}, false);
    c.storeNote(c.outline().at(0), "typed\r\ntext");
    ASSERT_TRUE(c.records().find("A"));
    EXPECT_EQ(c.records().find("A")->text, "typed~~text");
    EXPECT_EQ(c.records().find("A")->icons, "0");
    c.setIcon(c.outline().at(1), 12);
    ASSERT_TRUE(c.records().find("B"));
    EXPECT_EQ(c.records().find("B")->icons, "12");
    EXPECT_EQ(c.records().size(), 2u);
}

TEST(Commands, CreateNodeAndChildCaptionsPlacesAndRecords)
{
    Catalog c;
    Node *first = c.createNode(nullptr);
    EXPECT_EQ(first->caption(), W("Новый элемент 0"));
    EXPECT_TRUE(c.modified());
    ASSERT_EQ(c.records().size(), 1u);
    EXPECT_EQ(c.records().at(0).section, W("Новый элемент 0"));
    EXPECT_EQ(c.records().at(0).text, "");
    EXPECT_EQ(c.records().at(0).icons, "0");

    Node *second = c.createNode(nullptr); // nothing selected: last root
    c.createNode(nullptr);
    Node *between = c.createNode(second); // before the selected one
    EXPECT_EQ(shape(c.outline()), "Новый элемент 0,Новый элемент 3,Новый элемент 1,Новый элемент 2");
    EXPECT_EQ(between->caption(), W("Новый элемент 3"));

    Node *child = c.createChild(second);
    Node *child2 = c.createChild(second);
    EXPECT_EQ(child->parent(), second);
    EXPECT_EQ(second->lastChild(), child2);
    EXPECT_EQ(c.createChild(nullptr), nullptr);
    Node *firstChildSibling = c.createNode(child);
    EXPECT_EQ(second->firstChild(), firstChildSibling);
    EXPECT_EQ(c.records().size(), c.outline().nodeCount());
}

TEST(Commands, DefaultCaptionSkipsCaptionsInUse)
{
    Catalog c;
    c.createNode(nullptr);
    Node *one = c.createNode(nullptr);
    c.createNode(nullptr);
    c.deleteLeaf(one); // leaves 0 and 2; the count is 2 again
    Node *n = c.createNode(nullptr);
    EXPECT_EQ(n->caption(), W("Новый элемент 3"));
    // A record without a node blocks its caption too.
    c.records().append(W("Новый элемент 4"), "", "0");
    EXPECT_EQ(c.defaultCaption(), W("Новый элемент 5"));
}

TEST(Commands, DeleteLeafRemovesFirstRecordOnly)
{
    Catalog c;
    build(c, {{0, "A"}, {1, "B"}});
    c.records().append("B", "dup", "0");
    c.clearChanged();
    c.deleteLeaf(c.outline().first()); // has children: refused here too
    EXPECT_EQ(c.outline().nodeCount(), 2u);
    EXPECT_FALSE(c.modified());
    c.deleteLeaf(c.outline().at(1));
    EXPECT_EQ(shape(c.outline()), "A");
    EXPECT_EQ(c.records().find("B")->text, "dup");
    EXPECT_TRUE(c.modified());
}

struct RenameCase {
    const char *name;
    std::string text;
    size_t messages;
    bool invalid;
    bool renamed;
};

class Rename : public ::testing::TestWithParam<RenameCase> {};

TEST_P(Rename, DuplicateAndStorabilityRules)
{
    const RenameCase &rc = GetParam();
    Catalog c;
    build(c, {{0, "A"}, {0, "B"}});
    build(c, {{0, "Orphan"}, {0, ""}}, false);
    c.records().append("Ghost", "", "0");
    c.records().append("Ghost", "", "0");
    c.clearChanged();
    Node *a = c.outline().first();
    auto r = c.rename(a, "A", W(rc.text));
    EXPECT_EQ(r.duplicateMessages, rc.messages);
    EXPECT_EQ(r.invalidCaption, rc.invalid);
    EXPECT_EQ(r.renamed, rc.renamed);
    EXPECT_EQ(c.modified(), rc.renamed);
    if (rc.renamed) {
        EXPECT_EQ(a->caption(), W(rc.text));
        EXPECT_EQ(c.records().at(0).section, W(rc.text));
        EXPECT_EQ(c.outline().captionCount("A"), 0u);
    } else {
        EXPECT_EQ(a->caption(), "A");
        EXPECT_EQ(c.records().at(0).section, "A");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Rename,
                         ::testing::Values(RenameCase{"accepted", "Новое имя", 0, false, true},
                                           RenameCase{"trailingBlankKept", "A ", 0, false, true},
                                           RenameCase{"otherNodesCaption", "B", 1, false, false},
                                           RenameCase{"unchangedShowsOwnRecord", "A", 1, false, false},
                                           RenameCase{"oneMessagePerRecord", "Ghost", 2, false, false},
                                           RenameCase{"nodeWithoutRecordCounts", "Orphan", 1, false, false},
                                           RenameCase{"emptyRefusedSilently", "", 0, false, false},
                                           RenameCase{"leadingBlank", " A2", 0, true, false},
                                           RenameCase{"leadingTab", "\tA2", 0, true, false},
                                           RenameCase{"lineBreak", "A\r\nB2", 0, true, false},
                                           RenameCase{"endOfDataMark", "A\x1a", 0, true, false},
                                           RenameCase{"lowerCaseIsDifferent", "a", 0, false, true}),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(Rename, NodeWithoutRecordStillGetsTheCaption)
{
    Catalog c;
    build(c, {{0, "A"}}, false);
    auto r = c.rename(c.outline().first(), "A", "Z");
    EXPECT_TRUE(r.renamed);
    EXPECT_EQ(c.outline().first()->caption(), "Z");
    EXPECT_EQ(c.records().size(), 0u);
}

// The caption index follows a rename: the new caption counts (a default
// caption or a second rename cannot take it, so no two nodes share a note),
// the old one is free again.
TEST(Rename, CaptionIndexFollowsTheNewCaption)
{
    Catalog c;
    build(c, {{0, "A"}, {0, "B"}}, false);
    const Bytes taken = W("Новый элемент 2");
    ASSERT_TRUE(c.rename(c.outline().first(), "A", taken).renamed);
    EXPECT_EQ(c.outline().captionCount(taken), 1u);
    EXPECT_EQ(c.outline().captionCount("A"), 0u);
    EXPECT_NE(c.defaultCaption(), taken);
    EXPECT_EQ(c.rename(c.outline().at(1), "B", taken).duplicateMessages, 1u);
    EXPECT_TRUE(c.rename(c.outline().at(1), "B", "A").renamed);
}

struct MoveCase {
    const char *name;
    std::vector<std::pair<int, std::string>> outline;
    std::string selected;
    bool up;
    std::string expected;
};

class Moves : public ::testing::TestWithParam<MoveCase> {};

TEST_P(Moves, FlatOrderMovesChangeLevels)
{
    const MoveCase &mc = GetParam();
    Catalog c;
    build(c, mc.outline);
    Node *sel = nullptr;
    for (Node *n = c.outline().first(); n; n = flatNext(n))
        if (n->caption() == mc.selected)
            sel = n;
    ASSERT_NE(sel, nullptr);
    const bool moved = mc.up ? c.moveUp(sel) : c.moveDown(sel);
    EXPECT_EQ(shape(c.outline()), mc.expected);
    EXPECT_EQ(moved, c.modified());
    EXPECT_EQ(c.records().size(), c.outline().nodeCount());
    if (moved) {
        EXPECT_EQ(sel->caption(), mc.selected); // the same node, still valid
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Moves,
    ::testing::Values(
        MoveCase{"upSwapsLeafSiblings", {{0, "A"}, {0, "B"}, {0, "C"}}, "C", true, "A,C,B"},
        MoveCase{"upFirstChildBecomesParentsPrevSibling",
                 {{0, "A"}, {0, "R"}, {1, "X"}, {1, "Y"}},
                 "X",
                 true,
                 "A,X,R(Y)"},
        MoveCase{"upIntoBranchBesideDeepestLast",
                 {{0, "R"}, {1, "X"}, {2, "D"}, {0, "N"}},
                 "N",
                 true,
                 "R(X(N,D))"},
        MoveCase{"upNodeZeroStays", {{0, "A"}, {0, "B"}}, "A", true, "A,B"},
        MoveCase{"upNodeWithChildrenStays", {{0, "A"}, {0, "B"}, {1, "C"}}, "B", true, "A,B(C)"},
        MoveCase{"downSwapsLeafSiblings", {{0, "A"}, {0, "B"}, {0, "C"}}, "A", false, "B,A,C"},
        MoveCase{"downIntoFollowingBranch", {{0, "A"}, {0, "B"}, {1, "C"}}, "A", false, "B(A,C)"},
        MoveCase{"downNextToLastChildBecomesLastRoot", {{0, "R"}, {1, "X"}, {1, "Y"}}, "X", false, "R(Y),X"},
        MoveCase{"downOutOfBranchBeforeNextRoot",
                 {{0, "R"}, {1, "X"}, {1, "Y"}, {0, "S"}, {0, "T"}},
                 "X",
                 false,
                 "R(Y),X,S,T"},
        MoveCase{"downLastNodeStays", {{0, "A"}, {1, "B"}}, "B", false, "A(B)"},
        MoveCase{"downNodeWithChildrenStays", {{0, "A"}, {1, "B"}, {0, "C"}}, "A", false, "A(B),C"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(Commands, SetIconStoresDecimalInFirstRecord)
{
    Catalog c;
    build(c, {{0, "A"}});
    c.records().append("A", "dup", "3");
    c.clearChanged();
    c.setIcon(nullptr, 4);
    EXPECT_FALSE(c.modified());
    c.setIcon(c.outline().first(), 0);
    c.setIcon(c.outline().first(), 79);
    EXPECT_EQ(c.outline().first()->imageIndex(), 79);
    EXPECT_EQ(c.outline().first()->selectedImageIndex(), 79);
    EXPECT_EQ(c.records().at(0).icons, "79");
    EXPECT_EQ(c.records().at(1).icons, "3");
    EXPECT_TRUE(c.modified());
}

TEST(DragMove, BranchBecomesLastChildWithIconsDeepestFirstDeletion)
{
    Catalog c;
    build(c, {{0, "D"}, {1, "C1"}, {2, "E"}, {1, "C2"}, {0, "T"}, {1, "old"}});
    c.outline().setImages(c.outline().at(2), 42);
    c.clearChanged();
    std::vector<std::string> deleted;
    Node *copy = nullptr;
    ASSERT_TRUE(c.dragMove(
        c.outline().first(), c.outline().at(4),
        [&](Node *n) { deleted.push_back(cp1251::toUtf8(n->caption())); }, &copy));
    EXPECT_EQ(deleted, (std::vector<std::string>{"C2", "E", "C1", "D"}));
    EXPECT_EQ(shape(c.outline()), "T(old,D(C1(E),C2))");
    EXPECT_EQ(copy->caption(), "D");
    EXPECT_EQ(c.outline().at(4)->imageIndex(), 42);
    EXPECT_EQ(c.outline().nodeCount(), 6u);
    EXPECT_EQ(c.outline().captionCount("D"), 1u);
    EXPECT_FALSE(c.modified());
    EXPECT_EQ(c.records().size(), 6u);
}

TEST(DragMove, OntoOwnParentMovesBehindSiblingsAndIntoOwnBranchIsRefused)
{
    Catalog c;
    build(c, {{0, "P"}, {1, "A"}, {2, "A1"}, {1, "B"}});
    Node *a = c.outline().at(1);
    EXPECT_FALSE(c.dragMove(a, a));
    EXPECT_FALSE(c.dragMove(a, c.outline().at(2))); // inside its own branch
    EXPECT_EQ(shape(c.outline()), "P(A(A1),B)");
    EXPECT_TRUE(c.dragMove(a, c.outline().first()));
    EXPECT_EQ(shape(c.outline()), "P(B,A(A1))");
}

// "data.dat": bytes of an outline, the line and level rules of the reader,
// the file operations and very deep outlines.
#include "catalog/Errors.h"
#include "catalog/Outline.h"
#include "storage/FileIo.h"
#include "storage/OutlineFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace qv;
using qvtest::TempDir;

namespace {

// The outline as "caption|.child|..grandchild|root2": one entry per node in
// flat order, a dot per level. Depth comes from the parent chain, so this
// does not share the writer's depth bookkeeping.
std::string shape(const Outline &o)
{
    std::string out;
    bool first = true;
    for (const Node *n = o.first(); n; n = flatNext(n)) {
        if (!first)
            out += '|';
        first = false;
        size_t depth = 0;
        for (const Node *p = n->parent(); p && !p->isTop(); p = p->parent())
            ++depth;
        out += std::string(depth, '.') + n->caption();
    }
    return out;
}

// Builds an outline from the same "A|.B" notation (no empty captions).
void build(Outline &o, const std::vector<std::string> &lines)
{
    std::vector<Node *> chain;
    for (const std::string &l : lines) {
        size_t depth = l.find_first_not_of('.');
        chain.resize(depth);
        Node *parent = depth == 0 ? o.top() : chain.back();
        chain.push_back(o.append(parent, l.substr(depth)));
    }
}

bool allIconsZero(const Outline &o)
{
    for (const Node *n = o.first(); n; n = flatNext(n))
        if (n->imageIndex() != 0 || n->selectedImageIndex() != 0)
            return false;
    return true;
}

struct ParseCase {
    const char *name;
    std::string bytes;
    std::string shape;
    std::string error; // UTF-8 message, empty when the read succeeds
};

void PrintTo(const ParseCase &c, std::ostream *os) { *os << c.name; }

class OutlineParse : public ::testing::TestWithParam<ParseCase> {};

const std::string kExample19("A\r\n\tB\r\n\tC\r\n\t\tD\r\nE\r\n", 19);

} // namespace

TEST_P(OutlineParse, GivesShapeOrLevelError)
{
    const ParseCase &c = GetParam();
    Outline o;
    o.append(o.top(), "old"); // replaced by whatever the bytes hold
    std::string error;
    try {
        parseOutline(c.bytes, o);
    } catch (const EOutlineLevelError &e) {
        error = cp1251::toUtf8(e.message());
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(shape(o), c.shape);
    EXPECT_EQ(o.nodeCount(),
              c.shape.empty() ? 0 : size_t(std::count(c.shape.begin(), c.shape.end(), '|') + 1));
    EXPECT_TRUE(allIconsZero(o));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, OutlineParse,
    ::testing::Values(
        ParseCase{"Empty", "", "", ""}, ParseCase{"SingleRoot", "A\r\n", "A", ""},
        ParseCase{"Example19", kExample19, "A|.B|.C|..D|E", ""},
        ParseCase{"LfOnly", "A\n\tB\n\tC\n\t\tD\nE\n", "A|.B|.C|..D|E", ""},
        ParseCase{"CrOnly", "A\r\tB\r\tC\r\t\tD\rE\r", "A|.B|.C|..D|E", ""},
        ParseCase{"NoFinalLineEnd", "A\r\n\tB", "A|.B", ""},
        ParseCase{"BlankLineIsRootAfterLastRoot", "A\r\n\tB\r\n\r\n\tC\r\n", "A|.B||.C", ""},
        ParseCase{"TabsOnlyIsEmptyChild", "A\r\n\t\r\n", "A|.", ""},
        ParseCase{"BlanksOnlyLevelError", "A\r\n  \r\n", "A", "Неверный уровень (2) для элемента \"\""},
        ParseCase{"LevelError", "A\r\n\t\tB\r\nC\r\n", "A", "Неверный уровень (2) для элемента \"B\""},
        ParseCase{"LevelErrorDeeper", "A\r\nB\r\n\tC\r\n\t\tD\r\n\t\t\t\tE\r\nF\r\n", "A|B|.C|..D",
                  "Неверный уровень (4) для элемента \"E\""},
        ParseCase{"IndentedFirstLineIsRoot", "\t\tA\r\nB\r\n\tC\r\n", "A|B|.C", ""},
        ParseCase{"BackTwoLevels", "A\r\n\tB\r\n\t\tC\r\nD\r\n", "A|.B|..C|D", ""},
        ParseCase{"BackToMiddle", "A\r\n\tB\r\n\t\tC\r\n\t\t\tD\r\n\tE\r\n", "A|.B|..C|...D|.E", ""},
        ParseCase{"BlankCountsAsLevel", "X\r\n A\r\n", "X|.A", ""},
        ParseCase{"MixedTabsAndBlanks", "X\r\n\tY\r\n \tZ\r\n\t W\r\n", "X|.Y|..Z|..W", ""},
        ParseCase{"CrCrLf", "A\r\r\nB", "A||B", ""}, ParseCase{"LfCr", "A\n\rB", "A||B", ""},
        ParseCase{"NulEndsText", std::string("A\r\nB\0C\r\nD\r\n", 11), "A|B", ""},
        ParseCase{"LeadingNul", std::string("\0A\r\n", 4), "", ""},
        ParseCase{"InnerTabsAndBlanksBelong", "A B\t C \r\n", "A B\t C ", ""},
        ParseCase{"SubIsCaptionByte",
                  "A\x1A"
                  "B\r\nC\r\n",
                  "A\x1A"
                  "B|C",
                  ""},
        ParseCase{"Cyrillic", "\xC0\xE1\xE2\r\n\t\xA8\xB8\r\n", "\xC0\xE1\xE2|.\xA8\xB8", ""}));

namespace {

struct OutlineWriteCase {
    const char *name;
    std::vector<std::string> outline;
    std::string bytes;
};

void PrintTo(const OutlineWriteCase &c, std::ostream *os) { *os << c.name; }

class OutlineWrite : public ::testing::TestWithParam<OutlineWriteCase> {};

} // namespace

TEST_P(OutlineWrite, ExactBytesAndBack)
{
    const OutlineWriteCase &c = GetParam();
    Outline o;
    build(o, c.outline);
    const Bytes bytes = outlineBytes(o);
    EXPECT_EQ(bytes, c.bytes);
    Outline back;
    parseOutline(bytes, back);
    EXPECT_EQ(shape(back), shape(o));
}

INSTANTIATE_TEST_SUITE_P(
    Outlines, OutlineWrite,
    ::testing::Values(OutlineWriteCase{"Empty", {}, ""}, OutlineWriteCase{"SingleRoot", {"A"}, "A\r\n"},
                      OutlineWriteCase{"Example19", {"A", ".B", ".C", "..D", "E"}, kExample19},
                      OutlineWriteCase{"DeepThenRoot",
                                       {"A", ".B", "..C", "...D", "E", ".F"},
                                       "A\r\n\tB\r\n\t\tC\r\n\t\t\tD\r\nE\r\n\tF\r\n"},
                      OutlineWriteCase{
                          "UpOneLevel", {"A", ".B", "..C", ".D"}, "A\r\n\tB\r\n\t\tC\r\n\tD\r\n"},
                      OutlineWriteCase{"TrailingBlanksAndCyrillic",
                                       {"a  ",
                                        ".\xD1\xEB\xEE\xE2\xEE \xB9"
                                        "1 "},
                                       "a  \r\n\t\xD1\xEB\xEE\xE2\xEE \xB9"
                                       "1 \r\n"}));

TEST(OutlineWrite, UnstorableCaptionBytesBecomeQuestionMarks)
{
    Outline o;
    o.append(o.top(),
             std::string("a\rb\nc\0d\x1A"
                         "e",
                         9));
    EXPECT_EQ(outlineBytes(o), "a?b?c?d?e\r\n");
}

// ---- files ----

TEST(OutlineFile, WriteThenReadThroughDisk)
{
    TempDir dir;
    const std::string path = dir.file("data.dat");
    Outline o;
    build(o, {"A", ".B", ".C", "..D", "E"});
    writeOutlineFile(path, o);
    EXPECT_EQ(qvtest::readFile(path), kExample19);

    Outline back;
    back.append(back.top(), "stale");
    readOutlineFile(path, back);
    EXPECT_EQ(shape(back), "A|.B|.C|..D|E");

    // An empty outline empties the file.
    Outline none;
    writeOutlineFile(path, none);
    EXPECT_EQ(qvtest::readFile(path), "");
    readOutlineFile(path, back);
    EXPECT_TRUE(back.empty());
}

TEST(OutlineFile, MissingFileLeavesOutlineUnchanged)
{
    TempDir dir;
    const std::string path = dir.file("data.dat");
    Outline o;
    o.append(o.top(), "keep");
    try {
        readOutlineFile(path, o);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(), W("Не могу открыть файл ") + path);
    }
    EXPECT_EQ(shape(o), "keep");
}

TEST(OutlineFile, UncreatableFileRaisesCreateError)
{
    TempDir dir;
    const std::string path = dir.file("no-such-dir/data.dat");
    Outline o;
    o.append(o.top(), "A");
    try {
        writeOutlineFile(path, o);
        FAIL() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(e.message(), W("Не могу создать файл ") + path);
    }
}

// ---- depth ----

namespace {

// Runs f on a thread with a small stack, so anything recursing once per
// level of a deep outline overflows it instead of passing by luck.
void onSmallStack(const std::function<void()> &f)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    auto trampoline = [](void *arg) -> void * {
        (*static_cast<const std::function<void()> *>(arg))();
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()> *>(&f)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

} // namespace

// A chain's file grows with the square of its depth (each line carries its
// depth in TABs), so the chain is kept to 10,000 levels: about 50 MB.
TEST(OutlineDepth, DeepChainParsesAndWritesWithoutRecursion)
{
    constexpr size_t kDepth = 10000;
    Bytes bytes;
    bytes.reserve(kDepth * (kDepth + 1) / 2 + kDepth * 4 + 16);
    for (size_t d = 0; d < kDepth; ++d) {
        bytes.append(d, '\t');
        bytes += 'n';
        bytes += "\r\n";
    }
    bytes += "tail\r\n"; // back to level 0 from the bottom at once

    size_t count = 0, lastDepth = 0;
    bool same = false;
    onSmallStack([&] {
        Outline o;
        parseOutline(bytes, o);
        count = o.nodeCount();
        lastDepth = deepestLast(o.first())->depth();
        same = outlineBytes(o) == bytes;
    });
    EXPECT_EQ(count, kDepth + 1);
    EXPECT_EQ(lastDepth, kDepth - 1);
    EXPECT_TRUE(same);
}

TEST(OutlineDepth, WideAndDeepMixRoundTrips)
{
    // 100,000 nodes: runs of descending chains with jumps back up.
    Bytes bytes;
    size_t depth = 0;
    for (size_t i = 0; i < 100000; ++i) {
        bytes.append(depth, '\t');
        bytes += "c" + std::to_string(i) + "\r\n";
        depth = (i % 97 == 96) ? std::min(i % 5, depth + 1) : (depth + 1 > 60 ? 3 : depth + 1);
    }
    Outline o;
    parseOutline(bytes, o);
    EXPECT_EQ(o.nodeCount(), 100000u);
    EXPECT_EQ(outlineBytes(o), bytes);
}

// Finding text: the matching rules as data (letter case, "ё", the record's
// line-break pair, bytes outside the alphabet, text boundaries), the line
// numbers of note hits and the narrowing search.
#include "catalog/Catalog.h"
#include "catalog/Search.h"
#include "catalog/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

using namespace qv;

namespace {

// A catalogue of roots given as (caption, note in record form) in UTF-8.
struct Texts {
    std::vector<std::pair<std::string, std::string>> nodes;
};

void fill(Catalog &catalog, const Texts &texts)
{
    for (const auto &[caption, note] : texts.nodes) {
        catalog.outline().append(catalog.outline().top(), W(caption));
        catalog.records().append(W(caption), W(note), "0");
    }
}

std::vector<std::string> captions(const std::vector<const Node *> &nodes)
{
    std::vector<std::string> out;
    for (const Node *n : nodes)
        out.push_back(cp1251::toUtf8(n->caption()));
    return out;
}

struct MatchCase {
    const char *name;
    std::string text;  // a note, in record form
    std::string query; // in UTF-8
    bool found;
};
void PrintTo(const MatchCase &c, std::ostream *os) { *os << c.name; }

class SearchMatch : public ::testing::TestWithParam<MatchCase> {};

// The same rule for a caption (without its line breaks) and a note.
TEST_P(SearchMatch, InNoteAndCaption)
{
    const MatchCase &c = GetParam();
    Catalog catalog;
    fill(catalog, {{{"node", c.text}}});
    SearchIndex index;
    index.build(catalog);
    EXPECT_EQ(index.findNodes(W(c.query)).size(), c.found ? 1u : 0u);
    EXPECT_EQ(index.find(W(c.query)).size(), c.found ? 1u : 0u);
    if (c.text.find("~~") != std::string::npos)
        return;
    Catalog byCaption;
    fill(byCaption, {{{c.text, ""}}});
    index.build(byCaption);
    const auto hits = index.find(W(c.query));
    ASSERT_EQ(hits.size(), c.found ? 1u : 0u);
    if (c.found) {
        EXPECT_TRUE(hits[0].inCaption && hits[0].noteLines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SearchMatch,
    ::testing::Values(
        MatchCase{"LatinUpperByLower", "Hello World", "wORLD", true},
        MatchCase{"CyrillicUpperByLower", "ПРИВЕТ мир", "привет МИР", true},
        MatchCase{"CyrillicOutsideRussian", "Ґ Є І Ї Ў Ђ Љ", "ґ є і ї ў ђ љ", true},
        MatchCase{"YoByYe", "Ёлка ёж", "елка еж", true}, MatchCase{"YeByYo", "Елка еж", "ЁЛКА Ёж", true},
        MatchCase{"YeIsNotE", "елка", "элка", false},
        MatchCase{"NoPartialLatinCyrillicAlias", "cop", "сор", false}, // Latin vs Cyrillic look-alikes
        MatchCase{"OtherBytesAsThemselves", "«№ 5» — €", "«№ 5» — €", true},
        MatchCase{"DashIsNotHyphen", "a—b", "a-b", false},
        MatchCase{"LineBreakPairIsNoTildes", "a~~b", "~", false},
        MatchCase{"LineBreakPairSplitsWords", "ab~~cd", "bc", false},
        MatchCase{"LoneTilde", "a~b", "a~b", true}, MatchCase{"TildeAfterPair", "a~~~b", "~b", true},
        MatchCase{"EmptyQuery", "abc", "", false}, MatchCase{"QueryLongerThanText", "abc", "abcd", false}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(Search, FoldsEveryByteLikeTheCaseCommandsExceptYo)
{
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const char expected = i == 0xA8 || i == 0xB8 ? static_cast<char>(0xE5) : cp1251::toLower(c);
        EXPECT_EQ(foldForSearch(std::string(1, c)), std::string(1, expected)) << i;
    }
}

// A query never spans two nodes, nor a caption and its note; each node comes
// once, in flat order, with the lines of its note that hold the query.
TEST(Search, NodesInFlatOrderWithCaptionAndNoteLines)
{
    Catalog catalog;
    Outline &o = catalog.outline();
    Node *a = o.append(o.top(), W("Альфа"));
    o.append(a, W("ab"));
    Node *b = o.append(o.top(), W("cd"));
    o.append(b, W("без записи"));
    catalog.records().append(W("Альфа"), W("x~~Ёж ёж~~~~y ЕЖ~~ёж"), "0");
    catalog.records().append(W("ab"), W("cd"), "0");
    catalog.records().append(W("Альфа"), W("ёж, the hidden record"), "0");
    catalog.records().append(W("cd"), W(""), "0");
    SearchIndex index;
    EXPECT_TRUE(index.empty());
    index.build(catalog);
    EXPECT_FALSE(index.empty());

    const auto hits = index.find(W("ЕЖ"));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].node, a);
    EXPECT_FALSE(hits[0].inCaption);
    EXPECT_EQ(hits[0].noteLines, (std::vector<uint32_t>{2, 4, 5}));

    EXPECT_TRUE(index.find("bc").empty());     // "ab" caption, "cd" note
    EXPECT_TRUE(index.find("dc").empty());     // "cd" note, "cd" caption of the next
    EXPECT_TRUE(index.find("hidden").empty()); // the second record is not the node's
    EXPECT_EQ(captions(index.findNodes("d")), (std::vector<std::string>{"ab", "cd"}));
    EXPECT_EQ(captions(index.findNodes(W("а"))), (std::vector<std::string>{"Альфа", "без записи"}));
    EXPECT_TRUE(index.findNodes(std::string("a\0b", 3)).empty());

    const auto both = index.find("cd");
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(!both[0].inCaption && both[0].noteLines == std::vector<uint32_t>{1});
    EXPECT_TRUE(both[1].inCaption && both[1].noteLines.empty());
}

// Narrowing looks only at `among`, keeps flat order, and skips a node the
// index does not hold.
TEST(Search, NarrowingSearchesOnlyAmong)
{
    Catalog catalog;
    fill(catalog, {{{"n1", "apple"}, {"n2", "apricot"}, {"n3", "grape"}, {"n4", "ape"}, {"n5", "apex"}}});
    SearchIndex index;
    index.build(catalog);
    const std::vector<const Node *> ap = index.findNodes("ap");
    ASSERT_EQ(captions(ap), (std::vector<std::string>{"n1", "n2", "n3", "n4", "n5"}));
    const Node stranger(Bytes("n9"));
    const std::vector<const Node *> among{ap[0], ap[1], &stranger, ap[3], ap[4]};
    EXPECT_EQ(captions(index.findNodes("ape", among)), (std::vector<std::string>{"n4", "n5"}));
    EXPECT_EQ(captions(index.findNodes("ap", among)), (std::vector<std::string>{"n1", "n2", "n4", "n5"}));
    EXPECT_TRUE(index.findNodes("ap", {}).empty());
    EXPECT_TRUE(index.findNodes("", among).empty());
}

} // namespace

namespace {

// The query found at every place of texts longer than the sixteen bytes
// tried at once, and not one byte beyond them.
TEST(Search, EveryPlaceInLongTexts)
{
    for (const std::string query : {"q", "qz", "qxz", "qxyxyxyxyxyxyxyxyxyz"}) {
        for (size_t at = 0; at + query.size() <= 70; ++at) {
            Catalog catalog;
            std::string text(70, '.');
            text.replace(at, query.size(), query);
            fill(catalog,
                 {{{"before", std::string(40, '.') + query.substr(0, query.size() - 1)},
                   {"node", text},
                   {"after", query.substr(1) + std::string(40, '.')}}});
            SearchIndex index;
            index.build(catalog);
            EXPECT_EQ(captions(index.findNodes(query)), std::vector<std::string>{"node"}) << query << at;
        }
    }
}

} // namespace

namespace {

// An edited note or a new caption is taken in node by node: found by its new
// text only, in its place in flat order, with its lines and when narrowing.
TEST(Search, UpdatedNodeIsFoundByItsNewTextInItsPlace)
{
    Catalog catalog;
    fill(catalog, {{{"n1", "old"}, {"n2", "old~~old"}, {"n3", "old"}}});
    SearchIndex index;
    index.build(catalog);
    const std::vector<const Node *> all = index.findNodes("n");
    Node *n2 = catalog.outline().root(1);
    Node *n3 = catalog.outline().root(2);
    ASSERT_TRUE(catalog.setRecordText(n2, W("x~~Новый")));
    EXPECT_TRUE(index.update(catalog, n2));
    ASSERT_TRUE(catalog.rename(n3, "n3", "m3").renamed);
    EXPECT_TRUE(index.update(catalog, n3));

    EXPECT_EQ(captions(index.findNodes("old")), (std::vector<std::string>{"n1", "m3"}));
    EXPECT_EQ(captions(index.findNodes("n")), (std::vector<std::string>{"n1", "n2"}));
    EXPECT_EQ(captions(index.findNodes("3")), (std::vector<std::string>{"m3"}));
    const auto hits = index.find(W("новый"));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].node, n2);
    EXPECT_EQ(hits[0].noteLines, std::vector<uint32_t>{2});
    const auto old = index.find("old");
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(old[1].node, n3);
    EXPECT_EQ(old[1].noteLines, std::vector<uint32_t>{1});
    EXPECT_EQ(captions(index.findNodes(W("нов"), all)), std::vector<std::string>{"n2"});
    EXPECT_TRUE(index.findNodes(W("нов"), {all[0], all[2]}).empty());
    EXPECT_EQ(captions(index.findNodes("o", all)), (std::vector<std::string>{"n1", "m3"}));

    const Node stranger(Bytes("n2"));
    EXPECT_FALSE(index.update(catalog, &stranger));
    index.build(catalog);
    EXPECT_EQ(captions(index.findNodes("n")), (std::vector<std::string>{"n1", "n2"}));
}

} // namespace

namespace {

// The plain reading of the matching rules: both texts folded whole, a
// note's "~~" read left to right as line breaks, the query looked up.
bool plainlyHolds(const Node *node, const Catalog &catalog, const Bytes &query)
{
    const Bytes needle = foldForSearch(query);
    if (foldForSearch(node->caption()).find(needle) != Bytes::npos)
        return true;
    const std::optional<RecordView> r = catalog.records().find(node->caption());
    if (!r)
        return false;
    Bytes note;
    for (size_t i = 0; i < r->text.size(); ++i) {
        const bool pair = r->text[i] == '~' && i + 1 < r->text.size() && r->text[i + 1] == '~';
        note += pair ? '\n' : r->text[i];
        i += pair;
    }
    return foldForSearch(note).find(needle) != Bytes::npos;
}

struct RandomCase {
    const char *name;
    size_t nodes; // more than a few thousand splits the search over two threads
    uint32_t seed;
};
void PrintTo(const RandomCase &c, std::ostream *os) { *os << c.name; }

class SearchAgrees : public ::testing::TestWithParam<RandomCase> {};

// On random texts of a small alphabet (both cases, Cyrillic, "ё"/"е", tildes,
// line breaks) in records stored out of the nodes' order, some shared by
// captions and some missing, every query finds what the plain reading finds,
// fresh and narrowing.
TEST_P(SearchAgrees, WithThePlainReading)
{
    const RandomCase &c = GetParam();
    std::mt19937 random(c.seed);
    const std::string alphabet = W("aAbBёЁеЕжЖ~\n .");
    const auto text = [&](size_t most) {
        Bytes t(random() % (most + 1), ' ');
        for (char &ch : t)
            ch = alphabet[random() % alphabet.size()];
        return t;
    };
    Catalog catalog;
    Outline &o = catalog.outline();
    std::vector<Bytes> captions;
    for (size_t i = 0; i < c.nodes; ++i) {
        Node *parent = i && random() % 2 ? o.at(random() % i) : o.top();
        captions.push_back(random() % 8 == 0 && i ? captions[random() % i]
                                                  : text(6) + std::to_string(i % 50));
        o.append(parent, captions.back());
    }
    std::shuffle(captions.begin(), captions.end(), random);
    for (const Bytes &caption : captions)
        if (random() % 10)
            catalog.records().append(caption, text(70), "0");
    SearchIndex index;
    index.build(catalog);
    for (int q = 0; q < 60; ++q) {
        const Bytes query = text(q < 40 ? 3 : 8);
        std::vector<const Node *> expected;
        for (const Node *n = o.first(); n; n = flatNext(n))
            if (!query.empty() && plainlyHolds(n, catalog, query))
                expected.push_back(n);
        const std::vector<const Node *> found = index.findNodes(query);
        ASSERT_EQ(found, expected) << cp1251::toUtf8(query);
        if (!query.empty()) {
            EXPECT_EQ(index.findNodes(query + "a", found), index.findNodes(query + "a"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Random, SearchAgrees,
                         ::testing::Values(RandomCase{"OneThread", 300, 1},
                                           RandomCase{"TwoThreads", 5000, 2}),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace

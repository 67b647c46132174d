// The Zim notebook import: the wiki markup each page is written in as plain
// text, and a notebook folder walked in Zim's order without reading past it.
#include "TestSupport.h"
#include "exchange/ImportZim.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>

namespace {

using namespace qv::exchange;

struct MarkupCase {
    const char *name;
    const char *wiki;
    const char *plain;
};

void PrintTo(const MarkupCase &c, std::ostream *os) { *os << c.name; }

class ZimMarkup : public ::testing::TestWithParam<MarkupCase> {};

TEST_P(ZimMarkup, BecomesPlainText)
{
    size_t images = 0;
    EXPECT_EQ(zimPageToPlain(GetParam().wiki, "Страница", images), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZimMarkup,
    ::testing::Values(
        MarkupCase{"HeaderAndTitleDropped",
                   "Content-Type: text/x-zim-wiki\nWiki-Format: zim 0.6\n\n====== Страница ======\nCreated "
                   "today\n\nтекст\n",
                   "Created today\n\nтекст"},
        MarkupCase{"OtherHeadingsKept", "===== Раздел =====\n== Мелкий ==", "Раздел\nМелкий"},
        MarkupCase{"Emphasis", "**жирный** //курсив// __подчёркнутый__ ~~зачёркнутый~~ x_{2} x^{3}",
                   "жирный курсив подчёркнутый зачёркнутый x2 x3"},
        MarkupCase{"WebLinks", "[[https://debian.org|сайт Debian]] и [[www.x.ru]] и http://a.b/c//d",
                   "сайт Debian https://debian.org и www.x.ru и http://a.b/c//d"},
        MarkupCase{"PageAndFileLinks", "[[:Дом:Кухня]] [[+Под|ниже]] [[./план.pdf|план]] [[#якорь]]",
                   "\"Кухня\" ниже \"Под\" план ./план.pdf якорь"},
        MarkupCase{"ImagesAreMarked", "{{./фото.png?width=300}}", "[Изображение: фото.png]"},
        MarkupCase{"ListsAndCheckboxes",
                   "* пункт\n\t* вложенный\n[ ] открыто\n[*] сделано\n[x] отменено\n1. раз",
                   "• пункт\n\t• вложенный\n[ ] открыто\n[x] сделано\n[-] отменено\n1. раз"},
        MarkupCase{"VerbatimUntouched", "''**не трогать**''\n'''\n//код// [[x]]\n'''\nпосле",
                   "**не трогать**\n//код// [[x]]\nпосле"},
        MarkupCase{"UnclosedMarksKeepTheText", "[[оборвано {{тоже '' ", "[[оборвано {{тоже ''"}));

TEST(ZimNotebook, WalksPagesInZimsOrderWithSubPagesAndAttachments)
{
    qvtest::TempDir dir;
    const std::string nb = dir.file("nb") + "/";
    ::mkdir(nb.c_str(), 0777);
    qvtest::writeFile(nb + "notebook.zim", "[Notebook]\nname=nb\n");
    qvtest::writeFile(nb + "page_10.txt", "десять");
    qvtest::writeFile(nb + "Page_9.txt", "====== Page 9 ======\nдевять");
    qvtest::writeFile(nb + "%D0%AF%2B.txt", "я");
    ::mkdir((nb + "Page_9").c_str(), 0777);
    qvtest::writeFile(nb + "Page_9/Child.txt", "{{./pic.png}}");
    qvtest::writeFile(nb + "Page_9/pic.png", "png");
    ::mkdir((nb + "Page_9/Child").c_str(), 0777);
    ::mkdir((nb + "Only_folder").c_str(), 0777);
    ::mkdir((nb + "Only_folder/Leaf").c_str(), 0777);
    qvtest::writeFile(nb + ".zim_cache", "");
    // A link out of the notebook is not followed.
    qvtest::writeFile(dir.file("secret.txt"), "secret");
    ASSERT_EQ(::symlink("../secret.txt", (nb + "Linked.txt").c_str()), 0);

    const ImportedTree tree = parseZimNotebook(nb);
    std::string got;
    for (const ImportedNode &n : tree.nodes)
        got += std::to_string(n.depth) + "|" + n.caption + "|" + n.note + "\n";
    EXPECT_EQ(got,
              "0|Only folder|\n1|Leaf|\n0|Page 9|девять\nВложения: pic.png\n1|Child|[Изображение: pic.png]\n"
              "0|page 10|десять\n0|Я+|я\n");
    EXPECT_EQ(tree.imagesSkipped, 1u);
    EXPECT_EQ(tree.filesSkipped, 2u); // the attachment and the link
    EXPECT_THROW(parseZimNotebook(dir.file("nb/Page_9")), EImportError);
}

} // namespace

// The import: the text, Markdown, OPML, CherryTree and Zim sources parsed
// into a detached tree, hostile and malformed input refused with the place
// named, round trips through the export, and the tree added to a catalogue
// with unique, storable captions.
#include "TestSupport.h"
#include "catalog/Catalog.h"
#include "catalog/Text.h"
#include "exchange/Export.h"
#include "exchange/Import.h"
#include "exchange/ZimText.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <ostream>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using namespace qv;
using namespace qv::exchange;

// The tree as "depth|caption|note" lines (note line breaks as '/').
std::string dump(const ImportedTree &tree)
{
    std::string out;
    for (const ImportedNode &n : tree.nodes) {
        std::string note = n.note;
        for (char &c : note)
            if (c == '\n')
                c = '/';
        out += std::to_string(n.depth) + "|" + n.caption + "|" + note;
        if (n.icon)
            out += "|#" + std::to_string(n.icon);
        out += "\n";
    }
    return out;
}

// The catalogue as the text export writes it.
std::string asText(const Catalog &catalog)
{
    std::string out;
    exportCatalog(catalog, ExportFormat::Text, [&out](std::string_view piece) { out.append(piece); });
    return out;
}

struct ParseCase {
    const char *name;
    ImportFormat format;
    std::string input;
    std::string expected; // dump(), or the start of the error message (UTF-8)
};
void PrintTo(const ParseCase &c, std::ostream *os) { *os << c.name; }

ImportedTree parse(ImportFormat format, const std::string &input)
{
    switch (format) {
    case ImportFormat::Text:
        return parseText(input);
    case ImportFormat::Markdown:
        return parseMarkdown(input);
    case ImportFormat::CherryTree:
        return parseCherryTree(input);
    case ImportFormat::Opml:
        return parseOpml(input);
    case ImportFormat::Zim: { // one page named "Страница"
        ImportedTree tree;
        tree.nodes.push_back({0, "Страница", zim::pageText(input, "Страница", tree.counts), 0});
        return tree;
    }
    }
    return {};
}

class ImportParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ImportParse, GivesTheTree)
{
    EXPECT_EQ(dump(parse(GetParam().format, GetParam().input)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportParse,
    ::testing::Values(
        ParseCase{"TextNotesAndTabsInCaptions", ImportFormat::Text,
                  "A\n\t note 1\n\t \n\t  indented\n\tB\tc\n\t\tC\n\t\t\t x\n\n\tD\nE\n",
                  "0|A|note 1// indented\n1|B\tc|\n2|C|x\n1|D|\n0|E|\n"},
        ParseCase{"TextCrLfAndByteOrderMark", ImportFormat::Text,
                  "\xEF\xBB\xBF"
                  "A\r\n\t x\r\n\tB\r\n",
                  "0|A|x\n1|B|\n"},
        ParseCase{"SpacesTakeTheFirstIndentAsUnit", ImportFormat::Text, "A\n   B\n      C\n\n   D\nE\n",
                  "0|A|\n1|B|\n2|C|\n1|D|\n0|E|\n"},
        ParseCase{"MarkdownHeadingsListsEscapes", ImportFormat::Markdown,
                  "intro\n# One #\n\n\\*not\\* a list\\\nsee <https://example.org/a_b>\n\n"
                  "### Skipped level\n## Two\n```\n# code \\*\n```\n###### Six\n- Seven\n  note\n"
                  "  - Eight\n- Seven b\n# Three\n",
                  "0||intro\n0|One|*not* a list/see https://example.org/a_b\n1|Skipped level|\n"
                  "1|Two|```/# code \\*/```\n2|Six|\n3|Seven|note\n4|Eight|\n3|Seven b|\n0|Three|\n"},
        // The Markdown export writes a note line's leading blanks as references.
        ParseCase{"MarkdownCharacterReferences", ImportFormat::Markdown,
                  "# A\n&#32;&#32;x\\\n&#9;y &#x263A;&#0; \\&#65;\n", "0|A|  x/\ty ☺\xEF\xBF\xBD &#65;\n"},
        ParseCase{"MarkdownBulletOutline", ImportFormat::Markdown,
                  "Заголовок списка\n\n- Один\n  заметка *один*\n\n  второй абзац\n  - Два\n    - Три\n"
                  "      глубже\n* Четыре\n+ Пять\n\n```\n- не пункт\n```\n",
                  "0||Заголовок списка\n0|Один|заметка *один*//второй абзац\n1|Два|\n2|Три|глубже\n"
                  "0|Четыре|\n0|Пять|```/- не пункт/```\n"},
        ParseCase{"OpmlOutlinesAndNotes", ImportFormat::Opml,
                  "<?xml version=\"1.0\"?>\n<opml version=\"2.0\"><head><title>t</title>"
                  "<outline text=\"not in the body\"/></head><body>"
                  "<outline text=\"Корень &amp; ✓\" _note=\"раз&#10;два&#13;&#10;&lt;три&gt;\" type=\"x\">"
                  "<outline text=\"Лист\"><outline/></outline></outline>"
                  "<outline text=\"\" _note=\"\"/><other><outline text=\"no\"/></other></body></opml>",
                  "0|Корень & ✓|раз/два/<три>\n1|Лист|\n2||\n0||\n"},
        ParseCase{
            "ZimWikiMarkup", ImportFormat::Zim,
            "Content-Type: text/x-zim-wiki\nWiki-Format: zim 0.6\n\n====== Страница ======\nCreated "
            "Monday\n\n"
            "===== Раздел =====\n**жирный** //курсив// __подчёркнутый__ ~~зачёркнутый~~ ''код **как есть**''"
            " H_{2}O x^{2}\nсм. https://example.org/a//b и [[https://debian.org|Debian]], "
            "[[Другая:Страница]],"
            " [[./отчёт.pdf|отчёт]], [[https://x.org]]\n{{./картинка.png?width=300}}\n* пункт\n\t* "
            "вложенный\n"
            "[ ] сделать\n[*] сделано\n[x] отменено\n1. первый\n'''\n**не разметка** [[нет]]\n'''\n"
            "[[незакрытая\n\n",
            "0|Страница|Created Monday//Раздел/жирный курсив подчёркнутый зачёркнутый код **как есть** H2O "
            "x2/"
            "см. https://example.org/a//b и Debian (https://debian.org), «Другая:Страница», отчёт "
            "(./отчёт.pdf), "
            "https://x.org/[Изображение: картинка.png]/• пункт/\t• вложенный/[ ] сделать/[x] сделано/"
            "[x] отменено/1. первый/**не разметка** [[нет]]/[[незакрытая\n"},
        ParseCase{"CherryTreeTablesAndCodeWhereTheyStood", ImportFormat::CherryTree,
                  "<?xml version=\"1.0\"?>\n<cherrytree><bookmarks list=\"\"/>"
                  "<node name=\"Папка\" prog_lang=\"custom-colors\">"
                  "<rich_text>Таблица:\n\nКод:\n</rich_text><rich_text weight=\"heavy\">\nконец</rich_text>"
                  "<table char_offset=\"9\"><row><cell>c</cell><cell>d\te\nf</cell></row>"
                  "<row><cell>h1</cell><cell>h2</cell></row></table>"
                  "<codebox char_offset=\"16\" syntax_highlighting=\"c\">int x;\nreturn 0;\n</codebox>"
                  "<node name=\"Лист &amp; ✓\"><rich_text>x</rich_text></node></node>"
                  "<node name=\"\"/><node name=\"Только код\"><codebox char_offset=\"0\">a</codebox>"
                  "<codebox>b</codebox></node></cherrytree>",
                  "0|Папка|Таблица:/h1\th2/c\td e f/Код:/int x;/return 0;/конец\n1|Лист & ✓|x\n0||\n"
                  "0|Только код|a/b\n"},
        ParseCase{
            "CherryTreeLinksAsTextAndAddress", ImportFormat::CherryTree,
            "<cherrytree><node name=\"Цель\" unique_id=\"2\"/><node name=\"Ссылки\" unique_id=\"3\">"
            "<rich_text>сайт </rich_text><rich_text link=\"webs https://www.debian.org\">Debian</rich_text>"
            "<rich_text> и </rich_text><rich_text link=\"webs ansa.it\">ansa.it</rich_text>"
            "<rich_text>, </rich_text><rich_text link=\"node 2 якорь\">туда</rich_text>"
            "<rich_text>; </rich_text><rich_text link=\"file L2V0Yy9ob3N0cw==\">hosts</rich_text>"
            "<rich_text>\n</rich_text><rich_text link=\"webs http://x.org\">a</rich_text>"
            "<rich_text link=\"webs http://x.org\" weight=\"heavy\">b</rich_text>"
            "<rich_text> </rich_text><rich_text link=\"webs https://a.b/\">https://a.b/</rich_text>"
            "<rich_text> </rich_text><rich_text link=\"node 99\">нет</rich_text>"
            "<encoded_png char_offset=\"1000\" link=\"webs http://pic\">iVBO</encoded_png>"
            "</node></cherrytree>",
            "0|Цель|\n0|Ссылки|сайт Debian (https://www.debian.org) и ansa.it (http://ansa.it), "
            "туда («Цель»); hosts (/etc/hosts)/ab (http://x.org) https://a.b/ нет («узел 99»)"
            "/[Изображение]\n"},
        ParseCase{"CherryTreeMarkersTagsIconsHostileText", ImportFormat::CherryTree,
                  "<cherrytree><node name=\"&lt;b&gt;\" tags=\"x  y,z\" custom_icon_id=\"11\">"
                  "<rich_text>раз\nдва &lt;script&gt; &amp;amp;</rich_text>"
                  "<encoded_png char_offset=\"0\">iVBO</encoded_png>"
                  "<encoded_png char_offset=\"5\" anchor=\"здесь\"/>"
                  "<encoded_png char_offset=\"6\" filename=\"отчёт.pdf\" time=\"1\">JVBE</encoded_png>"
                  "<encoded_png char_offset=\"25\" filename=\"__ct_special.tex\">\\frac{1}{2}</encoded_png>"
                  "<table char_offset=\"30\"><row><cell>&lt;td&gt;</cell></row></table></node>"
                  "<node name=\"b\" tags=\"только\" custom_icon_id=\"4\"/>"
                  "<node name=\"c\" custom_icon_id=\"100\"/></cherrytree>",
                  "0|<b>|[Изображение]/раз/[Якорь: здесь]/[Вложенный файл: отчёт.pdf]/два <script> &amp;"
                  "/[Формула LaTeX]/<td>/Метки: x, y, z|#30\n0|b|Метки: только\n0|c|\n"}));

// The summary counts each kind a CherryTree note carried.
TEST(ImportParse, CherryTreeCountsEveryKind)
{
    const ImportedTree t = parseCherryTree(
        "<cherrytree><node name=\"a\" tags=\"t\" custom_icon_id=\"12\"><rich_text link=\"webs http://a\">a"
        "</rich_text><encoded_png char_offset=\"1\">x</encoded_png>"
        "<image/><encoded_png filename=\"f\">y</encoded_png><encoded_png anchor=\"here\"/>"
        "<encoded_png filename=\"__ct_special.tex\">z</encoded_png><codebox>c</codebox>"
        "<table><row><cell>1</cell></row></table></node><node name=\"b\" "
        "custom_icon_id=\"4\"/></cherrytree>");
    const ImportCounts &c = t.counts;
    EXPECT_EQ(std::vector<size_t>({c.links, c.tables, c.codeBoxes, c.tagged, c.icons, c.otherIcons, c.images,
                                   c.files, c.anchors, c.formulas}),
              std::vector<size_t>({1, 1, 1, 1, 1, 1, 2, 1, 1, 1}));
    ImportSummary s;
    s.counts = c;
    EXPECT_NE(summaryLine(s).find(
                  "; в заметках: ссылок 1, таблиц 1, блоков кода 1, строк меток 1; строками-пометками: "
                  "изображений 2, вложенных файлов 1, якорей 1, формул LaTeX 1; значки узлов: подобран "
                  "близкий 1, близкого нет, оставлен обычный 1"),
              std::string::npos);
}

// CherryTree's SQLite notebooks, written here with the tables the program
// itself creates: the same notes as from its XML, the tree from the children
// table, nodes it does not reach added as roots.
const char *const kCtbSchema
    = "CREATE TABLE node (node_id INTEGER UNIQUE, name TEXT, txt TEXT, syntax TEXT, tags TEXT, is_ro INTEGER,"
      " is_richtxt INTEGER, has_codebox INTEGER, has_table INTEGER, has_image INTEGER, level INTEGER,"
      " ts_creation INTEGER, ts_lastsave INTEGER);"
      "CREATE TABLE codebox (node_id INTEGER, offset INTEGER, justification TEXT, txt TEXT, syntax TEXT,"
      " width INTEGER, height INTEGER, is_width_pix INTEGER, do_highl_bra INTEGER, do_show_linenum INTEGER);"
      "CREATE TABLE grid (node_id INTEGER, offset INTEGER, justification TEXT, txt TEXT, col_min INTEGER,"
      " col_max INTEGER);"
      "CREATE TABLE image (node_id INTEGER, offset INTEGER, justification TEXT, anchor TEXT, png BLOB,"
      " filename TEXT, link TEXT, time INTEGER);"
      "CREATE TABLE children (node_id INTEGER UNIQUE, father_id INTEGER, sequence INTEGER, master_id "
      "INTEGER);"
      "CREATE TABLE bookmark (node_id INTEGER UNIQUE, sequence INTEGER);";

struct DbCase {
    const char *name;
    std::string sql;      // run on the schema
    std::string expected; // dump(), or the start of the error message
};
void PrintTo(const DbCase &c, std::ostream *os) { *os << c.name; }

class ImportCherryTreeDb : public ::testing::TestWithParam<DbCase> {};

TEST_P(ImportCherryTreeDb, GivesTheTree)
{
    qvtest::TempDir dir;
    const std::string path = dir.file("notes.ctb");
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string sql
        = (std::string(GetParam().name) == "NotCherryTree" ? "" : kCtbSchema) + GetParam().sql;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    const std::string before = qvtest::readFile(path);
    std::string got;
    try {
        got = dump(parseFile(path, ImportFormat::CherryTree));
    } catch (const EImportError &e) {
        got = cp1251::toUtf8(e.message()).substr(0, GetParam().expected.size());
    }
    EXPECT_EQ(got, GetParam().expected);
    EXPECT_EQ(qvtest::readFile(path), before); // opened read-only
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportCherryTreeDb,
    ::testing::Values(
        DbCase{
            "NotesAndOrder",
            "INSERT INTO node VALUES (1, 'Папка', '<?xml version=\"1.0\" ?><node><rich_text>Таблица:\n\n'"
            " || 'Код:\n\n</rich_text><rich_text link=\"webs https://debian.org\">сайт</rich_text></node>',"
            " 'custom-colors', 'a b', 22, 1, 1, 1, 0, 0, 0, 0),"
            " (2, 'Второй', '<node><rich_text>x</rich_text></node>', 'custom-colors', '', 0, 1, 0, 0, 1, 0, "
            "0, 0),"
            " (3, 'Первый', 'plain <text> &amp;', 'sh', '', 0, 0, 0, 0, 0, 0, 0, 0),"
            " (4, 'Ребёнок', '', 'custom-colors', '', 0, 1, 0, 0, 0, 1, 0, 0);"
            "INSERT INTO children VALUES (1, 0, 2, 0), (2, 0, 1, 0), (3, 1, 5, 0), (4, 3, 1, 0);"
            "INSERT INTO grid VALUES (1, 9, 'left', '<table><row><cell>c</cell><cell>d</cell></row>'"
            " || '<row><cell>h1</cell><cell>h2</cell></row></table>', 40, 400);"
            "INSERT INTO codebox VALUES (1, 16, 'left', 'int x;\n', 'c', 500, 100, 1, 1, 0);"
            "INSERT INTO image VALUES (2, 0, 'left', '', x'89', '', '', 0), (2, 1, 'left', 'якорь', NULL, "
            "'', '', 0),"
            " (2, 9, 'left', '', x'00', 'f.pdf', '', 1), (2, 9, 'left', '', x'00', '__ct_special.tex', '', "
            "1);",
            "0|Второй|[Изображение]/[Якорь: якорь]/x/[Вложенный файл: f.pdf]/[Формула LaTeX]\n"
            "0|Папка|Таблица:/h1\th2/c\td/Код:/int x;/сайт (https://debian.org)/Метки: a, b|#30\n"
            "1|Первый|plain <text> &amp;\n2|Ребёнок|\n"},
        DbCase{
            "UnreachedNodesAsRoots",
            "INSERT INTO node VALUES (1, 'A', '', 'sh', '', 0, 0, 0, 0, 0, 0, 0, 0),"
            " (2, 'B', '', 'sh', '', 0, 0, 0, 0, 0, 0, 0, 0), (3, 'C', '', 'sh', '', 0, 0, 0, 0, 0, 0, 0, 0),"
            " (4, 'D' || char(1) || '1' || char(1), 'x' || char(1) || '2' || char(1), 'sh', '', 0, 0, 0, 0, "
            "0, 0,"
            " 0, 0);"
            "INSERT INTO children VALUES (1, 0, 1, 0), (2, 3, 1, 0), (3, 2, 1, 0), (4, 9, 1, 0);",
            "0|A|\n0|B|\n1|C|\n0|D�1�|x�2�\n"},
        DbCase{"BadRichText",
               "INSERT INTO node VALUES (1, 'A', '<node><rich_text>', 'custom-colors', '', 0, 1, 0, 0, 0, 0, "
               "0, 0);"
               "INSERT INTO children VALUES (1, 0, 1, 0);",
               "узел «A»: Ошибка XML в строке 1"},
        DbCase{"NotCherryTree", "CREATE TABLE t (x INTEGER);",
               "это не документ CherryTree: no such table: node"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// One notebook as CherryTree itself saved it in both formats: every link,
// table, code line and marker where it stood, the same from either.
TEST(ImportCherryTreeDb, RealNotebooksGiveTheSameNotes)
{
    const std::string expected
        = "0|Заметки|Ссылки: сайт Debian (https://www.debian.org), link to web ansa.it (http://ansa.it), "
          "к коду («Код»), hosts (/etc/hosts)./Таблица:/Число\tСлово/1\tодин/2\tдва/Код:/echo привет/ls -l/"
          "Картинка: /[Изображение]/Файл: /[Вложенный файл: привет.txt]/Якорь: /[Якорь: здесь]/Конец./"
          "Метки: работа, дом|#30\n1|Код|print(\"привет\")\n1|Пустой|\n0|Второй корень|Жирный и обычный "
          "<текст> & знаки.|#23\n";
    for (const char *file : {"/cherrytree.ctd", "/cherrytree.ctb"})
        EXPECT_EQ(dump(parseFile(std::string(QV_TEST_DATA) + file, ImportFormat::CherryTree)), expected)
            << file;
}

// A Zim notebook: pages in Zim's order, sub-pages in the folder of a page's
// name (a folder alone is a page too), the other files named as attachments.
TEST(ImportZim, NotebookGivesTheTree)
{
    qvtest::TempDir dir;
    const std::string nb = dir.file("Блокнот/");
    for (const char *d : {"", "Page_10", "Page_10/Дети", "Только_папка"})
        ASSERT_EQ(mkdir((nb + d).c_str(), 0700), 0) << d;
    const std::pair<const char *, const char *> files[]
        = {{"notebook.zim", "[Notebook]\nname=Блокнот\n"},
           {"page_2.txt", "Content-Type: text/x-zim-wiki\n\n====== page 2 ======\nвторая\n"},
           {"Page_10.txt", "десятая"},
           {"Page_10/Дети.txt", "[[Page 10]]"},
           {"Page_10/Дети/%3Fвопрос.txt", ""},
           {"Page_10/файл.pdf", "%PDF"},
           {"Альфа.txt", "а"},
           {"Только_папка/вложение.png", "png"}};
    for (const auto &[name, text] : files)
        qvtest::writeFile(nb + name, text);
    for (const std::string &path : {nb, nb + "notebook.zim"}) {
        const ImportedTree tree = parseFile(path, ImportFormat::Zim);
        EXPECT_EQ(dump(tree),
                  "0|page 2|вторая\n0|Page 10|десятая/[Вложенный файл: файл.pdf]\n1|Дети|«Page 10»\n"
                  "2|?вопрос|\n0|Альфа|а\n0|Только папка|[Вложенный файл: вложение.png]\n");
        EXPECT_EQ(tree.counts.files, 2u);
        EXPECT_EQ(tree.counts.links, 1u);
    }
    EXPECT_THROW(parseFile(dir.path(), ImportFormat::Zim), EImportError);
}

TEST(ImportCherryTreeDb, EncryptedNotebooksAreRefused)
{
    qvtest::TempDir dir;
    for (const char *name : {"a.ctz", "b.CTX"}) {
        qvtest::writeFile(dir.file(name), "7z\xBC\xAF\x27\x1C");
        try {
            parseFile(dir.file(name), ImportFormat::CherryTree);
            FAIL() << name;
        } catch (const EImportError &e) {
            EXPECT_EQ(cp1251::toUtf8(e.message()).rfind("Документ CherryTree защищён паролем", 0), 0u);
        }
    }
}

class ImportRefusal : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ImportRefusal, NamesThePlace)
{
    try {
        parse(GetParam().format, GetParam().input);
        FAIL() << "no error";
    } catch (const EImportError &e) {
        EXPECT_EQ(cp1251::toUtf8(e.message()).substr(0, GetParam().expected.size()), GetParam().expected);
    }
}

std::string billionLaughs()
{
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE cherrytree [\n<!ENTITY l0 \"lollollol\">\n";
    for (int i = 1; i < 10; ++i) {
        xml += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += "&l" + std::to_string(i - 1) + ";";
        xml += "\">\n";
    }
    return xml + "]>\n<cherrytree><node name=\"x\"><rich_text>&l9;</rich_text></node></cherrytree>\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportRefusal,
    ::testing::Values(
        ParseCase{"TextLevelJump", ImportFormat::Text, "A\n\tB\n\t\t\tC\n", "Строка 3: "},
        ParseCase{"TextFirstLineIndented", ImportFormat::Text, "\tA\n", "Строка 1: "},
        ParseCase{"TextNoteAfterChild", ImportFormat::Text, "A\n\tB\n\t x\n", "Строка 3: "},
        ParseCase{"TextBlankInTabFile", ImportFormat::Text, "A\n\tB\n C\n", "Строка 3: "},
        ParseCase{"SpacesNotAMultiple", ImportFormat::Text, "A\n  B\n   C\n", "Строка 3: "},
        ParseCase{"XmlMalformed", ImportFormat::CherryTree,
                  "<cherrytree><node name=\"a\">\n<rich_text>x</rich_text>\n</nod></cherrytree>",
                  "Ошибка XML в строке 3, позиция 3: mismatched tag"},
        ParseCase{"XmlTruncated", ImportFormat::CherryTree, "<cherrytree>\n<node name=\"a\"><rich_te",
                  "Ошибка XML в строке 2"},
        ParseCase{"XmlNotCherryTree", ImportFormat::CherryTree, "<html/>",
                  "Ошибка XML в строке 1, позиция 8: это не документ CherryTree"},
        ParseCase{"XmlExternalEntity", ImportFormat::CherryTree,
                  "<!DOCTYPE cherrytree [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>\n"
                  "<cherrytree><node name=\"x\"><rich_text>&e;</rich_text></node></cherrytree>",
                  "Ошибка XML в строке 1, позиция 61: внешние сущности не допускаются"},
        ParseCase{"XmlBillionLaughs", ImportFormat::CherryTree, billionLaughs(), "Ошибка XML в строке 14"},
        ParseCase{"OpmlNotOpml", ImportFormat::Opml, "<cherrytree/>",
                  "Ошибка XML в строке 1, позиция 14: это не документ OPML"}));

// Import is the exact inverse of the text export: import → export gives the
// same bytes, and so does export → import → export.
TEST(ImportText, RoundTripGivesTheSameBytes)
{
    const std::string text
        = "Корень\n\t первая строка\n\t \n\t  с отступом и\tтабуляцией\n"
          "\tРебёнок\n\t\tВнук\n\t\t\t заметка внука\n\tВторой ребёнок\nЕщё корень\n\t x\n";
    Catalog catalog;
    addToCatalog(parseText(text), catalog);
    EXPECT_EQ(asText(catalog), text);
    Catalog again;
    addToCatalog(parseText(asText(catalog)), again);
    EXPECT_EQ(asText(again), text);
}

// import(export(x)) gives x back for the formats that carry the outline and
// its notes whole: random catalogues, deep enough for Markdown's list items,
// whose captions and notes are made of what each format has to escape.
TEST(ImportRoundTrip, TextMarkdownAndOpmlGiveTheCatalogueBack)
{
    std::mt19937 random(20261208);
    const std::string alphabet = W("aZ 09\t#*_-+=.!()[]{}<>&;`|\\/:~'\"ЖжЁё№") + std::string("\xA0\x85");
    auto pick = [&](size_t most, bool notes) {
        std::string s;
        for (size_t n = random() % (most + 1); n > 0; --n) {
            const int kind = static_cast<int>(random() % 20);
            if (kind == 0)
                s += "http://ex.org/a_b?c=1&d";
            else if (kind == 1)
                s += "www.ex.org";
            else if (kind == 2)
                s += "&#32;";
            else
                s += alphabet[random() % alphabet.size()];
        }
        if (notes)
            s = replaceAll(s, "~", "");
        return s;
    };
    using Flat = std::vector<std::string>;
    auto flat = [](const Catalog &c) {
        Flat out;
        for (const Node *n = c.outline().first(); n; n = flatNext(n))
            out.push_back(decimal(static_cast<long long>(n->depth())) + "|" + n->caption() + "|"
                          + c.noteForEditor(n->caption()).value_or(Bytes()));
        return out;
    };
    for (int round = 0; round < 40; ++round) {
        Catalog c;
        std::vector<Node *> path{c.outline().top()};
        std::unordered_set<Bytes> captions;
        for (int i = 0; i < 60; ++i) {
            Bytes caption;
            while (caption.empty() || !Catalog::captionStorable(caption) || !captions.insert(caption).second)
                caption = pick(12, false);
            path.resize(1 + random() % std::min<size_t>(path.size(), 10));
            path.push_back(c.outline().append(path.back(), caption, 0));
            std::string note;
            for (size_t k = random() % 4; k > 0; --k)
                note += (note.empty() && random() % 2 ? "" : "~~") + pick(30, true);
            if (!note.empty())
                c.records().append(caption, note, "0");
        }
        for (ExportFormat f : {ExportFormat::Text, ExportFormat::Markdown, ExportFormat::Opml}) {
            std::string out;
            exportCatalog(c, f, [&out](std::string_view piece) { out.append(piece); });
            Catalog back;
            addToCatalog(f == ExportFormat::Text       ? parseText(out)
                             : f == ExportFormat::Opml ? parseOpml(out)
                                                       : parseMarkdown(out),
                         back);
            const Flat got = flat(back), expected = flat(c);
            ASSERT_EQ(got.size(), expected.size()) << static_cast<int>(f);
            for (size_t i = 0; i < got.size(); ++i)
                ASSERT_EQ(cp1251::toUtf8(got[i]), cp1251::toUtf8(expected[i]))
                    << static_cast<int>(f) << " node " << i;
        }
    }
}

TEST(ImportCatalog, CaptionsAreMadeUniqueAndStorable)
{
    Catalog catalog;
    catalog.outline().append(catalog.outline().top(), W("Узел"));
    catalog.records().append(W("Скрытая"), "", "0"); // a record no node shows
    ImportedTree tree;
    for (const char *c : {"Узел", "Узел", " \tУзел", "Скрытая", "", "", "a\r\nb", "✓ ☺ x", "Узел (3)"})
        tree.nodes.push_back({0, c, {}, 0});
    tree.nodes.push_back({1, "child", "line 1\nline ✓\n", 0});
    const ImportSummary s = addToCatalog(tree, catalog);

    std::string got;
    for (const Node *n = catalog.outline().first(); n; n = flatNext(n))
        got += cp1251::toUtf8(n->caption()) + "|";
    EXPECT_EQ(got,
              "Узел|Узел (2)|Узел (3)|Узел (4)|Скрытая (2)|Без имени|Без имени (2)|a  b|? ? x|"
              "Узел (3) (2)|child|");
    EXPECT_EQ(catalog.records().find("child")->text, "line 1~~line ?~~");
    EXPECT_EQ(s.nodes, 10u);
    EXPECT_EQ(s.notes, 1u);
    EXPECT_EQ(s.replaced, 5u); // CR, LF, ✓, ☺ and the note's ✓
    EXPECT_TRUE(catalog.modified());
    EXPECT_EQ(catalog.outline().root(9)->child(0)->caption(), "child");
}

// Deeper than an import keeps: the nodes below the last level are added at
// it, and counted.
TEST(ImportCatalog, LevelsPastTheLimitAreAddedAtTheLast)
{
    const size_t levels = kMaxImportDepth + 200;
    std::string text, xml = "<cherrytree>";
    for (size_t i = 0; i < levels; ++i) {
        text += std::string(i, '\t') + "n\n";
        xml += "<node name=\"n\">";
    }
    for (size_t i = 0; i < levels; ++i)
        xml += "</node>";
    xml += "</cherrytree>";
    for (const ImportedTree &tree : {parseText(text), parseCherryTree(xml)}) {
        Catalog catalog;
        const ImportSummary s = addToCatalog(tree, catalog);
        EXPECT_EQ(s.nodes, levels);
        EXPECT_EQ(s.flattened, 200u);
        EXPECT_EQ(deepestLast(catalog.outline().first())->depth(), kMaxImportDepth - 1);
        EXPECT_NE(summaryLine(s).find("; узлов глубже уровня 1000, добавленных на этом уровне: 200"),
                  std::string::npos);
    }
}

// A source whose catalogue would take ten times its size, by depth or by
// entities, is refused with nothing added.
TEST(ImportCatalog, SourcesThatWouldGrowTenfoldAreRefused)
{
    std::string deep = "<cherrytree>";
    for (int i = 0; i < 30000; ++i)
        deep += "<node name=\"n\">";
    for (int i = 0; i < 30000; ++i)
        deep += "</node>";
    deep += "</cherrytree>";
    Catalog catalog;
    EXPECT_THROW(addToCatalog(parseCherryTree(deep), catalog), EImportError);
    EXPECT_EQ(catalog.outline().nodeCount(), 0u);
    EXPECT_FALSE(catalog.modified());

    std::string entities = "<!DOCTYPE cherrytree [<!ENTITY e \"" + std::string(100, 'x')
        + "\">]>\n<cherrytree><node name=\"x\"><rich_text>";
    for (int i = 0; i < 50000; ++i)
        entities += "&e;";
    entities += "</rich_text></node></cherrytree>";
    EXPECT_THROW(parseCherryTree(entities), EImportError);
}

} // namespace

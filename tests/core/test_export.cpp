// The three export formats on small catalogues: the exact output, the
// escaping of every code page character, links, a node without a record,
// and an outline deeper than any recursion could go.
#include "catalog/Catalog.h"
#include "catalog/Text.h"
#include "exchange/Export.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using qv::Bytes;
using qv::ExportFormat;
using qv::W;

std::string exportTo(const qv::Catalog &c, ExportFormat f, const qv::ExportOptions &options = {})
{
    std::ostringstream out;
    qv::exportCatalog(c, f, out, options);
    return out.str();
}

// Корень <&>  (icon 3, a note with <script>, a link with & and a full stop)
//   *Звезда* [x](y)  (icon 0, no record)
//     # h  (icon 79, a note with leading blanks, an empty line, a www. link)
// Z  (icon 200, which the list does not have; an empty note)
void fillSmall(qv::Catalog &c)
{
    qv::Outline &o = c.outline();
    qv::Node *root = o.append(o.top(), W("Корень <&>"), 3);
    qv::Node *star = o.append(root, W("*Звезда* [x](y)"), 0);
    o.append(star, "# h", 79);
    o.append(o.top(), "Z", 200);
    c.records().append(W("Корень <&>"), W("Привет~~<script>x</script>~~https://ex.com/a_b?x=1&y=2."), "3");
    c.records().append("# h", "  indented~~~~www.ex.org", "79");
    c.records().append("Z", "", "200");
}

struct FormatCase {
    const char *name;
    ExportFormat format;
    std::string expected; // the whole output; for html from "<body>" on
};
void PrintTo(const FormatCase &c, std::ostream *os) { *os << c.name; }

class ExportSmall : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ExportSmall, WritesEveryNodeAndNoteEscaped)
{
    qv::Catalog c;
    fillSmall(c);
    std::string out = exportTo(c, GetParam().format, {"Мой <каталог>"});
    if (GetParam().format == ExportFormat::Html) {
        EXPECT_EQ(out.rfind("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">", 0), 0u);
        EXPECT_NE(out.find("<title>Мой &lt;каталог&gt;</title>"), std::string::npos);
        // Each icon used is one style class, defined once; one script, the
        // page's own, and nothing fetched.
        EXPECT_EQ(out.find("<script"), out.rfind("<script"));
        EXPECT_NE(out.find("\n<script>\n"), std::string::npos);
        EXPECT_EQ(out.find(" src="), std::string::npos);
        size_t classes = 0;
        for (size_t at = 0; (at = out.find("{background-image:url(data:image/png;base64,iVBORw0KGgo", at))
             != std::string::npos;
             ++at)
            ++classes;
        EXPECT_EQ(classes, 3u);
        for (const char *cls : {".i0{", ".i3{", ".i79{"})
            EXPECT_NE(out.find(cls), std::string::npos) << cls;
        out = out.substr(out.find("<body>"));
        out.erase(out.find("<script>"), out.find("</script>\n") + 10 - out.find("<script>"));
    }
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ExportSmall,
    ::testing::Values(
        FormatCase{"Text", ExportFormat::Text,
                   "Корень <&>\n"
                   "\t Привет\n"
                   "\t <script>x</script>\n"
                   "\t https://ex.com/a_b?x=1&y=2.\n"
                   "\t*Звезда* [x](y)\n"
                   "\t\t# h\n"
                   "\t\t\t   indented\n"
                   "\t\t\t \n"
                   "\t\t\t www.ex.org\n"
                   "Z\n"},
        FormatCase{"Markdown", ExportFormat::Markdown,
                   "# Корень <&>\n\n"
                   "Привет\\\n"
                   "\\<script>x\\</script>\\\n"
                   "<https://ex.com/a_b?x=1&y=2>.\n\n"
                   "## \\*Звезда\\* \\[x](y)\n\n"
                   "### # h\n\n"
                   "&#32;&#32;indented\n"
                   "\n"
                   "www.ex.org\n\n"
                   "# Z\n"},
        FormatCase{
            "Html", ExportFormat::Html,
            "<body>\n<h1>Мой &lt;каталог&gt;</h1>\n"
            "<input id=\"f\" type=\"search\" placeholder=\"Фильтр\" aria-label=\"Фильтр\" hidden>\n"
            "<ul id=\"t\">\n"
            "<li><details open><summary><span class=\"i i3\"></span>Корень &lt;&amp;&gt;</summary>"
            "<div class=\"n\">Привет\n&lt;script&gt;x&lt;/script&gt;\n"
            "<a href=\"https://ex.com/a_b?x=1&amp;y=2\">https://ex.com/a_b?x=1&amp;y=2</a>.</div><ul>\n"
            "<li><details open><summary><span class=\"i i0\"></span>*Звезда* [x](y)</summary><ul>\n"
            "<li><div class=\"c\"><span class=\"i i79\"></span># h</div>"
            "<div class=\"n\">  indented\n\n<a href=\"http://www.ex.org\">www.ex.org</a></div></li>\n"
            "</ul></details></li>\n"
            "</ul></details></li>\n"
            "<li><div class=\"c\">Z</div></li>\n"
            "</ul>\n</body>\n</html>\n"},
        FormatCase{"Opml", ExportFormat::Opml,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n"
                   "<head>\n<title>Мой &lt;каталог&gt;</title>\n</head>\n<body>\n"
                   "<outline text=\"Корень &lt;&amp;&gt;\" _note=\"Привет&#10;&lt;script&gt;x&lt;/script&gt;"
                   "&#10;https://ex.com/a_b?x=1&amp;y=2.\">\n"
                   " <outline text=\"*Звезда* [x](y)\">\n"
                   "  <outline text=\"# h\" _note=\"  indented&#10;&#10;www.ex.org\"/>\n"
                   " </outline>\n"
                   "</outline>\n"
                   "<outline text=\"Z\"/>\n"
                   "</body>\n</opml>\n"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// A note holding every code page character from 0x20 to 0xFF, each as its
// UTF-8 character, escaped where the format needs it.
TEST(Export, EveryCodePageCharacter)
{
    Bytes bytes;
    for (int b = 0x20; b <= 0xFF; ++b)
        bytes += static_cast<char>(b);
    qv::Catalog c;
    c.outline().append(c.outline().top(), "N");
    c.records().append("N", bytes, "0");
    const std::string utf8 = qv::cp1251::toUtf8(bytes);

    EXPECT_EQ(exportTo(c, ExportFormat::Text), "N\n\t " + utf8 + "\n");

    // Only what would be markup there: '*' and '_' between punctuation, '['
    // with a ']' after it, a backslash before punctuation.
    const std::string md = "&#32;!\"#$%&'()\\*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ\\[\\\\]^\\_`"
                           "abcdefghijklmnopqrstuvwxyz{|}~"
        + qv::cp1251::toUtf8(bytes.substr(0x7F - 0x20));
    EXPECT_EQ(exportTo(c, ExportFormat::Markdown), "# N\n\n" + md + "\n");

    std::string html;
    for (char ch : qv::replaceAll(qv::replaceAll(utf8, "\x7f", "\uFFFD"), "\u0098", "\uFFFD")) {
        switch (ch) {
        case '&':
            html += "&amp;";
            break;
        case '<':
            html += "&lt;";
            break;
        case '>':
            html += "&gt;";
            break;
        case '"':
            html += "&quot;";
            break;
        case '\'':
            html += "&#39;";
            break;
        default:
            html += ch;
        }
    }
    const std::string page = exportTo(c, ExportFormat::Html);
    EXPECT_NE(page.find("<div class=\"n\">" + html + "</div>"), std::string::npos);
}

// 10,000 levels, one node each: written without recursion, every element
// closed in order, every line at its depth.
TEST(Export, DeepOutline)
{
    constexpr size_t kLevels = 10000;
    qv::Catalog c;
    qv::Node *n = c.outline().top();
    for (size_t i = 0; i < kLevels; ++i)
        n = c.outline().append(n, "n", 1);
    c.records().append("n", "x", "1");

    // html: a stack of open elements must match every closing tag.
    const std::string page = exportTo(c, ExportFormat::Html);
    const size_t bodyAt = page.find("<ul id=\"t\">");
    const std::string body = page.substr(bodyAt, page.find("<script>") - bodyAt);
    std::vector<std::string> open;
    size_t items = 0;
    for (size_t at = 0; (at = body.find('<', at)) != std::string::npos; ++at) {
        const size_t end = body.find_first_of(" >", at);
        const std::string tag = body.substr(at + 1, end - at - 1);
        if (tag == "span" || tag == "/span")
            continue;
        if (tag[0] != '/') {
            open.push_back(tag);
            items += tag == "li";
        } else {
            ASSERT_FALSE(open.empty()) << at;
            ASSERT_EQ("/" + open.back(), tag) << at;
            open.pop_back();
        }
    }
    EXPECT_TRUE(open.empty());
    EXPECT_EQ(items, kLevels);

    // text and markdown: line counts and the sizes the indentation gives
    // (counted, not kept: the text is some 100 MB).
    for (ExportFormat f : {ExportFormat::Text, ExportFormat::Markdown}) {
        size_t bytes = 0, lines = 0;
        std::string tail;
        qv::exportCatalog(c, f, [&](std::string_view piece) {
            bytes += piece.size();
            for (char ch : piece)
                lines += ch == '\n';
            tail = std::string(piece.substr(piece.size() > 64 ? piece.size() - 64 : 0));
        });
        size_t expected = 0;
        for (size_t d = 0; d < kLevels; ++d) {
            if (f == ExportFormat::Text)
                expected += d + 2 + (d + 1) + 3; // TABs "n\n", TABs " x\n"
            else if (d < 6)
                expected += (d ? 1 : 0) + d + 4 + 3; // "\n", "#.. n\n", "\nx\n"
            else
                expected += 1 + 2 * (d - 6) + 4 + 1 + 2 * (d - 5) + 2; // "\n", "- n\n", "\n", "x\n"
        }
        EXPECT_EQ(lines, f == ExportFormat::Text ? 2 * kLevels : 3 * kLevels + (kLevels - 1));
        EXPECT_EQ(bytes, expected);
        const std::string last = f == ExportFormat::Text ? std::string(kLevels, '\t') + " x\n"
                                                         : std::string(2 * (kLevels - 6) + 2, ' ') + "x\n";
        EXPECT_EQ(tail.substr(tail.size() - std::min(tail.size(), last.size())),
                  last.substr(last.size() - std::min(tail.size(), last.size())));
    }
}

} // namespace

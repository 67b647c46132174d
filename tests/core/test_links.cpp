// The link rule, over UTF-16 (the note editor) and, for every line the code
// page can hold, over its bytes (the export): both find the same links.
#include "catalog/Links.h"
#include "catalog/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LinkCase {
    const char *name;
    std::u16string line;
    std::vector<std::u16string> links;
};
void PrintTo(const LinkCase &c, std::ostream *os) { *os << c.name; }

// The caller's rule for characters outside the code page.
bool testWord(char32_t c) { return c == U'中' || c == U'𝐀'; }

class Links : public ::testing::TestWithParam<LinkCase> {};

TEST_P(Links, FoundInUtf16AndInCodePageBytes)
{
    const LinkCase &c = GetParam();
    std::vector<std::u16string> found;
    for (const auto &[start, end] : qv::findLinks(c.line, testWord))
        found.push_back(c.line.substr(start, end - start));
    EXPECT_EQ(found, c.links);

    const qv::Bytes bytes = qv::cp1251::fromUtf16(c.line);
    if (qv::cp1251::toUtf16(bytes) != c.line)
        return;
    found.clear();
    for (const auto &[start, end] : qv::findLinks(bytes))
        found.push_back(qv::cp1251::toUtf16(bytes.substr(start, end - start)));
    EXPECT_EQ(found, c.links);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Links,
    ::testing::Values(
        LinkCase{"None", u"plain words, no address", {}},
        LinkCase{"Query", u"see http://a.example/x?y=1&z=2 now", {u"http://a.example/x?y=1&z=2"}},
        LinkCase{"TrailingFullStop",
                 u"see www.a.org/x. Go to https://b.example/path.",
                 {u"www.a.org/x", u"https://b.example/path"}},
        LinkCase{"EverySchemeKind",
                 u"www.c.example; ftp://d.example/f mailto:me@e.example file:///tmp/n.txt news:x gopher://g "
                 u"telnet://t wais://w prospero://p nntp://n",
                 {u"www.c.example", u"ftp://d.example/f", u"mailto:me@e.example", u"file:///tmp/n.txt",
                  u"news:x", u"gopher://g", u"telnet://t", u"wais://w", u"prospero://p", u"nntp://n"}},
        LinkCase{"Brackets",
                 u"(http://a.b/c_(d)), [www.g.example] (http://h.i/j)]",
                 {u"http://a.b/c_(d)", u"www.g.example", u"http://h.i/j"}},
        LinkCase{"SchemesAnyCase",
                 u"MAILTO:a@b.c, Ftp://h/п; HTTP://H.EXAMPLE",
                 {u"MAILTO:a@b.c", u"Ftp://h/п", u"HTTP://H.EXAMPLE"}},
        LinkCase{"NotAfterWordOrAt",
                 u"a@www.x.org Дwww.x.org xhttp://y awww.j.example .www.a -www.b /www.c _www.d",
                 {}},
        LinkCase{"AfterOtherPunctuation",
                 u"сайт:www.пример.рф, ок «http://q.r»",
                 {u"www.пример.рф", u"http://q.r»"}},
        LinkCase{"StopsAtBlankAndQuote", u"https://x.y/\"z\" ftp://", {u"https://x.y/"}},
        LinkCase{"StopsAtControlsAndBlanks",
                 u"http://i.example\u00A0x http://j\tk http://l\u0098m http://n\u2028o",
                 {u"http://i.example", u"http://j", u"http://l", u"http://n"}},
        LinkCase{"StopCharacters",
                 u"http://a<b http://c>d http://e{f http://g}h http://i|j http://k\\l http://m^n "
                 u"http://o`p",
                 {u"http://a", u"http://c", u"http://e", u"http://g", u"http://i", u"http://k", u"http://m",
                  u"http://o"}},
        LinkCase{"TrailingPunctuationGivenBack",
                 u"http://a.b/c.,;:!?'* www.d.e'x'",
                 {u"http://a.b/c", u"www.d.e'x"}},
        LinkCase{"PrefixAlone", u"http:// and www. alone, mailto:.", {}},
        // Only the note editor meets characters outside the code page.
        LinkCase{"BlanksBeyondLatin1",
                 u"http://a.b\u3000x http://c.d\u2009y http://e.f\u202Fz",
                 {u"http://a.b", u"http://c.d", u"http://e.f"}},
        LinkCase{"LongSMatchesS", u"httpſ://x.y", {u"httpſ://x.y"}},
        LinkCase{"WordOutsideCodePageBefore", u"中www.x.org 𝐀http://y.z ✓www.ok.org 𝐀", {u"www.ok.org"}},
        LinkCase{"CharactersOutsideCodePageInside", u"http://a.b/中𝐀✓", {u"http://a.b/中𝐀✓"}}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

} // namespace

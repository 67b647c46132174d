// The Windows-1251 codec, letter case, replace-all, decimal text and the
// error messages built on them.
#include "catalog/Errors.h"
#include "catalog/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>

using namespace qv;

namespace {

Bytes allBytes()
{
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    return all;
}

} // namespace

// ---- codec ----

TEST(Codec, EveryByteSurvivesUtf16AndUtf8)
{
    const Bytes all = allBytes();
    const std::u16string wide = cp1251::toUtf16(all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(cp1251::fromUtf16(wide), all);
    EXPECT_EQ(cp1251::fromUtf8(cp1251::toUtf8(all)), all);
    // No two bytes share a code point.
    for (size_t i = 0; i < wide.size(); ++i)
        for (size_t j = i + 1; j < wide.size(); ++j)
            ASSERT_NE(wide[i], wide[j]) << i << " " << j;
}

struct CodePoint {
    unsigned char byte;
    char16_t unit;
};

class CodecTable : public ::testing::TestWithParam<CodePoint> {};

TEST_P(CodecTable, ByteMapsToCodePoint)
{
    const auto [byte, unit] = GetParam();
    EXPECT_EQ(cp1251::toUtf16(Bytes(1, static_cast<char>(byte))), std::u16string(1, unit));
    EXPECT_EQ(cp1251::fromUtf16(std::u16string(1, unit)), Bytes(1, static_cast<char>(byte)));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, CodecTable,
    ::testing::Values(CodePoint{0x00, 0x0000}, CodePoint{0x1A, 0x001A}, CodePoint{0x7F, 0x007F},
                      CodePoint{0x80, 0x0402}, CodePoint{0x81, 0x0403}, CodePoint{0x82, 0x201A},
                      CodePoint{0x88, 0x20AC}, CodePoint{0x8D, 0x040C}, CodePoint{0x8E, 0x040B},
                      CodePoint{0x97, 0x2014}, CodePoint{0x98, 0x0098}, CodePoint{0x99, 0x2122},
                      CodePoint{0xA0, 0x00A0}, CodePoint{0xA1, 0x040E}, CodePoint{0xA5, 0x0490},
                      CodePoint{0xA8, 0x0401}, CodePoint{0xAD, 0x00AD}, CodePoint{0xB2, 0x0406},
                      CodePoint{0xB4, 0x0491}, CodePoint{0xB8, 0x0451}, CodePoint{0xB9, 0x2116},
                      CodePoint{0xBC, 0x0458}, CodePoint{0xBF, 0x0457}, CodePoint{0xC0, 0x0410},
                      CodePoint{0xDF, 0x042F}, CodePoint{0xE0, 0x0430}, CodePoint{0xFF, 0x044F}));

TEST(Codec, UnmappableBecomesQuestionMarkNeverSub)
{
    // Latin-1 letters, CJK, Greek: none of them is in the code page.
    const std::u16string text = u"\u00E9\u4E2D\u03A9\uFFFD";
    EXPECT_EQ(cp1251::fromUtf16(text), "????");
    // One character outside the basic plane is one '?', as is a lone half.
    EXPECT_EQ(cp1251::fromUtf16(u"a\U0001F600b"), "a?b");
    EXPECT_EQ(cp1251::fromUtf16(std::u16string{u'a', char16_t(0xD800), u'b'}), "a?b");
    EXPECT_EQ(cp1251::fromUtf16(std::u16string{char16_t(0xDC00), char16_t(0xD800)}), "??");
    EXPECT_EQ(cp1251::fromUtf8("x\xF0\x9F\x98\x80y"), "x?y");
    EXPECT_EQ(cp1251::fromUtf8("\xE4\xB8\xAD"), "?");
}

TEST(Codec, BrokenUtf8GivesQuestionMarks)
{
    EXPECT_EQ(cp1251::fromUtf8("a\x80"
                               "b"),
              "a?b");
    EXPECT_EQ(cp1251::fromUtf8("a\xD0"), "a?"); // cut short at the end
    EXPECT_EQ(cp1251::fromUtf8("\xD0"
                               "A"),
              "?A"); // continuation missing
    // Overlong forms are no characters: never 0x1A, NUL, a line end or '$'.
    for (const char *overlong : {"\xC0\x9A", "\xE0\x80\x9A", "\xF0\x80\x80\x9A", "\xC0\x80", "\xC0\x8D",
                                 "\xC1\x8A", "\xC0\xA4", "\xE0\x90\x90"})
        EXPECT_EQ(cp1251::fromUtf8(overlong), "?") << overlong;
}

// ---- letter case ----

struct CasePair {
    const char *upper;
    const char *lower;
};

class LetterCase : public ::testing::TestWithParam<CasePair> {};

TEST_P(LetterCase, MapsBothWays)
{
    const Bytes up = W(GetParam().upper), low = W(GetParam().lower);
    EXPECT_EQ(cp1251::upper(low), up);
    EXPECT_EQ(cp1251::lower(up), low);
    EXPECT_EQ(cp1251::upper(up), up);
    EXPECT_EQ(cp1251::lower(low), low);
}

INSTANTIATE_TEST_SUITE_P(
    Alphabets, LetterCase,
    ::testing::Values(CasePair{"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"},
                      CasePair{"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдежзийклмнопрстуфхцчшщъыьэюя"},
                      CasePair{"ЁЎЄЇІҐЂЃЉЊЌЋЏЈЅ", "ёўєїіґђѓљњќћџјѕ"}));

TEST(LetterCase, NonLettersUnchanged)
{
    const Bytes others = W("0123456789 .,!?-~№«»µ§©®°±¶·€™‚„…†‡‰‹›‘’“”•–—¤¦¬") + "\x98\xA0\xAD";
    EXPECT_EQ(cp1251::upper(others), others);
    EXPECT_EQ(cp1251::lower(others), others);
}

TEST(LetterCase, CaseChangeIsConsistentOverAllBytes)
{
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const char up = cp1251::toUpper(c), low = cp1251::toLower(c);
        // A byte is at most one of: changed by upper, changed by lower.
        EXPECT_FALSE(up != c && low != c) << i;
        if (up != c) {
            EXPECT_EQ(cp1251::toLower(up), c) << i;
        }
        if (low != c) {
            EXPECT_EQ(cp1251::toUpper(low), c) << i;
        }
    }
}

// ---- replaceAll and decimal ----

struct Replacement {
    const char *text, *from, *to, *expected;
};

class ReplaceAll : public ::testing::TestWithParam<Replacement> {};

TEST_P(ReplaceAll, LeftToRightNonOverlapping)
{
    const auto &p = GetParam();
    EXPECT_EQ(replaceAll(p.text, p.from, p.to), p.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceAll,
                         ::testing::Values(Replacement{"~~~~~", "~~", "\r\n", "\r\n\r\n~"},
                                           Replacement{"a\rb\nc", "\r\n", "~~", "a\rb\nc"},
                                           Replacement{"", "~~", "x", ""}, Replacement{"abc", "", "x", "abc"},
                                           Replacement{"aaa", "a", "aa", "aaaaaa"}));

TEST(Decimal, SignedTexts)
{
    EXPECT_EQ(decimal(0), "0");
    EXPECT_EQ(decimal(79), "79");
    EXPECT_EQ(decimal(-1), "-1");
    EXPECT_EQ(decimal(2147483647), "2147483647");
    EXPECT_EQ(decimal(-2147483648LL), "-2147483648");
    EXPECT_EQ(decimal(LLONG_MIN), "-9223372036854775808");
}

// ---- error messages ----

TEST(Errors, InOutMessagesByCode)
{
    const std::pair<int, const char *> table[] = {{2, "Файл не найден"},
                                                  {3, "Неверное имя файла"},
                                                  {4, "Слишком много открытых файлов"},
                                                  {5, "В доступе к файлу отказано"},
                                                  {100, "Чтение за окончанием файла"},
                                                  {101, "Диск полон"},
                                                  {106, "Неверный ввод числа"},
                                                  {32, "Ошибка ввода/вывода 32"},
                                                  {0, "Ошибка ввода/вывода 0"},
                                                  {-7, "Ошибка ввода/вывода -7"}};
    for (auto [code, text] : table) {
        EInOutError e(code);
        EXPECT_EQ(e.code(), code);
        EXPECT_EQ(e.message(), W(text)) << code;
    }
}

TEST(Errors, ErrnoMapping)
{
    const std::pair<int, int> table[]
        = {{ENOENT, 2},   {ENOTDIR, 3},  {ENAMETOOLONG, 3}, {EINVAL, 3},   {EISDIR, 3},
           {EMFILE, 4},   {ENFILE, 4},   {EACCES, 5},       {EPERM, 5},    {EROFS, 5},
           {ENOSPC, 101}, {EDQUOT, 101}, {EFBIG, 101},      {EBUSY, 32},   {ETXTBSY, 32},
           {EAGAIN, 32},  {ELOOP, 3},    {EIO, 31},         {EXDEV, EXDEV}};
    for (auto [err, code] : table)
        EXPECT_EQ(EInOutError::codeFromErrno(err), code) << err;
    // No other system code may pose as a classic one ("Диск полон" for an
    // unreachable network, "access denied" for a failing disk).
    for (int err = 1; err < 200; ++err) {
        if (std::any_of(std::begin(table), std::end(table), [err](auto p) { return p.first == err; }))
            continue;
        const int code = EInOutError::codeFromErrno(err);
        for (int classic : {2, 3, 4, 5, 100, 101, 106})
            EXPECT_NE(code, classic) << "errno " << err;
    }
    EXPECT_EQ(EInOutError::fromErrno(ENOSPC).message(), W("Диск полон"));
}

TEST(Errors, OtherMessages)
{
    EXPECT_EQ(EConvertError(" 3x").message(), W("' 3x' - неверное целое значение"));
    EXPECT_EQ(EFOpenError("/a/data.dat").message(), W("Не могу открыть файл /a/data.dat"));
    EXPECT_EQ(EFCreateError("/a/data.dat").message(), W("Не могу создать файл /a/data.dat"));
    EXPECT_EQ(EReadError().message(), W("Ошибка чтения потока"));
    EXPECT_EQ(EWriteError().message(), W("Ошибка записи потока"));
    EXPECT_EQ(EOutlineLevelError(2, "B").message(), W("Неверный уровень (2) для элемента \"B\""));
    EXPECT_EQ(ESettingsWriteError("/a/x.ini").message(), W("Не могу записать в /a/x.ini"));
    EXPECT_EQ(ENotRegularFile("/a/x.ini").message(), W("Файл /a/x.ini не является обычным файлом"));
}

// A file name keeps the system's bytes inside the Windows-1251 message; the
// terminal text converts only the rest.
TEST(Errors, FileNamesAreLocatedAndPrintReadably)
{
    const std::string path = "/tmp/Каталог/data.bak"; // UTF-8, as the system spells it
    const std::pair<Error, std::string> table[]
        = {{EFOpenError(path), "Не могу открыть файл " + path},
           {EFCreateError(path), "Не могу создать файл " + path},
           {ESettingsWriteError(path), "Не могу записать в " + path},
           {ENotRegularFile(path), "Файл " + path + " не является обычным файлом"}};
    for (const auto &[e, utf8] : table) {
        EXPECT_EQ(e.message().substr(e.pathOffset(), e.pathLength()), path);
        EXPECT_EQ(messageUtf8(e), utf8);
    }
    const EReadError plain;
    EXPECT_EQ(plain.pathOffset(), Bytes::npos);
    EXPECT_EQ(messageUtf8(plain), "Ошибка чтения потока");
}

// File content in a message is cut after 80 characters, with "…" after.
TEST(Errors, QuotedTextIsCutAtEightyCharacters)
{
    const std::string ellipsis = "\x85";
    EXPECT_EQ(clipQuoted(std::string(80, 'a')), std::string(80, 'a'));
    EXPECT_EQ(clipQuoted(std::string(81, 'a')), std::string(80, 'a') + ellipsis);
    EXPECT_EQ(EConvertError(std::string(5000, '7')).message(),
              "'" + std::string(80, '7') + ellipsis + W("' - неверное целое значение"));
    EXPECT_EQ(EOutlineLevelError(4, std::string(100, 'c')).message(),
              W("Неверный уровень (4) для элемента \"") + std::string(80, 'c') + ellipsis + "\"");
    EXPECT_EQ(cp1251::toUtf8(ellipsis), "…");
}

TEST(Errors, BoxTextFullStop)
{
    const std::pair<Bytes, Bytes> table[]
        = {{"abc", "abc."},
           {"abc.", "abc."},
           {"", ""},
           {"x!", "x!"},
           {"x)", "x)"},
           {"x\"", "x\""},
           {"x-", "x-"},
           {"x/", "x/."},
           {"x0", "x0."},
           {"x'", "x'"},
           {W("Диск полон"), W("Диск полон.")}, // bytes above 0x7F sort after '.'
           {W("значение»"), W("значение».")}};
    for (const auto &[in, out] : table)
        EXPECT_EQ(errorBoxText(in), out) << in;
}

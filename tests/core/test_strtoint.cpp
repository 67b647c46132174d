// The integer syntax shared by the catalogue files and the settings.
#include "catalog/Errors.h"
#include "catalog/StrToInt.h"

#include <gtest/gtest.h>

#include <string>

using namespace qv;

namespace {

struct Valid {
    std::string text;
    int32_t value;
};

void PrintTo(const Valid &v, std::ostream *os) { *os << '"' << v.text << '"'; }

class StrToIntValid : public ::testing::TestWithParam<Valid> {};
class StrToIntInvalid : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(StrToIntValid, Converts)
{
    const auto &p = GetParam();
    EXPECT_EQ(tryStrToInt(p.text), p.value);
    EXPECT_EQ(strToInt(p.text), p.value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntValid,
    ::testing::Values(Valid{"0", 0}, Valid{"3", 3}, Valid{" 3", 3}, Valid{"   3", 3}, Valid{"+3", 3},
                      Valid{"-3", -3}, Valid{"007", 7}, Valid{"-0", 0}, Valid{"+0", 0}, Valid{"$3", 3},
                      Valid{"x3", 3}, Valid{"X3", 3}, Valid{"0x3", 3}, Valid{"0X3", 3}, Valid{" $ff", 255},
                      Valid{"$Ff", 255}, Valid{"0xaBcDeF", 0xABCDEF}, Valid{"2147483647", 2147483647},
                      Valid{"-2147483648", -2147483647 - 1}, Valid{"+2147483647", 2147483647},
                      Valid{"000000000002147483647", 2147483647},
                      Valid{"-00000000000000000000002147483648", -2147483647 - 1}, Valid{"$FFFFFFFF", -1},
                      Valid{"$80000005", -2147483643}, Valid{"$7FFFFFFF", 2147483647},
                      Valid{"$000000000FF", 255}, Valid{"0x000000000FF", 255}, Valid{"$0000000000000001", 1},
                      Valid{"x00000000", 0}, Valid{"00", 0}));

TEST_P(StrToIntInvalid, RaisesConvertErrorQuotingWholeText)
{
    const std::string &text = GetParam();
    EXPECT_EQ(tryStrToInt(text), std::nullopt);
    try {
        strToInt(text);
        ADD_FAILURE() << "no error for \"" << text << '"';
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.message(), "'" + text + W("' - неверное целое значение"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StrToIntInvalid,
    ::testing::Values("", " ", "   ", "+", "-", "$", "x", "X", "0x", "0X", "3 ", "3\t", "3\r", "3\n", "\t3",
                      "3.0", "- 3", "+ 3", "3-", "--3", "+-3", "-$3", "+$3", "-0x3", "$-3", "$ 3", "0x 3",
                      "$3 ", "$G", "0xg", "1e3", "x$3", "00x3", "0$3", "000000000FF", "2147483648",
                      "-2147483649", "+2147483648", "99999999999999999999999999999999999999",
                      "-99999999999999999999999999999999", "$100000000", "0x1FFFFFFFF", "$123456789",
                      "\xEF\xBB\xBF"
                      "1",
                      "1\nA", "three"));

TEST(StrToInt, ManyDigitsDoNotOverflow)
{
    EXPECT_EQ(tryStrToInt(std::string(100000, '9')), std::nullopt);
    EXPECT_EQ(tryStrToInt(std::string(100000, '0') + "42"), 42);
    EXPECT_EQ(tryStrToInt("$" + std::string(100000, '0') + "ABCDEF01"), int32_t(0xABCDEF01u));
}

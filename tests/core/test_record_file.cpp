// "text.dat": exact bytes written, the line rules of the reader (over memory
// and over a file read in chunks), the count line and its failures.
#include "catalog/Errors.h"
#include "catalog/RecordTable.h"
#include "catalog/StrToInt.h"
#include "storage/RecordFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

using namespace qv;
using qvtest::TempDir;

namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows rowsOf(const RecordTable &t)
{
    Rows out;
    for (size_t i = 0; i < t.size(); ++i)
        out.push_back({Bytes(t.at(i).section), Bytes(t.at(i).text), Bytes(t.at(i).icons)});
    return out;
}

void fill(RecordTable &t, const Rows &rows)
{
    for (const auto &r : rows)
        t.append(r[0], r[1], r[2]);
}

struct ReadCase {
    const char *name;
    std::string bytes;
    Rows rows;
    std::string error;   // UTF-8 message; empty when the read succeeds
    long long stop = -1; // where the read left bytes unread, -1 when it read them all
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

class RecordRead : public ::testing::TestWithParam<ReadCase> {};

std::string convertError(const std::string &text) { return "'" + text + "' - неверное целое значение"; }

const std::string kSub = "\x1A";

} // namespace

// Every case runs over memory and over a file on disk; both must agree.
TEST_P(RecordRead, RowsOrError)
{
    const ReadCase &c = GetParam();
    TempDir dir;
    const std::string path = dir.file("text.dat");
    qvtest::writeFile(path, c.bytes);

    for (int fromFile = 0; fromFile < 2; ++fromFile) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        RecordTable t;
        std::string error;
        std::optional<uint64_t> stop;
        try {
            stop = fromFile ? readRecordFile(path, t) : parseRecords(c.bytes, t);
        } catch (const EConvertError &e) {
            error = cp1251::toUtf8(e.message());
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(rowsOf(t), c.rows);
        EXPECT_EQ(stop ? static_cast<long long>(*stop) : -1, c.stop);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, RecordRead,
    ::testing::Values(
        ReadCase{"EmptyTable", "0\r\n", {}, ""},
        ReadCase{"OneRecord11Bytes", "1\r\nA\r\n\r\n0\r\n", {{"A", "", "0"}}, ""},
        ReadCase{"NoFinalLineEnd", "1\r\nA\r\n\r\n0", {{"A", "", "0"}}, ""},
        ReadCase{"LoneCrLineEnds", "2\rA\rt\r7\rB\r\r1\r", {{"A", "t", "7"}, {"B", "", "1"}}, ""},
        ReadCase{"EncodedBreaksUntouched", "1\r\ns\r\na~~~b\r\n5\r\n", {{"s", "a~~~b", "5"}}, ""},
        ReadCase{"LoneLfIsContent", "1\r\nse\nc\r\nx\ny\n\r\n3\r\n", {{"se\nc", "x\ny\n", "3"}}, ""},
        ReadCase{"NulIsContent",
                 std::string("1\r\nA\0B\r\n\0\r\n0\r\n", 14),
                 {{std::string("A\0B", 3), std::string("\0", 1), "0"}},
                 ""},
        ReadCase{"LoneCrShiftsFields",
                 "2\r\nA\r\nt1\rt2\r\n0\r\nB\r\nx\r\n1\r\n",
                 {{"A", "t1", "t2"}, {"0", "B", "x"}},
                 "",
                 22},
        ReadCase{"SubEndsAllData",
                 "2\r\nA\r\nab" + kSub + "cd\r\n0\r\nB\r\nx\r\n1\r\n",
                 {{"A", "ab", ""}, {"", "", ""}},
                 "",
                 8},
        ReadCase{
            "SubAfterLineEnd", "2\r\nA\r\nt\r\n" + kSub + "\r\nB\r\n", {{"A", "t", ""}, {"", "", ""}}, "", 9},
        ReadCase{"SubInCountLine", "1" + kSub + "\r\nA\r\n\r\n0\r\n", {{"", "", ""}}, "", 1},
        ReadCase{"SubThenPaddingAtTheEnd",
                 "2\r\nA\r\n" + kSub + std::string("\r\n\0", 3),
                 {{"A", "", ""}, {"", "", ""}},
                 ""},
        ReadCase{"SubFirst", kSub + "1\r\n", {}, convertError("")},
        ReadCase{"CountLargerThanRecords",
                 "3\r\nA\r\nt\r\n1\r\n",
                 {{"A", "t", "1"}, {"", "", ""}, {"", "", ""}},
                 ""},
        ReadCase{"LastRecordCut", "2\r\nA\r\nt\r\n1\r\nB\r\n", {{"A", "t", "1"}, {"B", "", ""}}, ""},
        ReadCase{"CrAtPhysicalEnd", "1\r\nA\r", {{"A", "", ""}}, ""},
        // Records past the count are left unread, a 0x1A after the last one
        // too; padding and line ends after it are not.
        ReadCase{
            "LinesAfterLastRecordUnread", "1\r\nA\r\n\r\n0\r\nB\r\nt\r\n1\r\n", {{"A", "", "0"}}, "", 11},
        ReadCase{"SubAfterLastRecord", "1\r\nA\r\n\r\n0\r\n" + kSub + "B\r\n", {{"A", "", "0"}}, "", 11},
        ReadCase{"PaddingAfterLastRecord",
                 "1\r\nA\r\n\r\n0\r\n" + kSub + std::string("\r\n\0\0", 4),
                 {{"A", "", "0"}},
                 ""},
        ReadCase{"CountZeroLeavesRestUnread", "0\r\nA\r\n\r\n0\r\n", {}, "", 3},
        ReadCase{"NegativeCount", "-2\r\nA\r\n\r\n0\r\n", {}, "", 4},
        ReadCase{"BlankThenThree",
                 " 3\r\na\r\n\r\n0\r\nb\r\n\r\n1\r\nc\r\n\r\n2\r\n",
                 {{"a", "", "0"}, {"b", "", "1"}, {"c", "", "2"}},
                 ""},
        ReadCase{"HexCount", "$1\r\nA\r\n\r\n0\r\n", {{"A", "", "0"}}, ""},
        ReadCase{"IconsNotValidated", "1\r\nA\r\n\r\nabc\r\n", {{"A", "", "abc"}}, ""},
        ReadCase{"BlanksKept", "1\r\n A \r\n t \r\n 0 \r\n", {{" A ", " t ", " 0 "}}, ""},
        ReadCase{"Cyrillic",
                 "1\r\n\xD3\xE7\xE5\xEB\r\n\xCF\xF0\xE8\xE2\xE5\xF2\r\n12\r\n",
                 {{"\xD3\xE7\xE5\xEB", "\xCF\xF0\xE8\xE2\xE5\xF2", "12"}},
                 ""},
        // Conversion failures: nothing appended, the whole line quoted.
        ReadCase{"EmptyFile", "", {}, convertError("")},
        ReadCase{"EmptyCountLine", "\r\nA\r\n\r\n0\r\n", {}, convertError("")},
        ReadCase{"LfOnlyFile", "1\nA\n\n0\n", {}, convertError("1\nA\n\n0\n")},
        ReadCase{"Utf8Bom",
                 "\xEF\xBB\xBF"
                 "1\r\nA\r\n\r\n0\r\n",
                 {},
                 convertError("п»ї1")},
        ReadCase{"TrailingBlank", "3 \r\n", {}, convertError("3 ")},
        ReadCase{"LeadingBlanksQuoted", "  x\r\n", {}, convertError("  x")},
        // A count line too long to be valid is refused, quoted in part.
        ReadCase{"LongCountLine",
                 std::string(kMaxNumberLine + 1, '7') + "\r\n",
                 {},
                 convertError(std::string(80, '7') + "…")},
        // An icons line is only converted by the join: read whole.
        ReadCase{"LongIconsLine",
                 "2\r\nA\r\n\r\n0\r\nB\r\n\r\n" + std::string(3 << 20, '1'),
                 {{"A", "", "0"}, {"B", "", std::string(3 << 20, '1')}},
                 ""}));

TEST(RecordRead, HugeCountWithThreeRecordsIsBounded)
{
    const std::string bytes = "2147483647\r\na\r\n1\r\n0\r\nb\r\n2\r\n0\r\nc\r\n3\r\n0\r\n";
    TempDir dir;
    qvtest::writeFile(dir.file("text.dat"), bytes);
    for (int fromFile = 0; fromFile < 2; ++fromFile) {
        RecordTable t;
        if (fromFile)
            readRecordFile(dir.file("text.dat"), t);
        else
            parseRecords(bytes, t);
        ASSERT_EQ(t.size(), 3 + kMaxEmptyTrailingRecords);
        EXPECT_EQ(rowsOf(t)[2], (std::vector<std::string>{"c", "3", "0"}));
        for (size_t i = 3; i < t.size(); ++i)
            ASSERT_TRUE(t.at(i).section.empty() && t.at(i).text.empty() && t.at(i).icons.empty());
    }
}

// A line end or the end-of-data mark falling on, before or after the edge
// of the reader's 1 MiB chunks.
class RecordChunkEdge : public ::testing::TestWithParam<int> {};

TEST_P(RecordChunkEdge, CrLfAcrossChunkEdge)
{
    TempDir dir;
    const std::string path = dir.file("text.dat");
    const size_t edge = size_t(1) << 20;
    // "1\r\nA\r\n" is six bytes; the text's CR lands at edge - 1 + shift.
    const std::string text(size_t(long(edge) - 7 + GetParam()), 'x');
    qvtest::writeFile(path, "1\r\nA\r\n" + text + "\r\n7\r\n");
    RecordTable t;
    readRecordFile(path, t);
    EXPECT_EQ(rowsOf(t), (Rows{{"A", text, "7"}}));
}

TEST_P(RecordChunkEdge, SubAcrossChunkEdge)
{
    TempDir dir;
    const std::string path = dir.file("text.dat");
    const size_t edge = size_t(1) << 20;
    const std::string text(size_t(long(edge) - 6 + GetParam()), 'y');
    qvtest::writeFile(path, "2\r\nA\r\n" + text + kSub + "\r\n7\r\nB\r\n\r\n1\r\n");
    RecordTable t;
    readRecordFile(path, t);
    EXPECT_EQ(rowsOf(t), (Rows{{"A", text, ""}, {"", "", ""}}));
}

INSTANTIATE_TEST_SUITE_P(Shifts, RecordChunkEdge, ::testing::Values(-2, -1, 0, 1, 2));

TEST(RecordRead, LongLinesReadWhole)
{
    TempDir dir;
    const std::string path = dir.file("text.dat");
    const std::string text(100000, 'z'), longer(3 * (1 << 20) + 17, 'q');
    qvtest::writeFile(path, "2\r\nA\r\n" + text + "\r\n0\r\nB\r\n" + longer + "\r\n1");
    RecordTable t;
    readRecordFile(path, t);
    EXPECT_EQ(rowsOf(t), (Rows{{"A", text, "0"}, {"B", longer, "1"}}));
}

TEST(RecordRead, OpenFailuresRaiseInOutError)
{
    TempDir dir;
    RecordTable t;
    try {
        readRecordFile(dir.file("text.dat"), t);
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.code(), 2);
        EXPECT_EQ(e.message(), W("Файл не найден"));
    }
}

// ---- writing ----

namespace {

struct RecordWriteCase {
    const char *name;
    Rows rows;
    std::string bytes;
    Rows readBack; // what a read of those bytes gives
};

void PrintTo(const RecordWriteCase &c, std::ostream *os) { *os << c.name; }

class RecordWrite : public ::testing::TestWithParam<RecordWriteCase> {};

} // namespace

TEST_P(RecordWrite, ExactBytesAndBack)
{
    const RecordWriteCase &c = GetParam();
    TempDir dir;
    const std::string path = dir.file("text.dat");
    RecordTable t;
    fill(t, c.rows);
    writeRecordFile(path, t);
    EXPECT_EQ(qvtest::readFile(path), c.bytes);
    RecordTable back;
    readRecordFile(path, back);
    EXPECT_EQ(rowsOf(back), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, RecordWrite,
    ::testing::Values(
        RecordWriteCase{"Empty", {}, "0\r\n", {}},
        RecordWriteCase{"OneRecord11Bytes", {{"A", "", "0"}}, "1\r\nA\r\n\r\n0\r\n", {{"A", "", "0"}}},
        RecordWriteCase{"EncodedBreaks",
                        {{"n", "a~~b", "1"}, {"m", "a~~~b", "2"}},
                        "2\r\nn\r\na~~b\r\n1\r\nm\r\na~~~b\r\n2\r\n",
                        {{"n", "a~~b", "1"}, {"m", "a~~~b", "2"}}},
        RecordWriteCase{"DuplicatesAndEmpties",
                        {{"s", "", ""}, {"s", "x", ""}, {"", "", ""}},
                        "3\r\ns\r\n\r\n\r\ns\r\nx\r\n\r\n\r\n\r\n\r\n",
                        {{"s", "", ""}, {"s", "x", ""}, {"", "", ""}}},
        RecordWriteCase{
            "LoneLfKept", {{"a\nb", "c\n", "0"}}, "1\r\na\nb\r\nc\n\r\n0\r\n", {{"a\nb", "c\n", "0"}}},
        RecordWriteCase{"CrAndSubBecomeQuestionMarks",
                        {{"a\rb",
                          "c\x1A"
                          "d\r",
                          "1\x1A"}},
                        "1\r\na?b\r\nc?d?\r\n1?\r\n",
                        {{"a?b", "c?d?", "1?"}}},
        RecordWriteCase{"CrLfInTextKeepsLayout",
                        {{"s", "x\r\ny", "0"}, {"t", "", "1"}},
                        "2\r\ns\r\nx?\ny\r\n0\r\nt\r\n\r\n1\r\n",
                        {{"s", "x?\ny", "0"}, {"t", "", "1"}}}));

TEST(RecordWrite, UnwritableTargetRaisesInOutError)
{
    TempDir dir;
    RecordTable t;
    t.append("A", "", "0");
    EXPECT_THROW(writeRecordFile(dir.file("missing/text.dat"), t), EInOutError);
}

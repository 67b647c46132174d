// The file sequence around the catalogue: backups, load with the icon join,
// save, and what happens to the files when something fails.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "catalog/StrToInt.h"
#include "settings/SettingsFile.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using qvtest::TempDir;

namespace {

// Seconds since the epoch of a local date and time.
int64_t localTime(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

std::string localStamp(int64_t t)
{
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d-%H%M%S", &tm);
    return buf;
}

std::string largeOutline()
{
    std::string s;
    for (int i = 0; s.size() < 200000; ++i)
        s += "node " + std::to_string(i) + "\r\n";
    return s;
}

} // namespace

TEST(CatalogFilesTest, BaseDirectoryOfExecutable)
{
    EXPECT_EQ(baseDirectoryOf("/opt/quorvel/bin/quorvel"), "/opt/quorvel/bin/");
    EXPECT_EQ(baseDirectoryOf("/quorvel"), "/");
    EXPECT_EQ(baseDirectoryOf("quorvel"), "./");
    CatalogFiles files("/x/");
    EXPECT_EQ(files.outlinePath(), "/x/data.dat");
    EXPECT_EQ(files.recordBackupPath(), "/x/text.bak");
}

TEST(CatalogFilesTest, FirstRunInEmptyDirectory)
{
    TempDir dir;
    CatalogFiles files(dir.path());
    Catalog cat;
    files.makeBackups();
    EXPECT_EQ(qvtest::listing(dir.path()), "");
    files.load(cat);
    EXPECT_TRUE(files.loaded());
    EXPECT_FALSE(files.loadFailed());
    EXPECT_TRUE(cat.outline().empty());
    EXPECT_TRUE(cat.records().empty());
    cat.markChanged();
    files.save(cat);
    EXPECT_FALSE(cat.modified());
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), "0\r\n");
    EXPECT_TRUE(fileExists(dir.file("data.dat")));
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "");
    EXPECT_EQ(qvtest::listing(dir.path()), "data.dat text.dat");
}

TEST(CatalogFilesTest, BackupsAreByteCopiesWithTheSourceTimeAtTwoSeconds)
{
    TempDir dir;
    const std::string outline = largeOutline(); // several copy chunks
    const std::string records = std::string("1\r\nA\r\nx\0y\r\n0\r\n", 15);
    qvtest::writeFile(dir.file("data.dat"), outline);
    qvtest::writeFile(dir.file("text.dat"), records);
    qvtest::writeFile(dir.file("data.bak"), "stale backup, longer than nothing");
    const int64_t odd = localTime(2021, 5, 6, 12, 34, 57);
    const int64_t even = localTime(2019, 1, 2, 3, 4, 6);
    qvtest::setMtime(dir.file("data.dat"), odd, 987654321);
    qvtest::setMtime(dir.file("text.dat"), even, 5);

    CatalogFiles(dir.path()).makeBackups();

    EXPECT_EQ(qvtest::readFile(dir.file("data.bak")), outline);
    EXPECT_EQ(qvtest::readFile(dir.file("text.bak")), records);
    EXPECT_EQ(qvtest::mtimeNs(dir.file("data.bak")), (odd - 1) * 1000000000LL);
    EXPECT_EQ(qvtest::mtimeNs(dir.file("text.bak")), even * 1000000000LL);
    // The sources are untouched.
    EXPECT_EQ(qvtest::mtimeNs(dir.file("data.dat")), odd * 1000000000LL + 987654321);
    EXPECT_EQ(qvtest::listing(dir.path()), "data.bak data.dat text.bak text.dat");
}

TEST(CatalogFilesTest, BackupOfOnlyThePresentFileAndTimeOutsideDosRange)
{
    TempDir dir;
    qvtest::writeFile(dir.file("text.dat"), "");
    const int64_t old = localTime(1975, 3, 3, 10, 0, 0);
    qvtest::setMtime(dir.file("text.dat"), old);
    CatalogFiles(dir.path()).makeBackups();
    EXPECT_EQ(qvtest::listing(dir.path()), "text.bak text.dat");
    EXPECT_EQ(qvtest::readFile(dir.file("text.bak")), "");
    // A time the packed form cannot hold is not copied.
    EXPECT_NE(qvtest::mtimeNs(dir.file("text.bak")), old * 1000000000LL);
}

TEST(CatalogFilesTest, BackupErrorsNameTheFileAndKeepTheOldBackup)
{
    TempDir dir;
    qvtest::writeFile(dir.file("text.dat"), "0\r\n", 0000);
    qvtest::writeFile(dir.file("data.dat"), "A\r\n", 0666);
    qvtest::writeFile(dir.file("data.bak"), "old backup", 0444);
    qvtest::runAsNobody([&] {
        CatalogFiles files(dir.path());
        try {
            files.makeBackups();
            ADD_FAILURE() << "an unreadable text.dat was copied";
        } catch (const EFOpenError &e) {
            EXPECT_EQ(e.message(), W("Не могу открыть файл ") + dir.file("text.dat"));
        }
        try {
            backupCopy(dir.file("data.dat"), dir.file("data.bak"));
            ADD_FAILURE() << "a read-only data.bak was replaced";
        } catch (const EFCreateError &e) {
            EXPECT_EQ(e.message(), W("Не могу создать файл ") + dir.file("data.bak"));
        }
    });
    EXPECT_EQ(qvtest::readFile(dir.file("data.bak")), "old backup");
    EXPECT_FALSE(fileExists(dir.file("text.bak")));

    ::chmod(dir.file("data.bak").c_str(), 0644);
    qvtest::writeFile(dir.file("data.dat"), largeOutline());
    os::failAfter(70000, ENOSPC);
    try {
        backupCopy(dir.file("data.dat"), dir.file("data.bak"));
        ADD_FAILURE() << "a copy onto a full disk was reported as done";
    } catch (const EWriteError &e) {
        EXPECT_EQ(e.message(), W("Ошибка записи потока"));
    }
    EXPECT_EQ(qvtest::readFile(dir.file("data.bak")), "old backup");
    EXPECT_EQ(qvtest::listing(dir.path()), "data.bak data.dat text.dat");
}

TEST(CatalogFilesTest, LoadJoinsIconsFirstRecordWinsAndLeavesFlagClear)
{
    TempDir dir;
    qvtest::writeFile(dir.file("data.dat"), "A\r\n\tB\r\nC\r\n");
    qvtest::writeFile(dir.file("text.dat"),
                      "4\r\nB\r\nnote b\r\n7\r\nA\r\n\r\n$10\r\n"
                      "B\r\nsecond\r\n9\r\nOrphan\r\nx\r\n3\r\n");
    CatalogFiles files(dir.path());
    Catalog cat;
    files.load(cat);
    EXPECT_FALSE(files.loadFailed());
    EXPECT_FALSE(cat.modified());
    ASSERT_EQ(cat.outline().nodeCount(), 3u);
    EXPECT_EQ(cat.outline().at(0)->imageIndex(), 16);
    EXPECT_EQ(cat.outline().at(1)->imageIndex(), 7);
    EXPECT_EQ(cat.outline().at(1)->selectedImageIndex(), 7);
    EXPECT_EQ(cat.outline().at(2)->imageIndex(), 0); // no record
    EXPECT_EQ(cat.records().size(), 4u);

    // Saving unchanged writes the files back as the program writes them.
    files.save(cat);
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "A\r\n\tB\r\nC\r\n");
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")),
              "4\r\nB\r\nnote b\r\n7\r\nA\r\n\r\n$10\r\n"
              "B\r\nsecond\r\n9\r\nOrphan\r\nx\r\n3\r\n");
}

TEST(CatalogFilesTest, BadIconsFieldStopsTheLoadWithConversionError)
{
    // Not a number; a number, but longer than the join converts.
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "'abc' - неверное целое значение"},
        {std::string(kMaxNumberLine + 1, '0'), "'" + std::string(80, '0') + "…' - неверное целое значение"}};
    for (const auto &[icons, message] : cases) {
        TempDir dir;
        qvtest::writeFile(dir.file("data.dat"), "A\r\n");
        qvtest::writeFile(dir.file("text.dat"), "1\r\nA\r\n\r\n" + icons + "\r\n");
        CatalogFiles files(dir.path());
        Catalog cat;
        try {
            files.load(cat);
            ADD_FAILURE() << "the load should stop";
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.message(), W(message));
        }
        EXPECT_TRUE(files.loaded());
        EXPECT_TRUE(files.loadFailed());
        EXPECT_TRUE(files.joinFailed());
        EXPECT_FALSE(cat.modified());
    }
}

// Only the join converts an icons field: a record no node shows loads and
// is saved back as it was, whatever its icons line holds.
TEST(CatalogFilesTest, LongIconsLineOfAnUnshownRecordRoundTrips)
{
    TempDir dir;
    const std::string records = "2\r\nA\r\nnote\r\n" + std::string(kMaxNumberLine - 1, '0')
        + "5\r\nOrphan\r\n\r\n" + std::string(3 << 20, '7') + "\r\n";
    qvtest::writeFile(dir.file("data.dat"), "A\r\n");
    qvtest::writeFile(dir.file("text.dat"), records);
    CatalogFiles files(dir.path());
    Catalog cat;
    files.load(cat);
    EXPECT_EQ(cat.outline().at(0)->imageIndex(), 5);
    cat.markChanged();
    files.save(cat);
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), records);
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "A\r\n");
}

TEST(CatalogFilesTest, RecordFileIsReadEvenWithoutOutlineFile)
{
    TempDir dir;
    const std::string records = "2\r\nA\r\nkeep~~me\r\n3\r\nB\r\n\r\n0\r\n";
    qvtest::writeFile(dir.file("text.dat"), records);
    CatalogFiles files(dir.path());
    Catalog cat;
    files.load(cat);
    EXPECT_TRUE(cat.outline().empty());
    ASSERT_EQ(cat.records().size(), 2u);
    EXPECT_EQ(cat.records().at(0).text, "keep~~me");
    files.save(cat);
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), records);
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "");
}

// ---- loads that leave part of the files out ----

namespace {

struct LoadCase {
    const char *name;
    std::string outline; // data.dat
    std::string records; // text.dat
    std::string partial; // "data.dat@6 text.dat@12" for partialReads()
    bool failed;         // the load raises
    bool keeps;          // the first save copies the originals aside
};
void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.name; }

class PartialOrFailedLoad : public ::testing::TestWithParam<LoadCase> {};

const std::string kRecords = "1\r\nA\r\nnote\r\n5\r\n";
const std::string kLongText(3 << 20, 'x'); // past the reader's 1 MiB chunks

} // namespace

// What the load reports, and what the first save keeps: copies of the
// originals made before anything replaces them, listed even when that save
// fails, never made twice, never written through a link in their place.
TEST_P(PartialOrFailedLoad, ReportsAndKeepsOriginalsAsCopies)
{
    const LoadCase &c = GetParam();
    TempDir dir, outside;
    qvtest::writeFile(dir.file("data.dat"), c.outline);
    qvtest::writeFile(dir.file("text.dat"), c.records);
    CatalogFiles files(dir.path());
    const int64_t now = localTime(2026, 12, 7, 8, 30, 15);
    files.setClock([now] { return now; });
    const std::string stamp = localStamp(now);
    ASSERT_EQ(stamp, "2026-12-07-083015");
    // A link planted at a dated name is neither followed nor replaced.
    qvtest::writeFile(outside.file("victim"), "victim");
    ASSERT_EQ(::symlink(outside.file("victim").c_str(), dir.file("data.dat.unread-" + stamp).c_str()), 0);

    Catalog cat;
    bool failed = false;
    try {
        files.load(cat);
    } catch (const Error &) {
        failed = true;
    }
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(files.loadFailed(), c.failed);
    std::string partial;
    for (const PartialRead &p : files.partialReads())
        partial += (partial.empty() ? "" : " ") + p.path.substr(dir.path().size()) + "@"
            + std::to_string(p.offset);
    EXPECT_EQ(partial, c.partial);
    EXPECT_EQ(files.keepsOriginals(), c.keeps);

    cat.markChanged();
    os::failAfter(0, ENOSPC, 0, "text.dat");
    EXPECT_THROW(files.save(cat), EInOutError);
    // The failed save left the originals where they were.
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), c.outline);
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), c.records);
    std::vector<std::string> expected;
    if (c.keeps)
        expected = {dir.file("data.dat.unread-" + stamp + "-1"), dir.file("text.dat.unread-" + stamp)};
    EXPECT_EQ(files.keptOriginals(), expected);
    for (const std::string &kept : expected)
        EXPECT_EQ(qvtest::readFile(kept), kept.find("data.dat") != std::string::npos ? c.outline : c.records);

    files.setClock([now] { return now + 60; });
    files.save(cat);
    files.save(cat);
    EXPECT_EQ(files.keptOriginals(), expected);
    EXPECT_FALSE(files.keepsOriginals());
    EXPECT_EQ(qvtest::listing(dir.path()).find(".unread-" + localStamp(now + 60)), std::string::npos);
    EXPECT_EQ(qvtest::readFile(outside.file("victim")), "victim");
}

INSTANTIATE_TEST_SUITE_P(
    Files, PartialOrFailedLoad,
    ::testing::Values(
        LoadCase{"Whole", "A\r\n", kRecords, "", false, false},
        LoadCase{"LevelError", "A\r\n\t\t\tdeep\r\nB\r\n", kRecords, "", true, true},
        // Only the join failed: every byte was read, but the save writes
        // the refused icons field anew.
        LoadCase{"JoinOnly", "A\r\n", "1\r\nA\r\n\r\nabc\r\n", "", true, true},
        LoadCase{"NulBeforeNodes", std::string("A\r\nB\r\n\0C\r\n", 10), kRecords, "data.dat@6", false, true},
        LoadCase{"NulBeforePaddingOnly", std::string("A\r\n\0\0\r\n\x1A", 8), kRecords, "", false, false},
        LoadCase{"SubBeforeRecords", "A\r\n",
                 "2\r\nA\r\nx\r\n1\r\n\x1A"
                 "B\r\ny\r\n2\r\n",
                 "text.dat@12", false, true},
        LoadCase{"SubAtTheEnd", "A\r\n", "3\r\nA\r\nx\r\n1\r\n\x1A\r\n", "", false, false},
        LoadCase{"RecordsPastTheCount", "A\r\n", "1\r\nA\r\nx\r\n1\r\nB\r\ny\r\n2\r\n", "text.dat@12", false,
                 true},
        LoadCase{"SubAfterLastRecord", "A\r\n",
                 "1\r\nA\r\nx\r\n1\r\n\x1A"
                 "B\r\ny\r\n2\r\n",
                 "text.dat@12", false, true},
        LoadCase{"SubPastChunkEdge", "A\r\n",
                 "1\r\nZ\r\n" + kLongText
                     + "\x1A"
                       "more",
                 "text.dat@" + std::to_string(6 + kLongText.size()), false, true},
        LoadCase{"BothFiles", std::string("A\r\n\0B", 5),
                 "2\r\nZ\r\n\x1A"
                 "B\r\n",
                 "data.dat@3 text.dat@6", false, true}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// The first save after a join that failed writes a pair the load takes
// whole: a shown record's refused icons field (empty when an early 0x1A cut
// it) becomes the icon its nodes show; an unshown one keeps its bytes.
TEST(CatalogFilesTest, SaveAfterAFailedJoinReadsBackWhole)
{
    struct Case {
        std::string outline, records, saved;
    };
    for (const Case &c :
         {Case{"A\r\nB\r\n",
               "2\r\nB\r\n\r\n7\r\nA\r\nab\x1A"
               "cd\r\n0\r\n",
               "2\r\nB\r\n\r\n7\r\nA\r\nab\r\n0\r\n"},
          Case{"A\r\n", "2\r\nA\r\n\r\nabc\r\nQ\r\n\r\nzz\r\n", "2\r\nA\r\n\r\n0\r\nQ\r\n\r\nzz\r\n"}}) {
        TempDir dir;
        qvtest::writeFile(dir.file("data.dat"), c.outline);
        qvtest::writeFile(dir.file("text.dat"), c.records);
        CatalogFiles files(dir.path());
        Catalog cat;
        EXPECT_THROW(files.load(cat), EConvertError);
        files.save(cat);
        EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), c.saved);
        EXPECT_EQ(files.keptOriginals().size(), 2u);
        Catalog back;
        CatalogFiles(dir.path()).load(back);
        EXPECT_EQ(back.outline().root(0)->imageIndex(), 0);
    }
    // A caption the outline file writes masked ("A\x1A" as "A?") joins the
    // record of the masked name at the next load: that record's field too.
    TempDir dir;
    qvtest::writeFile(dir.file("data.dat"), "A\x1A\r\n");
    qvtest::writeFile(dir.file("text.dat"), "1\r\nA?\r\nnote\r\nz\r\n");
    Catalog cat;
    CatalogFiles(dir.path()).load(cat);
    CatalogFiles(dir.path()).save(cat);
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), "1\r\nA?\r\nnote\r\n0\r\n");
    Catalog back;
    EXPECT_NO_THROW(CatalogFiles(dir.path()).load(back));
}

// An original the user may not read is moved aside whole rather than
// blocking every save.
TEST(CatalogFilesTest, UnreadableOriginalIsMovedAside)
{
    TempDir dir;
    qvtest::writeFile(dir.file("data.dat"), "A\r\n", 0200);
    qvtest::runAsNobody([&] {
        Catalog catalog;
        CatalogFiles files(dir.path());
        files.setClock([] { return int64_t(0); });
        EXPECT_THROW(files.load(catalog), EFOpenError);
        files.save(catalog);
        ASSERT_EQ(files.keptOriginals().size(), 1u);
        EXPECT_EQ(files.keptOriginals()[0], dir.file("data.dat.unread-") + dateStamp(0));
    });
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat.unread-") + dateStamp(0)), "A\r\n");
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "");
}

// A 2 GB sparse file is neither read whole nor held: data.dat stops at its
// first NUL (a hole is skipped when looking for data after it), text.dat's
// count line of NULs is refused once it is longer than any number.
TEST(CatalogFilesTest, SparseFilesReadWithBoundedMemory)
{
    TempDir dir;
    const off_t size = off_t(2) << 30;
    auto sparse = [&](const std::string &name, const std::string &head, const std::string &tail) {
        const int fd = ::open(dir.file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, head.data(), head.size()), ssize_t(head.size()));
        ASSERT_EQ(::ftruncate(fd, size - off_t(tail.size())), 0);
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - off_t(tail.size())), ssize_t(tail.size()));
        ::close(fd);
    };
    sparse("data.dat", "A\r\n", "\r\n");
    {
        CatalogFiles files(dir.path());
        Catalog cat;
        files.load(cat);
        EXPECT_EQ(cat.outline().nodeCount(), 1u);
        EXPECT_TRUE(files.partialReads().empty());
    }
    sparse("data.dat", "A\r\n", "B\r\n");
    sparse("text.dat", "", "");
    CatalogFiles files(dir.path());
    Catalog cat;
    try {
        files.load(cat);
        FAIL() << "a count line of NULs was accepted";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.message(), "'" + std::string(80, '\0') + "\x85" + W("' - неверное целое значение"));
    }
    ASSERT_EQ(files.partialReads().size(), 1u);
    EXPECT_EQ(files.partialReads()[0].offset, 3u);
    struct rusage usage {};
    ASSERT_EQ(::getrusage(RUSAGE_SELF, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 1L << 20) << "KiB at the peak"; // far below the 2 GB
}

// The copies of a sparse file, the backup and the original kept aside, keep
// its holes: they take no more disk than it does.
TEST(CatalogFilesTest, CopiesOfASparseFileKeepItsHoles)
{
    TempDir dir;
    const off_t size = off_t(64) << 20;
    const std::string head = "A\r\n", tail = "B\r\n";
    const int fd = ::open(dir.file("data.dat").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, head.data(), head.size()), ssize_t(head.size()));
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - off_t(tail.size())), ssize_t(tail.size()));
    ::close(fd);
    const std::string original = qvtest::readFile(dir.file("data.dat"));

    CatalogFiles files(dir.path());
    files.makeBackups();
    Catalog cat;
    files.load(cat);
    ASSERT_EQ(files.partialReads().size(), 1u);
    files.save(cat);
    ASSERT_EQ(files.keptOriginals().size(), 1u);
    for (const std::string &copy : {dir.file("data.bak"), files.keptOriginals()[0]}) {
        struct stat st {};
        ASSERT_EQ(::stat(copy.c_str(), &st), 0) << copy;
        EXPECT_LT(st.st_blocks * 512, 1 << 20) << copy;
        EXPECT_TRUE(qvtest::readFile(copy) == original) << copy;
    }
}

// ---- entries that are no regular file ----

namespace {

enum class Kind { Fifo, Directory, EndlessDevice };
void PrintTo(Kind k, std::ostream *os)
{
    *os << (k == Kind::Fifo ? "Fifo" : k == Kind::Directory ? "Directory" : "EndlessDevice");
}

void makeEntry(Kind kind, const std::string &path)
{
    switch (kind) {
    case Kind::Fifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
        break;
    case Kind::Directory:
        ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
        break;
    case Kind::EndlessDevice:
        ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
        break;
    }
}

template <typename Body>
void expectNotRegular(const std::string &path, Body &&body)
{
    try {
        body();
        ADD_FAILURE() << path << " was read";
    } catch (const ENotRegularFile &e) {
        EXPECT_EQ(e.message(), W("Файл ") + path + W(" не является обычным файлом"));
    }
}

class NotRegular : public ::testing::TestWithParam<Kind> {};

} // namespace

// Each reader refuses the entry by name at once: a blocking open or an
// endless read would hang here (the alarm ends the run instead).
TEST_P(NotRegular, EveryReaderRefusesItWithoutWaiting)
{
    ::alarm(60);
    for (const char *name : {"data.dat", "text.dat"}) {
        TempDir dir;
        const std::string path = dir.file(name);
        makeEntry(GetParam(), path);
        CatalogFiles files(dir.path());
        expectNotRegular(path, [&] { files.makeBackups(); });
        Catalog cat;
        expectNotRegular(path, [&] { files.load(cat); });
        EXPECT_TRUE(files.loadFailed());
        // Nothing was kept or written beside it, and it is still there.
        EXPECT_EQ(qvtest::listing(dir.path()), name);
        if (GetParam() == Kind::EndlessDevice) {
            // A link to outside the folder is replaced, never written through.
            EXPECT_NO_THROW(files.save(cat));
            EXPECT_TRUE(plainFileAt(path));
        } else {
            EXPECT_THROW(files.save(cat), Error);
            EXPECT_TRUE(entryExists(path));
            EXPECT_FALSE(plainFileAt(path));
        }
        EXPECT_TRUE(files.keptOriginals().empty());
    }
    TempDir dir;
    const std::string path = dir.file("Quorvel.ini");
    makeEntry(GetParam(), path);
    SettingsFile ini;
    ini.open(path);
    expectNotRegular(path, [&] { ini.readEntry("Base", "Backup", "1"); });
    EXPECT_THROW(ini.writeNumber("Base", "Backup", 1), ESettingsWriteError);
    EXPECT_FALSE(plainFileAt(path));
    ::alarm(0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotRegular,
                         ::testing::Values(Kind::Fifo, Kind::Directory, Kind::EndlessDevice));

// ---- backups ----

// A link in a backup's place is replaced by the backup; what it pointed to
// stays as it was.
TEST(CatalogFilesTest, BackupLinksAreReplacedNotFollowed)
{
    TempDir dir, outside;
    qvtest::writeFile(dir.file("data.dat"), "A\r\n");
    qvtest::writeFile(dir.file("text.dat"), "0\r\n");
    qvtest::writeFile(outside.file(".bashrc"), "the user's own");
    ASSERT_EQ(::symlink(outside.file(".bashrc").c_str(), dir.file("data.bak").c_str()), 0);
    ASSERT_EQ(::symlink(outside.file("missing").c_str(), dir.file("text.bak").c_str()), 0);
    CatalogFiles files(dir.path());
    files.makeBackups();
    EXPECT_EQ(qvtest::readFile(outside.file(".bashrc")), "the user's own");
    EXPECT_EQ(qvtest::listing(outside.path()), ".bashrc");
    EXPECT_TRUE(plainFileAt(dir.file("data.bak")));
    EXPECT_TRUE(plainFileAt(dir.file("text.bak")));
    EXPECT_EQ(qvtest::readFile(dir.file("data.bak")), "A\r\n");
    EXPECT_EQ(qvtest::readFile(dir.file("text.bak")), "0\r\n");
    EXPECT_TRUE(files.keptBackups().empty());
}

// Backups opened at start copy the files as they were then, even when a
// save has replaced them since; a backup that cannot be created stops them
// where they would stop one by one: the backup before it is made.
TEST(CatalogFilesTest, OpenedBackupsCopyTheFilesAsOpened)
{
    TempDir dir;
    qvtest::writeFile(dir.file("data.dat"), "A\n");
    qvtest::writeFile(dir.file("text.dat"), "0");
    CatalogFiles files(dir.path());
    const std::unique_ptr<BackupCopies> copies = files.openBackups();
    EXPECT_FALSE(fileExists(dir.file("text.bak")));
    Catalog catalog;
    files.load(catalog);
    files.save(catalog); // "A\r\n" and "0\r\n"
    copies->run();
    EXPECT_EQ(qvtest::readFile(dir.file("data.bak")), "A\n");
    EXPECT_EQ(qvtest::readFile(dir.file("text.bak")), "0");

    ASSERT_EQ(::unlink(dir.file("data.bak").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("data.bak").c_str(), 0755), 0);
    EXPECT_THROW(files.openBackups(), EFCreateError);
    EXPECT_EQ(qvtest::readFile(dir.file("text.bak")), "0\r\n");
    EXPECT_EQ(qvtest::listing(dir.path()), "data.bak data.dat text.bak text.dat");
}

namespace {

struct BackupCase {
    const char *name;
    std::string outline, records;
    std::string kept;       // the old backups kept aside, without their stamp
    bool sameAsOld = false; // the old backups hold the sources' bytes
};
void PrintTo(const BackupCase &c, std::ostream *os) { *os << c.name; }

class BackupOfDamagedSource : public ::testing::TestWithParam<BackupCase> {};

} // namespace

// A source that reads only in part or not at all does not replace a
// different old backup before that one is kept under a dated name.
TEST_P(BackupOfDamagedSource, KeepsTheOldBackupFirst)
{
    const BackupCase &c = GetParam();
    TempDir dir;
    const std::string oldOutline = c.sameAsOld ? c.outline : "old\r\noutline\r\n";
    const std::string oldRecords = c.sameAsOld ? c.records : "1\r\nold\r\n\r\n0\r\n";
    qvtest::writeFile(dir.file("data.dat"), c.outline);
    qvtest::writeFile(dir.file("text.dat"), c.records);
    qvtest::writeFile(dir.file("data.bak"), oldOutline);
    qvtest::writeFile(dir.file("text.bak"), oldRecords);
    CatalogFiles files(dir.path());
    const int64_t now = localTime(2026, 1, 2, 3, 4, 5);
    files.setClock([now] { return now; });
    files.makeBackups();

    EXPECT_EQ(qvtest::readFile(dir.file("data.bak")), c.outline);
    EXPECT_EQ(qvtest::readFile(dir.file("text.bak")), c.records);
    std::string kept;
    for (const std::string &name : files.keptBackups()) {
        kept += (kept.empty() ? "" : " ") + name.substr(dir.path().size(), 8);
        EXPECT_EQ(name.substr(dir.path().size() + 8), "." + localStamp(now));
        EXPECT_EQ(qvtest::readFile(name),
                  name.find("data.bak") != std::string::npos ? oldOutline : oldRecords);
    }
    EXPECT_EQ(kept, c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, BackupOfDamagedSource,
    ::testing::Values(BackupCase{"Whole", "A\r\n", "0\r\n", ""},
                      BackupCase{"OutlineStopsAtNul", std::string("A\r\n\0B\r\n", 7), "0\r\n", "data.bak"},
                      BackupCase{"OutlineLevelError", "A\r\n\t\tB\r\n", "0\r\n", "data.bak"},
                      BackupCase{"RecordsStopAtSub", "A\r\n",
                                 "2\r\nA\r\n\r\n0\x1A"
                                 "B\r\n",
                                 "text.bak"},
                      BackupCase{"RecordsConversionError", "A\r\n", "zz\r\n", "text.bak"},
                      // Damaged, but the old backups hold the same bytes: nothing to keep.
                      BackupCase{"DamagedSameAsOld", std::string("A\r\n\0B\r\n", 7), "zz\r\n", "", true}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(CatalogFilesTest, FailedRecordWriteLeavesBothFilesAndTheFlag)
{
    TempDir dir;
    qvtest::writeFile(dir.file("data.dat"), "Old\r\n");
    qvtest::writeFile(dir.file("text.dat"), "1\r\nOld\r\nold note\r\n2\r\n");
    CatalogFiles files(dir.path());
    Catalog cat;
    files.load(cat);
    cat.outline().append(cat.outline().top(), "New");
    cat.records().append("New", "new note", "0");
    cat.markChanged();

    os::failAfter(5, ENOSPC);
    try {
        files.save(cat);
        FAIL() << "the save should fail";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.message(), W("Диск полон"));
    }
    EXPECT_TRUE(cat.modified());
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), "1\r\nOld\r\nold note\r\n2\r\n");
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "Old\r\n");
    EXPECT_EQ(qvtest::listing(dir.path()), "data.dat text.dat");

    files.save(cat);
    EXPECT_FALSE(cat.modified());
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "Old\r\nNew\r\n");
}

// The file sequence around the catalogue: backups, load with the icon join,
// save, and what happens to the files when something fails.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>

using namespace qv;
using qvtest::TempDir;

namespace {

// Seconds since the epoch of a local date and time.
int64_t localTime(int y, int mo, int d, int h, int mi, int s)
{
    std::tm tm {};
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
    std::tm tm {};
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
    const std::string outline = largeOutline();  // several copy chunks
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
    AtomicFile::failAfter(70000, ENOSPC);
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
    qvtest::writeFile(dir.file("text.dat"), "4\r\nB\r\nnote b\r\n7\r\nA\r\n\r\n$10\r\n"
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
    EXPECT_EQ(cat.outline().at(2)->imageIndex(), 0);  // no record
    EXPECT_EQ(cat.records().size(), 4u);

    // Saving unchanged writes the files back as the program writes them.
    files.save(cat);
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat")), "A\r\n\tB\r\nC\r\n");
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat")), "4\r\nB\r\nnote b\r\n7\r\nA\r\n\r\n$10\r\n"
                                                      "B\r\nsecond\r\n9\r\nOrphan\r\nx\r\n3\r\n");
}

TEST(CatalogFilesTest, BadIconsFieldStopsTheLoadWithConversionError)
{
    TempDir dir;
    qvtest::writeFile(dir.file("data.dat"), "A\r\n");
    qvtest::writeFile(dir.file("text.dat"), "1\r\nA\r\n\r\nabc\r\n");
    CatalogFiles files(dir.path());
    Catalog cat;
    try {
        files.load(cat);
        FAIL() << "the load should stop";
    } catch (const EConvertError &e) {
        EXPECT_EQ(e.message(), W("'abc' - неверное целое значение"));
    }
    EXPECT_TRUE(files.loaded());
    EXPECT_TRUE(files.loadFailed());
    EXPECT_FALSE(cat.modified());
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

TEST(CatalogFilesTest, FirstSaveAfterFailedLoadKeepsTheOriginals)
{
    TempDir dir;
    const std::string outline = "A\r\n\t\t\tdeep\r\nB\r\n";  // level error on line 2
    const std::string records = "1\r\nB\r\nnote\r\n5\r\n";
    qvtest::writeFile(dir.file("data.dat"), outline);
    qvtest::writeFile(dir.file("text.dat"), records);
    CatalogFiles files(dir.path());
    const int64_t now = localTime(2026, 12, 7, 8, 30, 15);
    files.setClock([now] { return now; });
    Catalog cat;
    EXPECT_THROW(files.load(cat), ETreeViewError);
    EXPECT_TRUE(files.loadFailed());

    files.save(cat);
    const std::string stamp = localStamp(now);
    EXPECT_EQ(stamp, "2026-12-07-083015");
    ASSERT_EQ(files.keptOriginals().size(), 2u);
    EXPECT_EQ(qvtest::readFile(dir.file("data.dat.unread-" + stamp)), outline);
    EXPECT_EQ(qvtest::readFile(dir.file("text.dat.unread-" + stamp)), records);
    const std::string after = qvtest::listing(dir.path());
    EXPECT_EQ(after, "data.dat data.dat.unread-" + stamp + " text.dat text.dat.unread-" + stamp);

    // The second save only rewrites the two files.
    files.setClock([now] { return now + 60; });
    files.save(cat);
    EXPECT_EQ(files.keptOriginals().size(), 2u);
    EXPECT_EQ(qvtest::listing(dir.path()), after);
}

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

    AtomicFile::failAfter(5, ENOSPC);
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

// Atomic replacement: the old file survives every failure, permissions are
// kept, no temporary file is left behind, read-only targets are refused.
#include "TestSupport.h"

#include "catalog/Errors.h"
#include "storage/FileIo.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using qvtest::TempDir;

namespace {

std::string bigText(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + i % 26);
    return s;
}

void replaceWith(const std::string &path, const std::string &bytes,
                 AtomicFile::Refusal refusal = AtomicFile::Refusal::InOut)
{
    AtomicFile f(path, refusal);
    // In uneven pieces, so the buffer boundary falls inside a write.
    size_t pos = 0, step = 1;
    while (pos < bytes.size()) {
        f.write(std::string_view(bytes).substr(pos, step));
        pos += step;
        step = step * 3 + 7;
    }
    f.commit();
}

} // namespace

TEST(AtomicFileTest, ReplacesContentKeepsModeAndLeavesNoTemporary)
{
    TempDir dir;
    const std::string target = dir.file("data.dat");
    qvtest::writeFile(target, "old", 0640);
    const std::string content = bigText(200000);
    const long long syncs = os::syncCount();
    replaceWith(target, content);
    EXPECT_EQ(os::syncCount(), syncs + 1); // made durable before the rename
    EXPECT_EQ(qvtest::readFile(target), content);
    EXPECT_EQ(qvtest::fileMode(target), 0640u);
    EXPECT_EQ(qvtest::listing(dir.path()), "data.dat");
}

TEST(AtomicFileTest, NewFileGetsDefaultModeAndEmptyFileWorks)
{
    TempDir dir;
    const mode_t mask = ::umask(022);
    replaceWith(dir.file("new.dat"), "");
    ::umask(mask);
    EXPECT_TRUE(fileExists(dir.file("new.dat")));
    EXPECT_EQ(qvtest::readFile(dir.file("new.dat")), "");
    EXPECT_EQ(qvtest::fileMode(dir.file("new.dat")), 0644u);
}

TEST(AtomicFileTest, DestructorWithoutCommitKeepsTargetAndRemovesTemporary)
{
    TempDir dir;
    qvtest::writeFile(dir.file("t"), "keep me");
    {
        AtomicFile f(dir.file("t"), AtomicFile::Refusal::InOut);
        f.write(bigText(300000));
    }
    EXPECT_EQ(qvtest::readFile(dir.file("t")), "keep me");
    EXPECT_EQ(qvtest::listing(dir.path()), "t");
}

TEST(AtomicFileTest, WritesThroughSymlinkToItsTarget)
{
    TempDir dir;
    qvtest::writeFile(dir.file("real"), "old");
    ASSERT_EQ(::symlink("real", dir.file("link").c_str()), 0);
    replaceWith(dir.file("link"), "new");
    EXPECT_EQ(qvtest::readFile(dir.file("real")), "new");
    struct stat sb {};
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &sb), 0);
    EXPECT_TRUE(S_ISLNK(sb.st_mode));
}

// A full disk after N bytes, at every interesting distance from the buffer
// size and the end of the data.
class InjectedFailure : public ::testing::TestWithParam<long long> {};

TEST_P(InjectedFailure, DiskFullKeepsOldFileAndReportsIt)
{
    TempDir dir;
    const std::string target = dir.file("text.dat");
    qvtest::writeFile(target, "previous contents\r\n", 0600);
    const std::string content = bigText(150000);

    os::failAfter(GetParam(), ENOSPC);
    try {
        replaceWith(target, content);
        FAIL() << "the write should have failed";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.code(), 101);
        EXPECT_EQ(e.message(), W("Диск полон"));
    }
    EXPECT_EQ(qvtest::readFile(target), "previous contents\r\n");
    EXPECT_EQ(qvtest::fileMode(target), 0600u);
    EXPECT_EQ(qvtest::listing(dir.path()), "text.dat");

    // The hook was used up by that file: the next one goes through.
    replaceWith(target, content);
    EXPECT_EQ(qvtest::readFile(target), content);
}

INSTANTIATE_TEST_SUITE_P(AtomicFileTest, InjectedFailure,
                         ::testing::Values(0LL, 1LL, 65535LL, 65536LL, 65537LL, 149999LL, 150000LL));

TEST(AtomicFileTest, ReadOnlyTargetIsRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    const std::string target = dir.file("ro.dat");
    qvtest::writeFile(target, "read-only", 0444);
    qvtest::runAsNobody([&] {
        try {
            AtomicFile f(target, AtomicFile::Refusal::Create);
            ADD_FAILURE() << "a read-only file was opened for replacement";
        } catch (const EFCreateError &e) {
            EXPECT_EQ(e.message(), W("Не могу создать файл ") + target);
        }
        try {
            AtomicFile f(target, AtomicFile::Refusal::InOut);
            ADD_FAILURE() << "a read-only file was opened for replacement";
        } catch (const EInOutError &e) {
            EXPECT_EQ(e.code(), 5);
        }
    });
    EXPECT_EQ(qvtest::readFile(target), "read-only");
    EXPECT_EQ(qvtest::listing(dir.path()), "ro.dat");
}

TEST(AtomicFileTest, ReadOnlyDirectoryAndDirectoryTargetAreRefused)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("ro").c_str(), 0555), 0);
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0777), 0);
    qvtest::runAsNobody([&] {
        EXPECT_THROW(AtomicFile(dir.file("ro/new.dat"), AtomicFile::Refusal::Create), EFCreateError);
        try {
            AtomicFile f(dir.file("ro/new.dat"), AtomicFile::Refusal::InOut);
            ADD_FAILURE() << "a file was created in a read-only directory";
        } catch (const EInOutError &e) {
            EXPECT_EQ(e.code(), 5);
        }
        EXPECT_THROW(AtomicFile(dir.file("sub"), AtomicFile::Refusal::Create), EFCreateError);
        EXPECT_THROW(AtomicFile(dir.file("missing/x.dat"), AtomicFile::Refusal::InOut), EInOutError);
    });
}

TEST(FileIoTest, ExistenceAndWholeFileRead)
{
    TempDir dir;
    EXPECT_FALSE(fileExists(dir.file("none")));
    EXPECT_FALSE(fileExists(dir.path())); // a directory is not a file
    qvtest::writeFile(dir.file("f"), std::string("a\0b\r\n", 5));
    EXPECT_TRUE(fileExists(dir.file("f")));
    EXPECT_EQ(readWholeFile(dir.file("f")), std::string("a\0b\r\n", 5));
    try {
        readWholeFile(dir.file("none"));
        FAIL();
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.message(), W("Не могу открыть файл ") + dir.file("none"));
    }
}

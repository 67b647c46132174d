// One writer per folder, the two catalogue files replaced as one unit, the
// start-up repair after an interrupted save, and changes made by others.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "settings/SettingsFile.h"
#include "storage/CatalogFiles.h"
#include "storage/CatalogLock.h"
#include "storage/FileIo.h"
#include "storage/Os.h"
#include "storage/PairCommit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <ostream>
#include <set>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
using qvtest::listing;
using qvtest::readFile;
using qvtest::TempDir;
using qvtest::writeFile;

namespace {

const std::string kOldOutline = "Old\r\n";
const std::string kOldRecords = "1\r\nOld\r\nold note\r\n2\r\n";
const std::string kNewOutline = "Old\r\nNew\r\n";
const std::string kNewRecords = "2\r\nOld\r\nold note\r\n2\r\nNew\r\nnew note\r\n0\r\n";

void writeOldPair(const std::string &dir)
{
    writeFile(dir + "data.dat", kOldOutline);
    writeFile(dir + "text.dat", kOldRecords);
}

// The old pair loaded, with a node and its note added.
void loadAndChange(CatalogFiles &files, Catalog &cat)
{
    files.load(cat);
    cat.outline().append(cat.outline().top(), "New");
    cat.records().append("New", "new note", "0");
    cat.markChanged();
}

// "old", "new" or what the two files hold when they do not match.
std::string pairState(const std::string &outlinePath, const std::string &recordPath)
{
    const std::string outline = readFile(outlinePath), records = readFile(recordPath);
    if (outline == kOldOutline && records == kOldRecords)
        return "old";
    if (outline == kNewOutline && records == kNewRecords)
        return "new";
    return "mixed: " + outline + " / " + records;
}
std::string pairState(const std::string &dir) { return pairState(dir + "data.dat", dir + "text.dat"); }

// The first name in `dir` that starts with `prefix`.
std::string entryStartingWith(const std::string &dir, const std::string &prefix)
{
    std::string names = listing(dir) + " ";
    for (size_t pos = 0, end; (end = names.find(' ', pos)) != std::string::npos; pos = end + 1)
        if (names.compare(pos, prefix.size(), prefix) == 0)
            return names.substr(pos, end - pos);
    return {};
}

// Runs a save of the changed catalogue in a child that vanishes, as a kill
// would take it, right after the commit marker is in place.
void saveKilledAfterMarker(const std::string &dir)
{
    std::fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CatalogFiles files(dir);
        Catalog cat;
        loadAndChange(files, cat);
        files.save(cat, [] { ::_exit(0); });
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace

// ---- the lock ----

TEST(CatalogLockTest, SecondCopyIsBusyUntilReleaseAndNoFileStays)
{
    TempDir dir;
    CatalogLock first(dir.path()), second(dir.path());
    EXPECT_EQ(first.acquire(), CatalogLock::State::Held);
    EXPECT_EQ(listing(dir.path()), qvtest::lockName());
    EXPECT_EQ(second.acquire(), CatalogLock::State::Busy);
    first.release();
    EXPECT_EQ(listing(dir.path()), "");
    {
        CatalogLock third(dir.path());
        EXPECT_EQ(third.acquire(), CatalogLock::State::Held);
        EXPECT_EQ(second.acquire(), CatalogLock::State::Busy);
    }
    EXPECT_EQ(listing(dir.path()), "");
    EXPECT_EQ(catalogBusyText(), W("Каталог уже открыт другой копией Quorvel"));
}

TEST(CatalogLockTest, LockOfAKilledRunIsTakenOver)
{
    TempDir dir;
    std::fflush(nullptr);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CatalogLock lock(dir.path());
        if (lock.acquire() == CatalogLock::State::Held)
            ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(listing(dir.path()), qvtest::lockName());
    CatalogLock lock(dir.path());
    EXPECT_EQ(lock.acquire(), CatalogLock::State::Held);
    lock.release();
    EXPECT_EQ(listing(dir.path()), "");
}

TEST(CatalogLockTest, PlantedLinkIsNotFollowedAndReadOnlyFolderRunsUnlocked)
{
    TempDir dir;
    writeFile(dir.file("victim"), "keep");
    ASSERT_EQ(::symlink("victim", dir.file(qvtest::lockName()).c_str()), 0);
    {
        CatalogLock lock(dir.path());
        EXPECT_EQ(lock.acquire(), CatalogLock::State::Held);
        struct stat sb {};
        ASSERT_EQ(::lstat(dir.file(qvtest::lockName()).c_str(), &sb), 0);
        EXPECT_TRUE(S_ISREG(sb.st_mode));
    }
    EXPECT_EQ(readFile(dir.file("victim")), "keep");
    EXPECT_EQ(listing(dir.path()), "victim");

    ASSERT_EQ(::mkdir(dir.file("ro").c_str(), 0555), 0);
    qvtest::runAsNobody([&] {
        CatalogLock lock(dir.file("ro/"));
        EXPECT_EQ(lock.acquire(), CatalogLock::State::Unavailable);
    });
}

// ---- the pair save ----

// Where a save fails: the nth file it writes (0 text.dat, 1 data.dat, 2 the
// commit marker) after some bytes (-1: at the end, when it is made durable),
// or the caller's step before the renames.
struct SaveFailure {
    const char *name;
    int file;
    long long bytes;
    bool inBeforeReplace;
};
void PrintTo(const SaveFailure &c, std::ostream *os) { *os << c.name; }

class PairSaveFailure : public ::testing::TestWithParam<SaveFailure> {};

TEST_P(PairSaveFailure, LeavesTheOldPairAndNothingElse)
{
    const SaveFailure &c = GetParam();
    TempDir dir;
    writeOldPair(dir.path());
    CatalogFiles files(dir.path());
    Catalog cat;
    loadAndChange(files, cat);

    const long long sizes[]
        = {static_cast<long long>(kNewRecords.size()), static_cast<long long>(kNewOutline.size()), 0};
    if (!c.inBeforeReplace) {
        long long at = c.bytes;
        if (at < 0 && c.file < 2) {
            at = sizes[c.file];
        } else if (at < 0) {
            // The marker names the files by path: take its size from a save
            // in a folder whose path is as long.
            TempDir probe;
            ASSERT_EQ(probe.path().size(), dir.path().size());
            writeOldPair(probe.path());
            saveKilledAfterMarker(probe.path());
            at = static_cast<long long>(readFile(probe.file(qvtest::markerName())).size());
        }
        os::failAfter(at, ENOSPC, c.file);
    }
    try {
        files.save(cat, [&] {
            if (c.inBeforeReplace)
                throw EInOutError(5);
        });
        FAIL() << "the save should fail";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.code(), c.inBeforeReplace ? 5 : 101);
    }
    os::failAfter(-1, 0);
    EXPECT_TRUE(cat.modified());
    EXPECT_EQ(pairState(dir.path()), "old");
    EXPECT_EQ(listing(dir.path()), "data.dat text.dat");
    EXPECT_FALSE(files.repairAtStart());
    EXPECT_EQ(pairState(dir.path()), "old");

    files.save(cat);
    EXPECT_EQ(pairState(dir.path()), "new");
}

INSTANTIATE_TEST_SUITE_P(
    Phases, PairSaveFailure,
    ::testing::Values(SaveFailure{"TextWrite", 0, 5, false}, SaveFailure{"TextSync", 0, -1, false},
                      SaveFailure{"DataWrite", 1, 0, false}, SaveFailure{"DataSync", 1, -1, false},
                      SaveFailure{"MarkerWrite", 2, 3, false}, SaveFailure{"MarkerSync", 2, -1, false},
                      SaveFailure{"BeforeReplace", 0, 0, true}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// When the caller's step runs, both new files and the marker are durable
// (three syncs) and nothing is replaced yet; after the save only the pair is
// there, and the identity of the new files is what this run knows.
TEST(PairSaveTest, EverythingIsDurableBeforeTheFirstRename)
{
    TempDir dir;
    writeOldPair(dir.path());
    CatalogFiles files(dir.path());
    Catalog cat;
    loadAndChange(files, cat);
    const long long syncs = os::syncCount();
    bool called = false;
    files.save(cat, [&] {
        called = true;
        EXPECT_EQ(os::syncCount() - syncs, 3);
        EXPECT_EQ(pairState(dir.path()), "old");
        EXPECT_TRUE(fileExists(dir.file(qvtest::markerName())));
    });
    EXPECT_TRUE(called);
    EXPECT_FALSE(cat.modified());
    EXPECT_EQ(pairState(dir.path()), "new");
    EXPECT_EQ(listing(dir.path()), "data.dat text.dat");
    EXPECT_FALSE(files.changedOnDisk());
}

// A folder that takes no new entry, whose files may still be written: the
// save writes each file in place once its old bytes are in its backup, the
// settings file too, and leaves no other entry.
TEST(PairSaveTest, FolderThatTakesNoNewEntryIsWrittenInPlaceAfterTheBackups)
{
    TempDir dir;
    writeOldPair(dir.path());
    writeFile(dir.file("data.bak"), "stale backup of data.dat");
    writeFile(dir.file("text.bak"), "stale");
    writeFile(dir.file("Quorvel.ini"), "[Main]\r\nA=1\r\n");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    qvtest::runAsNobody([&] {
        CatalogFiles files(dir.path());
        Catalog cat;
        loadAndChange(files, cat);
        files.save(cat);
        EXPECT_FALSE(cat.modified());
        EXPECT_FALSE(files.changedOnDisk());
        SettingsFile settings;
        settings.open(dir.file("Quorvel.ini"));
        settings.writeEntry("Main", "A", "22");
    });
    ::chmod(dir.path().c_str(), 0777);
    EXPECT_EQ(readFile(dir.file("data.dat")), kNewOutline);
    EXPECT_EQ(readFile(dir.file("text.dat")), kNewRecords);
    EXPECT_EQ(readFile(dir.file("data.bak")), kOldOutline);
    EXPECT_EQ(readFile(dir.file("text.bak")), kOldRecords);
    EXPECT_EQ(readFile(dir.file("Quorvel.ini")), "[Main]\r\nA=22\r\n");
    EXPECT_EQ(listing(dir.path()), "Quorvel.ini data.bak data.dat text.bak text.dat");
}

// ---- the repair at start ----

// What is left of a save killed right after its marker, changed by `damage`,
// and what the repair must make of it.
struct Leftover {
    const char *name;
    std::function<void(const std::string &dir)> damage;
    bool renamed;        // repairAtStart's answer
    const char *result;  // the pair afterwards
    const char *listing; // the folder afterwards
};
void PrintTo(const Leftover &c, std::ostream *os) { *os << c.name; }

class RepairAtStart : public ::testing::TestWithParam<Leftover> {};

TEST_P(RepairAtStart, FinishesOrDiscardsTheInterruptedSave)
{
    const Leftover &c = GetParam();
    TempDir dir;
    writeOldPair(dir.path());
    saveKilledAfterMarker(dir.path());
    ASSERT_EQ(pairState(dir.path()), "old");
    c.damage(dir.path());

    CatalogFiles files(dir.path());
    EXPECT_EQ(files.repairAtStart(), c.renamed);
    EXPECT_EQ(pairState(dir.path()), c.result);
    EXPECT_EQ(listing(dir.path()), c.listing);
}

void renameTemporary(const std::string &dir, const std::string &name)
{
    const std::string tmp = entryStartingWith(dir, "." + name + "." + os::machineName() + ".tmp-");
    ASSERT_FALSE(tmp.empty());
    ASSERT_EQ(::rename((dir + tmp).c_str(), (dir + name).c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Leftovers, RepairAtStart,
    ::testing::Values(
        Leftover{"BothTemporaries", [](const std::string &) {}, true, "new", "data.dat text.dat"},
        Leftover{"TextAlreadyRenamed", [](const std::string &d) { renameTemporary(d, "text.dat"); }, true,
                 "new", "data.dat text.dat"},
        Leftover{"BothAlreadyRenamed",
                 [](const std::string &d) {
                     renameTemporary(d, "text.dat");
                     renameTemporary(d, "data.dat");
                 },
                 false, "new", "data.dat text.dat"},
        Leftover{"MarkerCutShort",
                 [](const std::string &d) {
                     const std::string m = readFile(d + qvtest::markerName());
                     writeFile(d + qvtest::markerName(), m.substr(0, m.size() - 3));
                 },
                 false, "old", "data.dat text.dat"},
        // A marker naming files outside the catalogue is not acted on.
        Leftover{"MarkerNamingOtherFiles",
                 [](const std::string &d) {
                     writeFile(d + "victim", "keep");
                     writeFile(d + ".victim.tmp-abc123", "planted");
                     paircommit::writeMarker(d, {{d + ".victim.tmp-abc123", d + "victim"}});
                 },
                 false, "old", ".victim.tmp-abc123 data.dat text.dat victim"},
        // Without a marker every temporary of our naming goes, links and
        // other names stay.
        Leftover{"StaleTemporariesWithoutMarker",
                 [](const std::string &d) {
                     ::unlink((d + qvtest::markerName()).c_str());
                     for (const char *n :
                          {".data.bak.tmp-a1B2c3", ".text.bak.tmp-zzzzzz", ".Quorvel.ini.tmp-000000",
                           "..Quorvel.commit.tmp-Q1w2e3", ".Quorvel.journal.tmp-J0u7n1", ".data.dat.tmp-x",
                           ".notes.tmp-abcdef"})
                         writeFile(d + n, "x");
                     ASSERT_EQ(::symlink("data.dat", (d + ".text.dat.tmp-link00").c_str()), 0);
                 },
                 false, "old", ".data.dat.tmp-x .notes.tmp-abcdef .text.dat.tmp-link00 data.dat text.dat"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// A link into another folder is replaced by the save, and the save cut
// short is finished inside the folder: the other folder is never touched.
TEST(RepairAtStartTest, RollsForwardInsideTheFolderWhenALinkLeadsOutside)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("cat").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(dir.file("elsewhere").c_str(), 0777), 0);
    const std::string cat = dir.file("cat/");
    writeOldPair(cat);
    ASSERT_EQ(::rename((cat + "data.dat").c_str(), dir.file("elsewhere/real.dat").c_str()), 0);
    ASSERT_EQ(::symlink("../elsewhere/real.dat", (cat + "data.dat").c_str()), 0);
    const std::string old = readFile(dir.file("elsewhere/real.dat"));

    saveKilledAfterMarker(cat);
    CatalogFiles files(cat);
    EXPECT_TRUE(files.repairAtStart());
    EXPECT_EQ(pairState(cat), "new");
    EXPECT_EQ(listing(cat), "data.dat text.dat");
    EXPECT_EQ(listing(dir.file("elsewhere/")), "real.dat");
    EXPECT_EQ(readFile(dir.file("elsewhere/real.dat")), old);
    EXPECT_TRUE(plainFileAt(cat + "data.dat"));
}

// ---- changes made by another program ----

struct OutsideChange {
    const char *name;
    std::function<void(const std::string &path)> change;
};
void PrintTo(const OutsideChange &c, std::ostream *os) { *os << c.name; }

class ChangedOnDisk : public ::testing::TestWithParam<OutsideChange> {};

TEST_P(ChangedOnDisk, IsSeenAfterLoadAndSaveAndTheOtherVersionIsKept)
{
    TempDir dir;
    writeOldPair(dir.path());
    CatalogFiles files(dir.path());
    constexpr int64_t now = 1700000000;
    files.setClock([] { return now; });
    std::time_t t = now;
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &tm);

    Catalog cat;
    EXPECT_FALSE(files.changedOnDisk()); // nothing known yet
    loadAndChange(files, cat);
    std::set<std::string> allKept;
    // text.dat changed after the load, then data.dat after a save; the second
    // round finds the dated names taken.
    for (const std::string name : {"text.dat", "data.dat"}) {
        EXPECT_FALSE(files.changedOnDisk());
        GetParam().change(dir.file(name));
        EXPECT_TRUE(files.changedOnDisk()) << name;

        std::map<std::string, std::string> onDisk;
        for (const std::string file : {"data.dat", "text.dat"})
            if (fileExists(dir.file(file)))
                onDisk[file] = readFile(dir.file(file));
        const std::vector<std::string> kept = files.keepOtherVersion();
        ASSERT_EQ(kept.size(), onDisk.size());
        for (const std::string &path : kept) {
            const std::string file = path.substr(dir.path().size(), 8);
            EXPECT_EQ(path.rfind(dir.file(file + ".other-" + stamp), 0), 0u) << path;
            EXPECT_EQ(readFile(path), onDisk[file]) << path;
            EXPECT_TRUE(allKept.insert(path).second) << path << " kept twice";
        }
        files.save(cat); // the window's Yes
        EXPECT_FALSE(files.changedOnDisk());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedOnDisk,
    ::testing::Values(OutsideChange{"Size", [](const std::string &p) { writeFile(p, readFile(p) + "x"); }},
                      OutsideChange{"SameSizeOtherTime",
                                    [](const std::string &p) {
                                        writeFile(p, readFile(p));
                                        qvtest::setMtime(p, 1000000000, 1);
                                    }},
                      // Same bytes and time under a new inode: a copy renamed over it.
                      OutsideChange{"Replaced",
                                    [](const std::string &p) {
                                        const long long ns = qvtest::mtimeNs(p);
                                        writeFile(p + ".new", readFile(p));
                                        qvtest::setMtime(p + ".new", ns / 1000000000, ns % 1000000000);
                                        ASSERT_EQ(::rename((p + ".new").c_str(), p.c_str()), 0);
                                    }},
                      OutsideChange{"Removed", [](const std::string &p) { ::unlink(p.c_str()); }}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

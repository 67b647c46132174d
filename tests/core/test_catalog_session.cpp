// The session's own decisions: what open() does with a folder by access
// and lock, and a save's answer to files another program changed. The rest
// of the session's order is driven through the window and the tool.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "settings/SettingsFile.h"
#include "storage/CatalogLock.h"
#include "storage/CatalogSession.h"
#include "storage/FileIo.h"
#include "storage/PairCommit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using qvtest::listing;
using qvtest::readFile;
using qvtest::TempDir;
using qvtest::writeFile;

namespace {

// ---- open() ----

struct OpenCase {
    const char *name;
    CatalogSession::Access access;
    bool busy; // another copy holds the folder
    CatalogSession::Lock lock;
    bool refused;
    bool repaired;       // the interrupted save finished, its journal gone
    const char *listing; // the folder after open(), the other copy's lock aside
};
void PrintTo(const OpenCase &c, std::ostream *os) { *os << c.name; }

class SessionOpen : public ::testing::TestWithParam<OpenCase> {};

// A folder left by a save killed after its marker, with a journal of
// changes against the old pair.
TEST_P(SessionOpen, LocksAndRepairsByAccess)
{
    const OpenCase &c = GetParam();
    TempDir dir;
    const std::string d = dir.path();
    writeFile(d + "data.dat", "Old\r\n");
    writeFile(d + "text.dat", "0\r\n");
    writeFile(d + ".data.dat.tmp-abc123", "New\r\n");
    writeFile(d + ".text.dat.tmp-abc123", "0\r\n");
    paircommit::writeMarker(
        d, {{d + ".data.dat.tmp-abc123", d + "data.dat"}, {d + ".text.dat.tmp-abc123", d + "text.dat"}});
    writeFile(d + "Quorvel.journal", "changes");
    CatalogLock other(d);
    if (c.busy) {
        ASSERT_EQ(other.acquire(), CatalogLock::State::Held);
    }
    const std::string before = listing(d);

    {
        CatalogSession session(d, {c.access, true});
        const CatalogSession::Opened opened = session.open();
        EXPECT_EQ(opened.lock, c.lock);
        EXPECT_EQ(opened.refused, c.refused);
        EXPECT_EQ(opened.repaired, c.repaired);
        EXPECT_FALSE(opened.repairFailure);
        EXPECT_EQ(session.holdsLock(), c.lock == CatalogSession::Lock::Held);
        EXPECT_EQ(readFile(d + "data.dat"), c.repaired ? "New\r\n" : "Old\r\n");
        std::string expected = c.listing ? std::string(c.listing) : before;
        if (const size_t at = expected.find("LOCK"); at != std::string::npos)
            expected.replace(at, 4, qvtest::lockName());
        EXPECT_EQ(listing(d), expected);
    }
    other.release();
    // Closed, the session leaves no lock behind.
    EXPECT_EQ(listing(d).find(qvtest::lockName()), std::string::npos);
}

using Access = CatalogSession::Access;
using Lock = CatalogSession::Lock;
INSTANTIATE_TEST_SUITE_P(
    Folders, SessionOpen,
    ::testing::Values(
        OpenCase{"WriteRepairs", Access::Write, false, Lock::Held, false, true, "LOCK data.dat text.dat"},
        OpenCase{"ReadRepairsWhenFree", Access::Read, false, Lock::Held, false, true,
                 "LOCK data.dat text.dat"},
        OpenCase{"WriteOnABusyFolderIsRefused", Access::Write, true, Lock::Busy, true, false, nullptr},
        OpenCase{"ReadOnABusyFolderReadsItAsItIs", Access::Read, true, Lock::Busy, false, false, nullptr},
        OpenCase{"ReadAsIsTakesNothing", Access::ReadAsIs, false, Lock::None, false, false, nullptr}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// ---- save() ----

// Files changed outside: Ask writes nothing; Granted keeps their version
// first, and once kept by a save that failed, that version is not asked
// about again.
TEST(SessionSave, FilesChangedOutsideAreAskedAboutOnce)
{
    TempDir dir;
    const std::string d = dir.path();
    writeFile(d + "data.dat", "A\r\n");
    writeFile(d + "text.dat", "1\r\nA\r\nours\r\n0\r\n");
    CatalogSession session(d, {Access::Write, false});
    ASSERT_FALSE(session.open().refused);
    Catalog catalog;
    ASSERT_FALSE(session.load(catalog).failure);
    EXPECT_FALSE(session.changedOutside());
    const std::string outside = "1\r\nA\r\ntheirs\r\n0\r\n";
    writeFile(d + "text.dat", outside);
    EXPECT_TRUE(session.changedOutside());

    using Status = CatalogSession::Saved::Status;
    CatalogSession::Saved saved = session.save(catalog, CatalogSession::Consent::Ask);
    EXPECT_EQ(saved.status, Status::ChangedOutside);
    EXPECT_TRUE(saved.othersKept.empty());
    EXPECT_EQ(readFile(d + "text.dat"), outside);

    // The two copies of their version are made, the save of text.dat fails.
    os::failAfter(0, ENOSPC, 0, "text.dat");
    saved = session.save(catalog, CatalogSession::Consent::Granted);
    os::failAfter(-1, 0);
    EXPECT_EQ(saved.status, Status::Failed);
    EXPECT_TRUE(saved.failure);
    ASSERT_EQ(saved.othersKept.size(), 2u);
    EXPECT_EQ(readFile(saved.othersKept[1]), outside);
    EXPECT_EQ(readFile(d + "text.dat"), outside);

    saved = session.save(catalog, CatalogSession::Consent::Ask);
    EXPECT_EQ(saved.status, Status::Saved);
    EXPECT_TRUE(saved.othersKept.empty());
    EXPECT_EQ(readFile(d + "text.dat"), "1\r\nA\r\nours\r\n0\r\n");
    EXPECT_FALSE(session.changedOutside());
}

} // namespace

// ---- the folder's boundary ----

namespace {

// A catalogue file that is a link: to a write-protected file of another
// folder (written through only once agreed to), or into the folder.
enum class LinkTo { Outside, OutsideAgreed, Inside };
struct LinkCase {
    const char *name;
    const char *file;
    LinkTo to;
};
void PrintTo(const LinkCase &c, std::ostream *os) { *os << c.name; }

class SessionLinks : public ::testing::TestWithParam<LinkCase> {};

// What a file read back through the session's rules gets written: a save
// of the catalogue, and the window's settings by the session's word.
CatalogSession::Saved openLoadAndSave(const std::string &d, bool agree)
{
    CatalogSession session(d, {CatalogSession::Access::Write, false, true});
    EXPECT_FALSE(session.open().refused);
    Catalog cat;
    session.load(cat);
    cat.outline().append(cat.outline().top(), "New");
    cat.records().append("New", "new note", "0");
    cat.markChanged();
    session.decideLinks(agree);
    CatalogSession::Saved saved = session.save(cat, CatalogSession::Consent::Granted);
    EXPECT_TRUE(saved.ok());
    SettingsFile ini;
    ini.open(d + "Quorvel.ini");
    ini.setWriteThrough(session.writesThrough(ini.path()));
    ini.writeNumber("Options", "TreeWidth", 300);
    return saved;
}

} // namespace

TEST_P(SessionLinks, AreWrittenThroughOnlyInsideTheFolderOrOnceAgreed)
{
    const LinkCase &c = GetParam();
    TempDir root;
    const std::string d = root.file("cat/"), victim = root.file("victim/"), state = root.file("state");
    ASSERT_EQ(::mkdir(d.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(victim.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((d + "sub").c_str(), 0777), 0);
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    const bool inside = c.to == LinkTo::Inside;
    const std::string target = inside ? d + "sub/real" : victim + "script.sh";
    writeFile(target,
              std::string(c.file) == "text.dat" ? "1\r\nOld\r\na note of the user\r\n2\r\n"
                                                : "#!/bin/sh\necho 'a script of the user'\r\n",
              c.to == LinkTo::Outside ? 0444 : 0644);
    ASSERT_EQ(::symlink(target.c_str(), (d + c.file).c_str()), 0);
    const std::string outside = qvtest::snapshot(victim);

    const CatalogSession::Saved saved = openLoadAndSave(d, c.to == LinkTo::OutsideAgreed);
    const std::string link = d + c.file;
    if (c.to == LinkTo::Outside) {
        // Replaced and said so; the outside file is as it was, and so is
        // the machine's state.
        EXPECT_EQ(qvtest::snapshot(victim), outside);
        EXPECT_TRUE(plainFileAt(link));
        ASSERT_EQ(saved.remarks.size(), 1u);
        EXPECT_EQ(saved.remarks[0].message(),
                  W("Файл ") + link
                      + W(" - ссылка на файл вне папки каталога: при записи она заменяется обычным "
                          "файлом, файл, на который она указывает, не изменяется"));
        EXPECT_FALSE(entryExists(state));
    } else {
        EXPECT_NE(readFile(target).find(std::string(c.file) == "Quorvel.ini" ? "TreeWidth=300" : "New"),
                  std::string::npos);
        EXPECT_FALSE(plainFileAt(link));
        EXPECT_TRUE(saved.remarks.empty());
        // The agreement lives in the machine's state folder, never in the
        // catalogue folder, and holds for the next run without a question.
        EXPECT_EQ(entryExists(state + "/quorvel/outside-links"), c.to == LinkTo::OutsideAgreed);
        CatalogSession next(d, {CatalogSession::Access::Write, false, true});
        next.open();
        EXPECT_TRUE(next.linksToAsk().empty());
        EXPECT_TRUE(next.writesThrough(link));
    }
    EXPECT_EQ(listing(d), "Quorvel.ini data.dat sub text.dat");
    ::unsetenv("XDG_STATE_HOME");
}

INSTANTIATE_TEST_SUITE_P(Files, SessionLinks,
                         ::testing::Values(LinkCase{"DataOutside", "data.dat", LinkTo::Outside},
                                           LinkCase{"TextOutside", "text.dat", LinkTo::Outside},
                                           LinkCase{"SettingsOutside", "Quorvel.ini", LinkTo::Outside},
                                           LinkCase{"DataOutsideAgreed", "data.dat", LinkTo::OutsideAgreed},
                                           LinkCase{"SettingsOutsideAgreed", "Quorvel.ini",
                                                    LinkTo::OutsideAgreed},
                                           LinkCase{"TextInside", "text.dat", LinkTo::Inside}),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

// A marker naming files of another folder, reached through a link, and
// stale temporaries of that folder's naming: nothing outside is renamed
// or removed.
TEST(SessionRepair, ActsOnlyInsideTheFolder)
{
    TempDir root;
    const std::string d = root.file("cat/"), other = root.file("other/");
    ASSERT_EQ(::mkdir(d.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(other.c_str(), 0777), 0);
    writeFile(other + "real.dat", "Theirs\r\n");
    writeFile(other + ".real.dat.tmp-abc123", "Planted\r\n");
    writeFile(other + ".real.dat.tmp-zzzzzz", "a file of theirs\r\n");
    ASSERT_EQ(::symlink((other + "real.dat").c_str(), (d + "data.dat").c_str()), 0);
    writeFile(d + "text.dat", "0\r\n");
    paircommit::writeMarker(d, {{other + ".real.dat.tmp-abc123", other + "real.dat"}});
    const std::string outside = qvtest::snapshot(other);

    CatalogSession session(d, {CatalogSession::Access::Write, false});
    const CatalogSession::Opened opened = session.open();
    EXPECT_FALSE(opened.repaired);
    EXPECT_FALSE(opened.repairFailure);
    EXPECT_EQ(qvtest::snapshot(other), outside);
    EXPECT_EQ(listing(d), qvtest::lockName() + " data.dat text.dat");
}

// An entry at the lock's name that is no lock file refuses a writer, by
// name, and is never taken for a folder that cannot be locked.
struct LockCase {
    const char *name;
    std::function<void(const std::string &path)> make;
    bool regular; // a file that cannot be opened, rather than no file
};
void PrintTo(const LockCase &c, std::ostream *os) { *os << c.name; }

class SessionLockEntry : public ::testing::TestWithParam<LockCase> {};

TEST_P(SessionLockEntry, RefusesAWriterByName)
{
    const LockCase &c = GetParam();
    TempDir dir;
    const std::string d = dir.path(), lock = d + qvtest::lockName();
    c.make(lock);
    writeFile(d + "data.dat", "A\r\n");
    const std::string before = qvtest::snapshot(d);
    qvtest::runAsNobody([&] {
        for (const CatalogSession::Access access : {Access::Write, Access::Read}) {
            CatalogSession session(d, {access, false});
            const CatalogSession::Opened opened = session.open();
            EXPECT_EQ(opened.lock, Lock::Refused);
            EXPECT_EQ(opened.refused, access == Access::Write);
            ASSERT_TRUE(opened.lockRefusal);
            try {
                std::rethrow_exception(opened.lockRefusal);
            } catch (const Error &e) {
                EXPECT_EQ(e.message(),
                          c.regular ? W("Не могу открыть файл ") + lock
                                    : W("Файл ") + lock + W(" не является обычным файлом"));
            }
        }
    });
    EXPECT_EQ(qvtest::snapshot(d), before);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SessionLockEntry,
    ::testing::Values(
        LockCase{"Directory", [](const std::string &p) { ASSERT_EQ(::mkdir(p.c_str(), 0777), 0); }, false},
        LockCase{"Fifo", [](const std::string &p) { ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0); }, false},
        LockCase{"Unreadable", [](const std::string &p) { writeFile(p, "", 0); }, true}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

// A directory at the commit marker's name: every save goes through, the
// entry is named once and left alone.
TEST(SessionSave, CommitMarkerThatIsNoFileIsToldAndNeverBlocks)
{
    TempDir dir;
    const std::string d = dir.path(), marker = d + qvtest::markerName();
    ASSERT_EQ(::mkdir(marker.c_str(), 0777), 0);
    CatalogSession session(d, {Access::Write, false});
    const CatalogSession::Opened opened = session.open();
    EXPECT_FALSE(opened.repairFailure);
    Catalog cat;
    session.load(cat);
    for (const char *caption : {"A", "B"}) {
        cat.outline().append(cat.outline().top(), caption);
        cat.markChanged();
        const CatalogSession::Saved saved = session.save(cat, CatalogSession::Consent::Granted);
        EXPECT_TRUE(saved.ok());
        if (std::string(caption) == "A") {
            ASSERT_EQ(saved.remarks.size(), 1u);
            EXPECT_EQ(saved.remarks[0].message(),
                      W("Файл ") + marker
                          + W(" не является обычным файлом: файлы каталога записаны без него"));
        } else {
            EXPECT_TRUE(saved.remarks.empty());
        }
    }
    EXPECT_EQ(readFile(d + "data.dat"), "A\r\nB\r\n");
    EXPECT_EQ(listing(d), qvtest::markerName() + " " + qvtest::lockName() + " data.dat text.dat");
}

// The merge's base: the pair as the run last loaded whole or saved it,
// kept in the state folder (never in the catalogue folder); nothing kept
// for a folder read in part, and none for a folder never seen.
TEST(SessionBase, KeptAsLastLoadedOrSaved)
{
    TempDir dir, state;
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    const std::string d = dir.path();
    Catalog base;
    EXPECT_FALSE(CatalogSession(d, {Access::Write, false}).loadBase(base));
    writeFile(d + "data.dat", "A\r\n");
    writeFile(d + "text.dat", "1\r\nA\r\nloaded\r\n0\r\n");
    {
        CatalogSession session(d, {Access::Write, false, false, true});
        ASSERT_FALSE(session.open().refused);
        Catalog catalog;
        ASSERT_FALSE(session.load(catalog).failure);
        ASSERT_TRUE(session.loadBase(base));
        EXPECT_EQ(qvtest::dump(base), qvtest::dump(catalog));
        catalog.records().setText("A", "saved");
        ASSERT_TRUE(session.save(catalog, CatalogSession::Consent::Ask).ok());
        Catalog again;
        ASSERT_TRUE(session.loadBase(again));
        EXPECT_EQ(qvtest::dump(again), qvtest::dump(catalog));
    }
    EXPECT_EQ(listing(d).find("bases"), std::string::npos);
    writeFile(d + "text.dat",
              "1\r\nA\r\nin part\r\n0\r\n\x1a"
              "more");
    {
        CatalogSession session(d, {Access::Write, false, false, true});
        ASSERT_FALSE(session.open().refused);
        Catalog catalog;
        EXPECT_FALSE(session.load(catalog).partialReads.empty());
        Catalog kept;
        ASSERT_TRUE(session.loadBase(kept));
        EXPECT_EQ(*kept.records().find("A")->text.data(), 's') << "the last whole one stays";
    }
    ::unsetenv("XDG_STATE_HOME");
}

// ---- another program's version, while the run goes on ----

struct OutsideCase {
    const char *name;
    const char *text;      // text.dat as the other program leaves it; null: removed
    bool changedAfterRead; // data.dat replaced once more after the read
    bool takesIn;
};
void PrintTo(const OutsideCase &c, std::ostream *os) { *os << c.name; }

class SessionOutside : public ::testing::TestWithParam<OutsideCase> {};

// Only a version read whole and still on disk is taken in; once taken, it
// is what the next save compares with and the merges' base.
TEST_P(SessionOutside, TakesInOnlyAWholeCurrentVersion)
{
    const OutsideCase &c = GetParam();
    TempDir dir, state;
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    const std::string d = dir.path();
    writeFile(d + "data.dat", "A\r\n");
    writeFile(d + "text.dat", "1\r\nA\r\nours\r\n0\r\n");
    CatalogSession session(d, {Access::Write, false, false, true});
    ASSERT_FALSE(session.open().refused);
    Catalog catalog;
    ASSERT_FALSE(session.load(catalog).failure);
    if (c.text)
        writeFile(d + "text.dat", c.text);
    else
        ASSERT_EQ(::unlink((d + "text.dat").c_str()), 0);
    Catalog theirs;
    const CatalogFiles::PairRead read = CatalogSession::readOutside(d, theirs);
    if (c.changedAfterRead)
        writeFile(d + "data.dat", "A\r\nB\r\n");
    ASSERT_EQ(session.takesIn(read), c.takesIn);
    if (!c.takesIn) {
        ::unsetenv("XDG_STATE_HOME");
        return;
    }
    const std::string shown = qvtest::dump(theirs);
    session.takeIn(catalog, theirs, read);
    EXPECT_EQ(qvtest::dump(catalog), shown);
    EXPECT_FALSE(catalog.modified());
    EXPECT_FALSE(session.changedOutside());
    Catalog base;
    ASSERT_TRUE(session.loadBase(base));
    EXPECT_EQ(qvtest::dump(base), shown);
    ::unsetenv("XDG_STATE_HOME");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionOutside,
    ::testing::Values(OutsideCase{"Whole", "1\r\nA\r\ntheirs\r\n0\r\n", false, true},
                      OutsideCase{"ReadInPart", "1\r\nA\r\ntheirs\r\n0\r\n\x1a more", false, false},
                      OutsideCase{"TextRemoved", nullptr, false, false},
                      OutsideCase{"ChangedAfterTheRead", "1\r\nA\r\ntheirs\r\n0\r\n", true, false}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

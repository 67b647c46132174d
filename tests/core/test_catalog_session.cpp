// The session's own decisions: what open() does with a folder by access
// and lock, and a save's answer to files another program changed. The rest
// of the session's order is driven through the window and the tool.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "storage/CatalogLock.h"
#include "storage/CatalogSession.h"
#include "storage/FileIo.h"
#include "storage/PairCommit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>

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
        EXPECT_EQ(listing(d), c.listing ? std::string(c.listing) : before);
    }
    other.release();
    // Closed, the session leaves no lock behind.
    EXPECT_EQ(listing(d).find(".Quorvel.lock"), std::string::npos);
}

using Access = CatalogSession::Access;
using Lock = CatalogSession::Lock;
INSTANTIATE_TEST_SUITE_P(Folders, SessionOpen,
                         ::testing::Values(OpenCase{"WriteRepairs", Access::Write, false, Lock::Held, false,
                                                    true, ".Quorvel.lock data.dat text.dat"},
                                           OpenCase{"ReadRepairsWhenFree", Access::Read, false, Lock::Held,
                                                    false, true, ".Quorvel.lock data.dat text.dat"},
                                           OpenCase{"WriteOnABusyFolderIsRefused", Access::Write, true,
                                                    Lock::Busy, true, false, nullptr},
                                           OpenCase{"ReadOnABusyFolderReadsItAsItIs", Access::Read, true,
                                                    Lock::Busy, false, false, nullptr},
                                           OpenCase{"ReadAsIsTakesNothing", Access::ReadAsIs, false,
                                                    Lock::None, false, false, nullptr}),
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

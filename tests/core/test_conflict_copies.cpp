// Sync engines' conflict copies (which names are copies, how they pair, the
// session merging them in and moving them out once saved) and the files one
// machine leaves in a shared folder.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "storage/CatalogSession.h"
#include "storage/ConflictCopies.h"
#include "storage/MergeBase.h"
#include "storage/Os.h"
#include "storage/PairCommit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using qvtest::listing;
using qvtest::readFile;
using qvtest::setMtime;
using qvtest::TempDir;
using qvtest::writeFile;

namespace {

struct NameCase {
    const char *name;
    // "which engine stamp device" ("D"ata/"T"ext/"S"ettings, "S"yncthing/
    // "N"extcloud/"D"ropbox), "" for no copy.
    const char *copy;
};
std::ostream &operator<<(std::ostream &os, const NameCase &c) { return os << c.name; }

class ConflictNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ConflictNames, AreRecognisedByEngine)
{
    std::string seen;
    if (const auto copy = conflicts::recognise(GetParam().name)) {
        seen += "DTS"[static_cast<int>(copy->which)];
        seen += std::string(" ") + "SND"[static_cast<int>(copy->engine)] + " " + copy->stamp;
        if (!copy->device.empty())
            seen += " " + copy->device;
    }
    EXPECT_EQ(seen, GetParam().copy);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConflictNames,
    ::testing::Values(
        NameCase{"data.sync-conflict-20261208-061500-ABCDEZ7.dat", "D S 20261208061500 ABCDEZ7"},
        NameCase{"text.sync-conflict-20261208-061500-ABCDEZ7.dat", "T S 20261208061500 ABCDEZ7"},
        NameCase{"Quorvel.sync-conflict-20261208-061500-ABCDEZ7.ini", "S S 20261208061500 ABCDEZ7"},
        NameCase{"data (conflicted copy 2026-12-08 061500).dat", "D N 20261208061500"},
        NameCase{"text (Анна's conflicted copy 2026-12-08).dat", "T D 20261208000000 Анна's"},
        NameCase{"data (pc (2) conflicted copy 2026-12-08 (3)).dat", "D D 20261208000000 pc (2) (3)"},
        // Near misses: not copies.
        NameCase{"data.sync-conflict-20261208-061500-ABCDEF1.dat", ""}, // 1 is no device letter
        NameCase{"data.sync-conflict-20261308-061500-ABCDEFG.dat", ""}, // month 13
        NameCase{"data.sync-conflict-20261208-061500-ABCDEFGH.dat", ""},
        NameCase{"data (conflicted copy 2026-12-08).dat", ""}, // Nextcloud's has a time
        NameCase{"data ( conflicted copy 2026-12-08).dat", ""},
        NameCase{"data (x conflicted copy 2026-12-08 (a)).dat", ""}, NameCase{"data.bak", ""},
        NameCase{"data.dat", ""}, NameCase{"notes (conflicted copy 2026-12-08 061500).dat", ""},
        NameCase{"text.sync-conflict-20261208-061500-ABCDEFG.ini", ""}));

// Pairs by engine, stamp and device (stamps a few seconds apart are one
// moment), a lone copy with the current other file, oldest first; only
// regular files directly in the folder.
TEST(ConflictCopies, PairByStampOldestFirst)
{
    TempDir dir;
    const std::string d = dir.path();
    for (const char *name :
         {"data.sync-conflict-20261208-061500-BBBBBBB.dat", "text.sync-conflict-20261208-061500-BBBBBBB.dat",
          "text.sync-conflict-20261208-061500-CCCCCCC.dat", "data (conflicted copy 2026-11-30 101010).dat",
          "data (me conflicted copy 2026-12-01).dat", "text (me conflicted copy 2026-12-01).dat",
          "Quorvel (conflicted copy 2026-01-01 000000).ini", "data.sync-conflict-20261208-235959-FFFFFFF.dat",
          "text.sync-conflict-20261209-000001-FFFFFFF.dat"})
        writeFile(d + name, "");
    ::mkdir((d + "data.sync-conflict-20260101-000000-DDDDDDD.dat").c_str(), 0700);
    ASSERT_EQ(::symlink("/etc/passwd", (d + "text.sync-conflict-20260101-000000-EEEEEEE.dat").c_str()), 0);
    std::string seen;
    for (const conflicts::CopyPair &p : conflicts::find(d))
        seen += p.data + " + " + p.text + "\n";
    EXPECT_EQ(
        seen,
        "data (conflicted copy 2026-11-30 101010).dat + text.dat\n"
        "data (me conflicted copy 2026-12-01).dat + text (me conflicted copy 2026-12-01).dat\n"
        "data.sync-conflict-20261208-061500-BBBBBBB.dat + text.sync-conflict-20261208-061500-BBBBBBB.dat\n"
        "data.dat + text.sync-conflict-20261208-061500-CCCCCCC.dat\n"
        "data.sync-conflict-20261208-235959-FFFFFFF.dat + text.sync-conflict-20261209-000001-FFFFFFF.dat\n");
}

struct StateHome {
    TempDir dir;
    StateHome() { ::setenv("XDG_STATE_HOME", dir.path().c_str(), 1); }
    ~StateHome() { ::unsetenv("XDG_STATE_HOME"); }
    std::string conflicts(const std::string &folder) const
    {
        return dir.path() + "quorvel/conflicts/" + mergebase::folderKey(*os::canonicalPath(folder)) + "/";
    }
};

std::string lockName() { return ".Quorvel-" + os::machineName() + ".lock"; }

const CatalogSession::Options kWindow{CatalogSession::Access::Write, false, false, true};

// A pair of copies Syncthing left while two machines edited apart: merged
// with the current pair over the base this machine kept, saved, then moved
// into the state folder. A damaged copy is neither merged nor moved.
TEST(ConflictCopies, MergedSavedAndSetAside)
{
    StateHome state;
    TempDir dir;
    const std::string d = dir.path();
    writeFile(d + "data.dat", "A\r\nB\r\n");
    writeFile(d + "text.dat", "2\r\nA\r\nbase\r\n0\r\nB\r\nb\r\n0\r\n");
    {
        CatalogSession session(d, kWindow);
        ASSERT_FALSE(session.open().refused);
        Catalog catalog;
        ASSERT_FALSE(session.load(catalog).failure); // keeps the base
    }
    // This side renamed B to Ours; the other one edited A's note.
    writeFile(d + "data.dat", "A\r\nOurs\r\n");
    writeFile(d + "text.dat", "2\r\nA\r\nbase\r\n0\r\nOurs\r\nb\r\n0\r\n");
    const std::string copyData = "data.sync-conflict-20261208-061500-ABCDEFG.dat";
    const std::string copyText = "text.sync-conflict-20261208-061500-ABCDEFG.dat";
    writeFile(d + copyData, "A\r\nB\r\n");
    writeFile(d + copyText, "2\r\nA\r\ntheirs\r\n1\r\nB\r\nb\r\n0\r\n");
    const std::string damaged = "data (conflicted copy 2026-12-08 061500).dat";
    writeFile(d + damaged, std::string("A\r\n\0rest", 9));
    for (const char *name : {"data.dat", "text.dat"})
        setMtime(d + name, 1000);
    setMtime(d + copyData, 2000);
    setMtime(d + copyText, 2000);

    CatalogSession session(d, kWindow);
    ASSERT_FALSE(session.open().refused);
    Catalog catalog;
    ASSERT_FALSE(session.load(catalog).failure);
    const CatalogSession::ConflictsMerged merged = session.mergeConflictCopies(catalog);
    EXPECT_EQ(merged.copies, 1u);
    EXPECT_TRUE(merged.failure) << "the damaged copy is told";
    EXPECT_TRUE(merged.report.conflicts.empty());
    EXPECT_TRUE(catalog.modified());
    EXPECT_FALSE(os::nameTaken(state.conflicts(d))) << "nothing moved before the save";
    const CatalogSession::Saved saved = session.save(catalog, CatalogSession::Consent::Ask);
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(readFile(d + "data.dat"), "A\r\nOurs\r\n");
    EXPECT_EQ(readFile(d + "text.dat"), "2\r\nA\r\ntheirs\r\n1\r\nOurs\r\nb\r\n0\r\n");
    EXPECT_EQ(saved.copiesSetAside.size(), 2u);
    EXPECT_EQ(readFile(state.conflicts(d) + copyText), "2\r\nA\r\ntheirs\r\n1\r\nB\r\nb\r\n0\r\n");
    EXPECT_EQ(listing(state.conflicts(d)), copyData + " " + copyText);
    EXPECT_EQ(listing(d), lockName() + " " + damaged + " data.dat text.dat");
}

// This machine's own save is no base for the other side's copy: merged over
// it, the copy would undo this side's edits. Both sides' edits stay.
TEST(ConflictCopies, OwnLastSaveIsNoBase)
{
    StateHome state;
    TempDir dir;
    const std::string d = dir.path();
    writeFile(d + "data.dat", "A\r\n");
    writeFile(d + "text.dat", "1\r\nA\r\nbase\r\n0\r\n");
    {
        CatalogSession session(d, kWindow);
        ASSERT_FALSE(session.open().refused);
        Catalog catalog;
        session.load(catalog);
        catalog.records().setText("A", "ours");
        ASSERT_TRUE(session.save(catalog, CatalogSession::Consent::Ask).ok()); // the base now
    }
    writeFile(d + "text.sync-conflict-20261208-061500-ABCDEFG.dat", "1\r\nA\r\ntheirs\r\n0\r\n");
    setMtime(d + "data.dat", 1000);
    setMtime(d + "text.dat", 1000);
    setMtime(d + "text.sync-conflict-20261208-061500-ABCDEFG.dat", 2000);
    CatalogSession session(d, kWindow);
    ASSERT_FALSE(session.open().refused);
    Catalog catalog;
    session.load(catalog);
    ASSERT_EQ(session.mergeConflictCopies(catalog).copies, 1u);
    std::string notes;
    for (size_t i = 0; i < catalog.records().size(); ++i)
        notes += std::string(catalog.records().at(i).text) + " ";
    EXPECT_EQ(notes, "ours theirs ");
}

// Quorvel.ini's copies: the newest file becomes Quorvel.ini, the rest leave.
TEST(ConflictCopies, SettingsResolvedToTheNewest)
{
    StateHome state;
    TempDir dir;
    const std::string d = dir.path();
    const std::string older = "Quorvel.sync-conflict-20261201-000000-AAAAAAA.ini";
    const std::string newer = "Quorvel (conflicted copy 2026-12-02 000000).ini";
    writeFile(d + "Quorvel.ini", "current");
    writeFile(d + older, "older");
    writeFile(d + newer, "newer");
    setMtime(d + older, 1000);
    setMtime(d + "Quorvel.ini", 2000);
    setMtime(d + newer, 3000);
    CatalogSession session(d, kWindow);
    ASSERT_FALSE(session.open().refused);
    EXPECT_EQ(readFile(d + "Quorvel.ini"), "newer");
    EXPECT_EQ(listing(d), lockName() + " Quorvel.ini");
    EXPECT_EQ(listing(state.conflicts(d)), older);
}

} // namespace

// What another machine left in a shared folder (its journal, commit marker,
// temporary and lock) is neither replayed, rolled forward, swept away,
// renamed nor a reason to refuse.
TEST(MachineOwnedFiles, AnotherMachinesAreLeftAlone)
{
    TempDir dir;
    const std::string d = dir.path();
    const std::string other = "elsewhere-1";
    ASSERT_NE(os::machineName(), other);
    writeFile(d + "data.dat", "A\r\n");
    writeFile(d + "text.dat", "1\r\nA\r\nmine\r\n0\r\n");
    const CatalogSession::Options options{CatalogSession::Access::Write, true};
    {
        // The catalogue outlives the session that records its changes.
        Catalog catalog;
        CatalogSession session(d, options);
        ASSERT_FALSE(session.open().refused);
        session.load(catalog);
        session.recover(catalog, false);
        catalog.records().setText("A", "from the other machine");
        session.flush();
        ASSERT_EQ(::rename((d + "Quorvel-" + os::machineName() + ".journal").c_str(),
                           (d + "Quorvel-" + other + ".journal").c_str()),
                  0);
    }
    writeFile(d + ".data.dat." + other + ".tmp-abc123", "B\r\n");
    paircommit::writeMarker(d, {{d + ".data.dat." + other + ".tmp-abc123", d + "data.dat"}});
    ASSERT_EQ(::rename(paircommit::markerPath(d).c_str(), (d + ".Quorvel-" + other + ".commit").c_str()), 0);
    writeFile(d + ".Quorvel-" + other + ".lock", "");
    const std::string theirs = qvtest::snapshot(d);

    Catalog catalog;
    CatalogSession session(d, options);
    const CatalogSession::Opened opened = session.open();
    EXPECT_EQ(opened.lock, CatalogSession::Lock::Held);
    EXPECT_FALSE(opened.repaired);
    EXPECT_EQ(session.load(catalog).journal, CatalogSession::JournalFound::None);
    const CatalogSession::Recovered recovered = session.recover(catalog, true);
    EXPECT_EQ(recovered.setAside, "");
    EXPECT_EQ(readFile(d + "data.dat"), "A\r\n");
    EXPECT_EQ(catalog.records().find("A")->text, "mine");
    session.close();
    EXPECT_EQ(qvtest::snapshot(d), theirs);
}

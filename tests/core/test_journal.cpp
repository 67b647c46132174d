// The recovery journal: what a crash leaves on disk replays to the state of
// the last flush, whatever the commands were; damage costs only what follows
// it; the journal never follows a link; a flush writes what changed.
#include "TestSupport.h"

#include "catalog/Catalog.h"
#include "catalog/EditSteps.h"
#include "storage/CatalogFiles.h"
#include "storage/FileIo.h"
#include "storage/Journal.h"
#include "storage/JournalFormat.h"
#include "storage/OutlineFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>

#include <unistd.h>

using namespace qv;
using qvtest::dump;
using qvtest::TempDir;

namespace {

// The files as `files` last loaded or saved them.
JournalBase baseOf(const CatalogFiles &files)
{
    return {files.outlineIdentity(), files.recordIdentity(), files.outlineHash(), files.recordHash()};
}

JournalBase load(const TempDir &d, Catalog &c)
{
    CatalogFiles files(d.path());
    files.load(c);
    return baseOf(files);
}

// The window's start: load, replay what the journal holds, go on recording.
void restart(const TempDir &d, Catalog &c, Journal &j)
{
    const JournalBase base = load(d, c);
    const auto pending = j.pending(base);
    ASSERT_TRUE(pending);
    EXPECT_FALSE(pending->baseChanged);
    j.replay(c);
    EXPECT_TRUE(c.modified());
    j.attach(c, base);
}

Node *anyNode(Catalog &c, std::mt19937 &rng)
{
    const size_t n = c.outline().nodeCount();
    return n ? c.outline().at(rng() % n) : nullptr;
}

// One of the user's commands, at random, as the window issues them.
void randomCommand(Catalog &c, std::mt19937 &rng)
{
    Node *n = anyNode(c, rng);
    switch (rng() % 11) {
    case 0:
        c.createNode(rng() % 4 ? n : nullptr);
        break;
    case 1:
        c.createChild(n);
        break;
    case 2:
        if (n && !n->hasChildren())
            c.deleteLeaf(n);
        break;
    case 3:
        if (n) {
            static const char *const names[] = {"Имя ", "name ", " bad ", "Ё"};
            c.rename(n, n->caption(), W(names[rng() % 4] + std::to_string(rng() % 30)));
        }
        break;
    case 4:
        if (n)
            c.setIcon(n, int32_t(rng() % 80));
        break;
    case 5:
        c.moveUp(n);
        break;
    case 6:
        c.moveDown(n);
        break;
    case 7:
        if (n)
            c.dragMove(n, rng() % 5 ? anyNode(c, rng) : c.outline().top());
        break;
    case 8:
        if (n)
            c.storeNote(n, W("заметка\r\nномер ") + std::to_string(rng()));
        break;
    case 9:
        // Typing: the editor patches the record keystroke by keystroke.
        if (n) {
            Bytes text
                = c.records().find(n->caption()) ? Bytes(c.records().find(n->caption())->text) : Bytes();
            for (unsigned k = rng() % 6; k > 0; --k) {
                text += char('a' + rng() % 26);
                if (!c.records().setText(n->caption(), text))
                    c.storeNote(n, text);
            }
        }
        break;
    case 10:
        // A command taken back, and now and then made again.
        if (auto step = qvtest::randomStep(c, rng)) {
            step->undo(c);
            if (rng() % 2)
                step->redo(c);
        }
        break;
    }
}

// A catalogue saved in `d`: unique captions, some nodes without a record,
// records nothing joins, and a section carried twice.
void seedCatalogue(const TempDir &d, unsigned seed)
{
    std::mt19937 rng(seed);
    Catalog c;
    for (int i = 0; i < 40; ++i)
        randomCommand(c, rng);
    c.outline().append(c.outline().top(), W("без записи"));
    c.records().append(W("ничья"), "x", "3");
    c.records().append(c.outline().first()->caption(), "second", "5");
    CatalogFiles(d.path()).save(c);
}

} // namespace

class JournalProperty : public ::testing::TestWithParam<unsigned> {};

// Random commands with flushes and saves at random points; then a crash: the
// files plus the journal give back the catalogue as at the last flush, and
// the replayed journal keeps recording, so a second crash loses nothing.
TEST_P(JournalProperty, ReplayAfterACrashGivesTheLastFlushedCatalogue)
{
    TempDir d;
    seedCatalogue(d, GetParam());
    std::mt19937 rng(GetParam() * 7919u);
    CatalogFiles files(d.path());

    Catalog live;
    files.load(live);
    auto journal = std::make_unique<Journal>(d.path());
    if (GetParam() % 2)
        journal->setSizeLimit(4096); // rewritten whole now and then
    journal->attach(live, baseOf(files));
    for (int i = 0; i < 300; ++i) {
        randomCommand(live, rng);
        if (rng() % 10 == 0)
            journal->flush();
        if (rng() % 60 == 0) {
            journal->discard();
            files.save(live);
            journal->rebase(baseOf(files));
        }
    }
    live.createNode(nullptr); // something after the last save
    journal->flush();
    const std::string flushed = dump(live);
    randomCommand(live, rng); // never flushed: lost in the crash
    live.createNode(nullptr);
    journal.reset();

    Catalog first;
    Journal j1(d.path());
    restart(d, first, j1);
    EXPECT_EQ(dump(first), flushed);

    for (int i = 0; i < 100; ++i) {
        randomCommand(first, rng);
        if (rng() % 10 == 0)
            j1.flush();
    }
    j1.flush();

    Catalog second;
    Journal j2(d.path());
    restart(d, second, j2);
    EXPECT_EQ(dump(second), dump(first));
}

INSTANTIATE_TEST_SUITE_P(Seeds, JournalProperty, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

namespace {

// A journal of three batches over a saved catalogue, with the catalogue as
// it was after each batch and where each batch ends in the file.
struct Recorded {
    TempDir d;
    std::string bytes; // the journal
    std::vector<std::string> states;
    std::vector<size_t> ends;

    Recorded()
    {
        seedCatalogue(d, 11);
        Catalog c;
        const JournalBase base = load(d, c);
        Journal j(d.path());
        int64_t clock = 1000;
        j.setClock([&clock] { return clock; });
        j.attach(c, base);
        std::mt19937 rng(5);
        for (int batch = 0; batch < 3; ++batch, ++clock) {
            for (int i = 0; i < 3; ++i)
                randomCommand(c, rng);
            c.createNode(nullptr);
            j.flush();
            states.push_back(dump(c));
            ends.push_back(size_t(std::filesystem::file_size(j.path())));
        }
        bytes = qvtest::readFile(j.path());
    }
    // What a start finds: nothing, or the catalogue after that many batches.
    std::optional<size_t> replayed()
    {
        Catalog c;
        Journal j(d.path());
        const auto pending = j.pending(load(d, c));
        if (!pending)
            return std::nullopt;
        const int64_t *since = &pending->since;
        j.replay(c);
        for (size_t k = 0; k < states.size(); ++k)
            if (dump(c) == states[k]) {
                EXPECT_EQ(*since, int64_t(1000 + k));
                return k + 1;
            }
        ADD_FAILURE() << "replay gave a catalogue of no batch";
        return std::nullopt;
    }
    // Sound batches left when the file is cut at `size`.
    std::optional<size_t> soundBefore(size_t size) const
    {
        size_t n = size_t(std::count_if(ends.begin(), ends.end(), [size](size_t e) { return e <= size; }));
        return n ? std::optional<size_t>(n) : std::nullopt;
    }
};

} // namespace

TEST(Journal, TornTailOrDamagedByteCostsOnlyWhatFollows)
{
    Recorded r;
    const std::string journal = r.d.file(qvtest::journalName());
    ASSERT_EQ(r.replayed(), 3u);
    for (size_t cut = 0; cut < r.bytes.size(); ++cut) {
        qvtest::writeFile(journal, r.bytes.substr(0, cut));
        ASSERT_EQ(r.replayed(), r.soundBefore(cut)) << "cut at " << cut;
    }
    for (size_t at = 0; at < r.bytes.size(); ++at) {
        std::string flipped = r.bytes;
        flipped[at] = char(flipped[at] ^ 0x10);
        qvtest::writeFile(journal, flipped);
        ASSERT_EQ(r.replayed(), r.soundBefore(at)) << "flipped at " << at;
    }
}

namespace {

// What another program may do to the files between a crash and the next
// start, and how the journal is then offered.
struct OutsideChange {
    const char *name;
    void (*change)(const TempDir &);
    const char *offered; // "fits", "base changed" or "no"
};
void PrintTo(const OutsideChange &c, std::ostream *os) { *os << c.name; }

const OutsideChange kOutsideChanges[] = {
    {"Touch",
     [](const TempDir &d) {
         for (const char *f : {"data.dat", "text.dat"})
             std::filesystem::last_write_time(
                 d.file(f), std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
     },
     "fits"},
    {"CopiedBackWithItsTime", // a new inode, the old time
     [](const TempDir &d) {
         const std::string f = d.file("text.dat"), copy = d.file("copy");
         std::filesystem::copy_file(f, copy);
         std::filesystem::last_write_time(copy, std::filesystem::last_write_time(f));
         std::filesystem::rename(copy, f);
     },
     "fits"},
    {"SameBytesRewritten",
     [](const TempDir &d) { qvtest::writeFile(d.file("data.dat"), qvtest::readFile(d.file("data.dat"))); },
     "fits"},
    {"Changed",
     [](const TempDir &d) {
         qvtest::writeFile(d.file("data.dat"), qvtest::readFile(d.file("data.dat")) + "извне\r\n");
     },
     "base changed"},
    {"FilesGone",
     [](const TempDir &d) {
         std::filesystem::remove(d.file("data.dat"));
         std::filesystem::remove(d.file("text.dat"));
     },
     "no"},
};

class JournalOutside : public ::testing::TestWithParam<OutsideChange> {};

} // namespace

// The journal knows its base by content, not by time or inode; one whose
// base really changed is still offered, saying so; without catalogue files
// nothing is offered.
TEST_P(JournalOutside, OfferedByTheFilesContent)
{
    Recorded r;
    GetParam().change(r.d);
    Catalog c;
    Journal j(r.d.path());
    const auto pending = j.pending(load(r.d, c));
    const char *offered = !pending ? "no" : pending->baseChanged ? "base changed" : "fits";
    EXPECT_STREQ(offered, GetParam().offered);
    if (pending && !pending->baseChanged) {
        j.replay(c);
        EXPECT_EQ(dump(c), r.states.back());
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, JournalOutside, ::testing::ValuesIn(kOutsideChanges),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

// A journal planted in a folder without catalogue files would install a
// catalogue of its own; a batch is never taken larger than the file.
TEST(Journal, PlantedJournalIsNotOfferedAndItsSizesAreBoundedByTheFile)
{
    TempDir state;
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    TempDir d;
    {
        Catalog c;
        Journal j(d.path());
        j.attach(c, load(d, c));
        c.createNode(nullptr);
        j.flush();
    }
    Catalog c;
    Journal j(d.path());
    EXPECT_TRUE(j.pending(load(d, c))) << "begun here in a new catalogue, never saved";
    // The same journal received in another folder without a catalogue.
    TempDir received;
    qvtest::writeFile(received.file("Quorvel.journal"), qvtest::readFile(j.path()));
    Catalog other;
    EXPECT_FALSE(Journal(received.path()).pending(load(received, other)));
    ::unsetenv("XDG_STATE_HOME");

    std::string bytes = qvtest::readFile(j.path());
    bytes.resize(journal::header(JournalBase()).size());
    for (int i = 0; i < 8; ++i) // a batch of 3,000,000,000 bytes
        bytes.push_back(char((uint64_t(3000000000) >> (8 * i)) & 0xFF));
    bytes.append(16, '\x01');
    qvtest::writeFile(j.path(), bytes);
    seedCatalogue(d, 2);
    EXPECT_FALSE(j.pending(load(d, c)));
    EXPECT_NO_THROW(j.replay(c));
    EXPECT_FALSE(j.dirty());
}

TEST(Journal, SetAsideByDate)
{
    Recorded r;
    Journal j(r.d.path());
    std::filesystem::remove(j.path());
    EXPECT_EQ(j.setAside(0), "") << "nothing there";
    qvtest::writeFile(j.path(), r.bytes);
    EXPECT_TRUE(j.present());

    const int64_t when = 1700000000;
    std::time_t t = when;
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &tm);
    const std::string dated = j.path() + "." + stamp;
    EXPECT_EQ(j.setAside(when), dated);
    qvtest::writeFile(j.path(), r.bytes);
    EXPECT_EQ(j.setAside(when), dated + "-1");
    EXPECT_FALSE(j.present());
    EXPECT_EQ(qvtest::readFile(dated + "-1"), r.bytes);
}

TEST(Journal, LinkInItsPlaceIsNeitherReadNorWrittenThrough)
{
    Recorded r;
    const std::string victim = r.d.file("victim");
    qvtest::writeFile(victim, r.bytes);
    Catalog c; // outlives the journal recording it
    Journal j(r.d.path());
    std::filesystem::remove(j.path());
    ASSERT_EQ(::symlink(victim.c_str(), j.path().c_str()), 0);
    const JournalBase base = load(r.d, c);
    EXPECT_FALSE(j.pending(base));
    EXPECT_FALSE(j.present());

    j.attach(c, base);
    c.createNode(nullptr);
    j.flush();
    EXPECT_EQ(qvtest::readFile(victim), r.bytes);
    EXPECT_TRUE(j.present());
    EXPECT_TRUE(j.pending(base));
}

TEST(Journal, ChangeThatDoesNotFitStopsReplayAndWhatAppliedStaysOnRecord)
{
    TempDir d;
    seedCatalogue(d, 3);
    {
        Catalog c;
        Journal j(d.path());
        j.attach(c, load(d, c));
        c.records().append("X", "kept", "1");
        c.deleteLeaf(deepestLast(c.outline().top()));
        j.flush();
    }
    // Replayed on a catalogue that lacks what the journal was made on.
    Catalog empty;
    Journal j(d.path());
    EXPECT_THROW(j.replay(empty), EJournalMismatch);
    EXPECT_EQ(dump(empty), "|X|kept|1");
    EXPECT_TRUE(empty.modified());
    ASSERT_TRUE(j.dirty());
    j.flush();

    Catalog again;
    Journal j2(d.path());
    EXPECT_NO_THROW(j2.replay(again));
    EXPECT_EQ(dump(again), dump(empty));
}

// A flush costs what changed: one copy of a note however many keystrokes
// went into it, two paths for a dragged branch however large.
TEST(Journal, FlushAppendsWhatChangedNotTheCatalogue)
{
    TempDir d;
    {
        Catalog c;
        for (int i = 0; i < 200; ++i) {
            c.outline().append(c.outline().top(), "n" + std::to_string(i));
            c.records().append("n" + std::to_string(i), Bytes(10000, 'x'), "0");
        }
        Node *big = c.outline().append(c.outline().top(), "big");
        for (int i = 0; i < 10000; ++i)
            c.outline().append(big, "b" + std::to_string(i));
        CatalogFiles(d.path()).save(c);
    }
    Catalog c;
    const JournalBase base = load(d, c);
    Journal j(d.path());
    int changes = 0;
    j.setOnChange([&changes] { ++changes; });
    j.attach(c, base);
    const auto size
        = [&j] { return std::filesystem::exists(j.path()) ? std::filesystem::file_size(j.path()) : 0; };

    for (int round = 0; round < 2; ++round) {
        const auto before = size();
        Bytes text(c.records().find("n7")->text);
        for (int k = 0; k < 100; ++k) {
            text += 'y';
            c.records().setText("n7", text);
        }
        EXPECT_TRUE(j.dirty());
        j.flush();
        EXPECT_FALSE(j.dirty());
        EXPECT_GT(size() - before, text.size());
        EXPECT_LT(size() - before, text.size() + 200);
    }
    EXPECT_EQ(changes, 2) << "one call per flush interval";

    const auto before = size();
    ASSERT_TRUE(c.dragMove(c.outline().root(200), c.outline().root(0)));
    j.flush();
    EXPECT_LT(size() - before, 64u);
    EXPECT_EQ(changes, 3);

    // A save makes the journal go.
    j.discard();
    EXPECT_FALSE(j.present());
    c.createNode(nullptr);
    j.rebase(base);
    EXPECT_FALSE(j.dirty());
    j.flush();
    EXPECT_FALSE(j.present());
}

namespace {

// A write failure injected into the `flush`th flush (0: the one that writes
// a fresh journal, 1: an append to it), after `past` of its bytes, or at its
// sync when `past` is -1.
struct FlushFailure {
    const char *name;
    size_t flush;
    long long past;
};
void PrintTo(const FlushFailure &c, std::ostream *os) { *os << c.name; }

class JournalFlushFailure : public ::testing::TestWithParam<FlushFailure> {};

// What a start would restore: nothing, or the catalogue as the journal has it.
std::optional<std::string> restored(const TempDir &d)
{
    Catalog c;
    Journal j(d.path());
    if (!j.pending(load(d, c)))
        return std::nullopt;
    j.replay(c);
    return dump(c);
}

// Two flushes of one new node each, `failing` (when given) failing once and
// tried again; the journal's size after each.
std::vector<uint64_t> flushTwice(const TempDir &d, Catalog &c, Journal &j, const FlushFailure *failing,
                                 std::string &states)
{
    std::vector<uint64_t> sizes;
    for (size_t flush = 0; flush < 2; ++flush) {
        c.createNode(nullptr);
        try {
            j.flush();
        } catch (const EInOutError &e) {
            EXPECT_TRUE(failing && flush == failing->flush);
            EXPECT_EQ(e.message(), W("Диск полон"));
            // The journal restores what the flushes before this one wrote
            // (or, when only the sync failed, this one's changes too).
            const std::string r = restored(d).value_or("");
            EXPECT_TRUE(r == states || (failing->past < 0 && r == dump(c)));
            EXPECT_TRUE(j.dirty());
            j.flush();
        }
        states = dump(c);
        sizes.push_back(std::filesystem::file_size(j.path()));
    }
    EXPECT_EQ(restored(d), states);
    return sizes;
}

} // namespace

// The journal's writes and syncs go through the write path the failure hook
// watches: a flush that fails loses nothing and the next one catches up.
TEST_P(JournalFlushFailure, FailedFlushKeepsWhatWasFlushedAndTheNextCatchesUp)
{
    const FlushFailure &c = GetParam();
    std::vector<uint64_t> sizes;
    for (int run = 0; run < 2; ++run) {
        TempDir d;
        seedCatalogue(d, 4);
        Catalog cat;
        const JournalBase base = load(d, cat);
        Journal j(d.path());
        j.setClock([] { return int64_t(1000); });
        j.attach(cat, base);
        if (run == 1) {
            // The sizes of the first run, where nothing failed, place the mark.
            const uint64_t start = c.flush == 0 ? 0 : sizes[0];
            os::failAfter(static_cast<long long>(c.past >= 0 ? start + uint64_t(c.past) : sizes[c.flush]),
                          ENOSPC);
        }
        std::string states;
        const std::vector<uint64_t> got = flushTwice(d, cat, j, run == 1 ? &c : nullptr, states);
        if (run == 0)
            sizes = got;
        EXPECT_EQ(qvtest::listing(d.path()), qvtest::journalName() + " data.dat text.dat");
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, JournalFlushFailure,
                         ::testing::Values(FlushFailure{"FreshWrite", 0, 5}, FlushFailure{"FreshSync", 0, -1},
                                           FlushFailure{"AppendWrite", 1, 5},
                                           FlushFailure{"AppendSync", 1, -1}),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

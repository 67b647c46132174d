// The recovery journal: "Quorvel-<machine>.journal" beside the catalogue keeps every
// change made since the files were last loaded or saved, so that a killed
// run, a crash or a power loss costs at most the changes of the last flush
// interval.
//
// Changes are taken where they happen, from the outline's and the record
// table's change sinks, so every command is covered as it stands. A node is
// named by its path of rows from the top; a record by its section with the
// first-match rule. Consecutive note edits of one record coalesce until the
// next flush, so a flush costs what changed since the one before.
//
// The file: a header (magic, version, the files the changes apply to: the
// identities of data.dat and text.dat and a hash of each one's bytes), then
// batches, one per flush, each with its length, its time and a CRC-32. A
// batch cut short by a kill, or damaged, is ignored with everything after it.
//
// The base is known by content: a journal still fits files that another
// program touched, copied back or rewrote with the same bytes. One whose
// base really changed is offered all the same, for replay onto the files as
// they are, with the user told; one in a folder without catalogue files is
// never offered.
//
// The journal belongs to one machine: its name carries the machine's name
// (storage/Os.h machineName), so a folder a sync engine shares never has
// one machine replay, set aside or remove another's journal. An unnamed
// "Quorvel.journal" (written before the name was carried) is read as this
// machine's and goes at the first fresh write, discard or set-aside.
//
// The window's use:
//   after the load:  if (pending(base))  ask; Yes: replay(catalog), No: setAside(now)
//                    else if (present())  setAside(now)  (nothing in it to offer)
//                    attach(catalog, base)
//   on a change:     setOnChange starts a 1-second single-shot timer that calls flush()
//   at a save:       discard() just before the new files replace the old ones,
//                    rebase(the saved files) once the save is done
#pragma once

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "storage/FileIo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv {

// The files a journal's changes apply to: data.dat and text.dat as the
// system describes them, and the ContentHash (storage/FileIo.h) of each as
// it was loaded or saved (0 for a file not there).
struct JournalBase {
    FileIdentity data, text;
    uint64_t dataHash = 0, textHash = 0;
    bool operator==(const JournalBase &) const = default;
};

// A journal change that does not fit the catalogue it is replayed on.
class EJournalMismatch : public Error {
public:
    EJournalMismatch();
};

class Journal {
public:
    // `baseDir` ends with a separator; the journal is baseDir +
    // "Quorvel-<machine>.journal", this machine's name.
    explicit Journal(std::string baseDir);
    // Stops recording (the catalogue must still exist). Pending changes are
    // not written: flush first.
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    const std::string &path() const { return path_; }
    // The journal read at start: this machine's, or else an unnamed one.
    std::string foundPath() const;

    // ---- at start, before attach ----
    // A regular file (not a link) is in the journal's place.
    bool present() const;
    // Changes to offer back on `current` (data.dat and text.dat as just
    // loaded): at least one batch is sound and a catalogue file is there.
    struct Pending {
        int64_t since = 0;        // the time of its last change (seconds since the epoch)
        bool baseChanged = false; // its changes were made on other files
    };
    // The base is compared by content, or by identity for a journal whose
    // header has no hashes.
    std::optional<Pending> pending(const JournalBase &current) const;
    // Applies every sound batch, in order, to the freshly loaded catalogue
    // and marks it changed. Those changes stay pending here: the next flush
    // writes them into a fresh journal with the same base, so a second crash
    // loses nothing. A change that does not fit raises EJournalMismatch; what
    // was applied before it stays (and stays pending). Call it while no
    // change was made since the load.
    void replay(Catalog &catalog);
    // Renames the journal to "Quorvel.journal.YYYY-MM-DD-HHMMSS" (local time
    // of `now`, "-N" appended when taken) and returns that path; "" when
    // there is none. Raises EInOutError when the rename fails.
    std::string setAside(int64_t now);

    // ---- while the window runs ----
    // Records every later change of the catalogue against these files (as
    // they were loaded). Changes pending from replay() are kept, now against
    // this base; anything else pending is dropped. The first flush writes a
    // fresh journal in place of any file there.
    void attach(Catalog &catalog, const JournalBase &base);
    // Stops recording; pending changes are dropped.
    void detach();
    // After a save: these files hold everything. Pending changes are
    // dropped, a journal still there is removed, and the next flush starts
    // a fresh one.
    void rebase(const JournalBase &base);
    // The catalogue was replaced by another version of the files (`base`),
    // with this run's changes merged in when it is modified: recording goes
    // on against `base`, and a modified catalogue is pending whole, so the
    // next flush writes a fresh journal holding it in place of the old one
    // (which stays whole until then); otherwise the old journal is removed.
    void restart(Catalog &catalog, const JournalBase &base);
    // Changes are waiting for flush().
    bool dirty() const;
    // Appends the pending changes as one batch and makes them durable (the
    // first flush after attach, rebase or discard creates the file, in place
    // of whatever is there, and syncs the folder). Nothing to do when clean.
    // Raises EInOutError; the changes then stay pending for the next try.
    void flush();
    // Removes the journal and drops pending changes (the save about to
    // replace the files holds them). The next flush starts a fresh one.
    void discard();
    // Called at the first change after attach, a flush, rebase or discard
    // (and by replay), so the window can start its flush timer.
    void setOnChange(std::function<void()> onChange);

    // Clock for the batches' times (seconds since the epoch).
    void setClock(std::function<int64_t()> clock);
    // When an append would make the file larger than this, the flush writes
    // a fresh journal holding the whole catalogue instead (one rewrite per
    // this much journal). 0: four times the base files, at least 64 MiB.
    void setSizeLimit(uint64_t bytes);

private:
    class Recorder;
    struct Batch {
        int64_t time = 0;
        Bytes payload;
    };

    void changed();
    void writeFresh(const std::vector<Batch> &batches);
    // A journal this machine began where the folder had no catalogue files
    // is remembered in its state folder (storage/LinkConsent.h), by the
    // folder's real path and the journal file's device and inode.
    std::optional<std::pair<std::string, std::string>> ownKey() const;
    bool ownJournal() const;
    void append(const Batch &batch);
    void closeFile();
    uint64_t sizeLimit() const;
    int64_t now() const;

    std::string baseDir_;
    std::string path_;
    std::string unnamed_; // baseDir + "Quorvel.journal"
    Catalog *catalog_ = nullptr;
    JournalBase base_;
    std::unique_ptr<Recorder> recorder_;
    std::vector<Batch> replayed_; // sound batches replay() applied, not yet rewritten
    int fd_ = -1;                 // the live journal, open for appending
    uint64_t fileEnd_ = 0;        // end of its last sound batch
    bool truncate_ = false;       // a failed append may have left bytes after it
    uint64_t sizeLimit_ = 0;
    std::function<void()> onChange_;
    std::function<int64_t()> clock_;
};

} // namespace qv

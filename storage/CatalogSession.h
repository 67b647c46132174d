// A catalogue folder held for one run: the order of a catalogue's life,
// the same for the window and for quorvel-tool.
//
//   open()          the folder's lock, then an interrupted save finished
//                   (a journal it made obsolete goes with it)
//   openBackups()   when the option asks: sources opened, backups' temporaries made
//   load()          the files read with their partial-read rules; a load
//                   that read in part or failed waits for the backups
//   startBackups()  the backups copied on a worker thread
//   recover()       a pending journal replayed or set aside; recording begins
//   flush(), save() while the catalogue is in use; every save waits for the backups
//   close()         the backups waited for, the lock let go
//
// The steps are apart because the window reads its backup option once the
// lock is held and loads once it is on screen. What a step finds comes back
// as a value for the caller to tell (a box, a line on stderr), the load's
// and the save's errors included, since the copies made on the way are told
// with them; the caller decides only what the user is asked. The other
// failures (openBackups, flush) are exceptions, as everywhere in the core.
#pragma once

#include "catalog/Catalog.h"
#include "catalog/Errors.h"
#include "merge/MergeReport.h"
#include "storage/CatalogFiles.h"
#include "storage/CatalogLock.h"
#include "storage/FileIo.h"
#include "storage/Journal.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv {

class CatalogSession {
public:
    enum class Access {
        // The lock is required: a folder another copy holds is refused.
        // Without a lock to make (a read-only folder) the folder is used
        // without one, and an interrupted save is still finished.
        Write,
        // The lock when it is free, and then an interrupted save is
        // finished; else the folder is read as it is.
        Read,
        // No lock, no repair: the folder read as it is.
        ReadAsIs,
    };
    struct Options {
        Access access = Access::Write;
        // The recovery journal is this run's: load() reports one found,
        // recover() offers it back and records every later change, and a
        // save discards it just before the replace and rebases it after.
        bool journal = false;
        // The window: a link to outside the folder that the user agreed to
        // (remembered on this machine) is written through, the others are
        // asked about once (linksToAsk()), and Quorvel.ini is this run's
        // too. Without it every such link is replaced by the save.
        bool askLinks = false;
        // The pair as this run last loaded (whole) or saved it is kept on
        // this machine as the base of a later merge (storage/MergeBase.h),
        // best effort: a failure to keep it stops nothing.
        bool keepBase = false;
    };

    enum class Lock {
        Held,     // this run holds the folder
        Unlocked, // no lock can be made there; used without one
        Busy,     // another copy holds it: refused (Write) or read as it is (Read)
        // The lock's entry is no regular file or cannot be opened: refused
        // (Write) or read as it is (Read), never written unlocked.
        Refused,
        None, // ReadAsIs: not asked for
    };
    struct Opened {
        Lock lock = Lock::None;
        // Write on a busy folder or a refused lock: nothing more may be
        // read or written.
        bool refused = false;
        // Lock::Refused: the error naming the lock's entry.
        std::exception_ptr lockRefusal;
        // A rename finished an interrupted save (the journal was discarded).
        bool repaired = false;
        // The repair failed (its marker stays for the next start).
        std::exception_ptr repairFailure;
        // Write access without a lock: neither the folder nor its catalogue
        // files can be written. The run only reads: no backups, no journal.
        bool readOnly = false;
    };

    enum class JournalFound {
        None,
        Pending,     // it holds changes for the files as they are now (since `journalSince`)
        BaseChanged, // it holds changes made on files another program has changed since
        Unfitting    // a journal is there with nothing to offer (none sound, or no catalogue files)
    };
    struct Loaded {
        // The load's error; the catalogue holds what was read before it.
        std::exception_ptr failure;
        std::vector<PartialRead> partialReads;
        // When the load read in part or failed, the backups were made
        // first, so the old backups kept aside can be named: the failure
        // of those backups (to be told once) and every old backup kept.
        std::exception_ptr backupFailure;
        std::vector<std::string> keptBackups;
        // Only with Options::journal.
        JournalFound journal = JournalFound::None;
        int64_t journalSince = 0;
    };

    struct Recovered {
        // A change that did not fit stopped the replay; what applied stays
        // (and goes into a fresh journal), the file is set aside.
        std::exception_ptr replayFailure;
        // Where the journal was set aside ("" when it was not).
        std::string setAside;
        std::exception_ptr setAsideFailure;
    };

    // How a save treats files another program changed since this run last
    // loaded or saved them.
    enum class Consent {
        Ask,     // no save: the outcome is ChangedOutside
        Granted, // their version is kept under a dated name, then the save
    };
    struct Saved {
        enum class Status { Saved, ChangedOutside, Failed };
        Status status = Status::Failed;
        std::exception_ptr failure;
        // Dated copies made on the way, whether the save went through or
        // not: the original files of a load read in part or failed, and the
        // other program's version.
        std::vector<std::string> originalsKept;
        std::vector<std::string> othersKept;
        // What the save did that the user is told of without it failing: a
        // link to outside the folder replaced, a commit marker that could
        // not be made.
        std::vector<Error> remarks;
        // The conflict copies merged before and set aside by this save
        // (names in the state folder), and the failure to move them (they
        // then stay for the next save).
        std::vector<std::string> copiesSetAside;
        std::exception_ptr setAsideFailure;
        bool ok() const { return status == Status::Saved; }
    };

    // `baseDir` ends with a separator. Nothing is touched before open().
    CatalogSession(std::string baseDir, Options options);
    // close(), and the journal stops recording (the catalogue recover()
    // was given must still exist).
    ~CatalogSession();
    CatalogSession(const CatalogSession &) = delete;
    CatalogSession &operator=(const CatalogSession &) = delete;

    const std::string &baseDir() const { return files_.baseDir(); }
    const CatalogFiles &files() const { return files_; }
    bool holdsLock() const { return lock_.held(); }
    // See Opened::readOnly.
    bool readOnly() const { return readOnly_; }

    Opened open();

    // See CatalogFiles::openBackups(); raises its errors.
    void openBackups();
    // Copies the opened backups on a worker thread; `done` runs on that
    // thread when it ends. Nothing when none are opened or they have begun.
    void startBackups(std::function<void()> done = {});
    bool backupsPending() const { return backups_ != nullptr; }
    // Waits for the backups (making them here when they have not begun)
    // and returns their failure, each failure once. The old backups kept
    // join files().keptBackups().
    std::exception_ptr finishBackups();

    Loaded load(Catalog &catalog);

    // With a journal pending (its base changed or not), `accept` replays it on the freshly loaded
    // `catalog`, else it is set aside; an unfitting one is set aside. Then
    // every later change is recorded. Without Options::journal nothing.
    Recovered recover(Catalog &catalog, bool accept);
    // Changes are recorded and some are not yet flushed.
    bool recording() const { return recording_; }
    bool unflushed() const { return recording_ && journal_.dirty(); }
    // Called at the first change after a flush (and after a replay).
    void setOnJournalChange(std::function<void()> onChange);
    // Writes the recorded changes to the journal. Raises EInOutError; they
    // then stay for the next try. Nothing before recording begins.
    void flush();

    // The folder's boundary (see CatalogFiles::outsideLinks()). The links
    // to outside the folder not agreed to, while they are still to be
    // asked about (Options::askLinks, once a run).
    std::vector<CatalogFiles::OutsideLink> linksToAsk() const;
    // The answer: agreed links are written through from now on and
    // remembered on this machine for this folder (a failure to remember is
    // raised, the agreement holds for the run); refused ones are replaced.
    void decideLinks(bool agree);
    bool writesThrough(const std::string &path) const { return files_.writesThrough(path); }

    // Loads the base this machine kept for the folder into `base` (empty);
    // false when none is kept. Raises the load's errors.
    bool loadBase(Catalog &base) const;

    struct ConflictsMerged {
        // The pairs of conflict copies merged in.
        size_t copies = 0;
        merge::Report report;
        // The copies merged, which the next successful save sets aside
        // (Saved::copiesSetAside then names where they went); set aside at
        // once when the merge changed nothing the files do not hold.
        std::vector<std::string> setAsideNames;
        // A copy that could not be read whole: not merged, left in place.
        std::exception_ptr failure;
    };
    // After a load() that read the files whole: merges every conflict-copy pair in the folder into
    // `catalog` (three-way, base = this machine's kept base, or empty),
    // marking it modified when that changed anything. The copies are
    // remembered and set aside by the next successful save().
    ConflictsMerged mergeConflictCopies(Catalog &catalog);
    // The copies merged and not yet set aside.
    const std::vector<std::string> &conflictCopiesPending() const { return copiesMerged_; }

    // data.dat or text.dat is not what this run last loaded or saved.
    bool changedOutside() const { return files_.changedOnDisk(); }

    // ---- another program's version, while the run goes on ----
    // Reads the pair as it now is into `theirs` (empty) by the load's
    // rules; the session is not touched, so this may run on another thread.
    static CatalogFiles::PairRead readOutside(const std::string &baseDir, Catalog &theirs);
    // The version read is one to take in: read whole (no failure, no
    // partial read), every catalogue file this run had still there, and
    // still the files on disk.
    bool takesIn(const CatalogFiles::PairRead &read) const;
    // The window's catalogue becomes `version` (made from that read: the
    // files as read, or merged with this run's changes and then modified),
    // its old contents going to `version`. The session takes the read
    // files as the ones it last loaded (the next save compares with them,
    // they become the folder's base) and the journal starts over on them,
    // holding a modified catalogue whole from the next flush. `show` runs
    // in between, once the catalogue is replaced: what it changes (the
    // window showing a note) is not recorded, and the unsaved-changes flag
    // is the version's after it.
    void takeIn(Catalog &catalog, Catalog &version, const CatalogFiles::PairRead &read,
                const std::function<void()> &show = {});
    // From now on the base is kept (Options::keepBase), beginning with the
    // files as loaded when they were read whole.
    void keepBaseFromNow();
    // Saves `catalog` once the backups are made. A version of the files
    // another program wrote is asked about (Consent::Ask) unless a save
    // that failed already kept that very version.
    Saved save(Catalog &catalog, Consent consent);

    // Waits for the backups (a failure not taken is dropped) and lets the
    // folder go. Again: nothing.
    void close();

private:
    int64_t now() const;
    // The files as this run last loaded or saved them.
    JournalBase journalBase() const;
    // Waits for the backups or makes them; their failure is kept for
    // finishBackups().
    void completeBackups();
    // Quorvel.ini's conflict copies: the newest of them and the file itself
    // becomes Quorvel.ini, the others leave the folder. Best effort: what
    // fails stays for the next start.
    void resolveSettingsCopies() noexcept;
    // After a save: the copies merged go to the state folder.
    void setAsideMergedCopies(Saved &saved);
    // Options::keepBase: the pair as it now is becomes the folder's base;
    // `later`: on a thread of its own (a copy of the whole pair must not
    // hold up the window), waited for by the next use of the base.
    void keepBase(bool later = false) noexcept;
    void waitForBase() const;
    // The remarks of a save that went through, each told once a run.
    void tellRemarks(Saved &saved);

    Options options_;
    CatalogFiles files_;
    CatalogLock lock_;
    Journal journal_;
    std::unique_ptr<BackupCopies> backups_;          // opened, not yet finished
    std::thread backupThread_;                       // copying backups_
    std::exception_ptr backupFailure_;               // the worker's error, read after the join
    mutable std::thread baseThread_;                 // keeping the base (keepBase(true))
    JournalFound journalFound_ = JournalFound::None; // by load()
    bool readOnly_ = false;
    bool recording_ = false;
    // The files another program wrote, already kept and agreed to be
    // overwritten by a save that then failed.
    std::optional<std::pair<FileIdentity, FileIdentity>> otherKept_;
    std::vector<std::string> agreed_; // outside targets agreed to (askLinks)
    bool linksDecided_ = false;
    std::vector<std::string> linksTold_; // the links a remark named
    bool markerTold_ = false;
    std::vector<std::string> copiesMerged_; // conflict copies the catalogue holds, still in the folder
};

} // namespace qv

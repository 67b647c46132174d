// The catalogue's files in the base directory and the sequences around
// them: backups at start, the load with the icon join, the save.
#pragma once

#include "catalog/Catalog.h"
#include "storage/FileIo.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class InputFile;

// A file whose read left data unread: it stopped at its stop byte (NUL in
// data.dat, 0x1A in text.dat) or after text.dat's counted records with more
// data after it; `offset` is where the unread part begins.
struct PartialRead {
    std::string path;
    uint64_t offset = 0;
};

// The directory of an executable path, with a trailing separator.
std::string baseDirectoryOf(const std::string &executablePath);

// The copying of the backups opened by CatalogFiles::openBackups(). It
// touches nothing but its own files, so it may run on any thread.
class BackupCopies {
public:
    BackupCopies(const BackupCopies &) = delete;
    BackupCopies &operator=(const BackupCopies &) = delete;
    // The temporary files of copies never run are removed.
    ~BackupCopies();

    // Makes the backups in order, each put in place before the next one
    // begins; a differing old backup of a source that would read only in
    // part is kept first (keptBackups()). The first error stops it, and
    // the backups after it are not made. Raises EReadError, EWriteError,
    // and EInOutError when an old backup cannot be kept. Runs once; later
    // calls do nothing.
    void run();
    const std::vector<std::string> &keptBackups() const { return kept_; }

    // Test hook: every later run() calls `hook` first, on its own thread
    // (a slow or watched backup); an empty one switches it off.
    static void setRunHook(std::function<void()> hook);

private:
    friend class CatalogFiles;
    struct Copy {
        std::unique_ptr<InputFile> source;
        std::unique_ptr<AtomicFile> backup;
        std::string backupPath;
        bool (*readsWhole)(InputFile &) = nullptr;
    };
    explicit BackupCopies(std::function<int64_t()> clock);
    void keepOldBackup(InputFile &source, const std::string &backup, bool (*readsWhole)(InputFile &));

    std::vector<Copy> copies_;
    std::function<int64_t()> clock_;
    std::vector<std::string> kept_;
};

class CatalogFiles {
public:
    // `baseDir` ends with a separator.
    explicit CatalogFiles(std::string baseDir);

    const std::string &baseDir() const { return baseDir_; }
    std::string outlinePath() const { return baseDir_ + "data.dat"; }
    std::string recordPath() const { return baseDir_ + "text.dat"; }
    std::string outlineBackupPath() const { return baseDir_ + "data.bak"; }
    std::string recordBackupPath() const { return baseDir_ + "text.bak"; }
    std::string settingsPath() const { return baseDir_ + "Quorvel.ini"; }

    // The folder's boundary: entries of the folder itself are written,
    // renamed and deleted, nothing else. A catalogue file (data.dat,
    // text.dat, Quorvel.ini) that is a symbolic link is read through, and
    // written through only when its target lies inside the folder or is
    // one of the agreed targets; any other link is replaced by the new file
    // (linksReplaced() names it after the save).
    struct OutsideLink {
        std::string path;   // the link
        std::string target; // its target's real path
    };
    // The catalogue files that are links to a file outside the folder.
    std::vector<OutsideLink> outsideLinks() const;
    void setAgreedTargets(std::vector<std::string> targets) { agreed_ = std::move(targets); }
    bool writesThrough(const std::string &path) const;
    // The links the last save replaced.
    const std::vector<std::string> &linksReplaced() const { return linksReplaced_; }
    // The last save found an entry at the commit marker's name that is no
    // regular file: the pair was put in place without a marker.
    bool markerBlocked() const { return markerBlocked_; }

    // Copies text.dat to text.bak and data.dat to data.bak (those present),
    // each with its source's modification time (2-second resolution). A
    // link at a backup's name is replaced, never written through. When a
    // source would read only partly or not at all, an old backup that
    // differs from it is first kept as "data.bak.<stamp>" (keptBackups()).
    // Raises EFOpenError, ENotRegularFile (for an entry in a source's place
    // that is no regular file), EFCreateError, EReadError, EWriteError, and
    // EInOutError when an old backup cannot be kept.
    void makeBackups();
    const std::vector<std::string> &keptBackups() const { return keptBackups_; }
    // makeBackups() in two steps, for a caller that copies on another
    // thread: every source is opened and every backup's temporary file
    // created now, raising what makeBackups() raises for them (when one
    // fails, the backups before it are made first and an old backup of its
    // own kept when due, as makeBackups() would); the copying is left to
    // BackupCopies::run(). The sources stay open, so the copies hold the
    // files as they are now even if a save replaces them meanwhile.
    std::unique_ptr<BackupCopies> openBackups();
    // Adds the old backups `copies` kept to keptBackups(); after run().
    void takeKeptBackups(BackupCopies &copies);

    // Loads data.dat and text.dat into `catalog` and joins the icons. The
    // record file is read even without data.dat; a missing file is an empty
    // one, an entry that is no regular file raises ENotRegularFile. Raises
    // the files' errors; after an error loadFailed() is true and the
    // catalogue holds what was read before it.
    void load(Catalog &catalog);
    bool loadFailed() const { return loadFailed_; }
    // Only the icon join failed: every byte of both files was read.
    bool joinFailed() const { return joinFailed_; }
    bool loaded() const { return loaded_; }

    // A read of the pair that changes nothing this object knows: another
    // program's version, read while the run goes on (on any thread, into a
    // catalogue of its own). The identities are taken before reading, as
    // the load takes them.
    struct PairRead {
        FileIdentity outline, record;
        uint64_t outlineHash = 0, recordHash = 0;
        std::vector<PartialRead> partialReads;
        std::exception_ptr failure;
    };
    // Reads the pair in `baseDir` into `catalog` (empty) by the load's rules.
    static PairRead readPair(const std::string &baseDir, Catalog &catalog);
    // The run now holds the version `read` found whole: it is what the next
    // save compares the files with, as after a load.
    void adoptRead(const PairRead &read);
    // The files the last load read only in part (see PartialRead); the
    // catalogue holds what the reading rules give.
    const std::vector<PartialRead> &partialReads() const { return partial_; }

    // Writes text.dat and data.dat as one unit, then clears the flag: both
    // are written to temporaries and made durable, a commit marker naming
    // them is made durable, `beforeReplace` runs (an exception from it
    // cancels the save with the old files in place), then both are renamed
    // into place and the marker removed. A failure before the marker leaves
    // the old pair; an interruption after it is finished by the next
    // repairAtStart(). After a load that failed or read a file in part, the first save first copies the original files
    // beside the catalogue as "data.dat.unread-<stamp>" (keptOriginals() then
    // names them, even when the save fails later on); later saves copy
    // nothing. In a folder that takes no new entry, a file that may be
    // written is written in place once its old bytes are copied to its
    // backup (text.bak, data.bak; when that copy cannot be made the save
    // fails as it would have), without a marker: `beforeReplace` runs
    // first, then text.dat and data.dat are written one after the other.
    void save(Catalog &catalog, const std::function<void()> &beforeReplace = {});
    // The next save copies the originals aside before replacing them. A
    // join that failed counts too: the save writes the icons field it
    // refused as the icon its nodes show.
    bool keepsOriginals() const { return !originalsKept_ && (loadFailed_ || !partial_.empty()); }
    const std::vector<std::string> &keptOriginals() const { return kept_; }

    // At start, under the lock, before the backups and the load: finishes a
    // save that was interrupted after its commit marker (renaming what is
    // left of the pair into place), removes the marker, and removes stale
    // temporaries of our atomic writes. True when it renamed a file of an
    // interrupted save (a journal of changes against the old files is then
    // obsolete). Raises EInOutError when a rename fails; the marker then
    // stays for the next attempt. Only entries of the folder are touched:
    // a marker naming anything else is not acted on.
    bool repairAtStart();
    // repairAtStart() would rename a file of an interrupted save.
    bool repairPending() const;

    // data.dat or text.dat is not the file this run last loaded or saved
    // (another program replaced, changed or removed it). False before the
    // first load or save.
    bool changedOnDisk() const;
    // data.dat and text.dat as this run last loaded or saved them (as they
    // were when the load began); no entry before the first load or save.
    const FileIdentity &outlineIdentity() const { return outlineIdentity_; }
    const FileIdentity &recordIdentity() const { return recordIdentity_; }
    // A ContentHash (storage/FileIo.h) of each file's bytes as this run last
    // loaded or saved them; 0 for a file that was not there or not read.
    uint64_t outlineHash() const { return outlineHash_; }
    uint64_t recordHash() const { return recordHash_; }
    // Copies the files now on disk to "data.dat.other-<date>" and
    // "text.dat.other-<date>" and returns their paths. Raises the copy's
    // errors.
    std::vector<std::string> keepOtherVersion();

    // Clock for the dated names of kept files (seconds since the epoch);
    // backups opened later take a copy of it.
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

private:
    void keepOriginals();
    static void saveWithoutMarker(AtomicFile &text, AtomicFile &data,
                                  const std::function<void()> &beforeReplace);
    bool finishInterruptedSave();
    // The real path of a link at `path` when it resolves, else nothing.
    static std::optional<std::string> linkTarget(const std::string &path);
    bool insideFolder(const std::string &realPath) const;
    // What a commit marker may name as a target.
    std::vector<std::string> commitTargets() const;
    void rememberIdentities();
    int64_t now() const;

    std::string baseDir_;
    bool loadFailed_ = false;
    bool joinFailed_ = false;
    bool loaded_ = false;
    bool originalsKept_ = false;
    bool outlineKept_ = false;
    bool recordsKept_ = false;
    std::vector<PartialRead> partial_;
    std::vector<std::string> kept_;
    std::vector<std::string> keptBackups_;
    std::function<int64_t()> clock_;
    bool identityKnown_ = false;
    FileIdentity outlineIdentity_;
    FileIdentity recordIdentity_;
    std::vector<std::string> agreed_;
    std::vector<std::string> linksReplaced_;
    bool markerBlocked_ = false;
    uint64_t outlineHash_ = 0;
    uint64_t recordHash_ = 0;
};

// Copy with the source's time stamp, as the backups do; a link at
// `destination` is replaced, not followed.
void backupCopy(const std::string &source, const std::string &destination);

} // namespace qv

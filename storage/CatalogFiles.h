// The catalogue's files in the base directory and the sequences around
// them: backups at start, the load with the icon join, the save.
#pragma once

#include "catalog/Catalog.h"
#include "storage/FileIo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qv {

// The directory of an executable path, with a trailing separator.
std::string baseDirectoryOf(const std::string &executablePath);

class CatalogFiles {
public:
    // `baseDir` ends with a separator.
    explicit CatalogFiles(std::string baseDir);

    const std::string &baseDir() const { return baseDir_; }
    std::string outlinePath() const { return baseDir_ + "data.dat"; }
    std::string recordPath() const { return baseDir_ + "text.dat"; }
    std::string outlineBackupPath() const { return baseDir_ + "data.bak"; }
    std::string recordBackupPath() const { return baseDir_ + "text.bak"; }

    // Copies text.dat to text.bak and data.dat to data.bak (those present),
    // each with its source's modification time (2-second resolution).
    // Raises EFOpenError, EFCreateError, EReadError, EWriteError.
    void makeBackups();

    // Loads data.dat and text.dat into `catalog` and joins the icons. The
    // record file is read even without data.dat. Raises the files' errors;
    // after an error loadFailed() is true and the catalogue holds what was
    // read before it.
    void load(Catalog &catalog);
    bool loadFailed() const { return loadFailed_; }
    bool loaded() const { return loaded_; }

    // Writes text.dat and data.dat as one unit, then clears the flag: both
    // are written to temporaries and made durable, a commit marker naming
    // them is made durable, `beforeReplace` runs (an exception from it
    // cancels the save with the old files in place), then both are renamed
    // into place and the marker removed. A failure before the marker leaves
    // the old pair; an interruption after it is finished by the next
    // repairAtStart(). After a failed load the first save first renames the
    // original files beside the catalogue (keptOriginals() then names them).
    void save(Catalog &catalog, const std::function<void()> &beforeReplace = {});
    const std::vector<std::string> &keptOriginals() const { return kept_; }

    // At start, under the lock, before the backups and the load: finishes a
    // save that was interrupted after its commit marker (renaming what is
    // left of the pair into place), removes the marker, and removes stale
    // temporaries of our atomic writes. True when it renamed a file of an
    // interrupted save (a journal of changes against the old files is then
    // obsolete). Raises EInOutError when a rename fails; the marker then
    // stays for the next attempt.
    bool repairAtStart();

    // data.dat or text.dat is not the file this run last loaded or saved
    // (another program replaced, changed or removed it). False before the
    // first load or save.
    bool changedOnDisk() const;
    // Copies the files now on disk to "data.dat.other-<date>" and
    // "text.dat.other-<date>" and returns their paths. Raises the copy's
    // errors.
    std::vector<std::string> keepOtherVersion();

    // Clock for the dated names of kept originals (seconds since the epoch).
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

private:
    void keepOriginals();
    bool finishInterruptedSave();
    void rememberIdentities();
    int64_t now() const;

    std::string baseDir_;
    bool loadFailed_ = false;
    bool loaded_ = false;
    bool originalsKept_ = false;
    std::vector<std::string> kept_;
    std::function<int64_t()> clock_;
    bool identityKnown_ = false;
    FileIdentity outlineIdentity_;
    FileIdentity recordIdentity_;
};

// Copy with the source's time stamp, as the backups do.
void backupCopy(const std::string &source, const std::string &destination);

} // namespace qv

// The catalogue's files in the base directory and the sequences around
// them: backups at start, the load with the icon join, the save.
#pragma once

#include "catalog/Catalog.h"

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

    // Writes text.dat, then data.dat, then clears the flag. After a failed
    // load the first save first renames the original files beside the
    // catalogue (keptOriginals() then names them).
    void save(Catalog &catalog);
    const std::vector<std::string> &keptOriginals() const { return kept_; }

    // Clock for the dated names of kept originals (seconds since the epoch).
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

private:
    void keepOriginals();

    std::string baseDir_;
    bool loadFailed_ = false;
    bool loaded_ = false;
    bool originalsKept_ = false;
    std::vector<std::string> kept_;
    std::function<int64_t()> clock_;
};

// Copy with the source's time stamp, as the backups do.
void backupCopy(const std::string &source, const std::string &destination);

} // namespace qv

// The backups a damaged catalogue can be opened from instead: data.bak and
// text.bak, and the older ones kept under dated names.
#pragma once

#include "catalog/Catalog.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct BackupPair {
    std::string outlinePath;
    std::string recordPath;
    int64_t mtimeNs = 0; // the newer of the two files
};

// The pairs in `baseDir` (ending with a separator), newest first: data.bak
// with text.bak, and each date an older backup was kept under
// ("data.bak.<date>", "text.bak.<date>"), the current backup standing in
// for a partner that was not kept that day (it had not changed). Only pairs
// whose both files are there.
std::vector<BackupPair> backupPairs(const std::string &baseDir);

// Reads a pair into `catalog`, replacing what it holds. False when either
// file reads only in part; raises the readers' and the join's errors.
bool readPairWhole(const BackupPair &pair, Catalog &catalog);

// The newest pair that reads whole.
std::optional<BackupPair> newestWholeBackup(const std::string &baseDir);

} // namespace qv

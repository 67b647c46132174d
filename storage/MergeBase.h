// The base of a three-way merge, kept on this machine: the catalogue pair
// of a folder as this machine last loaded or saved it, so edits that arrive
// later from another machine (through a sync engine) can be merged against
// what both started from. It lives in the state folder, never in the
// catalogue folder (which travels): "$XDG_STATE_HOME/quorvel/bases/<key>/"
// (storage/LinkConsent's state folder), <key> the hash of the folder's real
// path in 16 hex digits, holding data.dat, text.dat, "hashes" (their
// ContentHash, so a pair already kept is not copied again) and "folder"
// (the real path, which tells a clash of keys). A folder seen for the first time has
// none; the merge then takes the empty catalogue.
#pragma once

#include "catalog/Catalog.h"

#include <cstdint>
#include <string>

namespace qv::mergebase {

// The key of a folder in the state folder: the hash of its real path
// `folder` in 16 hex digits (the conflict copies set aside use it too).
std::string folderKey(const std::string &folder);

// Where the base of the folder whose real path is `folder` is kept (with a
// trailing separator); "" when no state folder is known.
std::string baseFolder(const std::string &folder);

// Keeps the pair in `catalogDir` (ending with a separator) as the base of
// the folder whose real path is `folder`, each file whole, when its bytes
// still hash to `dataHash` and `textHash` (the ContentHash of what was
// loaded or saved; storage/FileIo.h): false, nothing kept, when a file
// changed meanwhile. Raises the reads' and writes' errors.
bool keep(const std::string &folder, const std::string &catalogDir, uint64_t dataHash, uint64_t textHash);

// Loads the base kept for `folder` into `base` (empty); false, `base` left
// empty, when none is kept. Raises the load's errors.
bool load(const std::string &folder, Catalog &base);

// Removes the bases of folders whose real path is gone or that were last
// kept more than 90 days before `now` (seconds). Looks at most once a day
// (a stamp file, "bases/.pruned", remembers when). Best effort.
void prune(int64_t now) noexcept;

} // namespace qv::mergebase

// The two catalogue files are replaced as one unit. Both are first written
// to temporaries beside their targets and made durable; then a commit marker,
// `.Quorvel.commit`, naming each temporary and its target is put in place
// atomically and made durable; then the temporaries are renamed over their
// targets and the marker removed. A run that stops before the marker is in
// place leaves the old pair (and temporaries the next start removes); one
// that stops after it leaves a marker from which the next start finishes the
// renames. Used by CatalogFiles.
//
// The marker and the temporaries carry the machine's name
// (".Quorvel-<machine>.commit", ".data.dat.<machine>.tmp-XXXXXX"), so that
// in a folder a sync engine shares, one machine never rolls forward nor
// sweeps away what another left. An unnamed marker or temporary (made
// before the name was carried) is read as this machine's.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv::paircommit {

struct Move {
    std::string temporary;
    std::string target;
    bool operator==(const Move &) const = default;
};

// `baseDir` ends with a separator. This machine's marker.
std::string markerPath(const std::string &baseDir);
// The marker to act on at start: this machine's, else an unnamed one.
// readMarker() and removeMarker() act on it.
std::string foundMarkerPath(const std::string &baseDir);

// Writes the marker atomically and durably. A link in its place is removed
// first, never followed. Raises EInOutError.
void writeMarker(const std::string &baseDir, const std::vector<Move> &moves);

// The marker's moves, when there is a complete marker whose every target is
// one of `targets` and whose every temporary carries our temporary naming
// beside its target and is either gone or a regular file. Anything else
// (no marker, one cut short, one naming other files) gives nothing.
std::optional<std::vector<Move>> readMarker(const std::string &baseDir,
                                            const std::vector<std::string> &targets);

// Renames each temporary still there over its target (one already gone was
// renamed before) and makes the renames durable. Returns how many it renamed.
// Raises EInOutError when a rename fails; the rest are then left as they are.
size_t applyMoves(const std::vector<Move> &moves);

// Removes the marker (when there is one that is not a directory) and makes
// that durable. False when it is still there.
bool removeMarker(const std::string &baseDir);

// Removes the regular files named ".<name>.tmp-XXXXXX" for each of `names`
// in `dir` (ending with a separator): temporaries of atomic writes cut short.
// Links and anything else are left alone.
void removeStaleTemporaries(const std::string &dir, const std::vector<std::string> &names);

} // namespace qv::paircommit

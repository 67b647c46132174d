// "data.dat": one line per node in flat order, depth TABs, caption, CR LF.
#pragma once

#include "catalog/Outline.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

// A caption as the outline file writes it: a byte the file cannot carry (CR,
// LF, NUL, 0x1A) becomes '?'.
Bytes storedCaption(std::string_view caption);

class AtomicFile;
class InputFile;

// The file's bytes for an outline (pre-order walk, no recursion).
Bytes outlineBytes(const Outline &outline);
// Parses bytes into `outline`, replacing its contents. On a level error the
// nodes of the earlier lines stay and EOutlineLevelError is raised.
void parseOutline(std::string_view bytes, Outline &outline);

// Writes the file atomically; EFCreateError when it cannot be created.
void writeOutlineFile(const std::string &path, const Outline &outline);
// Writes the file's bytes into `file` (opened with Refusal::Create), which
// the caller commits.
void writeOutline(AtomicFile &file, const Outline &outline);
// Reads the file up to its first NUL, never further; EFOpenError when it
// cannot be opened, ENotRegularFile when it is no regular file (outline
// unchanged either way). Returns the offset of that NUL when anything but
// NUL, 0x1A, CR or LF follows it: the read then left part of the file out.
// `contentHash` gets the ContentHash of the bytes read (storage/FileIo.h).
std::optional<uint64_t> readOutlineFile(const std::string &path, Outline &outline,
                                        uint64_t *contentHash = nullptr);

// Reads an open file from where it stands as readOutlineFile does, without
// keeping the nodes: false when the read would stop early (as above) or with
// the level error. Raises EInOutError on a read failure.
bool outlineReadsWhole(InputFile &file);

} // namespace qv

// "data.dat": one line per node in flat order, depth TABs, caption, CR LF.
#pragma once

#include "catalog/Outline.h"

#include <string>

namespace qv {

class AtomicFile;

// The file's bytes for an outline (pre-order walk, no recursion).
Bytes outlineBytes(const Outline &outline);
// Parses bytes into `outline`, replacing its contents. On a level error the
// nodes of the earlier lines stay and ETreeViewError is raised.
void parseOutline(std::string_view bytes, Outline &outline);

// Writes the file atomically; EFCreateError when it cannot be created.
void writeOutlineFile(const std::string &path, const Outline &outline);
// Writes the file's bytes into `file` (opened with Refusal::Create), which
// the caller commits.
void writeOutline(AtomicFile &file, const Outline &outline);
// Reads the file; EFOpenError when it cannot be opened (outline unchanged).
void readOutlineFile(const std::string &path, Outline &outline);

} // namespace qv

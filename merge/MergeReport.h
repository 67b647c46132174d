// Who wrote each version of a merge, and what the merge tells about it.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <vector>

namespace qv::merge {

// One side of a merge: the machine that wrote it and when (seconds since
// 1970, UTC). Both name the side in a note's conflict, and they decide
// every choice between two versions, so a merge of the same versions gives
// the same bytes on every machine, whichever side it calls its own.
struct Side {
    Bytes machine; // code page bytes
    int64_t time = 0;
};

// -1, 0 or 1 as `a` is earlier than, as old as or later than `b` (by the
// time, then by the machine's name, byte by byte).
int compareSides(const Side &a, const Side &b);

struct Conflict {
    enum class Kind {
        Note,    // both edited the same lines: the note keeps both versions
        Caption, // renamed differently on both sides: the later name taken
        Icon,    // icon set differently: the later one taken
        Place,   // moved differently: the later place taken
        Created, // both created the caption with different notes: the later one renamed
    };
    Kind kind = Kind::Note;
    // The node's path of captions in the merged outline, root first.
    std::vector<Bytes> path;
    // For Caption, Icon, Place and Created: the version not taken, as text
    // (a caption, an icon number, the caption of the parent left).
    Bytes other;
};

struct Report {
    // Changes against the base each side brought (a node created, deleted,
    // renamed, moved, its note or icon changed; a record no node shows
    // added, removed or changed): each counts once per node and kind.
    size_t oursChanges = 0;
    size_t theirsChanges = 0;
    // In the merged outline's order.
    std::vector<Conflict> conflicts;
};

} // namespace qv::merge

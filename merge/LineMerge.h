// The line-wise three-way merge of one note, in record form (lines joined
// by "~~"): the changes of both sides where they do not overlap; where they
// do, both versions one after the other between marker lines naming the
// machine and the time of each.
#pragma once

#include "catalog/Text.h"
#include "merge/MergeReport.h"

#include <string_view>

namespace qv::merge {

struct TextMerge {
    Bytes text;
    size_t conflicts = 0; // overlapping edits kept as both versions
};

// The same for any order of the sides: a conflict puts the earlier side's
// version first (compareSides, then the versions' bytes).
TextMerge mergeText(std::string_view base, std::string_view ours, std::string_view theirs,
                    const Side &ourSide, const Side &theirSide);

// The marker lines of a conflict: before each version and after both.
Bytes versionMarker(const Side &side);
Bytes secondVersionMarker(const Side &side);
Bytes endMarker();

} // namespace qv::merge

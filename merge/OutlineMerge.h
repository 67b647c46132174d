// The three-way merge of two catalogues grown from one base: both files
// together, node by node (a node is known by its caption), each note line
// by line (merge/LineMerge.h).
//
// The rules where two versions meet:
//  - a change made on one side only is taken: a node created, deleted,
//    renamed, moved (parent or place among siblings), its note or icon
//    changed; a record no node shows added, removed or changed;
//  - a rename is known as one when the renamed node keeps its base place
//    (the same parent, as many siblings both versions keep under that
//    parent before it) and its note (text, or having none); otherwise it
//    reads as a deletion and a creation;
//  - a node deleted on one side and changed on the other (renamed, moved,
//    its note or icon changed) stays with the change, and so does every
//    node above one that stays;
//  - both sides created one caption: one node when the notes are equal,
//    else two, the one from the later side with " (N)" after its caption
//    (a Created conflict); every other clash of captions is settled the
//    same way, a caption the base already had under it keeping it;
//  - renamed, re-iconed or moved differently on both sides: the later
//    side's version, the other named in the report; a move that would put
//    a node inside itself leaves that node where the base had it;
//  - siblings and records keep each side's order around its insertions
//    and moves; where both sides changed the same stretch the earlier
//    side's stretch comes first;
//  - "later" and "earlier" are by the sides' times, then their machines'
//    names, then the versions' bytes, so swapping the sides gives the same
//    bytes, and merge(B, X, X), merge(B, B, X) and merge(B, X, B) give X.
#pragma once

#include "catalog/Catalog.h"
#include "merge/MergeReport.h"

namespace qv::merge {

// Fills `out` (empty) with the merge of `ours` and `theirs` over `base`
// (an empty catalogue when there is none). Raises EConvertError when a
// record the merge brings under a node holds an icons field the number
// syntax refuses.
Report mergeCatalogs(const Catalog &base, const Catalog &ours, const Catalog &theirs, const Side &ourSide,
                     const Side &theirSide, Catalog &out);

// Both halves hold the same nodes in the same places and the same records
// in the same order, byte for byte.
bool sameCatalog(const Catalog &a, const Catalog &b);

} // namespace qv::merge

// Finding text in a catalogue: every caption and every note matched where the
// catalogue holds it, folded byte by byte as it is compared, so no folded
// copy is kept.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace qv {

class Catalog;
class Node;

// Folds Windows-1251 text for matching: Latin and Cyrillic letters to lower
// case with the same tables as the case commands, "ё" and "Ё" to "е"; other
// bytes unchanged.
Bytes foldForSearch(std::string_view text);

struct SearchHit {
    const Node *node;
    bool inCaption;                  // the caption contains the query
    std::vector<uint32_t> noteLines; // 1-based lines of the note (its first record) that contain it
};

// The nodes of a catalogue in flat order, each with a lasting name of its
// note's record (RecordTable::idsOf), as they were at build(). Captions and
// notes are read from the catalogue at each search, so an edited note is
// found by its new text; only a note that now comes from another record
// (its node renamed, a record added) needs update(). It holds the nodes'
// addresses: after a node is created, removed or moved, build again before
// the next search. Searches are const and split the work over two threads;
// nothing may change the catalogue while one runs.
class SearchIndex {
public:
    // Captions and notes (each node's first record; "~~" a line break) of
    // every node, in flat order.
    void build(const Catalog &catalog);
    // The same a slice at a time, for a build that must not hold up the
    // window: takes in up to `nodes` more nodes and tells whether the index
    // is complete. A build begun on another shape of the outline (see
    // Outline::shapeVersion) starts again from the first node.
    bool buildSome(const Catalog &catalog, size_t nodes);
    bool complete() const { return complete_; }
    // Complete, for this catalogue as its outline is shaped now.
    bool current(const Catalog &catalog) const;
    bool empty() const { return nodes_.empty(); }
    // Takes in which record shows the node's note now (after a rename, or a
    // note stored for a node that had none). False, with nothing changed,
    // for a node the index does not hold.
    bool update(const Catalog &catalog, const Node *node);
    // update() for every node whose caption is one of `captions`. One pass
    // over the nodes.
    void updateCaptions(const Catalog &catalog, const std::vector<Bytes> &captions);
    // Bytes held, for the memory budget.
    size_t memoryBytes() const;

    // Every node whose caption or note contains `query` (any letter case,
    // "ё" = "е"; a "~~" of a note is a line break), in flat order. A query
    // never matches across two texts. An empty query, or one holding a NUL
    // byte, matches nothing.
    std::vector<SearchHit> find(std::string_view query) const;
    // Only the nodes (cheaper: no line numbers), in flat order.
    std::vector<const Node *> findNodes(std::string_view query) const;
    // The same restricted to `among`, nodes of this index in flat order (a
    // previous result, for a query that narrows it): costs the bytes of
    // those nodes, not of the whole catalogue.
    std::vector<const Node *> findNodes(std::string_view query, const std::vector<const Node *> &among) const;

private:
    // The places (in nodes_) among `places` (all when null) that match.
    std::vector<uint32_t> matching(std::string_view query, const std::vector<uint32_t> *places) const;

    const Catalog *catalog_ = nullptr;
    std::vector<const Node *> nodes_;
    std::vector<uint32_t> notes_; // the record of nodes_[i]'s note, or RecordTable::kNoId
    // Each caption's size (at most 255) as it was at build(), so that
    // updateCaptions reads only the nodes whose caption may be one of them.
    std::vector<uint8_t> captionSizes_;
    // A build under way: the outline's shape it began on and the next node.
    bool complete_ = false;
    uint64_t shape_ = 0;
    const Node *next_ = nullptr;
};

} // namespace qv

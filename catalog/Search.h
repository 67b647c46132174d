// Finding text in a catalogue: every caption and every note folded once into
// one buffer, searched as bytes.
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

// The folded captions and notes of a catalogue as they were at build().
// It holds the nodes' addresses: after a node is removed, build again
// before the next search. Searches are const and may run on another thread
// while nothing calls build().
class SearchIndex {
public:
    // Captions and notes (each node's first record; "~~" a line break) of
    // every node, in flat order.
    void build(const Catalog &catalog);
    bool empty() const { return nodes_.empty(); }
    // Bytes held, for the memory budget.
    size_t memoryBytes() const;

    // Every node whose caption or note contains `query` (any letter case,
    // "ё" = "е"; "~~" in the query is a line break), in flat order. A
    // query never matches across two texts. An empty query, or one holding
    // a NUL byte, matches nothing.
    std::vector<SearchHit> find(std::string_view query) const;
    // Only the nodes (cheaper: no line numbers), in flat order.
    std::vector<const Node *> findNodes(std::string_view query) const;
    // The same restricted to `among`, nodes of this index in flat order (a
    // previous result, for a query that narrows it): costs the bytes of
    // those nodes, not of the whole catalogue.
    std::vector<const Node *> findNodes(std::string_view query, const std::vector<const Node *> &among) const;

private:
    // Node i's caption starts at starts_[2i] and its note at starts_[2i + 1];
    // each text is followed by a NUL. The last entry is text_'s size.
    size_t textAt(size_t offset) const;
    template <typename OnHit>
    void scan(const Bytes &needle, size_t from, size_t to, OnHit &&onHit) const;

    Bytes text_;
    std::vector<size_t> starts_;
    std::vector<const Node *> nodes_;
};

} // namespace qv

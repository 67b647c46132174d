// Finding text in a catalogue: every caption and every note folded once into
// one buffer, searched as bytes.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <map>
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

// The folded captions and notes of a catalogue as they were at build(), or
// at update() for a node edited since. It holds the nodes' addresses: after
// a node is created, removed or moved, build again before the next search.
// Searches are const and may run on another thread while nothing calls
// build() or update().
class SearchIndex {
public:
    // Captions and notes (each node's first record; "~~" a line break) of
    // every node, in flat order.
    void build(const Catalog &catalog);
    bool empty() const { return nodes_.empty(); }
    // Takes in the node's caption and note as they are now (after an edit
    // of its note, a rename): costs the node's texts, not the catalogue's.
    // False, with nothing changed, for a node the index does not hold.
    bool update(const Catalog &catalog, const Node *node);
    // update() for every node whose caption is one of `captions`: the nodes
    // that show a record whose text or name changed. One pass over the nodes.
    void updateCaptions(const Catalog &catalog, const std::vector<Bytes> &captions);
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
    // The nodes updated since build() that hold `needle` (only those
    // `wanted` marks, when given), by their place in flat order.
    std::vector<std::pair<size_t, SearchHit>> findEdited(const Bytes &needle, bool lines,
                                                         const std::vector<uint8_t> *wanted) const;

    // A node's texts after update(), folded; its stretch of text_ then holds
    // only NULs.
    struct Edited {
        Bytes caption;
        Bytes note;
    };

    Bytes text_;
    std::vector<size_t> starts_;
    std::vector<const Node *> nodes_;
    std::map<size_t, Edited> edited_; // by the node's place in nodes_
    void refold(const Catalog &catalog, size_t i);
};

} // namespace qv

// Finding nodes by text: every caption and every note, folded once so a
// query is a plain byte search.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv {

class Catalog;
class Node;

// Folds CP1251 text for matching: Latin and Cyrillic letters to lower case
// with the same tables as the case commands, "ё"/"Ё" to "е"; other bytes
// unchanged.
Bytes foldForSearch(std::string_view text);

struct SearchHit {
    const Node *node;
    bool inCaption;                  // the caption contains the query
    std::vector<uint32_t> noteLines; // 1-based line numbers of the note that contain it
};

class SearchIndex {
public:
    // Folded captions and notes of every node, in flat order; records joined
    // by the first-match rule; "~~" in a record is a line break.
    void build(const Catalog &catalog);
    bool empty() const { return entries_.empty(); }
    // Every node whose caption or note contains `query`, in flat order. An
    // empty query matches nothing.
    std::vector<SearchHit> find(std::string_view query) const;
    // Only the nodes, in flat order.
    std::vector<const Node *> findNodes(std::string_view query) const;
    // The same restricted to `among` (a previous result).
    std::vector<const Node *> findNodes(std::string_view query, const std::vector<const Node *> &among) const;

private:
    struct Entry {
        const Node *node;
        Bytes caption;
        Bytes note; // line breaks as '\n'
    };
    bool matches(const Entry &e, std::string_view folded) const;

    std::vector<Entry> entries_;
    std::unordered_map<const Node *, size_t> positions_;
};

} // namespace qv

// The rows the tree shows, in order, kept in chunks of a bounded size, so
// that inserting, removing or moving a block of rows touches only the chunks
// it falls in, whatever the number of rows after it.
//
// A row is found by a binary search over the chunks' first rows; a node's row
// comes from its chunk and its place in that chunk, which the node carries in
// Node::shownRow (the chunk's id in the high bits, the place in the low ones).
// A node no longer in the index may still carry an old place: its row is
// taken only when the place points back at it.
#pragma once

#include "catalog/Outline.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

class RowIndex {
public:
    // A chunk holds at most `chunkMax` rows (a power of two, at least 4);
    // a full chunk is split in halves.
    explicit RowIndex(size_t chunkMax = 4096);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Node *at(size_t row) const;
    // The row of a node, or -1 when it is not in the index.
    long long rowOf(const Node *node) const;

    void clear();
    // Adds a row at the end.
    void append(Node *node);
    // Puts `count` rows before `row` (size() puts them at the end).
    void insert(size_t row, Node *const *nodes, size_t count);
    void erase(size_t first, size_t end);
    // Moves the rows [first, end) before the row `to` (counted before the
    // move; `to` lies outside (first, end)).
    void move(size_t first, size_t end, size_t to);

private:
    struct Chunk {
        std::vector<Node *> rows;
        size_t order = 0; // its place in order_
    };

    // The place in order_ of the chunk holding `row` (< size_).
    size_t chunkOf(size_t row) const;
    // Replaces the rows [first, end) with `count` nodes.
    void splice(size_t first, size_t end, Node *const *nodes, size_t count);
    uint32_t newChunk();
    void freeChunk(uint32_t id);
    void mark(uint32_t id, size_t from);
    // Counts the first rows and the places of the chunks from order_[from] on.
    void recount(size_t from);

    size_t chunkMax_;
    unsigned shift_ = 0; // bits of a place within a chunk
    size_t size_ = 0;
    std::vector<Chunk> chunks_; // by id; a free one is empty
    std::vector<uint32_t> free_;
    std::vector<uint32_t> order_; // chunk ids, in row order
    std::vector<size_t> starts_;  // the first row of each chunk in order_, then size_
};

} // namespace qv

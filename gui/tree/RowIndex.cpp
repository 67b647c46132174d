#include "gui/tree/RowIndex.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace qv {

RowIndex::RowIndex(size_t chunkMax) : chunkMax_(std::max<size_t>(std::bit_ceil(chunkMax), 4))
{
    while ((size_t(1) << shift_) < chunkMax_)
        ++shift_;
    starts_.push_back(0);
}

size_t RowIndex::chunkOf(size_t row) const
{
    const auto end = starts_.end() - 1;
    return size_t(std::upper_bound(starts_.begin(), end, row) - starts_.begin()) - 1;
}

Node *RowIndex::at(size_t row) const
{
    const size_t c = chunkOf(row);
    return chunks_[order_[c]].rows[row - starts_[c]];
}

long long RowIndex::rowOf(const Node *node) const
{
    const uint32_t slot = node->shownRow();
    const size_t id = slot >> shift_;
    const size_t place = slot & (chunkMax_ - 1);
    if (id >= chunks_.size())
        return -1;
    const Chunk &c = chunks_[id];
    if (place >= c.rows.size() || c.rows[place] != node)
        return -1;
    return (long long)(starts_[c.order] + place);
}

void RowIndex::clear()
{
    size_ = 0;
    chunks_.clear();
    free_.clear();
    order_.clear();
    starts_.assign(1, 0);
}

uint32_t RowIndex::newChunk()
{
    if (!free_.empty()) {
        const uint32_t id = free_.back();
        free_.pop_back();
        return id;
    }
    // A place in Node::shownRow has 31 bits: the chunk's id gets what the
    // place within the chunk leaves.
    if (chunks_.size() >> (31 - shift_))
        throw std::length_error("too many rows shown");
    chunks_.emplace_back();
    return uint32_t(chunks_.size() - 1);
}

void RowIndex::freeChunk(uint32_t id)
{
    std::vector<Node *>().swap(chunks_[id].rows);
    free_.push_back(id);
}

void RowIndex::mark(uint32_t id, size_t from)
{
    const std::vector<Node *> &rows = chunks_[id].rows;
    for (size_t p = from; p < rows.size(); ++p)
        rows[p]->setShownRow(uint32_t((size_t(id) << shift_) | p));
}

void RowIndex::recount(size_t from)
{
    starts_.resize(order_.size() + 1);
    for (size_t i = from; i < order_.size(); ++i) {
        Chunk &c = chunks_[order_[i]];
        c.order = i;
        starts_[i + 1] = starts_[i] + c.rows.size();
    }
    size_ = starts_.back();
}

void RowIndex::append(Node *node)
{
    if (order_.empty() || chunks_[order_.back()].rows.size() >= chunkMax_ / 2) {
        const uint32_t id = newChunk();
        order_.push_back(id);
        chunks_[id].order = order_.size() - 1;
        chunks_[id].rows.reserve(chunkMax_ / 2);
        starts_.push_back(size_);
    }
    std::vector<Node *> &rows = chunks_[order_.back()].rows;
    node->setShownRow(uint32_t((size_t(order_.back()) << shift_) | rows.size()));
    rows.push_back(node);
    starts_.back() = ++size_;
}

void RowIndex::insert(size_t row, Node *const *nodes, size_t count)
{
    if (count)
        splice(row, row, nodes, count);
}

void RowIndex::erase(size_t first, size_t end)
{
    if (end > first)
        splice(first, end, nullptr, 0);
}

void RowIndex::move(size_t first, size_t end, size_t to)
{
    if (end <= first || (to >= first && to <= end))
        return;
    std::vector<Node *> block;
    block.reserve(end - first);
    for (size_t c = chunkOf(first), r = first; r < end; ++c) {
        const std::vector<Node *> &rows = chunks_[order_[c]].rows;
        const size_t from = r - starts_[c];
        const size_t take = std::min(rows.size() - from, end - r);
        block.insert(block.end(), rows.begin() + long(from), rows.begin() + long(from + take));
        r += take;
    }
    erase(first, end);
    insert(to < first ? to : to - block.size(), block.data(), block.size());
}

void RowIndex::splice(size_t first, size_t end, Node *const *nodes, size_t count)
{
    if (order_.empty()) {
        for (size_t i = 0; i < count; ++i)
            append(nodes[i]);
        return;
    }
    // The chunks [ci, cj] hold the rows that change; they are cut anew.
    size_t ci = first < size_ ? chunkOf(first) : order_.size() - 1;
    size_t cj = end > first ? chunkOf(end - 1) : ci;
    const std::vector<Node *> &head = chunks_[order_[ci]].rows;
    const std::vector<Node *> &tail = chunks_[order_[cj]].rows;
    const size_t headKeep = first - starts_[ci];
    const size_t tailFrom = end - starts_[cj];
    std::vector<Node *> rows;
    rows.reserve(headKeep + count + tail.size() - tailFrom);
    rows.insert(rows.end(), head.begin(), head.begin() + long(headKeep));
    rows.insert(rows.end(), nodes, nodes + count);
    rows.insert(rows.end(), tail.begin() + long(tailFrom), tail.end());
    size_t unchanged = headKeep; // leading rows that keep their place
    // A small remainder joins a neighbour.
    if (rows.size() < chunkMax_ / 4) {
        if (cj + 1 < order_.size()) {
            const std::vector<Node *> &next = chunks_[order_[++cj]].rows;
            rows.insert(rows.end(), next.begin(), next.end());
        } else if (ci > 0) {
            const std::vector<Node *> &prev = chunks_[order_[--ci]].rows;
            rows.insert(rows.begin(), prev.begin(), prev.end());
            unchanged = prev.size();
        }
    }
    // Cut into pieces of about half a chunk once they do not fit in one.
    const size_t pieces = rows.size() <= chunkMax_ ? 1 : (rows.size() + chunkMax_ / 2 - 1) / (chunkMax_ / 2);
    const uint32_t reused = order_[ci];
    for (size_t c = ci + 1; c <= cj; ++c)
        freeChunk(order_[c]);
    order_.erase(order_.begin() + long(ci) + 1, order_.begin() + long(cj) + 1);
    if (rows.empty()) {
        freeChunk(reused);
        order_.erase(order_.begin() + long(ci));
        recount(ci);
        return;
    }
    std::vector<uint32_t> ids(pieces, reused);
    for (size_t p = 1; p < pieces; ++p)
        ids[p] = newChunk();
    order_.insert(order_.begin() + long(ci) + 1, ids.begin() + 1, ids.end());
    size_t from = 0;
    for (size_t p = 0; p < pieces; ++p) {
        const size_t n = rows.size() / pieces + (p < rows.size() % pieces);
        std::vector<Node *> &piece = chunks_[ids[p]].rows;
        piece.assign(rows.begin() + long(from), rows.begin() + long(from + n));
        mark(ids[p], p == 0 ? std::min(unchanged, n) : 0);
        from += n;
    }
    recount(ci);
}

} // namespace qv

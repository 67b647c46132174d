// How many nodes carry each caption. Open addressing over a dense list of
// entries whose keys and counts are kept in one byte store, so a caption
// costs no allocation of its own and a load sizes everything once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class CaptionCounts {
public:
    // How many carry `caption`; 0 for one never added. O(1) on average.
    size_t count(std::string_view caption) const;
    // One more carries `caption`.
    void add(std::string_view caption);
    // add() for each of n captions, the lookups overlapping instead of
    // waiting for the memory one by one.
    void addEach(const std::string_view *captions, size_t n);
    // One fewer carries `caption`; at zero it is forgotten. A caption not
    // counted is left alone.
    void remove(std::string_view caption);
    // Room for `distinct` captions of `bytes` bytes in all without regrowing.
    void reserve(size_t distinct, size_t bytes);
    void clear();
    // For the end of the process only: the storage is let go without being
    // freed, and the counts read as empty.
    void releaseWithoutFreeing();
    // Distinct captions counted.
    size_t size() const { return live_; }

private:
    // Each caption is kept in bytes_ as its count (4 bytes; an outline
    // holds fewer than 2^32 nodes) and the caption packed behind its length;
    // an entry is that place's offset, or kFree.
    static constexpr uint64_t kFree = UINT64_MAX;
    using Entry = uint64_t;
    // An empty slot has entry 0; a used one the entry's index + 1 and the
    // caption's hash bits, so a probe compares bytes only on a likely match.
    struct Slot {
        uint32_t entry = 0;
        uint32_t tag = 0;
    };
    std::string_view keyOf(Entry e) const;
    uint32_t countOf(Entry e) const;
    void setCount(Entry e, uint32_t count);
    // The slot holding `caption`, or the empty slot where it would go.
    size_t slotFor(std::string_view caption, uint32_t tag) const;
    void add(std::string_view caption, uint32_t tag);
    void growSlots(size_t distinct);
    void compactBytes();

    std::vector<Slot> slots_; // at most three quarters used
    std::vector<Entry> entries_;
    std::vector<uint32_t> freeEntries_;
    std::string bytes_;
    size_t garbage_ = 0; // bytes_ no entry uses any more
    size_t live_ = 0;
};

} // namespace qv

// The slot table both hash indexes use: open addressing with linear probing,
// each slot carrying its key's hash bits (its "tag"), kept at most three
// quarters full. Any number of slots will do: a tag is mapped onto them by a
// multiplication, so a table can be sized to what it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace qv::hashslots {

// A key's hash as its slots carry it.
inline uint32_t tagOf(std::string_view key)
{
    return static_cast<uint32_t>(std::hash<std::string_view>{}(key));
}

// Asks for the memory at `address` ahead of its use.
inline void fetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// Where a key with this tag is looked for first among `size` slots.
inline size_t homeOf(uint32_t tag, size_t size) { return static_cast<size_t>((uint64_t(tag) * size) >> 32); }

// The slot after i, round the end.
inline size_t nextOf(size_t i, size_t size) { return i + 1 == size ? 0 : i + 1; }

// Whether `size` slots may hold `keys` keys.
inline bool fits(size_t keys, size_t size) { return 4 * keys <= 3 * size; }

// Makes `slots` big enough for `distinct` keys and places every used slot
// again at its home or the first free slot after it. An empty table is
// sized to `distinct` (a load sized once); a full one at least doubles.
// `used(slot)` tells a used slot from a free one.
template <typename Slot, typename Used>
void grow(std::vector<Slot> &slots, size_t distinct, Used used)
{
    if (!slots.empty() && fits(distinct, slots.size()))
        return;
    size_t capacity = std::max<size_t>(16, distinct + distinct / 3 + 1);
    if (!slots.empty())
        capacity = std::max(capacity, 2 * slots.size());
    std::vector<Slot> old(capacity);
    old.swap(slots);
    for (const Slot &slot : old) {
        if (!used(slot))
            continue;
        size_t i = homeOf(slot.tag, capacity);
        while (used(slots[i]))
            i = nextOf(i, capacity);
        slots[i] = slot;
    }
}

// Empties slot i and moves later slots of its probe run back, so no lookup
// stops short of them.
template <typename Slot, typename Used>
void erase(std::vector<Slot> &slots, size_t i, Used used)
{
    const size_t size = slots.size();
    const auto distance
        = [size](size_t from, size_t to) { return to >= from ? to - from : to + size - from; };
    slots[i] = {};
    for (size_t j = nextOf(i, size); used(slots[j]); j = nextOf(j, size)) {
        // The slot at j may move to i when i lies on its way from home to j.
        if (distance(homeOf(slots[j].tag, size), j) >= distance(i, j)) {
            slots[i] = slots[j];
            slots[j] = {};
            i = j;
        }
    }
}

} // namespace qv::hashslots

// The slot table both hash indexes use: open addressing with linear probing
// over a power-of-two number of slots, each carrying the low bits of its
// key's hash (its "tag"), kept at most half full.
#pragma once

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

// Makes `slots` big enough for `distinct` keys and places every used slot
// again at its home or the first free slot after it. `used(slot)` tells a
// used slot from a free one.
template <typename Slot, typename Used>
void grow(std::vector<Slot> &slots, size_t distinct, Used used)
{
    size_t capacity = slots.empty() ? 16 : slots.size();
    while (capacity < 2 * distinct)
        capacity *= 2;
    if (capacity == slots.size())
        return;
    std::vector<Slot> old(capacity);
    old.swap(slots);
    const size_t mask = slots.size() - 1;
    for (const Slot &slot : old) {
        if (!used(slot))
            continue;
        size_t i = slot.tag & mask;
        while (used(slots[i]))
            i = (i + 1) & mask;
        slots[i] = slot;
    }
}

} // namespace qv::hashslots

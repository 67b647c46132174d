// The three-way comparison under both merges: each side matched against the
// base, then the base cut into stretches both sides keep and stretches
// between them that one side, the other or both changed.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace qv::merge {

// For each base item, the index of the side's item matched to it, or -1;
// the matched indices increase.
using Matching = std::vector<int32_t>;

// Lines (any items compared by their bytes): the fewest changes (the common
// start and end first), found up to a bound of changes beyond which the
// middle counts as changed whole.
Matching matchLines(const std::vector<std::string_view> &base, const std::vector<std::string_view> &side);

// Items that occur at most once in each list (identities): the longest
// common subsequence, found as the longest increasing run of base
// positions. `scratch` has an entry, -1, for every identity and is left so.
Matching matchUnique(const std::vector<uint32_t> &base, const std::vector<uint32_t> &side,
                     std::vector<int32_t> &scratch);

// One stretch: base[b0, b1), ours[o0, o1), theirs[t0, t1). A stable one is
// one item both sides kept.
struct Chunk {
    bool stable = false;
    size_t b0 = 0, b1 = 0, o0 = 0, o1 = 0, t0 = 0, t1 = 0;
};

// Calls `each(chunk)` for the stretches in order.
template <class F>
void diff3(const Matching &ours, const Matching &theirs, size_t oursSize, size_t theirsSize, F &&each)
{
    size_t b = 0, o = 0, t = 0;
    for (size_t k = 0; k < ours.size(); ++k) {
        if (ours[k] < 0 || theirs[k] < 0)
            continue;
        const size_t ok = size_t(ours[k]), tk = size_t(theirs[k]);
        if (k > b || ok > o || tk > t)
            each(Chunk{false, b, k, o, ok, t, tk});
        each(Chunk{true, k, k + 1, ok, ok + 1, tk, tk + 1});
        b = k + 1, o = ok + 1, t = tk + 1;
    }
    if (b < ours.size() || o < oursSize || t < theirsSize)
        each(Chunk{false, b, ours.size(), o, oursSize, t, theirsSize});
}

} // namespace qv::merge

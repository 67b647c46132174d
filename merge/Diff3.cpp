#include "merge/Diff3.h"

#include <algorithm>

namespace qv::merge {

namespace {

// Beyond this many changes in the middle of two texts the middle is taken
// as changed whole (the search keeps a row per change).
constexpr size_t kMaxChanges = 2000;

} // namespace

Matching matchLines(const std::vector<std::string_view> &base, const std::vector<std::string_view> &side)
{
    const size_t n = base.size(), m = side.size();
    Matching match(n, -1);
    size_t head = 0;
    while (head < n && head < m && base[head] == side[head]) {
        match[head] = int32_t(head);
        ++head;
    }
    size_t tail = 0;
    while (tail < n - head && tail < m - head && base[n - 1 - tail] == side[m - 1 - tail]) {
        match[n - 1 - tail] = int32_t(m - 1 - tail);
        ++tail;
    }
    const long N = long(n - head - tail), M = long(m - head - tail);
    if (N == 0 || M == 0)
        return match;
    const auto a = [&](long x) { return base[head + size_t(x)]; };
    const auto b = [&](long y) { return side[head + size_t(y)]; };
    // The greedy search for the fewest changes, keeping each round's
    // frontier (diagonals -d-1 .. d+1) to walk back.
    const long maxD = std::min<long>(N + M, long(kMaxChanges));
    std::vector<long> v(size_t(2 * maxD + 3), 0);
    const long off = maxD + 1;
    std::vector<std::vector<long>> rounds;
    long found = -1;
    for (long d = 0; d <= maxD && found < 0; ++d) {
        rounds.emplace_back(v.begin() + (off - d - 1), v.begin() + (off + d + 2));
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[size_t(off + k - 1)] < v[size_t(off + k + 1)]))
                ? v[size_t(off + k + 1)]
                : v[size_t(off + k - 1)] + 1;
            long y = x - k;
            while (x < N && y < M && a(x) == b(y))
                ++x, ++y;
            v[size_t(off + k)] = x;
            if (x >= N && y >= M) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return match; // too many changes: the middle is changed whole
    long x = N, y = M;
    for (long d = found; d > 0; --d) {
        const std::vector<long> &r = rounds[size_t(d)];
        const auto at = [&](long k) { return r[size_t(k + d + 1)]; };
        const long k = x - y;
        const long prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const long prevX = at(prevK), prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
            --x, --y;
            match[head + size_t(x)] = int32_t(head + size_t(y));
        }
        x = prevX, y = prevY;
    }
    while (x > 0 && y > 0) {
        --x, --y;
        match[head + size_t(x)] = int32_t(head + size_t(y));
    }
    return match;
}

Matching matchUnique(const std::vector<uint32_t> &base, const std::vector<uint32_t> &side,
                     std::vector<int32_t> &scratch)
{
    for (size_t i = 0; i < base.size(); ++i)
        scratch[base[i]] = int32_t(i);
    // Patience: tails[len] is the side index ending the best run of len + 1.
    std::vector<int32_t> tails, prev(side.size(), -1);
    for (size_t j = 0; j < side.size(); ++j) {
        const int32_t p = scratch[side[j]];
        if (p < 0)
            continue;
        const auto it = std::lower_bound(tails.begin(), tails.end(), p, [&](int32_t t, int32_t value) {
            return scratch[side[size_t(t)]] < value;
        });
        if (it != tails.begin())
            prev[j] = *(it - 1);
        if (it == tails.end())
            tails.push_back(int32_t(j));
        else
            *it = int32_t(j);
    }
    Matching match(base.size(), -1);
    for (int32_t j = tails.empty() ? -1 : tails.back(); j >= 0; j = prev[size_t(j)])
        match[size_t(scratch[side[size_t(j)]])] = j;
    for (const uint32_t id : base)
        scratch[id] = -1;
    return match;
}

} // namespace qv::merge

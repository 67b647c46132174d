// A seeded generator of realistic catalogues for benchmarks and stress runs:
// a random tree of unique captions mixing Cyrillic (Windows-1251) and Latin
// words, one record per node with a note of about 400 bytes holding "~~"
// line breaks and web addresses, and random icons 0..79. The same options
// always give the same catalogue, byte for byte.
#pragma once

#include "catalog/Catalog.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv::gen {

struct Options {
    size_t nodes = 100000;
    uint64_t seed = 1;
    // Nodes are nested at most this many levels (depth 0 .. levels - 1).
    size_t levels = 6;
    // The approximate length of each note, in bytes.
    size_t noteBytes = 400;
};

// One node of the flat order with its record.
struct Entry {
    size_t depth = 0;
    Bytes caption;
    Bytes note; // line breaks as "~~"
    int32_t icon = 0;
};

struct Generated {
    std::vector<Entry> entries;      // flat order; depth steps down by at most one
    std::vector<size_t> recordOrder; // entries' indices in record table order
};

// Small deterministic random source (splitmix64), independent of the
// standard library's distributions so a seed means the same on every build.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [0, n); n > 0.
    size_t below(size_t n);
    // True with probability percent / 100.
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

Generated generate(const Options &options);

// Fills an empty catalogue with the generated nodes (icons set) and records.
void fill(const Generated &generated, Catalog &catalog);

// The two files' bytes as the program writes them.
Bytes outlineFileBytes(const Generated &generated);
Bytes recordFileBytes(const Generated &generated);

// Writes "data.dat" and "text.dat" into `dir` (which must exist). Returns
// the two files' total size in bytes.
size_t writeCatalogFiles(const std::string &dir, const Generated &generated);

// An outline nested `levels` deep: one node per level, each the only child
// of the one before, with a record each. The outline file grows with the
// square of the depth (each line carries its depth in TABs).
Generated deepChain(size_t levels, uint64_t seed = 1);

} // namespace qv::gen

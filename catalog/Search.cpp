#include "catalog/Search.h"

#include "catalog/Catalog.h"
#include "catalog/RecordTable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv {

namespace {

constexpr size_t npos = std::string_view::npos;

struct FoldTable {
    std::array<char, 256> to{};
    FoldTable()
    {
        for (unsigned i = 0; i < 256; ++i)
            to[i] = cp1251::toLower(static_cast<char>(i));
        // "ё" (and through its lower case "Ё") is found as "е".
        to[0xB8] = to[0xA8] = static_cast<char>(0xE5);
    }
};

const FoldTable &foldTable()
{
    static const FoldTable table;
    return table;
}

// Folds `text` into `out`; with `lineBreaks`, each "~~" (left to right, as
// the editor reads a record) becomes one '\n'. Returns the end written.
char *foldInto(char *out, std::string_view text, bool lineBreaks)
{
    const auto &to = foldTable().to;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        size_t stop = n;
#if defined(__SSE2__)
        // Sixteen bytes at once while they hold only ASCII and the Cyrillic
        // block 0xC0..0xFF, whose capitals are 0x20 below their small
        // letters, and no tilde; a block holding anything else goes byte
        // by byte through the table.
        const __m128i tilde = _mm_set1_epi8('~');
        const __m128i caseBit = _mm_set1_epi8(0x20);
        while (i + 16 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + i));
            const __m128i other
                = _mm_or_si128(_mm_cmpeq_epi8(v, tilde), _mm_cmplt_epi8(v, _mm_set1_epi8(-64)));
            if (_mm_movemask_epi8(other))
                break;
            const __m128i latin = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)),
                                                _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
            const __m128i cyrillic
                = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-65)), _mm_cmplt_epi8(v, _mm_set1_epi8(-32)));
            const __m128i folded = _mm_add_epi8(v, _mm_and_si128(_mm_or_si128(latin, cyrillic), caseBit));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), folded);
            out += 16;
            i += 16;
        }
        stop = std::min(n, i + 16);
#endif
        for (; i < stop; ++i) {
            const char c = text[i];
            if (lineBreaks && c == '~' && i + 1 < n && text[i + 1] == '~') {
                *out++ = '\n';
                ++i;
            } else {
                *out++ = to[static_cast<unsigned char>(c)];
            }
        }
    }
    return out;
}

// The first occurrence of `needle` (two bytes or more) in `hay` at or after
// `from`, or npos. Sixteen places are tried at once by the needle's first
// and last bytes; only where both agree are the bytes between compared.
size_t locate(std::string_view hay, size_t from, std::string_view needle)
{
    const size_t k = needle.size();
    const size_t end = hay.size();
    if (from >= end)
        return npos;
    const char *h = hay.data();
    if (k == 1) {
        const void *p = std::memchr(h + from, needle[0], end - from);
        return p ? static_cast<size_t>(static_cast<const char *>(p) - h) : npos;
    }
    if (end - from < k)
        return npos;
#if defined(__SSE2__)
    size_t i = from;
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i last = _mm_set1_epi8(needle[k - 1]);
    for (; i + k - 1 + 16 <= end; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i + k - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (std::memcmp(h + i + bit + 1, needle.data() + 1, k - 2) == 0)
                return i + bit;
            mask &= mask - 1;
        }
    }
    for (; i + k <= end; ++i)
        if (h[i] == needle[0] && std::memcmp(h + i + 1, needle.data() + 1, k - 1) == 0)
            return i;
    return npos;
#else
    return hay.find(needle, from);
#endif
}

// The raw bytes that fold to one folded byte: those whose value with the
// case bit set is `value` (when `orMask` is that bit), and up to three
// others (the rest repeat `value`, itself one of them).
struct ByteClass {
    uint8_t orMask = 0;
    uint8_t value = 0;
    uint8_t extras = 0;
    uint8_t extra[3] = {};

    static ByteClass of(const std::vector<uint8_t> &raw, uint8_t folded)
    {
        ByteClass c;
        const auto has = [&](unsigned b) { return std::find(raw.begin(), raw.end(), b) != raw.end(); };
        std::vector<uint8_t> rest = raw;
        if ((folded & 0x20) && has(folded) && has(folded ^ 0x20u)) {
            c.orMask = 0x20;
            c.value = folded;
            rest.erase(std::remove_if(rest.begin(), rest.end(),
                                      [&](uint8_t b) { return b == folded || b == (folded ^ 0x20u); }),
                       rest.end());
        } else {
            c.value = rest.front();
            rest.erase(rest.begin());
        }
        for (uint8_t b : rest)
            c.extra[c.extras++] = b;
        for (unsigned i = c.extras; i < 3; ++i)
            c.extra[i] = c.value;
        return c;
    }
};

#if defined(__SSE2__)
// A ByteClass as vectors, for sixteen bytes at once.
struct ByteClassVectors {
    __m128i orMask, value, extra0, extra1, extra2;
    explicit ByteClassVectors(const ByteClass &c)
        : orMask(_mm_set1_epi8(static_cast<char>(c.orMask))),
          value(_mm_set1_epi8(static_cast<char>(c.value))),
          extra0(_mm_set1_epi8(static_cast<char>(c.extra[0]))),
          extra1(_mm_set1_epi8(static_cast<char>(c.extra[1]))),
          extra2(_mm_set1_epi8(static_cast<char>(c.extra[2])))
    {}
    template <bool kExtras>
    __m128i match(__m128i v) const
    {
        const __m128i m = _mm_cmpeq_epi8(_mm_or_si128(v, orMask), value);
        if constexpr (!kExtras)
            return m;
        return _mm_or_si128(_mm_or_si128(m, _mm_cmpeq_epi8(v, extra0)),
                            _mm_or_si128(_mm_cmpeq_epi8(v, extra1), _mm_cmpeq_epi8(v, extra2)));
    }
};
#endif

// A folded needle matched over raw bytes, each folded as it is compared:
// candidates come sixteen places at a time from the classes of its first
// and last bytes, and only those are compared whole.
class RawMatcher {
public:
    // `classes[b]`: the raw bytes that match folded byte b.
    RawMatcher(std::string_view needle, const std::vector<std::vector<uint8_t>> &classes)
        : needle_(needle), to_(foldTable().to.data())
    {
        const ByteClass first = ByteClass::of(classes[static_cast<uint8_t>(needle.front())],
                                              static_cast<uint8_t>(needle.front()));
        const ByteClass last = ByteClass::of(classes[static_cast<uint8_t>(needle.back())],
                                             static_cast<uint8_t>(needle.back()));
        extras_ = first.extras || last.extras;
#if defined(__SSE2__)
        first_.emplace(first);
        last_.emplace(last);
#endif
    }

    bool in(std::string_view hay) const { return extras_ ? scan<true>(hay) : scan<false>(hay); }

private:
    template <bool kExtras>
    bool scan(std::string_view hay) const
    {
        const size_t k = needle_.size();
        const size_t n = hay.size();
        if (n < k)
            return false;
        const char *h = hay.data();
        size_t i = 0;
#if defined(__SSE2__)
        const ByteClassVectors &first = *first_;
        const ByteClassVectors &last = *last_;
        for (; i + k - 1 + 16 <= n; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + i + k - 1));
            unsigned mask = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(first.match<kExtras>(a), last.match<kExtras>(b))));
            while (mask) {
                if (at(h + i + static_cast<unsigned>(__builtin_ctz(mask))))
                    return true;
                mask &= mask - 1;
            }
        }
#endif
        for (; i + k <= n; ++i)
            if (to_[static_cast<unsigned char>(h[i])] == needle_[0] && at(h + i))
                return true;
        return false;
    }

    bool at(const char *p) const
    {
        for (size_t j = 0; j < needle_.size(); ++j)
            if (to_[static_cast<unsigned char>(p[j])] != needle_[j])
                return false;
        return true;
    }

    std::string_view needle_;
    const char *to_;
    bool extras_ = false;
#if defined(__SSE2__)
    std::optional<ByteClassVectors> first_, last_;
#endif
};

// The query as the index holds text; empty when it can match nothing.
Bytes foldQuery(std::string_view query)
{
    if (query.find('\0') != npos)
        return {};
    Bytes out(query.size(), '\0');
    foldInto(out.data(), query, false);
    return out;
}

// Which raw bytes fold to each byte.
const std::vector<std::vector<uint8_t>> &rawClasses()
{
    static const std::vector<std::vector<uint8_t>> classes = [] {
        std::vector<std::vector<uint8_t>> c(256);
        for (unsigned b = 0; b < 256; ++b)
            c[static_cast<uint8_t>(foldTable().to[b])].push_back(static_cast<uint8_t>(b));
        return c;
    }();
    return classes;
}

// A query matched over captions and notes as the catalogue holds them. A
// caption is folded byte for byte; a note also reads each "~~" as one line
// break, which changes nothing for a needle without '~' and '\n' (it can
// hold neither end of a pair), so only such a rare needle folds the notes
// its first plain byte lets through.
class Query {
public:
    explicit Query(const Bytes &needle) : needle_(needle), bytes_(needle, rawClasses())
    {
        plain_ = needle.find_first_of("~\n") == npos;
        if (plain_)
            return;
        const size_t at = needle.find_first_not_of("~\n");
        if (at != npos) {
            probeByte_ = needle.substr(at, 1);
            probe_.emplace(probeByte_, rawClasses());
        }
    }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    bool inCaption(std::string_view caption) const { return bytes_.in(caption); }
    // `scratch` is the caller's, one per thread.
    bool inNote(std::string_view note, Bytes &scratch) const
    {
        if (plain_)
            return bytes_.in(note);
        if (probe_ ? !probe_->in(note) : note.find_first_of("~\n") == npos)
            return false;
        scratch.resize(note.size());
        scratch.resize(static_cast<size_t>(foldInto(scratch.data(), note, true) - scratch.data()));
        return locate(scratch, 0, needle_) != npos;
    }

private:
    const Bytes &needle_;
    RawMatcher bytes_;
    bool plain_ = true;
    Bytes probeByte_;
    std::optional<RawMatcher> probe_;
};

// The 1-based lines of a folded note that hold `needle`.
std::vector<uint32_t> linesHolding(std::string_view note, std::string_view needle)
{
    std::vector<uint32_t> lines;
    uint32_t line = 1;
    size_t counted = 0;
    for (size_t p = locate(note, 0, needle); p != npos;) {
        line += static_cast<uint32_t>(std::count(note.begin() + static_cast<std::ptrdiff_t>(counted),
                                                 note.begin() + static_cast<std::ptrdiff_t>(p), '\n'));
        counted = p;
        lines.push_back(line);
        const size_t lineEnd = note.find('\n', p);
        p = lineEnd == npos ? npos : locate(note, lineEnd + 1, needle);
    }
    return lines;
}

// Below this many nodes a search stays on the calling thread.
constexpr size_t kSplitFrom = 2048;

} // namespace

Bytes foldForSearch(std::string_view text)
{
    Bytes out(text.size(), '\0');
    foldInto(out.data(), text, false);
    return out;
}

void SearchIndex::build(const Catalog &catalog)
{
    catalog_ = nullptr;
    buildSome(catalog, SIZE_MAX);
}

bool SearchIndex::current(const Catalog &catalog) const
{
    return complete_ && catalog_ == &catalog && shape_ == catalog.outline().shapeVersion();
}

bool SearchIndex::buildSome(const Catalog &catalog, size_t count)
{
    const Outline &outline = catalog.outline();
    if (catalog_ != &catalog || shape_ != outline.shapeVersion()) {
        catalog_ = &catalog;
        shape_ = outline.shapeVersion();
        nodes_.clear();
        notes_.clear();
        captionSizes_.clear();
        nodes_.reserve(outline.nodeCount());
        notes_.reserve(outline.nodeCount());
        captionSizes_.reserve(outline.nodeCount());
        next_ = outline.first();
        complete_ = false;
    }
    // The records are looked up a batch at a time, the lookups overlapping.
    constexpr size_t kBatch = 256;
    std::string_view captions[kBatch];
    while (next_ && count > 0) {
        size_t batch = 0;
        for (; batch < kBatch && batch < count && next_; ++batch, next_ = flatNext(next_)) {
            nodes_.push_back(next_);
            captions[batch] = next_->caption();
            captionSizes_.push_back(static_cast<uint8_t>(std::min<size_t>(captions[batch].size(), 255)));
        }
        notes_.resize(nodes_.size());
        catalog.records().idsOf(captions, notes_.data() + notes_.size() - batch, batch);
        count -= batch;
    }
    complete_ = next_ == nullptr;
    return complete_;
}

bool SearchIndex::update(const Catalog &catalog, const Node *node)
{
    const auto it = std::find(nodes_.begin(), nodes_.end(), node);
    if (it == nodes_.end())
        return false;
    const std::string_view caption = node->caption();
    const size_t i = static_cast<size_t>(it - nodes_.begin());
    catalog.records().idsOf(&caption, &notes_[i], 1);
    captionSizes_[i] = static_cast<uint8_t>(std::min<size_t>(caption.size(), 255));
    return true;
}

void SearchIndex::updateCaptions(const Catalog &catalog, const std::vector<Bytes> &captions)
{
    if (captions.empty())
        return;
    const std::unordered_set<std::string_view> wanted(captions.begin(), captions.end());
    std::array<bool, 256> sizes{};
    for (const Bytes &c : captions)
        sizes[std::min<size_t>(c.size(), 255)] = true;
    // A renamed node's caption has a new size: its stored size is one of
    // the old caption's (the rename's `before`).
    for (size_t i = 0; i < nodes_.size(); ++i) {
        if (!sizes[captionSizes_[i]])
            continue;
        const std::string_view caption = nodes_[i]->caption();
        captionSizes_[i] = static_cast<uint8_t>(std::min<size_t>(caption.size(), 255));
        if (wanted.count(caption))
            catalog.records().idsOf(&caption, &notes_[i], 1);
    }
}

size_t SearchIndex::memoryBytes() const
{
    return nodes_.capacity() * sizeof(const Node *) + notes_.capacity() * sizeof(uint32_t)
        + captionSizes_.capacity();
}

namespace {

// Runs work(from, to) over [0, n) split in two halves, the second on a
// thread of its own, when n is worth it.
template <typename Work>
void splitInTwo(size_t n, Work &&work)
{
    if (n < kSplitFrom) {
        work(0, n);
        return;
    }
    std::exception_ptr failed;
    std::thread other;
    try {
        other = std::thread([&] {
            try {
                work(n / 2, n);
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error &) {
        work(0, n); // no thread to be had: all of it here
        return;
    }
    try {
        work(0, n / 2);
    } catch (...) {
        other.join();
        throw;
    }
    other.join();
    if (failed)
        std::rethrow_exception(failed);
}

} // namespace

std::vector<uint32_t> SearchIndex::matching(std::string_view query, const std::vector<uint32_t> *places) const
{
    const Bytes needle = foldQuery(query);
    if (needle.empty() || nodes_.empty() || !catalog_)
        return {};
    const Query q(needle);
    const RecordTable &records = catalog_->records();
    // The records are read in table order, where they lie one after
    // another in memory, not in the nodes' order: a node's caption is its
    // record's section, so the record tells for both. Only a node without
    // a record is read itself.
    const size_t limit = records.idLimit();
    std::vector<uint8_t> wanted;
    if (places) {
        wanted.assign(limit, 0);
        for (const uint32_t i : *places)
            if (notes_[i] < limit)
                wanted[notes_[i]] = 1;
    }
    std::vector<uint8_t> hit(limit, 0); // by record id; each thread writes its own records' bytes
    splitInTwo(records.size(), [&](size_t from, size_t to) {
        Bytes scratch;
        for (size_t row = from; row < to; ++row) {
            const uint32_t id = records.idAt(row);
            if (places && !wanted[id])
                continue;
            const RecordView r = records.at(row);
            hit[id] = q.inCaption(r.section) || q.inNote(r.text, scratch);
        }
    });
    std::vector<uint32_t> found;
    const size_t n = places ? places->size() : nodes_.size();
    for (size_t j = 0; j < n; ++j) {
        const uint32_t i = places ? (*places)[j] : static_cast<uint32_t>(j);
        const uint32_t id = notes_[i];
        if (id < limit ? hit[id] : q.inCaption(nodes_[i]->caption()))
            found.push_back(i);
    }
    return found;
}

std::vector<SearchHit> SearchIndex::find(std::string_view query) const
{
    std::vector<SearchHit> hits;
    const std::vector<uint32_t> places = matching(query, nullptr);
    if (places.empty())
        return hits;
    const Bytes needle = foldQuery(query);
    const Query q(needle);
    Bytes folded;
    hits.reserve(places.size());
    for (const uint32_t i : places) {
        const Node *node = nodes_[i];
        const std::string_view note = catalog_->records().textById(notes_[i]);
        folded.resize(note.size());
        folded.resize(static_cast<size_t>(foldInto(folded.data(), note, true) - folded.data()));
        hits.push_back({node, q.inCaption(node->caption()), linesHolding(folded, needle)});
    }
    return hits;
}

std::vector<const Node *> SearchIndex::findNodes(std::string_view query) const
{
    std::vector<const Node *> found;
    for (const uint32_t i : matching(query, nullptr))
        found.push_back(nodes_[i]);
    return found;
}

std::vector<const Node *> SearchIndex::findNodes(std::string_view query,
                                                 const std::vector<const Node *> &among) const
{
    // `among` in flat order: one pass over the index's nodes finds their
    // places.
    std::vector<uint32_t> places;
    places.reserve(among.size());
    size_t cursor = 0;
    for (const Node *n : among) {
        size_t i = cursor;
        while (i < nodes_.size() && nodes_[i] != n)
            ++i;
        if (i == nodes_.size())
            continue; // not in the index
        cursor = i + 1;
        places.push_back(static_cast<uint32_t>(i));
    }
    std::vector<const Node *> found;
    if (places.empty())
        return found;
    for (const uint32_t i : matching(query, &places))
        found.push_back(nodes_[i]);
    return found;
}

} // namespace qv

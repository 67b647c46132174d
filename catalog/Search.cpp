#include "catalog/Search.h"

#include "catalog/Catalog.h"

#include <algorithm>
#include <array>
#include <cstring>
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

} // namespace

Bytes foldForSearch(std::string_view text)
{
    Bytes out(text.size(), '\0');
    foldInto(out.data(), text, false);
    return out;
}

void SearchIndex::build(const Catalog &catalog)
{
    Bytes text;
    std::vector<size_t> starts;
    std::vector<const Node *> nodes;
    const Outline &outline = catalog.outline();
    const size_t count = outline.nodeCount();
    std::vector<std::string_view> notes;
    notes.reserve(count);
    nodes.reserve(count);
    size_t total = 0;
    for (const Node *n = outline.first(); n; n = flatNext(n)) {
        const std::optional<RecordView> r = catalog.records().find(n->caption());
        nodes.push_back(n);
        notes.push_back(r ? r->text : std::string_view());
        total += n->caption().size() + notes.back().size() + 2;
    }
    text.resize(total);
    starts.reserve(2 * nodes.size() + 1);
    char *const begin = text.data();
    char *out = begin;
    for (size_t i = 0; i < nodes.size(); ++i) {
        starts.push_back(static_cast<size_t>(out - begin));
        out = foldInto(out, nodes[i]->caption(), false);
        *out++ = '\0';
        starts.push_back(static_cast<size_t>(out - begin));
        out = foldInto(out, notes[i], true);
        *out++ = '\0';
    }
    text.resize(static_cast<size_t>(out - begin));
    starts.push_back(text.size());
    text_ = std::move(text);
    starts_ = std::move(starts);
    nodes_ = std::move(nodes);
    edited_.clear();
}

bool SearchIndex::update(const Catalog &catalog, const Node *node)
{
    const auto it = std::find(nodes_.begin(), nodes_.end(), node);
    if (it == nodes_.end())
        return false;
    refold(catalog, static_cast<size_t>(it - nodes_.begin()));
    return true;
}

void SearchIndex::updateCaptions(const Catalog &catalog, const std::vector<Bytes> &captions)
{
    if (captions.empty())
        return;
    const std::unordered_set<std::string_view> wanted(captions.begin(), captions.end());
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (wanted.count(nodes_[i]->caption()))
            refold(catalog, i);
}

void SearchIndex::refold(const Catalog &catalog, size_t i)
{
    const Node *node = nodes_[i];
    std::fill(text_.begin() + static_cast<std::ptrdiff_t>(starts_[2 * i]),
              text_.begin() + static_cast<std::ptrdiff_t>(starts_[2 * i + 2]), '\0');
    Edited &edited = edited_[i];
    edited.caption = foldForSearch(node->caption());
    const std::optional<RecordView> r = catalog.records().find(node->caption());
    edited.note.resize(r ? r->text.size() : 0);
    if (r)
        edited.note.resize(
            static_cast<size_t>(foldInto(edited.note.data(), r->text, true) - edited.note.data()));
}

size_t SearchIndex::memoryBytes() const
{
    size_t bytes
        = text_.capacity() + starts_.capacity() * sizeof(size_t) + nodes_.capacity() * sizeof(const Node *);
    for (const auto &[i, edited] : edited_)
        bytes += sizeof(i) + sizeof(edited) + edited.caption.capacity() + edited.note.capacity();
    return bytes;
}

size_t SearchIndex::textAt(size_t offset) const
{
    return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin())
        - 1;
}

// Calls onHit(offset, text) for the occurrences of `needle` in
// [from, to); onHit returns where to look next.
template <typename OnHit>
void SearchIndex::scan(const Bytes &needle, size_t from, size_t to, OnHit &&onHit) const
{
    const std::string_view hay(text_.data(), to);
    size_t t = textAt(from);
    for (size_t p = locate(hay, from, needle); p != npos; p = locate(hay, from, needle)) {
        if (starts_[t + 1] <= p) // the next hit is usually a text or two on
            t = static_cast<size_t>(
                    std::upper_bound(starts_.begin() + static_cast<std::ptrdiff_t>(t), starts_.end(), p)
                    - starts_.begin())
                - 1;
        from = onHit(p, t);
    }
}

namespace {

// The query as the index holds text; empty when it can match nothing.
Bytes foldQuery(std::string_view query)
{
    if (query.find('\0') != npos)
        return {};
    return foldForSearch(query);
}

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

// `found`, in flat order with the places `places`, with `edited` merged in.
template <typename T>
void mergeEdited(std::vector<T> &found, const std::vector<size_t> &places,
                 std::vector<std::pair<size_t, T>> &edited)
{
    if (edited.empty())
        return;
    std::vector<T> merged;
    merged.reserve(found.size() + edited.size());
    size_t j = 0;
    for (size_t i = 0; i < found.size(); ++i) {
        for (; j < edited.size() && edited[j].first < places[i]; ++j)
            merged.push_back(std::move(edited[j].second));
        merged.push_back(std::move(found[i]));
    }
    for (; j < edited.size(); ++j)
        merged.push_back(std::move(edited[j].second));
    found = std::move(merged);
}

std::vector<std::pair<size_t, const Node *>> nodesOf(const std::vector<std::pair<size_t, SearchHit>> &hits)
{
    std::vector<std::pair<size_t, const Node *>> nodes;
    nodes.reserve(hits.size());
    for (const auto &[i, hit] : hits)
        nodes.emplace_back(i, hit.node);
    return nodes;
}

} // namespace

std::vector<std::pair<size_t, SearchHit>> SearchIndex::findEdited(const Bytes &needle, bool lines,
                                                                  const std::vector<uint8_t> *wanted) const
{
    std::vector<std::pair<size_t, SearchHit>> found;
    for (const auto &[i, edited] : edited_) {
        if (wanted && !(*wanted)[i])
            continue;
        SearchHit hit{nodes_[i], locate(edited.caption, 0, needle) != npos, {}};
        bool inNote = false;
        if (lines) {
            hit.noteLines = linesHolding(edited.note, needle);
            inNote = !hit.noteLines.empty();
        } else {
            inNote = !hit.inCaption && locate(edited.note, 0, needle) != npos;
        }
        if (hit.inCaption || inNote)
            found.emplace_back(i, std::move(hit));
    }
    return found;
}

std::vector<SearchHit> SearchIndex::find(std::string_view query) const
{
    std::vector<SearchHit> hits;
    const Bytes needle = foldQuery(query);
    if (needle.empty() || nodes_.empty())
        return hits;
    std::vector<size_t> places;
    size_t lineFrom = 0; // the line of lineFrom in the current note
    uint32_t line = 0;
    scan(needle, 0, text_.size(), [&](size_t p, size_t t) {
        const Node *node = nodes_[t / 2];
        if (hits.empty() || hits.back().node != node) {
            hits.push_back({node, false, {}});
            places.push_back(t / 2);
        }
        SearchHit &hit = hits.back();
        const size_t textEnd = starts_[t + 1];
        if (t % 2 == 0) {
            hit.inCaption = true;
            return textEnd;
        }
        if (lineFrom < starts_[t]) {
            lineFrom = starts_[t];
            line = 1;
        }
        line += static_cast<uint32_t>(std::count(text_.data() + lineFrom, text_.data() + p, '\n'));
        lineFrom = p;
        hit.noteLines.push_back(line);
        const void *lineEnd = std::memchr(text_.data() + p, '\n', textEnd - p);
        return lineEnd ? static_cast<size_t>(static_cast<const char *>(lineEnd) - text_.data()) + 1 : textEnd;
    });
    auto edited = findEdited(needle, true, nullptr);
    mergeEdited(hits, places, edited);
    return hits;
}

std::vector<const Node *> SearchIndex::findNodes(std::string_view query) const
{
    std::vector<const Node *> found;
    const Bytes needle = foldQuery(query);
    if (needle.empty() || nodes_.empty())
        return found;
    std::vector<size_t> places;
    scan(needle, 0, text_.size(), [&](size_t, size_t t) {
        found.push_back(nodes_[t / 2]);
        places.push_back(t / 2);
        return starts_[(t / 2 + 1) * 2];
    });
    auto edited = nodesOf(findEdited(needle, false, nullptr));
    mergeEdited(found, places, edited);
    return found;
}

std::vector<const Node *> SearchIndex::findNodes(std::string_view query,
                                                 const std::vector<const Node *> &among) const
{
    std::vector<const Node *> found;
    const Bytes needle = foldQuery(query);
    if (needle.empty() || nodes_.empty())
        return found;
    // `among` in flat order: one pass over the index's nodes finds their
    // places. Neighbours, and nodes a few texts apart, are scanned as one
    // stretch, a hit in a node between them skipped.
    constexpr size_t kGap = 4096; // bytes not in `among` worth scanning to save a fresh start
    std::vector<uint8_t> wanted(nodes_.size(), 0);
    std::vector<size_t> places;
    const auto onHit = [&](size_t, size_t t) {
        if (wanted[t / 2]) {
            found.push_back(nodes_[t / 2]);
            places.push_back(t / 2);
        }
        return starts_[(t / 2 + 1) * 2];
    };
    size_t cursor = 0;
    size_t runFirst = npos, runLast = npos;
    for (const Node *n : among) {
        size_t i = cursor;
        while (i < nodes_.size() && nodes_[i] != n)
            ++i;
        if (i == nodes_.size())
            continue; // not in the index
        cursor = i + 1;
        wanted[i] = 1;
        if (runFirst != npos && starts_[2 * i] - starts_[2 * runLast + 2] < kGap) {
            runLast = i;
            continue;
        }
        if (runFirst != npos)
            scan(needle, starts_[2 * runFirst], starts_[2 * runLast + 2], onHit);
        runFirst = runLast = i;
    }
    if (runFirst != npos)
        scan(needle, starts_[2 * runFirst], starts_[2 * runLast + 2], onHit);
    auto edited = nodesOf(findEdited(needle, false, &wanted));
    mergeEdited(found, places, edited);
    return found;
}

} // namespace qv

#include "catalog/CaptionCounts.h"

#include "catalog/HashSlots.h"

#include <algorithm>
#include <functional>

namespace qv {

using hashslots::fetch;
using hashslots::tagOf;

size_t CaptionCounts::slotFor(std::string_view caption, uint32_t tag) const
{
    const size_t mask = slots_.size() - 1;
    size_t i = tag & mask;
    while (const uint32_t e = slots_[i].entry) {
        if (slots_[i].tag == tag && keyOf(entries_[e - 1]) == caption)
            return i;
        i = (i + 1) & mask;
    }
    return i;
}

size_t CaptionCounts::count(std::string_view caption) const
{
    if (slots_.empty())
        return 0;
    const uint32_t e = slots_[slotFor(caption, tagOf(caption))].entry;
    return e ? entries_[e - 1].count : 0;
}

void CaptionCounts::growSlots(size_t distinct)
{
    hashslots::grow(slots_, distinct, [](const Slot &slot) { return slot.entry != 0; });
}

void CaptionCounts::reserve(size_t distinct, size_t bytes)
{
    growSlots(distinct);
    entries_.reserve(distinct);
    bytes_.reserve(bytes);
}

void CaptionCounts::add(std::string_view caption) { add(caption, tagOf(caption)); }

void CaptionCounts::addEach(const std::string_view *captions, size_t n)
{
    // Each pass starts every lookup's next fetch before any waits for one:
    // the slot, then the bytes of the entry it names.
    constexpr size_t kBatch = 64;
    uint32_t tags[kBatch];
    for (size_t from = 0; from < n; from += kBatch) {
        const size_t m = std::min(kBatch, n - from);
        if (slots_.empty())
            growSlots(m);
        const size_t mask = slots_.size() - 1;
        for (size_t i = 0; i < m; ++i) {
            tags[i] = tagOf(captions[from + i]);
            fetch(&slots_[tags[i] & mask]);
        }
        for (size_t i = 0; i < m; ++i) {
            for (size_t k = tags[i] & mask; slots_[k].entry; k = (k + 1) & mask) {
                if (slots_[k].tag == tags[i]) {
                    fetch(bytes_.data() + entries_[slots_[k].entry - 1].offset);
                    break;
                }
            }
        }
        for (size_t i = 0; i < m; ++i)
            add(captions[from + i], tags[i]);
    }
}

void CaptionCounts::add(std::string_view caption, uint32_t tag)
{
    if (2 * (live_ + 1) > slots_.size())
        growSlots(live_ + 1);
    Slot &slot = slots_[slotFor(caption, tag)];
    if (slot.entry) {
        ++entries_[slot.entry - 1].count;
        return;
    }
    if (bytes_.size() + caption.size() > bytes_.capacity() && garbage_ > bytes_.size() / 2)
        compactBytes();
    const Entry entry{bytes_.size(), caption.size(), 1};
    bytes_.append(caption);
    if (freeEntries_.empty()) {
        entries_.push_back(entry);
        slot.entry = static_cast<uint32_t>(entries_.size());
    } else {
        slot.entry = freeEntries_.back() + 1;
        freeEntries_.pop_back();
        entries_[slot.entry - 1] = entry;
    }
    slot.tag = tag;
    ++live_;
}

void CaptionCounts::remove(std::string_view caption)
{
    if (slots_.empty())
        return;
    size_t i = slotFor(caption, tagOf(caption));
    const uint32_t e = slots_[i].entry;
    if (!e || --entries_[e - 1].count > 0)
        return;
    garbage_ += entries_[e - 1].length;
    freeEntries_.push_back(e - 1);
    --live_;
    // Empty the slot and move later slots of the probe run back, so no
    // lookup stops short of them.
    const size_t mask = slots_.size() - 1;
    slots_[i] = {};
    for (size_t j = (i + 1) & mask; slots_[j].entry; j = (j + 1) & mask) {
        const size_t home = slots_[j].tag & mask;
        // The slot at j may move to i when i lies on its way from home to j.
        if (((j - home) & mask) >= ((j - i) & mask)) {
            slots_[i] = slots_[j];
            slots_[j] = {};
            i = j;
        }
    }
}

void CaptionCounts::compactBytes()
{
    std::string kept;
    kept.reserve(bytes_.size() - garbage_);
    for (Entry &e : entries_) {
        if (e.count == 0)
            continue;
        const size_t offset = kept.size();
        kept.append(keyOf(e));
        e.offset = offset;
    }
    bytes_.swap(kept);
    garbage_ = 0;
}

void CaptionCounts::clear()
{
    slots_.clear();
    entries_.clear();
    freeEntries_.clear();
    bytes_.clear();
    garbage_ = 0;
    live_ = 0;
}

void CaptionCounts::releaseWithoutFreeing()
{
    (void)new CaptionCounts(std::move(*this));
    clear();
}

} // namespace qv

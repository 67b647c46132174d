#include "catalog/CaptionCounts.h"

#include "catalog/HashSlots.h"
#include "catalog/PackedFields.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace qv {

using hashslots::fetch;
using hashslots::homeOf;
using hashslots::nextOf;
using hashslots::tagOf;

namespace {

constexpr size_t kCountSize = sizeof(uint32_t);

} // namespace

std::string_view CaptionCounts::keyOf(Entry e) const
{
    std::string_view key;
    packed::get(bytes_.data() + e + kCountSize, key);
    return key;
}

uint32_t CaptionCounts::countOf(Entry e) const
{
    uint32_t count;
    std::memcpy(&count, bytes_.data() + e, kCountSize);
    return count;
}

void CaptionCounts::setCount(Entry e, uint32_t count) { std::memcpy(bytes_.data() + e, &count, kCountSize); }

size_t CaptionCounts::slotFor(std::string_view caption, uint32_t tag) const
{
    const size_t size = slots_.size();
    size_t i = homeOf(tag, size);
    while (const uint32_t e = slots_[i].entry) {
        if (slots_[i].tag == tag && keyOf(entries_[e - 1]) == caption)
            return i;
        i = nextOf(i, size);
    }
    return i;
}

size_t CaptionCounts::count(std::string_view caption) const
{
    if (slots_.empty())
        return 0;
    const uint32_t e = slots_[slotFor(caption, tagOf(caption))].entry;
    return e ? countOf(entries_[e - 1]) : 0;
}

void CaptionCounts::growSlots(size_t distinct)
{
    hashslots::grow(slots_, distinct, [](const Slot &slot) { return slot.entry != 0; });
}

void CaptionCounts::reserve(size_t distinct, size_t bytes)
{
    growSlots(distinct);
    entries_.reserve(distinct);
    // Each caption's count and length: 4 bytes and one, and one more for
    // every 128 bytes of a long caption.
    bytes_.reserve(bytes + bytes / 128 + distinct * (kCountSize + 1));
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
        const size_t size = slots_.size();
        for (size_t i = 0; i < m; ++i) {
            tags[i] = tagOf(captions[from + i]);
            fetch(&slots_[homeOf(tags[i], size)]);
        }
        for (size_t i = 0; i < m; ++i) {
            for (size_t k = homeOf(tags[i], size); slots_[k].entry; k = nextOf(k, size)) {
                if (slots_[k].tag == tags[i]) {
                    fetch(bytes_.data() + entries_[slots_[k].entry - 1]);
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
    if (!hashslots::fits(live_ + 1, slots_.size()))
        growSlots(live_ + 1);
    Slot &slot = slots_[slotFor(caption, tag)];
    if (slot.entry) {
        const Entry e = entries_[slot.entry - 1];
        setCount(e, countOf(e) + 1);
        return;
    }
    const size_t size = kCountSize + packed::sizeOf(caption.size());
    if (bytes_.size() + size > bytes_.capacity() && garbage_ > bytes_.size() / 2)
        compactBytes();
    const Entry entry = bytes_.size();
    bytes_.resize(bytes_.size() + size);
    packed::put(bytes_.data() + entry + kCountSize, caption);
    setCount(entry, 1);
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
    const size_t i = slotFor(caption, tagOf(caption));
    const uint32_t e = slots_[i].entry;
    if (!e)
        return;
    Entry &entry = entries_[e - 1];
    const uint32_t count = countOf(entry) - 1;
    setCount(entry, count);
    if (count > 0)
        return;
    garbage_ += kCountSize + packed::sizeOf(caption.size());
    entry = kFree;
    freeEntries_.push_back(e - 1);
    --live_;
    hashslots::erase(slots_, i, [](const Slot &slot) { return slot.entry != 0; });
}

void CaptionCounts::compactBytes()
{
    std::string kept;
    kept.reserve(bytes_.size() - garbage_);
    for (Entry &e : entries_) {
        if (e == kFree)
            continue;
        const size_t size = kCountSize + packed::sizeOf(keyOf(e).size());
        const size_t offset = kept.size();
        kept.append(bytes_, e, size);
        e = offset;
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

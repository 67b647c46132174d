#include "catalog/RecordTable.h"

#include <algorithm>

namespace qv {

RecordTable::RecordTable() = default;
RecordTable::~RecordTable() = default;

namespace {

size_t hashOf(std::string_view bytes) { return std::hash<std::string_view>{}(bytes); }

} // namespace

void RecordTable::reserve(size_t n)
{
    rows_.reserve(n);
    growIndex(n);
}

void RecordTable::growIndex(size_t distinct)
{
    size_t capacity = slots_.empty() ? 16 : slots_.size();
    while (capacity < 2 * distinct)
        capacity *= 2;
    if (capacity == slots_.size())
        return;
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot &slot : old) {
        if (!slot.head)
            continue;
        size_t i = slot.hash & mask;
        while (slots_[i].head)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

size_t RecordTable::slotFor(std::string_view section, size_t hash) const
{
    const size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (const Row *r = slots_[i].head) {
        if (slots_[i].hash == hash && r->rec.section == section)
            return i;
        i = (i + 1) & mask;
    }
    return i;
}

void RecordTable::indexAdd(Row *row)
{
    row->hash = hashOf(row->rec.section);
    linkWithRoom(row);
}

void RecordTable::linkWithRoom(Row *row)
{
    if (2 * (distinct_ + 1) > slots_.size())
        growIndex(distinct_ + 1);
    link(row);
}

void RecordTable::link(Row *row)
{
    row->nextSame = nullptr;
    const size_t i = slotFor(row->rec.section, row->hash);
    Row *head = slots_[i].head;
    if (!head) {
        slots_[i] = {row, row->hash};
        ++distinct_;
        return;
    }
    // Keep each chain in table order; appended rows go last.
    if (row->seq < head->seq) {
        row->nextSame = head;
        slots_[i].head = row;
        return;
    }
    Row *at = head;
    while (at->nextSame && at->nextSame->seq < row->seq)
        at = at->nextSame;
    row->nextSame = at->nextSame;
    at->nextSame = row;
}

void RecordTable::indexRemove(Row *row)
{
    if (slots_.empty())
        return;
    const size_t mask = slots_.size() - 1;
    size_t i = slotFor(row->rec.section, row->hash);
    Row *head = slots_[i].head;
    if (!head)
        return;
    if (head != row) {
        for (Row *at = head; at->nextSame; at = at->nextSame) {
            if (at->nextSame == row) {
                at->nextSame = row->nextSame;
                break;
            }
        }
        row->nextSame = nullptr;
        return;
    }
    if (row->nextSame) {
        slots_[i].head = row->nextSame;
        row->nextSame = nullptr;
        return;
    }
    // The section's last row: empty the slot and move later entries of the
    // probe run back, so no lookup stops short of them.
    --distinct_;
    slots_[i] = {};
    for (size_t j = (i + 1) & mask; slots_[j].head; j = (j + 1) & mask) {
        const size_t home = slots_[j].hash & mask;
        // The entry at j may move to i when i lies on its way from home to j.
        if (((j - home) & mask) >= ((j - i) & mask)) {
            slots_[i] = slots_[j];
            slots_[j] = {};
            i = j;
        }
    }
}

RecordTable::Row *RecordTable::first(const Bytes &section) const
{
    if (slots_.empty())
        return nullptr;
    return slots_[slotFor(section, hashOf(section))].head;
}

const NoteRecord *RecordTable::find(const Bytes &section) const
{
    Row *r = first(section);
    return r ? &r->rec : nullptr;
}

size_t RecordTable::count(const Bytes &section) const
{
    size_t n = 0;
    for (const Row *r = first(section); r; r = r->nextSame)
        ++n;
    return n;
}

void RecordTable::append(Bytes section, Bytes text, Bytes icons)
{
    if (sink_)
        sink_->appending(section, text, icons);
    auto row
        = std::make_unique<Row>(Row{{std::move(section), std::move(text), std::move(icons)}, nextSeq_++});
    indexAdd(row.get());
    rows_.push_back(std::move(row));
}

namespace {

// How many lookups a bulk operation keeps in flight: enough to hide the
// memory's latency.
constexpr size_t kFetchAhead = 8;

void fetch(const void *address)
{
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

} // namespace

void RecordTable::appendUnindexed(Bytes section, Bytes text, Bytes icons)
{
    if (sink_)
        sink_->appending(section, text, icons);
    auto row
        = std::make_unique<Row>(Row{{std::move(section), std::move(text), std::move(icons)}, nextSeq_++});
    // Hashed while its bytes are at hand; linked a few rows later, once its
    // slot has come in.
    row->hash = hashOf(row->rec.section);
    if (!slots_.empty())
        fetch(&slots_[row->hash & (slots_.size() - 1)]);
    rows_.push_back(std::move(row));
    if (++unindexed_ > kFetchAhead)
        linkWithRoom(rows_[rows_.size() - unindexed_--].get());
}

void RecordTable::indexAppended()
{
    for (; unindexed_ > 0; --unindexed_)
        linkWithRoom(rows_[rows_.size() - unindexed_].get());
}

void RecordTable::findEach(const std::string_view *sections, const NoteRecord **found, size_t n) const
{
    if (slots_.empty()) {
        std::fill(found, found + n, nullptr);
        return;
    }
    // Each pass starts every lookup's next fetch before any waits for one:
    // the slot, then the row it names, then that row's section bytes.
    const size_t mask = slots_.size() - 1;
    constexpr size_t kBatch = 64;
    size_t hashes[kBatch];
    const Row *candidates[kBatch];
    for (size_t from = 0; from < n; from += kBatch) {
        const size_t m = std::min(kBatch, n - from);
        for (size_t i = 0; i < m; ++i) {
            hashes[i] = hashOf(sections[from + i]);
            fetch(&slots_[hashes[i] & mask]);
        }
        for (size_t i = 0; i < m; ++i) {
            candidates[i] = nullptr;
            for (size_t k = hashes[i] & mask; slots_[k].head; k = (k + 1) & mask) {
                if (slots_[k].hash == hashes[i]) {
                    candidates[i] = slots_[k].head;
                    fetch(candidates[i]);
                    break;
                }
            }
        }
        for (size_t i = 0; i < m; ++i)
            if (candidates[i])
                fetch(candidates[i]->rec.section.data());
        for (size_t i = 0; i < m; ++i) {
            const Row *r = slots_[slotFor(sections[from + i], hashes[i])].head;
            found[from + i] = r ? &r->rec : nullptr;
        }
    }
}

void RecordTable::releaseWithoutFreeing()
{
    (void)new std::vector<std::unique_ptr<Row>>(std::move(rows_));
    rows_.clear();
    slots_.clear();
    distinct_ = 0;
    nextSeq_ = 0;
}

void RecordTable::clear()
{
    if (sink_)
        sink_->clearing();
    slots_.clear();
    distinct_ = 0;
    rows_.clear();
    nextSeq_ = 0;
}

size_t RecordTable::rowOf(const Row *r) const
{
    // Rows are ordered by seq, so the row is found by binary search.
    auto it = std::lower_bound(rows_.begin(), rows_.end(), r->seq,
                               [](const std::unique_ptr<Row> &a, uint64_t seq) { return a->seq < seq; });
    return static_cast<size_t>(it - rows_.begin());
}

bool RecordTable::remove(const Bytes &section)
{
    Row *r = first(section);
    if (!r)
        return false;
    if (sink_)
        sink_->removing(section);
    indexRemove(r);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(rowOf(r)));
    return true;
}

size_t RecordTable::indexOf(const Bytes &section) const
{
    const Row *r = first(section);
    return r ? rowOf(r) : npos;
}

void RecordTable::insertAt(size_t row, NoteRecord record)
{
    row = std::min(row, rows_.size());
    if (sink_)
        sink_->insertingAt(row, record);
    auto added = std::make_unique<Row>(Row{std::move(record), 0});
    Row *r = added.get();
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(row), std::move(added));
    // Renumber so seq follows the table again (removals leave gaps, so the
    // rows in front may carry numbers past `row`).
    for (size_t i = 0; i < rows_.size(); ++i)
        rows_[i]->seq = i;
    nextSeq_ = rows_.size();
    indexAdd(r);
}

NoteRecord RecordTable::removeAt(size_t row)
{
    Row *r = rows_.at(row).get();
    if (sink_)
        sink_->removingAt(row);
    indexRemove(r);
    NoteRecord out = std::move(r->rec);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
    return out;
}

void RecordTable::renameAt(size_t row, Bytes section)
{
    Row *r = rows_.at(row).get();
    if (sink_)
        sink_->renamingAt(row, section);
    indexRemove(r);
    r->rec.section = std::move(section);
    indexAdd(r);
}

void RecordTable::setIconsAt(size_t row, Bytes icons)
{
    Row *r = rows_.at(row).get();
    if (sink_)
        sink_->settingIconsAt(row, icons);
    r->rec.icons = std::move(icons);
}

bool RecordTable::rename(const Bytes &oldSection, Bytes newSection)
{
    Row *r = first(oldSection);
    if (!r)
        return false;
    if (sink_)
        sink_->renaming(oldSection, newSection);
    indexRemove(r);
    r->rec.section = std::move(newSection);
    indexAdd(r);
    return true;
}

bool RecordTable::setText(const Bytes &section, Bytes text)
{
    Row *r = first(section);
    if (!r)
        return false;
    if (sink_)
        sink_->settingText(section, text);
    r->rec.text = std::move(text);
    return true;
}

bool RecordTable::setIcons(const Bytes &section, Bytes icons)
{
    Row *r = first(section);
    if (!r)
        return false;
    if (sink_)
        sink_->settingIcons(section, icons);
    r->rec.icons = std::move(icons);
    return true;
}

} // namespace qv

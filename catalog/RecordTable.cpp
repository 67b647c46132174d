#include "catalog/RecordTable.h"

#include "catalog/HashSlots.h"

#include <algorithm>

namespace qv {

using hashslots::fetch;
using hashslots::tagOf;

RecordTable::RecordTable() = default;
RecordTable::~RecordTable() = default;

namespace {

// How many lookups a bulk operation keeps in flight: enough to hide the
// memory's latency.
constexpr size_t kFetchAhead = 8;

} // namespace

RecordTable::Row *RecordTable::newRow(NoteRecord rec)
{
    Row *row;
    if (!freeRows_.empty()) {
        row = rowById(freeRows_.back());
        freeRows_.pop_back();
    } else {
        constexpr size_t kBlockRows = size_t(1) << kBlockShift;
        if (blocks_.empty() || lastBlockUsed_ == kBlockRows) {
            blocks_.push_back(std::make_unique<Row[]>(kBlockRows));
            lastBlockUsed_ = 0;
        }
        const size_t id = ((blocks_.size() - 1) << kBlockShift) + lastBlockUsed_++;
        row = rowById(static_cast<uint32_t>(id));
        row->id = static_cast<uint32_t>(id);
    }
    row->rec = std::move(rec);
    row->nextSame = 0;
    return row;
}

void RecordTable::freeRow(Row *row)
{
    row->rec = {};
    freeRows_.push_back(row->id);
}

void RecordTable::reserve(size_t n)
{
    rows_.reserve(n);
    growIndex(n);
}

void RecordTable::growIndex(size_t distinct)
{
    hashslots::grow(slots_, distinct, [](const Slot &slot) { return slot.head != 0; });
}

size_t RecordTable::slotFor(std::string_view section, uint32_t tag) const
{
    const size_t mask = slots_.size() - 1;
    size_t i = tag & mask;
    while (const uint32_t head = slots_[i].head) {
        if (slots_[i].tag == tag && rowById(head - 1)->rec.section == section)
            return i;
        i = (i + 1) & mask;
    }
    return i;
}

void RecordTable::indexAdd(Row *row) { linkWithRoom(row, tagOf(row->rec.section)); }

void RecordTable::linkWithRoom(Row *row, uint32_t tag)
{
    if (2 * (distinct_ + 1) > slots_.size())
        growIndex(distinct_ + 1);
    link(row, tag);
}

void RecordTable::link(Row *row, uint32_t tag)
{
    row->nextSame = 0;
    const size_t i = slotFor(row->rec.section, tag);
    if (!slots_[i].head) {
        slots_[i] = {row->id + 1, tag};
        ++distinct_;
        return;
    }
    Row *head = rowById(slots_[i].head - 1);
    // Keep each chain in table order; appended rows go last.
    if (row->seq < head->seq) {
        row->nextSame = head->id + 1;
        slots_[i].head = row->id + 1;
        return;
    }
    Row *at = head;
    while (at->nextSame && rowById(at->nextSame - 1)->seq < row->seq)
        at = rowById(at->nextSame - 1);
    row->nextSame = at->nextSame;
    at->nextSame = row->id + 1;
}

void RecordTable::indexRemove(Row *row)
{
    if (slots_.empty())
        return;
    const size_t mask = slots_.size() - 1;
    size_t i = slotFor(row->rec.section, tagOf(row->rec.section));
    if (!slots_[i].head)
        return;
    if (slots_[i].head != row->id + 1) {
        for (Row *at = rowById(slots_[i].head - 1); at->nextSame; at = rowById(at->nextSame - 1)) {
            if (at->nextSame == row->id + 1) {
                at->nextSame = row->nextSame;
                break;
            }
        }
        row->nextSame = 0;
        return;
    }
    if (row->nextSame) {
        slots_[i].head = row->nextSame;
        row->nextSame = 0;
        return;
    }
    // The section's last row: empty the slot and move later entries of the
    // probe run back, so no lookup stops short of them.
    --distinct_;
    slots_[i] = {};
    for (size_t j = (i + 1) & mask; slots_[j].head; j = (j + 1) & mask) {
        const size_t home = slots_[j].tag & mask;
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
    const uint32_t head = slots_[slotFor(section, tagOf(section))].head;
    return head ? rowById(head - 1) : nullptr;
}

const NoteRecord *RecordTable::find(const Bytes &section) const
{
    Row *r = first(section);
    return r ? &r->rec : nullptr;
}

size_t RecordTable::count(const Bytes &section) const
{
    size_t n = 0;
    for (const Row *r = first(section); r; r = r->nextSame ? rowById(r->nextSame - 1) : nullptr)
        ++n;
    return n;
}

RecordTable::Row *RecordTable::appendRow(Bytes section, Bytes text, Bytes icons)
{
    if (sink_)
        sink_->appending(section, text, icons);
    Row *row = newRow({std::move(section), std::move(text), std::move(icons)});
    row->seq = nextSeq_++;
    rows_.push_back(row);
    return row;
}

void RecordTable::append(Bytes section, Bytes text, Bytes icons)
{
    indexAdd(appendRow(std::move(section), std::move(text), std::move(icons)));
}

void RecordTable::appendUnindexed(Bytes section, Bytes text, Bytes icons)
{
    Row *row = appendRow(std::move(section), std::move(text), std::move(icons));
    // Its slot is fetched while its bytes are at hand; it is linked a few
    // rows later, once the slot has come in.
    if (!slots_.empty())
        fetch(&slots_[tagOf(row->rec.section) & (slots_.size() - 1)]);
    if (++unindexed_ > kFetchAhead)
        indexAdd(rows_[rows_.size() - unindexed_--]);
}

void RecordTable::indexAppended()
{
    for (; unindexed_ > 0; --unindexed_)
        indexAdd(rows_[rows_.size() - unindexed_]);
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
    uint32_t tags[kBatch];
    const Row *candidates[kBatch];
    for (size_t from = 0; from < n; from += kBatch) {
        const size_t m = std::min(kBatch, n - from);
        for (size_t i = 0; i < m; ++i) {
            tags[i] = tagOf(sections[from + i]);
            fetch(&slots_[tags[i] & mask]);
        }
        for (size_t i = 0; i < m; ++i) {
            candidates[i] = nullptr;
            for (size_t k = tags[i] & mask; slots_[k].head; k = (k + 1) & mask) {
                if (slots_[k].tag == tags[i]) {
                    candidates[i] = rowById(slots_[k].head - 1);
                    fetch(candidates[i]);
                    break;
                }
            }
        }
        for (size_t i = 0; i < m; ++i)
            if (candidates[i])
                fetch(candidates[i]->rec.section.data());
        for (size_t i = 0; i < m; ++i) {
            const uint32_t head = slots_[slotFor(sections[from + i], tags[i])].head;
            found[from + i] = head ? &rowById(head - 1)->rec : nullptr;
        }
    }
}

void RecordTable::releaseWithoutFreeing()
{
    (void)new std::vector<std::unique_ptr<Row[]>>(std::move(blocks_));
    forgetRows();
}

void RecordTable::clear()
{
    if (sink_)
        sink_->clearing();
    forgetRows();
}

void RecordTable::forgetRows()
{
    slots_.clear();
    distinct_ = 0;
    unindexed_ = 0;
    rows_.clear();
    freeRows_.clear();
    blocks_.clear();
    lastBlockUsed_ = 0;
    nextSeq_ = 0;
}

size_t RecordTable::rowOf(const Row *r) const
{
    // Rows are ordered by seq, so the row is found by binary search.
    auto it = std::lower_bound(rows_.begin(), rows_.end(), r->seq,
                               [](const Row *a, uint64_t seq) { return a->seq < seq; });
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
    freeRow(r);
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
    Row *r = newRow(std::move(record));
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(row), r);
    // Renumber so seq follows the table again (removals leave gaps, so the
    // rows in front may carry numbers past `row`).
    for (size_t i = 0; i < rows_.size(); ++i)
        rows_[i]->seq = i;
    nextSeq_ = rows_.size();
    indexAdd(r);
}

NoteRecord RecordTable::removeAt(size_t row)
{
    Row *r = rows_.at(row);
    if (sink_)
        sink_->removingAt(row);
    indexRemove(r);
    NoteRecord out = std::move(r->rec);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
    freeRow(r);
    return out;
}

void RecordTable::renameAt(size_t row, Bytes section)
{
    Row *r = rows_.at(row);
    if (sink_)
        sink_->renamingAt(row, section);
    indexRemove(r);
    r->rec.section = std::move(section);
    indexAdd(r);
}

void RecordTable::setIconsAt(size_t row, Bytes icons)
{
    Row *r = rows_.at(row);
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

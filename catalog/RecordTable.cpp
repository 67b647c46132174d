#include "catalog/RecordTable.h"

#include "catalog/HashSlots.h"
#include "catalog/PackedFields.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace qv {

using hashslots::fetch;
using hashslots::homeOf;
using hashslots::nextOf;
using hashslots::tagOf;

RecordTable::RecordTable() = default;

namespace {

// How many lookups a bulk operation keeps in flight: enough to hide the
// memory's latency.
constexpr size_t kFetchAhead = 8;

} // namespace

char *RecordTable::pack(std::string_view section, std::string_view text, std::string_view icons)
{
    if (section.empty() && text.empty() && icons.empty())
        return nullptr;
    const size_t size
        = packed::sizeOf(section.size()) + packed::sizeOf(icons.size()) + packed::sizeOf(text.size());
    char *bytes = static_cast<char *>(std::malloc(size));
    if (!bytes)
        throw std::bad_alloc();
    packed::put(packed::put(packed::put(bytes, section), icons), text);
    return bytes;
}

// What an empty record's views show: no bytes, but never a null pointer
// (code handed a view may well add an offset of 0 to its start).
constexpr char kNothing[] = "";

std::string_view RecordTable::sectionOf(const Row *row)
{
    std::string_view section(kNothing, 0);
    if (row->bytes)
        packed::get(row->bytes, section);
    return section;
}

std::string_view RecordTable::textOf(const char *bytes)
{
    std::string_view section, icons, text(kNothing, 0);
    packed::get(packed::get(packed::get(bytes, section), icons), text);
    return text;
}

RecordView RecordTable::viewOf(const Row *row)
{
    RecordView view{{kNothing, 0}, {kNothing, 0}, {kNothing, 0}};
    if (row->bytes)
        packed::get(packed::get(packed::get(row->bytes, view.section), view.icons), view.text);
    return view;
}

void RecordTable::repack(Row *row, std::string_view section, std::string_view text, std::string_view icons)
{
    char *old = row->bytes;
    row->bytes = pack(section, text, icons);
    std::free(old);
}

RecordTable::Row *RecordTable::newRow(std::string_view section, std::string_view text, std::string_view icons)
{
    char *bytes = pack(section, text, icons);
    Row *row;
    if (!freeRows_.empty()) {
        row = rowById(freeRows_.back());
        freeRows_.pop_back();
    } else {
        constexpr size_t kBlockRows = size_t(1) << kBlockShift;
        if (blocks_.empty() || lastBlockUsed_ == kBlockRows) {
            try {
                blocks_.push_back(std::make_unique<Row[]>(kBlockRows));
            } catch (...) {
                std::free(bytes);
                throw;
            }
            lastBlockUsed_ = 0;
        }
        const size_t id = ((blocks_.size() - 1) << kBlockShift) + lastBlockUsed_++;
        row = rowById(static_cast<uint32_t>(id));
        row->id = static_cast<uint32_t>(id);
    }
    row->bytes = bytes;
    row->nextSame = 0;
    return row;
}

void RecordTable::freeRow(Row *row)
{
    std::free(row->bytes);
    row->bytes = nullptr;
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
    const size_t size = slots_.size();
    size_t i = homeOf(tag, size);
    while (const uint32_t head = slots_[i].head) {
        if (slots_[i].tag == tag && sectionOf(rowById(head - 1)) == section)
            return i;
        i = nextOf(i, size);
    }
    return i;
}

void RecordTable::indexAdd(Row *row) { linkWithRoom(row, tagOf(sectionOf(row))); }

void RecordTable::linkWithRoom(Row *row, uint32_t tag)
{
    if (!hashslots::fits(distinct_ + 1, slots_.size()))
        growIndex(distinct_ + 1);
    link(row, tag);
}

void RecordTable::link(Row *row, uint32_t tag)
{
    row->nextSame = 0;
    const size_t i = slotFor(sectionOf(row), tag);
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
    const std::string_view section = sectionOf(row);
    size_t i = slotFor(section, tagOf(section));
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
    // The section's last row.
    --distinct_;
    hashslots::erase(slots_, i, [](const Slot &slot) { return slot.head != 0; });
}

RecordTable::Row *RecordTable::first(std::string_view section) const
{
    if (slots_.empty())
        return nullptr;
    const uint32_t head = slots_[slotFor(section, tagOf(section))].head;
    return head ? rowById(head - 1) : nullptr;
}

std::optional<RecordView> RecordTable::find(std::string_view section) const
{
    const Row *r = first(section);
    if (!r)
        return std::nullopt;
    return viewOf(r);
}

size_t RecordTable::count(std::string_view section) const
{
    size_t n = 0;
    for (const Row *r = first(section); r; r = r->nextSame ? rowById(r->nextSame - 1) : nullptr)
        ++n;
    return n;
}

RecordTable::Row *RecordTable::appendRow(std::string_view section, std::string_view text,
                                         std::string_view icons)
{
    if (sink_)
        sink_->appending(section, text, icons);
    if (nextSeq_ == UINT32_MAX)
        renumber();
    rows_.push_back(nullptr);
    try {
        rows_.back() = newRow(section, text, icons);
    } catch (...) {
        rows_.pop_back();
        throw;
    }
    rows_.back()->seq = nextSeq_++;
    return rows_.back();
}

void RecordTable::append(std::string_view section, std::string_view text, std::string_view icons)
{
    indexAdd(appendRow(section, text, icons));
}

void RecordTable::appendUnindexed(std::string_view section, std::string_view text, std::string_view icons)
{
    appendRow(section, text, icons);
    // Its slot is fetched while its bytes are at hand; it is linked a few
    // rows later, once the slot has come in.
    if (!slots_.empty())
        fetch(&slots_[homeOf(tagOf(section), slots_.size())]);
    if (++unindexed_ > kFetchAhead)
        indexAdd(rows_[rows_.size() - unindexed_--]);
}

void RecordTable::indexAppended()
{
    for (; unindexed_ > 0; --unindexed_)
        indexAdd(rows_[rows_.size() - unindexed_]);
}

void RecordTable::firstEach(const std::string_view *sections, const Row **rows, size_t n) const
{
    if (slots_.empty()) {
        std::fill(rows, rows + n, nullptr);
        return;
    }
    // Each pass starts every lookup's next fetch before any waits for one:
    // the slot, then the row it names, then that row's section bytes.
    const size_t size = slots_.size();
    constexpr size_t kBatch = 64;
    uint32_t tags[kBatch];
    const Row *candidates[kBatch];
    for (size_t from = 0; from < n; from += kBatch) {
        const size_t m = std::min(kBatch, n - from);
        for (size_t i = 0; i < m; ++i) {
            tags[i] = tagOf(sections[from + i]);
            fetch(&slots_[homeOf(tags[i], size)]);
        }
        for (size_t i = 0; i < m; ++i) {
            candidates[i] = nullptr;
            for (size_t k = homeOf(tags[i], size); slots_[k].head; k = nextOf(k, size)) {
                if (slots_[k].tag == tags[i]) {
                    candidates[i] = rowById(slots_[k].head - 1);
                    fetch(candidates[i]);
                    break;
                }
            }
        }
        for (size_t i = 0; i < m; ++i)
            if (candidates[i])
                fetch(candidates[i]->bytes);
        for (size_t i = 0; i < m; ++i) {
            const uint32_t head = slots_[slotFor(sections[from + i], tags[i])].head;
            rows[from + i] = head ? rowById(head - 1) : nullptr;
        }
    }
}

void RecordTable::findEach(const std::string_view *sections, std::optional<RecordView> *found, size_t n) const
{
    constexpr size_t kBatch = 256;
    const Row *rows[kBatch];
    for (size_t from = 0; from < n; from += kBatch) {
        const size_t m = std::min(kBatch, n - from);
        firstEach(sections + from, rows, m);
        for (size_t i = 0; i < m; ++i) {
            if (rows[i])
                found[from + i] = viewOf(rows[i]);
            else
                found[from + i].reset();
        }
    }
}

void RecordTable::idsOf(const std::string_view *sections, uint32_t *ids, size_t n) const
{
    constexpr size_t kBatch = 256;
    const Row *rows[kBatch];
    for (size_t from = 0; from < n; from += kBatch) {
        const size_t m = std::min(kBatch, n - from);
        firstEach(sections + from, rows, m);
        for (size_t i = 0; i < m; ++i)
            ids[from + i] = rows[i] ? rows[i]->id : kNoId;
    }
}

void RecordTable::releaseWithoutFreeing()
{
    (void)new std::vector<std::unique_ptr<Row[]>>(std::move(blocks_));
    forgetRows(true);
}

void RecordTable::clear()
{
    if (sink_)
        sink_->clearing();
    forgetRows(false);
}

RecordTable::~RecordTable() { forgetRows(false); }

void RecordTable::exchange(RecordTable &other)
{
    if (sink_) {
        sink_->clearing();
        for (const Row *row : other.rows_) {
            const RecordView r = viewOf(row);
            sink_->appending(r.section, r.text, r.icons);
        }
    }
    std::swap(rows_, other.rows_);
    std::swap(blocks_, other.blocks_);
    std::swap(lastBlockUsed_, other.lastBlockUsed_);
    std::swap(freeRows_, other.freeRows_);
    std::swap(slots_, other.slots_);
    std::swap(distinct_, other.distinct_);
    std::swap(unindexed_, other.unindexed_);
    std::swap(nextSeq_, other.nextSeq_);
}

void RecordTable::forgetRows(bool release)
{
    if (!release)
        for (Row *row : rows_)
            std::free(row->bytes);
    slots_.clear();
    distinct_ = 0;
    unindexed_ = 0;
    rows_.clear();
    freeRows_.clear();
    blocks_.clear();
    lastBlockUsed_ = 0;
    nextSeq_ = 0;
}

void RecordTable::renumber()
{
    for (size_t i = 0; i < rows_.size(); ++i)
        rows_[i]->seq = static_cast<uint32_t>(i);
    nextSeq_ = static_cast<uint32_t>(rows_.size());
}

void RecordTable::renumberFrom(size_t row)
{
    if (nextSeq_ >= UINT32_MAX - rows_.size()) {
        renumber();
        return;
    }
    // Removals leave gaps, so the row usually takes a number between its
    // neighbours'; else the rows after it move up as far as the next gap.
    for (size_t i = row; i < rows_.size(); ++i) {
        const uint32_t least = i ? rows_[i - 1]->seq + 1 : 0;
        if (i > row && rows_[i]->seq >= least)
            return;
        rows_[i]->seq = least;
    }
    nextSeq_ = std::max(nextSeq_, rows_.back()->seq + 1);
}

size_t RecordTable::rowOf(const Row *r) const
{
    // Rows are ordered by seq, so the row is found by binary search.
    auto it = std::lower_bound(rows_.begin(), rows_.end(), r->seq,
                               [](const Row *a, uint32_t seq) { return a->seq < seq; });
    return static_cast<size_t>(it - rows_.begin());
}

bool RecordTable::remove(std::string_view section)
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

size_t RecordTable::indexOf(std::string_view section) const
{
    const Row *r = first(section);
    return r ? rowOf(r) : npos;
}

void RecordTable::insertAt(size_t row, const NoteRecord &record)
{
    row = std::min(row, rows_.size());
    if (sink_)
        sink_->insertingAt(row, record.view());
    const auto at = rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(row), nullptr);
    Row *r;
    try {
        r = *at = newRow(record.section, record.text, record.icons);
    } catch (...) {
        rows_.erase(at);
        throw;
    }
    renumberFrom(row);
    indexAdd(r);
}

NoteRecord RecordTable::removeAt(size_t row)
{
    Row *r = rows_.at(row);
    NoteRecord out = viewOf(r).owned();
    if (sink_)
        sink_->removingAt(row);
    indexRemove(r);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
    freeRow(r);
    return out;
}

void RecordTable::renameAt(size_t row, std::string_view section)
{
    Row *r = rows_.at(row);
    if (sink_)
        sink_->renamingAt(row, section);
    rename(r, section);
}

void RecordTable::setIconsAt(size_t row, std::string_view icons)
{
    Row *r = rows_.at(row);
    if (sink_)
        sink_->settingIconsAt(row, icons);
    const RecordView v = viewOf(r);
    repack(r, v.section, v.text, icons);
}

bool RecordTable::rename(std::string_view oldSection, std::string_view newSection)
{
    Row *r = first(oldSection);
    if (!r)
        return false;
    if (sink_)
        sink_->renaming(oldSection, newSection);
    rename(r, newSection);
    return true;
}

void RecordTable::rename(Row *r, std::string_view section)
{
    const RecordView v = viewOf(r);
    char *bytes = pack(section, v.text, v.icons);
    indexRemove(r);
    std::free(r->bytes);
    r->bytes = bytes;
    indexAdd(r);
}

bool RecordTable::setText(std::string_view section, std::string_view text)
{
    Row *r = first(section);
    if (!r)
        return false;
    if (sink_)
        sink_->settingText(section, text);
    const RecordView v = viewOf(r);
    repack(r, v.section, text, v.icons);
    return true;
}

bool RecordTable::setIcons(std::string_view section, std::string_view icons)
{
    Row *r = first(section);
    if (!r)
        return false;
    if (sink_)
        sink_->settingIcons(section, icons);
    const RecordView v = viewOf(r);
    repack(r, v.section, v.text, icons);
    return true;
}

} // namespace qv

#include "catalog/RecordTable.h"

#include <algorithm>

namespace qv {

RecordTable::RecordTable() = default;
RecordTable::~RecordTable() = default;

void RecordTable::indexAdd(Row *row)
{
    auto &list = index_[row->rec.section];
    // Keep each list in table order; appended rows go last.
    auto pos = std::upper_bound(list.begin(), list.end(), row,
                                [](const Row *a, const Row *b) { return a->seq < b->seq; });
    list.insert(pos, row);
}

void RecordTable::indexRemove(Row *row)
{
    auto it = index_.find(row->rec.section);
    if (it == index_.end())
        return;
    auto &list = it->second;
    list.erase(std::remove(list.begin(), list.end(), row), list.end());
    if (list.empty())
        index_.erase(it);
}

RecordTable::Row *RecordTable::first(const Bytes &section) const
{
    auto it = index_.find(section);
    return it == index_.end() ? nullptr : it->second.front();
}

const NoteRecord *RecordTable::find(const Bytes &section) const
{
    Row *r = first(section);
    return r ? &r->rec : nullptr;
}

size_t RecordTable::count(const Bytes &section) const
{
    auto it = index_.find(section);
    return it == index_.end() ? 0 : it->second.size();
}

void RecordTable::append(Bytes section, Bytes text, Bytes icons)
{
    if (sink_)
        sink_->appending(section, text, icons);
    auto row = std::make_unique<Row>(Row{{std::move(section), std::move(text), std::move(icons)}, nextSeq_++});
    indexAdd(row.get());
    rows_.push_back(std::move(row));
}

void RecordTable::clear()
{
    if (sink_)
        sink_->clearing();
    index_.clear();
    rows_.clear();
    nextSeq_ = 0;
}

bool RecordTable::remove(const Bytes &section)
{
    Row *r = first(section);
    if (!r)
        return false;
    if (sink_)
        sink_->removing(section);
    indexRemove(r);
    // Rows are ordered by seq, so the row is found by binary search.
    auto it = std::lower_bound(rows_.begin(), rows_.end(), r->seq,
                               [](const std::unique_ptr<Row> &a, uint64_t seq) { return a->seq < seq; });
    rows_.erase(it);
    return true;
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

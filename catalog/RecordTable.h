// The note records: an ordered table of (section, text, icons) rows, joined
// to nodes by caption with the first-match rule.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

struct NoteRecord {
    Bytes section; // the caption of the node it belongs to
    Bytes text;    // the note, line breaks held as "~~"
    Bytes icons;   // decimal icon number as text
};

// What changed, for a record of the changes (the recovery journal). Each
// call comes before the change is made, and only for a change that will be
// made (for the first-match operations: a record carries the section).
class RecordChangeSink {
public:
    virtual ~RecordChangeSink() = default;
    virtual void appending(const Bytes &section, const Bytes &text, const Bytes &icons) = 0;
    virtual void clearing() = 0;
    virtual void removing(const Bytes &section) = 0;
    virtual void renaming(const Bytes &oldSection, const Bytes &newSection) = 0;
    virtual void settingText(const Bytes &section, const Bytes &text) = 0;
    virtual void settingIcons(const Bytes &section, const Bytes &icons) = 0;
    // The operations by position that take a command back.
    virtual void insertingAt(size_t row, const NoteRecord &record) = 0;
    virtual void removingAt(size_t row) = 0;
    virtual void renamingAt(size_t row, const Bytes &newSection) = 0;
    virtual void settingIconsAt(size_t row, const Bytes &icons) = 0;
};

class RecordTable {
public:
    static constexpr size_t npos = size_t(-1);

    RecordTable();
    ~RecordTable();
    RecordTable(const RecordTable &) = delete;
    RecordTable &operator=(const RecordTable &) = delete;

    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    const NoteRecord &at(size_t i) const { return rows_[i]->rec; }
    // Room for n records without regrowing the table or its index.
    void reserve(size_t n);

    // An observer of every change; null for none.
    void setChangeSink(RecordChangeSink *sink) { sink_ = sink; }
    RecordChangeSink *changeSink() const { return sink_; }

    // The first record in table order whose section equals `section`, byte
    // for byte; null when none. O(1) on average.
    const NoteRecord *find(const Bytes &section) const;
    // How many records carry this section.
    size_t count(const Bytes &section) const;

    void append(Bytes section, Bytes text, Bytes icons);
    // For a reader appending a whole file: as append, but each row is
    // indexed a few rows later, once its slot has been fetched, so the
    // lookups overlap; indexAppended() indexes the rest. Nothing else may be
    // called on the table in between.
    void appendUnindexed(Bytes section, Bytes text, Bytes icons);
    void indexAppended();
    // find() for each of n sections into found[0..n), the lookups
    // overlapping instead of waiting for the memory one by one.
    void findEach(const std::string_view *sections, const NoteRecord **found, size_t n) const;
    void clear();
    // For the end of the process only: the records are let go without being
    // freed one by one, and the table reads as empty. The sink is not told.
    void releaseWithoutFreeing();

    // Each acts on the first matching record only and tells whether one matched.
    bool remove(const Bytes &section);
    bool rename(const Bytes &oldSection, Bytes newSection);
    bool setText(const Bytes &section, Bytes text);
    bool setIcons(const Bytes &section, Bytes icons);

    // By position, for taking a command back exactly: the row of the first
    // record carrying `section` (npos when none), and the changes at a row.
    // insertAt and removeAt cost O(size) for the positions behind them.
    size_t indexOf(const Bytes &section) const;
    void insertAt(size_t row, NoteRecord record);
    NoteRecord removeAt(size_t row);
    void renameAt(size_t row, Bytes section);
    void setIconsAt(size_t row, Bytes icons);

private:
    struct Row {
        NoteRecord rec;
        uint64_t seq = 0;      // increases with table position
        uint32_t id = 0;       // its place among the blocks
        uint32_t nextSame = 0; // id + 1 of the next row with this section, in table order; 0 for none
    };
    // Rows live in blocks that never move, so a row is named by its id (4
    // bytes, not a pointer) and costs no allocation of its own; a removed
    // row's place is reused.
    static constexpr unsigned kBlockShift = 10;
    Row *rowById(uint32_t id) const
    {
        return &blocks_[id >> kBlockShift][id & ((uint32_t(1) << kBlockShift) - 1)];
    }
    Row *newRow(NoteRecord rec);
    // Empties the table (the blocks freed, or already handed away).
    void forgetRows();
    // A new last row, told to the sink, not yet indexed.
    Row *appendRow(Bytes section, Bytes text, Bytes icons);
    void freeRow(Row *row);
    void indexAdd(Row *row);
    // indexAdd making room in the index first, and with room made.
    void linkWithRoom(Row *row, uint32_t tag);
    void link(Row *row, uint32_t tag);
    void indexRemove(Row *row);
    // The slot holding the first row with this section, or the empty slot
    // where it would go.
    size_t slotFor(std::string_view section, uint32_t tag) const;
    Row *first(const Bytes &section) const;
    size_t rowOf(const Row *r) const;
    void growIndex(size_t distinct);

    std::vector<Row *> rows_; // in table order
    std::vector<std::unique_ptr<Row[]>> blocks_;
    size_t lastBlockUsed_ = 0; // rows handed out of the last block
    std::vector<uint32_t> freeRows_;
    // Open addressing with linear probing: each slot holds nothing (0) or
    // the id + 1 of the first row (in table order) of one section, with the
    // low bits of that section's hash so a probe reads no row it does not
    // match; the rows with the same section follow it through nextSame. At
    // most half the slots are used, and never more than 2^32, so those low
    // bits hold every home position.
    struct Slot {
        uint32_t head = 0;
        uint32_t tag = 0;
    };
    std::vector<Slot> slots_;
    size_t distinct_ = 0;  // sections in the index
    size_t unindexed_ = 0; // rows at the end appended without indexing
    uint64_t nextSeq_ = 0;
    RecordChangeSink *sink_ = nullptr;
};

} // namespace qv

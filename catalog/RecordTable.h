// The note records: an ordered table of (section, text, icons) rows, joined
// to nodes by caption with the first-match rule.
#pragma once

#include "catalog/Text.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace qv {

struct RecordView;

// A record of its own, as a command keeps it to put back.
struct NoteRecord {
    Bytes section; // the caption of the node it belongs to
    Bytes text;    // the note, line breaks held as "~~"
    Bytes icons;   // decimal icon number as text

    RecordView view() const;
};

// A record as the table holds it: the views stay valid until that record
// changes or leaves the table.
struct RecordView {
    std::string_view section;
    std::string_view text;
    std::string_view icons;

    NoteRecord owned() const { return {Bytes(section), Bytes(text), Bytes(icons)}; }
};

inline RecordView NoteRecord::view() const { return {section, text, icons}; }

// What changed, for a record of the changes (the recovery journal). Each
// call comes before the change is made, and only for a change that will be
// made (for the first-match operations: a record carries the section).
class RecordChangeSink {
public:
    virtual ~RecordChangeSink() = default;
    virtual void appending(std::string_view section, std::string_view text, std::string_view icons) = 0;
    virtual void clearing() = 0;
    virtual void removing(std::string_view section) = 0;
    virtual void renaming(std::string_view oldSection, std::string_view newSection) = 0;
    virtual void settingText(std::string_view section, std::string_view text) = 0;
    virtual void settingIcons(std::string_view section, std::string_view icons) = 0;
    // The operations by position that take a command back.
    virtual void insertingAt(size_t row, const RecordView &record) = 0;
    virtual void removingAt(size_t row) = 0;
    virtual void renamingAt(size_t row, std::string_view newSection) = 0;
    virtual void settingIconsAt(size_t row, std::string_view icons) = 0;
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
    RecordView at(size_t i) const { return viewOf(rows_[i]); }
    // Room for n records without regrowing the table or its index.
    void reserve(size_t n);

    // An observer of every change; null for none.
    void setChangeSink(RecordChangeSink *sink) { sink_ = sink; }
    RecordChangeSink *changeSink() const { return sink_; }

    // The first record in table order whose section equals `section`, byte
    // for byte; none when no record does. O(1) on average.
    std::optional<RecordView> find(std::string_view section) const;
    // How many records carry this section.
    size_t count(std::string_view section) const;

    void append(std::string_view section, std::string_view text, std::string_view icons);
    // For a reader appending a whole file: as append, but each row is
    // indexed a few rows later, once its slot has been fetched, so the
    // lookups overlap; indexAppended() indexes the rest. Nothing else may be
    // called on the table in between.
    void appendUnindexed(std::string_view section, std::string_view text, std::string_view icons);
    void indexAppended();
    // find() for each of n sections into found[0..n), the lookups
    // overlapping instead of waiting for the memory one by one.
    void findEach(const std::string_view *sections, std::optional<RecordView> *found, size_t n) const;
    // A lasting name for the first record of each of n sections (kNoId for
    // none), looked up as findEach does, for a reader that holds many: it
    // names that row while the row stays in the table, whatever its fields
    // become. textById reads the row's text now; an id the table no longer
    // holds reads as empty, never as freed memory.
    static constexpr uint32_t kNoId = UINT32_MAX;
    void idsOf(const std::string_view *sections, uint32_t *ids, size_t n) const;
    std::string_view textById(uint32_t id) const
    {
        if (id >> kBlockShift >= blocks_.size())
            return {};
        const char *bytes = rowById(id)->bytes;
        return bytes ? textOf(bytes) : std::string_view();
    }
    // The id of the record at a row, and a bound above every id in use.
    uint32_t idAt(size_t row) const { return rows_[row]->id; }
    size_t idLimit() const { return blocks_.size() << kBlockShift; }
    void clear();
    // Takes `other`'s records in place of its own, which `other` gets back;
    // O(1). The change sinks stay where they were; this table's hears the
    // records as a clear and an append of each.
    void exchange(RecordTable &other);
    // For the end of the process only: the records are let go without being
    // freed one by one, and the table reads as empty. The sink is not told.
    void releaseWithoutFreeing();

    // Each acts on the first matching record only and tells whether one
    // matched. The arguments may view records of this table.
    bool remove(std::string_view section);
    bool rename(std::string_view oldSection, std::string_view newSection);
    bool setText(std::string_view section, std::string_view text);
    bool setIcons(std::string_view section, std::string_view icons);

    // By position, for taking a command back exactly: the row of the first
    // record carrying `section` (npos when none), and the changes at a row.
    // insertAt and removeAt cost O(size) for the positions behind them.
    size_t indexOf(std::string_view section) const;
    void insertAt(size_t row, const NoteRecord &record);
    NoteRecord removeAt(size_t row);
    void renameAt(size_t row, std::string_view section);
    void setIconsAt(size_t row, std::string_view icons);

private:
    // A record's three fields live in one allocation, each as its length
    // (7 bits a byte, low first) followed by its bytes: section, icons,
    // text. A record with all three empty has none.
    struct Row {
        char *bytes = nullptr;
        uint32_t seq = 0;      // increases with table position
        uint32_t id = 0;       // its place among the blocks
        uint32_t nextSame = 0; // id + 1 of the next row with this section, in table order; 0 for none
    };
    static char *pack(std::string_view section, std::string_view text, std::string_view icons);
    static std::string_view sectionOf(const Row *row);
    static RecordView viewOf(const Row *row);
    static std::string_view textOf(const char *bytes);
    // The first row of each of n sections (null for none), the lookups
    // overlapping.
    void firstEach(const std::string_view *sections, const Row **rows, size_t n) const;
    // Gives the row new fields, packed before the old ones are let go (the
    // arguments may view them).
    static void repack(Row *row, std::string_view section, std::string_view text, std::string_view icons);

    // Rows live in blocks that never move, so a row is named by its id (4
    // bytes, not a pointer) and costs no allocation of its own; a removed
    // row's place is reused.
    static constexpr unsigned kBlockShift = 10;
    Row *rowById(uint32_t id) const
    {
        return &blocks_[id >> kBlockShift][id & ((uint32_t(1) << kBlockShift) - 1)];
    }
    Row *newRow(std::string_view section, std::string_view text, std::string_view icons);
    // Empties the table; the fields are freed unless `release`.
    void forgetRows(bool release);
    // A new last row, told to the sink, not yet indexed.
    Row *appendRow(std::string_view section, std::string_view text, std::string_view icons);
    void freeRow(Row *row);
    // Gives the row a new section and places it in the index again.
    void rename(Row *row, std::string_view section);
    void indexAdd(Row *row);
    // indexAdd making room in the index first, and with room made.
    void linkWithRoom(Row *row, uint32_t tag);
    void link(Row *row, uint32_t tag);
    void indexRemove(Row *row);
    // The slot holding the first row with this section, or the empty slot
    // where it would go.
    size_t slotFor(std::string_view section, uint32_t tag) const;
    Row *first(std::string_view section) const;
    size_t rowOf(const Row *r) const;
    // Numbers the rows 0, 1, ... in table order again.
    void renumber();
    // Numbers the row at `row` (just put in) and as many after it as it takes.
    void renumberFrom(size_t row);
    void growIndex(size_t distinct);

    std::vector<Row *> rows_; // in table order
    std::vector<std::unique_ptr<Row[]>> blocks_;
    size_t lastBlockUsed_ = 0; // rows handed out of the last block
    std::vector<uint32_t> freeRows_;
    // Open addressing with linear probing (catalog/HashSlots.h): each slot
    // holds nothing (0) or the id + 1 of the first row (in table order) of
    // one section, with that section's hash bits so a probe reads no row it
    // does not match; the rows with the same section follow it through
    // nextSame.
    struct Slot {
        uint32_t head = 0;
        uint32_t tag = 0;
    };
    std::vector<Slot> slots_;
    size_t distinct_ = 0;  // sections in the index
    size_t unindexed_ = 0; // rows at the end appended without indexing
    uint32_t nextSeq_ = 0;
    RecordChangeSink *sink_ = nullptr;
};

} // namespace qv

// The recovery journal's file format (storage/Journal), written by its
// recorder and read by its replay.
//
//   header: magic (8) | version u32 | data.dat identity | text.dat identity
//           | data.dat hash u64 | text.dat hash u64 | CRC-32 u32
//           identity: exists u8 | device u64 | inode u64 | size i64 | mtime ns i64
//           hash: the file's ContentHash (storage/FileIo.h) as loaded or saved
//   (version 1, still read, has no hashes: its base is known by identity alone)
//   batch:  payload length u64 | time i64 | CRC-32 u32 (of length, time, payload) | payload
//
// Fixed-size numbers are little-endian. A payload is a sequence of changes,
// each an operation byte and its fields: counts, rows and lengths as LEB128,
// icon numbers zigzag-coded, text as length and bytes, a node as its path
// (count, then the row at each level from the top; empty for the top).
#pragma once

#include "catalog/Catalog.h"
#include "catalog/Text.h"
#include "storage/Journal.h"
#include "storage/Os.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::journal {

inline constexpr size_t kBatchHeaderBytes = 8 + 8 + 4;
// The journal of the machine named `machine` (os::machineName()):
// "Quorvel-<machine>.journal". The name of old, read as this machine's.
inline std::string fileName(const std::string &machine) { return "Quorvel-" + machine + ".journal"; }
inline constexpr char kUnnamedFileName[] = "Quorvel.journal";

enum Op : uint8_t {
    // outline
    Insert = 1,          // parent, row, caption, icon
    InsertBranch = 2,    // parent, row, nodes
    Remove = 3,          // node
    Move = 4,            // node, new parent, row
    CopyToAndRemove = 5, // dragged node, target
    SetCaption = 6,      // node, caption
    SetImages = 7,       // node, icon
    ReplaceAll = 8,      // nodes of the whole forest
    // record table
    Append = 16, // section, text, icons
    Clear = 17,
    RemoveRecord = 18, // section
    Rename = 19,       // old section, new section
    SetText = 20,      // section, text
    SetIcons = 21,     // section, icons
    InsertAt = 22,     // row, section, text, icons
    RemoveAt = 23,     // row
    RenameAt = 24,     // row, new section
    SetIconsAt = 25,   // row, icons
};

void putVar(Bytes &out, uint64_t v);
void putIcon(Bytes &out, int32_t v);
void putText(Bytes &out, std::string_view s);
// A node as its path of rows from the top.
void putPath(Bytes &out, const Node *n);
// A branch, a node and its descendants with their depths, in flat order.
void putBranch(Bytes &out, const Node *n);
// Every node of the outline with its depth, in flat order.
void putForest(Bytes &out, const Outline &outline);
// The whole catalogue as changes that rebuild it from anything.
Bytes snapshot(const Catalog &catalog);
// The file's header for a journal of changes against these files.
Bytes header(const JournalBase &base);
// Appends a batch: its frame and its payload.
void putBatch(Bytes &out, int64_t time, std::string_view payload);

// Walks the sound part of a journal file: the header, then batch after batch
// until one is cut short or does not check.
class Reader {
public:
    explicit Reader(const std::string &path);
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    bool ok() const { return ok_; }
    const JournalBase &base() const { return base_; }
    // The header carries the files' hashes (else only their identities).
    bool hashed() const { return hashed_; }

    // The next sound batch, or false at the end of the sound part.
    bool next(int64_t &time, Bytes &payload);

private:
    bool stop();

    os::Handle fd_ = os::kNoHandle;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
    bool ok_ = false;
    bool hashed_ = false;
    JournalBase base_;
};

// Makes the change that starts at `at` in a batch's payload and returns where
// the next one starts. Raises EJournalMismatch (storage/Journal.h) when the
// change is cut short or does not fit the catalogue.
size_t applyChange(std::string_view payload, size_t at, Outline &outline, RecordTable &table);

} // namespace qv::journal

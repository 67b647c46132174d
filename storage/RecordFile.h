// "text.dat": the count, then section, text and icons lines per record.
#pragma once

#include "catalog/Outline.h"
#include "catalog/RecordTable.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

class AtomicFile;
class InputFile;

// Writes the whole table atomically. A CR or 0x1A inside a field (which the
// format cannot carry) is written as '?'. Raises EInOutError.
void writeRecordFile(const std::string &path, const RecordTable &table);
// Writes the file's bytes into `file` (opened with Refusal::InOut), which the
// caller commits. With `shownBy`, a record one of its nodes shows has an
// icons field the load converts: one the number syntax refuses (as a record
// cut short by an end-of-data mark leaves it, empty) is written as the icon
// those nodes show, so the program never writes a pair its load refuses.
void writeRecords(AtomicFile &file, const RecordTable &table, const Outline *shownBy = nullptr);
// Appends the file's records to `table` (the caller empties it first).
// Raises EInOutError, ENotRegularFile or EConvertError; rows appended
// before stay. Returns where the read left bytes unread when anything but
// NUL, 0x1A, CR or LF lies from there on: the end-of-data mark (0x1A) that
// ended the read, or the end of the last counted record (records past the
// count, or a 0x1A after the last one, with more data after it).
// `contentHash` gets the ContentHash of the bytes read (storage/FileIo.h).
std::optional<uint64_t> readRecordFile(const std::string &path, RecordTable &table,
                                       uint64_t *contentHash = nullptr);
// The same over bytes already in memory.
std::optional<uint64_t> parseRecords(std::string_view bytes, RecordTable &table);

// Reads an open file from where it stands as readRecordFile does, without
// keeping the records: false when the read would stop early (as above) or
// with the conversion error. Raises EInOutError on a read failure.
bool recordsReadWhole(InputFile &file);

// Missing records past the end of the data are appended empty, but no more
// than this many (a count of 2147483647 must not exhaust memory).
constexpr size_t kMaxEmptyTrailingRecords = 1000;

} // namespace qv

// "text.dat": the count, then section, text and icons lines per record.
#pragma once

#include "catalog/RecordTable.h"

#include <string>

namespace qv {

class AtomicFile;

// Writes the whole table atomically. A CR or 0x1A inside a field (which the
// format cannot carry) is written as '?'. Raises EInOutError.
void writeRecordFile(const std::string &path, const RecordTable &table);
// Writes the file's bytes into `file` (opened with Refusal::InOut), which the
// caller commits.
void writeRecords(AtomicFile &file, const RecordTable &table);
// Appends the file's records to `table` (the caller empties it first).
// Raises EInOutError or EConvertError; rows appended before stay.
void readRecordFile(const std::string &path, RecordTable &table);
// The same over bytes already in memory.
void parseRecords(std::string_view bytes, RecordTable &table);

// Missing records past the end of the data are appended empty, but no more
// than this many (a count of 2147483647 must not exhaust memory).
constexpr size_t kMaxEmptyTrailingRecords = 1000;

} // namespace qv

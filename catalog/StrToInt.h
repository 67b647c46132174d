// The program's one integer syntax.
#pragma once

#include "catalog/Text.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qv {

// Leading blanks; then an optional sign with decimal digits, or a "$", "x",
// "X", "0x", "0X" prefix with hexadecimal digits (at most 8 significant,
// two's complement); nothing after the digits; signed 32-bit range.
std::optional<int32_t> tryStrToInt(std::string_view text);
// The same, raising EConvertError with the whole text on failure.
int32_t strToInt(std::string_view text);

// A number field of the catalogue files longer than this is refused
// (EConvertError) where it is converted: the record file's count line as it
// is read (without reading it on), a record's icons line when a node joins
// the record. A field nothing converts has no limit.
constexpr size_t kMaxNumberLine = 64 * 1024;

} // namespace qv

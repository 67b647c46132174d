// The record reader over any bytes: it either appends records or raises
// the count's conversion error; what it appends is what the format can
// carry, bounded by what the bytes hold, and found by the first-match rule.
#include "FuzzSupport.h"

#include "catalog/Errors.h"
#include "storage/RecordFile.h"

#include <unordered_map>

using namespace qv;
using qvfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes = qvfuzz::view(data, size);
    RecordTable table;
    try {
        parseRecords(bytes, table);
    } catch (const EConvertError &) {
        require(table.empty(), "a bad count appends nothing");
        return 0;
    }

    // Every present record takes three line ends; at most so many empty ones follow.
    require(table.size() <= size / 3 + 1 + kMaxEmptyTrailingRecords, "rows bounded by the bytes");
    size_t held = 0;
    std::unordered_map<Bytes, size_t> firstRow;
    for (size_t i = 0; i < table.size(); ++i) {
        const RecordView r = table.at(i);
        for (const std::string_view field : {r.section, r.text, r.icons}) {
            require(field.find_first_of("\r\x1A") == std::string_view::npos, "no field holds CR or 0x1A");
            held += field.size();
        }
        const size_t first = firstRow.emplace(Bytes(r.section), i).first->second;
        require(table.find(r.section)->text.data() == table.at(first).text.data(),
                "find gives the first match");
    }
    require(held <= size, "fields hold no more than the bytes");

    return 0;
}

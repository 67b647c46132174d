// The number syntax over any text, against a plain reading of its rule:
// blanks in front; a signed decimal, or "$", "x", "X", "0x", "0X" and at most
// eight significant hexadecimal digits; nothing after; 32-bit range.
#include "FuzzSupport.h"

#include "catalog/Errors.h"
#include "catalog/StrToInt.h"

#include <optional>

using namespace qv;
using qvfuzz::require;

namespace {

std::optional<int32_t> expected(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    bool hex = false;
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (s.substr(0, prefix.size()) == prefix) {
            s.remove_prefix(prefix.size());
            hex = true;
            break;
        }
    }
    bool negative = false;
    if (!hex && !s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty())
        return std::nullopt;
    const unsigned base = hex ? 16 : 10;
    unsigned __int128 value = 0;
    for (char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + d;
        if (value > 0xFFFFFFFFu)
            return std::nullopt; // out of range however the digits go on
    }
    if (hex)
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    if (value > (negative ? 2147483648u : 2147483647u))
        return std::nullopt;
    const long long v = static_cast<long long>(value);
    return static_cast<int32_t>(negative ? -v : v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text = qvfuzz::view(data, size);
    const std::optional<int32_t> got = tryStrToInt(text);
    require(got == expected(text), "value as the rule reads it");

    bool raised = false;
    try {
        require(strToInt(text) == got, "strToInt agrees with tryStrToInt");
    } catch (const EConvertError &) {
        raised = true;
    }
    require(raised == !got, "strToInt raises exactly when there is no value");

    if (got) {
        require(tryStrToInt(decimal(*got)) == got, "decimal text reads back");
    }
    return 0;
}

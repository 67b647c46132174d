#include "catalog/StrToInt.h"

#include "catalog/Errors.h"

namespace qv {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hexadecimal digits to the end of `s`: at least one, at most eight that
// count (leading zeros are free), read as a 32-bit two's-complement value.
std::optional<int32_t> parseHex(std::string_view s)
{
    if (s.empty())
        return std::nullopt;
    uint32_t value = 0;
    int significant = 0;
    for (char c : s) {
        int d = hexValue(c);
        if (d < 0)
            return std::nullopt;
        if (significant == 0 && d == 0)
            continue;
        if (++significant > 8)
            return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(value);
}

// Decimal digits to the end of `s`, with the sign already taken off.
std::optional<int32_t> parseDecimal(std::string_view s, bool negative)
{
    if (s.empty())
        return std::nullopt;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        // Stop as soon as the range is left, so any number of digits is safe.
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

} // namespace

std::optional<int32_t> tryStrToInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view s = text.substr(i);
    if (s.empty())
        return std::nullopt;
    if (s[0] == '$' || s[0] == 'x' || s[0] == 'X')
        return parseHex(s.substr(1));
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return parseHex(s.substr(2));
    if (s[0] == '+' || s[0] == '-')
        return parseDecimal(s.substr(1), s[0] == '-');
    return parseDecimal(s, false);
}

int32_t strToInt(std::string_view text)
{
    if (auto v = tryStrToInt(text))
        return *v;
    throw EConvertError(Bytes(text));
}

} // namespace qv

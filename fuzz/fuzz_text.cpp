// The Windows-1251 conversions over any bytes, read three ways: as
// Windows-1251 text, as UTF-8 and as UTF-16 code units.
//  - Windows-1251 survives UTF-16 and UTF-8 unchanged.
//  - From UTF-8 or UTF-16, an ASCII character comes only from itself: no
//    overlong or broken sequence turns into 0x1A (the record file's end of
//    data), a line end or a NUL.
//  - Well-formed UTF-8 converts as its UTF-16 does; a character is kept or
//    becomes '?'.
#include "FuzzSupport.h"

#include "catalog/Text.h"

#include <algorithm>
#include <array>
#include <optional>

using namespace qv;
using qvfuzz::require;

namespace {

// Strict UTF-8 to UTF-16; nothing when the text is not well-formed
// (overlong forms, surrogates, beyond U+10FFFF, cut short).
std::optional<std::u16string> strictUtf16(std::string_view s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t len;
        char32_t cp, min;
        if (b < 0x80) {
            len = 1, cp = b, min = 0;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07, min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + len > s.size())
            return std::nullopt;
        for (size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        if (cp > 0xFFFF) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

template <typename Text>
std::array<size_t, 128> asciiCounts(const Text &text)
{
    std::array<size_t, 128> counts{};
    for (auto c : text) {
        const auto u = static_cast<std::make_unsigned_t<decltype(c)>>(c);
        if (u < 128)
            ++counts[u];
    }
    return counts;
}

// Every ASCII character but the '?' that stands for what cannot be held
// appears in the result exactly as often as in the source.
template <typename Source>
void requireAsciiFromItself(const Source &source, const Bytes &result, const char *what)
{
    auto in = asciiCounts(source), out = asciiCounts(result);
    in['?'] = out['?'] = 0;
    require(in == out, what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes = qvfuzz::view(data, size);

    // As Windows-1251.
    const std::u16string wide = cp1251::toUtf16(bytes);
    require(wide.size() == bytes.size(), "one UTF-16 unit per byte");
    require(cp1251::fromUtf16(wide) == bytes, "Windows-1251 survives UTF-16");
    const std::string utf8 = cp1251::toUtf8(bytes);
    require(strictUtf16(utf8) == wide, "toUtf8 gives well-formed UTF-8 of the same text");
    require(cp1251::fromUtf8(utf8) == bytes, "Windows-1251 survives UTF-8");

    // As UTF-8.
    const Bytes fromUtf8 = cp1251::fromUtf8(bytes);
    require(fromUtf8.size() <= bytes.size(), "no more bytes than UTF-8 bytes");
    requireAsciiFromItself(bytes, fromUtf8, "fromUtf8: ASCII only from itself");
    if (const auto strict = strictUtf16(bytes))
        require(fromUtf8 == cp1251::fromUtf16(*strict), "well-formed UTF-8 converts as its UTF-16");

    // As UTF-16 code units.
    std::u16string units(size / 2, u'\0');
    std::copy_n(reinterpret_cast<const char *>(data), units.size() * 2,
                reinterpret_cast<char *>(units.data()));
    const Bytes fromUtf16 = cp1251::fromUtf16(units);
    require(fromUtf16.size() <= units.size(), "no more bytes than UTF-16 units");
    requireAsciiFromItself(units, fromUtf16, "fromUtf16: ASCII only from itself");
    // Without surrogates every unit is one byte: the same character or '?'.
    if (std::none_of(units.begin(), units.end(), [](char16_t u) { return u >= 0xD800 && u <= 0xDFFF; })) {
        require(fromUtf16.size() == units.size(), "one byte per unit");
        const std::u16string back = cp1251::toUtf16(fromUtf16);
        for (size_t i = 0; i < units.size(); ++i)
            require(back[i] == units[i] || fromUtf16[i] == '?', "a character is kept or becomes '?'");
    }
    return 0;
}

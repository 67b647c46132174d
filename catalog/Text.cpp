#include "catalog/Text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qv {

namespace {

// Code points of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
// 0x98 has no character in the code page and travels as U+0098.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

char16_t codePoint(unsigned char b)
{
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return static_cast<char16_t>(0x0410 + (b - 0xC0));
    return kHigh[b - 0x80];
}

// Reverse of kHigh, sorted by code point for a binary search.
struct ReverseTable {
    std::array<std::pair<char16_t, unsigned char>, 64> entries{};
    ReverseTable()
    {
        for (unsigned i = 0; i < 64; ++i)
            entries[i] = {kHigh[i], static_cast<unsigned char>(0x80 + i)};
        std::sort(entries.begin(), entries.end());
    }
};

const ReverseTable &reverseTable()
{
    static const ReverseTable table;
    return table;
}

// The byte for a code point, or '?' when the code page has none.
char byteFor(char32_t cp)
{
    if (cp < 0x80)
        return static_cast<char>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)
        return static_cast<char>(0xC0 + (cp - 0x0410));
    if (cp > 0xFFFF)
        return '?';
    const auto &e = reverseTable().entries;
    auto it = std::lower_bound(e.begin(), e.end(),
                               std::make_pair(static_cast<char16_t>(cp), static_cast<unsigned char>(0)));
    if (it != e.end() && it->first == cp)
        return static_cast<char>(it->second);
    return '?';
}

// Upper/lower pairs among 0x80..0xBF.
constexpr std::pair<unsigned char, unsigned char> kCasePairs[] = {
    {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
    {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
    {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
};

struct CaseTables {
    std::array<unsigned char, 256> up{};
    std::array<unsigned char, 256> low{};
    CaseTables()
    {
        for (unsigned i = 0; i < 256; ++i)
            up[i] = low[i] = static_cast<unsigned char>(i);
        for (unsigned i = 0; i < 26; ++i) {
            up['a' + i] = static_cast<unsigned char>('A' + i);
            low['A' + i] = static_cast<unsigned char>('a' + i);
        }
        for (unsigned i = 0; i < 32; ++i) {
            up[0xE0 + i] = static_cast<unsigned char>(0xC0 + i);
            low[0xC0 + i] = static_cast<unsigned char>(0xE0 + i);
        }
        for (auto [u, l] : kCasePairs) {
            up[l] = u;
            low[u] = l;
        }
    }
};

const CaseTables &caseTables()
{
    static const CaseTables tables;
    return tables;
}

// Letter case of UTF-16 text through one of the byte tables.
std::u16string changeCase(std::u16string_view text, const std::array<unsigned char, 256> &table,
                          char16_t (*otherCase)(char16_t))
{
    std::u16string out(text);
    for (char16_t &unit : out) {
        const char b = byteFor(unit);
        if (b != '?' || unit == u'?')
            unit = codePoint(table[static_cast<unsigned char>(b)]);
        else if ((unit < 0xD800 || unit > 0xDFFF) && unit != 0x2029 && otherCase)
            unit = otherCase(unit);
    }
    return out;
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

namespace cp1251 {

std::u16string toUtf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        out += codePoint(static_cast<unsigned char>(c));
    return out;
}

Bytes fromUtf16(std::u16string_view text)
{
    Bytes out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            // A surrogate pair is one character outside the code page.
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
                ++i;
            out += '?';
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            out += '?';
        } else {
            out += byteFor(u);
        }
    }
    return out;
}

Bytes fromUtf8(std::string_view utf8)
{
    // Each character takes at least one byte in, and gives one byte out.
    Bytes out(utf8.size(), '\0');
    char *o = out.data();
    size_t i = 0;
    const size_t n = utf8.size();
    while (i < n) {
        // ASCII eight bytes at a time.
        for (uint64_t word; i + 8 <= n; i += 8, o += 8) {
            std::memcpy(&word, utf8.data() + i, 8);
            if (word & 0x8080808080808080u)
                break;
            std::memcpy(o, &word, 8);
        }
        if (i >= n)
            break;
        unsigned char b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            *o++ = static_cast<char>(b);
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            *o++ = '?'; // stray continuation byte or invalid lead byte
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= n || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
        }
        // An overlong form (C0 9A for 0x1A) is no character: letting it
        // through would smuggle in a line end, a NUL or the end-of-data mark.
        constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        *o++ = ok && cp >= kSmallest[extra] ? byteFor(cp) : '?';
        i = j;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string toUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes)
        appendUtf8(out, codePoint(static_cast<unsigned char>(c)));
    return out;
}

char toUpper(char c) { return static_cast<char>(caseTables().up[static_cast<unsigned char>(c)]); }

char toLower(char c) { return static_cast<char>(caseTables().low[static_cast<unsigned char>(c)]); }

Bytes upper(std::string_view bytes)
{
    const auto &t = caseTables().up;
    Bytes out(bytes);
    for (char &c : out)
        c = static_cast<char>(t[static_cast<unsigned char>(c)]);
    return out;
}

Bytes lower(std::string_view bytes)
{
    const auto &t = caseTables().low;
    Bytes out(bytes);
    for (char &c : out)
        c = static_cast<char>(t[static_cast<unsigned char>(c)]);
    return out;
}

std::u16string upper(std::u16string_view text, UnitCase otherCase)
{
    return changeCase(text, caseTables().up, otherCase);
}

std::u16string lower(std::u16string_view text, UnitCase otherCase)
{
    return changeCase(text, caseTables().low, otherCase);
}

std::u16string capitalized(std::u16string_view text, UnitCase otherUpper, UnitCase otherLower)
{
    std::u16string out = lower(text, otherLower);
    if (!out.empty())
        out.replace(0, 1, upper(std::u16string_view(out).substr(0, 1), otherUpper));
    return out;
}

} // namespace cp1251

Bytes replaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return Bytes(text);
    Bytes out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos)
            break;
        out.append(text.data() + pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.data() + pos, text.size() - pos);
    return out;
}

Bytes decimal(long long value)
{
    // Work on the magnitude as unsigned so the most negative value is safe.
    unsigned long long mag
        = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    char buf[24];
    char *p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag != 0);
    if (value < 0)
        *--p = '-';
    return Bytes(p, buf + sizeof buf);
}

} // namespace qv

// Byte strings packed one after another, each behind its length (7 bits a
// byte, low first), so a short field costs one byte more than its bytes.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace qv::packed {

// The bytes a field of n bytes takes, its length included.
inline size_t sizeOf(size_t n)
{
    size_t bytes = 1 + n;
    for (; n >= 0x80; n >>= 7)
        ++bytes;
    return bytes;
}

// Writes `field` at `out`; returns the end.
inline char *put(char *out, std::string_view field)
{
    size_t n = field.size();
    for (; n >= 0x80; n >>= 7)
        *out++ = static_cast<char>((n & 0x7f) | 0x80);
    *out++ = static_cast<char>(n);
    if (!field.empty())
        std::memcpy(out, field.data(), field.size());
    return out + field.size();
}

// Reads the field at `in` into `field`; returns its end.
inline const char *get(const char *in, std::string_view &field)
{
    size_t n = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*in++);
        n |= size_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            break;
    }
    field = std::string_view(in, n);
    return in + n;
}

} // namespace qv::packed

// The icon list's pictures (PNG files) compiled into the core, generated at
// build time from resources/icons by exchange/EmbedIcons.cmake.
#pragma once

#include <cstddef>

namespace qv::exchange {

struct IconBytes {
    const unsigned char *data;
    size_t size;
};

constexpr int kIconCount = 80;
extern const IconBytes kIcons[kIconCount];

} // namespace qv::exchange

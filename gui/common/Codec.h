// The one crossing between the catalogue's Windows-1251 bytes and QString.
#pragma once

#include "catalog/Text.h"

#include <QString>

namespace qv {

inline QString toQ(std::string_view bytes)
{
    const std::u16string u = cp1251::toUtf16(bytes);
    return QString::fromUtf16(u.data(), qsizetype(u.size()));
}

inline Bytes fromQ(const QString &text)
{
    return cp1251::fromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size())));
}

} // namespace qv

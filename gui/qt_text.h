#pragma once
// Conversions between the core's UTF-16 strings and QString.
#include <QString>

#include "text/u16.h"

namespace velmora::gui {

inline QString qs(u16view text) { return QString::fromUtf16(text.data(), qsizetype(text.size())); }
inline u16 u(const QString &text) {
  return u16(reinterpret_cast<const char16_t *>(text.utf16()), std::size_t(text.size()));
}

}  // namespace velmora::gui

#include "text/visible.h"

#include <cstdio>

namespace velmora::text {

namespace {

bool hides_or_reorders(char16_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

u16 visible_text(u16view text, std::size_t width, u16view indent) {
  u16 out;
  std::size_t column = 0;
  auto put = [&](u16view piece) {
    if (width && column > 0 && column + piece.size() > width) {
      out += u'\r';
      out += indent;
      column = 0;
    }
    out += piece;
    column += piece.size();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put(text.substr(i, 2));
      ++i;
      continue;
    }
    char buffer[8] = "";
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) std::snprintf(buffer, sizeof buffer, "\\x%02X", unsigned(c));
    else if (high || low || hides_or_reorders(c)) std::snprintf(buffer, sizeof buffer, "\\u%04X", unsigned(c));
    if (!*buffer) {
      put(text.substr(i, 1));
      continue;
    }
    u16 escape;
    for (const char *b = buffer; *b; ++b) escape += char16_t(*b);
    put(escape);
  }
  return out;
}

}  // namespace velmora::text

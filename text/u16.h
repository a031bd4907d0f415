#pragma once
// Text in memory is UTF-16, as the language counts character positions in
// UTF-16 code units. These helpers keep literals and conversions short.
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

using u16 = std::u16string;
using u16view = std::u16string_view;
using Lines = std::vector<u16>;

// The three names above are every layer's vocabulary and stay in velmora;
// the functions that work on them are text's own.
namespace text {

std::string to_utf8(u16view text);
u16 from_utf8(std::string_view bytes);

// ASCII-only conversions for numbers and fixed words (no allocation of
// conversion state; characters outside ASCII map to '?').
u16 ascii16(std::string_view ascii);
std::string narrow_ascii(u16view text);

inline bool is_ascii_digit(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool is_ascii_alpha(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
inline char16_t ascii_upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
inline char16_t ascii_lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
u16 upper_ascii(u16view text);
u16 lower_ascii(u16view text);

// Decimal text of an integer.
u16 int16(long long value);
// A whole decimal number, optionally negative, within the 32-bit range.
bool parse_int(u16view text, int &out);

}  // namespace text
}  // namespace velmora

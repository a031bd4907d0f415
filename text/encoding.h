#pragma once
// Encodings of files: telling them apart by their bytes, and converting
// UTF-8, UTF-16 and CP932 to and from the UTF-16 text held in memory.
#include <optional>

#include "text/u16.h"

namespace velmora::text {

enum class Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Cp932 };

const char *encoding_name(Encoding e);

// Strict UTF-8 check (no overlongs, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// CP932 (Windows Shift-JIS) through glibc iconv. Undecodable bytes become
// U+FFFD; characters CP932 cannot hold become '?'.
u16 from_cp932(std::string_view bytes);
std::string to_cp932(u16view text);

// Bytes the text takes in CP932, as the fixed-width language tables measure
// their items (a character CP932 cannot hold counts as its '?').
std::size_t cp932_length(u16view text);
// The longest prefix of text whose CP932 form fits in max_bytes; a
// double-byte character is never split.
u16 cut_cp932(u16view text, std::size_t max_bytes);

// Decodes a whole file's bytes: a byte-order mark decides; otherwise valid
// UTF-8 is UTF-8 and anything else is CP932.
struct Decoded {
  u16 text;
  Encoding encoding;
};
Decoded decode_bytes(std::string_view bytes);
// Decodes with an explicit choice, skipping a matching byte-order mark.
u16 decode_as(std::string_view bytes, Encoding encoding);

}  // namespace velmora::text

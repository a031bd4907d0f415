#include "text/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace velmora::text {

std::string to_utf8(u16view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when it is invalid.
std::size_t utf8_sequence(const unsigned char *p, std::size_t left, char32_t &cp) {
  unsigned char b = p[0];
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  std::size_t n;
  char32_t min;
  if ((b & 0xE0) == 0xC0) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

namespace {

// Whether the 16 bytes at p are all ASCII: one test for a block.
inline bool ascii_block(const unsigned char *p) {
  std::uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return ((a | b) & 0x8080808080808080ULL) == 0;
}

}  // namespace

u16 from_utf8(std::string_view bytes) {
  const std::size_t size = bytes.size();
  auto p = reinterpret_cast<const unsigned char *>(bytes.data());
  // The output has at most one unit per byte: sized once, cut at the end.
  u16 out(size, u'\0');
  char16_t *o = out.data();
  std::size_t i = 0;
  while (i < size) {
    // ASCII runs, 16 bytes at a time, widened without decoding.
    while (i + 16 <= size && ascii_block(p + i)) {
      for (int k = 0; k < 16; ++k) o[k] = char16_t(p[i + std::size_t(k)]);
      o += 16;
      i += 16;
    }
    if (i >= size) break;
    if (p[i] < 0x80) {
      *o++ = char16_t(p[i++]);
      continue;
    }
    char32_t cp;
    std::size_t n = utf8_sequence(p + i, size - i, cp);
    if (n == 0) {
      *o++ = u'\uFFFD';
      ++i;
    } else if (cp < 0x10000) {
      *o++ = char16_t(cp);
      i += n;
    } else {
      // Four bytes make a surrogate pair: still no more units than bytes.
      cp -= 0x10000;
      *o++ = char16_t(0xD800 + (cp >> 10));
      *o++ = char16_t(0xDC00 + (cp & 0x3FF));
      i += n;
    }
  }
  out.resize(std::size_t(o - out.data()));
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  auto p = reinterpret_cast<const unsigned char *>(bytes.data());
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (i + 16 <= bytes.size() && ascii_block(p + i)) {
      i += 16;
      continue;
    }
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    char32_t cp;
    std::size_t n = utf8_sequence(p + i, bytes.size() - i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

u16 ascii16(std::string_view ascii) {
  u16 out(ascii.size(), u' ');
  for (std::size_t i = 0; i < ascii.size(); ++i)
    out[i] = static_cast<unsigned char>(ascii[i]) < 0x80 ? char16_t(ascii[i]) : u'?';
  return out;
}

std::string narrow_ascii(u16view text) {
  std::string out(text.size(), ' ');
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = text[i] < 0x80 ? char(text[i]) : '?';
  return out;
}

u16 upper_ascii(u16view text) {
  u16 out(text);
  for (char16_t &c : out) c = ascii_upper(c);
  return out;
}

u16 lower_ascii(u16view text) {
  u16 out(text);
  for (char16_t &c : out) c = ascii_lower(c);
  return out;
}

u16 int16(long long value) { return ascii16(std::to_string(value)); }

bool parse_int(u16view text, int &out) {
  bool negative = !text.empty() && text[0] == u'-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  long long n = 0;
  for (char16_t c : text) {
    if (!is_ascii_digit(c)) return false;
    n = n * 10 + (c - u'0');
  }
  if (negative) n = -n;
  if (n < INT32_MIN || n > INT32_MAX) return false;
  out = int(n);
  return true;
}

const char *encoding_name(Encoding e) {
  switch (e) {
    case Encoding::Utf8: return "UTF-8";
    case Encoding::Utf8Bom: return "UTF-8 (BOM)";
    case Encoding::Utf16LE: return "UTF-16LE";
    case Encoding::Utf16BE: return "UTF-16BE";
    case Encoding::Cp932: return "CP932";
  }
  return "?";
}

namespace {

// iconv conversion of a whole buffer; invalid input is replaced piecewise.
// The descriptors are reused under a lock: conversion is rare and short.
class Iconv {
 public:
  Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Iconv(const Iconv &) = delete;
  Iconv &operator=(const Iconv &) = delete;

  // Converts; on an invalid or unconvertible input unit, calls `bad` with the
  // output so far and skips `unit` input bytes.
  template <typename Bad>
  std::string run(std::string_view in, std::size_t unit, Bad bad) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char *src = const_cast<char *>(in.data());
    std::size_t src_left = in.size();
    char buf[4096];
    while (src_left > 0) {
      char *dst = buf;
      std::size_t dst_left = sizeof buf;
      std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buf, std::size_t(dst - buf));
      if (r == std::size_t(-1)) {
        if (errno == E2BIG) continue;
        bad(out);
        std::size_t skip = std::min(unit, src_left);
        src += skip;
        src_left -= skip;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    char *dst = buf;
    std::size_t dst_left = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out.append(buf, std::size_t(dst - buf));
    return out;
  }

 private:
  iconv_t cd_;
  std::mutex mutex_;
};

Iconv &cp932_decoder() {
  static Iconv conv("UTF-16LE", "CP932");
  return conv;
}
Iconv &cp932_encoder() {
  static Iconv conv("CP932", "UTF-16LE");
  return conv;
}

u16 from_utf16le_bytes(std::string_view bytes) {
  u16 out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = char16_t(static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

u16 from_utf16be_bytes(std::string_view bytes) {
  u16 out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = char16_t((static_cast<unsigned char>(bytes[2 * i]) << 8) | static_cast<unsigned char>(bytes[2 * i + 1]));
  return out;
}

}  // namespace

u16 from_cp932(std::string_view bytes) {
  bool ascii = true;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) return ascii16(bytes);
  std::string utf16 = cp932_decoder().run(bytes, 1, [](std::string &out) {
    out += '\xFD';
    out += '\xFF';
  });
  return from_utf16le_bytes(utf16);
}

std::string to_cp932(u16view text) {
  std::string le;
  le.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      // CP932 has no character outside the BMP: one '?' for a whole pair.
      if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
      c = u'?';
    }
    le += char(c & 0xFF);
    le += char(c >> 8);
  }
  return cp932_encoder().run(le, 2, [](std::string &out) { out += '?'; });
}

std::size_t cp932_length(u16view text) {
  std::size_t n = 0;
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F)) {
      n += 1;
    } else {
      n += to_cp932(u16view(&c, 1)).size();
    }
  }
  return n;
}

u16 cut_cp932(u16view text, std::size_t max_bytes) {
  // No character takes more than two bytes (ASCII and halfwidth katakana
  // one): a text that fits when every other character takes two fits whole,
  // and needs no encoder.
  if (text.size() <= max_bytes / 2) return u16(text);
  std::size_t most = 0;
  for (char16_t c : text) most += c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F) ? 1 : 2;
  if (most <= max_bytes) return u16(text);
  std::size_t used = 0;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    const std::size_t w = c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F) ? 1 : cp932_length(text.substr(i, 1));
    if (used + w > max_bytes) break;
    used += w;
  }
  return u16(text.substr(0, i));
}

Decoded decode_bytes(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return {from_utf8(bytes.substr(3)), Encoding::Utf8Bom};
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE")
    return {from_utf16le_bytes(bytes.substr(2)), Encoding::Utf16LE};
  if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF")
    return {from_utf16be_bytes(bytes.substr(2)), Encoding::Utf16BE};
  if (is_valid_utf8(bytes)) return {from_utf8(bytes), Encoding::Utf8};
  return {from_cp932(bytes), Encoding::Cp932};
}

u16 decode_as(std::string_view bytes, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8:
    case Encoding::Utf8Bom:
      if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
      return from_utf8(bytes);
    case Encoding::Utf16LE:
      if (bytes.substr(0, 2) == "\xFF\xFE") bytes.remove_prefix(2);
      return from_utf16le_bytes(bytes);
    case Encoding::Utf16BE:
      if (bytes.substr(0, 2) == "\xFE\xFF") bytes.remove_prefix(2);
      return from_utf16be_bytes(bytes);
    case Encoding::Cp932: return from_cp932(bytes);
  }
  return {};
}

}  // namespace velmora::text

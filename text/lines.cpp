#include "text/lines.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <system_error>

namespace velmora {

Lines split_lines(u16view text) {
  Lines lines;
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) lines.emplace_back(text.substr(start));
  return lines;
}

std::optional<std::string> read_file_bytes(const std::filesystem::path &path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  in.seekg(0, std::ios::end);
  auto size = in.tellg();
  if (size < 0) return std::nullopt;
  bytes.resize(std::size_t(size));
  in.seekg(0);
  in.read(bytes.data(), size);
  if (!in && !in.eof()) return std::nullopt;
  bytes.resize(std::size_t(in.gcount()));
  return bytes;
}

std::optional<TextFile> read_text_file(const std::filesystem::path &path) {
  auto bytes = read_file_bytes(path);
  if (!bytes) return std::nullopt;
  Decoded d = decode_bytes(*bytes);
  return TextFile{split_lines(d.text), d.encoding};
}

std::string join_lines_crlf(const Lines &lines, Encoding encoding) {
  u16 text;
  for (const u16 &line : lines) {
    text += line;
    text += u"\r\n";
  }
  switch (encoding) {
    case Encoding::Cp932: return to_cp932(text);
    case Encoding::Utf8Bom: return "\xEF\xBB\xBF" + to_utf8(text);
    case Encoding::Utf16LE:
    case Encoding::Utf16BE: {
      bool le = encoding == Encoding::Utf16LE;
      std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
      for (char16_t c : text) {
        char lo = char(c & 0xFF), hi = char(c >> 8);
        out += le ? lo : hi;
        out += le ? hi : lo;
      }
      return out;
    }
    case Encoding::Utf8: break;
  }
  return to_utf8(text);
}

bool write_file_bytes(const std::filesystem::path &path, std::string_view bytes) {
  std::filesystem::path tmp = path;
  tmp += ".velmora-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

bool write_lines_file(const std::filesystem::path &path, const Lines &lines, Encoding encoding) {
  return write_file_bytes(path, join_lines_crlf(lines, encoding));
}

}  // namespace velmora

#include "text/lines.h"

#include "text/beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <cstdio>
#include <fstream>
#include <system_error>

namespace velmora::text {

namespace {

// Whether any of the four units in w is a CR or an LF.
inline bool has_line_end(std::uint64_t w) {
  constexpr std::uint64_t ones = 0x0001000100010001ULL, highs = 0x8000800080008000ULL;
  const std::uint64_t cr = w ^ 0x000D000D000D000DULL, lf = w ^ 0x000A000A000A000AULL;
  return (((cr - ones) & ~cr) | ((lf - ones) & ~lf)) & highs;
}

}  // namespace

Lines split_lines(u16view text) {
  Lines lines;
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    // Four units at a time past text without a line end.
    while (i + 4 <= n) {
      std::uint64_t w;
      std::memcpy(&w, text.data() + i, sizeof w);
      if (has_line_end(w)) break;
      i += 4;
    }
    if (i >= n) break;
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

LineEnds line_ends_of(u16view text) {
  LineEnds ends;
  const std::size_t at = text.find_first_of(u"\r\n");
  if (at == u16view::npos) {
    ends.last = text.empty();  // one line without an end keeps having none
    return ends;
  }
  ends.kind = text[at] == u'\n'                               ? LineEnds::Lf
              : at + 1 < text.size() && text[at + 1] == u'\n' ? LineEnds::CrLf
                                                              : LineEnds::Cr;
  ends.last = text.back() == u'\r' || text.back() == u'\n';
  return ends;
}

const char16_t *line_end_text(LineEnds::Kind kind) {
  switch (kind) {
    case LineEnds::Lf: return u"\n";
    case LineEnds::Cr: return u"\r";
    case LineEnds::CrLf: break;
  }
  return u"\r\n";
}

std::string join_lines_crlf(const Lines &lines, Encoding encoding) { return join_lines(lines, encoding, LineEnds{}); }

std::string join_lines(const Lines &lines, Encoding encoding, LineEnds ends) {
  const u16view end = line_end_text(ends.kind);
  u16 text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || ends.last) text += end;
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

namespace {

namespace fs = std::filesystem;

// The file a path finally names: symbolic links are followed (relative link
// texts against the link's directory), so that a write replaces the file a
// link points to and the link stays. A loop gives up after 40 links.
std::optional<fs::path> final_target(const fs::path &path) {
  fs::path p = path;
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    fs::path link = fs::read_symlink(p, ec);
    if (ec) return std::nullopt;
    p = link.is_absolute() ? link : p.parent_path() / link;
  }
  return std::nullopt;
}

}  // namespace

bool write_file_bytes(const std::filesystem::path &path, std::string_view bytes) {
  auto target = final_target(path);
  if (!target || !target->has_filename()) return false;
  fs::path parent = target->parent_path();
  int dir = ::open(parent.empty() ? "." : parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  // Only regular files are replaced: a device, a pipe or a directory under
  // the name is refused, never swapped for a regular file.
  bool ok = replace_file_at(dir, target->filename().string(), bytes, false);
  ::close(dir);
  return ok;
}

bool write_lines_file(const std::filesystem::path &path, const Lines &lines, Encoding encoding) {
  return write_file_bytes(path, join_lines_crlf(lines, encoding));
}

bool write_lines_file(const std::filesystem::path &path, const Lines &lines, Encoding encoding, LineEnds ends) {
  return write_file_bytes(path, join_lines(lines, encoding, ends));
}

}  // namespace velmora::text

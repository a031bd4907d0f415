#include "text/lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(std::size_t(n));
  }
  return true;
}

}  // namespace

bool write_file_bytes(const std::filesystem::path &path, std::string_view bytes) {
  auto target = final_target(path);
  if (!target) return false;
  // Only regular files are replaced: a device, a pipe or a directory under
  // the name is refused, never swapped for a regular file.
  struct stat old {};
  bool exists = ::stat(target->c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return false;
  if (!exists && errno != ENOENT) return false;
  fs::path tmp = *target;
  tmp += ".velmora-tmp";
  mode_t mode = exists ? (old.st_mode & 07777) : 0666;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = true;
  if (exists) {
    // The replacement keeps the old file's permissions (and, where the
    // process may, its owner): a private file stays private.
    ok = ::fchmod(fd, mode) == 0;
    if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
      (void)!::fchown(fd, old.st_uid, old.st_gid);
  }
  // On the disk before it replaces the old content, so that a crash leaves
  // either the old file or the whole new one.
  ok = ok && write_all(fd, bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(tmp, *target, ec);
  if (!ok || ec) {
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

bool write_lines_file(const std::filesystem::path &path, const Lines &lines, Encoding encoding) {
  return write_file_bytes(path, join_lines_crlf(lines, encoding));
}

}  // namespace velmora

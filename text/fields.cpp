#include "text/fields.h"

namespace velmora::text {

namespace {

// Finds the field that starts at or after pos; returns false at the end.
bool next_field(u16view line, std::size_t &pos, u16view &out) {
  const std::size_t n = line.size();
  while (pos < n && line[pos] == u' ') ++pos;
  if (pos >= n) return false;
  std::size_t start = pos;
  if (line[pos] == u'"') {
    std::size_t close = line.find(u'"', pos + 1);
    pos = close == u16view::npos ? n : close + 1;
  } else {
    while (pos < n && line[pos] != u' ') ++pos;
  }
  out = line.substr(start, pos - start);
  return true;
}

}  // namespace

std::vector<u16view> split_fields(u16view line) {
  std::vector<u16view> out;
  std::size_t pos = 0;
  u16view f;
  while (next_field(line, pos, f)) out.push_back(f);
  return out;
}

u16view field(u16view line, std::size_t n) {
  std::size_t pos = 0;
  u16view f;
  for (std::size_t i = 0;; ++i) {
    if (!next_field(line, pos, f)) return {};
    if (i == n) return f;
  }
}

}  // namespace velmora::text

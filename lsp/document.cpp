#include "lsp/document.h"

#include <algorithm>

namespace velmora::lsp {

void Document::setText(u16 text) {
  text_ = std::move(text);
  starts_.assign(1, 0);
  for (std::size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] == u'\r') {
      if (i + 1 < text_.size() && text_[i + 1] == u'\n') ++i;
      starts_.push_back(i + 1);
    } else if (text_[i] == u'\n') {
      starts_.push_back(i + 1);
    }
  }
}

std::size_t Document::lineEnd(int n) const {
  std::size_t end = std::size_t(n) + 1 < starts_.size() ? starts_[std::size_t(n) + 1] : text_.size();
  const std::size_t begin = starts_[std::size_t(n)];
  if (end > begin && text_[end - 1] == u'\n') --end;
  if (end > begin && text_[end - 1] == u'\r') --end;
  return end;
}

u16view Document::line(int n) const {
  if (n < 0 || n >= lineCount()) return {};
  const std::size_t begin = starts_[std::size_t(n)];
  return u16view(text_).substr(begin, lineEnd(n) - begin);
}

Lines Document::lines() const {
  Lines out;
  out.reserve(starts_.size());
  for (int n = 0; n < lineCount(); ++n) out.emplace_back(line(n));
  // A final line end does not start a line of the program.
  if (out.size() > 1 && out.back().empty()) out.pop_back();
  return out;
}

std::size_t Document::offsetOf(Position p) const {
  if (p.line < 0) return 0;
  if (p.line >= lineCount()) return text_.size();
  const std::size_t begin = starts_[std::size_t(p.line)];
  return std::min(begin + std::size_t(std::max(p.character, 0)), lineEnd(p.line));
}

Position Document::positionOf(std::size_t offset) const {
  offset = std::min(offset, text_.size());
  auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const int line = int(it - starts_.begin()) - 1;
  const std::size_t begin = starts_[std::size_t(line)];
  return {line, int(std::min(offset, lineEnd(line)) - begin)};
}

void Document::replace(Position start, Position end, u16view with) {
  std::size_t a = offsetOf(start), b = offsetOf(end);
  if (b < a) std::swap(a, b);
  u16 text = std::move(text_);
  text.replace(a, b - a, with);
  setText(std::move(text));
}

}  // namespace velmora::lsp

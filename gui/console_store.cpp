#include "gui/console_store.h"

#include <algorithm>

namespace velmora::gui {

void ConsoleStore::add(u16view line) {
  std::size_t cells = 0;
  for (char16_t c : line)
    if (c != u'\r') {
      chars_.push_back(c);
      cells += c >= 0x1100 ? 2 : 1;
    }
  starts_.push_back(chars_.size());
  longest_ = std::max(longest_, cells);
}

ConsoleStore::Change ConsoleStore::follow(const Lines &lines) {
  Change change;
  std::size_t have = size();
  if (have > lines.size()) {
    clear();
    have = 0;
    change.reset = true;
  }
  change.from = have;
  // The last line shown may have grown since (output extends it).
  if (have > 0) {
    const u16 &last = lines[have - 1];
    const u16view shown = line(have - 1);
    bool same = true;
    std::size_t k = 0;
    for (char16_t c : last) {
      if (c == u'\r') continue;
      if (k >= shown.size() || shown[k] != c) {
        same = false;
        break;
      }
      ++k;
    }
    if (!same || k != shown.size()) {
      chars_.resize(starts_[have - 1]);
      starts_.pop_back();
      add(last);
      change.from = have - 1;
    }
  }
  for (std::size_t i = have; i < lines.size(); ++i) add(lines[i]);
  return change;
}

void ConsoleStore::clear() {
  chars_.clear();
  starts_.assign(1, 0);
  longest_ = 0;
}

void ConsoleStore::release() {
  std::u16string().swap(chars_);
  std::vector<std::size_t>{0}.swap(starts_);
  longest_ = 0;
}

}  // namespace velmora::gui

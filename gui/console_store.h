#pragma once
// The console's lines as the window keeps them: all characters in one
// buffer and where each line starts, so a million short lines cost their
// characters and one offset each (a string object per line cost ten times
// that). The store follows the engine's console buffer as it grows.
#include <cstdint>
#include <vector>

#include "text/u16.h"

namespace velmora::gui {

class ConsoleStore {
 public:
  std::size_t size() const { return starts_.size() - 1; }
  bool empty() const { return size() == 0; }
  // Line i without its carriage returns.
  u16view line(std::size_t i) const { return u16view(chars_).substr(starts_[i], starts_[i + 1] - starts_[i]); }
  // The width of the widest line in half-width cells (a CJK or other wide
  // character counts two): what the view's horizontal scrolling needs,
  // without measuring every line.
  std::size_t longest() const { return longest_; }

  // What follow changed: the first line that differs from before (size()
  // when nothing did), and whether the store started again from nothing.
  struct Change {
    std::size_t from = 0;
    bool reset = false;
  };
  // Follows the console buffer: missing lines are added, a changed last
  // line is replaced, a shorter buffer (cleared or reset) is taken anew.
  Change follow(const Lines &lines);
  void clear();
  // The memory a long console held goes back (after "クリア").
  void release();

 private:
  std::u16string chars_;
  std::vector<std::size_t> starts_{0};
  std::size_t longest_ = 0;
  void add(u16view line);
};

}  // namespace velmora::gui

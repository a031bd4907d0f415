#pragma once
#include <functional>

#include "text/u16.h"

namespace velmora::engine {

// The console: one buffer of lines for the whole engine, never empty once
// reset. Output extends the current line; a new line is added after it.
class ConsoleBuffer {
 public:
  ConsoleBuffer() { reset(); }

  // One line holding a single carriage return, current line 0 (engine start,
  // run reset, CONSOLE OPEN).
  void reset();
  // One empty line, current line 0 (CONSOLE CLEAR).
  void clear();
  void append(u16view text);
  void addLine(u16view text);

  const Lines &lines() const { return lines_; }
  int current() const { return current_; }
  // Set by every output; the dispatcher clears it before each instruction.
  bool changed = false;
  // Counts every change, so a view can tell whether it is out of date.
  unsigned long long version = 0;
  // Called with a line the moment it is complete (a later line was added).
  std::function<void(u16view)> onLineComplete;

 private:
  Lines lines_;
  int current_ = 0;
};

}  // namespace velmora::engine

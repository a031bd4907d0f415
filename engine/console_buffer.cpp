#include "engine/console_buffer.h"

namespace velmora::engine {

// A reset gives the memory of a long console back: assign() would keep the
// list's capacity (a million lines hold tens of megabytes).
void ConsoleBuffer::reset() {
  Lines(1, u16(u"\r")).swap(lines_);
  current_ = 0;
  changed = true;
  ++version;
}

void ConsoleBuffer::clear() {
  Lines(1, u16()).swap(lines_);
  current_ = 0;
  changed = true;
  ++version;
}

void ConsoleBuffer::append(u16view text) {
  if (current_ < 0 || current_ >= int(lines_.size())) current_ = int(lines_.size()) - 1;
  lines_[std::size_t(current_)] += text;
  changed = true;
  ++version;
}

void ConsoleBuffer::addLine(u16view text) {
  if (onLineComplete && !lines_.empty()) onLineComplete(lines_.back());
  lines_.emplace_back(text);
  ++current_;
  if (current_ >= int(lines_.size())) current_ = int(lines_.size()) - 1;
  changed = true;
  ++version;
}

}  // namespace velmora::engine

#pragma once
// An open document as the client sent it: its whole text and where each
// line starts. Positions are the protocol's: a 0-based line and a 0-based
// offset in UTF-16 code units within the line, which is how the core counts
// characters too. Lines end at CR LF, LF or CR.
#include <cstddef>
#include <vector>

#include "text/u16.h"

namespace velmora::lsp {

struct Position {
  int line = 0;
  int character = 0;
  bool operator==(const Position &) const = default;
};

class Document {
 public:
  Document() { setText({}); }
  explicit Document(u16 text) { setText(std::move(text)); }

  void setText(u16 text);
  const u16 &text() const { return text_; }
  int lineCount() const { return int(starts_.size()); }
  // Line n without its line end (empty beyond the last line).
  u16view line(int n) const;
  // Every line, for the compiler.
  Lines lines() const;

  // The offset of a position: a character beyond the end of its line means
  // the line's end, a line beyond the last means the end of the text.
  std::size_t offsetOf(Position p) const;
  Position positionOf(std::size_t offset) const;
  // Replaces the text between two positions (an incremental change).
  void replace(Position start, Position end, u16view with);

 private:
  u16 text_;
  std::vector<std::size_t> starts_;  // offset of each line's first unit
  std::size_t lineEnd(int n) const;  // offset of line n's end, before its line end
};

}  // namespace velmora::lsp

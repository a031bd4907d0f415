#pragma once
// The value of a string variable and of the string registers.
//
// A value is a slice of a shared, append-only UTF-16 buffer, optionally
// followed by a second slice (head + tail), so that copying, cutting a piece
// out and keeping the rest cost what the piece costs, not what the whole text
// costs. Buffers are never changed below their fill mark: appending to a value
// that ends at its buffer's fill mark writes in place (amortised growth);
// any other append copies into a new buffer with room to grow.
//
// Each buffer records where escape pairs ("\n", "\q", "\r", "\t") begin, so
// that reading a variable can tell at once whether the escape pass would
// change the value.
#include <cstdint>
#include <memory>
#include <vector>

#include "text/u16.h"

namespace velmora::engine {

class StrValue {
 public:
  StrValue() = default;
  StrValue(const u16 &text);  // NOLINT: a text is a value
  StrValue(u16 &&text);       // NOLINT
  explicit StrValue(u16view text);

  std::size_t size() const { return headLen_ + tailLen_; }
  bool empty() const { return size() == 0; }
  void clear() { *this = StrValue(); }

  // The characters as one piece; a two-part value is joined once.
  u16view view() const;
  operator u16view() const { return view(); }  // NOLINT
  u16 str() const { return u16(view()); }
  char16_t at(std::size_t i) const;

  // Appends text (which may lie in this value's own buffer).
  void append(u16view text);
  StrValue &operator+=(u16view text) {
    append(text);
    return *this;
  }
  StrValue &operator+=(const StrValue &other);

  // Characters [pos, pos + n) as a value. A piece much shorter than its
  // buffer is copied, so that a small piece does not keep a large text alive.
  StrValue slice(std::size_t pos, std::size_t n) const;
  // a followed by b: a two-part value when both are single slices.
  static StrValue concat(StrValue a, StrValue b);

  // True when the escape pass leaves the value as it is: no escape pair and
  // no trailing backslash.
  bool escapeFree() const;
  // The value with escapes applied (shared when nothing changes).
  StrValue escaped() const;

  // Searches `pattern` from position `from`, comparing characters folded by
  // `fold` when given (one unit for one). npos when absent.
  std::size_t find(u16view pattern, std::size_t from, char16_t (*fold)(char16_t)) const;

  // A search hint: no occurrence of `key` (under the fold flag) starts
  // before the returned position. 0 without a hint for that key.
  std::size_t hintFor(u16view key, bool fold) const;
  void setHint(u16view key, bool fold, std::size_t pos);

  bool isTwoPart() const { return tail_ != nullptr; }
  // Whether this value shares its (head) buffer with `other`.
  bool sharesBufferWith(const StrValue &other) const { return head_ && head_ == other.head_; }

  friend bool operator==(const StrValue &a, const StrValue &b) { return a.view() == b.view(); }
  friend bool operator==(const StrValue &a, u16view b) { return a.view() == b; }
  friend bool operator==(const StrValue &a, const u16 &b) { return a.view() == u16view(b); }
  friend bool operator==(const StrValue &a, const char16_t *b) { return a.view() == u16view(b); }

 private:
  struct Buffer {
    u16 data;
    std::vector<std::uint32_t> pairs;  // ascending starts of escape pairs
    void append(u16view text);
    bool pairWithin(std::size_t begin, std::size_t end) const;
  };
  struct Hint {
    u16 key;
    bool fold;
    std::size_t pos;
  };
  // Mutable: joining a two-part value when it is read as one piece does not
  // change what it holds.
  mutable std::shared_ptr<Buffer> head_;
  mutable std::size_t headOff_ = 0, headLen_ = 0;
  mutable std::shared_ptr<Buffer> tail_;
  mutable std::size_t tailOff_ = 0, tailLen_ = 0;
  std::shared_ptr<const Hint> hint_;

  static std::shared_ptr<Buffer> makeBuffer(u16 &&text);
  void join() const;
};

}  // namespace velmora::engine

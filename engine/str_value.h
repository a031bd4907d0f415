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
// A short piece cut out of a value (up to kSmall characters) is held in the
// value itself: it neither keeps a large text alive nor costs an allocation.
//
// Each buffer records where escape pairs ("\n", "\q", "\r", "\t") begin, so
// that reading a variable can tell at once whether the escape pass would
// change the value. Buffers are the blocks of text_buffer.h, which list
// lines slice too: a line read from a list shares the list's text.
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/text_buffer.h"
#include "text/u16.h"

namespace velmora::engine {

class StrValue {
 public:
  StrValue() noexcept {}  // NOLINT: small_ is left unset on purpose
  StrValue(const StrValue &other);
  StrValue &operator=(const StrValue &other);
  // A moved-from value is empty.
  StrValue(StrValue &&other) noexcept;
  StrValue &operator=(StrValue &&other) noexcept;
  ~StrValue() = default;
  StrValue(const u16 &text);  // NOLINT: a text is a value
  StrValue(u16 &&text);       // NOLINT
  explicit StrValue(u16view text);
  // The text as a value: held in the value itself when it is short.
  static StrValue copyOf(u16view text);

  std::size_t size() const { return headLen_ + tailLen_; }
  bool empty() const { return size() == 0; }
  void clear() {
    if (head_) head_.reset();
    if (tail_) tail_.reset();
    if (hint_) hint_.reset();
    headOff_ = headLen_ = tailOff_ = tailLen_ = hintPos_ = 0;
  }

  // The characters as one piece; a two-part value is joined once.
  u16view view() const {
    if (tail_) return joinedView();
    if (!head_) return u16view(small_, headLen_);
    return head_->view(headOff_, headLen_);
  }
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
  bool escapeFree() const {
    // A value of up to eight characters held in itself: two words, four
    // characters each, with no backslash among the value's own.
    if (!head_ && !tail_ && headLen_ <= 8) {
      std::uint64_t w[2];
      std::memcpy(w, small_, sizeof w);
      if ((backslashUnits(w[0], headLen_) | backslashUnits(w[1], headLen_ > 4 ? headLen_ - 4 : 0)) == 0) return true;
    }
    return escapeFreeSlow();
  }
  // The value with escapes applied (shared when nothing changes).
  StrValue escaped() const;

  // Searches `pattern` from position `from`, comparing characters folded by
  // `fold` when given (one unit for one). npos when absent.
  std::size_t find(u16view pattern, std::size_t from, char16_t (*fold)(char16_t)) const;

  // A search hint: no occurrence of `key` (under the fold flag) starts
  // before the returned position. 0 without a hint for that key.
  std::size_t hintFor(u16view key, bool fold) const;
  // `from`: a value whose hint may be for the same key (its key is shared).
  void setHint(u16view key, bool fold, std::size_t pos, const StrValue *from = nullptr);

  bool isTwoPart() const { return bool(tail_); }
  // Whether the value is held in itself, without a buffer.
  bool isSmall() const { return !head_ && headLen_ > 0; }
  static constexpr std::size_t kSmall = 16;
  // Whether this value shares its (head) buffer with `other`.
  bool sharesBufferWith(const StrValue &other) const { return head_ && head_ == other.head_; }

  // Characters [pos, pos + n) of a block, sharing it (a reference of the
  // value's own).
  static StrValue ofSlice(TextBuffer *buffer, std::size_t pos, std::size_t n);
  // The same made in this value, in place of what it held.
  void assignSlice(TextBuffer *buffer, std::size_t pos, std::size_t n);
  // A text of at most kSmall characters held in the value itself.
  void assignSmall(u16view text);
  // The same for at most seven characters where seven can be read (a
  // list line's handle): one fixed-size copy.
  void assignSeven(const char16_t *text, std::size_t n) {
    if (head_ || tail_ || hint_) [[unlikely]] {
      head_.reset();
      tail_.reset();
      hint_.reset();
    }
    std::memcpy(small_, text, 7 * sizeof(char16_t));
    headOff_ = tailOff_ = tailLen_ = hintPos_ = 0;
    headLen_ = n;
  }
  // The block and position of a value that is one slice of a block (a
  // two-part value is joined first); nullptr for an empty or small value.
  TextBuffer *slicedBuffer(std::size_t &pos) const;

  friend bool operator==(const StrValue &a, const StrValue &b) { return a.view() == b.view(); }
  friend bool operator==(const StrValue &a, u16view b) { return a.view() == b; }
  friend bool operator==(const StrValue &a, const u16 &b) { return a.view() == u16view(b); }
  friend bool operator==(const StrValue &a, const char16_t *b) { return a.view() == u16view(b); }

 private:
  struct Hint {
    u16 key;
    bool fold;
  };
  // Mutable: joining a two-part value when it is read as one piece does not
  // change what it holds.
  mutable BufferRef head_;
  mutable std::size_t headOff_ = 0, headLen_ = 0;
  mutable BufferRef tail_;
  mutable std::size_t tailOff_ = 0, tailLen_ = 0;
  std::shared_ptr<const Hint> hint_;
  std::size_t hintPos_ = 0;
  // The characters of a small value (no head buffer, no tail, headLen_ of
  // them); unused otherwise. Left unset when made: only the first headLen_
  // are ever read, and a value is made for every zone and register write,
  // where clearing 32 bytes first costs more than the rest of the work.
  char16_t small_[kSmall];

  // A block holding the text, with room for `capacity` characters.
  static BufferRef makeBuffer(u16view text, std::size_t capacity = 0);
  static StrValue small(const char16_t *text, std::size_t n);
  void join() const;
  u16view joinedView() const;
  // A small value moved into a buffer of its own (before it becomes part
  // of a two-part value).
  void toBuffer();
  bool escapeFreeSlow() const;
  // Bits set where one of the first `n` (at most four) 16-bit units of `w`
  // is a backslash; none above them (a borrow runs only upwards).
  static std::uint64_t backslashUnits(std::uint64_t w, std::size_t n) {
    constexpr std::uint64_t ones = 0x0001000100010001ULL, highs = 0x8000800080008000ULL;
    constexpr std::uint64_t backslashes = 0x005C005C005C005CULL;
    w ^= backslashes;  // a backslash becomes a zero unit
    const std::uint64_t hits = (w - ones) & ~w & highs;
    return n >= 4 ? hits : hits & ((std::uint64_t(1) << (16 * n)) - 1);
  }
};

// The characters of a small value are copied whole: a fixed size copies
// in a few moves.
inline StrValue::StrValue(const StrValue &o)
    : head_(o.head_),
      headOff_(o.headOff_),
      headLen_(o.headLen_),
      tail_(o.tail_),
      tailOff_(o.tailOff_),
      tailLen_(o.tailLen_),
      hint_(o.hint_),
      hintPos_(o.hintPos_) {
  std::memcpy(small_, o.small_, sizeof small_);
}

inline StrValue &StrValue::operator=(const StrValue &o) {
  if (this == &o) return *this;
  if (!o.head_ && !o.tail_ && !o.hint_ && !head_ && !tail_ && !hint_) {
    // A short (or empty) value over another: its characters only.
    headOff_ = tailOff_ = tailLen_ = hintPos_ = 0;
    headLen_ = o.headLen_;
    std::memcpy(small_, o.small_, sizeof small_);
    return *this;
  }
  head_ = o.head_;
  headOff_ = o.headOff_;
  headLen_ = o.headLen_;
  tail_ = o.tail_;
  tailOff_ = o.tailOff_;
  tailLen_ = o.tailLen_;
  hint_ = o.hint_;
  hintPos_ = o.hintPos_;
  std::memcpy(small_, o.small_, sizeof small_);
  return *this;
}

inline StrValue::StrValue(StrValue &&o) noexcept
    : head_(std::move(o.head_)),
      headOff_(o.headOff_),
      headLen_(o.headLen_),
      tail_(std::move(o.tail_)),
      tailOff_(o.tailOff_),
      tailLen_(o.tailLen_),
      hint_(std::move(o.hint_)),
      hintPos_(o.hintPos_) {
  std::memcpy(small_, o.small_, sizeof small_);
  o.headOff_ = o.headLen_ = o.tailOff_ = o.tailLen_ = 0;
}

inline StrValue &StrValue::operator=(StrValue &&o) noexcept {
  if (this == &o) return *this;
  head_ = std::move(o.head_);
  headOff_ = o.headOff_;
  headLen_ = o.headLen_;
  tail_ = std::move(o.tail_);
  tailOff_ = o.tailOff_;
  tailLen_ = o.tailLen_;
  hint_ = std::move(o.hint_);
  hintPos_ = o.hintPos_;
  std::memcpy(small_, o.small_, sizeof small_);
  o.headOff_ = o.headLen_ = o.tailOff_ = o.tailLen_ = 0;
  return *this;
}

// A value that already slices the block keeps its reference: reading the
// same line into the same variable again and again costs no count.
inline void StrValue::assignSlice(TextBuffer *buffer, std::size_t pos, std::size_t n) {
  if (n == 0) return clear();
  if (head_.get() != buffer) {
    buffer->ref();
    head_ = BufferRef::adopt(buffer);
  }
  headOff_ = pos;
  headLen_ = n;
  if (tail_) tail_.reset();
  tailOff_ = tailLen_ = 0;
  if (hint_) hint_.reset();
  hintPos_ = 0;
}

}  // namespace velmora::engine

#pragma once
// The storage behind string values and list lines: a block of UTF-16 text
// that only ever grows at its end, shared by every value and line that is a
// slice of it. Characters below the fill mark never change, so a slice
// stays valid while its holder keeps a reference, whatever others append.
//
// A block records where escape pairs ("\n", "\q", "\r", "\t") begin, so
// that reading a slice can tell at once whether the escape pass would
// change it.
//
// References are counted without atomic operations: values and lines live
// on the engine's thread only (HTTP workers handle bytes and plain texts).
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "text/u16.h"

namespace velmora::engine {

class TextBuffer {
 public:
  // A block holding `text` with room for `capacity` characters in all
  // (at least the text's); one reference, the caller's.
  static TextBuffer *make(u16view text, std::size_t capacity);
  static TextBuffer *make(u16view text) { return make(text, text.size()); }
  // The largest block: sizes and positions are kept in 32 bits.
  static constexpr std::size_t kMaxSize = 0xFFFFFFF0u;

  void ref() noexcept { ++refs_; }
  void unref() noexcept {
    if (--refs_ == 0) destroy(this);
  }
  std::uint32_t refs() const { return refs_; }

  std::size_t size() const { return size_; }
  std::size_t room() const { return capacity_ - size_; }
  const char16_t *data() const { return reinterpret_cast<const char16_t *>(this + 1); }
  u16view view(std::size_t pos, std::size_t n) const { return u16view(data() + pos, n); }

  // Appends at the fill mark; the caller made sure of the room. The text
  // may lie in this block (below the fill mark).
  void append(u16view text);
  // Whether an escape pair begins at a position p with begin <= p and
  // p + 1 < end.
  bool pairWithin(std::size_t begin, std::size_t end) const;
  bool anyPair() const { return pairCount_ != 0; }

  TextBuffer(const TextBuffer &) = delete;
  TextBuffer &operator=(const TextBuffer &) = delete;

 private:
  TextBuffer() = default;
  ~TextBuffer() = default;
  static void destroy(TextBuffer *b) noexcept;
  char16_t *chars() { return reinterpret_cast<char16_t *>(this + 1); }
  void notePairs(std::size_t from);
  void addPair(std::uint32_t at);

  std::uint32_t refs_ = 1;
  std::uint32_t size_ = 0, capacity_ = 0;
  std::uint32_t pairCount_ = 0, pairCapacity_ = 0;
  std::uint32_t *pairs_ = nullptr;  // ascending starts of escape pairs
};
static_assert(sizeof(TextBuffer) % alignof(char16_t) == 0);

// A counted reference to a block (none when null).
class BufferRef {
 public:
  BufferRef() noexcept = default;
  // Takes over a reference the caller holds.
  static BufferRef adopt(TextBuffer *b) noexcept {
    BufferRef r;
    r.b_ = b;
    return r;
  }
  // Takes a reference of its own.
  static BufferRef share(TextBuffer *b) noexcept {
    if (b) b->ref();
    return adopt(b);
  }
  BufferRef(const BufferRef &o) noexcept : b_(o.b_) {
    if (b_) b_->ref();
  }
  BufferRef(BufferRef &&o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  BufferRef &operator=(const BufferRef &o) noexcept {
    if (o.b_) o.b_->ref();
    if (b_) b_->unref();
    b_ = o.b_;
    return *this;
  }
  BufferRef &operator=(BufferRef &&o) noexcept {
    if (this != &o) {
      if (b_) b_->unref();
      b_ = std::exchange(o.b_, nullptr);
    }
    return *this;
  }
  ~BufferRef() {
    if (b_) b_->unref();
  }
  void reset() noexcept {
    if (b_) b_->unref();
    b_ = nullptr;
  }
  TextBuffer *get() const { return b_; }
  TextBuffer *operator->() const { return b_; }
  explicit operator bool() const { return b_ != nullptr; }
  friend bool operator==(const BufferRef &a, const BufferRef &b) { return a.b_ == b.b_; }

 private:
  TextBuffer *b_ = nullptr;
};

}  // namespace velmora::engine

#include "engine/text_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace velmora::engine {

namespace {

bool pair_char(char16_t c) { return c == u'n' || c == u'q' || c == u'r' || c == u't'; }

}  // namespace

TextBuffer *TextBuffer::make(u16view text, std::size_t capacity) {
  capacity = std::max(capacity, text.size());
  if (capacity > kMaxSize) throw std::bad_alloc();
  void *block = std::malloc(sizeof(TextBuffer) + capacity * sizeof(char16_t));
  if (!block) throw std::bad_alloc();
  auto *b = new (block) TextBuffer();
  b->capacity_ = std::uint32_t(capacity);
  if (!text.empty()) {
    std::memcpy(b->chars(), text.data(), text.size() * sizeof(char16_t));
    b->size_ = std::uint32_t(text.size());
    b->notePairs(0);
  }
  return b;
}

void TextBuffer::destroy(TextBuffer *b) noexcept {
  std::free(b->pairs_);
  b->~TextBuffer();
  std::free(b);
}

void TextBuffer::append(u16view text) {
  if (text.empty()) return;
  // Writing past the block would corrupt memory: callers make room first,
  // and a caller that did not is stopped here.
  if (text.size() > room()) throw std::length_error("text block overflow");
  const std::size_t old = size_;
  // The source lies below the fill mark or elsewhere: never where we write.
  std::memcpy(chars() + old, text.data(), text.size() * sizeof(char16_t));
  size_ = std::uint32_t(old + text.size());
  // A pair may begin at the last character before the text.
  notePairs(old > 0 ? old - 1 : 0);
}

void TextBuffer::addPair(std::uint32_t at) {
  if (pairCount_ == pairCapacity_) {
    const std::uint32_t grown = pairCapacity_ ? 2 * pairCapacity_ : 4;
    auto *p = static_cast<std::uint32_t *>(std::realloc(pairs_, grown * sizeof(std::uint32_t)));
    if (!p) throw std::bad_alloc();
    pairs_ = p;
    pairCapacity_ = grown;
  }
  pairs_[pairCount_++] = at;
}

void TextBuffer::notePairs(std::size_t from) {
  const char16_t *all = data();
  const std::size_t n = size_;
  for (std::size_t i = from; i + 1 < n; ++i) {
    // Four units at a time past text without a backslash.
    while (i + 4 <= n) {
      std::uint64_t w;
      std::memcpy(&w, all + i, sizeof w);
      w ^= 0x005C005C005C005CULL;
      if ((w - 0x0001000100010001ULL) & ~w & 0x8000800080008000ULL) break;
      i += 4;
    }
    if (i + 1 >= n) break;
    if (all[i] == u'\\' && pair_char(all[i + 1]) && (pairCount_ == 0 || pairs_[pairCount_ - 1] < i))
      addPair(std::uint32_t(i));
  }
}

bool TextBuffer::pairWithin(std::size_t begin, std::size_t end) const {
  if (pairCount_ == 0) return false;
  const std::uint32_t *first = pairs_, *last = pairs_ + pairCount_;
  const std::uint32_t *it = std::lower_bound(first, last, begin);
  return it != last && std::size_t(*it) + 1 < end;
}

}  // namespace velmora::engine

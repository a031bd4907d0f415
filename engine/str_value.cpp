#include "engine/str_value.h"

#include <algorithm>
#include <cstring>

#include "engine/pcode.h"

namespace velmora::engine {

namespace {

bool pair_char(char16_t c) { return c == u'n' || c == u'q' || c == u'r' || c == u't'; }

// The first occurrence of `pattern` (already folded) in `text` from `from`.
std::size_t find_in(u16view text, u16view pattern, std::size_t from, char16_t (*fold)(char16_t)) {
  const std::size_t m = pattern.size(), n = text.size();
  if (m == 0) return from <= n ? from : u16view::npos;
  if (m > n || from > n - m) return u16view::npos;
  if (!fold) {
    // The first character, then the others where it is found.
    const char16_t first = pattern[0];
    const char16_t *begin = text.data(), *last = begin + (n - m);
    for (const char16_t *p = begin + from; p <= last; ++p) {
      if (*p != first) continue;
      std::size_t j = 1;  // short patterns: compared here, not by a library call
      while (j < m && p[j] == pattern[j]) ++j;
      if (j == m) return std::size_t(p - begin);
    }
    return u16view::npos;
  }
  const char16_t first = pattern[0];
  for (std::size_t i = from; i + m <= n; ++i) {
    if (fold(text[i]) != first) continue;
    std::size_t j = 1;
    while (j < m && fold(text[i + j]) == pattern[j]) ++j;
    if (j == m) return i;
  }
  return u16view::npos;
}

}  // namespace

BufferRef StrValue::makeBuffer(u16view text, std::size_t capacity) {
  return BufferRef::adopt(TextBuffer::make(text, capacity));
}

StrValue::StrValue(u16view text) {
  if (text.empty()) return;
  headLen_ = text.size();
  head_ = makeBuffer(text);
}

StrValue::StrValue(u16 &&text) : StrValue(u16view(text)) {}
StrValue::StrValue(const u16 &text) : StrValue(u16view(text)) {}

StrValue StrValue::ofSlice(TextBuffer *buffer, std::size_t pos, std::size_t n) {
  StrValue r;
  if (n == 0) return r;
  r.head_ = BufferRef::share(buffer);
  r.headOff_ = pos;
  r.headLen_ = n;
  return r;
}

void StrValue::assignSmall(u16view text) {
  if (head_) head_.reset();
  if (tail_) tail_.reset();
  if (hint_) hint_.reset();
  std::copy(text.begin(), text.end(), small_);
  headOff_ = tailOff_ = tailLen_ = hintPos_ = 0;
  headLen_ = text.size();
}

TextBuffer *StrValue::slicedBuffer(std::size_t &pos) const {
  if (!head_ && !tail_) return nullptr;
  join();
  pos = headOff_;
  return head_.get();
}

StrValue StrValue::copyOf(u16view text) {
  if (text.size() <= kSmall) return small(text.data(), text.size());
  return StrValue(text);
}

StrValue StrValue::small(const char16_t *text, std::size_t n) {
  StrValue r;
  std::copy(text, text + n, r.small_);
  r.headLen_ = n;
  return r;
}

void StrValue::toBuffer() {
  if (!isSmall()) return;
  head_ = makeBuffer(u16view(small_, headLen_));
  headOff_ = 0;
}

void StrValue::join() const {
  if (!tail_) return;
  BufferRef all = makeBuffer(u16view(), size());
  if (head_) all->append(head_->view(headOff_, headLen_));
  all->append(tail_->view(tailOff_, tailLen_));
  headOff_ = 0;
  headLen_ = all->size();
  head_ = std::move(all);
  tail_.reset();
  tailOff_ = tailLen_ = 0;
}

u16view StrValue::joinedView() const {
  join();
  return view();
}

char16_t StrValue::at(std::size_t i) const {
  if (!head_ && !tail_) return small_[i];
  return i < headLen_ ? head_->data()[headOff_ + i] : tail_->data()[tailOff_ + i - headLen_];
}

void StrValue::append(u16view text) {
  if (text.empty()) return;
  hint_.reset();
  // In place where the value ends at its block's fill mark and the block
  // has room (text already in the block lies below the mark).
  if (tail_) {
    if (tailOff_ + tailLen_ == tail_->size() && tail_->room() >= text.size()) {
      tail_->append(text);
      tailLen_ += text.size();
      return;
    }
    join();
  }
  if (head_ && headOff_ + headLen_ == head_->size() && head_->room() >= text.size()) {
    head_->append(text);
    headLen_ += text.size();
    return;
  }
  if (headLen_ + text.size() <= kSmall) {
    // Short enough to be held in the value: no buffer. Text inside small_
    // lies before the characters written here.
    if (head_) {
      const char16_t *from = head_->data() + headOff_;
      std::copy(from, from + headLen_, small_);
      std::copy(text.begin(), text.end(), small_ + headLen_);
      head_.reset();
    } else {
      std::copy(text.begin(), text.end(), small_ + headLen_);
    }
    headOff_ = 0;
    headLen_ += text.size();
    return;
  }
  // A new buffer with room to grow: further appends land in place. The
  // text may lie in the old block, which lives until the new one is made.
  const std::size_t n = headLen_ + text.size();
  BufferRef grown =
      makeBuffer(head_ ? head_->view(headOff_, headLen_) : u16view(small_, headLen_), std::max<std::size_t>(2 * n, 16));
  grown->append(text);
  head_ = std::move(grown);
  headOff_ = 0;
  headLen_ = n;
}

StrValue &StrValue::operator+=(const StrValue &other) {
  if (&other == this) {
    u16 copy = str();
    append(copy);
  } else {
    append(other.view());
  }
  return *this;
}

StrValue StrValue::slice(std::size_t pos, std::size_t n) const {
  const std::size_t total = size();
  if (pos >= total) return {};
  n = std::min(n, total - pos);
  if (n == 0) return {};
  if (pos + n > headLen_ && pos < headLen_) {
    // Across both parts: the head part grows by the tail part, in place
    // when it ends at its buffer's fill mark.
    StrValue r = slice(pos, headLen_ - pos);
    r.append(tail_->view(tailOff_, pos + n - headLen_));
    return r;
  }
  if (isSmall()) return small(small_ + pos, n);
  const bool inHead = pos < headLen_;
  const BufferRef &buf = inHead ? head_ : tail_;
  std::size_t off = (inHead ? headOff_ + pos : tailOff_ + pos - headLen_);
  if (n <= kSmall) return small(buf->data() + off, n);
  if (n * 8 < buf->size() && buf->size() > 256) return StrValue(buf->view(off, n));
  StrValue r;
  r.head_ = buf;
  r.headOff_ = off;
  r.headLen_ = n;
  return r;
}

StrValue StrValue::concat(StrValue a, StrValue b) {
  if (b.empty()) return a;
  if (a.empty()) return b;
  a.join();
  b.join();
  if (a.size() + b.size() <= kSmall && (a.isSmall() || b.isSmall())) {
    // Two short pieces make a short value of their own.
    StrValue r = small(a.view().data(), a.size());
    const u16view tail = b.view();
    std::copy(tail.begin(), tail.end(), r.small_ + r.headLen_);
    r.headLen_ += tail.size();
    return r;
  }
  a.toBuffer();
  b.toBuffer();
  a.hint_.reset();
  a.tail_ = std::move(b.head_);
  a.tailOff_ = b.headOff_;
  a.tailLen_ = b.headLen_;
  return a;
}

bool StrValue::escapeFreeSlow() const {
  if (empty()) return true;
  if (isSmall()) {
    // Four characters at a time: most short values hold no backslash.
    constexpr std::uint64_t ones = 0x0001000100010001ULL, highs = 0x8000800080008000ULL;
    constexpr std::uint64_t backslashes = 0x005C005C005C005CULL;
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < headLen_; k += 4) {
      std::uint64_t w;
      std::memcpy(&w, small_ + k, sizeof w);
      w ^= backslashes;  // a backslash becomes a zero unit
      std::uint64_t hits = (w - ones) & ~w & highs;
      // Units past the value's end are not its characters.
      if (headLen_ - k < 4) hits &= (std::uint64_t(1) << (16 * (headLen_ - k))) - 1;
      any |= hits;
    }
    if (any == 0) return true;
    for (std::size_t i = 0; i + 1 < headLen_; ++i)
      if (small_[i] == u'\\' && pair_char(small_[i + 1])) return false;
    return small_[headLen_ - 1] != u'\\';
  }
  if (head_ && head_->pairWithin(headOff_, headOff_ + headLen_)) return false;
  if (tail_) {
    if (tail_->pairWithin(tailOff_, tailOff_ + tailLen_)) return false;
    if (headLen_ > 0 && at(headLen_ - 1) == u'\\' && pair_char(tail_->data()[tailOff_])) return false;
  }
  return at(size() - 1) != u'\\';
}

StrValue StrValue::escaped() const {
  if (escapeFree()) return *this;
  return StrValue(apply_escapes(view()));
}

std::size_t StrValue::find(u16view pattern, std::size_t from, char16_t (*fold)(char16_t)) const {
  const std::size_t m = pattern.size(), n = size();
  if (m == 0) return from <= n ? from : u16view::npos;
  if (m > n || from > n - m) return u16view::npos;
  if (!tail_) {
    if (!head_) return find_in(u16view(small_, headLen_), pattern, from, fold);
    return find_in(head_->view(headOff_, headLen_), pattern, from, fold);
  }
  u16view head = head_ ? head_->view(headOff_, headLen_) : u16view(small_, headLen_);
  if (from < headLen_) {
    std::size_t p = find_in(head, pattern, from, fold);
    if (p != u16view::npos) return p;
    // Occurrences that begin in the head and end in the tail.
    std::size_t first = std::max(from, headLen_ >= m - 1 ? headLen_ - (m - 1) : 0);
    for (std::size_t q = first; q < headLen_ && q + m <= n; ++q) {
      std::size_t j = 0;
      while (j < m && (fold ? fold(at(q + j)) : at(q + j)) == pattern[j]) ++j;
      if (j == m) return q;
    }
  }
  const u16view tail = tail_->view(tailOff_, tailLen_);
  std::size_t p = find_in(tail, pattern, from > headLen_ ? from - headLen_ : 0, fold);
  return p == u16view::npos ? p : p + headLen_;
}

std::size_t StrValue::hintFor(u16view key, bool fold) const {
  return hint_ && hint_->fold == fold && hint_->key == key ? hintPos_ : 0;
}

void StrValue::setHint(u16view key, bool fold, std::size_t pos, const StrValue *from) {
  hintPos_ = pos;
  if (pos == 0) {
    hint_.reset();
  } else if (from && from->hint_ && from->hint_->fold == fold && from->hint_->key == key) {
    hint_ = from->hint_;  // cutting zones one after another: the same key each time
  } else {
    hint_ = std::make_shared<const Hint>(Hint{u16(key), fold});
  }
}

}  // namespace velmora::engine

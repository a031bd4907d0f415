#pragma once
// The value of a list variable and of the list registers.
//
// Lines are kept in chunks of at most kChunk lines, each chunk shared
// between the lists that copied it and copied itself only when one of them
// changes it: copying a list costs one pointer per chunk, changing a line
// of a copy one chunk, and inserting or deleting a line moves the lines of
// its own chunk only (a full chunk is split in two, nearly empty
// neighbours are merged).
//
// A line is a 16-byte handle (`Line`): up to seven characters are held in
// the handle itself, longer texts are slices of the blocks string values
// use (text_buffer.h), so that a line read into a value, or a value stored
// as a line, shares the text instead of copying it. Short lines pushed one
// by one keep their text in a block the list fills as it grows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/str_value.h"
#include "engine/text_buffer.h"
#include "text/u16.h"

namespace velmora::engine {

// A line's text: in the handle (isInline) or a slice of a block (empty
// when it has none). Copying a handle copies no reference: the chunks that
// hold lines count them.
class Line {
 public:
  static constexpr std::size_t kInline = 7;

  // Text of at most kInline characters.
  static Line inlined(u16view text) {
    Line l;
    l.u_[0] = char16_t(1 | (text.size() << 1));
    for (std::size_t i = 0; i < text.size(); ++i) l.u_[1 + i] = text[i];  // a few: no library call
    return l;
  }
  // Characters [pos, pos + n) of a block, with no reference taken.
  static Line slice(TextBuffer *b, std::size_t pos, std::size_t n) {
    Line l;
    const std::uint32_t at[2] = {std::uint32_t(pos), std::uint32_t(n)};
    std::memcpy(l.u_, &b, sizeof b);
    std::memcpy(l.u_ + 4, at, sizeof at);
    return l;
  }

  bool isInline() const { return (u_[0] & 1) != 0; }
  TextBuffer *buffer() const {
    TextBuffer *b = nullptr;
    if (!isInline()) std::memcpy(&b, u_, sizeof b);
    return b;
  }
  std::size_t offset() const { return word(4); }
  std::size_t size() const { return isInline() ? std::size_t(u_[0] >> 1) : word(6); }
  u16view view() const {
    if (isInline()) return u16view(u_ + 1, std::size_t(u_[0] >> 1));
    TextBuffer *b = buffer();
    return b ? b->view(word(4), word(6)) : u16view();
  }
  // The line as a string value: a slice shares the block.
  StrValue value() const {
    if (isInline()) return StrValue::copyOf(view());
    TextBuffer *b = buffer();
    return b ? StrValue::ofSlice(b, word(4), word(6)) : StrValue();
  }
  // The same made in `v`, in place of what it held.
  void assignTo(StrValue &v) const {
    if (isInline()) return v.assignSeven(u_ + 1, std::size_t(u_[0] >> 1));
    if (TextBuffer *b = buffer()) return v.assignSlice(b, word(4), word(6));
    v.clear();
  }
  void ref() const {
    if (TextBuffer *b = buffer()) b->ref();
  }
  void unref() const {
    if (TextBuffer *b = buffer()) b->unref();
  }

 private:
  std::size_t word(int at) const {
    std::uint32_t w;
    std::memcpy(&w, u_ + at, sizeof w);
    return w;
  }
  alignas(8) char16_t u_[8] = {};
};
static_assert(sizeof(Line) == 16, "a line handle is two words");

// Pairs and triples of neighbouring characters, hashed, let a search by
// key pass over lines and whole chunks of lines that cannot hold the key: a
// text that contains another holds every pair and triple the other does.
// Each pair sets one of 63 bits of its line's signature, each triple one of
// 4,096 bits of its chunk's (pairs are too common to tell chunks apart).
struct CharPair {
  static std::uint64_t hash(char16_t a, char16_t b) {
    return ((std::uint64_t(a) << 16) | b) * 0x9E3779B97F4A7C15ull;  // Fibonacci hashing: the high bits mix
  }
  static std::uint64_t lineBit(std::uint64_t h) { return std::uint64_t(1) << (((h >> 32) * 63) >> 32); }
  // A triple: the pair before it, hashed, and its third character.
  static unsigned chunkBit(std::uint64_t pair, char16_t c) {
    return unsigned(((pair ^ c) * 0xC2B2AE3D27D4EB4Full) >> 52);
  }
  static constexpr std::size_t kChunkWords = 64;  // 4,096 bits
};

// What a key asks of a line's signature (its pairs) and of a chunk's (its
// first twelve triples: enough to rule a chunk out). A key of fewer than
// two characters asks nothing: every line may hold it.
class PairKey {
 public:
  static constexpr std::size_t kChunkBits = 12;
  PairKey() = default;
  explicit PairKey(u16view key) {
    for (std::size_t i = 1; i < key.size(); ++i) {
      const std::uint64_t h = CharPair::hash(key[i - 1], key[i]);
      line_ |= CharPair::lineBit(h);
      if (i + 1 < key.size() && n_ < kChunkBits) bits_[n_++] = std::uint16_t(CharPair::chunkBit(h, key[i + 1]));
    }
  }
  bool any() const { return line_ != 0; }
  std::uint64_t line() const { return line_; }
  // Whether a chunk whose triple bits are `triples` may hold the key.
  bool mayBeIn(const std::uint64_t *triples) const {
    for (std::size_t j = 0; j < n_; ++j)
      if (!((triples[bits_[j] >> 6] >> (bits_[j] & 63)) & 1)) return false;
    return true;
  }

 private:
  std::uint64_t line_ = 0;
  std::uint16_t bits_[kChunkBits] = {};
  std::size_t n_ = 0;
};

class LineList {
  struct Chunk;

 public:
  static constexpr std::size_t kChunk = 64;

  LineList() = default;
  LineList(const LineList &other);
  LineList(LineList &&other) noexcept { swap(other); }
  LineList &operator=(const LineList &other);
  LineList &operator=(LineList &&other) noexcept {
    if (this != &other) {
      clear();
      swap(other);
    }
    return *this;
  }
  ~LineList() { clear(); }
  LineList(const Lines &lines);  // NOLINT: a list of lines is a list value
  LineList(std::initializer_list<u16view> lines);
  LineList &operator=(const Lines &lines) { return *this = LineList(lines); }
  // The lines of a text, cut at CR LF, CR or LF as split_lines cuts them.
  static LineList ofText(u16view text);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const Line &line(std::size_t i) const {
    const Place p = locate(i);
    return chunks_[p.chunk]->lines()[p.index];
  }
  u16view operator[](std::size_t i) const { return line(i).view(); }
  // Line i as a string value sharing its text.
  StrValue value(std::size_t i) const { return line(i).value(); }
  u16view front() const { return (*this)[0]; }
  u16view back() const { return (*this)[size_ - 1]; }

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = u16view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = u16view;

    const_iterator() = default;
    const_iterator(const LineList *list, std::size_t i) : list_(list), i_(i) {}
    u16view operator*() const { return (*list_)[i_]; }
    u16view operator[](difference_type n) const { return (*list_)[std::size_t(difference_type(i_) + n)]; }
    const_iterator &operator++() {
      ++i_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++i_;
      return old;
    }
    const_iterator &operator--() {
      --i_;
      return *this;
    }
    const_iterator &operator+=(difference_type n) {
      i_ = std::size_t(difference_type(i_) + n);
      return *this;
    }
    friend const_iterator operator+(const_iterator a, difference_type n) { return a += n; }
    friend difference_type operator-(const const_iterator &a, const const_iterator &b) {
      return difference_type(a.i_) - difference_type(b.i_);
    }
    friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.i_ == b.i_; }
    friend bool operator!=(const const_iterator &a, const const_iterator &b) { return a.i_ != b.i_; }

   private:
    const LineList *list_ = nullptr;
    std::size_t i_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

  // Calls f(const Line &) for every line in order, chunk by chunk.
  template <typename F>
  void forEach(F f) const {
    for (const Chunk *c : chunks_)
      for (const Line *l = c->lines(), *last = l + c->count; l != last; ++l) f(*l);
  }
  // Calls f(i, const Line &) in order for every line i that may contain
  // the key: at least every line that does (every line when the key asks
  // nothing). A list searched again and again (a list of counts looked up
  // by key) keeps its lines' pair signatures from a chunk's second search
  // on, so that a search passes over chunks that cannot hold the key and
  // reads one word for most lines of the others.
  template <typename F>
  void forEachPossible(const PairKey &key, F f) const {
    std::size_t i = 0;
    for (Chunk *c : chunks_) {
      const Line *l = c->lines();
      const std::size_t n = c->count;
      const Signs *signs = key.any() ? signsFor(c) : nullptr;
      if (!signs) {
        for (std::size_t k = 0; k < n; ++k) f(i + k, l[k]);
        i += n;
        continue;
      }
      if (!key.mayBeIn(signs->triples)) {
        i += n;
        continue;
      }
      const std::uint64_t *sig = signs->line;
      const std::uint64_t want = key.line();
      std::size_t k = 0;
#if defined(__SSE2__)
      // Four signatures at a time: a line passes when both halves of its
      // signature, masked by the key's, equal the key's.
      const __m128i w = _mm_set1_epi64x(static_cast<long long>(want));
      for (; k + 4 <= n; k += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sig + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sig + k + 2));
        const unsigned ea = unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(a, w), w))));
        const unsigned eb = unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(b, w), w))));
        unsigned pass = ea | (eb << 4);
        for (pass &= (pass >> 1) & 0x55u; pass; pass &= pass - 1) {
          const std::size_t at = k + std::size_t(__builtin_ctz(pass)) / 2;
          f(i + at, l[at]);
        }
      }
#endif
      for (; k < n; ++k)
        if ((sig[k] & want) == want) f(i + k, l[k]);
      i += n;
    }
  }
  // How many chunks keep signatures (for tests of the search).
  std::size_t signedChunks() const;

  void clear();
  void swap(LineList &other) noexcept;
  void push_back(u16view text) { pushOwned(makeLine(text)); }
  void push_back(const u16 &text) { push_back(u16view(text)); }
  void push_back(const char16_t *text) { push_back(u16view(text)); }
  // A value's text, shared where it is a slice of a block.
  void push_back(const StrValue &value) { pushOwned(lineOf(value)); }
  // Another list's line, sharing its text.
  void push_back(const Line &line) {
    line.ref();
    pushOwned(line);
  }
  // Appends every line of `other` (which may be this list).
  void append(const LineList &other);
  // Replaces line i; only its chunk is copied when another list shares it.
  void set(std::size_t i, const StrValue &value) { put(i, lineOf(value)); }
  void set(std::size_t i, u16view text) { put(i, makeLine(text)); }
  void set(std::size_t i, const u16 &text) { set(i, u16view(text)); }
  void set(std::size_t i, const char16_t *text) { set(i, u16view(text)); }
  // Inserts before line i (at the end when i is the size); deletes line i.
  void insert(std::size_t i, const StrValue &value) { insertOwned(i, lineOf(value)); }
  void insert(std::size_t i, u16view text) { insertOwned(i, makeLine(text)); }
  void insert(std::size_t i, const u16 &text) { insert(i, u16view(text)); }
  void insert(std::size_t i, const char16_t *text) { insert(i, u16view(text)); }
  void erase(std::size_t i);
  // Keeps the lines for which keep(u16view) holds.
  template <typename Keep>
  void keepIf(Keep keep) {
    LineList kept;
    forEach([&](const Line &l) {
      if (keep(l.view())) kept.push_back(l);
    });
    swap(kept);
  }
  // Inserts `value` before every line for which where(u16view) holds.
  template <typename Where>
  void insertBefore(Where where, const StrValue &value) {
    LineList out;
    const Line x = lineOf(value);
    forEach([&](const Line &l) {
      if (where(l.view())) out.push_back(x);
      out.push_back(l);
    });
    x.unref();
    swap(out);
  }

  // The lines as one vector; the list is empty afterwards.
  Lines take();
  // The lines as one vector, the list unchanged.
  Lines lines() const;
  // Applies a change that needs the whole vector (a sort).
  template <typename Change>
  void change(Change change) {
    Lines all = take();
    change(all);
    *this = LineList(all);
  }

  // Whether line i is held in a chunk shared with another list.
  bool sharesLine(std::size_t i) const;
  // How many chunks hold the lines (for tests of the chunk layout).
  std::size_t chunkCount() const { return chunks_.size(); }

  friend bool operator==(const LineList &a, const LineList &b);
  friend bool operator==(const LineList &a, const Lines &b);

 private:
  // The pair signatures of a chunk's lines and the triple bits of the chunk
  // as a whole, content only: a chunk shared by several lists shares them.
  // Whatever puts a line at position k signs it there (sign), and moving
  // lines moves their signatures. The chunk's triple bits only grow as
  // lines are replaced or deleted; they are worked out afresh once as many
  // lines as the chunk holds have gone.
  struct Signs {
    std::uint64_t triples[CharPair::kChunkWords];
    std::size_t stale;  // lines replaced or deleted since triples was made
    std::uint64_t line[kChunk];
  };
  struct Chunk {
    std::uint32_t refs;  // lists holding it
    std::uint32_t count, capacity;
    std::uint32_t searches;  // searches by key so far, up to 1
    Signs *signs;            // null until the chunk's second search
    Line *lines() { return reinterpret_cast<Line *>(this + 1); }
    const Line *lines() const { return reinterpret_cast<const Line *>(this + 1); }
  };
  struct Place {
    std::size_t chunk, index;
  };

  std::vector<Chunk *> chunks_;
  std::vector<std::size_t> starts_;  // starts_[c]: the position of chunk c's first line
  std::size_t size_ = 0;
  // Every chunk but the last holds kChunk lines: a line is found by division.
  bool uniform_ = true;
  mutable std::size_t lastChunk_ = 0;  // where the last search found a line
  // The block short lines pushed one by one keep their text in.
  BufferRef arena_;

  Place locate(std::size_t i) const {
    if (uniform_) return {i / kChunk, i % kChunk};
    const std::size_t c = lastChunk_;
    if (c < chunks_.size() && i >= starts_[c] && i - starts_[c] < chunks_[c]->count) return {c, i - starts_[c]};
    return search(i);
  }
  Place search(std::size_t i) const;
  // A line for the text, holding one reference.
  Line makeLine(u16view text);
  Line lineOf(const StrValue &value);
  void pushOwned(Line line);
  void put(std::size_t i, Line line);
  void insertOwned(std::size_t i, Line line);
  // Chunk c for changing: copied first when another list shares it, with
  // room for one line more when `grow`.
  Chunk *own(std::size_t c, bool grow);
  void mergeAround(std::size_t c);
  static Chunk *newChunk(std::size_t capacity);
  // Signs line k of the chunk, when the chunk keeps signatures.
  static void sign(Chunk *c, std::size_t k) {
    if (c->signs) signLine(c->signs, k, c->lines()[k]);
  }
  static void signLine(Signs *s, std::size_t k, const Line &line);
  // The chunk's signatures; null on its first search.
  static const Signs *signsFor(Chunk *c) {
    if (c->signs && c->signs->stale <= c->count + 16) return c->signs;
    return makeSigns(c);
  }
  static const Signs *makeSigns(Chunk *c);
  static Signs *copySigns(const Signs *from);
  static void release(Chunk *c) noexcept;
  static LineList ofViews(const std::vector<u16view> &views);
};

}  // namespace velmora::engine

#include "engine/line_list.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace velmora::engine {

namespace {

// Lines up to this long pushed one by one keep their text in the list's
// block; longer ones get a block of their own.
constexpr std::size_t kArenaLine = 256;
constexpr std::size_t kArenaMin = 64, kArenaMax = 4096;

}  // namespace

// ----- chunks

LineList::Chunk *LineList::newChunk(std::size_t capacity) {
  void *block = std::malloc(sizeof(Chunk) + capacity * sizeof(Line));
  if (!block) throw std::bad_alloc();
  auto *c = static_cast<Chunk *>(block);
  c->refs = 1;
  c->count = 0;
  c->capacity = std::uint32_t(capacity);
  c->searches = 0;
  c->signs = nullptr;
  return c;
}

void LineList::release(Chunk *c) noexcept {
  if (--c->refs != 0) return;
  for (const Line *l = c->lines(), *last = l + c->count; l != last; ++l) l->unref();
  std::free(c->signs);
  std::free(c);
}

// ----- signatures

void LineList::signLine(Signs *s, std::size_t k, const Line &line) {
  const u16view t = line.view();
  std::uint64_t sig = 0;
  for (std::size_t i = 1; i < t.size(); ++i) {
    const std::uint64_t h = CharPair::hash(t[i - 1], t[i]);
    sig |= CharPair::lineBit(h);
    if (i + 1 < t.size()) {
      const unsigned b = CharPair::chunkBit(h, t[i + 1]);
      s->triples[b >> 6] |= std::uint64_t(1) << (b & 63);
    }
  }
  s->line[k] = sig;
}

const LineList::Signs *LineList::makeSigns(Chunk *c) {
  if (!c->signs) {
    if (c->searches == 0) {
      // Searched once: a list searched only once does not pay for them.
      c->searches = 1;
      return nullptr;
    }
    c->signs = static_cast<Signs *>(std::malloc(sizeof(Signs)));
    if (!c->signs) throw std::bad_alloc();
  }
  // Made, or made afresh when many lines have gone since.
  Signs *s = c->signs;
  std::fill(std::begin(s->triples), std::end(s->triples), 0);
  s->stale = 0;
  for (std::size_t k = 0; k < c->count; ++k) signLine(s, k, c->lines()[k]);
  return s;
}

LineList::Signs *LineList::copySigns(const Signs *from) {
  if (!from) return nullptr;
  auto *s = static_cast<Signs *>(std::malloc(sizeof(Signs)));
  if (!s) throw std::bad_alloc();
  std::memcpy(static_cast<void *>(s), from, sizeof(Signs));
  return s;
}

std::size_t LineList::signedChunks() const {
  std::size_t n = 0;
  for (const Chunk *c : chunks_) n += c->signs != nullptr;
  return n;
}

LineList::Chunk *LineList::own(std::size_t c, bool grow) {
  Chunk *chunk = chunks_[c];
  const std::size_t want = chunk->count + (grow ? 1 : 0);
  if (chunk->refs > 1) {
    // Another list holds it: a copy of our own, its lines counted again.
    Chunk *copy = newChunk(std::min(kChunk, std::max<std::size_t>(want, chunk->capacity)));
    std::memcpy(static_cast<void *>(copy->lines()), chunk->lines(), chunk->count * sizeof(Line));
    copy->count = chunk->count;
    for (const Line *l = copy->lines(), *last = l + copy->count; l != last; ++l) l->ref();
    // A list searched by key and changed while another holds its chunk
    // (the pending rest of its last selection) keeps its signatures.
    try {
      copy->signs = copySigns(chunk->signs);
    } catch (...) {
      release(copy);
      throw;
    }
    copy->searches = chunk->searches;
    release(chunk);
    chunks_[c] = chunk = copy;
  }
  if (want > chunk->capacity) {
    // Lines are plain handles: the block moves as it is.
    const std::size_t capacity = std::min(kChunk, std::max<std::size_t>(2 * chunk->capacity, 8));
    void *moved = std::realloc(chunk, sizeof(Chunk) + capacity * sizeof(Line));
    if (!moved) throw std::bad_alloc();
    chunk = static_cast<Chunk *>(moved);
    chunk->capacity = std::uint32_t(capacity);
    chunks_[c] = chunk;
  }
  return chunk;
}

LineList::Place LineList::search(std::size_t i) const {
  const std::size_t c = std::size_t(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin()) - 1;
  lastChunk_ = c;
  return {c, i - starts_[c]};
}

// ----- making lines

Line LineList::makeLine(u16view text) {
  const std::size_t n = text.size();
  if (n <= Line::kInline) return Line::inlined(text);
  if (n > kArenaLine) return Line::slice(TextBuffer::make(text), 0, n);
  if (!arena_ || arena_->room() < n) {
    // The next block twice the last, so that a short list takes little and
    // a long one few blocks.
    const std::size_t last = arena_ ? arena_->size() : 0;
    const std::size_t capacity = std::max(n, std::clamp(2 * last, kArenaMin, kArenaMax));
    arena_ = BufferRef::adopt(TextBuffer::make(u16view(), capacity));
  }
  const std::size_t at = arena_->size();
  arena_->append(text);
  arena_->ref();
  return Line::slice(arena_.get(), at, n);
}

Line LineList::lineOf(const StrValue &value) {
  const std::size_t n = value.size();
  if (n <= Line::kInline) return Line::inlined(value.view());
  std::size_t pos = 0;
  if (TextBuffer *b = value.slicedBuffer(pos)) {
    b->ref();
    return Line::slice(b, pos, n);
  }
  return makeLine(value.view());
}

// ----- whole lists

LineList::LineList(const LineList &other)
    : chunks_(other.chunks_), starts_(other.starts_), size_(other.size_), uniform_(other.uniform_) {
  for (Chunk *c : chunks_) ++c->refs;
}

LineList &LineList::operator=(const LineList &other) {
  if (this == &other) return *this;
  if (chunks_.capacity() < other.chunks_.size() || starts_.capacity() < other.starts_.size()) {
    LineList copy(other);
    clear();
    swap(copy);
    return *this;
  }
  // Into the vectors this list has (a register or pending rest filled
  // again and again): nothing here can fail.
  for (Chunk *c : other.chunks_) ++c->refs;  // first: the chunks may be ours too
  for (Chunk *c : chunks_) release(c);
  chunks_.assign(other.chunks_.begin(), other.chunks_.end());
  starts_.assign(other.starts_.begin(), other.starts_.end());
  size_ = other.size_;
  uniform_ = other.uniform_;
  lastChunk_ = 0;
  arena_.reset();
  return *this;
}

void LineList::clear() {
  for (Chunk *c : chunks_) release(c);
  chunks_.clear();
  starts_.clear();
  size_ = 0;
  uniform_ = true;
  lastChunk_ = 0;
  arena_.reset();
}

void LineList::swap(LineList &other) noexcept {
  chunks_.swap(other.chunks_);
  starts_.swap(other.starts_);
  std::swap(size_, other.size_);
  std::swap(uniform_, other.uniform_);
  std::swap(lastChunk_, other.lastChunk_);
  std::swap(arena_, other.arena_);
}

LineList LineList::ofViews(const std::vector<u16view> &views) {
  LineList out;
  out.chunks_.reserve((views.size() + kChunk - 1) / kChunk);
  for (std::size_t at = 0; at < views.size(); at += kChunk) {
    const std::size_t n = std::min(kChunk, views.size() - at);
    std::size_t chars = 0;
    for (std::size_t k = at; k < at + n; ++k)
      if (views[k].size() > Line::kInline) chars += views[k].size();
    // The chunk's longer lines share one block, exactly as long as they.
    BufferRef text = chars ? BufferRef::adopt(TextBuffer::make(u16view(), chars)) : BufferRef();
    Chunk *c = newChunk(n);
    out.chunks_.push_back(c);
    out.starts_.push_back(at);
    for (std::size_t k = at; k < at + n; ++k) {
      const u16view v = views[k];
      if (v.size() <= Line::kInline) {
        c->lines()[c->count++] = Line::inlined(v);
        continue;
      }
      const std::size_t pos = text->size();
      text->append(v);
      text->ref();
      c->lines()[c->count++] = Line::slice(text.get(), pos, v.size());
    }
    out.size_ += n;
  }
  return out;
}

LineList LineList::ofText(u16view text) {
  std::vector<u16view> views;
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    // Four units at a time past text without a line end.
    while (i + 4 <= n) {
      std::uint64_t w, cr, lf;
      std::memcpy(&w, text.data() + i, sizeof w);
      cr = w ^ 0x000D000D000D000DULL;
      lf = w ^ 0x000A000A000A000AULL;
      if (((((cr - 0x0001000100010001ULL) & ~cr) | ((lf - 0x0001000100010001ULL) & ~lf)) & 0x8000800080008000ULL) != 0)
        break;
      i += 4;
    }
    if (i >= n) break;
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      views.push_back(text.substr(start, i - start));
      if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) views.push_back(text.substr(start));
  return ofViews(views);
}

LineList::LineList(const Lines &lines) {
  LineList built = ofViews(std::vector<u16view>(lines.begin(), lines.end()));
  swap(built);
}

LineList::LineList(std::initializer_list<u16view> lines) {
  LineList built = ofViews(std::vector<u16view>(lines.begin(), lines.end()));
  swap(built);
}

void LineList::append(const LineList &other) {
  if (other.empty()) return;
  if (other.size_ < kChunk / 4 || &other == this) {
    // A few lines (or the list itself): pushed one by one, sharing their
    // text, so that appending short lists does not leave many small chunks.
    const LineList copy = other;
    copy.forEach([&](const Line &l) { push_back(l); });
    return;
  }
  // Whole chunks, shared. Every chunk but the last stays full only when
  // this list's last chunk was.
  uniform_ = empty() ? other.uniform_ : uniform_ && chunks_.back()->count == kChunk && other.uniform_;
  for (std::size_t c = 0; c < other.chunks_.size(); ++c) {
    ++other.chunks_[c]->refs;
    chunks_.push_back(other.chunks_[c]);
    starts_.push_back(size_ + other.starts_[c]);
  }
  size_ += other.size_;
}

// ----- lines

void LineList::pushOwned(Line line) {
  if (!chunks_.empty()) {
    // The common case first: room in a last chunk of this list's own.
    Chunk *last = chunks_.back();
    if (last->refs == 1 && last->count < last->capacity) {
      last->lines()[last->count] = line;
      sign(last, last->count++);
      ++size_;
      return;
    }
  }
  if (chunks_.empty() || chunks_.back()->count == kChunk) {
    // A list that filled a chunk is a long one: the next chunk is made
    // whole at once rather than grown on the way.
    try {
      Chunk *c = newChunk(chunks_.empty() ? 4 : kChunk);
      chunks_.push_back(c);
      starts_.push_back(size_);
    } catch (...) {
      line.unref();
      throw;
    }
  }
  Chunk *c;
  try {
    c = own(chunks_.size() - 1, true);
  } catch (...) {
    line.unref();
    throw;
  }
  c->lines()[c->count] = line;
  sign(c, c->count++);
  ++size_;
}

void LineList::put(std::size_t i, Line line) {
  const Place p = locate(i);
  Chunk *c = chunks_[p.chunk];
  if (c->refs > 1) {
    try {
      c = own(p.chunk, false);
    } catch (...) {
      line.unref();
      throw;
    }
  }
  c->lines()[p.index].unref();
  c->lines()[p.index] = line;
  if (c->signs) {
    ++c->signs->stale;
    sign(c, p.index);
  }
}

void LineList::insertOwned(std::size_t i, Line line) {
  if (i >= size_) return pushOwned(line);
  try {
    Place p = locate(i);
    if (chunks_[p.chunk]->count == kChunk) {
      // A full chunk: its upper half becomes a chunk of its own.
      Chunk *c = own(p.chunk, false);
      const std::size_t half = kChunk / 2;
      Chunk *upper = newChunk(kChunk);
      std::memcpy(static_cast<void *>(upper->lines()), c->lines() + half, (c->count - half) * sizeof(Line));
      upper->count = std::uint32_t(c->count - half);
      if (c->signs) {
        // The chunk's triple bits hold the upper half's too.
        upper->signs = copySigns(c->signs);
        std::memmove(upper->signs->line, c->signs->line + half, upper->count * sizeof(std::uint64_t));
        upper->searches = 1;
      }
      c->count = std::uint32_t(half);
      chunks_.insert(chunks_.begin() + std::ptrdiff_t(p.chunk + 1), upper);
      starts_.insert(starts_.begin() + std::ptrdiff_t(p.chunk + 1), starts_[p.chunk] + half);
      uniform_ = false;
      if (p.index >= half) {
        ++p.chunk;
        p.index -= half;
      }
    }
    Chunk *c = own(p.chunk, true);
    Line *at = c->lines() + p.index;
    std::memmove(static_cast<void *>(at + 1), at, (c->count - p.index) * sizeof(Line));
    *at = line;
    if (c->signs) {
      std::uint64_t *s = c->signs->line + p.index;
      std::memmove(s + 1, s, (c->count - p.index) * sizeof *s);
      sign(c, p.index);
    }
    ++c->count;
    for (std::size_t k = p.chunk + 1; k < starts_.size(); ++k) ++starts_[k];
    ++size_;
    // Every chunk but the last full still holds when the line went into
    // the last one.
    uniform_ = uniform_ && p.chunk + 1 == chunks_.size();
  } catch (...) {
    line.unref();
    throw;
  }
}

void LineList::erase(std::size_t i) {
  if (i >= size_) return;
  const Place p = locate(i);
  Chunk *c = own(p.chunk, false);
  Line *at = c->lines() + p.index;
  at->unref();
  std::memmove(static_cast<void *>(at), at + 1, (c->count - p.index - 1) * sizeof(Line));
  if (c->signs) {
    std::uint64_t *s = c->signs->line + p.index;
    std::memmove(s, s + 1, (c->count - p.index - 1) * sizeof *s);
    ++c->signs->stale;
  }
  --c->count;
  for (std::size_t k = p.chunk + 1; k < starts_.size(); ++k) --starts_[k];
  --size_;
  const bool last = p.chunk + 1 == chunks_.size();
  uniform_ = uniform_ && last;
  if (c->count == 0) {
    release(c);
    chunks_.erase(chunks_.begin() + std::ptrdiff_t(p.chunk));
    starts_.erase(starts_.begin() + std::ptrdiff_t(p.chunk));
    if (chunks_.empty()) uniform_ = true;
    return;
  }
  mergeAround(p.chunk);
}

// A chunk that holds few lines takes in its next neighbour, or goes into
// the one before, while the two together stay at most half full: chunks
// stay few however many lines are deleted.
void LineList::mergeAround(std::size_t c) {
  auto merge = [&](std::size_t into) {
    Chunk *next = chunks_[into + 1];
    Chunk *target = own(into, false);
    const std::size_t total = target->count + next->count;
    if (total > target->capacity) {
      void *moved = std::realloc(target, sizeof(Chunk) + total * sizeof(Line));
      if (!moved) throw std::bad_alloc();
      target = static_cast<Chunk *>(moved);
      target->capacity = std::uint32_t(total);
      chunks_[into] = target;
    }
    std::memcpy(static_cast<void *>(target->lines() + target->count), next->lines(), next->count * sizeof(Line));
    for (std::size_t k = target->count; k < total; ++k) sign(target, k);
    // The moved handles now count for the target: another holder of next
    // keeps its own references.
    if (next->refs > 1)
      for (const Line *l = next->lines(), *last = l + next->count; l != last; ++l) l->ref();
    target->count = std::uint32_t(total);
    if (--next->refs == 0) {
      std::free(next->signs);
      std::free(next);
    }
    chunks_.erase(chunks_.begin() + std::ptrdiff_t(into + 1));
    starts_.erase(starts_.begin() + std::ptrdiff_t(into + 1));
    uniform_ = false;
  };
  const std::size_t half = kChunk / 2;
  if (c + 1 < chunks_.size() && chunks_[c]->count + chunks_[c + 1]->count <= half) merge(c);
  else if (c > 0 && chunks_[c - 1]->count + chunks_[c]->count <= half) merge(c - 1);
}

// ----- whole vectors

Lines LineList::take() {
  Lines out = lines();
  clear();
  return out;
}

Lines LineList::lines() const {
  Lines out;
  out.reserve(size_);
  forEach([&](const Line &l) { out.emplace_back(l.view()); });
  return out;
}

bool LineList::sharesLine(std::size_t i) const { return chunks_[locate(i).chunk]->refs > 1; }

bool operator==(const LineList &a, const LineList &b) {
  if (a.size_ != b.size_) return false;
  // Line by line in order, chunk by chunk on both sides.
  std::size_t i = 0;
  bool same = true;
  std::size_t c = 0, k = 0;
  a.forEach([&](const Line &l) {
    if (!same) return;
    while (k == b.chunks_[c]->count) ++c, k = 0;
    same = l.view() == b.chunks_[c]->lines()[k++].view();
    ++i;
  });
  return same;
}

bool operator==(const LineList &a, const Lines &b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  bool same = true;
  a.forEach([&](const Line &l) { same = same && l.view() == u16view(b[i++]); });
  return same;
}

}  // namespace velmora::engine

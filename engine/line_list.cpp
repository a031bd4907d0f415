#include "engine/line_list.h"

namespace velmora::engine {

LineList::LineList(Lines lines) : size_(lines.size()) {
  if (lines.size() <= kChunk) {
    if (!lines.empty()) chunks_.push_back(std::make_shared<Lines>(std::move(lines)));
    return;
  }
  chunks_.reserve((lines.size() + kChunk - 1) / kChunk);
  for (std::size_t at = 0; at < lines.size(); at += kChunk) {
    auto first = lines.begin() + std::ptrdiff_t(at);
    auto last = lines.begin() + std::ptrdiff_t(std::min(at + kChunk, lines.size()));
    chunks_.push_back(std::make_shared<Lines>(std::make_move_iterator(first), std::make_move_iterator(last)));
  }
}

Lines &LineList::ownChunk(std::size_t c) {
  std::shared_ptr<Lines> &chunk = chunks_[c];
  if (chunk.use_count() > 1) chunk = std::make_shared<Lines>(*chunk);
  return *chunk;
}

void LineList::push_back(u16 line) {
  if (size_ % kChunk == 0) {
    // A list that filled a chunk is a long one: the next chunk is made
    // whole at once rather than grown (and freed) ten times on the way.
    chunks_.push_back(std::make_shared<Lines>());
    if (size_ != 0) chunks_.back()->reserve(kChunk);
  }
  ownChunk(chunks_.size() - 1).push_back(std::move(line));
  ++size_;
}

void LineList::append(const LineList &other) {
  if (size_ % kChunk == 0) {
    // Full chunks followed by other's chunks keep the invariant: share them.
    auto theirs = other.chunks_;  // a copy: other may be this list
    chunks_.insert(chunks_.end(), theirs.begin(), theirs.end());
    size_ += other.size_;
    return;
  }
  const std::size_t n = other.size_;
  for (std::size_t i = 0; i < n; ++i) push_back(other[i]);
}

u16 &LineList::edit(std::size_t i) { return ownChunk(i / kChunk)[i % kChunk]; }

Lines LineList::take() {
  Lines out;
  out.reserve(size_);
  for (std::shared_ptr<Lines> &chunk : chunks_) {
    if (chunk.use_count() == 1)
      out.insert(out.end(), std::make_move_iterator(chunk->begin()), std::make_move_iterator(chunk->end()));
    else out.insert(out.end(), chunk->begin(), chunk->end());
  }
  clear();
  return out;
}

Lines LineList::lines() const {
  Lines out;
  out.reserve(size_);
  for (const std::shared_ptr<Lines> &chunk : chunks_) out.insert(out.end(), chunk->begin(), chunk->end());
  return out;
}

bool operator==(const LineList &a, const LineList &b) {
  if (a.size_ != b.size_) return false;
  for (std::size_t c = 0; c < a.chunks_.size(); ++c)
    if (a.chunks_[c] != b.chunks_[c] && *a.chunks_[c] != *b.chunks_[c]) return false;
  return true;
}

bool operator==(const LineList &a, const Lines &b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < b.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace velmora::engine

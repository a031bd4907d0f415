#pragma once
// The value of a list variable and of the list registers.
//
// Lines are kept in chunks of up to kChunk lines, each chunk shared between
// the lists that copied it and copied itself only when one of them changes a
// line in it. Copying a list costs one pointer per chunk; changing one line
// of a copy costs one chunk. Every chunk but the last is full, so a line is
// found by division.
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <vector>

#include "text/u16.h"

namespace velmora::engine {

class LineList {
 public:
  static constexpr std::size_t kChunk = 1024;

  LineList() = default;
  LineList(Lines lines);  // NOLINT: a list of lines is a list value
  LineList(std::initializer_list<u16> lines) : LineList(Lines(lines)) {}
  LineList &operator=(Lines lines) { return *this = LineList(std::move(lines)); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const u16 &operator[](std::size_t i) const { return (*chunks_[i / kChunk])[i % kChunk]; }
  const u16 &front() const { return (*this)[0]; }
  const u16 &back() const { return (*this)[size_ - 1]; }

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = u16;
    using difference_type = std::ptrdiff_t;
    using pointer = const u16 *;
    using reference = const u16 &;

    const_iterator() = default;
    const_iterator(const LineList *list, std::size_t i) : list_(list), i_(i) {}
    reference operator*() const { return (*list_)[i_]; }
    pointer operator->() const { return &(*list_)[i_]; }
    reference operator[](difference_type n) const { return (*list_)[std::size_t(difference_type(i_) + n)]; }
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
    const_iterator operator--(int) {
      const_iterator old = *this;
      --i_;
      return old;
    }
    const_iterator &operator+=(difference_type n) {
      i_ = std::size_t(difference_type(i_) + n);
      return *this;
    }
    const_iterator &operator-=(difference_type n) { return *this += -n; }
    friend const_iterator operator+(const_iterator a, difference_type n) { return a += n; }
    friend const_iterator operator+(difference_type n, const_iterator a) { return a += n; }
    friend const_iterator operator-(const_iterator a, difference_type n) { return a -= n; }
    friend difference_type operator-(const const_iterator &a, const const_iterator &b) {
      return difference_type(a.i_) - difference_type(b.i_);
    }
    friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.i_ == b.i_; }
    friend bool operator!=(const const_iterator &a, const const_iterator &b) { return a.i_ != b.i_; }
    friend bool operator<(const const_iterator &a, const const_iterator &b) { return a.i_ < b.i_; }
    friend bool operator>(const const_iterator &a, const const_iterator &b) { return a.i_ > b.i_; }
    friend bool operator<=(const const_iterator &a, const const_iterator &b) { return a.i_ <= b.i_; }
    friend bool operator>=(const const_iterator &a, const const_iterator &b) { return a.i_ >= b.i_; }

   private:
    const LineList *list_ = nullptr;
    std::size_t i_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

  void clear() {
    chunks_.clear();
    size_ = 0;
  }
  void swap(LineList &other) noexcept {
    chunks_.swap(other.chunks_);
    std::swap(size_, other.size_);
  }
  void push_back(u16 line);
  // Appends every line of `other` (which may be this list).
  void append(const LineList &other);
  // Line i for changing: its chunk is copied first when another list shares it.
  u16 &edit(std::size_t i);

  // The lines as one vector: moved out of chunks this list alone holds,
  // copied out of shared ones. The list is empty afterwards.
  Lines take();
  // The lines as one vector, the list unchanged.
  Lines lines() const;
  // Applies a change that needs the whole vector (insert, erase, sort).
  template <typename Change>
  void change(Change change) {
    Lines all = take();
    change(all);
    *this = LineList(std::move(all));
  }

  // Whether line i is held in a chunk shared with another list.
  bool sharesLine(std::size_t i) const { return chunks_[i / kChunk].use_count() > 1; }

  friend bool operator==(const LineList &a, const LineList &b);
  friend bool operator==(const LineList &a, const Lines &b);

 private:
  std::vector<std::shared_ptr<Lines>> chunks_;
  std::size_t size_ = 0;

  Lines &ownChunk(std::size_t c);
};

}  // namespace velmora::engine

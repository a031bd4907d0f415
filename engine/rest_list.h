#pragma once
// The rest list register: the lines of the source list that the last list
// instruction did not select. A selection by a text leaves its rest
// pending (the source list, shared, and the text): the rest's lines are
// picked out only when something reads them (a split store, a joined
// selection, a sort or exchange option), so that a statement that stores
// only the selected lines pays nothing for the others. Its size is known
// at once, as the task monitor shows it.
#include <memory>

#include "engine/line_list.h"

namespace velmora::engine {

class RestList {
 public:
  RestList() = default;
  RestList(const RestList &o) : list_(o.list_), pendingSize_(o.pendingSize_) {
    if (o.pending_) pending_ = std::make_unique<Pending>(*o.pending_);
  }
  RestList &operator=(const RestList &o) {
    if (this != &o) {
      list_ = o.list_;
      pending_ = o.pending_ ? std::make_unique<Pending>(*o.pending_) : nullptr;
      pendingSize_ = o.pendingSize_;
    }
    return *this;
  }
  RestList(RestList &&) noexcept = default;
  RestList &operator=(RestList &&) noexcept = default;
  std::size_t size() const { return pending_ ? pendingSize_ : list_.size(); }
  bool empty() const { return size() == 0; }
  void clear() {
    pending_.reset();
    list_.clear();
  }
  RestList &operator=(const LineList &lines) {
    pending_.reset();
    list_ = lines;
    return *this;
  }
  RestList &operator=(const Lines &lines) { return *this = LineList(lines); }
  // The lines of `source` that do not hold `key` (compared folded when
  // `fold`), `count` of them, picked out when first read.
  void setPending(const LineList &source, u16view key, bool fold, std::size_t count);
  bool isPending() const { return pending_ != nullptr; }
  // The lines, picked out first when pending.
  LineList &get() {
    if (pending_) settle();
    return list_;
  }
  // The lines without settling (picked out afresh when pending).
  LineList lines() const { return pending_ ? pick(*pending_) : list_; }

 private:
  struct Pending {
    LineList source;
    u16 key;
    bool fold;
  };
  LineList list_;
  std::unique_ptr<Pending> pending_;
  std::size_t pendingSize_ = 0;
  void settle();
  static LineList pick(const Pending &p);
};

}  // namespace velmora::engine

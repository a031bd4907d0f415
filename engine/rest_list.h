#pragma once
// The rest list register: the lines of the source list that the last list
// instruction did not select. A selection by a text leaves its rest
// pending (the source list, shared, and the text): the rest's lines are
// picked out only when something reads them (a split store, a joined
// selection, a sort or exchange option), so that a statement that stores
// only the selected lines pays nothing for the others. Its size is known
// at once, as the task monitor shows it.
#include "engine/line_list.h"

namespace velmora::engine {

class RestList {
 public:
  std::size_t size() const { return pending_ ? pendingSize_ : list_.size(); }
  bool empty() const { return size() == 0; }
  void clear() {
    if (pending_) {
      // The source's chunks are let go; its vectors are kept for the next
      // selection's.
      source_.clear();
      key_.clear();
      pending_ = false;
    }
    list_.clear();
  }
  RestList &operator=(const LineList &lines) {
    clear();
    list_ = lines;
    return *this;
  }
  RestList &operator=(const Lines &lines) { return *this = LineList(lines); }
  // The lines of `source` that do not hold `key` (compared folded when
  // `fold`), `count` of them, picked out when first read.
  void setPending(const LineList &source, u16view key, bool fold, std::size_t count);
  bool isPending() const { return pending_; }
  // The lines, picked out first when pending.
  LineList &get() {
    if (pending_) settle();
    return list_;
  }
  // The lines without settling (picked out afresh when pending).
  LineList lines() const { return pending_ ? pick() : list_; }

 private:
  LineList list_;
  // While pending: the source (sharing its chunks) and the key.
  bool pending_ = false;
  LineList source_;
  u16 key_;
  bool fold_ = false;
  std::size_t pendingSize_ = 0;
  void settle();
  LineList pick() const;
};

}  // namespace velmora::engine

#include "engine/rest_list.h"

#include "engine/text_ops.h"

namespace velmora::engine {

void RestList::setPending(const LineList &source, u16view key, bool fold, std::size_t count) {
  list_.clear();
  if (count == 0) {
    pending_.reset();
    return;
  }
  if (!pending_) pending_ = std::make_unique<Pending>();
  pending_->source = source;
  pending_->key.assign(key);
  pending_->fold = fold;
  pendingSize_ = count;
}

void RestList::settle() {
  // The rule the selection used: a line goes to the rest when it does not
  // hold the key (both folded under the case option).
  std::unique_ptr<Pending> p = std::move(pending_);
  LineList rest;
  p->source.forEach([&](const Line &line) {
    const bool holds = p->fold ? contains(fold_case(line.view()), p->key) : contains(line.view(), p->key);
    if (!holds) rest.push_back(line);
  });
  list_.swap(rest);
}

}  // namespace velmora::engine

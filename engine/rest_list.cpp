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

LineList RestList::pick(const Pending &p) {
  // The rule the selection used: a line goes to the rest when it does not
  // hold the key (both folded under the case option).
  LineList rest;
  const Needle key(p.key);
  p.source.forEach([&](const Line &line) {
    const bool holds = p.fold ? key.in(fold_case(line.view())) : key.in(line.view());
    if (!holds) rest.push_back(line);
  });
  return rest;
}

void RestList::settle() {
  std::unique_ptr<Pending> p = std::move(pending_);
  list_ = pick(*p);
}

}  // namespace velmora::engine

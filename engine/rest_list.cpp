#include "engine/rest_list.h"

#include "engine/text_ops.h"

namespace velmora::engine {

void RestList::setPending(const LineList &source, u16view key, bool fold, std::size_t count) {
  clear();
  if (count == 0) return;
  source_ = source;
  key_.assign(key);
  fold_ = fold;
  pendingSize_ = count;
  pending_ = true;
}

LineList RestList::pick() const {
  // The rule the selection used: a line goes to the rest when it does not
  // hold the key (both folded under the case option).
  LineList rest;
  const Needle key(key_);
  source_.forEach([&](const Line &line) {
    const bool holds = fold_ ? key.in(fold_case(line.view())) : key.in(line.view());
    if (!holds) rest.push_back(line);
  });
  return rest;
}

void RestList::settle() {
  LineList rest = pick();
  clear();
  list_ = std::move(rest);
}

}  // namespace velmora::engine

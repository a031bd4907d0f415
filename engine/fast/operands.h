#pragma once
// What the handlers of all three tiers of fast forms share: reading a hot
// record's operands (variables by number, constants already converted, and
// their whole-number forms), the jump to a label, and the way to the
// family handler.
#include "engine/fast/arith.h"
#include "engine/fast/forms.h"
#include "engine/machine.h"

namespace velmora::engine::fast {

template <bool IsVar>
inline long double first(Machine &e, const HotRecord &h) {
  if constexpr (IsVar) return e.vars[h.v1].Val1;
  else return h.k1;
}

template <bool IsVar>
inline long double second(Machine &e, const HotRecord &h) {
  if constexpr (IsVar) return e.vars[h.v2].Val1;
  else return h.k2;
}

// A numeric operand as a whole number: a variable's integer form, or a
// constant's (worked out when the record was loaded).
struct Whole {
  int64_t value = 0;
  bool is = false;
};
inline Whole whole_var(const Machine &e, int32_t v) { return {e.vars[v].Val1.whole, e.vars[v].Val1.isWhole}; }
inline Whole whole_const(const TPEXE &r, int k) {
  const Operand &o = r.op[std::size_t(k)];
  return {o.whole, o.isWhole};
}

template <Relation Rel, typename T>
inline bool holds(T a, T b) {
  if constexpr (Rel == Relation::Greater) return a > b;
  else if constexpr (Rel == Relation::GreaterEqual) return a >= b;
  else if constexpr (Rel == Relation::Equal) return a == b;
  else if constexpr (Rel == Relation::Less) return a < b;
  else if constexpr (Rel == Relation::LessEqual) return a <= b;
  else return a != b;
}

// The record at a label: INSTP after it (a label outside the table, or one
// the program lacks, leaves INSTP as it is).
inline void jump_to(Machine &e, TTaskInfo &t, int32_t label) {
  const int32_t position = e.labels[std::size_t(e.current)][std::size_t(label)];
  if (position >= 0) t.INSTP = uint16_t(position + 1);
}

// The family's handler: every shape and outcome the fast form does not
// cover. Among tasks running their isolated records apart it is not
// called: the record is refused and the passes take it in their turn.
[[gnu::noinline]] void fail(Machine &e, TTaskInfo &t, int kind, const TPEXE &r);
inline void fallback(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) { fail(e, t, h.kind, r); }

// The variable a step stores into: the record after its first, or for a
// step through the calculation stack (a calculation, its pop, the store)
// the third.
inline int32_t stored_var(const HotRecord &h) { return (&h)[h.step == Form::PushPopStore ? 2 : 1].v1; }

}  // namespace velmora::engine::fast

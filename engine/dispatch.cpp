// The hot form of records: for the instructions that make up loops and
// arithmetic (loads, stores, + - * /, MOD, comparisons, jumps) a handler
// specialised for the record's operand shapes, reading variables by number
// and constants already converted. Every other record, and every shape or
// outcome the fast handlers do not cover (a pop, an unresolved name, a
// division by zero, an overflow), goes to the family's handler, which
// computes and reports exactly as it always does.
#include <cmath>

#include "engine/machine.h"
#include "engine/numeric.h"

namespace velmora::engine {

namespace {

// How a numeric operand is read in the hot form.
enum class Shape : std::uint8_t { Other, Var, Const };

Shape shape_of(const TPEXE &r, int k, int32_t &var, long double &constant) {
  const Operand &o = r.op[std::size_t(k)];
  if (o.kind == OperandKind::Const) {
    constant = o.value;
    return Shape::Const;
  }
  if (o.kind == OperandKind::Var && r.var[std::size_t(k) + 1] >= 0) {
    var = r.var[std::size_t(k) + 1];
    return Shape::Var;
  }
  return Shape::Other;
}

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

// a op b on whole numbers when the result is whole as well: no overflow,
// and no product of 0 (which long double may give as -0).
template <ArithOp Op>
inline bool whole_apply(int64_t a, int64_t b, int64_t &out) {
  bool ok;
  if constexpr (Op == ArithOp::Add) ok = !__builtin_add_overflow(a, b, &out);
  else if constexpr (Op == ArithOp::Sub) ok = !__builtin_sub_overflow(a, b, &out);
  else if constexpr (Op == ArithOp::Mul) ok = !__builtin_mul_overflow(a, b, &out) && out != 0;
  else return false;
  return ok && within_whole_limit(out);
}

// A numeric operand as a whole number: a variable's integer form, or a
// constant's (worked out once by the caller).
struct Whole {
  int64_t value = 0;
  bool is = false;
};
inline Whole whole_var(const Machine &e, int32_t v) { return {e.vars[v].Val1.whole, e.vars[v].Val1.isWhole}; }
inline Whole whole_const(const TPEXE &r, int k) {
  const Operand &o = r.op[std::size_t(k)];
  return {o.whole, o.isWhole};
}

// The family's handler: every shape and outcome the hot form does not cover.
// Among tasks running their isolated records apart it is not called: the
// record is refused and the passes take it in their turn.
[[gnu::noinline]] void fail(Machine &e, TTaskInfo &t, int kind, const TPEXE &r) {
  if (e.isolating) {
    e.refused = true;
    return;
  }
  e.handler(kind)(e, t, r);
}
inline void fallback(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) { fail(e, t, h.kind, r); }

void generic(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) { fallback(e, t, h, r); }
void nothing(Machine &, TTaskInfo &, const HotRecord &, const TPEXE &) {}

template <bool A>
void load(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  t.WORK = first<A>(e, h);
}

void assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) { e.vars[h.v1].Val1 = t.WORK; }

template <ArithOp Op>
inline long double apply(long double a, long double b) {
  if constexpr (Op == ArithOp::Add) return a + b;
  else if constexpr (Op == ArithOp::Sub) return a - b;
  else if constexpr (Op == ArithOp::Mul) return a * b;
  else return a / b;
}

// WORK := a op b; a result that is not finite, or a division by zero, is
// the family handler's to report.
template <ArithOp Op, bool A, bool B>
void binary(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  const long double a = first<A>(e, h), b = second<B>(e, h);
  if constexpr (Op == ArithOp::Div)
    if (b == 0) return fallback(e, t, h, r);
  const long double v = apply<Op>(a, b);
  if (!std::isfinite(v)) return fallback(e, t, h, r);
  t.WORK = v;
}

// variable op= WORK: += adds WORK to the variable, the others take the
// variable as the left operand.
template <ArithOp Op>
void assign_op(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  VarNumber &x = e.vars[h.v1].Val1;
  if constexpr (Op == ArithOp::Div)
    if (t.WORK == 0) return fallback(e, t, h, r);
  const long double v = Op == ArithOp::Add ? t.WORK + x : apply<Op>(x, t.WORK);
  if (!std::isfinite(v)) return fallback(e, t, h, r);
  x = v;
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

template <Relation Rel, bool A, bool B>
void compare(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  t.FLAG = holds<Rel>(first<A>(e, h), second<B>(e, h)) != h.negated;
}

template <bool A>
void compare_work(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  t.FLAG = relation(first<A>(e, h), Relation(h.oper), t.WORK) != h.negated;
}

template <bool A, bool B>
void mod(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  const int64_t a = truncate_to_int64(first<A>(e, h));
  const int64_t b = truncate_to_int64(second<B>(e, h));
  if (b == 0) return fallback(e, t, h, r);
  t.WORK = b == -1 ? 0 : static_cast<long double>(a % b);
}

inline void jump_to(Machine &e, TTaskInfo &t, int32_t label) {
  const int32_t position = e.labels[std::size_t(e.current)][std::size_t(label)];
  if (position >= 0) t.INSTP = uint16_t(position + 1);
}

void jump(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) { jump_to(e, t, h.v1); }
void jump_if_true(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  if (t.FLAG) jump_to(e, t, h.v1);
}
void jump_if_false(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  if (!t.FLAG) jump_to(e, t, h.v1);
}

// CALL of a function found when linked; an unknown function or a full call
// stack is the family handler's to report.
void call(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  if (t.STACKP >= kCallStack - 1) return fallback(e, t, h, r);
  ++t.STACKP;
  e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)] = t.INSTP;
  t.INSTP = uint16_t(h.v1 + 1);
}

// RET; a RET without a CALL is the family handler's to report.
void ret(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  if (t.STACKP < 0) return fallback(e, t, h, r);
  t.INSTP = uint16_t(e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)]);
  --t.STACKP;
}

// ----- the calculation stack: the steps of an expression push their values
// and the statement's load pops the last (X = A + B is a step, a pop and a
// store).

// WORK := a op b, pushed; a full stack, like a failed calculation, is the
// family handler's to report.
template <ArithOp Op, bool A, bool B>
void step_push(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  const long double a = first<A>(e, h), b = second<B>(e, h);
  if constexpr (Op == ArithOp::Div)
    if (b == 0) return fallback(e, t, h, r);
  const long double v = apply<Op>(a, b);
  if (!std::isfinite(v) || t.CalcIndex >= kCalcStack - 1) return fallback(e, t, h, r);
  t.WORK = v;
  e.calcStack[std::size_t(e.current)][std::size_t(++t.CalcIndex)] = v;
}

// A step with an operand (or two) popped from the stack, the others
// variables or constants (X = A * B + C: the second step pops the first's
// value). The operands are read without popping first, so that a failure
// leaves the stack to the family handler, which pops and reports; two pops
// take the right operand first.
template <ArithOp Op>
void step_popping(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  const auto &stack = e.calcStack[std::size_t(e.current)];
  int top = t.CalcIndex;
  auto operand = [&](int k, int32_t var) -> long double {
    const Operand &o = r.op[std::size_t(k)];
    if (o.kind == OperandKind::Const) return o.value;
    if (o.kind == OperandKind::Var) return e.vars[var].Val1;
    return top < 0 ? 0.0L : stack[std::size_t(top--)];
  };
  long double a = operand(2, h.v1);
  long double b = operand(4, h.v2);
  if (r.op[2].kind == OperandKind::Pop && r.op[4].kind == OperandKind::Pop) std::swap(a, b);
  if constexpr (Op == ArithOp::Div)
    if (b == 0) return fallback(e, t, h, r);
  const long double v = apply<Op>(a, b);
  if (!std::isfinite(v) || top >= kCalcStack - 1) return fallback(e, t, h, r);
  t.WORK = v;
  t.CalcIndex = top + 1;
  e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex)] = v;
}

// WORK := the value on top of the stack, popped (0 from an empty stack).
void load_pop(Machine &e, TTaskInfo &t, const HotRecord &, const TPEXE &) {
  if (t.CalcIndex < 0) {
    t.WORK = 0;
    return;
  }
  t.WORK = e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex--)];
}

// The instantiation for two operand shapes (Var or Const each).
template <template <bool, bool> class F>
HotHandler pick2(Shape a, Shape b) {
  if (a == Shape::Var) return b == Shape::Var ? F<true, true>::fn : F<true, false>::fn;
  return b == Shape::Var ? F<false, true>::fn : F<false, false>::fn;
}

template <Relation Rel>
struct Compare {
  template <bool A, bool B>
  struct With {
    static constexpr HotHandler fn = compare<Rel, A, B>;
  };
};

HotHandler pick_compare(Relation rel, Shape a, Shape b) {
  switch (rel) {
    case Relation::Greater: return pick2<Compare<Relation::Greater>::With>(a, b);
    case Relation::GreaterEqual: return pick2<Compare<Relation::GreaterEqual>::With>(a, b);
    case Relation::Equal: return pick2<Compare<Relation::Equal>::With>(a, b);
    case Relation::Less: return pick2<Compare<Relation::Less>::With>(a, b);
    case Relation::LessEqual: return pick2<Compare<Relation::LessEqual>::With>(a, b);
    case Relation::NotEqual: return pick2<Compare<Relation::NotEqual>::With>(a, b);
    case Relation::None: break;
  }
  return nullptr;
}
template <bool A, bool B>
struct Mod {
  static constexpr HotHandler fn = mod<A, B>;
};
template <ArithOp Op>
struct Binary {
  template <bool A, bool B>
  struct With {
    static constexpr HotHandler fn = binary<Op, A, B>;
  };
};

HotHandler pick_binary(ArithOp op, Shape a, Shape b) {
  switch (op) {
    case ArithOp::Add: return pick2<Binary<ArithOp::Add>::With>(a, b);
    case ArithOp::Sub: return pick2<Binary<ArithOp::Sub>::With>(a, b);
    case ArithOp::Mul: return pick2<Binary<ArithOp::Mul>::With>(a, b);
    case ArithOp::Div: return pick2<Binary<ArithOp::Div>::With>(a, b);
    default: return nullptr;
  }
}

template <ArithOp Op>
struct StepPush {
  template <bool A, bool B>
  struct With {
    static constexpr HotHandler fn = step_push<Op, A, B>;
  };
};

HotHandler pick_step_popping(ArithOp op) {
  switch (op) {
    case ArithOp::Add: return step_popping<ArithOp::Add>;
    case ArithOp::Sub: return step_popping<ArithOp::Sub>;
    case ArithOp::Mul: return step_popping<ArithOp::Mul>;
    case ArithOp::Div: return step_popping<ArithOp::Div>;
    default: return nullptr;
  }
}

HotHandler pick_step_push(ArithOp op, Shape a, Shape b) {
  switch (op) {
    case ArithOp::Add: return pick2<StepPush<ArithOp::Add>::With>(a, b);
    case ArithOp::Sub: return pick2<StepPush<ArithOp::Sub>::With>(a, b);
    case ArithOp::Mul: return pick2<StepPush<ArithOp::Mul>::With>(a, b);
    case ArithOp::Div: return pick2<StepPush<ArithOp::Div>::With>(a, b);
    default: return nullptr;
  }
}

// ----- pairs, run by a task that runs alone: the second record's own hot
// form stays in place for a jump, a return or a step that lands on it. On
// entry INSTP is the first record's position + 1.

// A comparison and the conditional jump after it.
template <Relation Rel, bool A, bool B>
int compare_jump(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  const Whole a = A ? whole_var(e, h.v1) : whole_const(r, 2), b = B ? whole_var(e, h.v2) : whole_const(r, 5);
  const bool flag =
      (a.is && b.is ? holds<Rel>(a.value, b.value) : holds<Rel>(first<A>(e, h), second<B>(e, h))) != h.negated;
  t.FLAG = flag;
  e.stepLast = t.INSTP;
  ++t.INSTP;
  if (flag == h.jumpIfTrue) jump_to(e, t, h.v3);
  return 2;
}

// WORK := a op b, then a store of WORK into a variable.
template <ArithOp Op, bool A, bool B>
int binary_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  if constexpr (Op != ArithOp::Div) {
    const Whole a = A ? whole_var(e, h.v1) : whole_const(r, 2);
    const Whole b = B ? whole_var(e, h.v2) : whole_const(r, 4);
    int64_t out;
    if (a.is && b.is && whole_apply<Op>(a.value, b.value, out)) {
      e.vars[h.v3].Val1.setWhole(out);
      t.WORK = static_cast<long double>(out);
      e.stepLast = t.INSTP;
      ++t.INSTP;
      return 2;
    }
  }
  const long double a = first<A>(e, h), b = second<B>(e, h);
  if constexpr (Op == ArithOp::Div)
    if (b == 0) return e.stepLast = t.INSTP - 1, fallback(e, t, h, r), 1;
  const long double v = apply<Op>(a, b);
  if (!std::isfinite(v)) return e.stepLast = t.INSTP - 1, fallback(e, t, h, r), 1;
  t.WORK = v;
  e.stepLast = t.INSTP;
  ++t.INSTP;
  e.vars[h.v3].Val1 = v;
  return 2;
}

// Where an operand of a whole round comes from: the loop's counter, the
// body's variable, or a value that the round does not change (a constant or
// another variable).
enum class From : std::uint8_t { Counter, Target, Fixed };

struct WholeOperand {
  From from = From::Fixed;
  int64_t fixed = 0;
};

// What the body of a loop run in whole rounds does to its variable X: X = a
// op b (a compound assignment X op= Y is X = X op Y, or Y + X), X = MOD(a, b)
// or X = a.
enum class BodyOp : std::uint8_t { Add, Sub, Mul, Mod, Copy };

// A counting loop whose body is one statement of whole-number arithmetic
// into one variable (written in the loop or as the only statement of a
// called function), as its records run on whole numbers: the loop goes on
// while lo <= counter <= hi, and the step adds `step` to the counter.
struct WholeLoop {
  int64_t lo = 1, hi = 0, step = 0;
  WholeOperand a, b;  // the body's operands
};

// a op b as the body's records compute it when both are whole; false when
// the result is not (an overflow, a product of 0, a MOD by 0 or of numbers
// whose truncation saturates): the records then take the round.
template <BodyOp Op>
inline bool body_apply(int64_t a, int64_t b, int64_t &out) {
  if constexpr (Op == BodyOp::Add) return whole_apply<ArithOp::Add>(a, b, out);
  else if constexpr (Op == BodyOp::Sub) return whole_apply<ArithOp::Sub>(a, b, out);
  else if constexpr (Op == BodyOp::Mul) return whole_apply<ArithOp::Mul>(a, b, out);
  else if constexpr (Op == BodyOp::Copy) return out = a, true;
  else {
    constexpr int64_t kSaturates = 9200000000000000000LL;
    if (b == 0 || a <= -kSaturates || a >= kSaturates || b <= -kSaturates || b >= kSaturates) return false;
    out = b == -1 ? 0 : a % b;
    return within_whole_limit(out);
  }
}

// The counters for which a comparison `counter rel limit` lets the loop go
// on (`leaveWhen`: the outcome that leaves it), as an interval; false when
// they are not one (!=).
bool going_on(Relation rel, int64_t limit, bool leaveWhen, int64_t &lo, int64_t &hi) {
  constexpr int64_t kMin = INT64_MIN, kMax = INT64_MAX;
  if (leaveWhen) {  // goes on while the relation does not hold
    switch (rel) {
      case Relation::Greater: rel = Relation::LessEqual; break;
      case Relation::GreaterEqual: rel = Relation::Less; break;
      case Relation::Less: rel = Relation::GreaterEqual; break;
      case Relation::LessEqual: rel = Relation::Greater; break;
      case Relation::NotEqual: rel = Relation::Equal; break;
      default: return false;
    }
  }
  lo = kMin;
  hi = kMax;
  switch (rel) {
    case Relation::Greater:
      if (limit == kMax) {  // never: an empty interval
        lo = kMax;
        hi = kMin;
      } else {
        lo = limit + 1;
      }
      return true;
    case Relation::GreaterEqual: lo = limit; return true;
    case Relation::Less:
      if (limit == kMin) {  // never: an empty interval
        lo = kMax;
        hi = kMin;
      } else {
        hi = limit - 1;
      }
      return true;
    case Relation::LessEqual: hi = limit; return true;
    case Relation::Equal: lo = hi = limit; return true;
    default: return false;
  }
}

// b rel a for a rel b.
Relation mirrored(Relation rel) {
  switch (rel) {
    case Relation::Greater: return Relation::Less;
    case Relation::GreaterEqual: return Relation::LessEqual;
    case Relation::Less: return Relation::Greater;
    case Relation::LessEqual: return Relation::GreaterEqual;
    default: return rel;
  }
}

// Whole rounds of such a loop, in registers: the comparison (the loop goes
// on), the body and the step, for at most `rounds` rounds. A round runs here
// only when all of it stays on whole numbers and inside the loop; the round
// that would leave, overflow or lose exactness is left to the records. The
// counter and the body's variable come in and go out in `counter` and
// `target`; returns the rounds run.
template <BodyOp Op, From FromA, From FromB>
long whole_rounds(const WholeLoop &w, int64_t &counter, int64_t &target, long rounds) {
  int64_t c = counter, s = target;
  const int64_t lo = w.lo, hi = w.hi, step = w.step, fixedA = w.a.fixed, fixedB = w.b.fixed;
  long n = 0;
  for (; n < rounds; ++n) {
    if (c < lo || c > hi) break;
    const int64_t a = FromA == From::Counter ? c : FromA == From::Target ? s : fixedA;
    const int64_t b = FromB == From::Counter ? c : FromB == From::Target ? s : fixedB;
    int64_t s2, c2;
    if (!body_apply<Op>(a, b, s2)) break;
    if (!whole_apply<ArithOp::Add>(c, step, c2)) break;
    c = c2;
    s = s2;
  }
  counter = c;
  target = s;
  return n;
}

template <BodyOp Op, From FromA>
long whole_rounds_b(const WholeLoop &w, int64_t &counter, int64_t &target, long rounds) {
  if constexpr (Op == BodyOp::Copy) return whole_rounds<Op, FromA, From::Fixed>(w, counter, target, rounds);
  switch (w.b.from) {
    case From::Counter: return whole_rounds<Op, FromA, From::Counter>(w, counter, target, rounds);
    case From::Target: return whole_rounds<Op, FromA, From::Target>(w, counter, target, rounds);
    case From::Fixed: return whole_rounds<Op, FromA, From::Fixed>(w, counter, target, rounds);
  }
  return 0;
}

template <BodyOp Op>
long whole_rounds_a(const WholeLoop &w, int64_t &counter, int64_t &target, long rounds) {
  switch (w.a.from) {
    case From::Counter: return whole_rounds_b<Op, From::Counter>(w, counter, target, rounds);
    case From::Target: return whole_rounds_b<Op, From::Target>(w, counter, target, rounds);
    case From::Fixed: return whole_rounds_b<Op, From::Fixed>(w, counter, target, rounds);
  }
  return 0;
}

long whole_rounds_of(BodyOp op, const WholeLoop &w, int64_t &counter, int64_t &target, long rounds) {
  switch (op) {
    case BodyOp::Add: return whole_rounds_a<BodyOp::Add>(w, counter, target, rounds);
    case BodyOp::Sub: return whole_rounds_a<BodyOp::Sub>(w, counter, target, rounds);
    case BodyOp::Mul: return whole_rounds_a<BodyOp::Mul>(w, counter, target, rounds);
    case BodyOp::Mod: return whole_rounds_a<BodyOp::Mod>(w, counter, target, rounds);
    case BodyOp::Copy: return whole_rounds_a<BodyOp::Copy>(w, counter, target, rounds);
  }
  return 0;
}

template <ArithOp Op, bool A>
int load_assign_op(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long);
template <ArithOp Op, bool A, bool B>
int binary_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long);
template <bool A, bool B>
int mod_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long);
template <bool A>
int load_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long);
template <ArithOp Op, bool A, bool B, bool Store>
int step_pop(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget);

// The statement a body's records make (two, or three for a step, its pop
// and the store), read from the handler of the first: what it does, whether
// it is a compound assignment (X op= Y), and where its operands are (a
// variable, or the constant at that field of the first record; -1: none).
struct BodyShape {
  PairHandler pair;
  BodyOp op;
  bool compound;
  bool aIsVar, bIsVar;
  int8_t aField, bField;
  int8_t records = 2;
};

const BodyShape *body_shape(PairHandler pair) {
  static constexpr BodyShape kShapes[] = {
      {load_assign_op<ArithOp::Add, true>, BodyOp::Add, true, true, false, 1, -1},
      {load_assign_op<ArithOp::Add, false>, BodyOp::Add, true, false, false, 1, -1},
      {load_assign_op<ArithOp::Sub, true>, BodyOp::Sub, true, true, false, 1, -1},
      {load_assign_op<ArithOp::Sub, false>, BodyOp::Sub, true, false, false, 1, -1},
      {load_assign_op<ArithOp::Mul, true>, BodyOp::Mul, true, true, false, 1, -1},
      {load_assign_op<ArithOp::Mul, false>, BodyOp::Mul, true, false, false, 1, -1},
      {binary_assign<ArithOp::Add, true, true>, BodyOp::Add, false, true, true, 2, 4},
      {binary_assign<ArithOp::Add, true, false>, BodyOp::Add, false, true, false, 2, 4},
      {binary_assign<ArithOp::Add, false, true>, BodyOp::Add, false, false, true, 2, 4},
      {binary_assign<ArithOp::Add, false, false>, BodyOp::Add, false, false, false, 2, 4},
      {binary_assign<ArithOp::Sub, true, true>, BodyOp::Sub, false, true, true, 2, 4},
      {binary_assign<ArithOp::Sub, true, false>, BodyOp::Sub, false, true, false, 2, 4},
      {binary_assign<ArithOp::Sub, false, true>, BodyOp::Sub, false, false, true, 2, 4},
      {binary_assign<ArithOp::Sub, false, false>, BodyOp::Sub, false, false, false, 2, 4},
      {binary_assign<ArithOp::Mul, true, true>, BodyOp::Mul, false, true, true, 2, 4},
      {binary_assign<ArithOp::Mul, true, false>, BodyOp::Mul, false, true, false, 2, 4},
      {binary_assign<ArithOp::Mul, false, true>, BodyOp::Mul, false, false, true, 2, 4},
      {binary_assign<ArithOp::Mul, false, false>, BodyOp::Mul, false, false, false, 2, 4},
      {mod_assign<true, true>, BodyOp::Mod, false, true, true, 1, 3},
      {mod_assign<true, false>, BodyOp::Mod, false, true, false, 1, 3},
      {mod_assign<false, true>, BodyOp::Mod, false, false, true, 1, 3},
      {mod_assign<false, false>, BodyOp::Mod, false, false, false, 1, 3},
      {load_assign<true>, BodyOp::Copy, false, true, false, 1, -1},
      {load_assign<false>, BodyOp::Copy, false, false, false, 1, -1},
      {step_pop<ArithOp::Add, true, true, true>, BodyOp::Add, false, true, true, 2, 4, 3},
      {step_pop<ArithOp::Add, true, false, true>, BodyOp::Add, false, true, false, 2, 4, 3},
      {step_pop<ArithOp::Add, false, true, true>, BodyOp::Add, false, false, true, 2, 4, 3},
      {step_pop<ArithOp::Sub, true, true, true>, BodyOp::Sub, false, true, true, 2, 4, 3},
      {step_pop<ArithOp::Sub, true, false, true>, BodyOp::Sub, false, true, false, 2, 4, 3},
      {step_pop<ArithOp::Sub, false, true, true>, BodyOp::Sub, false, false, true, 2, 4, 3},
      {step_pop<ArithOp::Mul, true, true, true>, BodyOp::Mul, false, true, true, 2, 4, 3},
      {step_pop<ArithOp::Mul, true, false, true>, BodyOp::Mul, false, true, false, 2, 4, 3},
      {step_pop<ArithOp::Mul, false, true, true>, BodyOp::Mul, false, false, true, 2, 4, 3},
  };
  for (const BodyShape &k : kShapes)
    if (k.pair == pair) return &k;
  return nullptr;
}

// The rounds of a counting loop whose body is one statement of whole-number
// arithmetic (`body`, a pair of records: see BodyShape) run whole in
// registers, for at most `rounds` rounds, while everything they read is a
// whole number; `constants` are the step's and the comparison's constant
// operands. The body's variable is written back; the counter comes in and
// goes out in `counterNow`. Returns the rounds run.
template <ArithOp Op, bool A, bool B>
[[gnu::noinline]] long whole_loop(Machine &e, const HotRecord &h, const HotRecord &c, const BodyShape *shape,
                                  const HotRecord &body, const TPEXE &bodyRecord, const std::array<Whole, 4> &constants,
                                  int64_t &counterNow, long rounds) {
  const int32_t counterVar = h.v3, targetVar = body.v3;
  if (targetVar == counterVar) return 0;
  VarNumber &x = e.vars[targetVar].Val1;
  bool whole = true;
  auto operand = [&](bool isVar, int32_t var, Whole constant) {
    WholeOperand o;
    if (!isVar) {
      whole = whole && constant.is;
      o.fixed = constant.value;
    } else if (var == counterVar) {
      o.from = From::Counter;
    } else if (var == targetVar) {
      o.from = From::Target;
      whole = whole && x.isWhole;
    } else {
      const Whole value = whole_var(e, var);
      whole = whole && value.is;
      o.fixed = value.value;
    }
    return o;
  };
  auto bodyConstant = [&](int field) { return field < 0 ? Whole{0, true} : whole_const(bodyRecord, field); };
  const WholeOperand stepA = operand(A, h.v1, constants[0]), stepB = operand(B, h.v2, constants[1]);
  const WholeOperand compareA = operand(c.v1 >= 0, c.v1, constants[2]);
  const WholeOperand compareB = operand(c.v2 >= 0, c.v2, constants[3]);
  const bool leaveWhen = c.jumpIfTrue != c.negated;  // the comparison's outcome that leaves
  const Relation rel = Relation(c.oper);
  WholeLoop w;
  const WholeOperand first = operand(shape->aIsVar, body.v1, bodyConstant(shape->aField));
  const WholeOperand second = operand(shape->bIsVar, body.v2, bodyConstant(shape->bField));
  if (shape->compound) {  // X op= Y: Y + X, X - Y, X * Y
    WholeOperand own;
    own.from = From::Target;
    whole = whole && x.isWhole;
    w.a = shape->op == BodyOp::Add ? first : own;
    w.b = shape->op == BodyOp::Add ? own : first;
  } else {
    w.a = first;
    w.b = second;
  }
  // The step: the counter plus (or minus) a value the round does not change.
  if (Op == ArithOp::Add && stepA.from == From::Counter && stepB.from == From::Fixed) w.step = stepB.fixed;
  else if (Op == ArithOp::Add && stepA.from == From::Fixed && stepB.from == From::Counter) w.step = stepA.fixed;
  else if (Op == ArithOp::Sub && stepA.from == From::Counter && stepB.from == From::Fixed && stepB.fixed != INT64_MIN)
    w.step = -stepB.fixed;
  else return 0;
  // The comparison: the counter against a value the round does not change.
  if (compareA.from == From::Counter && compareB.from == From::Fixed)
    whole = whole && going_on(rel, compareB.fixed, leaveWhen, w.lo, w.hi);
  else if (compareA.from == From::Fixed && compareB.from == From::Counter)
    whole = whole && going_on(mirrored(rel), compareA.fixed, leaveWhen, w.lo, w.hi);
  else return 0;
  if (!whole) return 0;
  int64_t targetNow = x.isWhole ? x.whole : 0;  // read only when whole
  const long ran = whole_rounds_of(shape->op, w, counterNow, targetNow, rounds);
  if (ran > 0) x.setWhole(targetNow);
  return ran;
}

// The body of a counting loop from `at`, its records run as the passes run
// them (labels take a pass and note nothing), until the step at `position`
// is next. False when something ends the step first: a record for its
// family's handler, the end of the list or of the budget, a task that no
// longer runs; the task's INSTP is then where the passes go on.
inline bool run_body(Machine &e, TTaskInfo &t, const HotRecord *hots, const TPEXE *records, std::size_t size, int at,
                     int position, long budget, long &done) {
  while (at != position) {
    if (budget - done < 1 || at >= int(size)) {
      t.INSTP = uint16_t(at);
      return false;
    }
    const HotRecord &b = hots[at];
    if (!b.run) {
      ++done;
      ++at;
      continue;
    }
    if (!b.fast) {
      t.INSTP = uint16_t(at);
      return false;
    }
    t.INSTP = uint16_t(at + 1);
    if (b.pair && budget - done >= 2) {
      done += b.pair(e, t, b, records[at], budget - done);
    } else {
      b.run(e, t, b, records[at]);
      ++done;
      e.stepLast = at;
    }
    if (t.state != tsACTIVE) return false;
    at = t.INSTP;
  }
  t.INSTP = uint16_t(position);
  return true;
}

// The calculation of a loop's step and its store: on the integers while
// both operands and the result are whole. False when it fails (a division
// by zero, a result that is not finite): the family handler reports it.
template <ArithOp Op, bool A, bool B>
inline bool step_calculate(Machine &e, TTaskInfo &t, const HotRecord &h, Whole ka, Whole kb, VarNumber &counter,
                           Whole &stored, long double &v) {
  if constexpr (Op != ArithOp::Div) {
    const Whole a = A ? whole_var(e, h.v1) : ka, b = B ? whole_var(e, h.v2) : kb;
    if (a.is && b.is && whole_apply<Op>(a.value, b.value, stored.value)) {
      stored.is = true;
      counter.setWhole(stored.value);
      v = static_cast<long double>(stored.value);
      t.WORK = v;
      return true;
    }
  }
  const long double a = first<A>(e, h), b = second<B>(e, h);
  if constexpr (Op == ArithOp::Div)
    if (b == 0) return false;
  v = apply<Op>(a, b);
  if (!std::isfinite(v)) return false;
  counter = v;
  stored = {counter.whole, counter.isWhole};
  t.WORK = v;
  return true;
}

// The rounds of a counting loop after its step has run and jumped back to
// `target`, the label before the comparison (see step_jump); `body` is the
// body when it is one paired record, `stored` and `v` what the step stored.
template <ArithOp Op, bool A, bool B>
[[gnu::noinline]] int step_rounds(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget,
                                  int position, int target, const HotRecord *body, Whole stored, long double v) {
  const HotRecord *hots = &h - position;
  const Whole ka = A ? Whole{} : whole_const(r, 2), kb = B ? Whole{} : whole_const(r, 4);
  VarNumber &counter = e.vars[h.v3].Val1;
  auto calculate = [&](long double &out) { return step_calculate<Op, A, B>(e, t, h, ka, kb, counter, stored, out); };
  const int compare = target + 1, bodyAt = compare + 2;
  const std::size_t size = e.hot[std::size_t(t.PcodeListNo)].size();
  const HotRecord &c = hots[compare];
  // A body that calls a function whose first statement is paired runs the
  // call, that statement and the RET after it here as well.
  const HotRecord *callee = nullptr;
  int entry = 0;
  if (body && body->kind == opCALL && bodyAt + 1 == position) {
    entry = body->v1 + 1;
    if (std::size_t(entry) + 1 < size && hots[entry].pair && hots[entry].fast) callee = &hots[entry];
  }
  int32_t *stack = e.callStack[std::size_t(e.current)].data();
  const TPEXE *records = &r - position;
  const Relation relation_ = Relation(c.oper);
  // The counter the step has just stored is compared as the value still in
  // hand: reading it back from the variable just written waits on the store.
  const bool counterFirst = c.v1 >= 0 && c.v1 == h.v3, counterSecond = c.v2 >= 0 && c.v2 == h.v3;
  const TPEXE &cr = records[compare];
  const Whole ca = c.v1 >= 0 ? Whole{} : whole_const(cr, 2), cb = c.v2 >= 0 ? Whole{} : whole_const(cr, 5);
  long done = 3;
  if constexpr (Op != ArithOp::Div) {
    // A body that is one statement of arithmetic into a variable (a pair of
    // records), in the loop and coming back to the step, or as the only
    // statement of a called function: while everything its rounds read is a
    // whole number, they run in registers, and what the last of them leaves
    // is written back.
    const HotRecord *single = nullptr;  // the statement's first record
    const TPEXE *singleRecord = nullptr;
    const BodyShape *shape = nullptr;
    long perRound = 0;
    if (body && stored.is) {
      const HotRecord *first = callee ? callee : body->kind != opCALL ? body : nullptr;
      shape = first ? body_shape(first->pair) : nullptr;
      // A statement through the stack needs room on it, as its push does.
      if (shape && shape->records == 3 && t.CalcIndex >= kCalcStack - 1) shape = nullptr;
      if (shape && !callee && bodyAt + shape->records == position) {
        single = body;
        singleRecord = &records[bodyAt];
        perRound = 5 + shape->records;  // comparison, jump, the statement, calculation, store, jump
      } else if (shape && callee && std::size_t(entry + shape->records) < size &&
                 hots[entry + shape->records].kind == opRET && hots[entry + shape->records].fast &&
                 t.STACKP < kCallStack - 1) {
        single = callee;
        singleRecord = &records[entry];
        perRound = 7 + shape->records;  // and the call and its RET
      }
    }
    if (single && budget - done >= perRound + 2) {
      int64_t counterNow = stored.value;
      const long ran = whole_loop<Op, A, B>(e, h, c, shape, *single, *singleRecord, {ka, kb, ca, cb}, counterNow,
                                            (budget - done - 2) / perRound);
      if (ran > 0) {
        done += ran * perRound;
        counter.setWhole(counterNow);
        stored = {counterNow, true};
        v = static_cast<long double>(counterNow);
        t.WORK = v;
        t.FLAG = !c.jumpIfTrue;
        e.stepLast = position + 2;
        if (single == callee) stack[t.STACKP + 1] = position;  // the calls' return point, as they leave it
        if (shape->records == 3)                               // the statement's value, left on the stack by its push
          e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex + 1)] = e.vars[single->v3].Val1;
      }
    }
  }
  for (;;) {
    // The comparison and its conditional jump (budget - done >= 2 here).
    const Whole wa = counterFirst ? stored : c.v1 >= 0 ? whole_var(e, c.v1) : ca;
    const Whole wb = counterSecond ? stored : c.v2 >= 0 ? whole_var(e, c.v2) : cb;
    bool holds;
    if (wa.is && wb.is) {
      holds = relation(wa.value, relation_, wb.value);
    } else {
      const long double a = counterFirst ? v : c.v1 >= 0 ? e.vars[c.v1].Val1 : c.k1;
      const long double b = counterSecond ? v : c.v2 >= 0 ? e.vars[c.v2].Val1 : c.k2;
      holds = relation(a, relation_, b);
    }
    const bool flag = holds != c.negated;
    t.FLAG = flag;
    done += 2;
    if (flag == c.jumpIfTrue) {
      e.stepLast = compare + 1;
      t.INSTP = uint16_t(compare + 2);
      jump_to(e, t, c.v3);
      return int(done);
    }
    if (bodyAt != position) {
      if (budget - done < 2) {
        e.stepLast = compare + 1;
        t.INSTP = uint16_t(bodyAt);
        return int(done);
      }
      if (callee && budget - done >= 4 && t.STACKP < kCallStack - 1) {
        e.stepLast = bodyAt;
        ++t.STACKP;
        stack[t.STACKP] = position;
        t.INSTP = uint16_t(entry + 1);
        done += 1 + callee->pair(e, t, *callee, records[entry], budget - done - 1);
        const int next = t.INSTP;
        if (t.state != tsACTIVE || budget - done < 1 || std::size_t(next) >= size || hots[next].kind != opRET ||
            t.STACKP < 0)
          return int(done);
        t.INSTP = uint16_t(stack[t.STACKP]);
        --t.STACKP;
        e.stepLast = next;
        ++done;
        if (t.INSTP != position) return int(done);
      } else if (e.isolating) {
        t.INSTP = uint16_t(bodyAt + 1);
        done += body->pair(e, t, *body, records[bodyAt], budget - done);
        if (t.INSTP != position || t.state != tsACTIVE || e.refused) return int(done);
      } else {
        if (!run_body(e, t, hots, records, size, bodyAt, position, budget, done)) return int(done);
      }
    }
    // The step again: calculation, store, jump.
    if (budget - done < 2) {
      if (bodyAt == position) e.stepLast = compare + 1;
      t.INSTP = uint16_t(position);
      return int(done);
    }
    if (!calculate(v)) {
      e.stepLast = position;
      t.INSTP = uint16_t(position + 1);
      return fallback(e, t, h, r), int(done + 1);
    }
    if (budget - done < 3) {
      e.stepLast = position + 1;
      t.INSTP = uint16_t(position + 2);
      return int(done + 2);
    }
    done += 3;
    if (budget - done < 2) {
      e.stepLast = position + 2;
      t.INSTP = uint16_t(target + 1);
      return int(done);
    }
  }
}

// The step of a counting loop: a calculation, its store and the jump back
// to the loop's label (three records), then, when the budget allows, the
// comparison and conditional jump that follow the label (two more): five
// passes in one dispatch. When the comparison lets the body run and the
// body is one record with a step of its own that comes back here (a
// one-statement body: a load and its store, a call of a short function),
// the body runs too and the loop goes round again, as long as the budget
// holds a whole step. Chosen when the three records follow each other; the
// comparison is taken only if the label leads to a paired comparison when
// the step runs. On entry INSTP is the calculation's position + 1.
template <ArithOp Op, bool A, bool B>
int step_jump(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  const int position = t.INSTP - 1;
  const HotRecord *hots = &h - position;
  // The calculation and its store: on the integers while both operands
  // and the result are whole.
  const Whole ka = A ? Whole{} : whole_const(r, 2), kb = B ? Whole{} : whole_const(r, 4);
  VarNumber &counter = e.vars[h.v3].Val1;
  Whole stored;  // the value stored, as a whole number
  auto calculate = [&](long double &out) { return step_calculate<Op, A, B>(e, t, h, ka, kb, counter, stored, out); };
  long double v;
  if (!calculate(v)) {
    e.stepLast = position;
    return fallback(e, t, h, r), 1;
  }
  if (budget < 3) {
    e.stepLast = position + 1;
    t.INSTP = uint16_t(position + 2);
    return 2;
  }
  // The jump (position + 2), as jump() runs it.
  e.stepLast = position + 2;
  const int32_t target = e.labels[std::size_t(e.current)][std::size_t(hots[position + 2].v1)];
  if (target < 0) {
    t.INSTP = uint16_t(position + 3);
    return 3;
  }
  t.INSTP = uint16_t(target + 1);
  if (budget < 5) return 3;
  // The label is skipped; the record after it runs if it is a paired
  // comparison (never a break record or anything else).
  const int compare = target + 1;
  const std::size_t size = e.hot[std::size_t(t.PcodeListNo)].size();
  if (std::size_t(compare) >= size) return 3;  // a label at the end
  const HotRecord &c = hots[compare];
  if (c.kind != opCOMPARE || !c.pair) return 3;
  // What the loop's round depends on stays as it is while it runs (only a
  // record that is not fast changes a list or its links): the comparison,
  // and the body, which runs here when it is one paired record that comes
  // back to this step (and, among isolated runs, is isolated itself).
  const int bodyAt = compare + 2;
  const HotRecord *body = nullptr;
  if (bodyAt != position && std::size_t(bodyAt) + 1 < size && hots[bodyAt].pair && hots[bodyAt].fast &&
      (!e.isolating || (hots[bodyAt].isolated && hots[bodyAt + 1].isolated)))
    body = &hots[bodyAt];
  // A lone task runs a body that starts with fast records here, one record
  // after another as the passes would, until the step comes round again.
  // Otherwise (and among isolated runs, for a body that is not one paired
  // record) the comparison and its jump run as their own pair, and the
  // round ends.
  auto startsFast = [&] {  // the body's first record after any labels is fast
    std::size_t at = std::size_t(bodyAt);
    while (at < size && !hots[at].run) ++at;
    return at < size && hots[at].fast;
  };
  const bool runsBody = body || (!e.isolating && bodyAt != position && startsFast());
  if (!runsBody && bodyAt != position) {
    t.INSTP = uint16_t(compare + 1);
    return 3 + c.pair(e, t, c, (&r - position)[compare], budget - 3);
  }
  return step_rounds<Op, A, B>(e, t, h, r, budget, position, target, body, stored, v);
}

// A call of a function whose first statement is a paired step, that step,
// and the RET right after it, in one dispatch within the budget. On entry
// INSTP is the call's position + 1.
int call_body(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  const int position = t.INSTP - 1;
  e.stepLast = position;
  if (t.STACKP >= kCallStack - 1) return fallback(e, t, h, r), 1;
  int32_t *stack = e.callStack[std::size_t(e.current)].data();
  ++t.STACKP;
  stack[t.STACKP] = t.INSTP;
  const int entry = h.v1 + 1;
  t.INSTP = uint16_t(entry);
  const std::size_t size = e.hot[std::size_t(t.PcodeListNo)].size();
  if (budget < 3 || std::size_t(entry) + 1 >= size) return 1;
  const HotRecord &body = (&h)[entry - position];
  if (!body.pair || !body.fast) return 1;
  t.INSTP = uint16_t(entry + 1);
  const int n = 1 + body.pair(e, t, body, (&r)[entry - position], budget - 1);
  const int next = t.INSTP;
  if (n >= budget || t.state != tsACTIVE || std::size_t(next) >= size) return n;
  const HotRecord &ret = (&h)[next - position];
  if (ret.kind != opRET || !ret.fast || t.STACKP < 0) return n;
  t.INSTP = uint16_t(stack[t.STACKP]);
  --t.STACKP;
  e.stepLast = next;
  return n + 1;
}

// An expression's last step and the pop of its value, and with Store the
// store after them (X = A op B): the value is left on the stack where the
// push put it, as the records leave it, and WORK holds it.
template <ArithOp Op, bool A, bool B, bool Store>
int step_pop(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  const int position = t.INSTP - 1;
  long double v;
  int64_t whole = 0;
  bool isWhole = false;
  if constexpr (Op != ArithOp::Div) {
    const Whole a = A ? whole_var(e, h.v1) : whole_const(r, 2), b = B ? whole_var(e, h.v2) : whole_const(r, 4);
    isWhole = a.is && b.is && whole_apply<Op>(a.value, b.value, whole);
  }
  if (isWhole) {
    v = static_cast<long double>(whole);
  } else {
    const long double a = first<A>(e, h), b = second<B>(e, h);
    if constexpr (Op == ArithOp::Div)
      if (b == 0) return e.stepLast = position, fallback(e, t, h, r), 1;
    v = apply<Op>(a, b);
    if (!std::isfinite(v)) return e.stepLast = position, fallback(e, t, h, r), 1;
  }
  if (t.CalcIndex >= kCalcStack - 1) return e.stepLast = position, fallback(e, t, h, r), 1;
  e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex + 1)] = v;  // pushed and popped
  t.WORK = v;
  if (!Store || budget < 3) {
    e.stepLast = position + 1;
    t.INSTP = uint16_t(position + 2);
    return 2;
  }
  e.stepLast = position + 2;
  t.INSTP = uint16_t(position + 3);
  VarNumber &x = e.vars[h.v3].Val1;
  if (isWhole) x.setWhole(whole);
  else x = v;
  return 3;
}

// The pop of an expression's value and its store.
int pop_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  load_pop(e, t, h, r);
  e.stepLast = t.INSTP;
  ++t.INSTP;
  e.vars[h.v3].Val1 = t.WORK;
  return 2;
}

template <bool A, bool B>
int mod_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  // A whole operand is its own truncation, short of where truncation
  // saturates.
  constexpr int64_t kSaturates = 9200000000000000000LL;
  auto own = [](Whole w) { return w.is && w.value > -kSaturates && w.value < kSaturates; };
  const Whole wa = A ? whole_var(e, h.v1) : whole_const(r, 1), wb = B ? whole_var(e, h.v2) : whole_const(r, 3);
  const int64_t a = own(wa) ? wa.value : truncate_to_int64(first<A>(e, h));
  const int64_t b = own(wb) ? wb.value : truncate_to_int64(second<B>(e, h));
  if (b == 0) return e.stepLast = t.INSTP - 1, fallback(e, t, h, r), 1;
  const int64_t v = b == -1 ? 0 : a % b;
  t.WORK = static_cast<long double>(v);
  e.stepLast = t.INSTP;
  ++t.INSTP;
  if (within_whole_limit(v)) e.vars[h.v3].Val1.setWhole(v);
  else e.vars[h.v3].Val1 = static_cast<long double>(v);
  return 2;
}

template <bool A>
int load_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &, long) {
  e.stepLast = t.INSTP;
  ++t.INSTP;
  if constexpr (A) {
    const Whole w = whole_var(e, h.v1);
    if (w.is) {
      t.WORK = static_cast<long double>(w.value);
      e.vars[h.v3].Val1.setWhole(w.value);
      return 2;
    }
  }
  const long double v = first<A>(e, h);
  t.WORK = v;
  e.vars[h.v3].Val1 = v;
  return 2;
}

// A load and a compound assignment of it (X += 1).
template <ArithOp Op, bool A>
int load_assign_op(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  e.stepLast = t.INSTP;
  ++t.INSTP;
  VarNumber &x = e.vars[h.v3].Val1;
  if constexpr (A) {
    const Whole w = whole_var(e, h.v1);
    if (w.is) {
      t.WORK = static_cast<long double>(w.value);
      int64_t out;
      if (x.isWhole &&
          whole_apply<Op>(Op == ArithOp::Add ? w.value : x.whole, Op == ArithOp::Add ? x.whole : w.value, out)) {
        x.setWhole(out);
        return 2;
      }
    } else {
      t.WORK = first<A>(e, h);
    }
  } else {
    t.WORK = first<A>(e, h);
  }
  const TPEXE &next = (&r)[1];
  if constexpr (Op == ArithOp::Div)
    if (t.WORK == 0) return fail(e, t, next.kind, next), 2;
  const long double v = Op == ArithOp::Add ? t.WORK + x : apply<Op>(x, t.WORK);
  if (!std::isfinite(v)) return fail(e, t, next.kind, next), 2;
  x = v;
  return 2;
}

template <Relation Rel>
struct CompareJump {
  template <bool A, bool B>
  struct With {
    static constexpr PairHandler fn = compare_jump<Rel, A, B>;
  };
};
template <ArithOp Op>
struct BinaryAssign {
  template <bool A, bool B>
  struct With {
    static constexpr PairHandler fn = binary_assign<Op, A, B>;
  };
};
template <ArithOp Op>
struct StepJump {
  template <bool A, bool B>
  struct With {
    static constexpr PairHandler fn = step_jump<Op, A, B>;
  };
};
template <bool A, bool B>
struct ModAssign {
  static constexpr PairHandler fn = mod_assign<A, B>;
};

template <template <bool, bool> class F>
PairHandler pair2(bool a, bool b) {
  if (a) return b ? F<true, true>::fn : F<true, false>::fn;
  return b ? F<false, true>::fn : F<false, false>::fn;
}

template <ArithOp Op, bool Store>
struct StepPop {
  template <bool A, bool B>
  struct With {
    static constexpr PairHandler fn = step_pop<Op, A, B, Store>;
  };
};

template <bool Store>
PairHandler pick_step_pop(ArithOp op, bool a, bool b) {
  switch (op) {
    case ArithOp::Add: return pair2<StepPop<ArithOp::Add, Store>::template With>(a, b);
    case ArithOp::Sub: return pair2<StepPop<ArithOp::Sub, Store>::template With>(a, b);
    case ArithOp::Mul: return pair2<StepPop<ArithOp::Mul, Store>::template With>(a, b);
    case ArithOp::Div: return pair2<StepPop<ArithOp::Div, Store>::template With>(a, b);
    default: return nullptr;
  }
}

PairHandler pick_compare_jump(Relation rel, bool a, bool b) {
  switch (rel) {
    case Relation::Greater: return pair2<CompareJump<Relation::Greater>::With>(a, b);
    case Relation::GreaterEqual: return pair2<CompareJump<Relation::GreaterEqual>::With>(a, b);
    case Relation::Equal: return pair2<CompareJump<Relation::Equal>::With>(a, b);
    case Relation::Less: return pair2<CompareJump<Relation::Less>::With>(a, b);
    case Relation::LessEqual: return pair2<CompareJump<Relation::LessEqual>::With>(a, b);
    case Relation::NotEqual: return pair2<CompareJump<Relation::NotEqual>::With>(a, b);
    case Relation::None: break;
  }
  return nullptr;
}

PairHandler pick_binary_assign(ArithOp op, bool a, bool b) {
  switch (op) {
    case ArithOp::Add: return pair2<BinaryAssign<ArithOp::Add>::With>(a, b);
    case ArithOp::Sub: return pair2<BinaryAssign<ArithOp::Sub>::With>(a, b);
    case ArithOp::Mul: return pair2<BinaryAssign<ArithOp::Mul>::With>(a, b);
    case ArithOp::Div: return pair2<BinaryAssign<ArithOp::Div>::With>(a, b);
    default: return nullptr;
  }
}

PairHandler pick_step_jump(ArithOp op, bool a, bool b) {
  switch (op) {
    case ArithOp::Add: return pair2<StepJump<ArithOp::Add>::With>(a, b);
    case ArithOp::Sub: return pair2<StepJump<ArithOp::Sub>::With>(a, b);
    case ArithOp::Mul: return pair2<StepJump<ArithOp::Mul>::With>(a, b);
    case ArithOp::Div: return pair2<StepJump<ArithOp::Div>::With>(a, b);
    default: return nullptr;
  }
}

template <bool A>
PairHandler pick_load_assign_op(ArithOp op) {
  switch (op) {
    case ArithOp::Add: return load_assign_op<ArithOp::Add, A>;
    case ArithOp::Sub: return load_assign_op<ArithOp::Sub, A>;
    case ArithOp::Mul: return load_assign_op<ArithOp::Mul, A>;
    case ArithOp::Div: return load_assign_op<ArithOp::Div, A>;
    default: return nullptr;
  }
}

// Whether a fast step reads its operands from variables and constants only
// (none popped).
bool step_operands_held(const HotRecord &h) {
  return h.run != step_popping<ArithOp::Add> && h.run != step_popping<ArithOp::Sub> &&
         h.run != step_popping<ArithOp::Mul> && h.run != step_popping<ArithOp::Div>;
}

// The pair handler for a fast record followed by a fast one (and, for the
// step of a loop, a jump after them), or nullptr.
PairHandler pair_of(const HotRecord &h, const HotRecord &next, const TPEXE &nextRecord, const HotRecord *third) {
  const bool a = h.v1 >= 0, b = h.v2 >= 0;  // variable or constant operands
  switch (h.kind) {
    case opCOMPARE:
      if ((next.kind == opJMP_IF_TRUE || next.kind == opJMP_IF_FALSE) && nextRecord.label >= 0 &&
          nextRecord.label < kLabels)
        return pick_compare_jump(Relation(h.oper), a, b);
      break;
    case opBINARY:
      if (next.kind != opASSIGN) break;
      if (third && third->kind == opJMP && third->fast && third->v1 >= 0) return pick_step_jump(ArithOp(h.oper), a, b);
      return pick_binary_assign(ArithOp(h.oper), a, b);
    case opMOD:
      if (next.kind == opASSIGN) return pair2<ModAssign>(a, b);
      break;
    case opSTEP:
      if (next.run != load_pop || !step_operands_held(h)) break;
      if (third && third->kind == opASSIGN && third->fast) return pick_step_pop<true>(ArithOp(h.oper), a, b);
      return pick_step_pop<false>(ArithOp(h.oper), a, b);
    case opLOAD:
    case opLOAD_VALUE:
      if (h.run == load_pop) return next.kind == opASSIGN ? pop_assign : nullptr;
      if (next.kind == opASSIGN) return a ? load_assign<true> : load_assign<false>;
      if (next.kind == opASSIGN_OP)
        return a ? pick_load_assign_op<true>(ArithOp(next.oper)) : pick_load_assign_op<false>(ArithOp(next.oper));
      break;
    default: break;
  }
  return nullptr;
}

}  // namespace

void pair_hot(std::vector<HotRecord> &hot, const PcodeList &records) {
  for (std::size_t p = 0; p + 1 < hot.size(); ++p) {
    HotRecord &h = hot[p];
    const HotRecord &next = hot[p + 1];
    h.pair = nullptr;
    if (h.kind == opCALL && h.fast) {
      h.pair = call_body;
      continue;
    }
    if (!h.fast || !next.fast) {
      h.pair = text_step_of(hot, records, p);  // string statements (fused_text.cpp)
      continue;
    }
    const HotRecord *third = p + 2 < hot.size() ? &hot[p + 2] : nullptr;
    h.pair = pair_of(h, next, records[p + 1], third);
    if (!h.pair) continue;
    h.v3 = next.v1;  // the store's variable or the jump's label
    if (h.kind == opSTEP) h.v3 = p + 2 < hot.size() && hot[p + 2].kind == opASSIGN ? hot[p + 2].v1 : -1;
    h.jumpIfTrue = next.kind == opJMP_IF_TRUE;
  }
}

HotRecord make_hot(const TPEXE &r, Handler family) {
  HotRecord h;
  h.kind = int16_t(r.kind);
  const std::uint32_t flags = instruction_flags(r.kind);
  if (flags & (ifLabel | ifFunction)) return h;  // run stays nullptr
  h.run = family ? generic : nothing;
  if (!family) return h;
  Shape a = Shape::Other, b = Shape::Other;
  HotHandler fast = nullptr;
  switch (r.kind) {
    case opLOAD:
    case opLOAD_VALUE:
      if (r.op[1].kind == OperandKind::Pop) {
        fast = load_pop;
        break;
      }
      a = shape_of(r, 1, h.v1, h.k1);
      if (a != Shape::Other) fast = a == Shape::Var ? load<true> : load<false>;
      break;
    case opSTEP:
      a = shape_of(r, 2, h.v1, h.k1);
      b = shape_of(r, 4, h.v2, h.k2);
      h.oper = std::uint8_t(r.arith);
      if (a != Shape::Other && b != Shape::Other) {
        fast = pick_step_push(r.arith, a, b);
      } else {
        // Operands popped from the stack, the others variables or constants.
        auto usable = [&](int k, Shape shape) {
          return shape != Shape::Other || r.op[std::size_t(k)].kind == OperandKind::Pop;
        };
        if (usable(2, a) && usable(4, b)) fast = pick_step_popping(r.arith);
      }
      break;
    case opASSIGN:
      h.v1 = r.var[1];
      if (h.v1 >= 0) fast = assign;
      break;
    case opASSIGN_OP:
      h.v1 = r.var[1];
      h.oper = std::uint8_t(r.arith);
      if (h.v1 < 0) break;
      if (r.arith == ArithOp::Add) fast = assign_op<ArithOp::Add>;
      else if (r.arith == ArithOp::Sub) fast = assign_op<ArithOp::Sub>;
      else if (r.arith == ArithOp::Mul) fast = assign_op<ArithOp::Mul>;
      else if (r.arith == ArithOp::Div) fast = assign_op<ArithOp::Div>;
      break;
    case opBINARY:
      a = shape_of(r, 2, h.v1, h.k1);
      b = shape_of(r, 4, h.v2, h.k2);
      h.oper = std::uint8_t(r.arith);
      if (a != Shape::Other && b != Shape::Other) fast = pick_binary(r.arith, a, b);
      break;
    case opCOMPARE:
      a = shape_of(r, 2, h.v1, h.k1);
      b = shape_of(r, 5, h.v2, h.k2);
      h.oper = std::uint8_t(r.relation);
      h.negated = r.negated;
      if (a != Shape::Other && b != Shape::Other && r.relation != Relation::None) fast = pick_compare(r.relation, a, b);
      break;
    case opCOMPARE_WORK:
      a = shape_of(r, 2, h.v1, h.k1);
      h.oper = std::uint8_t(r.relation);
      h.negated = r.negated;
      if (a != Shape::Other && r.relation != Relation::None)
        fast = a == Shape::Var ? compare_work<true> : compare_work<false>;
      break;
    case opMOD:
      a = shape_of(r, 1, h.v1, h.k1);
      b = shape_of(r, 3, h.v2, h.k2);
      if (a != Shape::Other && b != Shape::Other) fast = pick2<Mod>(a, b);
      break;
    case opJMP:
    case opJMP_IF_TRUE:
    case opJMP_IF_FALSE:
      // A label number outside the table makes the jump do nothing.
      if (r.label < 0 || r.label >= kLabels) {
        fast = nothing;
        break;
      }
      h.v1 = r.label;
      fast = r.kind == opJMP ? jump : r.kind == opJMP_IF_TRUE ? jump_if_true : jump_if_false;
      break;
    case opCALL:
      // -2: not linked yet, -1: no such function; both go to the family handler.
      if (r.label >= 0) {
        h.v1 = r.label;
        fast = call;
      }
      break;
    case opRET: fast = ret; break;
    default: break;
  }
  if (fast) {
    h.run = fast;
    h.fast = true;
  }
  return h;
}

}  // namespace velmora::engine

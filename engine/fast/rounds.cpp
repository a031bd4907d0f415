// Fast forms of the rounds tier: the step of a counting loop (its
// calculation, store and jump back, then the comparison after the label)
// runs the loop round after round in one dispatch while the budget holds:
// a body of fast records in place, record by record as the passes would
// (body_rounds), and a body of one arithmetic statement on 64-bit integers
// in registers while everything it reads stays whole (whole_rounds). The
// contract is stated in fast/forms.h.
#include "engine/fast/lines.h"
#include "engine/fast/operands.h"
#include "engine/fast/steps.h"

namespace velmora::engine {

namespace {

using namespace fast;

// Where an operand of a whole round comes from: the loop's counter, the
// body's variable, or a value that the round does not change (a constant or
// another variable).
enum class From : std::uint8_t { Counter, Target, Fixed };

struct WholeOperand {
  From from = From::Fixed;
  int64_t fixed = 0;
};

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
  if constexpr (Op == BodyOp::Add) return arith::whole<ArithOp::Add>(a, b, out);
  else if constexpr (Op == BodyOp::Sub) return arith::whole<ArithOp::Sub>(a, b, out);
  else if constexpr (Op == BodyOp::Mul) return arith::whole<ArithOp::Mul>(a, b, out);
  else if constexpr (Op == BodyOp::Copy) return out = a, true;
  else return arith::own_truncation(a) && arith::own_truncation(b) && arith::mod(a, b, out) && within_whole_limit(out);
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

// The counter's step (the counter plus or minus a value the round does not
// change) and the interval of counters for which the comparison (the
// counter against such a value) lets the loop go on; false when the loop
// counts in another way.
bool counting(ArithOp op, WholeOperand stepA, WholeOperand stepB, WholeOperand compareA, WholeOperand compareB,
              Relation rel, bool leaveWhen, WholeLoop &w) {
  if (op == ArithOp::Add && stepA.from == From::Counter && stepB.from == From::Fixed) w.step = stepB.fixed;
  else if (op == ArithOp::Add && stepA.from == From::Fixed && stepB.from == From::Counter) w.step = stepA.fixed;
  else if (op == ArithOp::Sub && stepA.from == From::Counter && stepB.from == From::Fixed && stepB.fixed != INT64_MIN)
    w.step = -stepB.fixed;
  else return false;
  if (compareA.from == From::Counter && compareB.from == From::Fixed)
    return going_on(rel, compareB.fixed, leaveWhen, w.lo, w.hi);
  if (compareA.from == From::Fixed && compareB.from == From::Counter)
    return going_on(mirrored(rel), compareA.fixed, leaveWhen, w.lo, w.hi);
  return false;
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
    if (!arith::whole<ArithOp::Add>(c, step, c2)) break;
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

// The rounds of a counting loop whose body is one statement of whole-number
// arithmetic (`body`, a step of records: see BodyStatement) run whole in
// registers, for at most `rounds` rounds, while everything they read is a
// whole number; `constants` are the step's and the comparison's constant
// operands. The body's variable is written back; the counter comes in and
// goes out in `counterNow`. Returns the rounds run.
template <ArithOp Op, bool A, bool B>
[[gnu::noinline]] long whole_loop(Machine &e, const HotRecord &h, const HotRecord &c, const BodyStatement *shape,
                                  const HotRecord &body, const TPEXE &bodyRecord, const std::array<Whole, 4> &constants,
                                  int64_t &counterNow, long rounds) {
  const int32_t counterVar = (&h)[1].v1, targetVar = stored_var(body);
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
  if (!whole || !counting(Op, stepA, stepB, compareA, compareB, rel, leaveWhen, w)) return 0;
  int64_t targetNow = x.isWhole ? x.whole : 0;  // read only when whole
  const long ran = whole_rounds_of(shape->op, w, counterNow, targetNow, rounds);
  if (ran > 0) x.setWhole(targetNow);
  e.formHits[std::size_t(Form::WholeRounds)] += std::uint64_t(ran);
  return ran;
}

// What a loop body of one statement on a line does (see line_pair).
enum class LineBody : std::uint8_t { Read, Put, Append };

// Rounds of a counting loop whose body is such a statement, the counter
// in a register (as for whole_rounds), for at most `rounds` rounds: the
// line index is the counter or a value the round does not change. A round
// runs only when the counter's step stays whole and the statement's guard
// holds (no pending join, nothing to escape), checked before its effects.
template <LineBody K, bool IndexIsCounter>
long line_rounds(TTaskInfo &t, const WholeLoop &w, int64_t &counter, long fixedIndex, LineList &list, StrValue *text,
                 const StrValue *constText, long rounds) {
  int64_t c = counter;
  long n = 0;
  for (; n < rounds; ++n) {
    if (c < w.lo || c > w.hi) break;
    int64_t next;
    if (!arith::whole<ArithOp::Add>(c, w.step, next)) break;
    const long index = IndexIsCounter ? line_number(true, c, 0) : fixedIndex;
    bool done;
    if constexpr (K == LineBody::Read) done = line_read(t, list, index, *text);
    else if constexpr (K == LineBody::Put) done = line_put(t, gotten(constText, text), list, index);
    else done = line_append(t, gotten(constText, text), list);
    if (!done) break;
    c = next;
  }
  counter = c;
  return n;
}

// The rounds of a counting loop whose body is one statement on a line
// (its two records at `body`), while the counter and the values the loop
// compares it with and steps it by are whole; the counter comes in and goes
// out in `counterNow`. Returns the rounds run.
template <ArithOp Op, bool A, bool B>
[[gnu::noinline]] long line_loop(Machine &e, TTaskInfo &t, const HotRecord &h, const HotRecord &c, const TPEXE *body,
                                 const std::array<Whole, 4> &constants, int64_t &counterNow, long rounds) {
  const int32_t counterVar = (&h)[1].v1;
  bool whole = true;
  auto operand = [&](bool isVar, int32_t var, Whole constant) {
    WholeOperand o;
    if (!isVar) {
      whole = whole && constant.is;
      o.fixed = constant.value;
    } else if (var == counterVar) {
      o.from = From::Counter;
    } else {
      const Whole value = whole_var(e, var);
      whole = whole && value.is;
      o.fixed = value.value;
    }
    return o;
  };
  const WholeOperand stepA = operand(A, h.v1, constants[0]), stepB = operand(B, h.v2, constants[1]);
  const WholeOperand compareA = operand(c.v1 >= 0, c.v1, constants[2]);
  const WholeOperand compareB = operand(c.v2 >= 0, c.v2, constants[3]);
  WholeLoop w;
  if (!whole || !counting(Op, stepA, stepB, compareA, compareB, Relation(c.oper), c.jumpIfTrue != c.negated, w))
    return 0;
  const TPEXE &a = body[0], &b = body[1];
  // The line index: the counter, or a value no round changes (the body
  // writes no number).
  const TPEXE *indexed = b.kind == opVAR_STORE ? &a : b.kind == opLIST_ELEMENT_STORE ? &b : nullptr;
  bool byCounter = false;
  long fixed = 0;
  if (indexed) {
    const Operand &o = indexed->op[3];
    const int32_t var = o.kind == OperandKind::Var ? indexed->var[4] : -1;
    if (var == counterVar) byCounter = true;
    else fixed = var >= 0 ? line_number(e.vars[var].Val1) : line_number(o.isWhole, o.whole, o.value);
  }
  LineList &list = e.vars[(b.kind == opVAR_STORE ? a : b).var[2]].StrList;
  const StrValue *constText = nullptr;
  StrValue *text = nullptr;
  if (b.kind == opVAR_STORE) text = &e.vars[b.var[2]].StrVal;
  else if (a.op[1].kind == OperandKind::StrConst) constText = &a.constValue(1);
  else text = &e.vars[a.var[2]].StrVal;
  long ran = 0;
  switch (b.kind) {
    case opVAR_STORE:
      ran = byCounter ? line_rounds<LineBody::Read, true>(t, w, counterNow, 0, list, text, nullptr, rounds)
                      : line_rounds<LineBody::Read, false>(t, w, counterNow, fixed, list, text, nullptr, rounds);
      break;
    case opLIST_ELEMENT_STORE:
      ran = byCounter ? line_rounds<LineBody::Put, true>(t, w, counterNow, 0, list, text, constText, rounds)
                      : line_rounds<LineBody::Put, false>(t, w, counterNow, fixed, list, text, constText, rounds);
      break;
    case opLIST_ADD_LINE:
      ran = line_rounds<LineBody::Append, false>(t, w, counterNow, 0, list, text, constText, rounds);
      break;
    default: break;
  }
  e.formHits[std::size_t(Form::LineRounds)] += std::uint64_t(ran);
  return ran;
}

// Whether the body of a counting loop, from `bodyAt` up to the step at
// `position`, is one statement on a line of two records.
bool line_body(const HotRecord *hots, int bodyAt, int position) {
  if (bodyAt + 2 != position) return false;
  const HotRecord &b = hots[bodyAt];
  return b.pair && (b.step == Form::LineRead || b.step == Form::LinePut) && b.stepRecords == 2;
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
    if (!b.fast()) {
      t.INSTP = uint16_t(at);
      return false;
    }
    t.INSTP = uint16_t(at + 1);
    if (b.pair && budget - done >= 2) {
      ++e.formHits[std::size_t(b.step)];
      done += b.pair(e, t, b, records[at], budget - done);
    } else {
      ++e.formHits[std::size_t(b.form)];
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
    if (a.is && b.is && arith::whole<Op>(a.value, b.value, stored.value)) {
      stored.is = true;
      counter.setWhole(stored.value);
      v = static_cast<long double>(stored.value);
      t.WORK = v;
      return true;
    }
  }
  if (arith::compute<Op>(first<A>(e, h), second<B>(e, h), v) != arith::Fault::None) return false;
  counter = v;
  stored = {counter.whole, counter.isWhole};
  t.WORK = v;
  return true;
}

// The rounds of a counting loop after its step has run and jumped back to
// `target`, the label before the comparison (see step_jump); `body` is the
// body when it is one paired record, `stored` and `v` what the step stored.
template <ArithOp Op, bool A, bool B, bool Lines>
[[gnu::noinline]] int step_rounds(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget,
                                  int position, int target, const HotRecord *body, bool lineBody, Whole stored,
                                  long double v) {
  const HotRecord *hots = &h - position;
  const Whole ka = A ? Whole{} : whole_const(r, 2), kb = B ? Whole{} : whole_const(r, 4);
  VarNumber &counter = e.vars[(&h)[1].v1].Val1;
  auto calculate = [&](long double &out) { return step_calculate<Op, A, B>(e, t, h, ka, kb, counter, stored, out); };
  const int compare = target + 1, bodyAt = compare + 2;
  const std::size_t size = e.hot[std::size_t(t.PcodeListNo)].size();
  const HotRecord &c = hots[compare];
  // A body that calls a function whose first statement is paired runs the
  // call, that statement and the RET after it here as well.
  const HotRecord *callee = nullptr;
  int entry = 0;
  if (body && body->form == Form::Call && bodyAt + 1 == position) {
    entry = body->v1 + 1;
    if (std::size_t(entry) + 1 < size && hots[entry].pair && hots[entry].fast()) callee = &hots[entry];
  }
  int32_t *stack = e.callStack[std::size_t(e.current)].data();
  const TPEXE *records = &r - position;
  const Relation relation_ = Relation(c.oper);
  // The counter the step has just stored is compared as the value still in
  // hand: reading it back from the variable just written waits on the store.
  const int32_t counterVar = (&h)[1].v1;
  const bool counterFirst = c.v1 >= 0 && c.v1 == counterVar, counterSecond = c.v2 >= 0 && c.v2 == counterVar;
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
    BodyStatement statement;
    const BodyStatement *shape = nullptr;
    long perRound = 0;
    if (body && stored.is) {
      const HotRecord *first = callee ? callee : body->form != Form::Call ? body : nullptr;
      shape = first && body_statement(*first, statement) ? &statement : nullptr;
      // A statement through the stack needs room on it, as its push does.
      if (shape && shape->records == 3 && t.CalcIndex >= kCalcStack - 1) shape = nullptr;
      if (shape && !callee && bodyAt + shape->records == position) {
        single = body;
        singleRecord = &records[bodyAt];
        perRound = 5 + shape->records;  // comparison, jump, the statement, calculation, store, jump
      } else if (shape && callee && std::size_t(entry + shape->records) < size &&
                 hots[entry + shape->records].kind == opRET && hots[entry + shape->records].fast() &&
                 t.STACKP < kCallStack - 1) {
        single = callee;
        singleRecord = &records[entry];
        perRound = 7 + shape->records;  // and the call and its RET
      }
    }
    // After whole rounds ran on the counter in a register: the counter, the
    // comparison's result and the position as one round by records leaves them.
    auto rounds_taken = [&](long ran, long cost, int64_t counterNow) {
      done += ran * cost;
      counter.setWhole(counterNow);
      stored = {counterNow, true};
      v = static_cast<long double>(counterNow);
      t.WORK = v;
      t.FLAG = !c.jumpIfTrue;
      e.stepLast = position + 2;
    };
    if (single && budget - done >= perRound + 2) {
      int64_t counterNow = stored.value;
      const long ran = whole_loop<Op, A, B>(e, h, c, shape, *single, *singleRecord, {ka, kb, ca, cb}, counterNow,
                                            (budget - done - 2) / perRound);
      if (ran > 0) {
        rounds_taken(ran, perRound, counterNow);
        if (single == callee) stack[t.STACKP + 1] = position;  // the calls' return point, as they leave it
        if (shape->records == 3)                               // the statement's value, left on the stack by its push
          e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex + 1)] = e.vars[stored_var(*single)].Val1;
      }
    }
    // A body of one statement on a line: comparison, jump, its two records,
    // calculation, store, jump.
    constexpr long kLineRound = 7;
    if (Lines && lineBody && stored.is && !e.isolating && budget - done >= kLineRound + 2) {
      int64_t counterNow = stored.value;
      const long ran = line_loop<Op, A, B>(e, t, h, c, &records[bodyAt], {ka, kb, ca, cb}, counterNow,
                                           (budget - done - 2) / kLineRound);
      if (ran > 0) rounds_taken(ran, kLineRound, counterNow);
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
      jump_to(e, t, (&c)[1].v1);
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
        ++e.formHits[std::size_t(callee->step)];
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
        ++e.formHits[std::size_t(body->step)];
        done += body->pair(e, t, *body, records[bodyAt], budget - done);
        if (t.INSTP != position || t.state != tsACTIVE || e.refused) return int(done);
      } else {
        ++e.formHits[std::size_t(Form::BodyRounds)];
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
// the step runs. On entry INSTP is the calculation's position + 1. Lines:
// the step of a loop whose body is one statement on a line (line_rounds),
// chosen when the loops of a list are planned.
template <ArithOp Op, bool A, bool B, bool Lines>
int step_jump(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  const int position = t.INSTP - 1;
  const HotRecord *hots = &h - position;
  // The calculation and its store: on the integers while both operands
  // and the result are whole.
  const Whole ka = A ? Whole{} : whole_const(r, 2), kb = B ? Whole{} : whole_const(r, 4);
  VarNumber &counter = e.vars[(&h)[1].v1].Val1;
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
  if (c.step != Form::CompareJump) return 3;
  // What the loop's round depends on stays as it is while it runs (only a
  // record that is not fast changes a list or its links): the comparison,
  // and the body, which runs here when it is one paired record that comes
  // back to this step (and, among isolated runs, is isolated itself).
  const int bodyAt = compare + 2;
  const HotRecord *body = nullptr;
  if (bodyAt != position && std::size_t(bodyAt) + 1 < size && hots[bodyAt].pair && hots[bodyAt].fast() &&
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
    return at < size && hots[at].fast();
  };
  // A body of one statement on a line runs in its own rounds.
  const bool runsBody = body || (!e.isolating && bodyAt != position && startsFast());
  bool lineBody = false;
  if constexpr (Lines) lineBody = !runsBody && !e.isolating && line_body(hots, bodyAt, position);
  if (!runsBody && !lineBody && bodyAt != position) {
    t.INSTP = uint16_t(compare + 1);
    ++e.formHits[std::size_t(Form::CompareJump)];
    return 3 + c.pair(e, t, c, (&r - position)[compare], budget - 3);
  }
  return step_rounds<Op, A, B, Lines>(e, t, h, r, budget, position, target, body, lineBody, stored, v);
}

template <ArithOp Op, bool Lines>
struct LoopStep {
  template <bool A, bool B>
  static constexpr PairHandler fn = step_jump<Op, A, B, Lines>;
};

template <ArithOp Op, bool Lines = false>
PairHandler shapes(bool a, bool b) {
  using S = LoopStep<Op, Lines>;
  if (a) return b ? S::template fn<true, true> : S::template fn<true, false>;
  return b ? S::template fn<false, true> : S::template fn<false, false>;
}

}  // namespace

Form loop_rounds_of(const Machine &e, int slot, int position) {
  const int list = e.tasks[std::size_t(slot)].PcodeListNo;
  if (list < 0) return Form::Family;
  const std::vector<HotRecord> &hots = e.hot[std::size_t(list)];
  const int size = int(hots.size());
  if (position < 0 || position + 2 >= size || hots[std::size_t(position)].step != Form::LoopStep) return Form::Family;
  const int target = e.labels[std::size_t(slot)][std::size_t(hots[std::size_t(position + 2)].v1)];
  const int compare = target + 1, bodyAt = compare + 2;
  if (target < 0 || compare >= size || hots[std::size_t(compare)].step != Form::CompareJump) return Form::Family;
  if (bodyAt == position) return Form::Family;  // an empty body: the comparison and the step
  const HotRecord *body = bodyAt + 1 < size && hots[std::size_t(bodyAt)].pair && hots[std::size_t(bodyAt)].fast()
                              ? &hots[std::size_t(bodyAt)]
                              : nullptr;
  BodyStatement statement;
  if (body && body->form != Form::Call && body_statement(*body, statement) && bodyAt + statement.records == position)
    return Form::WholeRounds;
  if (body && body->form == Form::Call && bodyAt + 1 == position) {
    const int entry = body->v1 + 1;
    if (entry + 1 < size && hots[std::size_t(entry)].pair && hots[std::size_t(entry)].fast() &&
        body_statement(hots[std::size_t(entry)], statement) && entry + statement.records < size &&
        hots[std::size_t(entry + statement.records)].form == Form::Ret)
      return Form::WholeRounds;
  }
  if (bodyAt + 1 < size && line_body(hots.data(), bodyAt, position)) return Form::LineRounds;
  int at = bodyAt;
  while (at < size && !hots[std::size_t(at)].run) ++at;
  return body || (at < size && hots[std::size_t(at)].fast()) ? Form::BodyRounds : Form::Family;
}

PairHandler pick_line_loop_step(ArithOp op, bool a, bool b) {
  switch (op) {
    case ArithOp::Add: return shapes<ArithOp::Add, true>(a, b);
    case ArithOp::Sub: return shapes<ArithOp::Sub, true>(a, b);
    default: return nullptr;
  }
}

PairHandler pick_loop_step(ArithOp op, bool a, bool b) {
  switch (op) {
    case ArithOp::Add: return shapes<ArithOp::Add>(a, b);
    case ArithOp::Sub: return shapes<ArithOp::Sub>(a, b);
    case ArithOp::Mul: return shapes<ArithOp::Mul>(a, b);
    case ArithOp::Div: return shapes<ArithOp::Div>(a, b);
    default: return nullptr;
  }
}

}  // namespace velmora::engine

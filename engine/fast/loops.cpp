// The form loop_rounds of the rounds tier: a loop whose records from its
// head comparison to its jump back are all fast (or string statements of a
// text step), without a loop inside, runs round after round in one
// dispatch from its head. Its records are compiled once into operations,
// one per statement (a comparison and its jump, a compound assignment, a
// calculation or MOD and its store, an expression through the calculation
// stack with its pop and store) or per record, which read variables and
// constants alike as numbers with their whole forms: whole numbers on
// 64-bit integers where the result is exact, long double otherwise. A round
// runs only when the budget holds the longest round; an operation whose
// guard fails leaves the loop at its first record, for the records to run
// and report. The contract is stated in fast/forms.h.
#include "engine/fast/loops.h"

#include "engine/fast/lines.h"
#include "engine/fast/operands.h"
#include "engine/fast/steps.h"

namespace velmora::engine {

namespace {

using namespace fast;

constexpr int kMaxExpressionDepth = 8;

// The outcomes of a comparison for which it holds, one bit each: a below
// b, equal, above, and unordered (which only != takes).
std::uint8_t relation_mask(Relation rel) {
  switch (rel) {
    case Relation::Greater: return 0b0100;
    case Relation::GreaterEqual: return 0b0110;
    case Relation::Equal: return 0b0010;
    case Relation::Less: return 0b0001;
    case Relation::LessEqual: return 0b0011;
    case Relation::NotEqual: return 0b1101;
    case Relation::None: break;
  }
  return 0;
}

LoopCode arithmetic_code(LoopCode add, ArithOp op) {
  switch (op) {
    case ArithOp::Add: return add;
    case ArithOp::Sub: return LoopCode(int(add) + 1);
    case ArithOp::Mul: return LoopCode(int(add) + 2);
    case ArithOp::Div: return LoopCode(int(add) + 3);
    default: return LoopCode::Record;
  }
}

struct Compiler {
  Machine &e;
  const std::vector<HotRecord> &hots;
  const PcodeList &records;
  const std::array<int32_t, kLabels> &labels;
  LoopPlan plan;
  std::vector<int> opAt;     // the operation of each position of the loop, or -1
  std::vector<int> labelOf;  // a jump's label, until it is resolved
  int head = 0, end = 0;     // the loop: head comparison to its jump back

  // A number operand of a hot record: its variable's number, or the
  // constant at field k of its record.
  const VarNumber *operand(bool isVar, int32_t var, const TPEXE &r, int k) {
    if (isVar) return &e.vars[var].Val1;
    const Operand &o = r.op[std::size_t(k)];
    VarNumber c;
    c.value = o.value;
    c.whole = o.whole;
    c.isWhole = o.isWhole;
    plan.constants.push_back(c);
    return &plan.constants.back();
  }

  LoopOp &add(LoopCode code, int position, int count, int label = -1) {
    LoopOp op;
    op.code = code;
    op.first = position;
    op.restart = std::int32_t(plan.ops.size());
    op.records = std::int16_t(count);
    for (int p = position; p < position + count; ++p) opAt[std::size_t(p - head)] = int(plan.ops.size());
    plan.ops.push_back(op);
    labelOf.push_back(label);
    return plan.ops.back();
  }

  // Calculation steps from p, their pop and their store: an operation for
  // each step, computing into the expression's own stack of numbers (and
  // writing the calculation stack as its push does), and one for the pop
  // and the store. A failing step leaves the loop at the first.
  bool expression(int p, int &length) {
    struct Planned {
      ArithOp op;
      const VarNumber *a, *b;
      int slot;
    };
    std::vector<Planned> steps;
    int q = p, depth = 0;
    while (q <= end && (hots[std::size_t(q)].form == Form::Push || hots[std::size_t(q)].form == Form::PushPopped)) {
      const HotRecord &h = hots[std::size_t(q)];
      const TPEXE &r = records[std::size_t(q)];
      const bool aPop = r.op[2].kind == OperandKind::Pop, bPop = r.op[4].kind == OperandKind::Pop;
      const int pops = int(aPop) + int(bPop);
      if (pops > depth) return false;  // a value pushed before the statement
      Planned s{ArithOp(h.oper), nullptr, nullptr, 0};
      // Two pops take the right operand from the top.
      if (aPop && bPop) {
        s.a = &plan.scratch[std::size_t(depth - 2)];
        s.b = &plan.scratch[std::size_t(depth - 1)];
      } else {
        s.a = aPop ? &plan.scratch[std::size_t(depth - 1)] : operand(h.v1 >= 0, h.v1, r, 2);
        s.b = bPop ? &plan.scratch[std::size_t(depth - 1)] : operand(h.v2 >= 0, h.v2, r, 4);
      }
      depth -= pops;
      s.slot = depth++;
      if (depth > kMaxExpressionDepth) return false;
      steps.push_back(s);
      ++q;
    }
    if (q == p || depth != 1 || q + 1 > end || hots[std::size_t(q)].form != Form::LoadPop ||
        hots[std::size_t(q + 1)].form != Form::Store)
      return false;
    const int restart = int(plan.ops.size());
    for (std::size_t k = 0; k < steps.size(); ++k) {
      const bool last = k + 1 == steps.size();
      LoopOp &op = add(arithmetic_code(last ? LoopCode::PushStoreAdd : LoopCode::PushAdd, steps[k].op), p + int(k),
                       last ? 3 : 1);
      op.a = steps[k].a;
      op.b = steps[k].b;
      op.slot = std::int8_t(steps[k].slot);
      op.x = last ? &e.vars[hots[std::size_t(q + 1)].v1].Val1 : &plan.scratch[std::size_t(steps[k].slot)];
      op.restart = restart;
    }
    length = q + 2 - p;
    return true;
  }

  // A line index operand (the pair at k of r) as a number.
  const VarNumber *line_index(const TPEXE &r, int k) {
    const int var = r.op[std::size_t(k)].kind == OperandKind::Var ? r.var[std::size_t(k) + 1] : -1;
    return operand(var >= 0, var, r, k);
  }

  // A statement on a line of a list, two records (see line_pair).
  bool line_statement(int p, int &length) {
    const TPEXE &a = records[std::size_t(p)], &b = records[std::size_t(p + 1)];
    length = 2;
    if (b.kind == opVAR_STORE) {
      LoopOp &op = add(LoopCode::LineRead, p, 2);
      op.a = line_index(a, 3);
      op.list = &e.vars[a.var[2]].StrList;
      op.text = &e.vars[b.var[2]].StrVal;
      return true;
    }
    LoopOp &op = add(b.kind == opLIST_ADD_LINE ? LoopCode::LineAppend : LoopCode::LinePut, p, 2);
    if (b.kind == opLIST_ELEMENT_STORE) op.a = line_index(b, 3);
    op.list = &e.vars[b.var[2]].StrList;
    if (a.op[1].kind == OperandKind::StrConst) op.constText = &a.constValue(1);
    else op.text = &e.vars[a.var[2]].StrVal;
    return true;
  }

  // One statement or record from p; false when the loop cannot be compiled.
  bool statement(int p, int &length) {
    const HotRecord &h = hots[std::size_t(p)];
    const TPEXE &r = records[std::size_t(p)];
    length = 1;
    if (h.pair && !h.fast()) {  // string statements, run by their text step
      const bool lines = h.step == Form::LineRead || h.step == Form::LinePut;
      if ((h.step != Form::TextStep && h.step != Form::ZoneStep && !lines) || p + h.stepRecords - 1 > end)
        return false;
      if (lines && h.stepRecords == 2) return line_statement(p, length);
      length = h.stepRecords;
      add(LoopCode::Step, p, length);
      return true;
    }
    if (!h.fast()) return false;
    const bool a = h.v1 >= 0, b = h.v2 >= 0;
    if (h.pair && p + 1 <= end) {
      const HotRecord &next = hots[std::size_t(p + 1)];
      length = 2;
      switch (h.step) {
        case Form::CompareJump: {
          LoopOp &op = add(LoopCode::CompareJump, p, 2, next.v1);
          op.a = operand(a, h.v1, r, 2);
          op.b = operand(b, h.v2, r, 5);
          op.flagMask = relation_mask(Relation(h.oper)) ^ (h.negated ? 0b1111 : 0);
          op.jumpMask = h.jumpIfTrue ? op.flagMask : op.flagMask ^ 0b1111;
          return true;
        }
        case Form::LoadCompound: {
          LoopOp &op = add(arithmetic_code(LoopCode::CompoundAdd, ArithOp(next.oper)), p, 2);
          op.a = operand(a, h.v1, r, 1);
          op.x = &e.vars[next.v1].Val1;
          return true;
        }
        case Form::CalcStore:
        case Form::LoopStep: {  // the loop's own step: its jump back follows
          LoopOp &op = add(arithmetic_code(LoopCode::CalculateAdd, ArithOp(h.oper)), p, 2);
          op.a = operand(a, h.v1, r, 2);
          op.b = operand(b, h.v2, r, 4);
          op.x = &e.vars[next.v1].Val1;
          return true;
        }
        case Form::ModStore: {
          const Operand &divisor = r.op[3];
          const bool constant = !b && divisor.isWhole && arith::own_truncation(divisor.whole) && divisor.whole != 0 &&
                                divisor.whole != -1;
          LoopOp &op = add(constant ? LoopCode::ModConst : LoopCode::Mod, p, 2);
          op.a = operand(a, h.v1, r, 1);
          op.b = operand(b, h.v2, r, 3);
          op.divisor = divisor.whole;
          op.x = &e.vars[next.v1].Val1;
          return true;
        }
        case Form::LoadStore: {
          LoopOp &op = add(LoopCode::Copy, p, 2);
          op.a = operand(a, h.v1, r, 1);
          op.x = &e.vars[next.v1].Val1;
          return true;
        }
        case Form::PushPopStore:
          if (expression(p, length)) return true;
          break;
        default: break;
      }
      length = 1;
    }
    switch (h.form) {
      case Form::Push:
        if (expression(p, length)) return true;
        add(LoopCode::Record, p, 1);
        return true;
      case Form::Jump: {
        LoopOp &op = add(LoopCode::Jump, p, 1, h.v1);
        op.jumpMask = r.kind == opJMP ? 0 : r.kind == opJMP_IF_TRUE ? 1 : 2;
        return true;
      }
      case Form::ListSize:
        add(LoopCode::ListSize, p, 1).list = &e.vars[h.v1].StrList;
        return true;
      case Form::CompareWork: {
        LoopOp &op = add(LoopCode::CompareWork, p, 1);
        op.a = operand(a, h.v1, r, 2);
        op.flagMask = relation_mask(Relation(h.oper)) ^ (h.negated ? 0b1111 : 0);
        return true;
      }
      case Form::LineState: {
        LoopOp &op = add(LoopCode::LineState, p, 1);
        op.a = line_index(r, 4);
        op.list = &e.vars[h.v1].StrList;
        op.flagMask = h.negated;
        return true;
      }
      case Form::Call:
      case Form::Ret: return false;  // the call stack: not in a loop's rounds
      default: add(LoopCode::Record, p, 1); return true;
    }
  }

  // Where a jump from `from` to the label leads: an operation of the loop
  // (after any labels there, `landing` passes), the head (0), or out of it
  // (-1 - the position after the label); false when it leads backwards into
  // the loop (a loop inside) or nowhere.
  bool resolve(int label, int from, std::int32_t &target, std::int16_t &landing) {
    landing = 0;
    if (label < 0 || label >= kLabels) return false;
    const int position = labels[std::size_t(label)];
    if (position < 0) return false;
    const int at = position + 1;
    if (at == head) {
      target = 0;
      return true;
    }
    if (at < head || at > end) {
      target = -1 - at;
      return true;
    }
    if (at <= from) return false;
    int land = at;
    while (land <= end && hots[std::size_t(land)].form == Form::Label) ++land;
    if (land > end) {  // labels up to the loop's end: left from the first
      target = -1 - at;
      return true;
    }
    const int op = opAt[std::size_t(land - head)];
    if (op < 0 || plan.ops[std::size_t(op)].first != land) return false;
    target = op;
    landing = std::int16_t(land - at);
    return true;
  }

  bool compile() {
    opAt.assign(std::size_t(end - head + 1), -1);
    plan.head = head;
    plan.maxRound = end - head + 1;
    plan.constants.reserve(std::size_t(4 * (end - head + 1)));
    plan.scratch.resize(kMaxExpressionDepth);
    for (int p = head; p <= end;) {
      if (hots[std::size_t(p)].form == Form::Label) {
        if (plan.ops.empty()) return false;
        ++plan.ops.back().fall;
        ++p;
        continue;
      }
      int length = 1;
      if (!statement(p, length)) return false;
      p += length;
    }
    // The passes before each operation, when nothing jumps.
    std::int32_t passes = 0;
    for (LoopOp &op : plan.ops) {
      op.prefix = passes;
      passes += op.records + op.fall;
    }
    // The jumps, now that every operation has its place.
    for (std::size_t i = 0; i < plan.ops.size(); ++i) {
      LoopOp &op = plan.ops[i];
      if (op.code != LoopCode::CompareJump && op.code != LoopCode::Jump) continue;
      if (!resolve(labelOf[i], op.lastRecord(), op.target, op.landing)) return false;
      if (op.target > 0) op.jumpSkip = plan.ops[std::size_t(op.target)].prefix - (op.prefix + op.records + op.landing);
    }
    // The loop's last record is its jump back to the head.
    LoopOp &last = plan.ops.back();
    if (last.code != LoopCode::Jump || last.jumpMask != 0 || last.target != 0 || last.first != end) return false;
    last.code = LoopCode::Back;
    // A calculation right before it (a counting loop's step) goes back itself.
    if (plan.ops.size() >= 2) {
      LoopOp &step = plan.ops[plan.ops.size() - 2];
      if (step.fall == 0 && step.code >= LoopCode::CalculateAdd && step.code <= LoopCode::CalculateDiv)
        step.code = LoopCode(int(step.code) - int(LoopCode::CalculateAdd) + int(LoopCode::StepAdd));
    }
    return true;
  }
};

// ----- running the rounds

// Results move as bits where numbers are 80-bit (arith::put_bits): a
// result's bits are made once, in registers, and written to the variable,
// the calculation stack and WORK. Elsewhere they move as numbers.
using arith::kExtended80;
using arith::NumberBits;

// The number of a variable, or of an expression step's entry (whose number
// is not written while it is whole).
inline long double value_of(const VarNumber &x) { return x.isWhole ? static_cast<long double>(x.whole) : x.value; }

// `to` := the number whose bits are `b` (the value of `x`).
inline void place(long double &to, const VarNumber &x, NumberBits b) {
  if constexpr (kExtended80) arith::put_bits(to, b);
  else to = x.value;
}

// X := a whole number.
inline NumberBits set_whole(VarNumber &x, int64_t w) {
  NumberBits b;
  if constexpr (kExtended80) {
    b = arith::bits_of_whole(w);
    arith::put_bits(x.value, b);
  } else {
    x.value = static_cast<long double>(w);
  }
  x.whole = w;
  x.isWhole = true;
  return b;
}

// out := a op b, its bits in `bits`.
template <ArithOp Op>
inline bool calculate(const VarNumber &a, const VarNumber &b, VarNumber &out, NumberBits &bits) {
  int64_t w;
  if ((a.isWhole & b.isWhole) && arith::whole<Op>(a.whole, b.whole, w)) {
    bits = set_whole(out, w);
    return true;
  }
  long double v;
  if (arith::compute<Op>(value_of(a), value_of(b), v) != arith::Fault::None) return false;
  out = v;
  if constexpr (kExtended80) bits = arith::bits_of(out.value);
  return true;
}

// A step of an expression: a op b into its entry of the expression's own
// stack and of the calculation stack (which must have room, as for its
// push); false when it fails.
// `stack` is the task's calculation stack. The step's own entry keeps its
// whole number, its number only when it is not whole (see value_of).
template <ArithOp Op>
inline bool push(long double *stack, TTaskInfo &t, const LoopOp &op) {
  const int at = t.CalcIndex + 1 + op.slot;
  if (at >= kCalcStack) return false;
  VarNumber &x = *op.x;
  const VarNumber &a = *op.a, &b = *op.b;
  int64_t w;
  if ((a.isWhole & b.isWhole) && arith::whole<Op>(a.whole, b.whole, w)) {
    x.whole = w;
    x.isWhole = true;
    stack[at] = static_cast<long double>(w);
    return true;
  }
  long double v;
  if (arith::compute<Op>(value_of(a), value_of(b), v) != arith::Fault::None) return false;
  x = v;
  stack[at] = v;
  return true;
}

// An expression's last step, the pop of its value and its store: a op b
// into X, left on the calculation stack where its push put it.
template <ArithOp Op>
inline bool push_store(long double *stack, TTaskInfo &t, const LoopOp &op) {
  const int at = t.CalcIndex + 1 + op.slot;
  if (at >= kCalcStack) return false;
  VarNumber &x = *op.x;
  NumberBits bits;
  if (!calculate<Op>(*op.a, *op.b, x, bits)) return false;
  place(stack[at], x, bits);
  place(t.WORK, x, bits);
  return true;
}

// X op= a.
template <ArithOp Op>
inline bool compound(TTaskInfo &t, const LoopOp &op) {
  VarNumber &x = *op.x;
  const VarNumber &a = *op.a;
  int64_t w;
  if (a.isWhole && x.isWhole && arith::whole_compound<Op>(x.whole, a.whole, w)) {
    arith::copy_number(t.WORK, a.value);
    set_whole(x, w);
    return true;
  }
  long double v;
  if (arith::compound<Op>(x.value, a.value, v) != arith::Fault::None) return false;
  t.WORK = a.value;
  x = v;
  return true;
}

// X = a op b.
template <ArithOp Op>
inline bool calculate_store(TTaskInfo &t, const LoopOp &op) {
  VarNumber &x = *op.x;
  NumberBits bits;
  if (!calculate<Op>(*op.a, *op.b, x, bits)) return false;
  place(t.WORK, x, bits);
  return true;
}

inline void store_mod(TTaskInfo &t, VarNumber &x, int64_t w) {
  if (within_whole_limit(w)) {
    place(t.WORK, x, set_whole(x, w));
  } else {
    t.WORK = static_cast<long double>(w);
    x = t.WORK;
  }
}

// Which outcome a comparison of a and b has (its bit in the masks): 0 a
// below b, 1 equal, 2 above, 3 unordered; whole numbers on their integers.
inline unsigned outcome(const VarNumber &a, const VarNumber &b) {
  if (a.isWhole & b.isWhole) return unsigned((a.whole > b.whole) - (a.whole < b.whole) + 1);
  const long double x = a.value, y = b.value;
  return unsigned((x > y) - (x < y) + 1) + (x == x && y == y ? 0u : 2u);
}

int loop_rounds(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  LoopPlan &plan = e.plans[std::size_t(t.PcodeListNo)][std::size_t(h.plan)];
  if (e.isolating || budget < plan.maxRound) return plan.compareJump(e, t, h, r, budget);
  const HotRecord *hots = &h - plan.head;
  const TPEXE *records = &r - plan.head;
  const LoopOp *ops = plan.ops.data();
  long double *const stack = e.calcStack[std::size_t(e.current)].data();
  long base = 0, rounds = 0;  // the passes before this round
  int32_t skipped = 0;        // passes of `prefix` that this round's jumps skipped
  const LoopOp *landed = ops, *from = nullptr;
  const LoopOp *op = ops;
  long done;
  // Leaving the loop before the statement of `op` (its records, for its
  // guard failed).
  auto before = [&] {
    const LoopOp *s = ops + op->restart;
    done = base + s->prefix - skipped;
    t.INSTP = uint16_t(s->first);
    e.stepLast = s == landed && from ? from->lastRecord() : s[-1].lastRecord();
  };
  const long lastRoundAt = budget - plan.maxRound;  // a round starts only at or before it
  for (;;) {
    if (base > lastRoundAt) {
      done = base;
      t.INSTP = uint16_t(plan.head);
      e.stepLast = plan.head - 1 + plan.maxRound;  // the jump back
      break;
    }
    ++rounds;
    skipped = 0;
    op = ops;
    for (;;) {
      bool jumps = false;
      switch (op->code) {
        case LoopCode::CompareJump: {
          const unsigned bit = outcome(*op->a, *op->b);
          t.FLAG = (op->flagMask >> bit) & 1;
          jumps = (op->jumpMask >> bit) & 1;
          break;
        }
        case LoopCode::Jump: jumps = op->jumpMask == 0 || t.FLAG == (op->jumpMask == 1); break;
        case LoopCode::CompoundAdd:
          if (!compound<ArithOp::Add>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CompoundSub:
          if (!compound<ArithOp::Sub>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CompoundMul:
          if (!compound<ArithOp::Mul>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CompoundDiv:
          if (!compound<ArithOp::Div>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CalculateAdd:
          if (!calculate_store<ArithOp::Add>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CalculateSub:
          if (!calculate_store<ArithOp::Sub>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CalculateMul:
          if (!calculate_store<ArithOp::Mul>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::CalculateDiv:
          if (!calculate_store<ArithOp::Div>(t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::ModConst: {
          const VarNumber &a = *op->a;
          const int64_t ia = a.isWhole && arith::own_truncation(a.whole) ? a.whole : truncate_to_int64(a.value);
          store_mod(t, *op->x, ia % op->divisor);
          ++op;
          continue;
        }
        case LoopCode::Mod: {
          const VarNumber &a = *op->a, &b = *op->b;
          const int64_t ia = a.isWhole && arith::own_truncation(a.whole) ? a.whole : truncate_to_int64(a.value);
          const int64_t ib = b.isWhole && arith::own_truncation(b.whole) ? b.whole : truncate_to_int64(b.value);
          int64_t w;
          if (!arith::mod(ia, ib, w)) goto fail;
          store_mod(t, *op->x, w);
          ++op;
          continue;
        }
        case LoopCode::Copy: {
          const VarNumber &a = *op->a;
          arith::copy_number(t.WORK, a.value);
          *op->x = a;
          ++op;
          continue;
        }
        case LoopCode::PushAdd:
          if (!push<ArithOp::Add>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushSub:
          if (!push<ArithOp::Sub>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushMul:
          if (!push<ArithOp::Mul>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushDiv:
          if (!push<ArithOp::Div>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushStoreAdd:
          if (!push_store<ArithOp::Add>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushStoreSub:
          if (!push_store<ArithOp::Sub>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushStoreMul:
          if (!push_store<ArithOp::Mul>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::PushStoreDiv:
          if (!push_store<ArithOp::Div>(stack, t, *op)) goto fail;
          ++op;
          continue;
        case LoopCode::StepAdd:
          if (!calculate_store<ArithOp::Add>(t, *op)) goto fail;
          goto step_back;
        case LoopCode::StepSub:
          if (!calculate_store<ArithOp::Sub>(t, *op)) goto fail;
          goto step_back;
        case LoopCode::StepMul:
          if (!calculate_store<ArithOp::Mul>(t, *op)) goto fail;
          goto step_back;
        case LoopCode::StepDiv:
          if (!calculate_store<ArithOp::Div>(t, *op)) goto fail;
          goto step_back;
        case LoopCode::LineRead:
          if (!line_read(t, *op->list, line_number(*op->a), *op->text)) goto fail;
          ++op;
          continue;
        case LoopCode::LinePut:
          if (!line_put(t, gotten(op->constText, op->text), *op->list, line_number(*op->a))) goto fail;
          ++op;
          continue;
        case LoopCode::LineAppend:
          if (!line_append(t, gotten(op->constText, op->text), *op->list)) goto fail;
          ++op;
          continue;
        case LoopCode::LineState:
          if (!t.LIST_NOCASE.empty()) goto fail;  // the family's, as for the record
          line_state(t, *op->list, line_number(*op->a), op->flagMask != 0);
          ++op;
          continue;
        case LoopCode::ListSize:
          t.WORK = static_cast<long double>(op->list->size());
          ++op;
          continue;
        case LoopCode::CompareWork: {
          const long double x = value_of(*op->a), w = t.WORK;
          const unsigned bit = unsigned((x > w) - (x < w) + 1) + (x == x && w == w ? 0u : 2u);
          t.FLAG = (op->flagMask >> bit) & 1;
          ++op;
          continue;
        }
        case LoopCode::Back:  // the next round
          base += op->prefix + 1 - skipped;
          from = op;
          landed = ops;
          goto next_round;
        default: __builtin_unreachable();
        case LoopCode::Record: {
          const HotRecord &rh = hots[op->first];
          t.INSTP = uint16_t(op->first + 1);
          rh.run(e, t, rh, records[op->first]);
          if (t.state != tsACTIVE) {  // an error, reported by the family handler
            done = base + op->prefix + 1 - skipped;
            e.stepLast = op->first;
            goto out;
          }
          ++op;
          continue;
        }
        case LoopCode::Step: {
          const HotRecord &sh = hots[op->first];
          t.INSTP = uint16_t(op->first + 1);
          const int ran = sh.pair(e, t, sh, records[op->first], budget - (base + op->prefix - skipped));
          if (ran != op->records || t.state != tsACTIVE || e.errorFlag) {  // as the step left it
            done = base + op->prefix + ran - skipped;
            goto out;
          }
          ++op;
          continue;
        }
      }
      // A comparison's jump or a jump.
      if (!jumps) {
        ++op;
        continue;
      }
      if (op->target > 0) {
        skipped += op->jumpSkip;
        from = op;
        op = landed = ops + op->target;
        continue;
      }
      if (op->target == 0) {  // back to the head: the next round
        base += op->prefix + op->records - skipped;
        from = op;
        landed = ops;
        break;
      }
      // Out of the loop.
      done = base + op->prefix + op->records - skipped;
      t.INSTP = uint16_t(-1 - op->target);
      e.stepLast = op->lastRecord();
      goto out;
    fail:
      // Its guard failed: the records take it from its first, and report.
      before();
      goto out;
    step_back:
      // A counting loop's step and the jump back after it: the next round.
      ++op;
      base += op->prefix + 1 - skipped;
      from = op;
      landed = ops;
      goto next_round;
    }
  next_round:;
  }
out:
  // Every round counts (the dispatch counted the first).
  e.formHits[std::size_t(Form::LoopRounds)] += std::uint64_t(rounds - 1);
  return int(done);
}

// A loop's head that is a record of its own (a list's size, as EACH
// begins), run alone: for a budget short of a round, or among tasks run
// apart.
int head_alone(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  h.run(e, t, h, r);
  e.stepLast = t.INSTP - 1;
  return 1;
}

}  // namespace

void plan_loops(Machine &e, int list) {
  std::vector<LoopPlan> &plans = e.plans[std::size_t(list)];
  plans.clear();
  int slot = -1;
  for (int s = 0; s < kSlots; ++s)
    if (e.tasks[std::size_t(s)].PcodeListNo == list) slot = s;
  if (slot < 0) return;
  std::vector<HotRecord> &hots = e.hot[std::size_t(list)];
  const PcodeList &records = e.lists[std::size_t(list)];
  const auto &labels = e.labels[std::size_t(slot)];
  for (int j = 0; j < int(hots.size()); ++j) {
    const HotRecord &back = hots[std::size_t(j)];
    if (back.form != Form::Jump || back.kind != opJMP) continue;
    const int labelAt = labels[std::size_t(back.v1)];
    const int head = labelAt + 1;
    if (labelAt < 0 || head >= j) continue;
    // A loop begins with its comparison, or (EACH) with the size of a list
    // that the comparison after it reads.
    const HotRecord &first = hots[std::size_t(head)];
    const bool compared = first.step == Form::CompareJump;
    if (!compared && !(first.form == Form::ListSize && !first.pair)) continue;
    if (plans.size() >= std::size_t(INT16_MAX)) break;
    // A loop of one arithmetic statement, or of one statement on a line,
    // keeps its step's rounds with the counter in a register, which are
    // faster still.
    const bool stepped = j >= 2 && hots[std::size_t(j - 2)].step == Form::LoopStep;
    if (stepped) {
      const Form rounds = loop_rounds_of(e, slot, j - 2);
      if (rounds == Form::WholeRounds) continue;
      HotRecord &step = hots[std::size_t(j - 2)];
      PairHandler lines = nullptr;
      if (rounds == Form::LineRounds &&
          (lines = pick_line_loop_step(ArithOp(step.oper), step.v1 >= 0, step.v2 >= 0))) {
        step.pair = lines;
        continue;
      }
    }
    Compiler c{e, hots, records, labels, {}, {}, {}, head, j};
    if (!c.compile()) continue;
    c.plan.compareJump = compared ? first.pair : head_alone;
    HotRecord &h = hots[std::size_t(head)];
    h.plan = std::int16_t(plans.size());
    h.pair = loop_rounds;
    h.step = Form::LoopRounds;
    plans.push_back(std::move(c.plan));
    // The step comes back to the head, where the rounds go on.
    if (stepped) {
      HotRecord &step = hots[std::size_t(j - 2)];
      step.pair = pick_binary_assign(ArithOp(step.oper), step.v1 >= 0, step.v2 >= 0);
      step.step = Form::CalcStore;
    }
  }
}

}  // namespace velmora::engine

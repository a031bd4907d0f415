// Fast forms of the step tier, run by a task that runs alone: a record and
// the ones after it in one dispatch (a comparison and its jump, a
// calculation and its store, a load and its store or compound assignment,
// an expression's last step with its pop and store, a call of a short
// function). The second record's own hot form stays in place for a jump, a
// return or a step that lands on it. The contract is stated in
// fast/forms.h: on entry INSTP is the first record's position + 1.
#include "engine/fast/steps.h"

#include "engine/fast/operands.h"

namespace velmora::engine {

namespace {

using namespace fast;

// A comparison and the conditional jump after it.
template <Relation Rel, bool A, bool B>
int compare_jump(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  const Whole a = A ? whole_var(e, h.v1) : whole_const(r, 2), b = B ? whole_var(e, h.v2) : whole_const(r, 5);
  const bool flag =
      (a.is && b.is ? holds<Rel>(a.value, b.value) : holds<Rel>(first<A>(e, h), second<B>(e, h))) != h.negated;
  t.FLAG = flag;
  e.stepLast = t.INSTP;
  ++t.INSTP;
  if (flag == h.jumpIfTrue) jump_to(e, t, (&h)[1].v1);
  return 2;
}

// WORK := a op b, then a store of WORK into a variable.
template <ArithOp Op, bool A, bool B>
int binary_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  VarNumber &x = e.vars[(&h)[1].v1].Val1;
  if constexpr (Op != ArithOp::Div) {
    const Whole a = A ? whole_var(e, h.v1) : whole_const(r, 2);
    const Whole b = B ? whole_var(e, h.v2) : whole_const(r, 4);
    int64_t out;
    if (a.is && b.is && arith::whole<Op>(a.value, b.value, out)) {
      x.setWhole(out);
      t.WORK = static_cast<long double>(out);
      e.stepLast = t.INSTP;
      ++t.INSTP;
      return 2;
    }
  }
  long double v;
  if (arith::compute<Op>(first<A>(e, h), second<B>(e, h), v) != arith::Fault::None)
    return e.stepLast = t.INSTP - 1, fallback(e, t, h, r), 1;
  t.WORK = v;
  e.stepLast = t.INSTP;
  ++t.INSTP;
  x = v;
  return 2;
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
    isWhole = a.is && b.is && arith::whole<Op>(a.value, b.value, whole);
  }
  if (isWhole) {
    v = static_cast<long double>(whole);
  } else if (arith::compute<Op>(first<A>(e, h), second<B>(e, h), v) != arith::Fault::None) {
    return e.stepLast = position, fallback(e, t, h, r), 1;
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
  VarNumber &x = e.vars[(&h)[2].v1].Val1;
  if (isWhole) x.setWhole(whole);
  else x = v;
  return 3;
}

// The pop of an expression's value and its store.
int pop_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &, long) {
  if (t.CalcIndex < 0) t.WORK = 0;
  else t.WORK = e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex--)];
  e.stepLast = t.INSTP;
  ++t.INSTP;
  e.vars[(&h)[1].v1].Val1 = t.WORK;
  return 2;
}

template <bool A, bool B>
int mod_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  // A whole operand is its own truncation, short of where truncation
  // saturates.
  const Whole wa = A ? whole_var(e, h.v1) : whole_const(r, 1), wb = B ? whole_var(e, h.v2) : whole_const(r, 3);
  const int64_t a = wa.is && arith::own_truncation(wa.value) ? wa.value : truncate_to_int64(first<A>(e, h));
  const int64_t b = wb.is && arith::own_truncation(wb.value) ? wb.value : truncate_to_int64(second<B>(e, h));
  int64_t v;
  if (!arith::mod(a, b, v)) return e.stepLast = t.INSTP - 1, fallback(e, t, h, r), 1;
  t.WORK = static_cast<long double>(v);
  e.stepLast = t.INSTP;
  ++t.INSTP;
  VarNumber &x = e.vars[(&h)[1].v1].Val1;
  if (within_whole_limit(v)) x.setWhole(v);
  else x = static_cast<long double>(v);
  return 2;
}

template <bool A>
int load_assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &, long) {
  e.stepLast = t.INSTP;
  ++t.INSTP;
  VarNumber &x = e.vars[(&h)[1].v1].Val1;
  if constexpr (A) {
    const Whole w = whole_var(e, h.v1);
    if (w.is) {
      t.WORK = static_cast<long double>(w.value);
      x.setWhole(w.value);
      return 2;
    }
  }
  const long double v = first<A>(e, h);
  t.WORK = v;
  x = v;
  return 2;
}

// A load and a compound assignment of it (X += 1).
template <ArithOp Op, bool A>
int load_assign_op(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long) {
  e.stepLast = t.INSTP;
  ++t.INSTP;
  VarNumber &x = e.vars[(&h)[1].v1].Val1;
  if constexpr (A) {
    const Whole w = whole_var(e, h.v1);
    if (w.is) {
      t.WORK = static_cast<long double>(w.value);
      int64_t out;
      if (x.isWhole && arith::whole_compound<Op>(x.whole, w.value, out)) {
        x.setWhole(out);
        return 2;
      }
    } else {
      t.WORK = first<A>(e, h);
    }
  } else {
    t.WORK = first<A>(e, h);
  }
  long double v;
  if (arith::compound<Op>(x, t.WORK, v) != arith::Fault::None) {
    const TPEXE &next = (&r)[1];
    return fail(e, t, next.kind, next), 2;
  }
  x = v;
  return 2;
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
  if (!body.pair || !body.fast()) return 1;
  t.INSTP = uint16_t(entry + 1);
  ++e.formHits[std::size_t(body.step)];
  const int n = 1 + body.pair(e, t, body, (&r)[entry - position], budget - 1);
  const int next = t.INSTP;
  if (n >= budget || t.state != tsACTIVE || std::size_t(next) >= size) return n;
  const HotRecord &ret = (&h)[next - position];
  if (ret.kind != opRET || !ret.fast() || t.STACKP < 0) return n;
  t.INSTP = uint16_t(stack[t.STACKP]);
  --t.STACKP;
  e.stepLast = next;
  return n + 1;
}

// The instantiation for two operand shapes (a variable or a constant each).
template <template <bool, bool> class F>
PairHandler pair2(bool a, bool b) {
  if (a) return b ? F<true, true>::fn : F<true, false>::fn;
  return b ? F<false, true>::fn : F<false, false>::fn;
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
template <bool A, bool B>
struct ModAssign {
  static constexpr PairHandler fn = mod_assign<A, B>;
};
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

// The step that starts at a fast record followed by a fast one (and, for
// the step of a loop, a jump after them), and its handler; Form::Family
// for none.
Form step_of(const HotRecord &h, const HotRecord &next, const TPEXE &nextRecord, const HotRecord *third,
             PairHandler &handler) {
  const bool a = h.v1 >= 0, b = h.v2 >= 0;  // variable or constant operands
  switch (h.form) {
    case Form::Compare:
      if ((next.kind == opJMP_IF_TRUE || next.kind == opJMP_IF_FALSE) && nextRecord.label >= 0 &&
          nextRecord.label < kLabels && (handler = pick_compare_jump(Relation(h.oper), a, b)))
        return Form::CompareJump;
      break;
    case Form::Binary:
      if (next.form != Form::Store) break;
      if (third && third->kind == opJMP && third->form == Form::Jump) {
        if ((handler = pick_loop_step(ArithOp(h.oper), a, b))) return Form::LoopStep;
        break;
      }
      if ((handler = pick_binary_assign(ArithOp(h.oper), a, b))) return Form::CalcStore;
      break;
    case Form::Mod:
      if (next.form == Form::Store) return handler = pair2<ModAssign>(a, b), Form::ModStore;
      break;
    case Form::Push:
      if (next.form != Form::LoadPop) break;
      if (third && third->form == Form::Store) {
        if ((handler = pick_step_pop<true>(ArithOp(h.oper), a, b))) return Form::PushPopStore;
      } else if ((handler = pick_step_pop<false>(ArithOp(h.oper), a, b))) {
        return Form::PushPop;
      }
      break;
    case Form::LoadPop:
      if (next.form == Form::Store) return handler = pop_assign, Form::PopStore;
      break;
    case Form::Load:
      if (next.form == Form::Store) return handler = a ? load_assign<true> : load_assign<false>, Form::LoadStore;
      if (next.form == Form::Compound && (handler = a ? pick_load_assign_op<true>(ArithOp(next.oper))
                                                      : pick_load_assign_op<false>(ArithOp(next.oper))))
        return Form::LoadCompound;
      break;
    default: break;
  }
  return Form::Family;
}

}  // namespace

PairHandler pick_binary_assign(ArithOp op, bool a, bool b) {
  switch (op) {
    case ArithOp::Add: return pair2<BinaryAssign<ArithOp::Add>::With>(a, b);
    case ArithOp::Sub: return pair2<BinaryAssign<ArithOp::Sub>::With>(a, b);
    case ArithOp::Mul: return pair2<BinaryAssign<ArithOp::Mul>::With>(a, b);
    case ArithOp::Div: return pair2<BinaryAssign<ArithOp::Div>::With>(a, b);
    default: return nullptr;
  }
}

void pair_hot(std::vector<HotRecord> &hot, const PcodeList &records) {
  for (std::size_t p = 0; p < hot.size(); ++p) {
    HotRecord &h = hot[p];
    h.pair = nullptr;
    h.step = Form::Family;
    h.stepRecords = 0;
    h.jumpIfTrue = false;
    if (p + 1 >= hot.size()) break;
    const HotRecord &next = hot[p + 1];
    if (h.form == Form::Call) {
      h.pair = call_body;
      h.step = Form::CallBody;
      continue;
    }
    if (!h.fast() || !next.fast()) {
      // String statements (fused_text.cpp).
      int length = 0;
      if ((h.pair = text_step_of(hot, records, p, h.step, length))) {
        h.stepRecords = std::uint8_t(length);
        continue;
      }
      h.step = Form::Family;
      continue;
    }
    const HotRecord *third = p + 2 < hot.size() ? &hot[p + 2] : nullptr;
    PairHandler handler = nullptr;
    const Form step = step_of(h, next, records[p + 1], third, handler);
    if (step == Form::Family) continue;
    h.pair = handler;
    h.step = step;
    h.jumpIfTrue = next.kind == opJMP_IF_TRUE;
  }
}

// The statement a loop body's step makes, for rounds on whole numbers.
bool body_statement(const HotRecord &h, BodyStatement &s) {
  if (!h.pair) return false;
  const HotRecord &next = (&h)[1];
  s.aIsVar = h.v1 >= 0;
  s.bIsVar = h.v2 >= 0;
  s.compound = false;
  s.records = 2;
  auto arithmetic = [&](ArithOp op) {
    switch (op) {
      case ArithOp::Add: s.op = BodyOp::Add; return true;
      case ArithOp::Sub: s.op = BodyOp::Sub; return true;
      case ArithOp::Mul: s.op = BodyOp::Mul; return true;
      default: return false;
    }
  };
  switch (h.step) {
    case Form::LoadCompound:  // X op= Y
      s.compound = true;
      s.bIsVar = false;
      s.aField = 1;
      s.bField = -1;
      return arithmetic(ArithOp(next.oper));
    case Form::CalcStore:  // X = a op b
      s.aField = 2;
      s.bField = 4;
      return arithmetic(ArithOp(h.oper));
    case Form::ModStore:  // X = MOD(a, b)
      s.op = BodyOp::Mod;
      s.aField = 1;
      s.bField = 3;
      return true;
    case Form::LoadStore:  // X = a
      s.op = BodyOp::Copy;
      s.bIsVar = false;
      s.aField = 1;
      s.bField = -1;
      return true;
    case Form::PushPopStore:  // X = a op b through the calculation stack
      s.aField = 2;
      s.bField = 4;
      s.records = 3;
      return (s.aIsVar || s.bIsVar) && arithmetic(ArithOp(h.oper));
    default: return false;
  }
}

}  // namespace velmora::engine

// Fast forms of the record tier: for the instructions that make up loops
// and arithmetic (loads, stores, + - * /, MOD, comparisons, jumps, calls,
// the calculation stack) a handler specialised for the record's operand
// shapes, reading variables by number and constants already converted.
// Every other record, and every shape or outcome these handlers do not
// cover, goes to the family's handler (see fast/forms.h).
#include "engine/fast/lines.h"
#include "engine/fast/operands.h"

namespace velmora::engine {

namespace fast {

void fail(Machine &e, TTaskInfo &t, int kind, const TPEXE &r) {
  if (e.isolating) {
    e.refused = true;
    return;
  }
  ++e.formHits[std::size_t(Form::Family)];
  e.handler(kind)(e, t, r);
}

}  // namespace fast

namespace {

using namespace fast;

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

void generic(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) { e.handler(h.kind)(e, t, r); }
void nothing(Machine &, TTaskInfo &, const HotRecord &, const TPEXE &) {}

template <bool A>
void load(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  t.WORK = first<A>(e, h);
}

void assign(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) { e.vars[h.v1].Val1 = t.WORK; }

// WORK := a op b.
template <ArithOp Op, bool A, bool B>
void binary(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  long double v;
  if (arith::compute<Op>(first<A>(e, h), second<B>(e, h), v) != arith::Fault::None) return fallback(e, t, h, r);
  t.WORK = v;
}

// variable op= WORK.
template <ArithOp Op>
void assign_op(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  VarNumber &x = e.vars[h.v1].Val1;
  long double v;
  if (arith::compound<Op>(x, t.WORK, v) != arith::Fault::None) return fallback(e, t, h, r);
  x = v;
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
  int64_t v;
  if (!arith::mod(truncate_to_int64(first<A>(e, h)), truncate_to_int64(second<B>(e, h)), v))
    return fallback(e, t, h, r);
  t.WORK = static_cast<long double>(v);
}

void jump(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) { jump_to(e, t, h.v1); }
void jump_if_true(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  if (t.FLAG) jump_to(e, t, h.v1);
}
void jump_if_false(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  if (!t.FLAG) jump_to(e, t, h.v1);
}

// CALL of a function found when linked.
void call(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  if (t.STACKP >= kCallStack - 1) return fallback(e, t, h, r);
  ++t.STACKP;
  e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)] = t.INSTP;
  t.INSTP = uint16_t(h.v1 + 1);
}

void ret(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  if (t.STACKP < 0) return fallback(e, t, h, r);
  t.INSTP = uint16_t(e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)]);
  --t.STACKP;
}

// ----- the calculation stack: the steps of an expression push their values
// and the statement's load pops the last (X = A + B is a step, a pop and a
// store).

// WORK := a op b, pushed.
template <ArithOp Op, bool A, bool B>
void step_push(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  long double v;
  if (arith::compute<Op>(first<A>(e, h), second<B>(e, h), v) != arith::Fault::None || t.CalcIndex >= kCalcStack - 1)
    return fallback(e, t, h, r);
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
  long double v;
  if (arith::compute<Op>(a, b, v) != arith::Fault::None || top >= kCalcStack - 1) return fallback(e, t, h, r);
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

// The instantiation for an operator and two operand shapes (Var or Const
// each).
template <template <ArithOp, bool, bool> class F>
HotHandler pick_arith(ArithOp op, Shape a, Shape b) {
  auto shapes = [&]<ArithOp Op>() -> HotHandler {
    if (a == Shape::Var) return b == Shape::Var ? F<Op, true, true>::fn : F<Op, true, false>::fn;
    return b == Shape::Var ? F<Op, false, true>::fn : F<Op, false, false>::fn;
  };
  switch (op) {
    case ArithOp::Add: return shapes.template operator()<ArithOp::Add>();
    case ArithOp::Sub: return shapes.template operator()<ArithOp::Sub>();
    case ArithOp::Mul: return shapes.template operator()<ArithOp::Mul>();
    case ArithOp::Div: return shapes.template operator()<ArithOp::Div>();
    default: return nullptr;
  }
}
template <ArithOp Op, bool A, bool B>
struct Binary {
  static constexpr HotHandler fn = binary<Op, A, B>;
};
template <ArithOp Op, bool A, bool B>
struct StepPush {
  static constexpr HotHandler fn = step_push<Op, A, B>;
};

HotHandler pick_compare(Relation rel, Shape a, Shape b) {
  auto shapes = [&]<Relation Rel>() -> HotHandler {
    if (a == Shape::Var) return b == Shape::Var ? compare<Rel, true, true> : compare<Rel, true, false>;
    return b == Shape::Var ? compare<Rel, false, true> : compare<Rel, false, false>;
  };
  switch (rel) {
    case Relation::Greater: return shapes.template operator()<Relation::Greater>();
    case Relation::GreaterEqual: return shapes.template operator()<Relation::GreaterEqual>();
    case Relation::Equal: return shapes.template operator()<Relation::Equal>();
    case Relation::Less: return shapes.template operator()<Relation::Less>();
    case Relation::LessEqual: return shapes.template operator()<Relation::LessEqual>();
    case Relation::NotEqual: return shapes.template operator()<Relation::NotEqual>();
    case Relation::None: break;
  }
  return nullptr;
}
// IF &L[n]: whether line n of the list (v1) is there and not empty, n a
// constant (k1) or a variable (v2). A pending case option is the family's
// (it is used up here, which a run apart could not take back).
template <bool IndexIsVar>
void line_state(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r) {
  if (!t.LIST_NOCASE.empty()) return fallback(e, t, h, r);
  long n;
  if constexpr (IndexIsVar) n = line_number(e.vars[h.v2].Val1);
  else n = line_number(r.op[4].isWhole, r.op[4].whole, r.op[4].value);
  fast::line_state(t, e.vars[h.v1].StrList, n, h.negated);
}

// WORK := the number of lines of the list (v1).
void list_size(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &) {
  t.WORK = static_cast<long double>(e.vars[h.v1].StrList.size());
}

HotHandler pick_mod(Shape a, Shape b) {
  if (a == Shape::Var) return b == Shape::Var ? mod<true, true> : mod<true, false>;
  return b == Shape::Var ? mod<false, true> : mod<false, false>;
}

HotHandler pick_step_popping(ArithOp op) {
  switch (op) {
    case ArithOp::Add: return step_popping<ArithOp::Add>;
    case ArithOp::Sub: return step_popping<ArithOp::Sub>;
    case ArithOp::Mul: return step_popping<ArithOp::Mul>;
    case ArithOp::Div: return step_popping<ArithOp::Div>;
    default: return nullptr;
  }
}

HotHandler pick_assign_op(ArithOp op) {
  switch (op) {
    case ArithOp::Add: return assign_op<ArithOp::Add>;
    case ArithOp::Sub: return assign_op<ArithOp::Sub>;
    case ArithOp::Mul: return assign_op<ArithOp::Mul>;
    case ArithOp::Div: return assign_op<ArithOp::Div>;
    default: return nullptr;
  }
}

// The fast form of a record and its handler, or Form::Family.
Form choose(const TPEXE &r, HotRecord &h, HotHandler &fast) {
  Shape a = Shape::Other, b = Shape::Other;
  switch (r.kind) {
    case opLOAD:
    case opLOAD_VALUE:
      if (r.op[1].kind == OperandKind::Pop) return fast = load_pop, Form::LoadPop;
      a = shape_of(r, 1, h.v1, h.k1);
      if (a == Shape::Other) break;
      fast = a == Shape::Var ? load<true> : load<false>;
      return Form::Load;
    case opSTEP:
      a = shape_of(r, 2, h.v1, h.k1);
      b = shape_of(r, 4, h.v2, h.k2);
      h.oper = std::uint8_t(r.arith);
      if (a != Shape::Other && b != Shape::Other) {
        if ((fast = pick_arith<StepPush>(r.arith, a, b))) return Form::Push;
      } else {
        // Operands popped from the stack, the others variables or constants.
        auto usable = [&](int k, Shape shape) {
          return shape != Shape::Other || r.op[std::size_t(k)].kind == OperandKind::Pop;
        };
        if (usable(2, a) && usable(4, b) && (fast = pick_step_popping(r.arith))) return Form::PushPopped;
      }
      break;
    case opASSIGN:
      h.v1 = r.var[1];
      if (h.v1 >= 0) return fast = assign, Form::Store;
      break;
    case opASSIGN_OP:
      h.v1 = r.var[1];
      h.oper = std::uint8_t(r.arith);
      if (h.v1 >= 0 && (fast = pick_assign_op(r.arith))) return Form::Compound;
      break;
    case opBINARY:
      a = shape_of(r, 2, h.v1, h.k1);
      b = shape_of(r, 4, h.v2, h.k2);
      h.oper = std::uint8_t(r.arith);
      if (a != Shape::Other && b != Shape::Other && (fast = pick_arith<Binary>(r.arith, a, b))) return Form::Binary;
      break;
    case opCOMPARE:
      a = shape_of(r, 2, h.v1, h.k1);
      b = shape_of(r, 5, h.v2, h.k2);
      h.oper = std::uint8_t(r.relation);
      h.negated = r.negated;
      if (a != Shape::Other && b != Shape::Other && (fast = pick_compare(r.relation, a, b))) return Form::Compare;
      break;
    case opCOMPARE_WORK:
      a = shape_of(r, 2, h.v1, h.k1);
      h.oper = std::uint8_t(r.relation);
      h.negated = r.negated;
      if (a == Shape::Other || r.relation == Relation::None) break;
      fast = a == Shape::Var ? compare_work<true> : compare_work<false>;
      return Form::CompareWork;
    case opMOD:
      a = shape_of(r, 1, h.v1, h.k1);
      b = shape_of(r, 3, h.v2, h.k2);
      if (a == Shape::Other || b == Shape::Other) break;
      fast = pick_mod(a, b);
      return Form::Mod;
    case opJMP:
    case opJMP_IF_TRUE:
    case opJMP_IF_FALSE:
      // A label number outside the table makes the jump do nothing.
      if (r.label < 0 || r.label >= kLabels) return fast = nothing, Form::Nothing;
      h.v1 = r.label;
      fast = r.kind == opJMP ? jump : r.kind == opJMP_IF_TRUE ? jump_if_true : jump_if_false;
      return Form::Jump;
    case opCALL:
      // -2: not linked yet, -1: no such function; both go to the family handler.
      if (r.label < 0) break;
      h.v1 = r.label;
      return fast = call, Form::Call;
    case opRET: return fast = ret, Form::Ret;
    case opSTRING_STATE: {
      // A line by its index: a constant or a linked variable.
      const OperandKind kind = r.op[4].kind;
      if (r.var[3] < 0 || !(kind == OperandKind::Const || (kind == OperandKind::Var && r.var[5] >= 0))) break;
      h.v1 = r.var[3];
      h.v2 = kind == OperandKind::Var ? r.var[5] : -1;
      h.negated = r.negated;
      fast = h.v2 >= 0 ? line_state<true> : line_state<false>;
      return Form::LineState;
    }
    case opLIST_SIZE:
      if (r.var[2] < 0) break;
      h.v1 = r.var[2];
      return fast = list_size, Form::ListSize;
    default: break;
  }
  return Form::Family;
}

}  // namespace

HotRecord make_hot(const TPEXE &r, Handler family, bool fastForms) {
  HotRecord h;
  h.kind = int16_t(r.kind);
  const std::uint32_t flags = instruction_flags(r.kind);
  if (flags & (ifLabel | ifFunction)) return h;  // Form::Label: run stays nullptr
  h.form = Form::Family;
  h.run = family ? generic : nothing;
  if (!family || !fastForms) return h;
  HotHandler fast = nullptr;
  const Form form = choose(r, h, fast);
  if (form != Form::Family && fast) {
    h.run = fast;
    h.form = form;
  }
  return h;
}

}  // namespace velmora::engine

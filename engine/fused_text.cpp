// Steps of string statements for a task that runs alone: the records that
// string statements compile to, run back to back in one dispatch, up to
// eight of them, such as
//
//   zone option, string zone, split store or string store
//       &V, &S = [++] &S < "<td>" -> "</td>" >;   &W = [--] &V < ... >;
//   STRVAL, pop, numeric store
//       V = STRVAL(&W);
//   string get, join mark, INTSTR, string store; string get, list append
//       &T = "line " + INTSTR(I);   &L[] += &T;
//   appending to a string variable
//       &S += "x";
//
// Each record runs its own handler (its hot form where it has one), in
// order, with the task's position advanced before it as the passes advance
// it, so that stopping after any record leaves what single passes leave.
// None of these records reaches the environment or changes the schedule;
// a run-time error (which ends every task) stops the step at the record
// that raised it. A step counts one pass per record it ran and runs no more
// records than the budget allows.
#include <cmath>

#include "engine/fast/arith.h"
#include "engine/fast/lines.h"
#include "engine/fast/steps.h"
#include "engine/machine.h"
#include "engine/opcodes.h"
#include "engine/text_ops.h"

namespace velmora::engine {

namespace {

template <int N>
int run_step(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  const int position = t.INSTP - 1;
  const int n = budget < N ? int(budget) : N;
  for (int i = 0; i < n; ++i) {
    if (i > 0) ++t.INSTP;
    const HotRecord &hi = (&h)[i];
    if (hi.fast()) hi.run(e, t, hi, (&r)[i]);
    else e.handler(hi.kind)(e, t, (&r)[i]);  // the family's handler, as h.run would call it
    if (e.errorFlag || t.state != tsACTIVE) {
      e.stepLast = position + i;
      return i + 1;
    }
  }
  e.stepLast = position + n - 1;
  return n;
}

// Zone option, the zone of a variable between two constant texts, and its
// split store (piece and rest) or string store: the zone is cut once and
// its pieces go straight to the places the three records put them, without
// passing through the registers on the way. False, having changed nothing,
// where the records would take another path: a pending case option or join
// mark, a variable not linked, a value the escape pass changes; the three
// records then run one after another.
bool cut_and_store(Machine &e, TTaskInfo &t, const HotRecord *h, const TPEXE *r) {
  const TPEXE &zone = r[1], &store = r[2];
  const int source = zone.var[2];
  if (source < 0 || e.errorFlag || !t.LIST_NOCASE.empty() || !t.STR_OPE.empty()) return false;
  const int piece = store.var[2], rest = store.kind == opSPLIT_STORE ? store.var[4] : piece;
  if (piece < 0 || rest < 0 || !e.vars[source].StrVal.escapeFree()) return false;
  // The zone option record as it runs on its own.
  if (h[0].fast()) h[0].run(e, t, h[0], r[0]);
  else e.handler(h[0].kind)(e, t, r[0]);
  ValueZone z = value_zone(e.vars[source].StrVal, zone.constText(3), zone.constText(5), t.LIST_INC, false);
  if (store.kind == opSPLIT_STORE) {
    // The piece to its variable; the rest to both registers and its own.
    e.vars[piece].StrVal = std::move(z.result);
    t.STR_WORK = z.rest;
    t.STR_REM = z.rest;
    e.vars[rest].StrVal = std::move(z.rest);
  } else {
    e.vars[piece].StrVal = z.result;
    t.STR_WORK = std::move(z.result);
    t.STR_REM = std::move(z.rest);
  }
  return true;
}

// Whether records r[0], r[1] and r[2] are STRVAL of a linked string
// variable, the pop of its result and its store into a linked variable.
bool strval_shape(const TPEXE *r) {
  const TPEXE &math = r[0], &pop = r[1], &store = r[2];
  return math.kind == opMATH && math.math == MathFn::StrVal && math.op[2].kind == OperandKind::StrVar &&
         pop.kind == opLOAD_VALUE && pop.op[1].kind == OperandKind::Pop && store.kind == opASSIGN &&
         math.var[3] >= 0 && store.var[1] >= 0;
}

// STRVAL of a string variable, the pop of its result and its store into a
// number variable (V = STRVAL(&W)), records whose shape strval_shape has
// seen: the number is read once and written where the three records leave
// it: the work register, the stack slot it passed through and the
// variable. False, having changed nothing, where the records would take
// another path: a value the escape pass changes, a number out of range (an
// error to report), a full stack.
inline bool strval_store_shaped(Machine &e, TTaskInfo &t, const TPEXE *r) {
  const int source = r[0].var[3], target = r[2].var[1];
  if (e.errorFlag || t.CalcIndex >= kCalcStack - 1) return false;
  const StrValue &text = e.vars[source].StrVal;
  if (!text.escapeFree()) return false;
  long double &slot = e.calcStack[std::size_t(e.current)][std::size_t(t.CalcIndex + 1)];
  if (std::int64_t n; plain_digits(text.view(), n) && within_whole_limit(n)) {
    // Digits: a whole number, stored as one without converting back, its
    // bits made in registers and moved as words (arith.h).
    arith::set_number_of(slot, n);
    arith::copy_number(t.WORK, slot);
    VarNumber &v = e.vars[target].Val1;
    arith::copy_number(v.value, slot);
    v.whole = n;
    v.isWhole = true;
    return true;
  }
  const long double x = string_value(text.view());
  if (!std::isfinite(x)) return false;
  t.WORK = x;
  slot = x;
  e.vars[target].Val1 = x;
  return true;
}

// The same for records not seen before: false also where they have another
// shape.
bool strval_store(Machine &e, TTaskInfo &t, const TPEXE *r) {
  return strval_shape(r) && strval_store_shaped(e, t, r);
}

// Ends a step after `ran` records from `position`.
int step_ends(Machine &e, TTaskInfo &t, int position, int ran) {
  t.INSTP = uint16_t(position + ran);
  e.stepLast = position + ran - 1;
  return ran;
}

// A step that begins with a zone and its store (three records), and then
// STRVAL of the piece with its pop and store where they follow, then runs
// the rest of its N records as run_step does.
template <int N>
int run_zone_step(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  if (budget < 3 || !cut_and_store(e, t, &h, &r)) return run_step<N>(e, t, h, r, budget);
  const int position = t.INSTP - 1;
  if constexpr (N == 3) {
    return step_ends(e, t, position, 3);
  } else {
    if (budget == 3) return step_ends(e, t, position, 3);
    if constexpr (N >= 6) {
      if (budget >= 6 && strval_store(e, t, &r + 3)) {
        if constexpr (N == 6) {
          return step_ends(e, t, position, 6);
        } else {
          if (budget == 6) return step_ends(e, t, position, 6);
          t.INSTP = uint16_t(position + 7);
          return 6 + run_step<N - 6>(e, t, (&h)[6], (&r)[6], budget - 6);
        }
      }
    }
    t.INSTP = uint16_t(position + 4);
    return 3 + run_step<N - 3>(e, t, (&h)[3], (&r)[3], budget - 3);
  }
}

// A line index operand (the pair at k) as the records read it: a constant,
// or a linked variable's number.
long index_at(Machine &e, const TPEXE &r, int k) {
  const Operand &o = r.op[std::size_t(k)];
  if (o.kind == OperandKind::Const) return fast::line_number(o.isWhole, o.whole, o.value);
  return fast::line_number(e.vars[r.var[std::size_t(k) + 1]].Val1);
}

// The text a string get (r) puts in the register, where it is read in
// place (fast::gotten).
const StrValue *gotten_by(Machine &e, const TPEXE &r) {
  if (r.op[1].kind == OperandKind::StrConst) return &r.constValue(1);
  return fast::gotten(nullptr, &e.vars[r.var[2]].StrVal);
}

// A line read and its store, or a string get and its line store or list
// append (records r[0] and r[1], shaped as line_pair says), done at once.
// False, having changed nothing, where the records take another path.
bool line_records(Machine &e, TTaskInfo &t, const TPEXE *r) {
  if (e.errorFlag) return false;
  const TPEXE &a = r[0], &b = r[1];
  switch (b.kind) {
    case opVAR_STORE:
      return fast::line_read(t, e.vars[a.var[2]].StrList, index_at(e, a, 3), e.vars[b.var[2]].StrVal);
    case opLIST_ELEMENT_STORE:
      return fast::line_put(t, gotten_by(e, a), e.vars[b.var[2]].StrList, index_at(e, b, 3));
    case opLIST_ADD_LINE: return fast::line_append(t, gotten_by(e, a), e.vars[b.var[2]].StrList);
    default: return false;
  }
}

// A step whose first two records are a line read and its store, or a
// string get and its line store or append: those two at once, then STRVAL
// of what was read with its pop and store where they follow (a line read
// as a number: &T = &L[K]; W = STRVAL(&T);), then the rest of its N
// records as run_step runs them.
// Strval: the records after the two are STRVAL, its pop and its store
// (strval_shape, seen when the step was chosen).
template <int N, bool Strval = false>
int run_line_step(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  if (!line_records(e, t, &r)) return run_step<N>(e, t, h, r, budget);
  const int position = t.INSTP - 1;
  if constexpr (N == 2) {
    return step_ends(e, t, position, 2);
  } else {
    if (budget == 2) return step_ends(e, t, position, 2);
    if constexpr (Strval && N >= 5) {
      if (budget >= 5 && strval_store_shaped(e, t, &r + 2)) {
        if constexpr (N == 5) {
          return step_ends(e, t, position, 5);
        } else {
          if (budget == 5) return step_ends(e, t, position, 5);
          t.INSTP = uint16_t(position + 6);
          return 5 + run_step<N - 5>(e, t, (&h)[5], (&r)[5], budget - 5);
        }
      }
    }
    t.INSTP = uint16_t(position + 3);
    return 2 + run_step<N - 2>(e, t, (&h)[2], (&r)[2], budget - 2);
  }
}

// Whether records p, p+1 and p+2 are a zone option, a zone between two
// constants and a split store or string store.
bool zone_and_store(const PcodeList &records, std::size_t p) {
  const TPEXE &zone = records[p + 1], &store = records[p + 2];
  return records[p].kind == opZONE_OPTION && zone.kind == opSTRING_ZONE && zone.op[3].kind == OperandKind::StrConst &&
         zone.op[5].kind == OperandKind::StrConst && (store.kind == opSPLIT_STORE || store.kind == opVAR_STORE);
}

// Whether the operand pair at k is a number: a line picked by its index.
bool by_index(const TPEXE &r, int k) {
  const OperandKind kind = r.op[std::size_t(k)].kind;
  return kind == OperandKind::Const || kind == OperandKind::Var || kind == OperandKind::NegVar;
}

// Whether the record may be part of a step: its handler reads and writes
// only the task's registers, its variables and their lists, and takes a
// time that does not grow with the length of a list (a line by its index,
// not every line holding a text), so that steps need no look at the clock.
bool joins_step(const HotRecord &h, const TPEXE &r) {
  if (!h.run || h.kind != r.kind) return false;
  switch (r.kind) {
    case opZONE_OPTION:
    case opCASE_OPTION:
    case opSTRING_ZONE:
    case opSPLIT_STORE:
    case opVAR_STORE:
    case opSTRING_GET:
    case opSTRING_CONCAT:
    case opINT_STRING:
    case opADD_STRING:
    case opLIST_ADD_LINE:
    case opSTRING_CHAR:
    case opCHAR:
    case opASC:
    case opSTRING_VALUE:
    case opSTRING_POSITION:
    case opSTRING_LENGTH:
    case opCOPY_TO_REGISTER:
    case opCOPY_STORE:
    case opASSIGN_STRING:
    case opREPLACE_STRING:
    case opDELETE_STRING:
    case opVALUE_STATE:
    case opLIST_SIZE:
    case opLIST_CHAR: return true;
    case opLIST_LINE:
    case opLIST_ZONE:
    case opLIST_ELEMENT_STORE: return by_index(r, 3);
    case opSTRING_STATE: return by_index(r, 4);
    case opLIST_ADD_REMOVE: return r.Param[3] == u"+=";
    case opMATH: return r.math == MathFn::StrVal || r.math == MathFn::Length;
    case opLOAD_VALUE: return r.op[1].kind == OperandKind::Pop;
    case opASSIGN: return h.fast();
    default: return false;
  }
}

}  // namespace

// Whether the operand pair at k is a line index that a line step reads
// without the family's help: a constant or a linked variable.
bool line_index_operand(const TPEXE &r, int k) {
  const OperandKind kind = r.op[std::size_t(k)].kind;
  return kind == OperandKind::Const || (kind == OperandKind::Var && r.var[std::size_t(k) + 1] >= 0);
}

Form line_pair(const PcodeList &records, std::size_t p) {
  if (p + 1 >= records.size()) return Form::Family;
  const TPEXE &a = records[p], &b = records[p + 1];
  if (a.kind == opLIST_LINE && b.kind == opVAR_STORE)
    return a.var[2] >= 0 && line_index_operand(a, 3) && b.var[2] >= 0 ? Form::LineRead : Form::Family;
  if (a.kind != opSTRING_GET) return Form::Family;
  const bool source = a.op[1].kind == OperandKind::StrConst || (a.op[1].kind == OperandKind::StrVar && a.var[2] >= 0);
  if (!source || b.var[2] < 0) return Form::Family;
  if (b.kind == opLIST_ADD_LINE || (b.kind == opLIST_ELEMENT_STORE && line_index_operand(b, 3))) return Form::LinePut;
  return Form::Family;
}

namespace {

constexpr int kLongestStep = 8;
constexpr PairHandler kSteps[kLongestStep + 1] = {nullptr,     nullptr,     run_step<2>, run_step<3>, run_step<4>,
                                                  run_step<5>, run_step<6>, run_step<7>, run_step<8>};
constexpr PairHandler kZoneSteps[kLongestStep + 1] = {nullptr,          nullptr,          nullptr,
                                                      run_zone_step<3>, run_zone_step<4>, run_zone_step<5>,
                                                      run_zone_step<6>, run_zone_step<7>, run_zone_step<8>};
constexpr PairHandler kLineSteps[kLongestStep + 1] = {nullptr,          nullptr,          run_line_step<2>,
                                                      run_line_step<3>, run_line_step<4>, run_line_step<5>,
                                                      run_line_step<6>, run_line_step<7>, run_line_step<8>};
constexpr PairHandler kLineStrvalSteps[kLongestStep + 1] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, run_line_step<5, true>, run_line_step<6, true>, run_line_step<7, true>,
    run_line_step<8, true>};

}  // namespace

PairHandler text_step_of(const std::vector<HotRecord> &hot, const PcodeList &records, std::size_t p, Form &form,
                         int &length) {
  // A step begins at a record of a string statement that is not fast and
  // takes the records after it that may join it (never a label, a jump or
  // a break record).
  if (p >= hot.size() || p >= records.size() || hot[p].fast() || !joins_step(hot[p], records[p])) return nullptr;
  int n = 1;
  while (n < kLongestStep && p + std::size_t(n) < hot.size() && p + std::size_t(n) < records.size() &&
         joins_step(hot[p + std::size_t(n)], records[p + std::size_t(n)]))
    ++n;
  length = n;
  if (n >= 3 && zone_and_store(records, p)) {
    form = Form::ZoneStep;
    return kZoneSteps[n];
  }
  if (n >= 2 && (form = line_pair(records, p)) != Form::Family) {
    // A line read as a number: the STRVAL after it joins the step.
    if (form == Form::LineRead && n >= 5 && strval_shape(&records[p + 2])) return kLineStrvalSteps[n];
    return kLineSteps[n];
  }
  form = Form::TextStep;
  return kSteps[n];
}

}  // namespace velmora::engine

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
#include "engine/machine.h"
#include "engine/opcodes.h"

namespace velmora::engine {

namespace {

template <int N>
int run_step(Machine &e, TTaskInfo &t, const HotRecord &h, const TPEXE &r, long budget) {
  const int position = t.INSTP - 1;
  const int n = budget < N ? int(budget) : N;
  for (int i = 0; i < n; ++i) {
    if (i > 0) ++t.INSTP;
    const HotRecord &hi = (&h)[i];
    if (hi.fast) hi.run(e, t, hi, (&r)[i]);
    else e.handler(hi.kind)(e, t, (&r)[i]);  // the family's handler, as h.run would call it
    if (e.errorFlag || t.state != tsACTIVE) {
      e.stepLast = position + i;
      return i + 1;
    }
  }
  e.stepLast = position + n - 1;
  return n;
}

// Whether the record may be part of a step: its handler reads and writes
// only the task's registers, its variables and their lists.
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
    case opLIST_ADD_LINE: return true;
    case opMATH: return r.math == MathFn::StrVal;
    case opLOAD_VALUE: return r.op[1].kind == OperandKind::Pop;
    case opASSIGN: return h.fast;
    default: return false;
  }
}

constexpr int kLongestStep = 8;
constexpr PairHandler kSteps[kLongestStep + 1] = {nullptr,     nullptr,     run_step<2>, run_step<3>, run_step<4>,
                                                  run_step<5>, run_step<6>, run_step<7>, run_step<8>};

}  // namespace

PairHandler text_step_of(const std::vector<HotRecord> &hot, const PcodeList &records, std::size_t p) {
  // A step begins at a record of a string statement that is not fast and
  // takes the records after it that may join it (never a label, a jump or
  // a break record).
  if (p >= hot.size() || p >= records.size() || hot[p].fast || !joins_step(hot[p], records[p])) return nullptr;
  int n = 1;
  while (n < kLongestStep && p + std::size_t(n) < hot.size() && p + std::size_t(n) < records.size() &&
         joins_step(hot[p + std::size_t(n)], records[p + std::size_t(n)]))
    ++n;
  return kSteps[n];
}

}  // namespace velmora::engine

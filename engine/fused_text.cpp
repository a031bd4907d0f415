// Steps of string statements for a task that runs alone: the records one
// statement compiles to, run back to back in one dispatch.
//
//   zone option, string zone, split store or string store
//       &V, &S = [++] &S < "<td>" -> "</td>" >;   &W = [--] &V < ... >;
//   STRVAL, pop, numeric store
//       V = STRVAL(&W);
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
    hi.run(e, t, hi, (&r)[i]);
    if (e.errorFlag || t.state != tsACTIVE) {
      e.stepLast = position + i;
      return i + 1;
    }
  }
  e.stepLast = position + n - 1;
  return n;
}

bool is_step_kind(const HotRecord &h, const TPEXE &r, int kind) { return h.kind == kind && r.kind == kind && h.run; }

}  // namespace

PairHandler text_step_of(const std::vector<HotRecord> &hot, const PcodeList &records, std::size_t p) {
  if (p + 2 >= hot.size() || p + 2 >= records.size()) return nullptr;
  const HotRecord *h = &hot[p];
  const TPEXE *r = &records[p];
  if (is_step_kind(h[0], r[0], opZONE_OPTION) && is_step_kind(h[1], r[1], opSTRING_ZONE) &&
      (is_step_kind(h[2], r[2], opSPLIT_STORE) || is_step_kind(h[2], r[2], opVAR_STORE)))
    return run_step<3>;
  if (is_step_kind(h[0], r[0], opMATH) && r[0].math == MathFn::StrVal &&
      is_step_kind(h[1], r[1], opLOAD_VALUE) && r[1].op[1].kind == OperandKind::Pop &&
      is_step_kind(h[2], r[2], opASSIGN) && h[2].fast)
    return run_step<3>;
  return nullptr;
}

}  // namespace velmora::engine

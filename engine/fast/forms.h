#pragma once
// The fast forms: every way a record may run other than through its
// family's handler, in one list. The dispatcher chooses among them by the
// ids below (a record's `form` and the `step` that may start at it), the
// listing of `velmora-run --listing` names them, the engine counts how
// often each was taken (Machine::formHits) and the tests read the same
// list. A form is never recognised by the address of its handler.
//
// Three tiers:
//   record  one record, a handler specialised for its operand shapes
//           (fast/records.cpp);
//   step    a record and the ones after it as one dispatch of a lone task
//           (fast/steps.cpp, fused_text.cpp);
//   rounds  the rounds of a loop in one dispatch (fast/rounds.cpp).
//
// The contract every form keeps. A form runs exactly the records the
// family handlers would run, in the same order, one scheduler pass per
// record (a label is a pass when run through, none when jumped over), and
// leaves every register, variable, the calculation stack, the execution
// point and the pass count as those records run one pass at a time leave
// them. Its guard is checked before any effect: where the guard fails (a
// division by zero, a result that is not finite, a full stack, a name not
// linked, a value the form does not cover) the record goes to its family
// handler, which computes and reports exactly as it always does. A step
// is called with the task's INSTP at its first record + 1 and a budget of
// passes (at least 2); it runs no more records than the budget allows,
// never a record that is not fast (so never across a break record) except
// the string records a text step names, returns the passes it ran, names
// the last record it ran in Machine::stepLast and leaves INSTP at the next
// record. Rounds go on within the same budget and stop at the round that
// would leave the loop or lose exactness, leaving it to the records.
//
// Adding a form: a row below (name, tier, records, guard, fallback), its
// handler beside the others of its tier, the place where make_hot,
// pair_hot or the loop step chooses it, and a line in docs/architecture.md.
// Prove it: programs that take it in engine/tests (the form's hit count
// must rise), compared bit for bit after every number of passes with the
// reference mode (VELMORA_NO_FAST_FORMS=1), its guard's failures included.
#include <array>
#include <cstdint>

namespace velmora::engine {

enum class Tier : std::uint8_t { Record, Step, Rounds };

// X(id, name, tier, records, guard, fallback)
#define VELMORA_FAST_FORMS(X)                                                                                          \
  X(Label, "label", Record, "label or function line", "always: it does nothing", "-")                                  \
  X(Family, "family", Record, "any record", "always", "-")                                                             \
  X(Nothing, "nothing", Record, "095 098 099 to a label outside the table", "always: it does nothing", "-")            \
  X(Load, "load", Record, "005 101 of a linked variable or a constant", "always", "-")                                 \
  X(LoadPop, "load_pop", Record, "101 xPOP", "always (0 from an empty stack)", "-")                                    \
  X(Store, "store", Record, "022 to a linked variable", "always", "-")                                                 \
  X(Compound, "compound", Record, "023 += -= *= /= on a linked variable", "divisor not 0, result finite", "family")    \
  X(Binary, "binary", Record, "003 + - * / of variables and constants", "divisor not 0, result finite", "family")      \
  X(Compare, "compare", Record, "000 of variables and constants, with a relation", "always", "-")                      \
  X(CompareWork, "compare_work", Record, "109 of a variable or constant, with a relation", "always", "-")              \
  X(Mod, "mod", Record, "043 of variables and constants", "divisor truncates to non-zero", "family")                   \
  X(Jump, "jump", Record, "099 095 098 to a label of the table", "always", "-")                                        \
  X(LineState, "line_state", Record, "411 of a linked list, a line by its index", "no pending case option", "family")   \
  X(ListSize, "list_size", Record, "302 of a linked list", "always", "-")                                              \
  X(Call, "call", Record, "097 of a function found when linked", "call stack not full", "family")                      \
  X(Ret, "ret", Record, "096", "a call to return from", "family")                                                      \
  X(Push, "push", Record, "100 + - * / of variables and constants", "divisor not 0, finite, stack not full", "family") \
  X(PushPopped, "push_popped", Record, "100 with operands popped",                                                     \
    "divisor not 0, finite, stack not full (read before popping)", "family")                                           \
  X(CompareJump, "compare_jump", Step, "000 + 095 or 098", "as compare", "-")                                          \
  X(CalcStore, "calc_store", Step, "003 + 022", "as binary", "the family handler of 003")                              \
  X(ModStore, "mod_store", Step, "043 + 022", "as mod", "the family handler of 043")                                   \
  X(LoadStore, "load_store", Step, "005 + 022", "always", "-")                                                         \
  X(LoadCompound, "load_compound", Step, "005 + 023", "as compound", "the family handler of 023")                      \
  X(PushPop, "push_pop", Step, "100 + 101 xPOP", "as push", "the family handler of 100")                               \
  X(PushPopStore, "push_pop_store", Step, "100 + 101 xPOP + 022", "as push", "the family handler of 100")              \
  X(PopStore, "pop_store", Step, "101 xPOP + 022", "always", "-")                                                      \
  X(CallBody, "call_body", Step, "097 + the function's first step + 096", "as call and the step", "the records")       \
  X(TextStep, "text_step", Step, "2 to 8 string records (get, join, INTSTR, zones, stores, appends)",                  \
    "stops at an error", "each record's own handler")                                                                  \
  X(LineRead, "line_read", Step, "310 by index + 320 (+ 102 STRVAL + 101 xPOP + 022) (+ text step), linked",          \
    "no pending join; STRVAL: nothing to escape, in range, stack not full", "the text step")                          \
  X(LinePut, "line_put", Step, "311 + 322 by index or 326 (+ text step), linked",                                     \
    "no pending join, nothing to escape", "the text step")                                                            \
  X(ZoneStep, "zone_step", Step, "337 + 318 + 320 or 329 (+ 102 STRVAL + 101 xPOP + 022) + text step",                 \
    "no pending case option or join, linked, nothing to escape, STRVAL in range", "the text step")                     \
  X(LoopStep, "loop_step", Rounds, "003 + 022 + 099 (+ 000 + 095 or 098 after the label)",                             \
    "as calc_store; the label leads to a compare_jump", "the records")                                                 \
  X(BodyRounds, "body_rounds", Rounds, "a loop step's body of fast records, run in place",                             \
    "stops at a record that is not fast", "the passes")                                                                \
  X(WholeRounds, "whole_rounds", Rounds, "a loop step whose body is one arithmetic statement",                         \
    "every value read whole, no overflow, the round stays in the loop", "the records")                                 \
  X(LineRounds, "line_rounds", Rounds, "a loop step whose body is one line_read or line_put of two records",             \
    "counter and limits whole, no pending join, nothing to escape, the round stays in the loop", "the records")       \
  X(LoopRounds, "loop_rounds", Rounds, "a loop from its head 000 + 095 or 098 (or 302) to its 099 back, no loop inside", \
    "the budget holds the longest round; each statement's own guard", "the records, from the failing statement")

enum class Form : std::uint8_t {
#define VELMORA_FORM_ID(id, name, tier, records, guard, fallback) id,
  VELMORA_FAST_FORMS(VELMORA_FORM_ID)
#undef VELMORA_FORM_ID
};

struct FormInfo {
  const char *name;
  Tier tier;
  const char *records;
  const char *guard;
  const char *fallback;
};

inline constexpr FormInfo kForms[] = {
#define VELMORA_FORM_INFO(id, name, tier, records, guard, fallback) {name, Tier::tier, records, guard, fallback},
    VELMORA_FAST_FORMS(VELMORA_FORM_INFO)
#undef VELMORA_FORM_INFO
};
inline constexpr std::size_t kFormCount = std::size(kForms);

inline const FormInfo &form_info(Form f) { return kForms[std::size_t(f)]; }

// Times each form was taken: records and steps once per dispatch, rounds
// once per round.
using FormHits = std::array<std::uint64_t, kFormCount>;

}  // namespace velmora::engine

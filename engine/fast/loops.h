#pragma once
// Loops compiled for whole rounds (the form loop_rounds): the records of a
// loop from its head comparison to its jump back, as a short list of
// operations on the variables' numbers, each standing for the records of
// one statement (or one record), run round after round in one dispatch.
#include <cstdint>
#include <vector>

#include "engine/line_list.h"
#include "engine/pcode.h"
#include "engine/variables.h"

namespace velmora::engine {

enum class LoopCode : std::uint8_t {
  CompareJump,  // FLAG := a rel b, then a conditional jump: 2 records
  Jump,         // a jump, always or on FLAG: 1 record
  Back,         // the loop's jump back to its head: 1 record
  CompoundAdd,  // WORK := a; X op= WORK: 2 records
  CompoundSub,
  CompoundMul,
  CompoundDiv,
  CalculateAdd,  // WORK := a op b; X := WORK: 2 records
  CalculateSub,
  CalculateMul,
  CalculateDiv,
  StepAdd,  // the same, then the loop's jump back (an operation of its own)
  StepSub,
  StepMul,
  StepDiv,
  PushAdd,  // a step of an expression: WORK := a op b, pushed: 1 record
  PushSub,
  PushMul,
  PushDiv,
  PushStoreAdd,  // its last step, the pop of its value and the store: 3 records
  PushStoreSub,
  PushStoreMul,
  PushStoreDiv,
  Mod,       // WORK := MOD(a, b); X := WORK: 2 records
  ModConst,  // the same by a constant divisor, neither 0 nor -1
  Copy,      // WORK := a; X := WORK: 2 records
  LineRead,   // &Z = &L[n]: 2 records
  LinePut,    // &L[n] = x: 2 records
  LineAppend, // &L[] += x: 2 records
  LineState,  // FLAG := whether line n is there and not empty: 1 record
  ListSize,   // WORK := the number of lines: 1 record
  CompareWork, // FLAG := a rel WORK: 1 record
  Record,    // any other fast record, by its hot handler: 1 record
  Step,      // a string statement's text step, by its handler
};

struct LoopOp {
  LoopCode code = LoopCode::Record;
  // Comparisons: a bit for each outcome (a below b, equal, above,
  // unordered) says whether FLAG is set, and whether the jump is taken.
  // Jump: 0 always, 1 when FLAG is set, 2 when it is not.
  std::uint8_t flagMask = 0, jumpMask = 0;
  std::int8_t slot = 0;      // an expression's step: the depth its value is pushed at
  std::int16_t records = 1;  // records it stands for, one pass each
  std::int16_t fall = 0;     // labels run through after it, when it does not jump
  std::int16_t landing = 0;  // labels run through where it jumps to
  std::int32_t first = 0;    // position of its first record
  std::int32_t prefix = 0;   // passes of the round before it, when nothing jumps
  // Where the statement it belongs to begins (the operation a failing
  // guard leaves the loop at): itself, or an expression's first step.
  std::int32_t restart = 0;
  // A jump: the operation to go on with (0: the head, the next round), or
  // where the loop is left (-1 - position); and the passes a taken jump
  // skips of those counted in `prefix` up to its target.
  std::int32_t target = 0;
  std::int32_t jumpSkip = 0;
  VarNumber *x = nullptr;  // the variable it stores into; a step: its value
  const VarNumber *a = nullptr, *b = nullptr;
  std::int64_t divisor = 0;  // ModConst
  // The statements on lines: the list, the variable read into or from
  // (text), a constant read from (constText); a is the line index.
  LineList *list = nullptr;
  StrValue *text = nullptr;
  const StrValue *constText = nullptr;
  std::int32_t lastRecord() const { return first + records - 1; }
};

struct LoopPlan {
  int head = 0;                       // position of the head (a comparison, or a list's size)
  long maxRound = 0;                  // the most passes one round can take
  // The head's own step (or the head record alone), for a budget short of
  // a round.
  PairHandler compareJump = nullptr;
  std::vector<LoopOp> ops;
  // Constants as numbers with their whole forms, so that operations read
  // variables and constants alike, and the values of an expression's steps
  // (neither reallocated once made).
  std::vector<VarNumber> constants;
  std::vector<VarNumber> scratch;
};

class Machine;
// Compiles every loop of the slot's list that can run as loop_rounds and
// points its head comparison's step there.
void plan_loops(Machine &e, int list);

}  // namespace velmora::engine

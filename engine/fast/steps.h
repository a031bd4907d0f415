#pragma once
// What the tiers of fast forms ask of one another when pair_hot chooses
// the step that starts at a record.
#include <vector>

#include "engine/fast/forms.h"
#include "engine/pcode.h"

namespace velmora::engine {

// The step of a counting loop (fast/rounds.cpp): a calculation, its store
// and the jump back, then the comparison after the label and the rounds.
PairHandler pick_loop_step(ArithOp op, bool a, bool b);
// The same for a loop whose body is one statement on a line (line_rounds);
// nullptr where the step cannot count (* and /).
PairHandler pick_line_loop_step(ArithOp op, bool a, bool b);
// A calculation and its store (calc_store).
PairHandler pick_binary_assign(ArithOp op, bool a, bool b);

// The rounds that the loop step at `position` of a slot's list goes on to
// when it runs: whole_rounds for a body of one arithmetic statement (while
// its values are whole), body_rounds for a body that starts with fast
// records, Form::Family when there is no such step or it runs only the
// comparison.
Form loop_rounds_of(const Machine &machine, int slot, int position);

// A string statement's records from `position` on as one step
// (fused_text.cpp), or nullptr; `form` says which.
PairHandler text_step_of(const std::vector<HotRecord> &hot, const PcodeList &records, std::size_t position, Form &form,
                         int &length);

// Whether records p and p + 1 are a line read and its store (LineRead), or
// a string get and its line store or list append (LinePut), with every
// variable linked and the line index a constant or a linked variable;
// Form::Family otherwise.
Form line_pair(const PcodeList &records, std::size_t p);

// What the body of a loop run in whole rounds does to its variable X: X = a
// op b (a compound assignment X op= Y is X = X op Y, or Y + X), X = MOD(a, b)
// or X = a.
enum class BodyOp : std::uint8_t { Add, Sub, Mul, Mod, Copy };

// The statement a body's step makes (two records, or three through the
// calculation stack): what it does, whether it is a compound assignment
// (X op= Y), and where its operands are (a variable, or the constant at
// that field of the first record; -1: none).
struct BodyStatement {
  BodyOp op = BodyOp::Copy;
  bool compound = false;
  bool aIsVar = false, bIsVar = false;
  int8_t aField = -1, bField = -1;
  int8_t records = 2;
};
// False when the step at h is no such statement.
bool body_statement(const HotRecord &h, BodyStatement &statement);

}  // namespace velmora::engine

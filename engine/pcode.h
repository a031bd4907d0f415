#pragma once
// P-code records and the T-code loader.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/fast/forms.h"
#include "engine/str_value.h"
#include "engine/types.h"

namespace velmora::engine {

class Machine;
struct TTaskInfo;

// How an operand pair (Param[k], Param[k+1]) reads, decoded once at load.
enum class OperandKind : std::uint8_t {
  Other,     // reads as 0 as a number
  Var,       // ∇ name
  NegVar,    // xNVAR name
  Const,     // Δ n or xN n (value already negated)
  BadConst,  // Δ / xN whose text is not a number
  Pop,       // xPOP xDMY
  NegPop,    // xNPOP xDMY
  StrConst,  // Ω "text"
  StrVar,    // Σ name
};

// Relations of the comparison instructions, decoded from their operator text.
enum class Relation : std::uint8_t { None, Greater, GreaterEqual, Equal, Less, LessEqual, NotEqual };
Relation relation_of(u16view op);
// Whether a rel b holds (false for None), for numbers and for the whole
// numbers the hot forms keep beside them.
template <typename T>
inline bool relation(T a, Relation rel, T b) {
  switch (rel) {
    case Relation::Greater: return a > b;
    case Relation::GreaterEqual: return a >= b;
    case Relation::Equal: return a == b;
    case Relation::Less: return a < b;
    case Relation::LessEqual: return a <= b;
    case Relation::NotEqual: return a != b;
    case Relation::None: break;
  }
  return false;
}

// Arithmetic operators, decoded from "+" "-" "*" "/" "^" (by the first
// character, as the arithmetic instructions read them) or "+=" "-=" "*=" "/=".
enum class ArithOp : std::uint8_t { None, Add, Sub, Mul, Div, Pow };
ArithOp arith_of_first(u16view op);
ArithOp arith_of_assign(u16view op);

// Functions of the math instruction (102), decoded from their name.
enum class MathFn : std::uint8_t {
  None,
  StrVal,
  Length,
  Inc,
  Dec,
  Trunc,
  Pai,
  Sin,
  Cos,
  Tan,
  Ln,
  Exp,
  Sqrt,
  Rand,
  Atan
};
MathFn math_of(u16view name);

struct Operand {
  long double value = 0;
  OperandKind kind = OperandKind::Other;
  bool isWhole = false;  // a constant that is exactly a 64-bit integer: `whole`
  int64_t whole = 0;
};

// One P-code instruction. Param holds the texts as the T-code gave them (and
// as linking changed them); everything after it is the decoded form that the
// handlers read, so that executing a record never parses text.
struct TPEXE {
  int32_t kind = 0;           // rule code; -1 label, -2 function entry, 900 breakpoint
  int32_t LblId = 0;          // label number of kinds -1 and -2
  std::array<u16, 11> Param;  // Param[10]: source line number text

  std::array<Operand, 10> op{};  // op[k]: the operand pair at Param[k]
  // var[k]: the variable Param[k] names, resolved when linked (-1: look the
  // name up at execution, as an unregistered name must be).
  std::array<int32_t, 11> var{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  int32_t label = -1;                         // jumps: the label number in Param[1]; 902: position after the RET
  Relation relation = Relation::None;         // 000, 109, 201, 202: the operator
  ArithOp arith = ArithOp::None;              // BINARY, STEP: Param[1]; ASSIGN_OP: Param[2]
  bool negated = false;                       // boolean codes: Param[1] is NOT
  bool exitReturn = false;                    // 096 written as EXIT inside a function body
  std::unique_ptr<std::array<u16, 10>> text;  // Ω constants with escapes applied
  // The same constants as values made once, which every use shares.
  std::unique_ptr<std::array<StrValue, 10>> values;
  MathFn math = MathFn::None;  // 102: the function Param[1] names

  const u16 &constText(int k) const;
  const StrValue &constValue(int k) const;
  void decode();  // fills op, label and text from Param
};

using PcodeList = std::vector<TPEXE>;

using Handler = void (*)(Machine &, TTaskInfo &, const TPEXE &);

struct HotRecord;
using HotHandler = void (*)(Machine &, TTaskInfo &, const HotRecord &, const TPEXE &);
// A record and the ones after it run as one step by a task that runs alone,
// within `budget` passes (at least 2): returns the records it ran, one pass
// each, and names the last one in Machine::stepLast (the contract is in
// engine/fast/forms.h).
using PairHandler = int (*)(Machine &, TTaskInfo &, const HotRecord &, const TPEXE &, long budget);

// The form of a record that the scheduler runs, kept in an array beside the
// P-code list (whose records keep their texts for the listing and the
// monitor): the handler of its fast form (engine/fast/forms.h) chosen for
// the record's operand shapes, the operands already resolved to variable
// numbers or constants, and the operator as an enum, so that running it
// compares no text. Records without a fast form run the family's handler,
// the one bound to their kind.
struct HotRecord {
  long double k1 = 0, k2 = 0;  // constants of the first and second numeric operand
  HotHandler run = nullptr;    // nullptr: a label or function line, which does nothing
  // The step that starts at this record (a comparison and its jump, a
  // calculation and its store, a loop's step, ...), or nullptr. A step
  // reads the variable or label of the records after the first from their
  // own hot records.
  PairHandler pair = nullptr;
  int32_t v1 = -1, v2 = -1;  // variable numbers of the operands; jumps: the label number
  int16_t kind = 0;
  Form form = Form::Label;       // run's form: Label, Family or a fast record form
  Form step = Form::Family;      // pair's form
  std::uint8_t stepRecords = 0;  // the records a text step covers
  std::uint8_t oper : 4 = 0;     // ArithOp or Relation
  bool negated : 1 = false;      // comparisons: NOT
  bool jumpIfTrue : 1 = false;   // a comparison paired with its jump: the jump's sense
  // A fast record that changes nothing but its own task's registers and
  // variables that belong to its task alone (no shared variable, no call
  // stack) and, when it would fail, can be refused before reporting: tasks
  // running side by side may run such records in runs of their own.
  bool isolated : 1 = false;
  std::int16_t plan = -1;  // a loop's head comparison: its plan (Machine::plans)
  // run is a handler of the hot form: it reads no text, never reaches the
  // environment and changes nothing the schedule depends on, except by a
  // run-time error (which ends the task).
  bool fast() const { return form > Form::Family; }
};
static_assert(sizeof(HotRecord) <= 64, "a hot record fits one cache line");

// The hot form of a record, given the family handler bound to its kind;
// without fast forms (the reference mode) every record runs that handler.
HotRecord make_hot(const TPEXE &record, Handler family, bool fastForms = true);
// Chooses the step that starts at each hot record, where there is one.
void pair_hot(std::vector<HotRecord> &hot, const PcodeList &records);

bool load_program(const Lines &tcode, PcodeList &list, Lines &messages);

// Creates a record from its kind, label number and Param[1..10].
TPEXE make_record(int kind, int lblId, const std::array<u16, 11> &param);

// Field splitting and loading of one instruction line into a record; false
// when the rule code is not an instruction (the line is dropped).
bool decode_line(u16view lineNumber, u16view instruction, TPEXE &out);

// Whether `s` is 1 to 18 ASCII digits, and their value: exact as a 64-bit
// integer and so as a long double, as string_value and parse_number read
// them.
// Four digits at a time: four UTF-16 units in one word, checked and
// combined in pairs.
inline bool plain_digits(u16view s, std::int64_t &n) {
  const std::size_t size = s.size();
  if (size == 0 || size > 18) return false;
  constexpr std::uint64_t lanes = 0x0001000100010001ULL;
  std::uint64_t v = 0;
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, sizeof w);
    // Every unit below 0x80, none below '0' and none above '9'.
    if ((w & (0xFF80 * lanes)) != 0 || ((w + 0x50 * lanes) & (0x80 * lanes)) != 0x80 * lanes ||
        ((w + 0x46 * lanes) & (0x80 * lanes)) != 0)
      return false;
    const std::uint64_t d = w - 0x30 * lanes;                        // d0 | d1 << 16 | d2 << 32 | d3 << 48
    const std::uint64_t pairs = (d * 10 + (d >> 16)) & 0x0000FFFF0000FFFFULL;  // d0d1, d2d3
    v = v * 10000 + (pairs & 0xFFFF) * 100 + (pairs >> 32);
  }
  for (; i < size; ++i) {
    const unsigned d = unsigned(s[i]) - u'0';
    if (d > 9) return false;
    v = v * 10 + d;
  }
  n = std::int64_t(v);
  return true;
}

// Decimal text as a number, independent of the process locale; false when
// the text is not entirely a number.
bool parse_number(u16view text, long double &out);
// STRVAL of a text: the number between the blanks around it, 0 when the
// text is not a number.
long double string_value(u16view text);

// Escapes of string values: \n \q \r \t; another character after a backslash
// keeps the backslash; a trailing backslash is dropped.
u16 apply_escapes(u16view text);

}  // namespace velmora::engine

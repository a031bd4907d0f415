#pragma once
// Statements on the lines of a list, each done in one go where its records
// would pass the text through the string register on the way:
//
//   &Z = &L[n]       line get by its index, string store   (line_read)
//   &L[n] = "x"      string get, line store by its index    (line_put)
//   &L[] += &T       string get, list append                (line_put)
//   IF &L[n] THEN    whether line n is there and not empty  (line_state)
//   N = &L[].SIZE    the number of lines                    (list_size)
//
// Each leaves what its records leave: the string register holds the text
// that went through it (the register of rests as they leave it), the case
// option is used up where a line index is read, and a variable takes a
// value that shares its text with the list line, never a view of it: a
// line is a slice of an append-only block (text_buffer.h), so a later write
// to the list (which replaces the line's handle) or to the variable (which
// appends past the block's fill mark, or copies) never shows through the
// other. A pending join mark takes the records' own path.
#include <cmath>

#include "engine/machine.h"

namespace velmora::engine::fast {

// A line number as the records read it: a whole number as it is, any other
// truncated toward zero, kept within +-2,000,000,000.
inline long line_number(bool isWhole, int64_t whole, long double value) {
  constexpr long kLimit = 2000000000L;
  if (isWhole) return whole > kLimit ? kLimit : whole < -kLimit ? -kLimit : long(whole);
  const long double v = std::trunc(value);
  return v > 2e9L ? kLimit : v < -2e9L ? -kLimit : long(v);
}
inline long line_number(const VarNumber &x) { return line_number(x.isWhole, x.whole, x.value); }

// The case option is used up by a record that reads a line by its index.
inline void use_case_option(TTaskInfo &t) {
  if (!t.LIST_NOCASE.empty()) t.LIST_NOCASE.clear();
}

// &Z = &L[n]: line n into the register and the variable, sharing the
// list's text; nothing (an empty text) when the list has no line n, the
// register of rests then left as it is. False, having changed nothing,
// when a join mark is pending.
inline bool line_read(TTaskInfo &t, const LineList &list, long n, StrValue &to) {
  if (!t.STR_OPE.empty()) return false;
  use_case_option(t);
  if (n < 0 || n >= long(list.size())) {
    t.STR_WORK.clear();
    to.clear();
    return true;
  }
  // Both made from the line: the same value as the register copied.
  const Line &line = list.line(std::size_t(n));
  line.assignTo(t.STR_WORK);
  if (!t.STR_REM.empty()) t.STR_REM.clear();
  line.assignTo(to);
  return true;
}

// The text a string get puts in the register, read in place: a constant,
// or a variable the escape pass leaves as it is; nullptr otherwise (the
// records then make the escaped value).
inline const StrValue *gotten(const StrValue *constant, const StrValue *variable) {
  if (constant) return constant;
  return variable->escapeFree() ? variable : nullptr;
}

// &L[n] = x: the register := x, then line n := the register (no line
// beyond the list's end is made). False, having changed nothing, when a
// join mark is pending or x needs the escape pass.
inline bool line_put(TTaskInfo &t, const StrValue *x, LineList &list, long n) {
  if (!x || !t.STR_OPE.empty()) return false;
  t.STR_WORK = *x;
  use_case_option(t);
  if (n >= 0 && n < long(list.size())) list.set(std::size_t(n), t.STR_WORK);
  return true;
}

// &L[] += x: the register := x, appended as the list's last line.
inline bool line_append(TTaskInfo &t, const StrValue *x, LineList &list) {
  if (!x || !t.STR_OPE.empty()) return false;
  t.STR_WORK = *x;
  list.push_back(t.STR_WORK);
  return true;
}

// Whether line n is there and not empty (FLAG, or its negation).
inline void line_state(TTaskInfo &t, const LineList &list, long n, bool negated) {
  use_case_option(t);
  const bool holds = n >= 0 && n < long(list.size()) && list.line(std::size_t(n)).size() != 0;
  t.FLAG = holds != negated;
}

}  // namespace velmora::engine::fast

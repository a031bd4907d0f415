// String and list instructions: string and list expressions into the task's
// registers, their stores, and the string and list predicates.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "engine/machine.h"
#include "engine/families.h"
#include "engine/number_format.h"
#include "engine/registers.h"
#include "engine/text_ops.h"

namespace velmora::engine {

namespace {

// The letter-case option folds conditions and searched texts; cleared by the
// instruction that used it.
struct CaseOption {
  bool fold;
  explicit CaseOption(TTaskInfo &t) : fold(!t.LIST_NOCASE.empty() && t.LIST_NOCASE == u"[^]") {
    if (!t.LIST_NOCASE.empty()) t.LIST_NOCASE.clear();
  }
  u16 operator()(u16view s) const { return fold ? fold_case(s) : u16(s); }
};

const LineList *list_of(Machine &e, const TPEXE &r, int k) {
  int idx = e.varOf(r, k);
  return idx < 0 ? nullptr : &e.vars[idx].StrList;
}

// A string operand as a value: a variable's value is shared unless the
// escape pass changes it.
StrValue value_of(Machine &e, const TPEXE &r, int k) {
  if (r.op[std::size_t(k)].kind == OperandKind::StrConst) return r.constValue(k);
  int v = r.var[std::size_t(k) + 1];
  if (v >= 0) return e.vars[v].StrVal.escaped();
  return e.getString(r.Param[std::size_t(k) + 1]);
}

// A string operand read in place where it can be (Machine::strView).
u16view view_of(Machine &e, const TPEXE &r, int k, StrValue &held) { return e.strView(r, k, held); }

// A string store into the variable Param[k] names (its number when
// linked): the value goes to the variable and to the string register.
void store_string(Machine &e, const TPEXE &r, int k, StrValue value) {
  e.tasks[std::size_t(e.current)].STR_WORK = value;
  int v = e.varOf(r, k);
  if (v < 0) return e.undefinedError(r.Param[std::size_t(k)]);
  e.vars[v].StrVal = std::move(value);
}

// Which lines a selector operand (Param[k], Param[k+1]) picks.
struct Selector {
  enum Kind { Index, Text, All } kind = Index;
  long index = 0;
  u16 text;
};

// A line number kept within +-2,000,000,000, truncated toward zero; a whole
// number held as an integer is taken as it is (truncating an 80-bit value
// switches the FPU's rounding twice).
long line_index(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  constexpr long kLimit = 2000000000L;
  const Operand &o = r.op[std::size_t(k)];
  std::int64_t w;
  bool whole = false;
  if (o.kind == OperandKind::Const && o.isWhole) {
    w = o.whole;
    whole = true;
  } else if (o.kind == OperandKind::Var && r.var[std::size_t(k) + 1] >= 0) {
    const VarNumber &x = e.vars[r.var[std::size_t(k) + 1]].Val1;
    w = x.whole;
    whole = x.isWhole;
  }
  if (whole) return w > kLimit ? kLimit : w < -kLimit ? -kLimit : long(w);
  long double v = std::trunc(e.num(t, r, k));
  return v > 2e9L ? kLimit : v < -2e9L ? -kLimit : long(v);
}

Selector selector(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  Selector s;
  // The operand's kind, decoded at load, says which selector it is: a
  // number or numeric variable, a string, or "*".
  const OperandKind kind = r.op[std::size_t(k)].kind;
  const bool number = kind == OperandKind::Const || kind == OperandKind::Var || kind == OperandKind::NegVar ||
                      kind == OperandKind::BadConst;
  const u16 &cls = r.Param[std::size_t(k)];
  if (!number && kind != OperandKind::StrConst && kind != OperandKind::StrVar && cls == u"*") {
    s.kind = Selector::All;
  } else if (number || is_number_class(cls)) {
    s.kind = Selector::Index;
    s.index = line_index(e, t, r, k);
  } else {
    s.kind = Selector::Text;
    s.text = e.str(r, k);
  }
  return s;
}

// ----- string expressions

void op_string_get(Machine &e, TTaskInfo &t, const TPEXE &r) {
  // A constant, or a variable the escape pass leaves as it is, goes to the
  // register without a value made for the way.
  const StrValue *in = nullptr;
  if (r.op[1].kind == OperandKind::StrConst) {
    in = &r.constValue(1);
  } else if (const int v = r.var[2]; v >= 0 && e.vars[v].StrVal.escapeFree()) {
    in = &e.vars[v].StrVal;
  }
  if (in) return deliver_value(t, *in);
  StrValue s = value_of(e, r, 1);
  if (!e.errorFlag) deliver_string(t, std::move(s));
}

void op_string_concat(Machine &, TTaskInfo &t, const TPEXE &) {
  // The mark is the only text the register holds: written by character
  // into the string's own room rather than assigned as a text.
  t.STR_OPE.resize(1);
  t.STR_OPE[0] = u'+';
}

void op_string_char(Machine &e, TTaskInfo &t, const TPEXE &r) {
  // The text is read where it lies: only the character is taken.
  StrValue held;
  const u16view s = view_of(e, r, 1, held);
  long double n = std::trunc(e.num(t, r, 3));
  if (e.errorFlag) return;
  if (n >= 1 && n <= s.size()) deliver_text(t, s.substr(std::size_t(n) - 1, 1));
  else deliver_text(t, u16view());
}

// Whether the line holds `key`, compared as written or, under the
// letter-case option, both folded (a copy only then).
bool line_holds_folded(u16view line, const Needle &key) { return key.in(fold_case(line)); }
inline bool line_holds(u16view line, const Needle &key, const CaseOption &fold) {
  return fold.fold ? line_holds_folded(line, key) : key.in(line);
}
// What lines holding `text` have of its character pairs: nothing is asked
// under the letter-case option (lines are signed by their unfolded text).
inline PairKey pair_key(u16view text, const CaseOption &fold) { return fold.fold ? PairKey() : PairKey(text); }

// The text a line selector picks from a list: line n (sharing the list's
// text), or every line that contains the text, joined without separator.
// False when nothing is picked.
bool selected_value(const LineList &lines, const Selector &sel, const CaseOption &fold, StrValue &out) {
  if (sel.kind == Selector::Index) {
    if (sel.index < 0 || sel.index >= long(lines.size())) return false;
    out = lines.value(std::size_t(sel.index));
    return true;
  }
  const u16 text = fold(sel.text);
  const Needle key(text);
  out.clear();
  lines.forEachPossible(pair_key(text, fold), [&](std::size_t, const Line &line) {
    if (line_holds(line.view(), key, fold)) out.append(line.view());
  });
  return true;
}

// Whether the operand pair at k is a number (a line index) rather than a
// text or "*".
bool is_number_operand(const TPEXE &r, int k) {
  const OperandKind kind = r.op[std::size_t(k)].kind;
  return kind == OperandKind::Const || kind == OperandKind::Var || kind == OperandKind::NegVar ||
         kind == OperandKind::BadConst;
}

void op_list_line(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (is_number_operand(r, 3) && t.STR_OPE.empty()) {
    // Line n into the register, sharing the list's text: the common read
    // &Z = &L[n], made without a value on the way.
    if (!t.LIST_NOCASE.empty()) t.LIST_NOCASE.clear();  // the case option is used up
    const long n = line_index(e, t, r, 3);
    const LineList *lines = list_of(e, r, 2);
    if (!lines || e.errorFlag || n < 0 || n >= long(lines->size())) return nothing_found(t);
    lines->line(std::size_t(n)).assignTo(t.STR_WORK);
    if (!t.STR_REM.empty()) t.STR_REM.clear();
    return;
  }
  CaseOption fold(t);
  Selector sel = selector(e, t, r, 3);
  const LineList *lines = list_of(e, r, 2);
  StrValue value;
  if (!lines || e.errorFlag || !selected_value(*lines, sel, fold, value)) return nothing_found(t);
  deliver_string(t, std::move(value), StrValue());
}

void op_list_char(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double n = std::trunc(e.num(t, r, 3));
  long double m = std::trunc(e.num(t, r, 5));
  const LineList *lines = list_of(e, r, 2);
  if (!lines || e.errorFlag || n < 0 || n >= lines->size()) return nothing_found(t);
  const std::size_t at = std::size_t(n);
  const u16view line = (*lines)[at];
  if (m > line.size()) return deliver_string(t, lines->value(at), StrValue());
  if (m < 1) return deliver_string(t, StrValue(), lines->value(at));
  std::size_t i = std::size_t(m) - 1;
  deliver_string(t, StrValue::copyOf(line.substr(i, 1)), StrValue(u16(line.substr(0, i)) + u16(line.substr(i + 1))));
}

void deliver_zone(TTaskInfo &t, Zone &&z) { deliver_string(t, std::move(z.result), std::move(z.rest)); }
void deliver_zone(TTaskInfo &t, ValueZone &&z) { deliver_string(t, std::move(z.result), std::move(z.rest)); }

void op_list_zone(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  long double n = std::trunc(e.num(t, r, 3));
  StrValue heldA, heldB;
  const u16view a = view_of(e, r, 5, heldA), b = view_of(e, r, 7, heldB);
  const LineList *lines = list_of(e, r, 2);
  if (!lines || e.errorFlag || n < 0 || n >= lines->size()) return nothing_found(t);
  // Cut from the line as a value: the pieces share its text where they can.
  deliver_zone(t, value_zone(lines->value(std::size_t(n)), a, b, t.LIST_INC, fold.fold));
}

void op_string_zone(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  StrValue heldA, heldB;
  u16view a = view_of(e, r, 3, heldA), b = view_of(e, r, 5, heldB);
  int idx = e.varOf(r, 2);
  if (idx < 0 || e.errorFlag) return nothing_found(t);
  const StrValue &s = e.vars[idx].StrVal;
  // The variable is read in place unless the escape pass changes it.
  if (s.escapeFree()) deliver_zone(t, value_zone(s, a, b, t.LIST_INC, fold.fold));
  else deliver_zone(t, value_zone(s.escaped(), a, b, t.LIST_INC, fold.fold));
}

void op_string_zone_by_list(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  u16 a = e.str(r, 3);
  int idx = e.varOf(r, 2);
  const LineList *ends = list_of(e, r, 6);
  if (idx < 0 || !ends || e.errorFlag) return nothing_found(t);
  deliver_zone(t, value_zone_by_list(e.vars[idx].StrVal.escaped(), a, *ends, t.LIST_INC, fold.fold));
}

void op_list_zone_by_list(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  long double n = std::trunc(e.num(t, r, 3));
  u16 a = e.str(r, 5);
  const LineList *lines = list_of(e, r, 2);
  const LineList *ends = list_of(e, r, 8);
  if (!lines || !ends || e.errorFlag || n < 0 || n >= lines->size()) return nothing_found(t);
  deliver_zone(t, zone_by_list((*lines)[std::size_t(n)], a, *ends, t.LIST_INC, fold.fold));
}

void op_number_formatted(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double x = e.num(t, r, 1);
  u16 fmt = e.str(r, 3);
  if (!e.errorFlag) deliver_string(t, format_picture(x, fmt));
}

void op_char(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double n = std::trunc(e.num(t, r, 1));
  u16 s;
  if (n >= 0 && n <= 0x10FFFF && !(n >= 0xD800 && n <= 0xDFFF)) {
    auto cp = char32_t(n);
    if (cp < 0x10000) {
      s = u16(1, char16_t(cp));
    } else {
      cp -= 0x10000;
      s = {char16_t(0xD800 + (cp >> 10)), char16_t(0xDC00 + (cp & 0x3FF))};
    }
  }
  if (!e.errorFlag) deliver_string(t, std::move(s));
}

// The digits of v written straight into place, as integer_text writes them.
void deliver_integer(TTaskInfo &t, long long v) {
  char16_t digits[24];
  char16_t *end = digits + 24, *p = end;
  unsigned long long m = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
  do {
    *--p = char16_t(u'0' + m % 10);
    m /= 10;
  } while (m != 0);
  if (v < 0) *--p = u'-';
  deliver_text(t, u16view(p, std::size_t(end - p)));
}

void op_int_string(Machine &e, TTaskInfo &t, const TPEXE &r) {
  // A variable or constant that is a whole number held as an integer too
  // is written from the integer: truncating the 80-bit value switches the
  // FPU's control word twice, the costliest step of a loop's INTSTR(I).
  const Operand &o = r.op[1];
  if (o.kind == OperandKind::Const && o.isWhole) return deliver_integer(t, o.whole);
  if (o.kind == OperandKind::Var && r.var[2] >= 0) {
    const VarNumber &x = e.vars[r.var[2]].Val1;
    if (x.isWhole) return deliver_integer(t, x.whole);
  }
  long double n = e.num(t, r, 1);
  if (e.errorFlag) return;
  const long double whole = std::trunc(n);
  // Integral already: converted in any rounding mode (no second switch).
  if (whole > -0x1p63L && whole < 0x1p63L) return deliver_integer(t, std::llrint(whole));
  deliver_text(t, integer_text(n));
}

// COPY(s, p, n): p and n rounded to the nearest integer, ties to even;
// the characters as a slice of s.
StrValue copy_of(const StrValue &s, long double p, long double n) {
  p = std::nearbyint(p);
  n = std::nearbyint(n);
  if (p < 1) p = 1;
  if (n <= 0 || p > s.size()) return {};
  std::size_t start = std::size_t(p) - 1;
  std::size_t count = n >= s.size() ? s.size() : std::size_t(n);
  return s.slice(start, count);
}

void op_copy_to_register(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue s = value_of(e, r, 1);
  long double p = e.num(t, r, 3), n = e.num(t, r, 5);
  if (!e.errorFlag) deliver_string(t, copy_of(s, p, n));
}

// ----- numeric string functions

void op_asc(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue held;
  const u16view s = view_of(e, r, 1, held);
  if (!e.errorFlag) t.WORK = string_code(u"ASC", s);
}

void op_hex(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 s = e.str(r, 1);
  if (e.errorFlag) return;
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') s = s.substr(1, s.size() - 2);
  uint32_t v = 0;
  for (std::size_t i = 0; i < s.size() && i < 8; ++i) {
    char16_t c = text::ascii_upper(s[i]);
    if (c >= u'0' && c <= u'9') v = (v << 4) + uint32_t(c - u'0');
    else if (c >= u'A' && c <= u'F') v = (v << 4) + uint32_t(c - u'A' + 10);
  }
  t.WORK = v;
}

void op_string_value(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue held;
  const u16view s = view_of(e, r, 1, held);
  if (e.errorFlag) return;
  std::size_t a = s.find_first_not_of(u' '), b = s.find_last_not_of(u' ');
  long double v = 0;
  if (a == u16view::npos || !parse_number(s.substr(a, b - a + 1), v)) v = 0;
  t.WORK = v;
}

void op_string_position(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue heldA, heldB;
  const u16view a = view_of(e, r, 1, heldA), b = view_of(e, r, 3, heldB);
  if (e.errorFlag) return;
  std::size_t p = a.empty() ? u16view::npos : b.find(a);
  t.WORK = p == u16view::npos ? 0 : static_cast<long double>(p + 1);
}

void op_string_length(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue held;
  const std::size_t n = view_of(e, r, 1, held).size();
  if (!e.errorFlag) t.WORK = static_cast<long double>(n);
}

// ----- string assignments

TVarInfo *target(Machine &e, const TPEXE &r, int k) {
  int idx = e.varOf(r, k);
  if (idx < 0) {
    e.undefinedError(r.Param[std::size_t(k)]);
    return nullptr;
  }
  return &e.vars[idx];
}

void op_var_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  // The string register keeps its value: only the variable takes a copy.
  const int v = e.varOf(r, 2);
  if (v < 0) return e.undefinedError(r.Param[2]);
  e.vars[v].StrVal = t.STR_WORK;
}

void op_var_element_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double n = std::trunc(e.num(t, r, 3));
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  if (n >= 1 && n <= v->StrVal.size()) {
    u16 s = v->StrVal.str();
    s.replace(std::size_t(n) - 1, 1, t.STR_WORK.view());
    v->StrVal = std::move(s);
  }
}

void op_split_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  // Two string stores: the piece, then the rest (which the string register
  // holds afterwards), without copying either more than the stores need.
  const int piece = e.varOf(r, 2);
  if (piece < 0) return e.undefinedError(r.Param[2]);
  e.vars[piece].StrVal = t.STR_WORK;
  t.STR_WORK = t.STR_REM;
  const int rest = e.varOf(r, 4);
  if (rest < 0) return e.undefinedError(r.Param[4]);
  e.vars[rest].StrVal = t.STR_REM;
}

void op_assign_string(Machine &e, TTaskInfo &, const TPEXE &r) {
  StrValue s = value_of(e, r, 2);
  if (!e.errorFlag) store_string(e, r, 1, std::move(s));
}

void op_add_string(Machine &e, TTaskInfo &, const TPEXE &r) {
  if (r.op[3].kind == OperandKind::StrConst) {
    // A constant is appended as it lies: no value made for it.
    TVarInfo *v = target(e, r, 2);
    if (!v) return;
    v->StrVal.append(r.constText(3));
    e.tasks[std::size_t(e.current)].STR_WORK = v->StrVal;
    return;
  }
  StrValue s = value_of(e, r, 3);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  // In place: the variable's buffer grows with room to spare.
  v->StrVal += s;
  e.tasks[std::size_t(e.current)].STR_WORK = v->StrVal;
}

void op_copy_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue s = value_of(e, r, 3);
  long double p = e.num(t, r, 5), n = e.num(t, r, 7);
  if (e.errorFlag) return;
  // The copy goes to the variable and the string register as one value.
  StrValue piece = copy_of(s, p, n);
  t.STR_WORK = piece;
  const int v = e.varOf(r, 2);
  if (v < 0) return e.undefinedError(r.Param[2]);
  e.vars[v].StrVal = std::move(piece);
}

void op_format_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double x = e.num(t, r, 3);
  u16 fmt = e.str(r, 5);
  if (!e.errorFlag) e.setString(r.Param[2], format_picture(x, fmt));
}

void op_delete_string(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 x = e.str(r, 3);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  u16 value = v->StrVal.str();
  if (!x.empty())
    for (std::size_t p; (p = value.find(x)) != u16::npos;) value.erase(p, x.size());
  e.setString(r.Param[2], value);
  t.STR_WORK = value;
}

void op_replace_string(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 from = e.str(r, 3), to = e.str(r, 5);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  u16 value = v->StrVal.str();
  e.setString(r.Param[2], replace_repeatedly(value, from, to));
  t.STR_WORK = v->StrVal;
}

// ----- list expressions

void op_list_get(Machine &e, TTaskInfo &t, const TPEXE &r) {
  const LineList *lines = list_of(e, r, 2);
  if (lines && t.LIST_TASK != u"+") {
    // Shared, not copied: the chunks are copied only when changed.
    t.LIST_WORK = *lines;
    t.LIST_REM.clear();
  } else {
    begin_list(t);
    if (lines) t.LIST_WORK.append(*lines);
  }
  finish_list(t);
}

void op_list_select(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  u16 text = fold(e.str(r, 3));
  const Needle key(text);
  const LineList *lines = list_of(e, r, 2);
  if (e.errorFlag) return;
  // A join or an order option reads the rest at once; otherwise it is left
  // pending, picked out only if a split store or the like reads it.
  const bool restNow = t.LIST_TASK == u"+" || !t.SORT_LIST.empty();
  begin_list(t);
  if (lines && restNow) {
    LineList &rest = t.LIST_REM.get();
    lines->forEach(
        [&](const Line &line) { (line_holds(line.view(), key, fold) ? t.LIST_WORK : rest).push_back(line); });
  } else if (lines) {
    // The lines go to the register sharing their text.
    std::size_t hits = 0;
    lines->forEachPossible(pair_key(text, fold), [&](std::size_t, const Line &line) {
      if (line_holds(line.view(), key, fold)) {
        t.LIST_WORK.push_back(line);
        ++hits;
      }
    });
    t.LIST_REM.setPending(*lines, text, fold.fold, lines->size() - hits);
  }
  finish_list(t);
}

void op_list_zone_lines(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  StrValue heldA, heldB;
  const u16view a = view_of(e, r, 3, heldA), b = view_of(e, r, 5, heldB);
  const LineList *lines = list_of(e, r, 2);
  if (e.errorFlag) return;
  begin_list(t);
  if (lines) select_line_zone(*lines, a, b, t.LIST_INC, fold.fold, t.LIST_WORK, t.LIST_REM.get());
  finish_list(t);
}

void op_list_line_zones(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  const u16 text = fold(e.str(r, 3));
  const Needle key(text);
  StrValue heldA, heldB;
  const u16view a = view_of(e, r, 5, heldA), b = view_of(e, r, 7, heldB);
  const LineList *lines = list_of(e, r, 2);
  if (e.errorFlag) return;
  begin_list(t);
  if (lines)
    lines->forEach([&](const Line &line) {
      if (!line_holds(line.view(), key, fold)) return;
      ValueZone z = value_zone(line.value(), a, b, t.LIST_INC, fold.fold);
      t.LIST_WORK.push_back(z.result);
      t.LIST_REM.get().push_back(z.rest);
    });
  finish_list(t);
}

u16 digits(long value, int width) {
  u16 s = text::int16(value);
  if (int(s.size()) < width) s.insert(0, std::size_t(width) - s.size(), u'0');
  return s;
}

void op_date(Machine &, TTaskInfo &t, const TPEXE &) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  static const char16_t *english[] = {u"SUN", u"MON", u"TUE", u"WED", u"THU", u"FRI", u"SAT"};
  static const char16_t *japanese[] = {u"日", u"月", u"火", u"水", u"木", u"金", u"土"};
  int weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday;
  begin_list(t);
  for (u16 line :
       {digits(tm.tm_year + 1900, 4), digits(tm.tm_mon + 1, 2), digits(tm.tm_mday, 2), digits(tm.tm_yday + 1, 3),
        digits(tm.tm_mday, 2), digits(weekday, 1), u16(english[tm.tm_wday]), u16(japanese[tm.tm_wday])})
    t.LIST_WORK.push_back(std::move(line));
}

void op_time(Machine &, TTaskInfo &t, const TPEXE &) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  long ms = ts.tv_nsec / 1000000;
  long sinceMidnight = ((tm.tm_hour * 60L + tm.tm_min) * 60L + tm.tm_sec) * 1000L + ms;
  begin_list(t);
  for (u16 line :
       {digits(tm.tm_hour, 2), digits(tm.tm_min, 2), digits(tm.tm_sec, 2), digits(ms, 3), digits(sinceMidnight, 9)})
    t.LIST_WORK.push_back(std::move(line));
}

void op_list_option(Machine &, TTaskInfo &t, const TPEXE &r) { t.SORT_LIST = r.Param[1]; }
void op_zone_option(Machine &, TTaskInfo &t, const TPEXE &r) {
  // An option of the same length is written over the old one in place.
  const u16 &option = r.Param[1];
  if (t.LIST_INC.size() == option.size()) std::copy(option.begin(), option.end(), t.LIST_INC.begin());
  else t.LIST_INC = option;
}
void op_case_option(Machine &, TTaskInfo &t, const TPEXE &r) { t.LIST_NOCASE = r.Param[1]; }
void op_list_join(Machine &, TTaskInfo &t, const TPEXE &) { t.LIST_TASK = u"+"; }

// ----- list assignments

void op_list_clear(Machine &e, TTaskInfo &, const TPEXE &r) { e.clearList(r.Param[2]); }

// Whether two texts are equal ignoring letter case, folded by character.
bool equal_folded(u16view a, u16view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold_char(a[i]) != fold_char(b[i])) return false;
  return true;
}

void op_list_add_remove(Machine &e, TTaskInfo &, const TPEXE &r) {
  StrValue x = value_of(e, r, 4);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  LineList &list = v->StrList;
  if (r.Param[3] == u"+=") {
    list.push_back(x);
  } else if (r.Param[3] == u"-=") {
    const u16view key = x.view();
    auto it = std::find_if(list.begin(), list.end(), [&](u16view line) { return equal_folded(line, key); });
    if (it != list.end()) list.erase(std::size_t(it - list.begin()));
  }
}

void op_list_size(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TVarInfo *v = target(e, r, 2);
  if (v) t.WORK = static_cast<long double>(v->StrList.size());
}

// The text a numeric selector outside the list stands for.
u16 selector_text(const Selector &s) { return s.kind == Selector::Index ? text::int16(s.index) : s.text; }

void op_list_delete(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  Selector sel = selector(e, t, r, 3);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  LineList &list = v->StrList;
  if (sel.kind == Selector::Index && sel.index >= 0 && sel.index < long(list.size()))
    return list.erase(std::size_t(sel.index));  // one chunk
  const u16 key = fold(selector_text(sel));
  if (key.empty()) return;
  list.keepIf([&](u16view line) { return !contains(line, key); });
}

void op_list_insert(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  Selector sel = selector(e, t, r, 3);
  StrValue x = value_of(e, r, 5);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  LineList &list = v->StrList;
  if (sel.kind == Selector::Index && sel.index >= 0 && sel.index < long(list.size()))
    return list.insert(std::size_t(sel.index), x);  // one chunk
  const u16 key = fold(selector_text(sel));
  if (key.empty()) return;
  list.insertBefore([&](u16view line) { return contains(line, key); }, x);
}

void op_list_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TVarInfo *v = target(e, r, 2);
  if (v) v->StrList = t.LIST_WORK;
}

// Calls `edit(i, line)` for every line i the selector picks; the edit
// replaces the line, so that only the chunks holding those lines are
// unshared.
template <typename Edit>
void edit_lines(LineList &lines, const Selector &sel, const CaseOption &fold, Edit edit) {
  if (sel.kind == Selector::Index) {
    if (sel.index >= 0 && sel.index < long(lines.size())) edit(std::size_t(sel.index), lines[std::size_t(sel.index)]);
    return;
  }
  // The lines to edit are found in one pass over the chunks, then edited
  // (an edit replaces its own line only, so it changes no other's match).
  const u16 text = fold(sel.text);
  const Needle key(text);
  const bool all = sel.kind == Selector::All;
  std::vector<std::size_t> hits;
  lines.forEachPossible(all ? PairKey() : pair_key(text, fold), [&](std::size_t i, const Line &line) {
    if (all || line_holds(line.view(), key, fold)) hits.push_back(i);
  });
  for (const std::size_t h : hits) edit(h, lines[h]);
}

void op_list_element_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (is_number_operand(r, 3)) {
    // Line n := the register, sharing its text: the common &L[n] = ...
    if (!t.LIST_NOCASE.empty()) t.LIST_NOCASE.clear();  // the case option is used up
    const long n = line_index(e, t, r, 3);
    TVarInfo *v = target(e, r, 2);
    if (!v || e.errorFlag) return;
    if (n >= 0 && n < long(v->StrList.size())) v->StrList.set(std::size_t(n), t.STR_WORK);
    return;
  }
  CaseOption fold(t);
  Selector sel = selector(e, t, r, 3);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  LineList &list = v->StrList;
  // The register's text, shared by every line it goes to.
  edit_lines(list, sel, fold, [&](std::size_t i, u16view) { list.set(i, t.STR_WORK); });
}

void op_list_char_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  CaseOption fold(t);
  Selector lineSel = selector(e, t, r, 3);
  Selector charSel = selector(e, t, r, 5);
  TVarInfo *v = target(e, r, 2);
  if (!v || e.errorFlag) return;
  const u16view with = t.STR_WORK.view();
  LineList &list = v->StrList;
  edit_lines(list, lineSel, fold, [&](std::size_t i, u16view line) {
    if (charSel.kind == Selector::Index) {
      if (charSel.index < 1 || charSel.index > long(line.size())) return;
      u16 out(line);
      out.replace(std::size_t(charSel.index) - 1, 1, with);
      list.set(i, u16view(out));
    } else if (charSel.kind == Selector::All) {
      u16 out;
      out.reserve(line.size() * with.size());
      for (std::size_t k = 0; k < line.size(); ++k) out += with;
      list.set(i, u16view(out));
    } else {
      const u16 out = replace_all(line, charSel.text, with, fold.fold);
      list.set(i, u16view(out));
    }
  });
}

void op_list_add_line(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TVarInfo *v = target(e, r, 2);
  if (v) v->StrList.push_back(t.STR_WORK);  // shares the register's text
}

void op_list_split_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  TVarInfo *a = target(e, r, 2);
  if (!a) return;
  TVarInfo *b = target(e, r, 4);
  if (!b) return;
  a->StrList = t.LIST_WORK;
  b->StrList = t.LIST_REM.get();
}

// ----- predicates

void set_flag(TTaskInfo &t, const TPEXE &r, bool holds) { t.FLAG = holds != r.negated; }

void op_value_state(Machine &e, TTaskInfo &t, const TPEXE &r) {
  bool holds;
  const OperandKind kind = r.op[2].kind;
  const int v = r.var[3];
  if (kind == OperandKind::Var || kind == OperandKind::NegVar || kind == OperandKind::Const ||
      kind == OperandKind::BadConst)
    holds = e.num(t, r, 2) != 0;  // a number class
  else if (kind == OperandKind::StrVar && v >= 0 && e.vars[v].StrVal.escapeFree())
    holds = !e.vars[v].StrVal.empty();  // read in place
  else holds = !value_of(e, r, 2).empty();
  if (!e.errorFlag) set_flag(t, r, holds);
}

void op_string_state(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (is_number_operand(r, 4)) {
    // Whether line n is there and not empty, read where it lies.
    if (!t.LIST_NOCASE.empty()) t.LIST_NOCASE.clear();  // the case option is used up
    const long n = line_index(e, t, r, 4);
    const LineList *lines = list_of(e, r, 3);
    if (e.errorFlag) return;
    set_flag(t, r, lines && n >= 0 && n < long(lines->size()) && lines->line(std::size_t(n)).size() != 0);
    return;
  }
  CaseOption fold(t);
  Selector sel = selector(e, t, r, 4);
  const LineList *lines = list_of(e, r, 3);
  if (e.errorFlag) return;
  // Whether the selected text is not empty, read where it lies: line n, or
  // any non-empty line holding the text.
  bool holds = false;
  if (lines && sel.kind == Selector::Index) {
    holds = sel.index >= 0 && sel.index < long(lines->size()) && !(*lines)[std::size_t(sel.index)].empty();
  } else if (lines) {
    const u16 text = fold(sel.text);
    const Needle key(text);
    for (std::size_t i = 0; i < lines->size() && !holds; ++i) {
      const u16view line = (*lines)[i];
      holds = !line.empty() && line_holds(line, key, fold);
    }
  }
  set_flag(t, r, holds);
}

void op_list_state(Machine &e, TTaskInfo &t, const TPEXE &r) {
  const LineList *lines = list_of(e, r, 3);
  set_flag(t, r, lines && !lines->empty());
}

}  // namespace

void register_strings(Machine &e) {
  e.setHandler(opSTRING_GET, op_string_get);
  e.setHandler(opSTRING_CONCAT, op_string_concat);
  e.setHandler(opSTRING_CHAR, op_string_char);
  e.setHandler(opLIST_LINE, op_list_line);
  e.setHandler(opLIST_CHAR, op_list_char);
  e.setHandler(opLIST_ZONE, op_list_zone);
  e.setHandler(opSTRING_ZONE, op_string_zone);
  e.setHandler(opSTRING_ZONE_BY_LIST, op_string_zone_by_list);
  e.setHandler(opLIST_ZONE_BY_LIST, op_list_zone_by_list);
  e.setHandler(opNUMBER_FORMATTED, op_number_formatted);
  e.setHandler(opCHAR, op_char);
  e.setHandler(opINT_STRING, op_int_string);
  e.setHandler(opCOPY_TO_REGISTER, op_copy_to_register);
  e.setHandler(opASC, op_asc);
  e.setHandler(opHEX, op_hex);
  e.setHandler(opSTRING_VALUE, op_string_value);
  e.setHandler(opSTRING_POSITION, op_string_position);
  e.setHandler(opSTRING_LENGTH, op_string_length);
  e.setHandler(opVAR_STORE, op_var_store);
  e.setHandler(opVAR_ELEMENT_STORE, op_var_element_store);
  e.setHandler(opSPLIT_STORE, op_split_store);
  e.setHandler(opASSIGN_STRING, op_assign_string);
  e.setHandler(opADD_STRING, op_add_string);
  e.setHandler(opCOPY_STORE, op_copy_store);
  e.setHandler(opFORMAT_STORE, op_format_store);
  e.setHandler(opDELETE_STRING, op_delete_string);
  e.setHandler(opREPLACE_STRING, op_replace_string);
  e.setHandler(opLIST_GET, op_list_get);
  e.setHandler(opLIST_SELECT, op_list_select);
  e.setHandler(opLIST_ZONE_LINES, op_list_zone_lines);
  e.setHandler(opLIST_LINE_ZONES, op_list_line_zones);
  e.setHandler(opDATE, op_date);
  e.setHandler(opTIME, op_time);
  e.setHandler(opLIST_OPTION, op_list_option);
  e.setHandler(opZONE_OPTION, op_zone_option);
  e.setHandler(opCASE_OPTION, op_case_option);
  e.setHandler(opLIST_JOIN, op_list_join);
  e.setHandler(opLIST_CLEAR, op_list_clear);
  e.setHandler(opLIST_ADD_REMOVE, op_list_add_remove);
  e.setHandler(opLIST_SIZE, op_list_size);
  e.setHandler(opLIST_DELETE, op_list_delete);
  e.setHandler(opLIST_INSERT, op_list_insert);
  e.setHandler(opLIST_STORE, op_list_store);
  e.setHandler(opLIST_ELEMENT_STORE, op_list_element_store);
  e.setHandler(opLIST_CHAR_STORE, op_list_char_store);
  e.setHandler(opLIST_ADD_LINE, op_list_add_line);
  e.setHandler(opLIST_SPLIT_STORE, op_list_split_store);
  e.setHandler(opVALUE_STATE, op_value_state);
  e.setHandler(opSTRING_STATE, op_string_state);
  e.setHandler(opLIST_STATE, op_list_state);
}

}  // namespace velmora::engine

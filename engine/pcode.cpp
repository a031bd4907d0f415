#include "engine/pcode.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>
#include <unordered_set>

#include "engine/numeric.h"
#include "engine/opcodes.h"
#include "text/fields.h"

namespace velmora::engine {

namespace {

const u16 kEmptyText;

bool starts_with(u16view s, u16view p) { return s.substr(0, p.size()) == p; }

int32_t label_number(u16view param1) {
  // "L_12" gives 12; a text that is not a number gives 0.
  u16view digits = param1.substr(std::min<std::size_t>(2, param1.size()));
  if (digits.empty()) return 0;
  bool negative = digits[0] == u'-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 9) return 0;
  int32_t n = 0;
  for (char16_t c : digits) {
    if (!text::is_ascii_digit(c)) return 0;
    n = n * 10 + (c - u'0');
  }
  return negative ? -n : n;
}

}  // namespace

bool parse_number(u16view text, long double &out) {
  if (text.empty() || text.size() > 400) return false;
  {
    // A plain integer of up to 18 digits is exact as a 64-bit integer, and
    // so as a long double: the same value strtold gives, without it.
    std::size_t i = text[0] == u'-' || text[0] == u'+' ? 1 : 0;
    const std::size_t digits = text.size() - i;
    if (digits >= 1 && digits <= 18) {
      std::int64_t n = 0;
      for (; i < text.size() && text::is_ascii_digit(text[i]); ++i) n = n * 10 + (text[i] - u'0');
      if (i == text.size()) {
        out = text[0] == u'-' ? -static_cast<long double>(n) : static_cast<long double>(n);
        return true;
      }
    }
  }
  std::string narrow;
  narrow.reserve(text.size());
  bool digit = false;
  for (char16_t c : text) {
    if (text::is_ascii_digit(c)) digit = true;
    else if (c != u'.' && c != u'-' && c != u'+' && c != u'e' && c != u'E') return false;
    narrow += char(c);
  }
  if (!digit) return false;
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  char *end = nullptr;
  long double v = strtold_l(narrow.c_str(), &end, c_locale);
  if (end != narrow.c_str() + narrow.size()) return false;
  out = v;
  return true;
}

long double string_value(u16view s) {
  // Most values read as numbers are plain digits.
  if (std::int64_t n; plain_digits(s, n)) return static_cast<long double>(n);
  const std::size_t a = s.find_first_not_of(u' '), b = s.find_last_not_of(u' ');
  long double x = 0;
  if (a != u16view::npos && !parse_number(s.substr(a, b - a + 1), x)) x = 0;
  return x;
}

u16 apply_escapes(u16view text) {
  if (text.find(u'\\') == u16view::npos) return u16(text);
  u16 out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c != u'\\') {
      out += c;
      continue;
    }
    if (i + 1 >= text.size()) break;  // a trailing backslash is dropped
    switch (text[i + 1]) {
      case u'n':
        out += u'\n';
        ++i;
        break;
      case u'q':
        out += u'"';
        ++i;
        break;
      case u'r':
        out += u'\r';
        ++i;
        break;
      case u't':
        out += u'\t';
        ++i;
        break;
      default: out += u'\\'; break;  // the next character is read as usual
    }
  }
  return out;
}

Relation relation_of(u16view op) {
  if (op == u">") return Relation::Greater;
  if (op == u">=") return Relation::GreaterEqual;
  if (op == u"=") return Relation::Equal;
  if (op == u"<") return Relation::Less;
  if (op == u"<=") return Relation::LessEqual;
  if (op == u"<>") return Relation::NotEqual;
  return Relation::None;
}

ArithOp arith_of_first(u16view op) {
  switch (op.empty() ? u'\0' : op[0]) {
    case u'+': return ArithOp::Add;
    case u'-': return ArithOp::Sub;
    case u'*': return ArithOp::Mul;
    case u'/': return ArithOp::Div;
    case u'^': return ArithOp::Pow;
    default: return ArithOp::None;
  }
}

ArithOp arith_of_assign(u16view op) {
  if (op == u"+=") return ArithOp::Add;
  if (op == u"-=") return ArithOp::Sub;
  if (op == u"*=") return ArithOp::Mul;
  if (op == u"/=") return ArithOp::Div;
  return ArithOp::None;
}

const u16 &TPEXE::constText(int k) const {
  if (!text || k < 0 || k >= 10) return kEmptyText;
  return (*text)[std::size_t(k)];
}

const StrValue &TPEXE::constValue(int k) const {
  static const StrValue empty;
  if (!values || k < 0 || k >= 10) return empty;
  return (*values)[std::size_t(k)];
}

MathFn math_of(u16view name) {
  static const std::pair<u16view, MathFn> names[] = {
      {u"STRVAL", MathFn::StrVal}, {u"LENGTH", MathFn::Length}, {u"INC", MathFn::Inc}, {u"DEC", MathFn::Dec},
      {u"TRUNC", MathFn::Trunc},   {u"PAI", MathFn::Pai},       {u"SIN", MathFn::Sin}, {u"COS", MathFn::Cos},
      {u"TAN", MathFn::Tan},       {u"LN", MathFn::Ln},         {u"EXP", MathFn::Exp}, {u"SQRT", MathFn::Sqrt},
      {u"RAND", MathFn::Rand},     {u"ATAN", MathFn::Atan}};
  for (const auto &[text, fn] : names)
    if (name == text) return fn;
  return MathFn::None;
}

void TPEXE::decode() {
  text.reset();
  values.reset();
  for (int k = 0; k < 10; ++k) {
    Operand &o = op[std::size_t(k)];
    o = Operand{};
    const u16 &cls = Param[std::size_t(k)];
    const u16 &val = Param[std::size_t(k) + 1];
    if (cls.empty()) continue;
    if (cls == u"∇") {
      o.kind = OperandKind::Var;
    } else if (cls == u"xNVAR") {
      o.kind = OperandKind::NegVar;
    } else if (cls == u"Δ" || cls == u"xN") {
      long double v = 0;
      if (parse_number(val, v)) {
        o.kind = OperandKind::Const;
        o.value = cls == u"xN" ? -v : v;
        o.isWhole = whole_of(o.value, o.whole);
      } else {
        o.kind = OperandKind::BadConst;
      }
    } else if (cls == u"xPOP") {
      o.kind = OperandKind::Pop;
    } else if (cls == u"xNPOP") {
      o.kind = OperandKind::NegPop;
    } else if (cls == u"Ω") {
      o.kind = OperandKind::StrConst;
      if (!text) text = std::make_unique<std::array<u16, 10>>();
      u16view inner = val;
      inner = inner.size() >= 2 ? inner.substr(1, inner.size() - 2) : u16view();
      (*text)[std::size_t(k)] = apply_escapes(inner);
      if (!values) values = std::make_unique<std::array<StrValue, 10>>();
      (*values)[std::size_t(k)] = StrValue((*text)[std::size_t(k)]);
    } else if (cls == u"Σ") {
      o.kind = OperandKind::StrVar;
    }
  }
  // CALL and FUNCTION entries are resolved by the link step; -2 until then.
  const std::uint32_t flags = instruction_flags(kind);
  label = (flags & (ifCall | ifFunctionEntry)) ? -2 : -1;
  negated = Param[1] == u"NOT";
  relation = Relation::None;
  if (flags & ifRelation4) relation = relation_of(Param[4]);
  if (flags & ifRelation2) relation = relation_of(Param[2]);
  math = kind == opMATH ? math_of(Param[1]) : MathFn::None;
  arith = ArithOp::None;
  if (kind == opBINARY || kind == opSTEP) arith = arith_of_first(Param[1]);
  if (kind == opASSIGN_OP) arith = arith_of_assign(Param[2]);
  if (flags & ifJump) {
    int32_t n;
    if (text::parse_int(Param[1], n)) label = n;
  }
}

TPEXE make_record(int kind, int lblId, const std::array<u16, 11> &param) {
  TPEXE r;
  r.kind = kind;
  r.LblId = lblId;
  r.Param = param;
  r.Param[0].clear();
  r.decode();
  return r;
}

bool decode_line(u16view lineNumber, u16view instruction, TPEXE &out) {
  std::array<u16, 11> param{};
  param[10] = u16(lineNumber);
  if (starts_with(instruction, u"L_") || starts_with(instruction, u"F_")) {
    param[1] = u16(text::field(instruction, 0));
    out = make_record(instruction[0] == u'L' ? opLABEL : opFUNCTION, label_number(param[1]), param);
    return true;
  }
  std::vector<u16view> fields = text::split_fields(instruction);
  int32_t code;
  if (fields.empty() || !text::parse_int(fields[0], code)) return false;
  const OpcodeInfo *info = opcode_info(code);
  if (!info) return false;
  auto fieldAt = [&](std::size_t n) { return n < fields.size() ? u16(fields[n]) : u16(); };
  bool hasNot = info->optionalNot && fieldAt(1) == u"NOT";
  if (info->markSlot > 0) param[std::size_t(info->markSlot)] = u16(info->mark);
  for (std::size_t k = 1; k <= 9; ++k) {
    const SlotSource &src = info->slots[k];
    switch (src.kind) {
      case SlotSource::Empty: break;
      case SlotSource::Field: param[k] = fieldAt(src.field); break;
      case SlotSource::NotShifted: param[k] = fieldAt(src.field + (hasNot ? 1 : 0)); break;
      case SlotSource::NotWord: param[k] = hasNot ? u16(u"NOT") : u16(); break;
      case SlotSource::Fixed: param[k] = u16(1, src.fixed); break;
    }
  }
  out = make_record(code, 0, param);
  out.exitReturn = (info->flags & ifReturn) && fieldAt(1) == u"EXIT";
  return true;
}

bool load_program(const Lines &tcode, PcodeList &list, Lines &messages) {
  messages.clear();
  std::unordered_set<u16> names;
  bool duplicate = false;
  for (const u16 &line : tcode) {
    u16view instruction = u16view(line).substr(std::min<std::size_t>(6, line.size()));
    if (!starts_with(instruction, u"L_") && !starts_with(instruction, u"F_")) continue;
    u16 name(text::field(instruction, 0));
    if (!names.insert(name).second) {
      messages.push_back(u"関数・ラベル多重定義: --> " + name.substr(2));
      duplicate = true;
    }
  }
  if (duplicate) return false;
  list.reserve(list.size() + tcode.size());
  for (const u16 &line : tcode) {
    u16view text(line);
    u16view number = text.substr(0, std::min<std::size_t>(5, text.size()));
    u16view instruction = text.substr(std::min<std::size_t>(6, text.size()));
    TPEXE record;
    if (decode_line(number, instruction, record)) list.push_back(std::move(record));
  }
  return true;
}

}  // namespace velmora::engine

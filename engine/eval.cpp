// Run-time evaluation: arithmetic on the work register and the calculation
// stack, bit operations, MOD, math functions, scalar assignment,
// comparisons, matrices and vectors.
//
// long double does not trap, so every failure the language reports as
// "計算エラー：" (division by zero, logarithm or root of a negative number,
// overflow to infinity) is detected explicitly here.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/fast/arith.h"
#include "engine/machine.h"
#include "engine/families.h"
#include "engine/numeric.h"
#include "engine/random.h"

namespace velmora::engine {

namespace {

constexpr long double kPi = 3.1415926535897932385L;

// What went wrong, after "計算エラー：" and the operator or function.
constexpr char16_t kDivByZero[] = u"ゼロ除算（0 で割った）";
constexpr char16_t kOverflow[] = u"桁あふれ（結果が大きすぎる）";
constexpr char16_t kInvalid[] = u"不正な演算（負の数の対数・平方根など）";

void calc_error(Machine &e, u16view op, u16view message) {
  e.runtimeError(u"計算エラー：" + u16(op) + u" " + u16(message) + u"\r");
}

// Checks a result computed from finite operands; false after reporting.
bool checked(Machine &e, u16view op, long double r) {
  if (std::isnan(r)) {
    calc_error(e, op, kInvalid);
    return false;
  }
  if (std::isinf(r)) {
    calc_error(e, op, kOverflow);
    return false;
  }
  return true;
}

long double power(Machine &e, u16view op, long double a, long double b, bool &ok) {
  if (a == 0 && b < 0) {
    calc_error(e, op, kDivByZero);
    ok = false;
    return 0;
  }
  if (a < 0 && b != std::trunc(b)) {
    calc_error(e, op, kInvalid);
    ok = false;
    return 0;
  }
  long double r = std::pow(a, b);
  ok = checked(e, op, r);
  return r;
}

// a op b; false for ArithOp::None (the caller leaves WORK unchanged) or
// after a reported failure. opText names the operator in messages. + - * /
// are the fast forms' own arithmetic (fast/arith.h).
bool arithmetic(Machine &e, u16view opText, ArithOp op, long double a, long double b, long double &out) {
  if (op == ArithOp::None) return false;
  if (op == ArithOp::Pow) {
    bool ok = true;
    const long double r = power(e, opText, a, b, ok);
    if (ok) out = r;
    return ok;
  }
  long double r = 0;
  switch (arith::compute(op, a, b, r)) {
    case arith::Fault::None: out = r; return true;
    case arith::Fault::DivisionByZero: calc_error(e, opText, kDivByZero); return false;
    case arith::Fault::Overflow: calc_error(e, opText, kOverflow); return false;
    case arith::Fault::Invalid: calc_error(e, opText, kInvalid); return false;
  }
  return false;
}

char16_t first_char(const u16 &s) { return s.empty() ? u'\0' : s[0]; }

bool is_pop(const TPEXE &r, int k) {
  OperandKind kind = r.op[std::size_t(k)].kind;
  return kind == OperandKind::Pop || kind == OperandKind::NegPop;
}

// ----- arithmetic

void op_binary(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double a = e.num(t, r, 2);
  long double b = e.num(t, r, 4);
  long double v;
  if (arithmetic(e, r.Param[1], r.arith, a, b, v)) t.WORK = v;
}

void op_step(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double a = e.num(t, r, 2);
  long double b = e.num(t, r, 4);
  // Two pops take the right operand first.
  if (is_pop(r, 2) && is_pop(r, 4)) std::swap(a, b);
  long double v;
  if (arithmetic(e, r.Param[1], r.arith, a, b, v)) t.WORK = v;
  if (!e.errorFlag) e.push(t, t.WORK);
}

void op_negate(Machine &e, TTaskInfo &t, const TPEXE &r) { t.WORK = -e.num(t, r, 1); }
void op_load(Machine &e, TTaskInfo &t, const TPEXE &r) { t.WORK = e.num(t, r, 1); }
void op_zero(Machine &, TTaskInfo &t, const TPEXE &) { t.WORK = 0; }

void op_truth_value(Machine &, TTaskInfo &t, const TPEXE &r) {
  char16_t c = first_char(r.Param[1]);
  if (c == u'T') t.WORK = 1;
  else if (c == u'F') t.WORK = 0;
}

// A value truncated to a 32-bit integer, wrapping as a machine word does.
uint32_t word32(long double v) { return uint32_t(truncate_to_int64(v)); }

void op_bits(Machine &e, TTaskInfo &t, const TPEXE &r) {
  uint32_t a = word32(e.num(t, r, 2));
  uint32_t b = word32(e.num(t, r, 4));
  uint32_t v;
  const u16 &w = r.Param[1];
  if (w == u"AND") v = a & b;
  else if (w == u"OR") v = a | b;
  else if (w == u"XOR") v = a ^ b;
  else if (w == u"SHR") v = a >> (b % 32);
  else if (w == u"SHL") v = a << (b % 32);
  else return;
  t.WORK = int32_t(v);
}

void op_mod(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int64_t a = truncate_to_int64(e.num(t, r, 1));
  int64_t b = truncate_to_int64(e.num(t, r, 3));
  int64_t v;
  if (!arith::mod(a, b, v)) return calc_error(e, u"MOD", kDivByZero);
  t.WORK = static_cast<long double>(v);
}

void op_randseed(Machine &e, TTaskInfo &t, const TPEXE &r) { random_seed(uint32_t(truncate_to_int64(e.num(t, r, 2)))); }

// ----- math functions

void op_math(Machine &e, TTaskInfo &t, const TPEXE &r) {
  const u16 &name = r.Param[1];
  const MathFn fn = r.math;
  long double x;
  if (fn == MathFn::StrVal) {
    // The operand as a view where it can be one.
    StrValue held;
    x = string_value(e.strView(r, 2, held));
  } else if (fn == MathFn::Length) {
    StrValue held;
    x = static_cast<long double>(e.strView(r, 2, held).size());
  } else {
    x = e.num(t, r, 2);
  }
  if (e.errorFlag) return;
  long double v = t.WORK;
  switch (fn) {
    case MathFn::StrVal:
    case MathFn::Length: v = x; break;
    case MathFn::Inc: v = x + 1; break;
    case MathFn::Dec: v = x - 1; break;
    case MathFn::Trunc: v = std::trunc(x); break;
    case MathFn::Pai: v = x * kPi; break;
    case MathFn::Sin: v = std::sin(x); break;
    case MathFn::Cos: v = std::cos(x); break;
    case MathFn::Tan: {
      long double c = std::cos(x);
      if (c == 0) return calc_error(e, name, kDivByZero);
      v = std::sin(x) / c;
      break;
    }
    case MathFn::Ln:
      if (x < 0) return calc_error(e, name, kInvalid);
      if (x == 0) return calc_error(e, name, kDivByZero);
      v = std::log(x);
      break;
    case MathFn::Exp: v = std::exp(x); break;
    case MathFn::Sqrt:
      if (x < 0) return calc_error(e, name, kInvalid);
      v = std::sqrt(x);
      break;
    case MathFn::Rand: v = random_unit() * x; break;
    case MathFn::Atan: v = std::atan(x); break;
    case MathFn::None: break;
  }
  if (!checked(e, name, v)) return;
  t.WORK = v;
  e.push(t, v);
}

// ----- scalar assignment

void op_assign(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int v = r.var[1];
  if (v >= 0) e.vars[v].Val1 = t.WORK;
  else e.setNumber(r.Param[1], t.WORK);
}

void op_assign_op(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int idx = e.varOf(r, 1);
  if (idx < 0) return e.undefinedError(r.Param[1]);
  long double v = e.vars[idx].Val1;
  const u16 &op = r.Param[2];
  long double out;
  bool ok = true;
  switch (r.arith) {
    case ArithOp::Add: ok = arithmetic(e, op, ArithOp::Add, t.WORK, v, out); break;
    case ArithOp::Sub:
    case ArithOp::Mul:
    case ArithOp::Div: ok = arithmetic(e, op, r.arith, v, t.WORK, out); break;
    default: out = v; break;
  }
  if (ok) e.vars[idx].Val1 = out;
}

// ----- comparisons

void set_flag(TTaskInfo &t, const TPEXE &r, bool holds) { t.FLAG = holds != r.negated; }

void op_compare(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double a = e.num(t, r, 2);
  long double b = e.num(t, r, 5);
  set_flag(t, r, relation(a, r.relation, b));
}

void op_compare_work(Machine &e, TTaskInfo &t, const TPEXE &r) {
  set_flag(t, r, relation(e.num(t, r, 2), r.relation, t.WORK));
}

}  // namespace

long double string_code(u16view word, u16view s) {
  if (word == u"ASC") {
    if (s.empty()) return 0;
    if (s.size() == 1) return s[0];
    return ((unsigned(s[0]) << 8) | unsigned(s[1])) & 0xFFFF;
  }
  unsigned v = 0;
  for (std::size_t i = 0; i < s.size() && i < 4; ++i) {
    char16_t c = text::ascii_upper(s[i]);
    if (c >= u'0' && c <= u'9') v = v * 16 + unsigned(c - u'0');
    else if (c >= u'A' && c <= u'F') v = v * 16 + unsigned(c - u'A' + 10);
  }
  return v & 0xFFFF;
}

namespace {

void op_compare_code_right(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double a = e.num(t, r, 3);
  long double b = string_code(r.Param[5], e.str(r, 6));
  set_flag(t, r, relation(a, r.relation, b));
}

void op_compare_code_left(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double a = string_code(r.Param[3], e.str(r, 4));
  long double b = e.num(t, r, 6);
  set_flag(t, r, relation(a, r.relation, b));
}

void op_compare_strings(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue heldA, heldB;
  const u16view a = e.strView(r, 2, heldA), b = e.strView(r, 5, heldB);
  const u16 &op = r.Param[4];
  bool holds = op == u"=" ? a == b : op == u">" ? a.size() > b.size() : op == u"<" ? a.size() < b.size() : false;
  set_flag(t, r, holds);
}

bool occurs(u16view part, u16view whole) { return !part.empty() && whole.find(part) != u16view::npos; }

void op_contains(Machine &e, TTaskInfo &t, const TPEXE &r) {
  StrValue heldA, heldB;
  const u16view a = e.strView(r, 2, heldA), b = e.strView(r, 5, heldB);
  const u16 &op = r.Param[4];
  bool holds = op == u"(=" ? occurs(a, b) : op == u"=)" ? occurs(b, a) : false;
  set_flag(t, r, holds);
}

void op_true(Machine &, TTaskInfo &t, const TPEXE &) { t.FLAG = true; }
void op_false(Machine &, TTaskInfo &t, const TPEXE &) { t.FLAG = false; }
void op_bool_invert(Machine &, TTaskInfo &t, const TPEXE &) { t.BOOL_TASK = true; }

// ----- matrices

using Matrix = std::array<std::array<long double, kMatrixSize>, kMatrixSize>;

// Gauss-Jordan elimination with the largest pivot of the column chosen among
// the rows not yet reduced; false when the matrix is singular.
bool invert(const TVarInfo &v, int n, Matrix &out) {
  Matrix a{};
  long double scale = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      a[i][j] = v.matAt(i, j);
      scale = std::max(scale, std::fabs(a[i][j]));
    }
  out = Matrix{};
  for (int i = 0; i < n; ++i) out[i][i] = 1;
  if (scale == 0) return n == 0;
  const long double tiny = scale * 1e-17L;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int row = col + 1; row < n; ++row)
      if (std::fabs(a[row][col]) > std::fabs(a[pivot][col])) pivot = row;
    if (std::fabs(a[pivot][col]) <= tiny) return false;
    std::swap(a[pivot], a[col]);
    std::swap(out[pivot], out[col]);
    long double p = a[col][col];
    for (int j = 0; j < n; ++j) {
      a[col][j] /= p;
      out[col][j] /= p;
    }
    for (int row = 0; row < n; ++row) {
      if (row == col || a[row][col] == 0) continue;
      long double f = a[row][col];
      for (int j = 0; j < n; ++j) {
        a[row][j] -= f * a[col][j];
        out[row][j] -= f * out[col][j];
      }
    }
  }
  return true;
}

// Applies MAT_OPE with the matrix variable named `name` to the register.
// The product as operate's sums give it, on 64-bit integers: when every
// element read is a whole number below 2^31 in magnitude and the largest
// possible sum (row length times the largest magnitudes) stays below 2^63,
// every product and partial sum is an integer that long double holds
// exactly, so the results are the same numbers (a sum of zero is +0 either
// way: the sums start from +0). False, with `p` untouched, otherwise.
bool whole_product(const Matrix &m, const TVarInfo &v, int rows, int cols, Matrix &p) {
  const int inner = cols != 1 ? cols : rows, outCols = cols != 1 ? cols : 1;
  if (rows <= 0 || inner <= 0 || rows > kMatrixSize || inner > kMatrixSize) return false;
  constexpr long double kBound = 2147483648.0L;  // 2^31
  int64_t a[kMatrixSize][kMatrixSize], b[kMatrixSize][kMatrixSize];
  uint64_t maxA = 0, maxB = 0;
  const auto whole = [&](long double x, int64_t &w, uint64_t &most) {
    if (!(x > -kBound && x < kBound)) return false;  // NaN too
    if (std::trunc(x) != x) return false;
    // Exact in a double: converted from there, without the x87 unit's
    // rounding-mode switch.
    const int64_t i = static_cast<int64_t>(static_cast<double>(x));
    w = i;
    most = std::max(most, uint64_t(i < 0 ? -i : i));
    return true;
  };
  for (int i = 0; i < rows; ++i)
    for (int q = 0; q < inner; ++q)
      if (!whole(m[i][q], a[i][q], maxA)) return false;
  for (int q = 0; q < inner; ++q)
    for (int j = 0; j < outCols; ++j)
      if (!whole(v.matAt(q, j), b[q][j], maxB)) return false;
  // maxA * maxB < 2^62; the sum of `inner` of them must stay below 2^63.
  if (maxA && maxB && maxA * maxB > uint64_t(INT64_MAX) / uint64_t(inner)) return false;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < outCols; ++j) {
      int64_t s = 0;
      for (int q = 0; q < inner; ++q) s += a[i][q] * b[q][j];
      p[i][j] = static_cast<long double>(s);
    }
  return true;
}

void operate(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  int idx = e.varOf(r, k);
  if (idx < 0) return e.undefinedError(r.Param[std::size_t(k)]);
  const TVarInfo &v = e.vars[idx];
  const int rows = v.MatRow, cols = v.MatCol;
  Matrix &m = t.Mat.rows();
  const u16 &ope = t.MAT_OPE;
  if (ope.empty() || ope == u"+" || ope == u"-") {
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) {
        long double x = v.matAt(i, j);
        m[i][j] = ope.empty() ? x : ope == u"+" ? m[i][j] + x : m[i][j] - x;
      }
  } else if (ope == u"*") {
    Matrix p = m;
    if constexpr (!arith::kExtended80) {
      // Where long double is computed in software, a product of whole
      // numbers is worked out on integers when no sum can leave them.
      if (whole_product(m, v, rows, cols, p)) {
        m = p;
        return;
      }
    }
    if (cols != 1) {
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
          long double s = 0;
          for (int q = 0; q < cols; ++q) s += m[i][q] * v.matAt(q, j);
          p[i][j] = s;
        }
    } else {
      for (int i = 0; i < rows; ++i) {
        long double s = 0;
        for (int q = 0; q < rows; ++q) s += m[i][q] * v.matAt(q, 0);
        p[i][0] = s;
      }
    }
    m = p;
  } else if (ope == u"^") {
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) m[i][j] = i == j ? 1 : 0;
  } else if (ope == u"~") {
    Matrix inverse;
    if (invert(v, rows, inverse)) {
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < rows; ++j) m[i][j] = inverse[i][j];
    } else {
      m = Matrix{};
    }
  }
}

// Matrix indices are held back within +-kIndexLimit.
constexpr long kIndexLimit = 1000000000L;

long trunc_index(long double v) {
  v = std::trunc(v);
  if (v > kIndexLimit) return kIndexLimit;
  if (v < -kIndexLimit) return -kIndexLimit;
  // Exact in a double, and converted from there without the x87 unit's
  // rounding-mode switch (a NaN gives the same as before).
  return long(static_cast<double>(v));
}

// Index operand k as trunc_index reads it, taken from the integer beside a
// whole number where there is one: truncating a long double switches the
// x87 unit's rounding mode twice, which cost more than the rest of a
// matrix element's store.
long index_operand(Machine &e, TTaskInfo &t, const TPEXE &r, int k) {
  const Operand &o = r.op[std::size_t(k)];
  const int64_t *whole = nullptr;
  if (o.kind == OperandKind::Const && o.isWhole) {
    whole = &o.whole;
  } else if (o.kind == OperandKind::Var) {
    const int v = r.var[std::size_t(k) + 1];
    if (v >= 0 && e.vars[v].Val1.isWhole) whole = &e.vars[v].Val1.whole;
  }
  if (!whole) return trunc_index(e.num(t, r, k));
  return *whole > kIndexLimit ? kIndexLimit : *whole < -kIndexLimit ? -kIndexLimit : long(*whole);
}

void op_matrix_define(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long rows = trunc_index(e.num(t, r, 3)), cols = trunc_index(e.num(t, r, 5));
  e.setMatrixSize(r.Param[2], rows, cols);
  t.WORK = static_cast<long double>(rows) * cols;
}

void op_vector_define(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long rows = trunc_index(e.num(t, r, 3));
  e.setMatrixSize(r.Param[2], rows, 1);
  t.WORK = static_cast<long double>(rows);
}

void op_matrix_element_get(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long row = index_operand(e, t, r, 3), col = index_operand(e, t, r, 5);
  long double v = e.getMatrixElement(r.Param[2], row, col);
  if (!e.errorFlag) t.WORK = v;
}

void op_matrix_element_set(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long row = index_operand(e, t, r, 3), col = index_operand(e, t, r, 5);
  e.setMatrixElement(r.Param[2], row, col, t.WORK);
}

void op_matrix_operate(Machine &e, TTaskInfo &t, const TPEXE &r) {
  operate(e, t, r, 2);
  t.MAT_OPE = r.Param[3];
}

void op_matrix_unary(Machine &e, TTaskInfo &t, const TPEXE &r) {
  t.MAT_OPE = r.Param[1];
  operate(e, t, r, 3);
}

void op_matrix_scale(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double x = e.num(t, r, 1);
  int idx = e.varOf(r, 4);
  if (idx < 0) return e.undefinedError(r.Param[4]);
  const TVarInfo &v = e.vars[idx];
  Matrix &m = t.Mat.rows();
  for (int i = 0; i < v.MatRow; ++i)
    for (int j = 0; j < v.MatCol; ++j) m[std::size_t(i)][std::size_t(j)] = x * v.matAt(i, j);
}

void op_matrix_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int idx = e.varOf(r, 2);
  // The expression is complete: an inverse or unit operator must not carry
  // into the next matrix statement.
  t.MAT_OPE.clear();
  if (idx < 0) return;
  TVarInfo &v = e.vars[idx];
  Matrix &m = t.Mat.rows();
  for (int i = 0; i < v.MatRow; ++i)
    for (int j = 0; j < v.MatCol; ++j) v.matSet(i, j, m[std::size_t(i)][std::size_t(j)]);
}

void op_matrix_store_row(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long row = trunc_index(e.num(t, r, 3));
  if (t.ParamCount < 1) {
    e.setMatrixElement(r.Param[2], row, 0, t.WORK);
  } else {
    for (int k = 0; k < t.ParamCount && k < kParamValues && !e.errorFlag; ++k)
      e.setMatrixElement(r.Param[2], row, k, t.ParamVal[std::size_t(k)]);
  }
  t.ParamCount = 0;
}

void op_parameter(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double n;
  if (!parse_number(r.Param[2], n) || n != std::trunc(n)) return;
  if (n >= 0) {
    if (n >= kParamValues) return e.indexError(u"xPR " + r.Param[2]);
    t.fParamStore = true;
    t.ParamVal[std::size_t(n)] = t.WORK;
    t.ParamStored = std::max(t.ParamStored, int32_t(n) + 1);
  } else {
    if (-n > kParamValues) return e.indexError(u"xPR " + r.Param[2]);
    t.fParamStore = false;
    t.ParamCount = int32_t(-n);
    t.ParamStored = 0;
  }
}

// ----- vectors

T3D_Point vector_of(Machine &e, const TPEXE &r, int k) {
  int idx = e.varOf(r, k);
  if (idx < 0) return {};
  const TVarInfo &v = e.vars[idx];
  return {v.Val1, v.Val2, v.Val3};
}

bool finite(Machine &e, u16view op, const T3D_Point &p) {
  return checked(e, op, p.X) && checked(e, op, p.Y) && checked(e, op, p.Z);
}

void op_vector_load(Machine &e, TTaskInfo &t, const TPEXE &r) { t.VECTOR = vector_of(e, r, 1); }

void op_vector_add(Machine &e, TTaskInfo &t, const TPEXE &r) {
  T3D_Point a = vector_of(e, r, 2), b = vector_of(e, r, 3);
  char16_t op = first_char(r.Param[1]);
  T3D_Point v = a;
  if (op == u'+') v = {a.X + b.X, a.Y + b.Y, a.Z + b.Z};
  else if (op == u'-') v = {a.X - b.X, a.Y - b.Y, a.Z - b.Z};
  if (finite(e, r.Param[1], v)) t.VECTOR = v;
}

void op_vector_scale(Machine &e, TTaskInfo &t, const TPEXE &r) {
  T3D_Point v = vector_of(e, r, 2);
  long double x = e.num(t, r, 3);
  char16_t op = first_char(r.Param[1]);
  if (op == u'*') {
    v = {v.X * x, v.Y * x, v.Z * x};
  } else if (op == u'/') {
    if (x == 0) return calc_error(e, r.Param[1], kDivByZero);
    v = {v.X / x, v.Y / x, v.Z / x};
  }
  if (finite(e, r.Param[1], v)) t.VECTOR = v;
}

void op_scale_vector(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double x = e.num(t, r, 2);
  T3D_Point v = vector_of(e, r, 4);
  if (first_char(r.Param[1]) == u'*') v = {v.X * x, v.Y * x, v.Z * x};
  if (finite(e, r.Param[1], v)) t.VECTOR = v;
}

void op_unit_vector(Machine &e, TTaskInfo &t, const TPEXE &r) {
  T3D_Point v = vector_of(e, r, 1);
  long double len = std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z);
  if (len == 0) return calc_error(e, u"UNITV", kDivByZero);
  v = {v.X / len, v.Y / len, v.Z / len};
  if (finite(e, u"UNITV", v)) t.VECTOR = v;
}

void op_rotate_vector(Machine &e, TTaskInfo &t, const TPEXE &r) {
  T3D_Point v = vector_of(e, r, 1);
  long double a = e.num(t, r, 2) * kPi / 180;
  long double axis = std::nearbyint(e.num(t, r, 4));
  long double s = std::sin(a), c = std::cos(a);
  if (axis == 1) t.VECTOR = {v.X, c * v.Y - s * v.Z, s * v.Y + c * v.Z};
  else if (axis == 2) t.VECTOR = {c * v.X - s * v.Z, v.Y, s * v.X + c * v.Z};
  else if (axis == 3) t.VECTOR = {c * v.X - s * v.Y, s * v.X + c * v.Y, v.Z};
  else t.VECTOR = {};
}

void op_vector_component_set(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double n;
  if (!parse_number(r.Param[2], n)) n = 0;
  if (!t.fParamStore || n != 1) return e.setVectorComponent(r.Param[1], int(n), t.WORK);
  // SET $V = a, b, c: the values before the last were collected as
  // parameters; the last is in WORK. They fill the components in order.
  int count = std::min(t.ParamStored, 2);
  for (int k = 0; k < count && !e.errorFlag; ++k) e.setVectorComponent(r.Param[1], k + 1, t.ParamVal[std::size_t(k)]);
  if (!e.errorFlag) e.setVectorComponent(r.Param[1], count + 1, t.WORK);
}

void op_vector_store(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int idx = e.varOf(r, 1);
  if (idx < 0) return e.undefinedError(r.Param[1]);
  TVarInfo &v = e.vars[idx];
  v.Val1 = t.VECTOR.X;
  v.Val2 = t.VECTOR.Y;
  v.Val3 = t.VECTOR.Z;
}

void op_vector_component_get(Machine &e, TTaskInfo &t, const TPEXE &r) {
  T3D_Point v = vector_of(e, r, 1);
  const u16 &c = r.Param[2];
  if (c == u"X") t.WORK = v.X;
  else if (c == u"Y") t.WORK = v.Y;
  else if (c == u"Z") t.WORK = v.Z;
}

void op_minus_one(Machine &, TTaskInfo &t, const TPEXE &) { t.WORK = -1; }

}  // namespace

void register_eval(Machine &e) {
  e.setHandler(opBINARY, op_binary);
  e.setHandler(opSTEP, op_step);
  e.setHandler(opNEGATE, op_negate);
  e.setHandler(opLOAD, op_load);
  e.setHandler(opLOAD_VALUE, op_load);
  e.setHandler(opZERO, op_zero);
  e.setHandler(opTRUTH_VALUE, op_truth_value);
  e.setHandler(opBITS, op_bits);
  e.setHandler(opMOD, op_mod);
  e.setHandler(opRANDSEED, op_randseed);
  e.setHandler(opMATH, op_math);
  e.setHandler(opASSIGN, op_assign);
  e.setHandler(opASSIGN_OP, op_assign_op);
  e.setHandler(opCOMPARE, op_compare);
  e.setHandler(opCOMPARE_WORK, op_compare_work);
  e.setHandler(opCOMPARE_CODE_RIGHT, op_compare_code_right);
  e.setHandler(opCOMPARE_CODE_LEFT, op_compare_code_left);
  e.setHandler(opCOMPARE_STRINGS, op_compare_strings);
  e.setHandler(opCONTAINS, op_contains);
  e.setHandler(opSET_TRUE, op_true);
  e.setHandler(opSET_FALSE, op_false);
  e.setHandler(opBOOL_INVERT, op_bool_invert);
  e.setHandler(opMATRIX_DEFINE, op_matrix_define);
  e.setHandler(opVECTOR_DEFINE, op_vector_define);
  e.setHandler(opMATRIX_ELEMENT_GET, op_matrix_element_get);
  e.setHandler(opMATRIX_ELEMENT_SET, op_matrix_element_set);
  e.setHandler(opMATRIX_GET, op_matrix_operate);
  e.setHandler(opMATRIX_OPERATE, op_matrix_operate);
  e.setHandler(opMATRIX_UNARY, op_matrix_unary);
  e.setHandler(opMATRIX_SCALE, op_matrix_scale);
  e.setHandler(opMATRIX_STORE, op_matrix_store);
  e.setHandler(opMATRIX_STORE_ROW, op_matrix_store_row);
  e.setHandler(opPARAMETER, op_parameter);
  e.setHandler(opVECTOR_LOAD, op_vector_load);
  e.setHandler(opVECTOR_ADD, op_vector_add);
  e.setHandler(opVECTOR_SCALE, op_vector_scale);
  e.setHandler(opSCALE_VECTOR, op_scale_vector);
  e.setHandler(opUNIT_VECTOR, op_unit_vector);
  e.setHandler(opROTATE_VECTOR, op_rotate_vector);
  e.setHandler(opVECTOR_COMPONENT_SET, op_vector_component_set);
  e.setHandler(opVECTOR_STORE, op_vector_store);
  e.setHandler(opVECTOR_COMPONENT_GET, op_vector_component_get);
  e.setHandler(opGETCHILD, op_minus_one);
  e.setHandler(opGETPAR, op_minus_one);
}

}  // namespace velmora::engine

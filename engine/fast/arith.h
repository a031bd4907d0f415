#pragma once
// The arithmetic of the language's numbers, written once for the family
// handlers (eval.cpp) and the fast forms: + - * / and MOD in long double
// (80 bits) with the faults the language reports, and the same operations
// on 64-bit integers where the integer result is exactly the long double
// one, so that a form may take whichever it has at hand.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/numeric.h"
#include "engine/pcode.h"

namespace velmora::engine::arith {

enum class Fault : std::uint8_t { None, DivisionByZero, Overflow, Invalid };

// a op b in long double, for + - * / (the caller has ruled out a divisor
// of 0 where that matters).
template <ArithOp Op>
inline long double apply(long double a, long double b) {
  static_assert(Op == ArithOp::Add || Op == ArithOp::Sub || Op == ArithOp::Mul || Op == ArithOp::Div);
  if constexpr (Op == ArithOp::Add) return a + b;
  else if constexpr (Op == ArithOp::Sub) return a - b;
  else if constexpr (Op == ArithOp::Mul) return a * b;
  else return a / b;
}

// What a result computed from finite operands says about the operation.
inline Fault fault_of(long double r) {
  if (std::isfinite(r)) return Fault::None;
  return std::isnan(r) ? Fault::Invalid : Fault::Overflow;
}

// a op b with its fault: a division by zero, or a result that is not finite
// (out is then not to be used).
template <ArithOp Op>
inline Fault compute(long double a, long double b, long double &out) {
  if constexpr (Op == ArithOp::Div)
    if (b == 0) return Fault::DivisionByZero;
  out = apply<Op>(a, b);
  return std::isfinite(out) ? Fault::None : fault_of(out);
}

inline Fault compute(ArithOp op, long double a, long double b, long double &out) {
  switch (op) {
    case ArithOp::Add: return compute<ArithOp::Add>(a, b, out);
    case ArithOp::Sub: return compute<ArithOp::Sub>(a, b, out);
    case ArithOp::Mul: return compute<ArithOp::Mul>(a, b, out);
    case ArithOp::Div: return compute<ArithOp::Div>(a, b, out);
    default: break;
  }
  return Fault::Invalid;
}

// A compound assignment X op= Y: += adds X to Y (Y + X), the others take X
// as the left operand (X - Y, X * Y, X / Y).
template <ArithOp Op>
inline Fault compound(long double x, long double y, long double &out) {
  if constexpr (Op == ArithOp::Add) return compute<Op>(y, x, out);
  else return compute<Op>(x, y, out);
}

// a op b on whole numbers where the result is the long double one exactly:
// no overflow, and no product of 0 (which long double may give as -0).
template <ArithOp Op>
inline bool whole(int64_t a, int64_t b, int64_t &out) {
  bool ok;
  if constexpr (Op == ArithOp::Add) ok = !__builtin_add_overflow(a, b, &out);
  else if constexpr (Op == ArithOp::Sub) ok = !__builtin_sub_overflow(a, b, &out);
  else if constexpr (Op == ArithOp::Mul) ok = !__builtin_mul_overflow(a, b, &out) && out != 0;
  else return false;
  return ok && within_whole_limit(out);
}

// The same for a compound assignment (Y + X, X - Y, X * Y).
template <ArithOp Op>
inline bool whole_compound(int64_t x, int64_t y, int64_t &out) {
  return Op == ArithOp::Add ? whole<Op>(y, x, out) : whole<Op>(x, y, out);
}

// MOD of two numbers truncated to integers: the dividend's sign, and no
// remainder for a divisor of -1 (the smallest integer divided by -1 would
// overflow); false for a divisor of 0.
inline bool mod(int64_t a, int64_t b, int64_t &out) {
  if (b == 0) return false;
  out = b == -1 ? 0 : a % b;
  return true;
}

// Beyond this magnitude truncation saturates: a whole number is its own
// truncation only inside it.
inline constexpr int64_t kTruncationSaturates = 9200000000000000000LL;
inline bool own_truncation(int64_t w) { return w > -kTruncationSaturates && w < kTruncationSaturates; }

// Numbers moved without the x87 unit where long double is its 80-bit
// format: the bits of a 64-bit integer's number (sign and exponent, the
// integer shifted to its leading 1) made in registers, and numbers stored
// and copied as two 64-bit words; each leaves the same ten bytes as the
// conversion and the assignment. A hot loop moves a number several times a
// round, and an 80-bit load or store costs many times a move of 64 bits.
// Other formats (the browser build's) convert and assign.
inline constexpr bool kExtended80 = std::is_floating_point_v<long double> &&
                                    std::numeric_limits<long double>::is_iec559 &&
                                    std::numeric_limits<long double>::digits == 64 && sizeof(long double) == 16;

struct NumberBits {
  uint64_t significand = 0, signExponent = 0;
};

inline NumberBits bits_of_whole(int64_t w) {
  const uint64_t sign = uint64_t(w >> 63), magnitude = (uint64_t(w) ^ sign) - sign;
  if (__builtin_expect(magnitude == 0, 0)) return {};
  const unsigned shift = unsigned(__builtin_clzll(magnitude));
  // The exponent of 2^63 (16383 + 63) with the sign above it, less the shift.
  return {magnitude << shift, (sign & 0x8000) + 0x403e - shift};
}

template <typename Number>
inline NumberBits bits_of(const Number &v) {
  NumberBits b;
  std::memcpy(&b.significand, &v, 8);
  uint16_t high;
  std::memcpy(&high, reinterpret_cast<const char *>(&v) + 8, 2);
  b.signExponent = high;
  return b;
}

// Writes the number of `b`: its ten bytes (and the padding after them).
// Only where kExtended80 holds (the others call it in discarded branches).
template <typename Number>
inline void put_bits(Number &to, NumberBits b) {
  std::memcpy(&to, &b.significand, 8);
  std::memcpy(reinterpret_cast<char *>(&to) + 8, &b.signExponent, sizeof(Number) - 8);
}

template <typename Number>
inline void set_number_of(Number &to, int64_t w) {
  if constexpr (kExtended80) put_bits(to, bits_of_whole(w));
  else to = static_cast<long double>(w);
}

template <typename Number>
inline void copy_number(Number &to, const Number &from) {
  if constexpr (kExtended80) {
    uint64_t words[2];
    std::memcpy(words, &from, sizeof words);
    std::memcpy(&to, words, sizeof words);
  } else {
    to = from;
  }
}

}  // namespace velmora::engine::arith

#pragma once
// Numbers of the browser build as the desktop computes them. The desktop's
// long double is the x87 80-bit extended format: a 64-bit significand and a
// 15-bit exponent. WebAssembly has no such type; its long double is the
// 128-bit IEEE format (a 113-bit significand, the same exponent range),
// done in software. Extended is a value of that 128-bit format that always
// fits a 64-bit significand: sums, differences, products and quotients are
// worked out here on 64-bit integers, exactly, and rounded once to 64 bits
// (to nearest, ties to even) as x87 arithmetic rounds them, with the x87
// range of exponents (its denormals too). So they are the desktop's numbers
// bit for bit, and cheaper than the 128-bit software arithmetic.
//
// Quad is the 128-bit type: long double in WebAssembly, __float128 where a
// test compares Extended with the x87 arithmetic of the machine itself.
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace velmora::web {

#if defined(__EMSCRIPTEN__)
using Quad = long double;
#else
using Quad = __float128;
#endif

struct Extended {
  // The bits of the 128-bit value: sign, 15-bit exponent, 112-bit fraction
  // of which the low 49 bits are always zero.
  std::uint64_t lo = 0, hi = 0;

  Extended() = default;
  // From the plain number types: integers of up to 64 bits and doubles are
  // exact; a wider value is rounded to the nearest Extended.
  template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
  constexpr Extended(T x) {
    if constexpr (std::is_integral_v<T>) {
      if constexpr (std::is_signed_v<T>)
        *this = of_integer(x < 0, x < 0 ? 0 - static_cast<std::uint64_t>(x) : std::uint64_t(x));
      else *this = of_integer(false, std::uint64_t(x));
    } else if constexpr (sizeof(T) <= sizeof(double)) {
      *this = of_double(static_cast<double>(x));
    } else {
      *this = of_quad(static_cast<Quad>(x));
    }
  }
  template <class E, std::enable_if_t<std::is_enum_v<E>, int> = 0>
  constexpr Extended(E x) : Extended(static_cast<std::underlying_type_t<E>>(x)) {}
#if !defined(__EMSCRIPTEN__)
  explicit Extended(Quad q) { *this = of_quad(q); }
#endif

  // Out of Extended only by a cast (so that a conditional of an Extended
  // and a plain number is an Extended).
  template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
  constexpr explicit operator T() const {
    // As a condition: true unless zero (a fraction and NaN are true).
    if constexpr (std::is_same_v<T, bool>) return !is_zero();
    if constexpr (std::is_integral_v<T> && sizeof(T) <= 8) {
      std::int64_t i;
      if (small_integer(i)) return static_cast<T>(i);
    }
    if constexpr (std::is_same_v<T, double>) {
      double d;
      if (to_double(d)) return d;
    }
    return static_cast<T>(quad());
  }
  // The nearest double (ties to even) when it is a normal double or zero;
  // false for NaN, infinities and results outside the normal range.
  constexpr bool to_double(double &out) const {
    const std::uint32_t field = std::uint32_t(hi >> 48) & 0x7FFF;
    const std::uint64_t sign = hi & (std::uint64_t(1) << 63);
    if (field == 0) {
      if ((hi << 16) | lo) return false;  // a denormal: far below double's range
      out = __builtin_bit_cast(double, sign);
      return true;
    }
    // 52 bits of fraction kept of the 63 below the leading one, the rest rounded.
    const std::uint64_t frac = ((hi & 0x0000FFFFFFFFFFFFULL) << 15) | (lo >> 49);
    std::uint64_t kept = frac >> 11;
    const std::uint64_t rest = frac & 0x7FF;
    int exponent = int(field) - 16383;
    if (rest > 0x400 || (rest == 0x400 && (kept & 1))) {
      if (++kept >> 52) {  // the fraction carried into the exponent
        kept = 0;
        ++exponent;
      }
    }
    if (exponent < -1022 || exponent > 1023) return false;
    out = __builtin_bit_cast(double, sign | (std::uint64_t(exponent + 1023) << 52) | kept);
    return true;
  }
  // The whole number toward zero, toward minus infinity and toward plus
  // infinity, worked out on the bits (exact: only fraction bits are cut).
  constexpr Extended truncated() const {
    const std::uint32_t field = std::uint32_t(hi >> 48) & 0x7FFF;
    if (field == 0x7FFF) return *this;  // NaN, infinities
    const int fractionBits = 16383 + 112 - int(field);  // of the 112 stored below the leading one
    if (fractionBits <= 0) return *this;                  // whole already
    if (fractionBits > 112) return of_bits(hi & (std::uint64_t(1) << 63), 0);  // below 1: a zero of its sign
    if (fractionBits >= 64) return of_bits(hi & ~((std::uint64_t(1) << (fractionBits - 64)) - 1), 0);
    return of_bits(hi, lo & ~((std::uint64_t(1) << fractionBits) - 1));
  }
  constexpr Extended floored() const {
    const Extended t = truncated();
    return (hi >> 63) && compare(t, *this) != 0 ? add(t, Extended::of_integer(false, 1), true) : t;
  }
  constexpr Extended ceiled() const {
    const Extended t = truncated();
    return !(hi >> 63) && !is_nan() && compare(t, *this) != 0 ? add(t, Extended::of_integer(false, 1), false) : t;
  }
  constexpr Quad quad() const { return __builtin_bit_cast(Quad, *this); }
  static constexpr Extended of_bits(std::uint64_t hi, std::uint64_t lo) {
    Extended e;
    e.hi = hi;
    e.lo = lo;
    return e;
  }
  // The nearest Extended to a 128-bit value (ties to even).
  static constexpr Extended of_quad(Quad q) {
    const Extended b = __builtin_bit_cast(Extended, q);
    const std::uint32_t field = std::uint32_t(b.hi >> 48) & 0x7FFF;
    if (field == 0x7FFF) return b;  // infinity, NaN
    // The value: (high:low) * 2^weight, 113 bits of it at most.
    const std::uint64_t high = (b.hi & 0x0000FFFFFFFFFFFFULL) | (field ? std::uint64_t(1) << 48 : 0), low = b.lo;
    const int weight = (field ? int(field) : 1) - 16383 - 112;
    const bool negative = b.hi >> 63;
    if (!high && !low) return of_bits(std::uint64_t(negative) << 63, 0);
    if (!high) {
      const int shift = __builtin_clzll(low);
      return round_pack(negative, low << shift, 0, weight - shift);
    }
    const int shift = __builtin_clzll(high);
    return round_pack(negative, (high << shift) | (shift ? low >> (64 - shift) : 0), low << shift, weight + 64 - shift);
  }

  // ----- the pieces: value = (-1)^negative * sig * 2^exponent, sig with its
  // top bit set; rest: the bits below sig, the lowest one standing for any
  // further ones (sticky)
  static constexpr Extended of_integer(bool negative, std::uint64_t magnitude) {
    if (!magnitude) return of_bits(0, 0);
    // Exact: the significand is the magnitude moved up to its top bit, whose
    // 63 bits below the leading one are the top of the 112-bit fraction.
    const int shift = __builtin_clzll(magnitude);
    const std::uint64_t fraction = (magnitude << shift) << 1;
    return of_bits((std::uint64_t(negative) << 63) | (std::uint64_t(16383 + 63 - shift) << 48) | (fraction >> 16),
                   fraction << 48);
  }
  // A non-zero whole number below 2^62 in magnitude: its value. Sums,
  // differences and products of such numbers that fit 63 bits are exact,
  // so they are done on the integers (zeros keep to the general path, which
  // minds their signs).
  static constexpr bool small_whole(Extended x, std::int64_t &value) {
    const int e = (int(x.hi >> 48) & 0x7FFF) - 16383;  // the binary exponent
    if (e < 0 || e > 61) return false;
    const std::uint64_t sig =
        (std::uint64_t(1) << 63) | ((x.hi & 0x0000FFFFFFFFFFFFULL) << 15) | (x.lo >> 49);
    if (sig << (e + 1)) return false;  // bits below the binary point
    const std::int64_t magnitude = std::int64_t(sig >> (63 - e));
    value = (x.hi >> 63) ? -magnitude : magnitude;
    return true;
  }
  static constexpr Extended of_int64(std::int64_t v) {
    return v < 0 ? of_integer(true, 0 - std::uint64_t(v)) : of_integer(false, std::uint64_t(v));
  }
  static constexpr Extended of_double(double d) {
    const std::uint64_t bits = __builtin_bit_cast(std::uint64_t, d);
    const bool negative = bits >> 63;
    const std::uint32_t field = std::uint32_t(bits >> 52) & 0x7FF;
    const std::uint64_t frac = bits & 0x000FFFFFFFFFFFFFULL;
    if (field == 0x7FF) {  // infinity keeps its sign; NaN stays NaN
      return of_bits(
          (std::uint64_t(negative) << 63) | (std::uint64_t(0x7FFF) << 48) | (frac ? std::uint64_t(1) << 47 : 0), 0);
    }
    if (field == 0 && frac == 0) return of_bits(std::uint64_t(negative) << 63, 0);
    std::uint64_t sig = field ? (frac | (std::uint64_t(1) << 52)) : frac;
    int exponent = (field ? int(field) : 1) - 1023 - 52;
    const int shift = __builtin_clzll(sig);
    return round_pack(negative, sig << shift, 0, exponent - shift);
  }
  // Rounds (sig, rest) to nearest, ties to even, at the 64 bits of the
  // significand or at the x87 denormal step 2^-16445, and packs the value.
  static constexpr Extended round_pack(bool negative, std::uint64_t sig, std::uint64_t rest, int exponent) {
    const std::uint64_t sign = std::uint64_t(negative) << 63;
    int field = exponent + 63 + 16383;  // the biased exponent of sig's top bit
    if (field < 1) {
      // Below the normal range: shifted to the denormal step, with sticky.
      const int s = 1 - field;
      if (s >= 128) {
        rest = (sig | rest) ? 1 : 0;
        sig = 0;
      } else if (s >= 64) {
        const std::uint64_t out = (s == 64 ? 0 : sig << (128 - s)) | rest;
        rest = (s == 64 ? sig : sig >> (s - 64)) | (out ? 1 : 0);
        sig = 0;
      } else {
        const std::uint64_t out = rest << (64 - s);
        rest = (sig << (64 - s)) | (rest >> s) | (out ? 1 : 0);
        sig >>= s;
      }
      field = 0;
    }
    const std::uint64_t half = std::uint64_t(1) << 63;
    if (rest > half || (rest == half && (sig & 1))) {
      if (++sig == 0) {  // 2^64: one more in the exponent
        sig = half;
        ++field;
      } else if (field == 0 && sig == half) {
        field = 1;  // a denormal rounded up into the normal range
      }
    }
    if (field >= 0x7FFF) return of_bits(sign | (std::uint64_t(0x7FFF) << 48), 0);
    if (field == 0 && sig >> 63) field = 1;
    const std::uint64_t frac = sig & ~half;  // 63 bits below the leading one
    return of_bits(sign | (std::uint64_t(field) << 48) | (frac >> 15), frac << 49);
  }
  struct Parts {
    bool negative;
    int kind;  // 0 zero, 1 finite, 2 infinity, 3 NaN
    std::uint64_t sig;
    int exponent;
  };
  constexpr Parts parts() const {
    const bool negative = hi >> 63;
    const std::uint32_t field = std::uint32_t(hi >> 48) & 0x7FFF;
    const std::uint64_t frac = ((hi & 0x0000FFFFFFFFFFFFULL) << 15) | (lo >> 49);
    if (field == 0x7FFF) return {negative, frac ? 3 : 2, 0, 0};
    if (field == 0) {
      if (!frac) return {negative, 0, 0, 0};
      const int shift = __builtin_clzll(frac);
      return {negative, 1, frac << shift, -16382 - 63 - shift};
    }
    return {negative, 1, frac | (std::uint64_t(1) << 63), int(field) - 16383 - 63};
  }
  static constexpr Extended nan() { return of_bits((std::uint64_t(0x7FFF) << 48) | (std::uint64_t(1) << 47), 0); }
  static constexpr Extended infinity(bool negative) {
    return of_bits((std::uint64_t(negative) << 63) | (std::uint64_t(0x7FFF) << 48), 0);
  }
  constexpr bool is_nan() const { return ((hi >> 48) & 0x7FFF) == 0x7FFF && (((hi << 16) | lo) != 0); }
  constexpr bool is_zero() const { return ((hi << 1) | lo) == 0; }
  // A whole number of at most 63 bits (the fraction cut off): its value,
  // for casts to integers.
  constexpr bool small_integer(std::int64_t &out) const {
    const Parts p = parts();
    if (p.kind == 0 || (p.kind == 1 && p.exponent <= -64)) {
      out = 0;
      return true;
    }
    if (p.kind != 1 || p.exponent >= 0) return false;
    const std::uint64_t whole = p.sig >> -p.exponent;
    if (whole >> 63) return false;
    out = p.negative ? -std::int64_t(whole) : std::int64_t(whole);
    return true;
  }

  // ----- arithmetic, exact and rounded once
  static constexpr Extended add(Extended a, Extended b, bool subtract) {
    std::int64_t i = 0, j = 0;
    if (small_whole(a, i) && small_whole(b, j)) return of_int64(subtract ? i - j : i + j);  // x - x is +0
    Parts x = a.parts(), y = b.parts();
    if (subtract) y.negative = !y.negative;
    if (x.kind == 3 || y.kind == 3) return nan();
    if (x.kind == 2 || y.kind == 2) {
      if (x.kind == 2 && y.kind == 2 && x.negative != y.negative) return nan();
      return infinity(x.kind == 2 ? x.negative : y.negative);
    }
    if (y.kind == 0) return x.kind == 0 ? of_bits(std::uint64_t(x.negative && y.negative) << 63, 0) : a;
    if (x.kind == 0) return subtract ? -b : b;
    // x the larger magnitude.
    if (y.exponent > x.exponent || (y.exponent == x.exponent && y.sig > x.sig)) {
      const Parts t = x;
      x = y;
      y = t;
    }
    const int d = x.exponent - y.exponent;
    // y shifted to x's exponent: (ySig, yRest) with sticky.
    std::uint64_t ySig, yRest;
    if (d == 0) {
      ySig = y.sig;
      yRest = 0;
    } else if (d < 64) {
      ySig = y.sig >> d;
      yRest = y.sig << (64 - d);
    } else if (d < 128) {
      ySig = 0;
      yRest = (d == 64 ? y.sig : y.sig >> (d - 64)) | ((d > 64 && (y.sig << (128 - d))) ? 1 : 0);
    } else {
      ySig = 0;
      yRest = 1;
    }
    int exponent = x.exponent;
    std::uint64_t sig, rest;
    if (x.negative == y.negative) {
      rest = yRest;
      sig = x.sig + ySig;
      if (sig < x.sig) {  // carried out: one bit right
        rest = (rest >> 1) | (rest & 1) | (sig << 63);
        sig = (sig >> 1) | (std::uint64_t(1) << 63);
        ++exponent;
      }
    } else {
      rest = 0 - yRest;
      sig = x.sig - ySig - (yRest ? 1 : 0);
      if (!sig && !rest) return of_bits(0, 0);  // x - x is +0
      // Back to a leading one.
      if (!sig) {
        sig = rest;
        rest = 0;
        exponent -= 64;
      }
      const int shift = __builtin_clzll(sig);
      if (shift) {
        sig = (sig << shift) | (rest >> (64 - shift));
        rest <<= shift;
        exponent -= shift;
      }
    }
    return round_pack(x.negative, sig, rest, exponent);
  }
  static constexpr Extended multiply(Extended a, Extended b) {
    std::int64_t i = 0, j = 0, product = 0;
    if (small_whole(a, i) && small_whole(b, j) && !__builtin_mul_overflow(i, j, &product)) return of_int64(product);
    const Parts x = a.parts(), y = b.parts();
    const bool negative = x.negative != y.negative;
    if (x.kind == 3 || y.kind == 3) return nan();
    if (x.kind == 2 || y.kind == 2) return (x.kind == 0 || y.kind == 0) ? nan() : infinity(negative);
    if (x.kind == 0 || y.kind == 0) return of_bits(std::uint64_t(negative) << 63, 0);
    // The 128-bit product from 32-bit halves.
    const std::uint64_t a0 = x.sig & 0xFFFFFFFF, a1 = x.sig >> 32, b0 = y.sig & 0xFFFFFFFF, b1 = y.sig >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
    std::uint64_t low = (middle << 32) | (p00 & 0xFFFFFFFF);
    std::uint64_t high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
    int exponent = x.exponent + y.exponent + 64;
    if (!(high >> 63)) {
      high = (high << 1) | (low >> 63);
      low <<= 1;
      --exponent;
    }
    return round_pack(negative, high, low, exponent);
  }
  static Extended divide(Extended a, Extended b) {
    const Parts x = a.parts(), y = b.parts();
    const bool negative = x.negative != y.negative;
    if (x.kind == 3 || y.kind == 3) return nan();
    if (x.kind == 2) return y.kind == 2 ? nan() : infinity(negative);
    if (y.kind == 2) return of_bits(std::uint64_t(negative) << 63, 0);
    if (y.kind == 0) return x.kind == 0 ? nan() : infinity(negative);
    if (x.kind == 0) return of_bits(std::uint64_t(negative) << 63, 0);
    // q = x.sig * 2^64 / y.sig, in (2^63, 2^65), by long division a bit at a time
    // on the remainder (64 + 2 quotient bits), then the remainder for the sticky bit.
    std::uint64_t r = x.sig, q = 0;
    int exponent = x.exponent - y.exponent - 64;
    bool top = false;  // the quotient's 65th bit
    if (r >= y.sig) {
      r -= y.sig;
      top = true;
    }
    for (int i = 0; i < 64; ++i) {
      const bool carry = r >> 63;
      r <<= 1;
      q <<= 1;
      if (carry || r >= y.sig) {
        r -= y.sig;
        q |= 1;
      }
    }
    std::uint64_t rest;
    if (top) {  // 65 bits: the lowest goes below
      rest = (q << 63) | (r ? 1 : 0);
      q = (q >> 1) | (std::uint64_t(1) << 63);
      ++exponent;
    } else {
      // One more quotient bit, then the sticky remainder.
      const bool carry = r >> 63;
      r <<= 1;
      const bool bit = carry || r >= y.sig;
      if (bit) r -= y.sig;
      rest = (std::uint64_t(bit) << 63) | (r ? 1 : 0);
    }
    return round_pack(negative, q, rest, exponent);
  }
  // Compares magnitudes and signs on the bits: -1, 0, 1, or 2 when unordered.
  static constexpr int compare(Extended a, Extended b) {
    if (a.is_nan() || b.is_nan()) return 2;
    if (a.is_zero() && b.is_zero()) return 0;
    const bool na = a.hi >> 63, nb = b.hi >> 63;
    if (na != nb) return na ? -1 : 1;
    const std::uint64_t ah = a.hi & ~(std::uint64_t(1) << 63), bh = b.hi & ~(std::uint64_t(1) << 63);
    const int mag = ah != bh ? (ah < bh ? -1 : 1) : a.lo != b.lo ? (a.lo < b.lo ? -1 : 1) : 0;
    return na ? -mag : mag;
  }

  friend constexpr Extended operator+(Extended a, Extended b) { return add(a, b, false); }
  friend constexpr Extended operator-(Extended a, Extended b) { return add(a, b, true); }
  friend constexpr Extended operator*(Extended a, Extended b) { return multiply(a, b); }
  friend Extended operator/(Extended a, Extended b) { return divide(a, b); }
  constexpr Extended operator-() const { return of_bits(hi ^ (std::uint64_t(1) << 63), lo); }
  constexpr Extended operator+() const { return *this; }
  Extended &operator+=(Extended b) { return *this = *this + b; }
  Extended &operator-=(Extended b) { return *this = *this - b; }
  Extended &operator*=(Extended b) { return *this = *this * b; }
  Extended &operator/=(Extended b) { return *this = *this / b; }

  friend constexpr bool operator==(Extended a, Extended b) { return compare(a, b) == 0; }
  friend constexpr bool operator!=(Extended a, Extended b) { return compare(a, b) != 0; }
  friend constexpr bool operator<(Extended a, Extended b) { return compare(a, b) == -1; }
  friend constexpr bool operator<=(Extended a, Extended b) {
    const int c = compare(a, b);
    return c == -1 || c == 0;
  }
  friend constexpr bool operator>(Extended a, Extended b) { return compare(a, b) == 1; }
  friend constexpr bool operator>=(Extended a, Extended b) {
    const int c = compare(a, b);
    return c == 1 || c == 0;
  }
};

// Mixed with plain numbers: the plain one becomes an Extended first.
#define VELMORA_EXTENDED_MIXED(op)                                                            \
  template <class T, std::enable_if_t<std::is_arithmetic_v<T> || std::is_enum_v<T>, int> = 0> \
  constexpr auto operator op(Extended a, T b) {                                               \
    return a op Extended(b);                                                                  \
  }                                                                                           \
  template <class T, std::enable_if_t<std::is_arithmetic_v<T> || std::is_enum_v<T>, int> = 0> \
  constexpr auto operator op(T a, Extended b) {                                               \
    return Extended(a) op b;                                                                  \
  }
VELMORA_EXTENDED_MIXED(+)
VELMORA_EXTENDED_MIXED(-)
VELMORA_EXTENDED_MIXED(*)
VELMORA_EXTENDED_MIXED(/)
VELMORA_EXTENDED_MIXED(==)
VELMORA_EXTENDED_MIXED(!=)
VELMORA_EXTENDED_MIXED(<)
VELMORA_EXTENDED_MIXED(<=)
VELMORA_EXTENDED_MIXED(>)
VELMORA_EXTENDED_MIXED(>=)
#undef VELMORA_EXTENDED_MIXED

}  // namespace velmora::web

#pragma once
// Numbers of the browser build as the desktop computes them. The desktop's
// long double is the x87 80-bit extended format: a 64-bit significand and a
// 15-bit exponent. WebAssembly has no such type; its long double is the
// 128-bit IEEE format (a 113-bit significand, the same exponent range),
// computed in software. Extended holds such a value and rounds every result
// to a 64-bit significand (to nearest, ties to even), as x87 arithmetic
// rounds it, so that sums, products, quotients, square roots, conversions
// and decoded constants are the desktop's numbers bit for bit. Where the
// 113-bit result lies exactly halfway between two 64-bit values, the exact
// result's side (an error-free sum, or a fused multiply-add) decides, so
// that rounding twice never differs from rounding once.
//
// The web build's copy of the core sources says Extended wherever the
// sources say long double (web/cmake/shadow.cmake); this header comes first
// in every file of that copy.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <type_traits>

namespace velmora::web {

// v rounded to a 64-bit significand; side: the sign of (exact - v) when v
// itself was rounded from an exact result (0: v is exact, or unknown).
constexpr long double round64(long double v, int side = 0) {
  struct Bits {
    std::uint64_t lo, hi;
  };
  Bits b = __builtin_bit_cast(Bits, v);
  if ((b.hi & 0x7FFF000000000000ULL) == 0x7FFF000000000000ULL) return v;  // infinity, NaN
  constexpr std::uint64_t kDropped = (std::uint64_t(1) << 49) - 1, kHalf = std::uint64_t(1) << 48;
  const std::uint64_t rest = b.lo & kDropped;
  if (rest == 0) return v;
  b.lo &= ~kDropped;
  const bool negative = b.hi >> 63;
  bool up = rest > kHalf;
  if (rest == kHalf) {
    // Halfway in 113 bits: the exact value's side, else to even.
    const int away = negative ? -side : side;  // > 0: the exact magnitude is larger
    up = away > 0 || (away == 0 && (b.lo >> 49) & 1);
  }
  if (up) {
    // The carry runs into the exponent as IEEE formats allow (and on to infinity).
    b.lo += std::uint64_t(1) << 49;
    if (b.lo < (std::uint64_t(1) << 49)) ++b.hi;
  }
  return __builtin_bit_cast(long double, b);
}

// Whether v (113 bits) lies exactly halfway between two 64-bit values.
constexpr bool halfway(long double v) {
  struct Bits {
    std::uint64_t lo, hi;
  };
  return (__builtin_bit_cast(Bits, v).lo & ((std::uint64_t(1) << 49) - 1)) == (std::uint64_t(1) << 48);
}
inline int sign_of(long double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }

struct Extended {
  long double v;

  Extended() = default;
  constexpr Extended(long double x) : v(round64(x)) {}
  constexpr Extended(double x) : v(x) {}
  constexpr Extended(float x) : v(x) {}
  // Every integer of up to 64 bits is exact: no rounding.
  template <class I, std::enable_if_t<std::is_integral_v<I>, int> = 0>
  constexpr Extended(I x) : v(sizeof(I) <= 8 ? static_cast<long double>(x) : round64(static_cast<long double>(x))) {}
  template <class E, std::enable_if_t<std::is_enum_v<E>, int> = 0>
  constexpr Extended(E x) : v(static_cast<long double>(static_cast<std::underlying_type_t<E>>(x))) {}

  // Out of Extended only by a cast, as into it freely: a conditional of
  // an Extended and a plain number then is an Extended.
  template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
  constexpr explicit operator T() const {
    return static_cast<T>(v);
  }
  static constexpr Extended exact(long double x) {
    Extended e;
    e.v = x;
    return e;
  }

  friend Extended operator+(Extended a, Extended b) {
    const long double s = a.v + b.v;
    if (!halfway(s)) return exact(round64(s));
    const long double bb = s - a.v;  // error-free sum: s + err == a + b exactly
    const long double err = (a.v - (s - bb)) + (b.v - bb);
    return exact(round64(s, sign_of(err)));
  }
  friend Extended operator-(Extended a, Extended b) { return a + exact(-b.v); }
  friend Extended operator*(Extended a, Extended b) {
    const long double p = a.v * b.v;
    if (!halfway(p)) return exact(round64(p));
    return exact(round64(p, sign_of(fmal(a.v, b.v, -p))));
  }
  friend Extended operator/(Extended a, Extended b) {
    const long double q = a.v / b.v;
    if (!halfway(q)) return exact(round64(q));
    // a - q * b, exact: its sign and b's tell on which side of q a / b lies.
    return exact(round64(q, sign_of(fmal(-q, b.v, a.v)) * sign_of(b.v)));
  }
  Extended operator-() const { return exact(-v); }
  Extended operator+() const { return *this; }
  Extended &operator+=(Extended b) { return *this = *this + b; }
  Extended &operator-=(Extended b) { return *this = *this - b; }
  Extended &operator*=(Extended b) { return *this = *this * b; }
  Extended &operator/=(Extended b) { return *this = *this / b; }
  Extended &operator++() { return *this += Extended(1); }
  Extended &operator--() { return *this -= Extended(1); }

  friend bool operator==(Extended a, Extended b) { return a.v == b.v; }
  friend bool operator!=(Extended a, Extended b) { return a.v != b.v; }
  friend bool operator<(Extended a, Extended b) { return a.v < b.v; }
  friend bool operator<=(Extended a, Extended b) { return a.v <= b.v; }
  friend bool operator>(Extended a, Extended b) { return a.v > b.v; }
  friend bool operator>=(Extended a, Extended b) { return a.v >= b.v; }
};

// Mixed with plain numbers: the plain one becomes an Extended first.
#define VELMORA_EXTENDED_MIXED(op)                                       \
  template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0> \
  inline auto operator op(Extended a, T b) {                             \
    return a op Extended(b);                                             \
  }                                                                      \
  template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0> \
  inline auto operator op(T a, Extended b) {                             \
    return Extended(a) op b;                                             \
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

// The functions of the language, rounded once from results that are
// correct to about 113 bits (extended_math.cpp computes those the C
// library of the browser build gives only to double precision).
Extended ext_sqrt(Extended x);
Extended ext_exp(Extended x);
Extended ext_log(Extended x);
Extended ext_pow(Extended x, Extended y);
// strtold_l as the desktop's: the decimal text rounded once to 64 bits.
long double strtold_64(const char *text, char **end, locale_t locale);

}  // namespace velmora::web

using velmora_extended = ::velmora::web::Extended;

namespace std {
template <>
struct numeric_limits<velmora_extended> : numeric_limits<long double> {
  static constexpr int digits = 64;
  static constexpr int digits10 = 18;
  static constexpr int max_digits10 = 21;
  static constexpr velmora_extended epsilon() noexcept { return velmora_extended::exact(0x1p-63L); }
  static constexpr velmora_extended max() noexcept { return velmora_extended::exact(0x1.fffffffffffffffep16383L); }
  static constexpr velmora_extended lowest() noexcept { return velmora_extended::exact(-0x1.fffffffffffffffep16383L); }
  static constexpr velmora_extended min() noexcept { return velmora_extended::exact(0x1p-16382L); }
  static constexpr velmora_extended denorm_min() noexcept { return velmora_extended::exact(0x1p-16445L); }
  static constexpr velmora_extended infinity() noexcept { return velmora_extended::exact(__builtin_huge_vall()); }
  static constexpr velmora_extended quiet_NaN() noexcept { return velmora_extended::exact(__builtin_nanl("")); }
};

// The C library's functions on Extended: exact ones as they are, the others
// rounded once. (Overloads for a type of this build: they are found before
// the long double ones the value would convert to.)
inline velmora_extended trunc(velmora_extended x) { return velmora_extended::exact(truncl(x.v)); }
inline velmora_extended floor(velmora_extended x) { return velmora_extended::exact(floorl(x.v)); }
inline velmora_extended ceil(velmora_extended x) { return velmora_extended::exact(ceill(x.v)); }
inline velmora_extended nearbyint(velmora_extended x) { return velmora_extended::exact(nearbyintl(x.v)); }
inline velmora_extended round(velmora_extended x) { return velmora_extended::exact(roundl(x.v)); }
inline velmora_extended fabs(velmora_extended x) { return velmora_extended::exact(fabsl(x.v)); }
inline velmora_extended abs(velmora_extended x) { return velmora_extended::exact(fabsl(x.v)); }
inline velmora_extended fmod(velmora_extended x, velmora_extended y) {
  return velmora_extended::exact(fmodl(x.v, y.v));
}
inline long long llrint(velmora_extended x) { return llrintl(x.v); }
inline long lround(velmora_extended x) { return lroundl(x.v); }
inline bool isnan(velmora_extended x) { return __builtin_isnan(x.v); }
inline bool isinf(velmora_extended x) { return __builtin_isinf(x.v); }
inline bool isfinite(velmora_extended x) { return __builtin_isfinite(x.v); }
inline bool signbit(velmora_extended x) { return __builtin_signbit(x.v); }
inline velmora_extended sqrt(velmora_extended x) { return ::velmora::web::ext_sqrt(x); }
inline velmora_extended exp(velmora_extended x) { return ::velmora::web::ext_exp(x); }
inline velmora_extended log(velmora_extended x) { return ::velmora::web::ext_log(x); }
inline velmora_extended pow(velmora_extended x, velmora_extended y) { return ::velmora::web::ext_pow(x, y); }
inline velmora_extended sin(velmora_extended x) { return velmora_extended(sinl(x.v)); }
inline velmora_extended cos(velmora_extended x) { return velmora_extended(cosl(x.v)); }
inline velmora_extended tan(velmora_extended x) { return velmora_extended(tanl(x.v)); }
inline velmora_extended atan(velmora_extended x) { return velmora_extended(atanl(x.v)); }
// Printed from the exact value: the decimal digits the desktop prints.
template <class X, std::enable_if_t<std::is_same_v<X, velmora_extended>, int> = 0>
inline int snprintf(char *out, size_t size, const char *format, int precision, X x) {
  return ::snprintf(out, size, format, precision, x.v);
}
}  // namespace std

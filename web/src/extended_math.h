#pragma once
// The browser build's copy of the core says velmora_extended where the core
// says long double (web/cmake/shadow.cmake); this header comes first in
// every file of that copy. It gives Extended (extended.h) what the core
// asks of long double: limits, the C library's functions and printing.
#include <cmath>
#include <cstdio>
#include <limits>
#include <locale.h>

#include "web/src/extended.h"

namespace velmora::web {

// The functions of the language, rounded once to 64 bits from results that
// are right to about 110 bits (extended_math.cpp).
Extended ext_sqrt(Extended x);
Extended ext_exp(Extended x);
Extended ext_log(Extended x);
Extended ext_pow(Extended x, Extended y);
Extended ext_sin(Extended x);
Extended ext_cos(Extended x);
Extended ext_tan(Extended x);
Extended ext_atan(Extended x);
// strtold_l as the desktop's: the decimal text rounded once to 64 bits.
Extended strtold_64(const char *text, char **end, locale_t locale);

}  // namespace velmora::web

using velmora_extended = ::velmora::web::Extended;

namespace std {
template <>
struct numeric_limits<velmora_extended> : numeric_limits<long double> {
  static constexpr int digits = 64;
  static constexpr int digits10 = 18;
  static constexpr int max_digits10 = 21;
  static constexpr int min_exponent = -16381;
  static constexpr velmora_extended epsilon() noexcept { return velmora_extended::of_quad(0x1p-63L); }
  static constexpr velmora_extended max() noexcept { return velmora_extended::of_quad(0x1.fffffffffffffffep16383L); }
  static constexpr velmora_extended lowest() noexcept { return -max(); }
  static constexpr velmora_extended min() noexcept { return velmora_extended::of_quad(0x1p-16382L); }
  static constexpr velmora_extended denorm_min() noexcept { return velmora_extended::of_quad(0x1p-16445L); }
  static constexpr velmora_extended infinity() noexcept { return velmora_extended::infinity(false); }
  static constexpr velmora_extended quiet_NaN() noexcept { return velmora_extended::nan(); }
};

// The C library's functions on Extended: those whose results are exact as
// they are, the others rounded once. (Overloads for a type of this build:
// the core calls them as it calls the long double ones.)
inline velmora_extended trunc(velmora_extended x) { return x.truncated(); }
inline velmora_extended floor(velmora_extended x) { return x.floored(); }
inline velmora_extended ceil(velmora_extended x) { return x.ceiled(); }
inline velmora_extended nearbyint(velmora_extended x) { return velmora_extended::of_quad(nearbyintl(x.quad())); }
inline velmora_extended round(velmora_extended x) { return velmora_extended::of_quad(roundl(x.quad())); }
inline velmora_extended fabs(velmora_extended x) {
  return velmora_extended::of_bits(x.hi & ~(std::uint64_t(1) << 63), x.lo);
}
inline velmora_extended abs(velmora_extended x) { return fabs(x); }
// The remainder of a division is exact.
inline velmora_extended fmod(velmora_extended x, velmora_extended y) {
  return velmora_extended::of_quad(fmodl(x.quad(), y.quad()));
}
inline long long llrint(velmora_extended x) { return llrintl(x.quad()); }
inline long lround(velmora_extended x) { return lroundl(x.quad()); }
inline bool isnan(velmora_extended x) { return x.is_nan(); }
inline bool isinf(velmora_extended x) { return ((x.hi >> 48) & 0x7FFF) == 0x7FFF && !x.is_nan(); }
inline bool isfinite(velmora_extended x) { return ((x.hi >> 48) & 0x7FFF) != 0x7FFF; }
inline bool signbit(velmora_extended x) { return x.hi >> 63; }
inline velmora_extended sqrt(velmora_extended x) { return ::velmora::web::ext_sqrt(x); }
inline velmora_extended exp(velmora_extended x) { return ::velmora::web::ext_exp(x); }
inline velmora_extended log(velmora_extended x) { return ::velmora::web::ext_log(x); }
inline velmora_extended pow(velmora_extended x, velmora_extended y) { return ::velmora::web::ext_pow(x, y); }
inline velmora_extended sin(velmora_extended x) { return ::velmora::web::ext_sin(x); }
inline velmora_extended cos(velmora_extended x) { return ::velmora::web::ext_cos(x); }
inline velmora_extended tan(velmora_extended x) { return ::velmora::web::ext_tan(x); }
inline velmora_extended atan(velmora_extended x) { return ::velmora::web::ext_atan(x); }
// Printed from the exact value: the decimal digits the desktop prints.
template <class X, std::enable_if_t<std::is_same_v<X, velmora_extended>, int> = 0>
inline int snprintf(char *out, size_t size, const char *format, int precision, X x) {
  return ::snprintf(out, size, format, precision, x.quad());
}
// Without a precision an Extended would reach printf's arguments as an
// object, not a number: the core writes it with "%.*L…" and a precision.
template <class X, std::enable_if_t<std::is_same_v<X, velmora_extended>, int> = 0>
int snprintf(char *out, size_t size, const char *format, X x) = delete;
}  // namespace std

// The functions of extended.h that need more than the C library of the
// browser build gives: its 128-bit long double has exp, log and pow of
// double precision only. Here they are computed to about 110 bits in the
// 128-bit format and rounded once to the 64-bit significand; square roots
// and decoded decimals are rounded once, exactly.
#include "web/src/extended.h"

#include <cfloat>
#include <cstring>
#include <string>

namespace velmora::web {

namespace {

// ln 2 in two parts: the nearest 113-bit value and what it leaves out,
// used with fused multiply-adds (kLn2 = kLn2Hi + kLn2Lo to about 2^-230).
constexpr long double kLn2Hi = 0x1.62e42fefa39ef35793c7673007e6p-1L;
constexpr long double kLn2Lo = -0x1.2a17e1979b31ace93a4ebe5d148fp-117L;
constexpr long double kLn2 = kLn2Hi;

// e^r for |r| <= 0.35 (Taylor, to 2^-115).
long double exp_reduced(long double r) {
  long double sum = 1, term = 1;
  for (int n = 1; n < 40; ++n) {
    term = term * r / n;
    sum += term;
    if (fabsl(term) < 0x1p-118L * fabsl(sum)) break;
  }
  return sum;
}

long double exp113(long double x) {
  if (__builtin_isnan(x)) return x;
  if (x > 11357.3L) return __builtin_huge_vall();
  if (x < -11432.0L) return 0;
  const long double k = nearbyintl(x / kLn2);
  long double r = fmal(-k, kLn2Hi, x);
  r = fmal(-k, kLn2Lo, r);
  return scalbnl(exp_reduced(r), int(k));
}

// ln x for x > 0: x = 2^e m with m in [1/sqrt 2, sqrt 2), ln m = 2 atanh z
// with z = (m - 1) / (m + 1), |z| <= 0.1716.
long double log113(long double x) {
  if (__builtin_isnan(x) || x < 0) return __builtin_nanl("");
  if (x == 0) return -__builtin_huge_vall();
  if (__builtin_isinf(x)) return x;
  int e = 0;
  long double m = frexpl(x, &e);
  if (m < 0.70710678118654752440084436210484903928L) {
    m *= 2;
    --e;
  }
  const long double z = (m - 1) / (m + 1), z2 = z * z;
  long double sum = 0, power = z;
  for (int n = 1; n < 120; n += 2) {
    const long double term = power / n;
    sum += term;
    if (fabsl(term) < 0x1p-118L * fabsl(sum)) break;
    power *= z2;
  }
  const long double lnm = 2 * sum;
  return e == 0 ? lnm : fmal(e, kLn2Hi, fmal(e, kLn2Lo, lnm));
}

bool is_integer(long double y) { return truncl(y) == y; }
bool is_odd_integer(long double y) { return is_integer(y) && fmodl(y, 2) != 0; }

long double pow113(long double x, long double y) {
  if (y == 0 || x == 1) return 1;
  if (__builtin_isnan(x) || __builtin_isnan(y)) return __builtin_nanl("");
  const bool negativeResult = x < 0 && is_odd_integer(y);
  if (x < 0 && !is_integer(y)) return __builtin_nanl("");
  const long double ax = fabsl(x);
  if (ax == 0) {
    const long double r = y < 0 ? __builtin_huge_vall() : 0;
    return negativeResult ? -r : r;
  }
  if (__builtin_isinf(y)) return (ax > 1) == (y > 0) ? __builtin_huge_vall() : 0;
  if (__builtin_isinf(ax)) {
    const long double r = y < 0 ? 0 : __builtin_huge_vall();
    return negativeResult ? -r : r;
  }
  const long double r = exp113(y * log113(ax));
  return negativeResult ? -r : r;
}

}  // namespace

Extended ext_sqrt(Extended x) {
  const long double s = sqrtl(x.v);
  if (!halfway(s)) return Extended::exact(round64(s));
  return Extended::exact(round64(s, sign_of(fmal(-s, s, x.v))));
}
Extended ext_exp(Extended x) { return Extended(exp113(x.v)); }
Extended ext_log(Extended x) { return Extended(log113(x.v)); }
Extended ext_pow(Extended x, Extended y) { return Extended(pow113(x.v, y.v)); }

// A decimal halfway between two 64-bit values in 113 bits is rare: then its
// digits are compared with the exact decimal value of the midpoint.
long double strtold_64(const char *text, char **end, locale_t locale) {
  const long double v = strtold_l(text, end, locale);
  if (!halfway(v) || !__builtin_isfinite(v) || v == 0) return round64(v);
  // The digits of the text (sign and point left out) and its decimal exponent.
  std::string digits;
  int exponent = 0;
  bool point = false;
  const char *p = text;
  while (*p == ' ' || *p == '\t' || *p == '+' || *p == '-') ++p;
  for (; (*p >= '0' && *p <= '9') || *p == '.'; ++p) {
    if (*p == '.') {
      point = true;
      continue;
    }
    if (digits.empty() && *p == '0') {
      if (point) --exponent;
      continue;
    }
    digits += *p;
    if (!point) ++exponent;
  }
  if (*p == 'e' || *p == 'E') exponent += std::atoi(p + 1);
  // The midpoint, exactly: 1.dddd...e±X with as many digits as it has.
  char buf[256];
  std::snprintf(buf, sizeof buf, "%.*Le", 200, fabsl(v));
  std::string mid;
  const char *q = buf;
  for (; *q && *q != 'e'; ++q)
    if (*q >= '0' && *q <= '9') mid += *q;
  const int midExponent = std::atoi(q + 1) + 1;
  int side = 0;  // sign of |text| - |v|
  if (exponent != midExponent) {
    side = exponent > midExponent ? 1 : -1;
  } else {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    while (!mid.empty() && mid.back() == '0') mid.pop_back();
    const int c = digits.compare(mid);
    side = c > 0 ? 1 : c < 0 ? -1 : 0;
  }
  return round64(v, v < 0 ? -side : side);
}

}  // namespace velmora::web

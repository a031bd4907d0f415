// The functions of extended_math.h: square roots and decoded decimals
// rounded once, exactly; exp, log and pow computed to about 110 bits in the
// 128-bit format (the browser build's C library has them to double
// precision only) and sin, cos, tan and atan from its 113-bit functions,
// each then rounded once to the 64-bit significand.
#include "web/src/extended_math.h"

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

// Whether a 128-bit value lies exactly halfway between two Extended values.
bool halfway(long double q) {
  const Extended b = __builtin_bit_cast(Extended, q);
  return (b.lo & ((std::uint64_t(1) << 49) - 1)) == (std::uint64_t(1) << 48);
}
int sign_of(long double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
// q rounded to 64 bits when the exact value lies on the `side` of q (the
// sign of exact - q; 0: q is exact): only a halfway q needs it.
Extended round_toward(long double q, int side) {
  if (!side || !halfway(q)) return Extended::of_quad(q);
  // The neighbour on that side decides: a step of a quarter of the last
  // bit moves q off the halfway point.
  const Extended b = __builtin_bit_cast(Extended, q);
  const bool away = (b.hi >> 63) ? side < 0 : side > 0;  // the exact magnitude is larger
  Extended nudged = b;
  nudged.lo = away ? b.lo + (std::uint64_t(1) << 47) : b.lo - (std::uint64_t(1) << 47);
  return Extended::of_quad(__builtin_bit_cast(long double, nudged));
}

}  // namespace

Extended ext_sqrt(Extended x) {
  const long double v = x.quad(), s = sqrtl(v);
  return round_toward(s, halfway(s) ? sign_of(fmal(-s, s, v)) : 0);
}
Extended ext_exp(Extended x) { return Extended::of_quad(exp113(x.quad())); }
Extended ext_log(Extended x) { return Extended::of_quad(log113(x.quad())); }
Extended ext_pow(Extended x, Extended y) { return Extended::of_quad(pow113(x.quad(), y.quad())); }
Extended ext_sin(Extended x) { return Extended::of_quad(sinl(x.quad())); }
Extended ext_cos(Extended x) { return Extended::of_quad(cosl(x.quad())); }
Extended ext_tan(Extended x) { return Extended::of_quad(tanl(x.quad())); }
Extended ext_atan(Extended x) { return Extended::of_quad(atanl(x.quad())); }

// A decimal halfway between two 64-bit values in 113 bits is rare: then its
// digits are compared with the exact decimal value of the midpoint.
Extended strtold_64(const char *text, char **end, locale_t locale) {
  const long double v = strtold_l(text, end, locale);
  if (!halfway(v) || !__builtin_isfinite(v) || v == 0) return Extended::of_quad(v);
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
  int side = 0;  // the sign of |text| - |v|
  if (exponent != midExponent) {
    side = exponent > midExponent ? 1 : -1;
  } else {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    while (!mid.empty() && mid.back() == '0') mid.pop_back();
    const int c = digits.compare(mid);
    side = c > 0 ? 1 : c < 0 ? -1 : 0;
  }
  return round_toward(v, v < 0 ? -side : side);
}

}  // namespace velmora::web

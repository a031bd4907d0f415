#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace velmora::engine {

// A long double truncated toward zero to a 64-bit integer (saturating, NaN
// gives 0). Values below 2^50 go through double, whose conversion needs no
// change of the x87 control word; the double may have rounded across an
// integer, which one comparison in long double corrects.
inline int64_t truncate_to_int64(long double v) {
  constexpr long double kFast = 1125899906842624.0L;  // 2^50
  if (v > -kFast && v < kFast) {
    int64_t i = static_cast<int64_t>(static_cast<double>(v));
    long double li = static_cast<long double>(i);
    if (v >= 0 ? li > v : li < v) i += v >= 0 ? -1 : 1;
    return i;
  }
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18L) return INT64_MAX;
  if (v <= -9.2e18L) return INT64_MIN + 1;
  return static_cast<int64_t>(std::trunc(v));
}

// Where long double holds fewer than 64 bits of mantissa (a build that
// computes in double), whole numbers stop at the last magnitude below which
// every integer is one, so that integer results are the same numbers.
inline constexpr bool kWholeLimited = std::numeric_limits<long double>::digits < 64;
inline constexpr int64_t kWholeLimit =
    kWholeLimited ? int64_t(1) << (std::numeric_limits<long double>::digits % 64) : INT64_MAX;
inline bool within_whole_limit(int64_t w) {
  if constexpr (kWholeLimited) return w >= -kWholeLimit && w <= kWholeLimit;
  else return true;
}

// Whether a long double is exactly a 64-bit integer (-0 is not: arithmetic
// on integers could not give it back), and which. Values below 2^53 go
// through double, whose conversions need no change of the x87 control word.
inline bool whole_of(long double x, int64_t &w) {
  constexpr long double k53 = 9007199254740992.0L;  // 2^53
  if (x > -k53 && x < k53) {
    const double d = static_cast<double>(x);
    if (static_cast<long double>(d) != x) return false;
    const int64_t i = static_cast<int64_t>(d);
    if (static_cast<double>(i) != d || (i == 0 && std::signbit(d))) return false;
    w = i;
    return true;
  }
  if (!(x >= -0x1p63L && x < 0x1p63L)) return false;  // NaN too
  const int64_t i = static_cast<int64_t>(x);
  if (static_cast<long double>(i) != x || !within_whole_limit(i)) return false;
  w = i;
  return true;
}

}  // namespace velmora::engine

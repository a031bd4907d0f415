// The browser build's numbers (web/src/extended.h) against the x87 80-bit
// arithmetic of this machine, which is what the desktop computes with: the
// same operands must give the same bits.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "web/src/extended.h"

using velmora::web::Extended;

namespace {

static_assert(LDBL_MANT_DIG == 64, "these tests compare with x87 extended arithmetic");

// An x87 value goes into Extended and comes back exactly: both have 64-bit significands.
long double back(Extended e) { return static_cast<long double>(e.quad()); }

// The 80 bits of an x87 value (two NaNs count as the same), as text for a
// failure's message; `same` compares them.
bool same(long double a, long double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, 10) == 0; }
std::string bits(long double x) {
  if (std::isnan(x)) return "nan";
  unsigned char b[10];
  std::memcpy(b, &x, sizeof b);
  char out[32];
  std::snprintf(out, sizeof out, "%02x%02x:%02x%02x%02x%02x%02x%02x%02x%02x", b[9], b[8], b[7], b[6], b[5], b[4], b[3],
                b[2], b[1], b[0]);
  return out;
}

// Random operands: any significand, exponents near each other (so that sums
// cancel and round), far apart, at the top of the range and among the
// denormals, either sign.
class Operands {
 public:
  explicit Operands(unsigned seed) : rng_(seed) {}
  long double next(int around) {
    std::uniform_int_distribution<std::uint64_t> any;
    std::uint64_t sig = any(rng_) | (std::uint64_t(1) << 63);
    // Some significands with few bits set: exact results and halfway cases.
    if (rng_() % 4 == 0) sig &= ~((std::uint64_t(1) << (rng_() % 62)) - 1);
    const int spread = int(rng_() % 5);
    const int exponent = spread == 0   ? around + int(rng_() % 3) - 1
                         : spread == 1 ? around + int(rng_() % 140) - 70
                         : spread == 2 ? int(rng_() % 200) - 100
                         : spread == 3 ? 16383 - int(rng_() % 40)
                                       : -16382 - int(rng_() % 70);
    long double x = std::ldexp(static_cast<long double>(sig), exponent - 63);
    return rng_() % 2 ? -x : x;
  }

 private:
  std::mt19937_64 rng_;
};

TEST(WebNumbers, SumsDifferencesProductsAndQuotientsAreTheX87ResultsBitForBit) {
  Operands ops(20241210);
  int checked = 0;
  for (int i = 0; i < 250000; ++i) {
    const int around = i % 300 - 150;
    const long double a = ops.next(around), b = ops.next(around);
    const Extended ea(a), eb(b);
    volatile long double va = a, vb = b;  // computed by the x87 unit, not folded
    const long double sum = va + vb, difference = va - vb, product = va * vb, quotient = va / vb;
    const struct {
      Extended got;
      long double want;
      const char *op;
    } results[] = {{ea + eb, sum, "+"}, {ea - eb, difference, "-"}, {ea * eb, product, "*"}, {ea / eb, quotient, "/"}};
    for (const auto &r : results)
      ASSERT_TRUE(same(back(r.got), r.want))
          << std::hexfloat << a << " " << r.op << " " << b << ": " << bits(back(r.got)) << " against " << bits(r.want);
    ASSERT_EQ(ea < eb, a < b);
    ASSERT_EQ(ea == eb, a == b);
    checked += 4;
  }
  EXPECT_EQ(checked, 1000000);
}

TEST(WebNumbers, DecimalSumsCancelAsOnTheDesktop) {
  // 1 - 0.9 - 0.1, and ten additions of 0.1, with the constants rounded to 64 bits.
  const Extended one(1), nine(0.9L), tenth(0.1L);
  volatile long double v1 = 1, v9 = 0.9L, v01 = 0.1L;
  EXPECT_EQ(bits(back(one - nine - tenth)), bits(v1 - v9 - v01));
  Extended s(0);
  long double t = 0;
  for (int i = 0; i < 10; ++i) {
    s += tenth;
    t += v01;
  }
  EXPECT_EQ(bits(back(s)), bits(t));
  EXPECT_EQ(bits(back(s - one)), bits(t - v1));
  EXPECT_NE(back(s - one), 0.0L);  // the last bit shows: 1.0842021724855E-19
}

TEST(WebNumbers, ConversionsKeepIntegersOfSixtyFourBitsAndDoubles) {
  for (std::int64_t i :
       {std::int64_t(0), std::int64_t(1), std::int64_t(-1), std::int64_t(1) << 53, (std::int64_t(1) << 53) + 1,
        std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
    const Extended e(i);
    EXPECT_EQ(back(e), static_cast<long double>(i)) << i;
    EXPECT_EQ(static_cast<std::int64_t>(e), i) << i;
  }
  EXPECT_EQ(back(Extended(std::numeric_limits<std::uint64_t>::max())),
            static_cast<long double>(std::numeric_limits<std::uint64_t>::max()));
  for (double d : {0.1, -2.5, 1e300, -1e-300, 4.9e-324, std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(back(Extended(d)), static_cast<long double>(d)) << d;
    EXPECT_EQ(static_cast<double>(Extended(d)), d) << d;
  }
  EXPECT_TRUE(std::signbit(back(Extended(-0.0))));
  EXPECT_TRUE(std::isnan(back(Extended(std::nan("")))));
  // Casts to integers cut the fraction off, as C casts do.
  EXPECT_EQ(static_cast<int>(Extended(-7.9)), -7);
  EXPECT_EQ(static_cast<long>(Extended(123456789.99)), 123456789L);
  // A 113-bit value is rounded to 64 bits, halfway cases to even.
  const __float128 halfway = __float128(1) + __float128(1) / __float128(18446744073709551616.0L);  // 1 + 2^-64
  EXPECT_EQ(back(Extended(halfway)), 1.0L);
  EXPECT_EQ(back(Extended(halfway + __float128(1) / __float128(1e30L))), 1.0L + LDBL_EPSILON);
  const __float128 oddHalfway = __float128(1) + __float128(3) / __float128(18446744073709551616.0L);  // 1 + 3 * 2^-64
  EXPECT_EQ(back(Extended(oddHalfway)), 1.0L + 2 * LDBL_EPSILON);
}

// Whole numbers, done on the integers where the result is exact: sums,
// differences and products of whole numbers of every size up to and past
// 2^62 and 2^63 (where the integers would overflow), with zeros of both
// signs, halves and values just off a whole number beside them.
TEST(WebNumbers, WholeNumberArithmeticIsTheX87ResultBitForBit) {
  std::mt19937_64 rng(23);
  auto whole = [&] {
    const int kind = int(rng() % 8);
    if (kind == 0) return rng() % 2 ? 0.0L : -0.0L;
    if (kind == 1) return static_cast<long double>(std::int64_t(rng()) >> (rng() % 3)) + (rng() % 2 ? 0.5L : 0.0L);
    const long double v = static_cast<long double>(rng() >> (rng() % 64));
    return (rng() % 2 ? -v : v) + (kind == 2 ? 0x1p-20L : 0.0L);
  };
  for (int i = 0; i < 200000; ++i) {
    const long double x = whole(), y = whole();
    const Extended a(x), b(y);
    EXPECT_TRUE(same(back(a + b), x + y)) << bits(x) << " + " << bits(y);
    EXPECT_TRUE(same(back(a - b), x - y)) << bits(x) << " - " << bits(y);
    EXPECT_TRUE(same(back(a * b), x * y)) << bits(x) << " * " << bits(y);
  }
  for (const long double x : {1.0L, -1.0L, 0x1p62L - 1, -(0x1p62L - 1), 0x1p62L, 0x1p63L - 1024, 3037000499.0L}) {
    const Extended a(x);
    EXPECT_TRUE(same(back(a * a), x * x)) << bits(x);
    EXPECT_TRUE(same(back(a - a), x - x)) << bits(x);  // +0
    EXPECT_TRUE(same(back(a + a), x + x)) << bits(x);
  }
}

// As a condition an Extended is what a long double is: true unless zero.
TEST(WebNumbers, AsAConditionOnlyZeroIsFalse) {
  for (const long double x : {0.5L, -0.25L, 0x1p-16445L, 1.0L, 0x1p70L, -0x1p63L,
                              std::numeric_limits<long double>::infinity(),
                              std::numeric_limits<long double>::quiet_NaN(), 0.0L, -0.0L}) {
    EXPECT_EQ(static_cast<bool>(Extended(x)), static_cast<bool>(x)) << bits(x);
    EXPECT_EQ(!Extended(x), !x) << bits(x);
  }
}

TEST(WebNumbers, InfinitiesNaNsZerosAndDenormalsBehaveAsOnX87) {
  const long double big = LDBL_MAX, tiny = LDBL_TRUE_MIN, inf = std::numeric_limits<long double>::infinity();
  volatile long double vb = big, vt = tiny, vi = inf, zero = 0, mzero = -0.0L;
  const struct {
    long double a, b;
  } cases[] = {{vb, vb},       {vt, vt},        {vt, 0.5L}, {vi, -vi}, {vi, zero},  {zero, mzero},
               {mzero, mzero}, {LDBL_MIN, -vt}, {1, vi},    {vt, -vt}, {zero, zero}};
  for (const auto &c : cases) {
    volatile long double a = c.a, b = c.b;
    const Extended ea(c.a), eb(c.b);
    EXPECT_EQ(bits(back(ea + eb)), bits(a + b)) << std::hexfloat << c.a << " + " << c.b;
    EXPECT_EQ(bits(back(ea - eb)), bits(a - b)) << std::hexfloat << c.a << " - " << c.b;
    EXPECT_EQ(bits(back(ea * eb)), bits(a * b)) << std::hexfloat << c.a << " * " << c.b;
    EXPECT_EQ(bits(back(ea / eb)), bits(a / b)) << std::hexfloat << c.a << " / " << c.b;
  }
  EXPECT_FALSE(Extended(std::nan("")) == Extended(std::nan("")));
  EXPECT_TRUE(Extended(0.0) == Extended(-0.0));
}

// Whole parts and conversions to double on the bits: against the x87
// unit's truncl, floorl, ceill and its rounding to double, for random
// operands (fractions, whole numbers, the ends of double's range, x87
// denormals) and the edge values.
TEST(WebNumbers, WholePartsAndDoublesAreTheX87ResultsBitForBit) {
  Operands ops(20251211);
  std::vector<long double> values = {0.0L, -0.0L, 0.5L, -0.5L, 1.0L, -1.0L, 1.5L, -1.5L, 2.5L, -2.5L,
                                     0x1p63L, -0x1p63L, 0x1p64L, 0x1p64L - 1, 0x1p112L + 0.5L, 0x1p-16445L,
                                     -0x1p-16445L, LDBL_MAX, -LDBL_MAX, LDBL_MIN,
                                     std::numeric_limits<long double>::infinity(),
                                     -std::numeric_limits<long double>::infinity(), std::nanl(""),
                                     0x1.fffffffffffffp1023L, 0x1.fffffffffffff8p1023L, 0x1.fffffffffffff7fep1023L,
                                     0x1p-1022L, 0x1.fffffffffffff8p-1023L, 0x1p-1023L, 0x1p-1074L,
                                     1.0L + 0x1p-53L, 1.0L + 0x3p-53L, 1.0L + 0x1p-53L + 0x1p-63L};
  for (int i = 0; i < 200000; ++i) {
    long double x = ops.next(i % 3 == 0 ? i % 80 - 10 : i % 2 == 0 ? 1023 - i % 5 : -1022 - i % 60);
    if (i % 7 == 0) x = std::trunc(x) + (i % 14 == 0 ? 0.5L : 0.0L);  // whole numbers and halves
    values.push_back(x);
  }
  int checked = 0;
  for (long double x : values) {
    volatile long double v = x;
    const Extended e(x);
    ASSERT_TRUE(same(back(e.truncated()), truncl(v))) << std::hexfloat << x;
    ASSERT_TRUE(same(back(e.floored()), floorl(v))) << std::hexfloat << x;
    ASSERT_TRUE(same(back(e.ceiled()), ceill(v))) << std::hexfloat << x;
    const double want = static_cast<double>(v), got = static_cast<double>(e);
    ASSERT_TRUE(std::memcmp(&want, &got, 8) == 0 || (std::isnan(want) && std::isnan(got)))
        << std::hexfloat << x << ": " << got << " against " << want;
    checked += 4;
  }
  EXPECT_GT(checked, 800000);
  // The values above 2^52 of a double, where the fast conversion is taken.
  double d = 0;
  EXPECT_TRUE(Extended(0x1p60L + 1).to_double(d));
  EXPECT_EQ(d, 0x1p60);
  EXPECT_FALSE(Extended(0x1p-1074L).to_double(d));  // a double denormal: converted the long way
}

}  // namespace

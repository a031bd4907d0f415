#include <gtest/gtest.h>

#include "engine/number_format.h"

using namespace velmora;
using namespace velmora::engine;

namespace {
std::string pic(long double v, const char16_t *fmt) { return text::to_utf8(format_picture(v, fmt)); }
std::string gen(long double v) { return text::to_utf8(general_number(v)); }
}  // namespace

TEST(GeneralNumber, FifteenSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(gen(1.0L / 3), "0.333333333333333");
  EXPECT_EQ(gen(2.0L / 3), "0.666666666666667");
  EXPECT_EQ(gen(55), "55");
  EXPECT_EQ(gen(-12.5), "-12.5");
  EXPECT_EQ(gen(100), "100");
  EXPECT_EQ(gen(0), "0");
  EXPECT_EQ(gen(0.0001L), "0.0001");
  EXPECT_EQ(gen(0.00001L), "1E-5");
  EXPECT_EQ(gen(1e20L), "1E20");
  EXPECT_EQ(gen(123456789012345.0L), "123456789012345");
  EXPECT_EQ(gen(1234567890123456.0L), "1.23456789012346E15");
  EXPECT_EQ(gen(0.1L + 0.2L), "0.3");
}

TEST(PictureFormat, DigitsPaddingAndRounding) {
  EXPECT_EQ(pic(1.2L, u"00.00"), "01.20");
  EXPECT_EQ(pic(1.005L, u"0.00"), "1.01");  // 18-digit decimal, then half away from zero
  EXPECT_EQ(pic(2.5L, u"0"), "3");
  EXPECT_EQ(pic(-2.5L, u"0"), "-3");
  EXPECT_EQ(pic(0.4L, u"0"), "0");
  EXPECT_EQ(pic(12345, u"00"), "12345");  // extra integer digits are all shown
  EXPECT_EQ(pic(0.5L, u"#.##"), ".5");
  EXPECT_EQ(pic(1, u"0.##"), "1");
  EXPECT_EQ(pic(1.5L, u"#.00"), "1.50");
  EXPECT_EQ(pic(9.999L, u"0.00"), "10.00");
  EXPECT_EQ(pic(7, u""), "7");
}

TEST(PictureFormat, ThousandsSeparatorsAndLiterals) {
  EXPECT_EQ(pic(1234567.891L, u"#,##0.00"), "1,234,567.89");
  EXPECT_EQ(pic(999, u"#,##0"), "999");
  EXPECT_EQ(pic(1000, u"#,##0"), "1,000");
  EXPECT_EQ(pic(-1234, u"#,##0"), "-1,234");
  EXPECT_EQ(pic(42, u"\"Total: \"0\" yen\""), "Total: 42 yen");
  EXPECT_EQ(pic(42, u"'#'0"), "#42");
  EXPECT_EQ(pic(5, u"[0]"), "[5]");
}

TEST(PictureFormat, SectionsForPositiveNegativeAndZero) {
  EXPECT_EQ(pic(5, u"0.0;(0.0);zero"), "5.0");
  EXPECT_EQ(pic(-5, u"0.0;(0.0);zero"), "(5.0)");
  EXPECT_EQ(pic(0, u"0.0;(0.0);zero"), "zero");
  EXPECT_EQ(pic(0.01L, u"0.0;(0.0);zero"), "zero");  // zero after rounding
  EXPECT_EQ(pic(-5, u"0;;z"), "-5");                 // an empty section uses the first
  EXPECT_EQ(pic(-5, u"0;"), "-5");
}

TEST(PictureFormat, Exponents) {
  EXPECT_EQ(pic(12345, u"0.00E+00"), "1.23E+04");
  EXPECT_EQ(pic(0.00012345L, u"0.00E+00"), "1.23E-04");
  EXPECT_EQ(pic(12345, u"0.0E-0"), "1.2E4");
  EXPECT_EQ(pic(-12345, u"0.0E+0"), "-1.2E+4");
  EXPECT_EQ(pic(0, u"0.0E+00"), "0.0E+00");
}

TEST(IntegerText, TruncatesTowardZero) {
  EXPECT_EQ(text::to_utf8(integer_text(-7.9L)), "-7");
  // Every digit, at the ends of 64 bits and beyond them (the exact integer
  // the 80-bit value holds).
  EXPECT_EQ(text::to_utf8(integer_text(9223372036854775807.0L)), "9223372036854775807");
  EXPECT_EQ(text::to_utf8(integer_text(-0x1p63L)), "-9223372036854775808");
  EXPECT_EQ(text::to_utf8(integer_text(0x1p63L)), "9223372036854775808");
  EXPECT_EQ(text::to_utf8(integer_text(-1e30L)), "-1000000000000000000024696061952");
  EXPECT_EQ(text::to_utf8(integer_text(-0.0L)), "0");
}

#include <cmath>
#include <cstdlib>
#include <iterator>

#include "engine/number_format.h"
#include "engine/numeric.h"
#include "tests/unit/engine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

class Eval : public velmora::testing::EngineTest {
 protected:
  // The number a variable of slot 0 holds.
  long double value(const char16_t *name) { return e.variables()[e.variables().find(0, name)].Val1; }
};

}  // namespace

TEST_F(Eval, TwoPopsTakeTheRightOperandFirst) {
  const TTaskInfo &t = execute(tcode({u"100 + Δ 2 Δ 0", u"100 + Δ 3 Δ 0", u"100 - xPOP xDMY xPOP xDMY", u"101 xPOP"}));
  EXPECT_EQ(t.WORK, -1.0L);
  EXPECT_EQ(t.CalcIndex, -1);
  // One popped operand and a variable are not exchanged.
  execute(tcode({u"100 + Δ 10 Δ 0", u"100 - xPOP xDMY ∇ A", u"101 xPOP"}), {u"A"});
  EXPECT_EQ(e.task(0).WORK, 10.0L);
  execute(tcode({u"100 + Δ 10 Δ 0", u"100 - ∇ A xNPOP xDMY", u"101 xPOP"}), {u"A"});
  EXPECT_EQ(e.task(0).WORK, 10.0L);  // 0 - (-10)
}

TEST_F(Eval, StackOverflowAndEmptyPop) {
  Lines code;
  for (int i = 0; i < 52; ++i) code.push_back(u"100 + Δ 1 Δ 0");
  int n = 1;
  for (u16 &line : code) {
    u16 number = text::int16(n++);
    line = u16(5 - number.size(), u'0') + number + u" " + line;
  }
  execute(code);
  EXPECT_EQ(lastConsoleLine(), u"-Stack Overflow");
  EXPECT_EQ(e.task(0).CalcIndex, 50);
  const TTaskInfo &t = execute(tcode({u"005 Δ 9", u"101 xPOP"}));
  EXPECT_EQ(t.WORK, 0.0L);
  EXPECT_FALSE(e.errorFlag());
}

TEST_F(Eval, ArithmeticAssignmentAndPower) {
  execute(tcode({u"003 * Δ 6 Δ 7", u"022 ∇ A =", u"005 Δ 2", u"023 ∇ A -=", u"003 ^ Δ 2 Δ 10", u"022 ∇ B =",
                 u"003 % Δ 2 Δ 10"}),
          {u"A", u"B"});
  EXPECT_EQ(value(u"A"), 40.0L);
  EXPECT_EQ(value(u"B"), 1024.0L);
  EXPECT_EQ(e.task(0).WORK, 1024.0L);  // an unknown operator leaves WORK
  execute(tcode({u"005 Δ 4", u"022 ∇ A =", u"005 Δ 2", u"023 ∇ A /=", u"005 Δ 3", u"023 ∇ A *=", u"005 Δ 1",
                 u"023 ∇ A +="}),
          {u"A"});
  EXPECT_EQ(value(u"A"), 7.0L);
}

TEST_F(Eval, FailuresAreCalculationErrorsThatStopAllTasks) {
  struct Case {
    const char16_t *code;
    const char16_t *line;
  } cases[] = {
      {u"003 / Δ 1 Δ 0", u"計算エラー：/ ゼロ除算（0 で割った）\r"},
      {u"100 / Δ 0 Δ 0", u"計算エラー：/ ゼロ除算（0 で割った）\r"},
      {u"102 LN Δ 0", u"計算エラー：LN ゼロ除算（0 で割った）\r"},
      {u"102 LN xN 1", u"計算エラー：LN 不正な演算（負の数の対数・平方根など）\r"},
      {u"102 SQRT xN 4", u"計算エラー：SQRT 不正な演算（負の数の対数・平方根など）\r"},
      {u"102 EXP Δ 100000", u"計算エラー：EXP 桁あふれ（結果が大きすぎる）\r"},
      {u"003 ^ xN 8 Δ 0.5", u"計算エラー：^ 不正な演算（負の数の対数・平方根など）\r"},
      {u"003 ^ Δ 10 Δ 100000", u"計算エラー：^ 桁あふれ（結果が大きすぎる）\r"},
      {u"003 * Δ 1e4000 Δ 1e4000", u"計算エラー：* 桁あふれ（結果が大きすぎる）\r"},
      {u"043 MOD ( Δ 1 , Δ 0 )", u"計算エラー：MOD ゼロ除算（0 で割った）\r"},
  };
  for (const Case &c : cases) {
    execute(tcode({c.code}));
    EXPECT_TRUE(e.errorFlag()) << text::to_utf8(c.code);
    EXPECT_EQ(lastConsoleLine(), c.line) << text::to_utf8(c.code);
  }
  e.releaseAllSlots();
  load(tcode({u"005 Δ 0", u"023 ∇ A /=", u"001"}), {u"A"});
  load(tcode({u"001", u"001", u"001"}));
  run();
  EXPECT_EQ(lastConsoleLine(), u"計算エラー：/= ゼロ除算（0 で割った）\r");
  EXPECT_EQ(e.task(0).state, tsEND);
  EXPECT_EQ(e.task(1).state, tsEND);
  EXPECT_FALSE(e.running());
}

TEST_F(Eval, BitOperationsAndMod) {
  auto work = [&](const char16_t *code) { return execute(tcode({code})).WORK; };
  EXPECT_EQ(work(u"015 ∇ A SHR Δ 28"), 0.0L);  // A is undefined: error, WORK stays
  EXPECT_EQ(work(u"015 xN 1 SHR Δ 28"), 15.0L);
  EXPECT_EQ(work(u"015 Δ 1 SHL Δ 33"), 2.0L);
  EXPECT_EQ(work(u"015 Δ 1 SHL Δ 31"), -2147483648.0L);
  EXPECT_EQ(work(u"015 Δ 12 AND Δ 10"), 8.0L);
  EXPECT_EQ(work(u"015 Δ 12 OR Δ 3"), 15.0L);
  EXPECT_EQ(work(u"015 Δ 12 XOR Δ 10"), 6.0L);
  EXPECT_EQ(work(u"043 MOD ( xN 7 , Δ 3 )"), -1.0L);
  EXPECT_EQ(work(u"043 MOD ( Δ 7.9 , xN 3 )"), 1.0L);
}

TEST_F(Eval, MathFunctions) {
  auto fn = [&](const char16_t *code) { return execute(tcode({code})).WORK; };
  EXPECT_EQ(fn(u"102 PAI Δ 2"), 2 * 3.1415926535897932385L);
  EXPECT_EQ(fn(u"102 TRUNC xN 2.7"), -2.0L);
  EXPECT_EQ(fn(u"102 INC Δ 1"), 2.0L);
  EXPECT_EQ(fn(u"102 DEC Δ 1"), 0.0L);
  EXPECT_NEAR(double(fn(u"102 TAN Δ 1")), std::tan(1.0), 1e-12);
  EXPECT_NEAR(double(fn(u"102 ATAN Δ 1")), M_PI / 4, 1e-12);
  EXPECT_EQ(fn(u"102 LENGTH Ω \"日本語\""), 3.0L);
  EXPECT_EQ(fn(u"102 STRVAL Ω \" 12.5 \""), 12.5L);
  EXPECT_EQ(fn(u"102 STRVAL Ω \"abc\""), 0.0L);
  EXPECT_EQ(e.task(0).CalcIndex, 0);  // the result is also pushed
  for (int i = 0; i < 200; ++i) {
    long double r = fn(u"102 RAND Δ 10");
    ASSERT_GE(r, 0.0L);
    ASSERT_LT(r, 10.0L);
  }
  long double first = execute(tcode({u"044 RANDSEED Δ 42", u"102 RAND Δ 1"})).WORK;
  long double again = execute(tcode({u"044 RANDSEED Δ 42", u"102 RAND Δ 1"})).WORK;
  EXPECT_EQ(first, again);
}

TEST_F(Eval, Comparisons) {
  auto flag = [&](const char16_t *code) { return execute(tcode({code}), {u"&A", u"&B"}).FLAG; };
  EXPECT_TRUE(flag(u"000 Δ 2 >= Δ 2"));
  EXPECT_FALSE(flag(u"000 NOT Δ 3 = Δ 3"));
  EXPECT_TRUE(flag(u"000 NOT Δ 3 ?? Δ 3"));  // an unknown relation is false, then NOT
  EXPECT_TRUE(flag(u"000 xN 1 <> Δ 1"));
  EXPECT_TRUE(flag(u"201 Δ 16706 = ASC ( Ω \"AB\" )"));
  EXPECT_TRUE(flag(u"201 Δ 65 = ASC ( Ω \"A\" )"));
  EXPECT_TRUE(flag(u"201 Δ 8191 = HEX ( Ω \"1FFFF\" )"));
  EXPECT_TRUE(flag(u"202 HEX ( Ω \"ff\" ) = Δ 255"));
  EXPECT_TRUE(flag(u"202 NOT ASC ( Ω \"\" ) > Δ 0"));
  EXPECT_TRUE(flag(u"203 Ω \"xyz\" > Ω \"ab\""));
  EXPECT_FALSE(flag(u"203 Ω \"ab\" > Ω \"xyz\""));
  EXPECT_TRUE(flag(u"203 Ω \"ab\" < Ω \"xyz\""));
  EXPECT_FALSE(flag(u"203 Ω \"ab\" = Ω \"AB\""));
  EXPECT_TRUE(flag(u"204 Ω \"bc\" (= Ω \"abcd\""));
  EXPECT_FALSE(flag(u"204 Ω \"\" (= Ω \"abcd\""));
  EXPECT_TRUE(flag(u"204 Ω \"abcd\" =) Ω \"bc\""));
  EXPECT_TRUE(flag(u"001"));
  const TTaskInfo &t = execute(tcode({u"005 Δ 5", u"109 Δ 4 < ", u"110"}));
  EXPECT_TRUE(t.FLAG);
  EXPECT_TRUE(t.BOOL_TASK);
}

TEST_F(Eval, MatrixInverseNeedsARowExchange) {
  execute(tcode({u"120 MATRIX □ %A [ Δ 2 , Δ 2 ]", u"005 Δ 1", u"122 □ %A [ Δ 0 , Δ 1 ]", u"122 □ %A [ Δ 1 , Δ 0 ]",
                 u"120 MATRIX □ %B [ Δ 2 , Δ 2 ]", u"128 ~ □ %A", u"125 □ %B"}),
          {u"%A", u"%B"});
  ASSERT_FALSE(e.errorFlag()) << text::to_utf8(lastConsoleLine());
  const TVarInfo &b = e.variables()[e.variables().find(0, u"%B")];
  EXPECT_EQ(b.matAt(0, 0), 0.0L);
  EXPECT_EQ(b.matAt(0, 1), 1.0L);
  EXPECT_EQ(b.matAt(1, 0), 1.0L);
  EXPECT_EQ(b.matAt(1, 1), 0.0L);
  EXPECT_TRUE(e.task(0).MAT_OPE.empty());  // cleared once stored
}

TEST_F(Eval, ThreeByThreeInverseAndSingularMatrix) {
  // [[0 2 1] [1 1 0] [2 0 1]]: the first pivot needs an exchange.
  const long double a[3][3] = {{0, 2, 1}, {1, 1, 0}, {2, 0, 1}};
  Lines code = {u"120 MATRIX □ %A [ Δ 3 , Δ 3 ]", u"120 MATRIX □ %I [ Δ 3 , Δ 3 ]", u"120 MATRIX □ %P [ Δ 3 , Δ 3 ]"};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      code.push_back(u"005 Δ " + text::int16(long(a[i][j])));
      code.push_back(u"122 □ %A [ Δ " + text::int16(i) + u" , Δ " + text::int16(j) + u" ]");
    }
  for (const char16_t *l : {u"128 ~ □ %A", u"125 □ %I", u"123 □ %A *", u"124 □ %I", u"125 □ %P"}) code.push_back(l);
  int n = 1;
  for (u16 &line : code) {
    u16 number = text::int16(n++);
    line = u16(5 - number.size(), u'0') + number + u" " + line;
  }
  execute(code, {u"%A", u"%I", u"%P"});
  ASSERT_FALSE(e.errorFlag());
  const TVarInfo &p = e.variables()[e.variables().find(0, u"%P")];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(double(p.matAt(i, j)), i == j ? 1.0 : 0.0, 1e-15);

  execute(tcode({u"120 MATRIX □ %A [ Δ 2 , Δ 2 ]", u"005 Δ 2", u"122 □ %A [ Δ 0 , Δ 0 ]", u"122 □ %A [ Δ 0 , Δ 1 ]",
                 u"005 Δ 4", u"122 □ %A [ Δ 1 , Δ 0 ]", u"122 □ %A [ Δ 1 , Δ 1 ]", u"128 ~ □ %A", u"125 □ %A"}),
          {u"%A"});
  const TVarInfo &s = e.variables()[e.variables().find(0, u"%A")];
  EXPECT_EQ(s.matAt(0, 0) + s.matAt(0, 1) + s.matAt(1, 0) + s.matAt(1, 1), 0.0L);
  EXPECT_FALSE(e.errorFlag());
}

TEST_F(Eval, MatrixArithmeticRowsAndParameters) {
  execute(tcode({u"120 MATRIX □ %A [ Δ 2 , Δ 2 ]",
                 u"005 Δ 1",
                 u"130 xPR 0",
                 u"005 Δ 2",
                 u"130 xPR 1",
                 u"130 xPR -2",
                 u"126 □ %A [ Δ 0 ] = ",
                 u"005 Δ 3",
                 u"130 xPR 0",
                 u"005 Δ 4",
                 u"130 xPR 1",
                 u"130 xPR -2",
                 u"126 □ %A [ Δ 1 ] = ",
                 u"129 Δ 2 * □ %A",
                 u"125 □ %A",
                 u"121 □ %A [ Δ 1 , Δ 0 ]",
                 u"022 ∇ X =",
                 u"123 □ %A +",
                 u"123 □ %A",
                 u"125 □ %A",
                 u"121 □ %A [ Δ 1 , Δ 1 ]"}),
          {u"%A", u"X"});
  ASSERT_FALSE(e.errorFlag()) << text::to_utf8(lastConsoleLine());
  EXPECT_EQ(value(u"X"), 6.0L);      // 2 * 3
  EXPECT_EQ(e.task(0).WORK, 16.0L);  // (2 * 4) + (2 * 4)
  execute(tcode({u"005 Δ 1", u"130 xPR 21"}));
  EXPECT_EQ(lastConsoleLine(), u"配列インデクス値エラー: xPR 21\r");
  execute(tcode({u"120 MATRIX □ %A [ Δ 22 , Δ 1 ]"}), {u"%A"});
  EXPECT_EQ(lastConsoleLine(), u"配列インデクス値エラー: %A\r");
}

TEST_F(Eval, Vectors) {
  execute(tcode({u"005 Δ 1", u"020 xVECTCO $A 1", u"005 Δ 2", u"020 xVECTCO $A 2", u"005 Δ 2", u"020 xVECTCO $A 3",
                 u"007 + xVECTVAR $A xVECTVAR $A", u"021 xVECTVAR $B", u"031 / xVECTVAR $B Δ 2", u"021 xVECTVAR $C",
                 u"032 * Δ 3 xVECTVAR $C", u"021 xVECTVAR $D", u"030 xVECTVAR $D . Y"}),
          {u"$A", u"$B", u"$C", u"$D"});
  EXPECT_EQ(e.task(0).WORK, 6.0L);
  const TTaskInfo &t = execute(
      tcode({u"005 Δ 3", u"020 xVECTCO $A 1", u"005 Δ 4", u"020 xVECTCO $A 2", u"033 UNITV ( xVECTVAR $A )"}), {u"$A"});
  EXPECT_NEAR(double(t.VECTOR.X), 0.6, 1e-15);
  EXPECT_NEAR(double(t.VECTOR.Y), 0.8, 1e-15);
  const TTaskInfo &rot =
      execute(tcode({u"005 Δ 1", u"020 xVECTCO $A 1", u"034 VROT ( xVECTVAR $A , Δ 90 , Δ 2.5 )"}), {u"$A"});
  EXPECT_NEAR(double(rot.VECTOR.X), 0, 1e-15);  // axis 2.5 rounds to 2
  EXPECT_NEAR(double(rot.VECTOR.Z), 1, 1e-15);
  execute(tcode({u"033 UNITV ( xVECTVAR $A )"}), {u"$A"});
  EXPECT_EQ(lastConsoleLine(), u"計算エラー：UNITV ゼロ除算（0 で割った）\r");
  execute(tcode({u"031 / xVECTVAR $A Δ 0"}), {u"$A"});
  EXPECT_EQ(lastConsoleLine(), u"計算エラー：/ ゼロ除算（0 で割った）\r");
  EXPECT_EQ(execute(tcode({u"054 x"})).WORK, -1.0L);
}

TEST(Numeric, TruncationTowardZeroAtEveryMagnitude) {
  EXPECT_EQ(truncate_to_int64(2.5L), 2);
  EXPECT_EQ(truncate_to_int64(-2.5L), -2);
  EXPECT_EQ(truncate_to_int64(4.0L), 4);
  // Just below an integer, closer than a double can tell apart.
  EXPECT_EQ(truncate_to_int64(4.0L - 1e-17L), 3);
  EXPECT_EQ(truncate_to_int64(-4.0L + 1e-17L), -3);
  EXPECT_EQ(truncate_to_int64(1152921504606846977.0L), 1152921504606846977LL);  // 2^60 + 1
  EXPECT_EQ(truncate_to_int64(1e30L), INT64_MAX);
  EXPECT_EQ(truncate_to_int64(-1e30L), INT64_MIN + 1);
  EXPECT_EQ(truncate_to_int64(std::nanl("")), 0);
}

// Plain integers of up to 18 digits are read without strtold; every such
// text, signed or not, with leading zeros, gives the value strtold gives.
TEST(Numeric, PlainIntegersReadExactlyAsStrtoldReadsThem) {
  std::uint64_t seed = 12345;
  auto next = [&] { return seed = seed * 6364136223846793005ULL + 1442695040888963407ULL; };
  for (int i = 0; i < 20000; ++i) {
    std::string digits = std::to_string(next() % 1000000000000000000ULL);
    if (i % 7 == 0) digits = "00" + digits;
    if (digits.size() > 18) digits.resize(18);
    const char *signs[] = {"", "-", "+"};
    std::string text = signs[i % 3] + digits;
    long double got = -1;
    ASSERT_TRUE(parse_number(text::from_utf8(text), got)) << text;
    const long double want = std::strtold(text.c_str(), nullptr);
    ASSERT_EQ(got, want) << text;
    ASSERT_EQ(std::signbit(got), std::signbit(want)) << text;  // "-0" stays negative zero
  }
  long double v = 0;
  EXPECT_TRUE(parse_number(u"-0", v));
  EXPECT_TRUE(std::signbit(v));
  EXPECT_TRUE(parse_number(u"1234567890123456789", v));  // 19 digits: strtold
  EXPECT_EQ(v, 1234567890123456789.0L);
  EXPECT_FALSE(parse_number(u"-", v));
  EXPECT_FALSE(parse_number(u"12a", v));
  EXPECT_FALSE(parse_number(u"+-1", v));
  EXPECT_TRUE(parse_number(u"1e3", v));
  EXPECT_EQ(v, 1000.0L);
}

TEST(Numeric, PlainDigitsAreWhatAUnitByUnitReadingFinds) {
  // Units at and around the digits' edges, and ones that differ from a
  // digit only above the low byte, at every position of texts of 0 to 20.
  const char16_t near[] = {u'0', u'9', u'/', u':', u'5', u'\x0130', u'\x0030' + 0x100, u'\x00B0', u'\xFF10',
                           u' ', u'-', u'\0', u'\x7F', u'\x80'};
  std::uint64_t seed = 99;
  auto next = [&] { return seed = seed * 6364136223846793005ULL + 1442695040888963407ULL; };
  for (int i = 0; i < 100000; ++i) {
    const std::size_t size = next() % 21;
    u16 text;
    for (std::size_t k = 0; k < size; ++k)
      text += next() % 4 ? char16_t(u'0' + next() % 10) : near[next() % std::size(near)];
    bool want = !text.empty() && text.size() <= 18;
    std::uint64_t value = 0;
    for (char16_t c : text) {
      want = want && c >= u'0' && c <= u'9';
      value = value * 10 + unsigned(c - u'0');
    }
    std::int64_t got = -1;
    ASSERT_EQ(plain_digits(text, got), want) << text::to_utf8(text);
    if (want) ASSERT_EQ(got, std::int64_t(value)) << text::to_utf8(text);
  }
  std::int64_t n = 0;
  EXPECT_TRUE(plain_digits(u"999999999999999999", n));
  EXPECT_EQ(n, 999999999999999999LL);
  EXPECT_TRUE(plain_digits(u"000000012", n));
  EXPECT_EQ(n, 12);
  EXPECT_FALSE(plain_digits(u"1234567890123456789", n));  // 19 digits
}

namespace {

// The number reading as it is without the integer path: the characters a
// number may hold, then strtold over the whole text.
bool number_by_strtold(u16view text, long double &out) {
  if (text.empty() || text.size() > 400) return false;
  std::string narrow;
  bool digit = false;
  for (char16_t c : text) {
    if (c >= u'0' && c <= u'9') digit = true;
    else if (c != u'.' && c != u'-' && c != u'+' && c != u'e' && c != u'E') return false;
    narrow += char(c);
  }
  if (!digit) return false;
  char *end = nullptr;
  const long double v = std::strtold(narrow.c_str(), &end);
  if (end != narrow.c_str() + narrow.size()) return false;
  out = v;
  return true;
}

class StrvalTexts : public velmora::testing::EngineTest {};

}  // namespace

// Any text, not only plain integers: signs, dots, exponents, spaces, other
// characters and lengths around the 18 digits the integer path takes must
// read as strtold reads them (accepted or not, the same value and sign).
TEST(Numeric, EveryTextReadsAsStrtoldReadsIt) {
  const char16_t alphabet[] = u"0123456789000999+-.eE x\t１";
  std::uint64_t seed = 99;
  auto next = [&] { return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33; };
  for (int i = 0; i < 200000; ++i) {
    u16 text;
    const std::size_t n = next() % 23;
    const bool digits = next() % 2 == 0;  // half of them mostly digits
    for (std::size_t k = 0; k < n; ++k)
      text += digits && next() % 8 != 0 ? char16_t(u'0' + next() % 10) : alphabet[next() % (std::size(alphabet) - 1)];
    long double got = -1, want = -1;
    const bool ok = parse_number(text, got), wantOk = number_by_strtold(text, want);
    ASSERT_EQ(ok, wantOk) << text::to_utf8(text);
    if (!ok) continue;
    if (std::isnan(want)) {
      ASSERT_TRUE(std::isnan(got)) << text::to_utf8(text);
      continue;
    }
    ASSERT_EQ(got, want) << text::to_utf8(text);
    ASSERT_EQ(std::signbit(got), std::signbit(want)) << text::to_utf8(text);
  }
}

// STRVAL trims spaces around the text and reads 0 from anything that is not
// a number.
TEST_F(StrvalTexts, StrvalOfGeneratedTextsMatchesTheReading) {
  const char16_t alphabet[] = u"0123456789+- .e";
  std::uint64_t seed = 5;
  auto next = [&] { return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33; };
  for (int i = 0; i < 400; ++i) {
    u16 text;
    const std::size_t n = next() % 22;
    for (std::size_t k = 0; k < n; ++k) text += alphabet[next() % (std::size(alphabet) - 1)];
    const u16 assign = u"045 Σ &W = Ω \"" + text + u"\"";
    execute(tcode({assign.c_str(), u"102 STRVAL Σ &W", u"101 xPOP", u"022 ∇ M ="}), {u"&W", u"M"});
    const std::size_t a = text.find_first_not_of(u' '), b = text.find_last_not_of(u' ');
    long double want = 0;
    if (a == u16::npos || !number_by_strtold(u16view(text).substr(a, b - a + 1), want)) want = 0;
    if (!std::isfinite(want)) {  // beyond the numbers: the calculation error
      ASSERT_TRUE(e.errorFlag()) << text::to_utf8(text);
      continue;
    }
    ASSERT_EQ(var(u"M").Val1, want) << text::to_utf8(text);
  }
}

// INTSTR writes its digits in place: the same text as integer_text for
// numbers of every size and sign, fractions cut toward zero, negative zero
// and the numbers beyond 64 bits.
TEST_F(StrvalTexts, IntstrWritesWhatIntegerTextWrites) {
  std::uint64_t seed = 11;
  auto next = [&] { return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33; };
  std::vector<u16> texts = {u"0",
                            u"-0",
                            u"-0.5",
                            u"0.99",
                            u"9199999999999999999",
                            u"-9199999999999999999",
                            u"9200000000000000000",
                            u"-9300000000000000000",
                            u"1e30",
                            u"-1e30",
                            u"123.456e3"};
  for (int i = 0; i < 300; ++i) {
    u16 digits = text::int16(static_cast<long long>(next() % 1000000000)) +
                 text::int16(static_cast<long long>(next() % 1000000000));
    digits.resize(1 + next() % digits.size());
    if (next() % 3 == 0) digits += u"." + text::int16(static_cast<long long>(next() % 100));
    texts.push_back((next() % 2 ? u"-" : u"") + digits);
  }
  for (const u16 &text : texts) {
    long double value = 0;
    ASSERT_TRUE(parse_number(text, value)) << text::to_utf8(text);
    const u16 load = u"005 Δ " + text;
    execute(tcode({load.c_str(), u"022 ∇ N =", u"420 INTSTR ( ∇ N )", u"320 Σ &T ="}), {u"N", u"&T"});
    ASSERT_FALSE(e.errorFlag()) << text::to_utf8(text);
    ASSERT_EQ(var(u"&T").StrVal, integer_text(value)) << text::to_utf8(text);
  }
}

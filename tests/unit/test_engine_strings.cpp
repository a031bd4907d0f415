#include <sys/mman.h>
#include <unistd.h>

#include <ctime>

#include "engine/number_format.h"
#include "engine/text_ops.h"
#include "tests/unit/engine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

class Strings : public velmora::testing::EngineTest {};

}  // namespace

TEST_F(Strings, ConcatenationGoesThroughTheJoinMark) {
  execute(tcode({u"311 Ω \"ab\"", u"312 +", u"311 Ω \"cd\"", u"320 Σ &A"}), {u"&A"});
  EXPECT_EQ(var(u"&A").StrVal, u"abcd");
  EXPECT_TRUE(e.task(0).STR_OPE.empty());
}

TEST(Zones, StartAndEndConditionsWithAndWithoutTheZoneOption) {
  Zone z = string_zone(u"x=1;y=2", u"=", u";", u"", false);
  EXPECT_EQ(z.result, u"1");
  EXPECT_EQ(z.rest, u"x=;y=2");
  z = string_zone(u"x=1;y=2", u"=", u";", u"[++]", false);
  EXPECT_EQ(z.result, u"=1;");
  EXPECT_EQ(z.rest, u"xy=2");
  z = string_zone(u"x=1;y=2", u"=", u";", u"[+-]", false);
  EXPECT_EQ(z.result, u"=1");
  z = string_zone(u"x=1;y=2", u"#", u";", u"", false);
  EXPECT_EQ(z.result, u"");
  EXPECT_EQ(z.rest, u"x=1;y=2");
  z = string_zone(u"<TD>a</td>", u"<td>", u"</TD>", u"", true);
  EXPECT_EQ(z.result, u"a");  // folded search, result cut from the original
  z = string_zone(u"abc", u"", u"", u"", false);
  EXPECT_EQ(z.result, u"abc");
}

TEST(Zones, ByListTakesTheShortestNonEmptyResult) {
  Zone z = zone_by_list(u"k=v1,v2;rest", u"=", {u";", u"x", u","}, u"", false);
  EXPECT_EQ(z.result, u"v1");
  EXPECT_EQ(z.rest, u"k=,v2;rest");
  z = zone_by_list(u"k=v1", u"=", {}, u"", false);
  EXPECT_EQ(z.result, u"v1");
}

TEST_F(Strings, ZoneInstructionsAndRestRegister) {
  execute(tcode({u"045 Σ &S = Ω \"x=1;y=2\"", u"337 [++]", u"318 Σ &S < Ω \"=\" -> Ω \";\" >", u"329 Σ &A , Σ &B"}),
          {u"&S", u"&A", u"&B"});
  EXPECT_EQ(var(u"&A").StrVal, u"=1;");
  EXPECT_EQ(var(u"&B").StrVal, u"xy=2");
  EXPECT_EQ(e.task(0).LIST_INC, u"[++]");  // the zone option stays within the run
  e.runReset();
  EXPECT_EQ(e.task(0).LIST_INC, u"");  // and not into the next
}

TEST(ListOrder, SortIgnoringCaseKeepsOneOfEqualLines) {
  u16 option = u"[<]";
  LineList list{u"b", u"A", u"a"}, rest{u"z", u"Y"};
  apply_list_order(option, list, rest);
  EXPECT_EQ(list, (Lines{u"A", u"b"}));
  EXPECT_EQ(rest, (Lines{u"Y", u"z"}));
  EXPECT_TRUE(option.empty());
  option = u"[>]";
  apply_list_order(option, list, rest);
  EXPECT_EQ(list, (Lines{u"b", u"A"}));
  option = u"[!]";
  apply_list_order(option, list, rest);
  EXPECT_EQ(list, (Lines{u"z", u"Y"}));
}

TEST(Replace, StopsAtTwoHundredFiftyFiveAndRefusesOldInsideNew) {
  EXPECT_EQ(replace_repeatedly(u"xAx", u"A", u"AAA"), u"xAx");
  EXPECT_EQ(replace_repeatedly(u"abc", u"b", u"b"), u"abc");
  u16 r = replace_repeatedly(u16(200, u'a'), u"a", u"bb");
  EXPECT_EQ(r.size(), 255u);  // 55 replacements: 145 a and 110 b
  EXPECT_EQ(std::count(r.begin(), r.end(), u'b'), 110);
  EXPECT_EQ(replace_all(u"aXbxc", u"x", u"-", true), u"a-b-c");
}

TEST_F(Strings, ListInstructionsSelectInsertDeleteAndStore) {
  execute(tcode({u"301 Σ &L [] += Ω \"apple\"", u"301 Σ &L [] += Ω \"Banana\"", u"301 Σ &L [] += Ω \"cherry pie\"",
                 u"334 Σ &L [ Ω \"an\" ]", u"327 Σ &A [] , Σ &B []", u"301 Σ &L [] -= Ω \"BANANA\"",
                 u"304 Σ &L [ Δ 1 ] . INS ( Ω \"mid\" )", u"303 Σ &L [ Ω \"pie\" ] . DEL", u"302 Σ &L [] . SIZE",
                 u"303 Σ &E [ Δ 0 ] . DEL", u"304 Σ &E [ Δ 0 ] . INS ( Ω \"x\" )"}),
          {u"&L", u"&A", u"&B", u"&E"});
  ASSERT_FALSE(e.errorFlag()) << text::to_utf8(lastConsoleLine());
  EXPECT_EQ(var(u"&A").StrList, Lines{u"Banana"});
  EXPECT_EQ(var(u"&B").StrList, (Lines{u"apple", u"cherry pie"}));
  EXPECT_EQ(var(u"&L").StrList, (Lines{u"apple", u"mid"}));
  EXPECT_EQ(e.task(0).WORK, 2.0L);
  EXPECT_TRUE(var(u"&E").StrList.empty());  // INS and DEL on an empty list do nothing
}

TEST_F(Strings, ElementStoresWithStarTextAndPosition) {
  execute(tcode({u"301 Σ &L [] += Ω \"abc\"", u"301 Σ &L [] += Ω \"xbx\"", u"311 Ω \"-\"",
                 u"323 Σ &L [ Ω \"x\" ] [< Ω \"x\" >]", u"311 Ω \"Z\"", u"323 Σ &L [ Δ 0 ] [< Δ 2 >]", u"311 Ω \"=\"",
                 u"323 Σ &L [ Δ 0 ] [< * >]", u"330 Σ &L []", u"321 Σ &M []", u"311 Ω \"all\"", u"322 Σ &M [ * ]"}),
          {u"&L", u"&M"});
  ASSERT_FALSE(e.errorFlag()) << text::to_utf8(lastConsoleLine());
  EXPECT_EQ(var(u"&L").StrList, (Lines{u"===", u"-b-"}));
  EXPECT_EQ(var(u"&M").StrList, (Lines{u"all", u"all"}));
}

TEST_F(Strings, LineAndCharacterExpressions) {
  execute(tcode({u"301 Σ &L [] += Ω \"hello\"", u"310 Σ &L [ Δ 0 ]", u"320 Σ &A", u"314 Σ &L [ Δ 0 ] < Δ 2 >",
                 u"329 Σ &B , Σ &C", u"310 Σ &L [ Δ 5 ]", u"320 Σ &D", u"311 Ω \"abc\"", u"312 +", u"310 Σ &L [ Δ 9 ]",
                 u"320 Σ &E"}),
          {u"&L", u"&A", u"&B", u"&C", u"&D", u"&E"});
  EXPECT_EQ(var(u"&A").StrVal, u"hello");
  EXPECT_EQ(var(u"&B").StrVal, u"e");
  EXPECT_EQ(var(u"&C").StrVal, u"hllo");
  EXPECT_EQ(var(u"&D").StrVal, u"");     // outside the list: the register is cleared
  EXPECT_EQ(var(u"&E").StrVal, u"abc");  // with a join pending only the mark is cleared
}

TEST_F(Strings, NumericStringFunctions) {
  auto work = [&](const char16_t *code) { return execute(tcode({code})).WORK; };
  EXPECT_EQ(work(u"041 HEX ( Ω \"ff\" )"), 255.0L);
  EXPECT_EQ(work(u"041 HEX ( Ω \"\\q1G2\\q\" )"), 18.0L);
  EXPECT_EQ(work(u"041 HEX ( Ω \"FFFFFFFF\" )"), 4294967295.0L);
  EXPECT_EQ(work(u"040 ASC ( Ω \"AB\" )"), 16706.0L);
  EXPECT_EQ(work(u"042 STRVAL ( Ω \"2.5\" )"), 2.5L);
  EXPECT_EQ(work(u"049 SPOS ( Ω \"c\" , Ω \"abcabc\" )"), 3.0L);
  EXPECT_EQ(work(u"049 SPOS ( Ω \"z\" , Ω \"abc\" )"), 0.0L);
  EXPECT_EQ(work(u"421 LENGTH ( Ω \"日本\" )"), 2.0L);
}

TEST_F(Strings, StringAssignments) {
  execute(tcode({u"045 Σ &A = Ω \"aXbXc\"", u"405 Σ &A -= Ω \"X\"", u"046 Σ &A += Ω \"!\"",
                 u"047 Σ &B = COPY ( Σ &A , Δ 2 , Δ 2.5 )", u"048 Σ &C = VALSTR ( Δ 1.2 , Ω \"00.00\" )",
                 u"406 Σ &A ~= Ω \"b\" BY Ω \"BB\"", u"311 Ω \"Q\"", u"324 Σ &B [< Δ 1 >]", u"420 INTSTR ( xN 3.7 )",
                 u"320 Σ &D"}),
          {u"&A", u"&B", u"&C", u"&D"});
  ASSERT_FALSE(e.errorFlag()) << text::to_utf8(lastConsoleLine());
  EXPECT_EQ(var(u"&A").StrVal, u"aBBc!");
  EXPECT_EQ(var(u"&B").StrVal, u"Qc");  // COPY with 2.5 rounds to 2 characters
  EXPECT_EQ(var(u"&C").StrVal, u"01.20");
  EXPECT_EQ(var(u"&D").StrVal, u"-3");
}

TEST_F(Strings, PredicatesAndUndefinedVariables) {
  auto flag = [&](const char16_t *code) { return execute(tcode({code}), {u"&L", u"&S"}).FLAG; };
  EXPECT_FALSE(flag(u"410 Δ 0"));
  EXPECT_TRUE(flag(u"410 NOT Ω \"\""));
  EXPECT_FALSE(flag(u"412 Σ &L []"));
  EXPECT_TRUE(flag(u"412 NOT Σ &NOPE []"));
  EXPECT_FALSE(flag(u"411 Σ &L [ Δ 0 ]"));
  execute(tcode({u"320 Σ &NOPE"}));
  EXPECT_EQ(lastConsoleLine(), u"値不正、変数未定義エラー: &NOPE\r");
  execute(tcode({u"318 Σ &NOPE < Ω \"a\" -> Ω \"b\" >"}));  // zones of unknown names say nothing
  EXPECT_FALSE(e.errorFlag());
}

TEST_F(Strings, DateAndTimeListsFromTheLocalClock) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  execute(tcode({u"332 DATE", u"321 Σ &D []", u"333 TIME", u"321 Σ &T []"}), {u"&D", u"&T"});
  const LineList &d = var(u"&D").StrList;
  ASSERT_EQ(d.size(), 8u);
  EXPECT_EQ(d[0], text::int16(tm.tm_year + 1900));
  EXPECT_EQ(d[1].size(), 2u);
  EXPECT_EQ(d[3].size(), 3u);
  static const char16_t *english[] = {u"SUN", u"MON", u"TUE", u"WED", u"THU", u"FRI", u"SAT"};
  static const char16_t *japanese[] = {u"日", u"月", u"火", u"水", u"木", u"金", u"土"};
  int w = 0;
  while (w < 7 && d[6] != english[w]) ++w;
  ASSERT_LT(w, 7);
  EXPECT_EQ(d[7], japanese[w]);                  // the same day in both languages
  EXPECT_EQ(d[5], text::int16(w == 0 ? 7 : w));  // 1 = Monday ... 7 = Sunday
  const LineList &t = var(u"&T").StrList;
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[3].size(), 3u);
  EXPECT_EQ(t[4].size(), 9u);
  long ms = std::stol(text::to_utf8(t[4]));
  long fromParts =
      ((std::stol(text::to_utf8(t[0])) * 60 + std::stol(text::to_utf8(t[1]))) * 60 + std::stol(text::to_utf8(t[2]))) *
          1000 +
      std::stol(text::to_utf8(t[3]));
  EXPECT_EQ(ms, fromParts);
}

// INTSTR of a variable or constant that is a whole number (written from its
// integer form) and of one that is not (from the 80-bit value) gives what
// integer_text gives, at the limits of both forms too.
TEST_F(Strings, IntstrOfWholeAndOtherNumbersAgreeWithTheNumberText) {
  const char16_t *values[] = {u"0",
                              u"7",
                              u"10",
                              u"123456789",
                              u"9007199254740991",
                              u"9007199254740993",
                              u"4611686018427387904",
                              u"9199999999999999999",
                              u"9200000000000000000",
                              u"9300000000000000000",
                              u"0.5",
                              u"2.999",
                              u"1e30"};
  for (const char16_t *text : values)
    for (const char16_t *sign : {u"Δ", u"xN"}) {
      const u16 operand = u16(sign) + u" " + text;
      const u16 code[] = {
          u"005 " + operand, u"022 ∇ X =", u"420 INTSTR ( ∇ X )", u"320 Σ &V", u"420 INTSTR ( " + operand + u" )",
          u"320 Σ &C"};
      execute(
          tcode({code[0].c_str(), code[1].c_str(), code[2].c_str(), code[3].c_str(), code[4].c_str(), code[5].c_str()}),
          {u"X", u"&V", u"&C"});
      ASSERT_FALSE(e.errorFlag()) << text::to_utf8(operand);
      const u16 expected = integer_text(var(u"X").Val1);
      EXPECT_EQ(var(u"&V").StrVal, expected) << text::to_utf8(operand);
      EXPECT_EQ(var(u"&C").StrVal, expected) << text::to_utf8(operand);
    }
}

// The search every line selector makes, against the library's find: texts
// and parts of every length up to 40 over a three-letter alphabet (so
// near-misses of the first two characters are common), with the part
// placed at every position, past the eight-at-a-time blocks' edges, and at
// the very end of a text held in a larger buffer (loads must not match
// what lies beyond the text).
TEST(Search, NeedleAgreesWithFindForEveryLengthAndPlace) {
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  const char16_t alphabet[] = {u'|', u'a', u'\u3042'};
  auto random_text = [&](std::size_t n) {
    u16 s;
    for (std::size_t i = 0; i < n; ++i) s += alphabet[(next() >> 16) % 3];
    return s;
  };
  long matches = 0, checks = 0;
  for (std::size_t n = 0; n <= 40; ++n) {
    for (std::size_t m = 0; m <= 12 && m <= n + 1; ++m) {
      for (int round = 0; round < 30; ++round) {
        u16 text = random_text(n);
        const u16 part = random_text(m);
        if (round % 3 == 0 && m <= n) text.replace((next() >> 8) % (n - m + 1), m, part);  // planted
        // The text is the front of a buffer whose rest could complete the part.
        const u16 buffer = text + part + part;
        const u16view view(buffer.data(), text.size());
        const bool expected = view.find(part) != u16view::npos;
        EXPECT_EQ(Needle(part).in(view), expected) << "n=" << n << " m=" << m << " round=" << round;
        EXPECT_EQ(contains(view, part), expected);
        matches += expected;
        ++checks;
      }
    }
  }
  EXPECT_GT(matches, checks / 4);  // both outcomes well represented
  EXPECT_LT(matches, checks - checks / 4);
}

// Short texts ending right before an unreadable page: a search that read
// past the text's page would fault here. Every text of up to eight
// characters at every place near the page's end, with the part at its end,
// at its start and absent.
TEST(Search, NeedleNeverReadsIntoTheNextPage) {
  const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
  void *mem = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mem, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char *>(mem) + page, page, PROT_NONE), 0);
  char16_t *end = reinterpret_cast<char16_t *>(static_cast<char *>(mem) + page);
  const u16 part = u"|k|";
  int found = 0;
  for (std::size_t n = 0; n <= 8; ++n) {
    for (std::size_t gap = 0; gap <= 8; ++gap) {  // characters between the text and the page's end
      char16_t *p = end - gap - n;
      for (std::size_t i = 0; i < n; ++i) p[i] = u'a';
      const u16view text(p, n);
      EXPECT_FALSE(Needle(part).in(text)) << n << " " << gap;
      if (n >= part.size()) {
        std::copy(part.begin(), part.end(), p + n - part.size());
        EXPECT_TRUE(Needle(part).in(text)) << n << " " << gap;
        std::copy(part.begin(), part.end(), p);
        EXPECT_TRUE(Needle(part).in(text)) << n << " " << gap;
        found += 2;
      }
    }
  }
  EXPECT_EQ(found, 6 * 9 * 2);
  munmap(mem, 2 * page);
}

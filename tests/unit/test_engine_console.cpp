#include "tests/unit/engine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {
class Console : public velmora::testing::EngineTest {
 protected:
  const Lines &exec(const Lines &code, const Lines &vars = {}) {
    load(code, vars);
    run();
    return e.console().lines();
  }
};
}  // namespace

TEST_F(Console, OpenNumberNewLineNumber) {
  EXPECT_EQ(exec(tcode({u"751 ?? OPEN", u"752 ?? Δ 1", u"751 ?? CRLF", u"752 ?? Δ 2"})), (Lines{u"\r1", u"\r2"}));
}

TEST_F(Console, MatrixLayoutAfterClear) {
  EXPECT_EQ(exec(tcode({u"751 ?? CLEAR", u"120 MATRIX □ %M [ Δ 2 , Δ 2 ]", u"005 Δ 1", u"122 □ %M [ Δ 0 , Δ 0 ]",
                        u"005 xN 2", u"122 □ %M [ Δ 0 , Δ 1 ]", u"005 Δ 3", u"122 □ %M [ Δ 1 , Δ 0 ]", u"005 Δ 4",
                        u"122 □ %M [ Δ 1 , Δ 1 ]", u"752 ?? □ %M"}),
                 {u"%M"}),
            (Lines{u" 1 -2 ", u"\r 3  4 ", u"\r"}));
}

TEST_F(Console, ReadingTheConsoleAfterClearGivesOneEmptyLine) {
  exec(tcode({u"751 ?? CLEAR", u"368 [$]", u"321 Σ &L []"}), {u"&L"});
  EXPECT_EQ(e.variables()[e.variables().find(0, u"&L")].StrList, Lines{u""});
}

TEST_F(Console, EchoRoundsToEvenAndIgnoresStrings) {
  EXPECT_EQ(exec(tcode({u"755 ?? ECHO Δ 66.5", u"755 ?? ECHO Δ 67.5", u"755 ?? ECHO Ω \"A\""})), Lines{u"\rBD"});
}

TEST_F(Console, ValuesStringsFormatsAndLists) {
  const Lines &out =
      exec(tcode({u"752 ?? Ω \"x=\"", u"005 Δ 1", u"003 / Δ 1 Δ 3", u"761 ?? ( )", u"751 ?? /",
                  u"763 ?? Δ 1234.5 : Ω \"#,##0.0\"", u"311 Ω \" ok\"", u"760 ??", u"301 Σ &L [] += Ω \"a\"",
                  u"301 Σ &L [] += Ω \"b\"", u"759 ??? Σ &L", u"330 Σ &L []", u"759"}),
           {u"&L"});
  EXPECT_EQ(out, (Lines{u"\rx=0.333333333333333", u"\r1,234.5 ok", u"a", u"b", u"a", u"b"}));
}

TEST(ConsoleBuffer, ClearAndResetGiveTheMemoryOfALongConsoleBack) {
  ConsoleBuffer c;
  for (int i = 0; i < 100000; ++i) c.addLine(u"line");
  EXPECT_GE(c.lines().capacity(), 100000u);
  c.clear();
  EXPECT_EQ(c.lines(), Lines{u""});
  EXPECT_LT(c.lines().capacity(), 16u);
  for (int i = 0; i < 100000; ++i) c.addLine(u"line");
  c.reset();
  EXPECT_EQ(c.lines(), Lines{u"\r"});
  EXPECT_LT(c.lines().capacity(), 16u);
}

#include <gtest/gtest.h>

#include "environment/environment.h"
#include "environment/monitor.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;

TEST(Monitor, RegistersGridsAndVariables) {
  velmora::testing::TempDir home;
  velmora::testing::ScriptedUi ui;
  Environment env(home.path(), ui);
  env.tabs.loadLines({u"SHARE S;", u"X = 2.5; S = 1; &E[] . CLEAR; &T = \"txt\"; SET $V = 1, 2, 3;",
                      u"MATRIX %M[2, 3];", u"FUNCTION F;", u"ENDFUNC"},
                     ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.workspace.newProgram();
  env.tabs.setLines(1, {u"Y = 1;"});
  env.tabs.activate(1);
  // Slots 0 and 3: the grid numbers its rows without gaps.
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  ASSERT_EQ(env.compileDriver.registerAgain(), 2);
  ASSERT_EQ(env.compileDriver.registerAgain(), 3);
  env.compileDriver.releaseSlot(1);
  env.compileDriver.releaseSlot(2);
  ASSERT_EQ(env.runAll(), RunResult::Ended);

  Lines regs = task_registers(env.engine(), 0);
  ASSERT_EQ(regs.size(), 15u);
  EXPECT_EQ(regs[0].substr(0, 14), u"TASK  0 / EXEC");
  EXPECT_EQ(regs[2], u"BOOL    FALSE");
  EXPECT_EQ(regs[10], u"WAIT    -------");
  EXPECT_EQ(regs[12], u"OPE  1  0.000");

  auto grid = task_grid(env.engine());
  ASSERT_EQ(grid.size(), 2u);
  EXPECT_EQ(grid[0][0], u"終了");

  Lines vars = variable_list(env.engine(), 0, u"");
  auto has = [&](const u16 &line) { return std::find(vars.begin(), vars.end(), line) != vars.end(); };
  EXPECT_TRUE(has(u"0:X/Num/2.500")) << text::to_utf8(vars[1]);
  EXPECT_TRUE(has(u"0:&E/Str/"));  // a list without lines shows as a string
  EXPECT_TRUE(has(u"0:&T/Str/txt"));
  EXPECT_TRUE(has(u"0:$V/Vct/(1.000,2.000,3.000)"));
  EXPECT_TRUE(has(u"0:%M/Mat/R[ 2 ] C[ 3 ]"));
  EXPECT_TRUE(has(u"0:F/Fun/00003"));
  Lines all = variable_list(env.engine(), -1, u"");
  EXPECT_NE(std::find(all.begin(), all.end(), u"%0:S/Num/1.000"), all.end());  // shared: "%" + owner
  EXPECT_TRUE(timer_grid(env.engine()).empty());
  // Timer and handler names show without the quotes they were written with.
  env.workspace.closeAllTabs();
  env.tabs.loadLines({u"FUNCTION TICK;", u"  INTRET;", u"ENDFUNC", u"TIMER \"T\", SET, 5, \"TICK\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  ASSERT_EQ(env.runAll(), RunResult::Ended);
  ASSERT_EQ(timer_grid(env.engine()).size(), 1u);
  EXPECT_EQ(timer_grid(env.engine())[0][0], u"T");
  EXPECT_EQ(timer_grid(env.engine())[0][4], u"TICK");
}

TEST(Monitor, VariableLinesSplitIntoTheFourGridColumns) {
  struct Case {
    u16 line, owner, name, type, content;
  };
  const Case cases[] = {
      {u"0:(* 停止行 *)/Stp/3", u"0", u"(* 停止行 *)", u"Stp", u"3"},
      {u"0:F/Fun/4", u"0", u"F", u"Fun", u"4"},
      {u"%1:S/Num/1.000", u"%1", u"S", u"Num", u"1.000"},
      {u"0:&T/Str/a/Num/b", u"0", u"&T", u"Str", u"a/Num/b"},  // a tag inside the content stays content
      {u"0:$V/Vct/(1.000,2.000,3.000)", u"0", u"$V", u"Vct", u"(1.000,2.000,3.000)"},
      {u"0:%M/Mat/R[ 2 ] C[ 3 ]", u"0", u"%M", u"Mat", u"R[ 2 ] C[ 3 ]"},
      {u"0:&E/Str/", u"0", u"&E", u"Str", u""},
      {u"no colon", u"", u"no colon", u"", u""},
  };
  for (const Case &c : cases) {
    const VariableCells v = variable_cells(c.line);
    EXPECT_EQ(v.owner, c.owner) << text::to_utf8(c.line);
    EXPECT_EQ(v.name, c.name) << text::to_utf8(c.line);
    EXPECT_EQ(v.type, c.type) << text::to_utf8(c.line);
    EXPECT_EQ(v.content, c.content) << text::to_utf8(c.line);
  }
}

TEST(Monitor, MonochromeShowsEveryColourAsItsGrey) {
  Settings s;
  EXPECT_EQ(s.shownColour(0xA02800), 0xA02800);
  s.monochrome = true;
  EXPECT_EQ(s.shownColour(0xFFFFFF), 0xFFFFFF);
  EXPECT_EQ(s.shownColour(0x000000), 0x000000);
  EXPECT_EQ(s.shownColour(0xFF0000), 0x4C4C4C);  // 0.299 * 255
  EXPECT_EQ(s.shownColour(0x00FF00), 0x969696);  // 0.587 * 255
  EXPECT_EQ(s.shownColour(0x0000FF), 0x1D1D1D);  // 0.114 * 255
  // Colours of equal brightness become the same grey.
  const int g = s.shownColour(0x0000A0);
  EXPECT_EQ((g >> 16) & 0xFF, g & 0xFF);
  EXPECT_EQ((g >> 8) & 0xFF, g & 0xFF);
}

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
  ASSERT_EQ(env.mnCOMPILEClick(), 0);
  env.newProgram();
  env.tabs.tabs[1].lines = {u"Y = 1;"};
  env.tabs.active = 1;
  // Slots 0 and 3: the grid numbers its rows without gaps.
  ASSERT_EQ(env.mnCOMPILEClick(), 1);
  ASSERT_EQ(env.AddTaskButtonClick(), 2);
  ASSERT_EQ(env.AddTaskButtonClick(), 3);
  env.DelTaskButtonClick(1);
  env.DelTaskButtonClick(2);
  ASSERT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);

  Lines regs = task_registers(env.engine, 0);
  ASSERT_EQ(regs.size(), 15u);
  EXPECT_EQ(regs[0].substr(0, 14), u"TASK  0 / EXEC");
  EXPECT_EQ(regs[2], u"BOOL    FALSE");
  EXPECT_EQ(regs[10], u"WAIT    -------");
  EXPECT_EQ(regs[12], u"OPE  1  0.000");

  auto grid = task_grid(env.engine);
  ASSERT_EQ(grid.size(), 2u);
  EXPECT_EQ(grid[0][0], u"終了");

  Lines vars = variable_list(env.engine, 0, u"");
  auto has = [&](const u16 &line) { return std::find(vars.begin(), vars.end(), line) != vars.end(); };
  EXPECT_TRUE(has(u"0:X/Num/2.500")) << to_utf8(vars[1]);
  EXPECT_TRUE(has(u"0:&E/Str/"));  // a list without lines shows as a string
  EXPECT_TRUE(has(u"0:&T/Str/txt"));
  EXPECT_TRUE(has(u"0:$V/Vct/(1.000,2.000,3.000)"));
  EXPECT_TRUE(has(u"0:%M/Mat/R[ 2 ] C[ 3 ]"));
  EXPECT_TRUE(has(u"0:F/Fun/00003"));
  Lines all = variable_list(env.engine, -1, u"");
  EXPECT_NE(std::find(all.begin(), all.end(), u"%0:S/Num/1.000"), all.end());  // shared: "%" + owner
  EXPECT_TRUE(timer_grid(env.engine).empty());
  // Timer and handler names show without the quotes they were written with.
  env.engine.timers[0].name = u"\"T\"";
  env.engine.timers[0].handler = u"\"TICK\"";
  env.engine.timers[0].state = engine::TTimerInfo::Set;
  ASSERT_EQ(timer_grid(env.engine).size(), 1u);
  EXPECT_EQ(timer_grid(env.engine)[0][0], u"T");
  EXPECT_EQ(timer_grid(env.engine)[0][4], u"TICK");
}

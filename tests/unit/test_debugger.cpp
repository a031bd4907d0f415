#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::TempDir;

namespace {

// Records every hold and answers it: continue, or step a line first.
struct DebugUi : velmora::testing::ScriptedUi {
  Environment *env = nullptr;
  Lines held;
  int stepsLeft = 0;
  void breakpointHeld(int slot, u16view line) override {
    held.push_back(int16(slot) + u":" + u16(line));
    if (stepsLeft > 0) {
      --stepsLeft;
      env->StepExecOneLineButtonClick();
    } else {
      env->continueFromBreak();
    }
  }
};

class Debugger : public ::testing::Test {
 protected:
  TempDir home;
  DebugUi ui;
  Environment env{home.path(), ui};
  void SetUp() override {
    ui.env = &env;
    env.tabs.loadLines({u"A = 1;", u"// no code here", u"B = 2;", u"C = 3;", u"??C;"}, ui);
    ASSERT_EQ(env.mnCOMPILEClick(), 0);
  }
};

}  // namespace

TEST_F(Debugger, AStopBreakpointHoldsTheTaskAndCountsItsHits) {
  ASSERT_TRUE(env.addBreakpoint(0, 2));
  EXPECT_FALSE(env.addBreakpoint(0, 2));  // the line already has its break
  EXPECT_FALSE(env.addBreakpoint(0, 1));  // a line without code
  EXPECT_TRUE(env.isBreakpoint(0, 2));
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_EQ(ui.held, Lines{u"0:00002"});
  EXPECT_EQ(env.breakpoint(0)->hits, 1);
  EXPECT_EQ(env.haltCount, 1);
  EXPECT_EQ(ui.console.back(), u"\r3");  // the run went on after the hold
  // A second run starts counting again.
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_EQ(env.breakpoint(0)->hits, 1);
}

TEST_F(Debugger, AGoBreakpointPassesWithoutHolding) {
  ASSERT_TRUE(env.addBreakpoint(0, 2));
  env.breakpoint(0)->condition = u"GO";
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_TRUE(ui.held.empty());
  EXPECT_EQ(ui.console.back(), u"\r3");
}

TEST_F(Debugger, LineSteppingHoldsAgainAtEachNewLine) {
  ASSERT_TRUE(env.addBreakpoint(0, 0));
  ui.stepsLeft = 2;
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_EQ(ui.held, (Lines{u"0:00000", u"0:00002", u"0:00003"}));
}

TEST_F(Debugger, RecompilingRemovesTheSlotsBreakpoints) {
  ASSERT_TRUE(env.addBreakpoint(0, 3));
  EXPECT_EQ(env.breakpointCount(), 1);
  ASSERT_EQ(env.mnCOMPILEClick(), 0);  // replace: Yes
  EXPECT_EQ(env.breakpointCount(), 0);
  for (const auto &r : env.engine.lists[std::size_t(env.engine.tasks[0].PcodeListNo)])
    EXPECT_NE(r.kind, engine::kKindBreakpoint);
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_TRUE(ui.held.empty());
}

TEST_F(Debugger, TheTableHoldsAtMostAHundred) {
  env.breakpointsCreated = 100;
  EXPECT_FALSE(env.addBreakpoint(0, 0));
  EXPECT_EQ(ui.messages.back(), u"これ以上ブレークポイントを追加できません");
  env.clearBreakpoints();
  EXPECT_TRUE(env.addBreakpoint(0, 0));
}

TEST_F(Debugger, StarStepsATaskALineAtATimeOutsideARun) {
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.stepping);
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.stepTaskLine(0));
  const int b = env.engine.vars.find(0, u"B");  // line 2 ran, line 3 not yet
  ASSERT_GE(b, 0);
  EXPECT_EQ(env.engine.vars[b].Val1, 2);
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_EQ(ui.held, (Lines{u"0:00000", u"0:00002", u"0:00003", u"0:00004", u"0:00004"}));
  EXPECT_FALSE(env.stepping);  // the task ended
  EXPECT_EQ(ui.console.back(), u"\r3");

  // Refusals: no program, and any breakpoint.
  EXPECT_FALSE(env.stepTaskLine(5));
  EXPECT_EQ(ui.messages.back(), u"プログラムなし");
  ASSERT_TRUE(env.addBreakpoint(0, 2));
  EXPECT_FALSE(env.stepTaskLine(0));
  EXPECT_EQ(ui.messages.back(), u"ブレークポイント設定中はステップ実行不可");
  EXPECT_FALSE(env.stepTaskLine(-1));
  EXPECT_EQ(ui.messages.back(), u"プログラムを選ぶ");
}

TEST_F(Debugger, RecompilingOrRunningEndsStepping) {
  ASSERT_TRUE(env.stepTaskLine(0));
  ASSERT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.engine.running);
  ui.answers = {Answer::Yes};  // replace the slot's code
  ASSERT_EQ(env.mnCOMPILEClick(), 0);
  EXPECT_FALSE(env.stepping);
  EXPECT_FALSE(env.engine.running);
  ASSERT_TRUE(env.stepTaskLine(0));
  EXPECT_EQ(ui.held.back(), u"0:00000");  // from the top again

  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_FALSE(env.stepping);
  EXPECT_EQ(ui.console.back(), u"\r3");
}

TEST_F(Debugger, RemovingOneBreakpointKeepsTheOthersWorking) {
  ASSERT_TRUE(env.addBreakpoint(0, 0));
  ASSERT_TRUE(env.addBreakpoint(0, 2));
  ASSERT_TRUE(env.addBreakpoint(0, 3));
  EXPECT_FALSE(env.removeBreakpoint(0, 1));  // no breakpoint there
  EXPECT_TRUE(env.removeBreakpoint(0, 0));
  EXPECT_FALSE(env.isBreakpoint(0, 0));
  EXPECT_EQ(env.breakpointCount(), 2);
  // The rows still point at their break records, which moved back by one.
  const engine::PcodeList &list = env.engine.lists[std::size_t(env.engine.tasks[0].PcodeListNo)];
  int breaks = 0;
  for (const auto &r : list) breaks += r.kind == engine::kKindBreakpoint;
  EXPECT_EQ(breaks, 2);
  for (const Breakpoint &b : env.breakpoints) {
    if (!b.used) continue;
    EXPECT_EQ(list[std::size_t(b.pcode)].kind, engine::kKindBreakpoint) << b.line;
  }
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_EQ(ui.held, (Lines{u"0:00002", u"0:00003"}));
  EXPECT_EQ(ui.console.back(), u"\r3");
  // A second time on the same line is refused, and adding it back works.
  EXPECT_FALSE(env.removeBreakpoint(0, 0));
  EXPECT_TRUE(env.addBreakpoint(0, 0));
}

TEST_F(Debugger, TheTablePopUpSetsConditionsAndGoRowsCountTheirPasses) {
  env.tabs.tabs[std::size_t(env.tabs.active)].lines = {u"FOR I = 1 TO 3 DO", u"A = I;", u"B = I;", u"END;"};
  ASSERT_EQ(env.mnCOMPILEClick(), 0);
  ASSERT_TRUE(env.addBreakpoint(0, 1));
  ASSERT_TRUE(env.addBreakpoint(0, 2));
  EXPECT_EQ(env.breakpointCells(0), (std::array<u16, 7>{u"0", u"01", u"1", env.breakpointCells(0)[3], u"STOP", u"", u"0"}));
  EXPECT_EQ(env.breakpointCells(5), (std::array<u16, 7>{}));  // a free row
  EXPECT_TRUE(env.setBreakpointCondition(0, u"GO"));
  EXPECT_FALSE(env.setBreakpointCondition(5, u"GO"));    // a free row
  EXPECT_FALSE(env.setBreakpointCondition(1, u"WAIT"));  // no such condition
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  // Row 0 passed three times without holding; row 1 held three times.
  EXPECT_EQ(ui.held, (Lines{u"0:00002", u"0:00002", u"0:00002"}));
  EXPECT_EQ(env.breakpointCells(0)[4], u"GO");
  EXPECT_EQ(env.breakpointCells(0)[6], u"3");
  EXPECT_EQ(env.breakpointCells(1)[6], u"3");
  EXPECT_EQ(env.haltCount, 3);
  EXPECT_TRUE(env.setBreakpointCondition(0, u"STOP"));
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_EQ(ui.held.size(), 9u);
  EXPECT_EQ(env.haltCount, 6);
}

TEST_F(Debugger, ATaskStoppedByAnotherAfterPassingAGoBreakStaysStopped) {
  env.tabs.tabs[std::size_t(env.tabs.active)].lines = {u"A = 1;", u"WAIT 3;", u"??\"restarted\";"};
  ASSERT_EQ(env.mnCOMPILEClick(), 0);
  ASSERT_TRUE(env.addBreakpoint(0, 0));
  ASSERT_TRUE(env.setBreakpointCondition(0, u"GO"));
  env.tabs.loadLines({u"WAIT 1;", u"[#1].STOP;", u"WAIT 6;"}, ui);
  ASSERT_EQ(env.mnCOMPILEClick(), 1);
  env.settings.TaskActAsOneCheckBox = true;  // slot 02's end ends the run
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"restarted"), u16::npos) << to_utf8(line);
  EXPECT_EQ(env.breakpoint(0)->hits, 1);
  EXPECT_TRUE(ui.held.empty());
}

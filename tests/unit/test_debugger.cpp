#include <gtest/gtest.h>

#include <functional>

#include "environment/environment.h"
#include "environment/monitor.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

// Records every hold and answers it: continue, or step a line first.
struct DebugUi : velmora::testing::ScriptedUi {
  Environment *env = nullptr;
  Lines held;
  int stepsLeft = 0;
  std::function<void()> onHold;  // runs at the first hold, instead of continuing
  void breakpointHeld(int slot, u16view line) override {
    held.push_back(text::int16(slot) + u":" + u16(line));
    if (onHold) {
      auto f = std::move(onHold);
      onHold = nullptr;
      f();
    } else if (stepsLeft > 0) {
      --stepsLeft;
      env->debugger.requestLineStep();
    } else {
      env->debugger.continueFromBreak();
    }
  }
};

class Debugging : public ::testing::Test {
 protected:
  TempDir home;
  DebugUi ui;
  Environment env{home.path(), ui};
  void SetUp() override {
    ui.env = &env;
    env.tabs.loadLines({u"A = 1;", u"// no code here", u"B = 2;", u"C = 3;", u"??C;"}, ui);
    ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  }
};

}  // namespace

TEST_F(Debugging, AStopBreakpointHoldsTheTaskAndCountsItsHits) {
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 2));
  EXPECT_FALSE(env.debugger.addBreakpoint(0, 2));  // the line already has its break
  EXPECT_FALSE(env.debugger.addBreakpoint(0, 1));  // a line without code
  EXPECT_TRUE(env.debugger.isBreakpoint(0, 2));
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held, Lines{u"0:00002"});
  EXPECT_EQ(env.debugger.numbered(0)->hits, 1);
  EXPECT_EQ(env.debugger.haltCount(), 1);
  EXPECT_EQ(ui.console.back(), u"\r3");  // the run went on after the hold
  // A second run starts counting again.
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(env.debugger.numbered(0)->hits, 1);
}

TEST_F(Debugging, AGoBreakpointPassesWithoutHolding) {
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 2));
  ASSERT_TRUE(env.debugger.setBreakpointCondition(0, u"GO"));
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_TRUE(ui.held.empty());
  EXPECT_EQ(ui.console.back(), u"\r3");
}

TEST_F(Debugging, LineSteppingHoldsAgainAtEachNewLine) {
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 0));
  ui.stepsLeft = 2;
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held, (Lines{u"0:00000", u"0:00002", u"0:00003"}));
}

TEST_F(Debugging, RecompilingRemovesTheSlotsBreakpoints) {
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 3));
  EXPECT_EQ(env.debugger.breakpointCount(), 1);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);  // replace: Yes
  EXPECT_EQ(env.debugger.breakpointCount(), 0);
  for (const auto &r : env.engine().slotList(0)) EXPECT_NE(r.kind, engine::kKindBreakpoint);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_TRUE(ui.held.empty());
}

TEST_F(Debugging, TheTableHoldsAtMostAHundred) {
  // Every breakpoint made counts, also those removed again.
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(env.debugger.addBreakpoint(0, 0));
    ASSERT_TRUE(env.debugger.removeBreakpoint(0, 0));
  }
  EXPECT_FALSE(env.debugger.addBreakpoint(0, 0));
  EXPECT_EQ(ui.messages.back(), u"これ以上ブレークポイントを追加できません");
  env.debugger.clearBreakpoints();
  EXPECT_TRUE(env.debugger.addBreakpoint(0, 0));
}

TEST_F(Debugging, StarStepsATaskALineAtATimeOutsideARun) {
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.stepping());
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.stepTaskLine(0));
  const int b = env.engine().variables().find(0, u"B");  // line 2 ran, line 3 not yet
  ASSERT_GE(b, 0);
  EXPECT_EQ(env.engine().variables()[b].Val1, 2);
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.stepTaskLine(0));
  EXPECT_EQ(ui.held, (Lines{u"0:00000", u"0:00002", u"0:00003", u"0:00004", u"0:00004"}));
  EXPECT_FALSE(env.stepping());  // the task ended
  EXPECT_EQ(ui.console.back(), u"\r3");

  // Refusals: no program, and any breakpoint.
  EXPECT_FALSE(env.stepTaskLine(5));
  EXPECT_EQ(ui.messages.back(), u"プログラムなし");
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 2));
  EXPECT_FALSE(env.stepTaskLine(0));
  EXPECT_EQ(ui.messages.back(), u"ブレークポイント設定中はステップ実行不可");
  EXPECT_FALSE(env.stepTaskLine(-1));
  EXPECT_EQ(ui.messages.back(), u"プログラムを選ぶ");
}

TEST_F(Debugging, RecompilingOrRunningEndsStepping) {
  ASSERT_TRUE(env.stepTaskLine(0));
  ASSERT_TRUE(env.stepTaskLine(0));
  EXPECT_TRUE(env.engine().running());
  ui.answers = {Answer::Yes};  // replace the slot's code
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_FALSE(env.stepping());
  EXPECT_FALSE(env.engine().running());
  ASSERT_TRUE(env.stepTaskLine(0));
  EXPECT_EQ(ui.held.back(), u"0:00000");  // from the top again

  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_FALSE(env.stepping());
  EXPECT_EQ(ui.console.back(), u"\r3");
}

// Break records come and go while a task is held; every position into the
// list must keep pointing at the same instruction.
class HeldEdits : public ::testing::Test {
 protected:
  TempDir home;
  DebugUi ui;
  Environment env{home.path(), ui};
  void SetUp() override { ui.env = &env; }
  void compile(const Lines &program) {
    env.tabs.loadLines(program, ui);
    ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  }
  const engine::PcodeList &list() { return env.engine().slotList(0); }
  // The record a position names, as text: kind and source line.
  u16 at(int position) {
    const engine::TPEXE &r = list()[std::size_t(position)];
    return text::int16(r.kind) + u"@" + r.Param[10];
  }
};

TEST_F(HeldEdits, RemovingAllBreakpointsDuringAHoldResumesAtTheHeldLine) {
  compile({u"A = 1;", u"B = 2;", u"??B;"});
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 1));
  ui.onHold = [&] { env.debugger.clearBreakpoints(); };
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held, Lines{u"0:00001"});
  EXPECT_EQ(ui.console.back(), u"\r2");  // B = 2 ran after the hold
}

TEST_F(HeldEdits, ReturnAddressesFollowRecordsAddedAndRemovedInsideAFunction) {
  compile({u"FUNCTION F;", u"  X = X + 1;", u"ENDFUNC", u"X = 0;", u"CALL F;", u"??X;", u"??\"end\";"});
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 1));
  u16 returnsTo;
  ui.onHold = [&] {
    const engine::TTaskInfo &t = env.engine().task(0);
    ASSERT_EQ(t.STACKP, 0);
    returnsTo = at(env.engine().callStack(0)[0]);
    ASSERT_TRUE(env.debugger.addBreakpoint(0, 3));  // before the call: the address moves
    EXPECT_EQ(at(env.engine().callStack(0)[0]), returnsTo);
    env.debugger.clearBreakpoints();
    EXPECT_EQ(at(env.engine().callStack(0)[0]), returnsTo);
  };
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held, Lines{u"0:00001"});
  EXPECT_EQ(ui.console.back(), u"\r1end");
}

TEST_F(HeldEdits, TheInterruptedTaskAndTimerHandlersFollowRecordsAddedAndRemoved) {
  compile({u"FUNCTION TICK;", u"  N += 1;", u"  INTRET;", u"ENDFUNC", u"N = 0;", u"TIMER \"T\", SET, 1, \"TICK\";",
           u"TIMER \"T\", START;", u"WHILE N < 2 DO WAIT 1; END", u"TIMER \"T\", CANCEL;", u"??N;"});
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 1));
  ui.onHold = [&] {
    const engine::Engine &e = env.engine();
    ASSERT_TRUE(e.task(0).IntProcess);  // held inside the interrupt
    const u16 resumesAt = at(e.interruptShadow(0).INSTP);
    const int timer = e.task(0).TimerID;
    const u16 handler = at(e.timer(timer).handlerPos - 1);
    EXPECT_EQ(handler.substr(0, 3), u"-2@");        // the function's entry record
    ASSERT_TRUE(env.debugger.addBreakpoint(0, 0));  // before the handler and the loop
    ASSERT_TRUE(env.debugger.addBreakpoint(0, 4));
    EXPECT_EQ(at(e.interruptShadow(0).INSTP), resumesAt);
    EXPECT_EQ(at(e.timer(timer).handlerPos - 1), handler);
    env.debugger.clearBreakpoints();
    EXPECT_EQ(at(e.interruptShadow(0).INSTP), resumesAt);
    EXPECT_EQ(at(e.timer(timer).handlerPos - 1), handler);
  };
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held.size(), 1u);
  EXPECT_EQ(ui.console.back(), u"\r2");
}

TEST_F(Debugging, RemovingOneBreakpointKeepsTheOthersWorking) {
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 0));
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 2));
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 3));
  EXPECT_FALSE(env.debugger.removeBreakpoint(0, 1));  // no breakpoint there
  EXPECT_TRUE(env.debugger.removeBreakpoint(0, 0));
  EXPECT_FALSE(env.debugger.isBreakpoint(0, 0));
  EXPECT_EQ(env.debugger.breakpointCount(), 2);
  // The rows still point at their break records, which moved back by one.
  const engine::PcodeList &list = env.engine().slotList(0);
  int breaks = 0;
  for (const auto &r : list) breaks += r.kind == engine::kKindBreakpoint;
  EXPECT_EQ(breaks, 2);
  for (const Breakpoint &b : env.debugger.breakpoints()) {
    if (!b.used) continue;
    EXPECT_EQ(list[std::size_t(b.pcode)].kind, engine::kKindBreakpoint) << b.line;
  }
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held, (Lines{u"0:00002", u"0:00003"}));
  EXPECT_EQ(ui.console.back(), u"\r3");
  // A second time on the same line is refused, and adding it back works.
  EXPECT_FALSE(env.debugger.removeBreakpoint(0, 0));
  EXPECT_TRUE(env.debugger.addBreakpoint(0, 0));
}

TEST_F(Debugging, TheTablePopUpSetsConditionsAndGoRowsCountTheirPasses) {
  env.tabs.setLines(env.tabs.active(), {u"FOR I = 1 TO 3 DO", u"A = I;", u"B = I;", u"END;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 1));
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 2));
  EXPECT_EQ(env.debugger.breakpointCells(0),
            (std::array<u16, 7>{u"0", u"01", u"1", env.debugger.breakpointCells(0)[3], u"STOP", u"", u"0"}));
  EXPECT_EQ(env.debugger.breakpointCells(5), (std::array<u16, 7>{}));  // a free row
  EXPECT_TRUE(env.debugger.setBreakpointCondition(0, u"GO"));
  EXPECT_FALSE(env.debugger.setBreakpointCondition(5, u"GO"));    // a free row
  EXPECT_FALSE(env.debugger.setBreakpointCondition(1, u"WAIT"));  // no such condition
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  // Row 0 passed three times without holding; row 1 held three times.
  EXPECT_EQ(ui.held, (Lines{u"0:00002", u"0:00002", u"0:00002"}));
  EXPECT_EQ(env.debugger.breakpointCells(0)[4], u"GO");
  EXPECT_EQ(env.debugger.breakpointCells(0)[6], u"3");
  EXPECT_EQ(env.debugger.breakpointCells(1)[6], u"3");
  EXPECT_EQ(env.debugger.haltCount(), 3);
  EXPECT_TRUE(env.debugger.setBreakpointCondition(0, u"STOP"));
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.held.size(), 9u);
  EXPECT_EQ(env.debugger.haltCount(), 6);
}

TEST_F(Debugging, ATaskStoppedByAnotherAfterPassingAGoBreakStaysStopped) {
  env.tabs.setLines(env.tabs.active(), {u"A = 1;", u"WAIT 3;", u"??\"restarted\";"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 0));
  ASSERT_TRUE(env.debugger.setBreakpointCondition(0, u"GO"));
  env.tabs.loadLines({u"WAIT 1;", u"[#1].STOP;", u"WAIT 6;"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  set_setting(env, &environment::Settings::endAllWhenOneEnds, true);  // slot 02's end ends the run
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"restarted"), u16::npos) << text::to_utf8(line);
  EXPECT_EQ(env.debugger.numbered(0)->hits, 1);
  EXPECT_TRUE(ui.held.empty());
}

// While a task is held, the debugger's variables of another slot show that
// slot's own stop line and functions, never the held task's line (they
// used to show the held line of the other program).
TEST_F(Debugging, TheStopLineOfAnotherSlotIsItsOwn) {
  env.tabs.loadLines(
      {u"//", u"//", u"//", u"//", u"//", u"FUNCTION G;", u"ENDFUNC", u"K = 1;", u"WHILE K < 1000 DO K += 1; END"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 3));
  Lines other, held;
  ui.onHold = [&] {
    held = variable_list(env.engine(), 0, env.debugger.breakLine());
    other = variable_list(env.engine(), 1, u"");
    env.debugger.continueFromBreak();
  };
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  ASSERT_FALSE(held.empty());
  EXPECT_EQ(held[0], u"0:(* 停止行 *)/Stp/00003");
  ASSERT_GE(other.size(), 2u);
  EXPECT_NE(other[0], u"1:(* 停止行 *)/Stp/00003");
  EXPECT_EQ(other[0].substr(0, 16), u"1:(* 停止行 *)/Stp/");
  EXPECT_EQ(other[1], u"1:G/Fun/00005");  // slot 1's own function
}

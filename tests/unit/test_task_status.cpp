// The task status area's rules: registering the last compile again, freeing
// the selected slot, choosing a row of the status list.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::TempDir;

namespace {

class TaskStatus : public ::testing::Test {
 protected:
  TempDir home;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};
};

}  // namespace

TEST_F(TaskStatus, AddRegistersTheLastCompileForItsOwnTab) {
  EXPECT_EQ(env.compileDriver.registerAgain(), -1);  // nothing compiled yet
  const int first = env.tabs.loadLines({u"??\"A\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  EXPECT_EQ(env.compileDriver.selectedTask(), 0);
  // The tab changes and another tab comes to the front: "追加" still
  // registers what was compiled, under the tab it came from.
  env.tabs.setLines(first, {u"??\"changed\";"});
  const int second = env.tabs.loadLines({u"??\"B\";"}, ui);
  env.tabs.activate(second);
  ASSERT_EQ(env.compileDriver.registerAgain(), 1);
  EXPECT_EQ(env.compileDriver.selectedTask(), 1);
  EXPECT_EQ(env.engine().task(1).SrcIndex, first);
  EXPECT_EQ(env.engine().task(1).FileName, env.engine().task(0).FileName);
  EXPECT_EQ(env.compileDriver.compiledSource()[1], Lines{u"??\"A\";"});
  EXPECT_TRUE(env.tabChangedSinceCompile(first));
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.console.back(), u"\rAA");  // both copies ran
  // A failed compile leaves nothing to add.
  env.tabs.setLines(second, {u"B = 1 +;"});
  EXPECT_EQ(env.compileDriver.compileToFreeSlot(), -1);
  EXPECT_EQ(env.compileDriver.registerAgain(), -1);
}

TEST_F(TaskStatus, AddAfterItsTabClosedRegistersNothing) {
  const int tab = env.tabs.loadLines({u"A = 1;"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  ASSERT_TRUE(env.workspace.closeTab(tab));
  EXPECT_EQ(env.compileDriver.registerAgain(), -1);
  EXPECT_EQ(env.engine().registered(), 0);
  for (int s = 0; s < engine::kSlots; ++s) EXPECT_EQ(env.engine().task(s).state, engine::tsEMPTY);
}

TEST_F(TaskStatus, ChoosingARowSelectsTheSlotAndItsTab) {
  const int a = env.tabs.loadLines({u"A = 1;"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  const int b = env.tabs.loadLines({u"B = 1;"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 1);
  env.compileDriver.selectSlot(0);
  EXPECT_EQ(env.compileDriver.selectedTask(), 0);
  EXPECT_EQ(env.tabs.active(), a);
  env.compileDriver.selectSlot(1);
  EXPECT_EQ(env.tabs.active(), b);
  // A free slot is selected but leaves the tab alone; a row out of range is ignored.
  env.compileDriver.selectSlot(5);
  EXPECT_EQ(env.compileDriver.selectedTask(), 5);
  EXPECT_EQ(env.tabs.active(), b);
  env.compileDriver.selectSlot(10);
  EXPECT_EQ(env.compileDriver.selectedTask(), 5);
}

TEST_F(TaskStatus, DeleteFreesTheSelectedSlotWithItsBreakpoints) {
  env.tabs.loadLines({u"A = 1;", u"B = 2;"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  ASSERT_EQ(env.compileDriver.registerAgain(), 1);
  ASSERT_TRUE(env.debugger.addBreakpoint(0, 1));
  ASSERT_TRUE(env.debugger.addBreakpoint(1, 1));
  env.compileDriver.selectSlot(0);
  ASSERT_TRUE(env.compileDriver.deleteSelectedSlot());
  EXPECT_EQ(env.engine().task(0).state, engine::tsEMPTY);
  EXPECT_EQ(env.engine().task(0).PcodeListNo, -1);
  EXPECT_EQ(env.engine().task(1).state, engine::tsACTIVE);
  EXPECT_FALSE(env.debugger.isBreakpoint(0, 1));
  EXPECT_TRUE(env.debugger.isBreakpoint(1, 1));
  EXPECT_TRUE(env.compileDriver.compiledSource()[0].empty());
  EXPECT_FALSE(env.compileDriver.deleteSelectedSlot());  // already free
  env.compileDriver.clearTaskSelection();
  EXPECT_FALSE(env.compileDriver.deleteSelectedSlot());
  // The freed slot is the first free one again.
  EXPECT_EQ(env.compileDriver.registerAgain(), 0);
}

// A slot that takes no part in a run never ran: it keeps the state it had
// ("ｱｸﾃｨﾌﾞ（待機）") when a run of another slot ends, is stopped or fails,
// and when a registration is refused; it used to say "終了".
TEST_F(TaskStatus, SlotsThatTookNoPartInARunKeepTheirState) {
  const int a = env.tabs.loadLines({u"??\"A\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  const int b = env.tabs.loadLines({u"??\"B\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  const int c = env.tabs.loadLines({u"X = 0;", u"Y = 1 / X;"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 2);
  EXPECT_EQ(env.runToEnd(env.startTab(a)), RunResult::Ended);
  EXPECT_EQ(env.engine().task(0).state, engine::tsEND);
  EXPECT_EQ(env.engine().task(1).state, engine::tsACTIVE);
  EXPECT_EQ(env.compileDriver.taskStatusLine(1).rfind(u"02: : ｱｸﾃｨﾌﾞ（待機） #", 0), 0u);
  EXPECT_EQ(env.runToEnd(env.startTab(c)), RunResult::Error);  // a run-time error stops all of its run
  EXPECT_EQ(env.engine().task(1).state, engine::tsACTIVE);
  EXPECT_EQ(env.engine().task(2).state, engine::tsEND);
  // A slot forbidden in the permit list.
  env.runLoop.togglePermit(1);
  env.runLoop.togglePermit(2);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(env.engine().task(1).state, engine::tsACTIVE);
  // A refused registration stops nothing.
  env.tabs.activate(b);
  Lines ifs{u"X = 0;"};
  for (int i = 0; i < 400; ++i) ifs.push_back(u"IF X > 1 THEN X = 1; END");
  env.tabs.loadLines(ifs, ui);
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_EQ(env.engine().task(1).state, engine::tsACTIVE);
  EXPECT_FALSE(env.engine().errorFlag());
}

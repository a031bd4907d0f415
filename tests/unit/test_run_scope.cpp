// Running one tab's slot alone, the slots a run starts, and the source
// lines that compile and run-time errors point at.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

// Keeps the console as it stood when the error window came up.
struct ErrorUi : ScriptedUi {
  Lines consoleAtError;
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override {
    consoleAtError = console;
    ScriptedUi::showRunError(rows);
  }
};

class RunScope : public ::testing::Test {
 protected:
  TempDir home;
  ErrorUi ui;
  Environment env{home.path(), ui};

  int open(const Lines &program) { return env.tabs.loadLines(program, ui); }
  bool consoleHas(u16view text) const {
    for (const u16 &line : ui.console)
      if (line.find(text) != u16::npos) return true;
    return false;
  }
};

}  // namespace

TEST_F(RunScope, RunningATabRunsItsSlotAloneAndRecompilesAChangedTab) {
  int first = open({u"??\"first\";"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  int second = open({u"??\"second\";"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  EXPECT_EQ(env.slotsToRunCount(), 2);
  EXPECT_FALSE(env.tabChangedSinceCompile(first));

  EXPECT_EQ(env.runTab(first), RunResult::Ended);
  EXPECT_TRUE(consoleHas(u"first"));
  EXPECT_FALSE(consoleHas(u"second"));
  EXPECT_EQ(env.runLoop.onlySlot(), -1);  // the next "●" runs every permitted slot again
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_TRUE(consoleHas(u"first") && consoleHas(u"second"));

  // A changed tab is compiled again without the replace question; its slot
  // stays its own.
  env.tabs.setLines(second, {u"??\"changed\";"});
  EXPECT_TRUE(env.tabChangedSinceCompile(second));
  EXPECT_EQ(env.runTab(second), RunResult::Ended);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(env.slotOfTab(second), 1);
  EXPECT_TRUE(consoleHas(u"changed"));
  EXPECT_FALSE(consoleHas(u"first"));
  EXPECT_EQ(env.engine().registered(), 2);

  // A tab never compiled is compiled first; a failed compile runs nothing.
  int third = open({u"??\"third\";"});
  EXPECT_EQ(env.slotOfTab(third), -1);
  EXPECT_EQ(env.runTab(third), RunResult::Ended);
  EXPECT_EQ(env.slotOfTab(third), 2);
  EXPECT_TRUE(consoleHas(u"third"));
  env.tabs.setLines(third, {u"B = ;"});
  EXPECT_EQ(env.runTab(third), RunResult::NotStarted);
}

TEST_F(RunScope, TheSlotsToRunFollowThePermitsAndTheLoadedSlots) {
  open({u"A = 1;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  open({u"A = 2;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  env.runLoop.togglePermit(0);
  auto will = env.slotsToRun();
  EXPECT_FALSE(will[0]);
  EXPECT_TRUE(will[1]);
  EXPECT_FALSE(will[2]);  // permitted but empty
  EXPECT_EQ(env.slotsToRunCount(), 1);
  env.compileDriver.releaseSlot(1);
  EXPECT_EQ(env.slotsToRunCount(), 0);
  EXPECT_TRUE(env.compileDriver.compiledSource()[1].empty());
}

TEST_F(RunScope, AFailedCompileNamesItsTabLineAndMessage) {
  open({u"A = 1;"});
  int tab = open({u"A = 1;", u"C = 2;", u"B = 1 +;"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_EQ(env.compileDriver.compileError().tab, tab);
  EXPECT_EQ(env.compileDriver.compileError().line, 2);
  EXPECT_NE(env.compileDriver.compileError().message.find(u"MATH Syntax Error #[2]"), u16::npos);
  env.tabs.setLines(tab, {u"B = 1;"});
  EXPECT_EQ(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.compileDriver.compileError().tab, -1);  // a good compile clears the mark
}

TEST_F(RunScope, ARunTimeErrorNamesItsLineAndTheConsoleIsShownBeforeTheErrorWindow) {
  open({u"A = 1;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  int tab = open({u"??\"before\";", u"??CRLF;", u"A = 0;", u"B = 1 / A;"});
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 1);
  EXPECT_EQ(env.runAll(), RunResult::Error);
  EXPECT_EQ(env.runLoop.runError().tab, tab);
  EXPECT_EQ(env.runLoop.runError().line, 3);
  EXPECT_NE(env.runLoop.runError().message.find(u"計算エラー"), u16::npos);
  ASSERT_FALSE(ui.consoleAtError.empty());
  EXPECT_NE(ui.consoleAtError.back().find(u"計算エラー"), u16::npos);
  EXPECT_NE(ui.consoleAtError.front().find(u"before"), u16::npos);
  // The next run starts without the old mark.
  env.tabs.setLines(tab, {u"??1;"});
  EXPECT_EQ(env.runTab(tab), RunResult::Ended);
  EXPECT_EQ(env.runLoop.runError().tab, -1);
}

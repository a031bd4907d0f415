// The WAIT and TIMER time units of "タイマー性能" as a run uses them.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

// A clock that stands still until the test has looked at the engine between
// passes, and then moves a hundredth of a tenth of a second per reading.
using WatchingUi = velmora::testing::ScriptedUi;

class TimeUnits : public ::testing::Test {
 protected:
  TempDir home;
  WatchingUi ui;
  Environment env{home.path(), ui};
  double clock = 0, step = 0;
  void SetUp() override {
    env.setEngineClock([this] { return clock += step; });
  }
};

}  // namespace

TEST_F(TimeUnits, WaitLastsItsCountTimesTheWaitUnit) {
  env.tabs.loadLines({u"WAIT 5;", u"??\"done\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  for (auto [unit, tenths] : {std::pair{u16(u"100"), 5.0}, std::pair{u16(u"20"), 1.0}, std::pair{u16(u"500"), 25.0}}) {
    set_setting(env, &environment::Settings::waitTimeMs, unit);
    double waited = -1;
    ui.onPump = [&] {
      const engine::TTaskInfo &t = env.engine().task(0);
      if (t.WAIT && waited < 0) {
        waited = t.CANGO_TIME - clock;
        step = 0.01;
      }
    };
    step = 0;
    EXPECT_EQ(velmora::testing::drive(env, ui), RunResult::Ended);
    EXPECT_NEAR(waited, tenths, 1e-9) << text::to_utf8(unit);
    EXPECT_EQ(ui.console.back(), u"\rdone");
  }
}

TEST_F(TimeUnits, TimersFireAtTheirIntervalTimesTheTimerUnit) {
  env.tabs.loadLines(
      {u"FUNCTION TICK;", u"  N += 1;", u"  INTRET;", u"ENDFUNC", u"N = 0;", u"TIMER \"T\", SET, 2, \"TICK\";",
       u"TIMER \"T\", START;", u"WHILE N < 3 DO WAIT 1; END", u"TIMER \"T\", CANCEL;", u"??N;"},
      ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  for (auto [unit, tenths] : {std::pair{u16(u"100"), 2.0}, std::pair{u16(u"300"), 6.0}}) {
    set_setting(env, &environment::Settings::timerTimeMs, unit);
    double due = -1;
    ui.onPump = [&] {
      const engine::TTimerInfo &timer = env.engine().timer(0);
      if (timer.state == engine::TTimerInfo::Working && due < 0) {
        due = timer.nextTime - clock;
        step = 0.01;
      }
    };
    step = 0;
    EXPECT_EQ(velmora::testing::drive(env, ui), RunResult::Ended);
    EXPECT_NEAR(due, tenths, 1e-9) << text::to_utf8(unit);
    EXPECT_EQ(ui.console.back(), u"\r3");
  }
}

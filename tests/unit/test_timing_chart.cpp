// The timing chart of the monitor: pulses of the listed timers and the
// run, wait, stop and end lanes of the slots, sampled at the chart interval.
#include <gtest/gtest.h>

#include <algorithm>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

TEST(TimingChart, ColumnsShowFiringsAndLanes) {
  std::array<engine::TTaskInfo, engine::kSlots> tasks{};
  std::array<engine::TTimerInfo, engine::kTimers> timers{};
  TimingChart::Frame e;
  for (int s = 0; s < engine::kSlots; ++s) e.tasks[std::size_t(s)] = &tasks[std::size_t(s)];
  for (int i = 0; i < engine::kTimers; ++i) e.timers[std::size_t(i)] = &timers[std::size_t(i)];
  TimingChart chart;
  tasks[2].state = engine::tsACTIVE;
  tasks[2].Permit = 1;
  tasks[4].state = engine::tsACTIVE;  // loaded, not in the run
  tasks[4].Permit = 0;
  chart.sample(e);  // no timer yet
  engine::TTimerInfo &t = timers[3];
  t.name = u"\"TICK\"";
  t.state = engine::TTimerInfo::Working;
  chart.sample(e);  // listed, not fired
  t.fireCount = 1;
  tasks[2].WAIT = true;
  chart.sample(e);
  chart.sample(e);  // no new firing
  t.fireCount = 3;  // two firings between samples show as one pulse
  tasks[2].WAIT = false;
  tasks[2].state = engine::tsSTOP;
  chart.sample(e);
  t.fireCount = 0;  // set anew: no pulse
  tasks[2].state = engine::tsEND;
  chart.sample(e);

  ASSERT_EQ(chart.columns(), 6u);
  ASSERT_EQ(chart.timers().size(), 1u);
  EXPECT_EQ(chart.timers()[0].name, u"TICK");
  EXPECT_EQ(chart.timerText(0), u"__|_|_");  // the row starts where the timer was first seen
  EXPECT_EQ(chart.slotText(2), u"RRWWSE");
  EXPECT_EQ(chart.shownSlots(), std::vector<int>{2});
  EXPECT_EQ(chart.slotText(4), u"      ");

  // The oldest columns scroll away; every row keeps the same width.
  for (std::size_t i = 0; i < TimingChart::kColumns; ++i) chart.sample(e);
  EXPECT_EQ(chart.columns(), TimingChart::kColumns);
  EXPECT_EQ(chart.timerText(0).size(), TimingChart::kColumns);
  EXPECT_EQ(chart.slotText(2), u16(TimingChart::kColumns, u'E'));
  chart.clear();
  EXPECT_EQ(chart.columns(), 0u);
  EXPECT_TRUE(chart.timers().empty());
}

TEST(TimingChart, SamplingFollowsTheInterval) {
  engine::Engine e;
  TimingChart chart;
  EXPECT_TRUE(chart.sampleIfDue(e, 0, 20));
  EXPECT_FALSE(chart.sampleIfDue(e, 19.5, 20));
  EXPECT_TRUE(chart.sampleIfDue(e, 20, 20));
  EXPECT_TRUE(chart.sampleIfDue(e, 41, 20));
  EXPECT_EQ(chart.columns(), 3u);
}

TEST(TimingChart, ARunDrawsItOnlyWithTheOptionOn) {
  TempDir home;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};
  env.tabs.loadLines(
      {u"FUNCTION TICK;", u"  N += 1;", u"  INTRET;", u"ENDFUNC", u"N = 0;", u"TIMER \"T\", SET, 1, \"TICK\";",
       u"TIMER \"T\", START;", u"WHILE N < 4 DO WAIT 1; END", u"TIMER \"T\", CANCEL;", u"??N;"},
      ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  set_setting(env, &environment::Settings::timerTimeMs, u"20");
  set_setting(env, &environment::Settings::waitTimeMs, u"1");
  ASSERT_FALSE(env.settings().drawEventChart);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(env.runLoop.chart().columns(), 0u);

  set_setting(env, &environment::Settings::drawEventChart, true);
  set_setting(env, &environment::Settings::chartTimeMs, u"2");
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.console.back(), u"\r4");
  ASSERT_EQ(env.runLoop.chart().timers().size(), 1u);
  const u16 pulses = env.runLoop.chart().timerText(0);
  const auto fired = std::count(pulses.begin(), pulses.end(), u'|');
  // Four firings 20 ms apart, sampled every 2 ms: each in a column of its own.
  EXPECT_GE(fired, 3);
  EXPECT_LE(fired, 4);
  const u16 lane = env.runLoop.chart().slotText(0);
  EXPECT_NE(lane.find(u'W'), u16::npos);
  EXPECT_EQ(lane.back(), u'E');
  EXPECT_EQ(env.runLoop.chart().shownSlots(), std::vector<int>{0});
  // About 80 ms of run at 2 ms: far fewer columns than passes, more than firings.
  EXPECT_GT(env.runLoop.chart().columns(), 10u);
  EXPECT_LT(env.runLoop.chart().columns(), 400u);
}

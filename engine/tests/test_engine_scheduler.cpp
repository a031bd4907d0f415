#include <chrono>

#include "engine/tests/machine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

// Code 070 has no handler of its own; the tests give it one that records
// which task executed which probe (Param[1] holds field 3: "070 - - TAG").
std::vector<std::pair<int, u16>> g_trace;

void probe(Machine &e, TTaskInfo &, const TPEXE &r) { g_trace.emplace_back(e.current, r.Param[1]); }

class Scheduler : public velmora::testing::MachineTest {
 protected:
  double fakeTime = 0;
  void SetUp() override {
    g_trace.clear();
    e.setHandler(70, probe);
  }
  void useFakeClock() {
    e.clock = [this] { return fakeTime; };
  }
  std::vector<u16> tags() const {
    std::vector<u16> out;
    for (auto &[task, tag] : g_trace) out.push_back(text::int16(task) + u":" + tag);
    return out;
  }
};

}  // namespace

TEST_F(Scheduler, TwoTasksAlternateInstructionByInstructionSlotZeroFirst) {
  load(tcode({u"070 - - a1", u"070 - - a2", u"070 - - a3"}));
  load(tcode({u"070 - - b1", u"070 - - b2", u"070 - - b3"}));
  run();
  EXPECT_EQ(tags(), (std::vector<u16>{u"0:a1", u"1:b1", u"0:a2", u"1:b2", u"0:a3", u"1:b3"}));
  EXPECT_EQ(e.tasks[0].state, tsEND);
  EXPECT_EQ(e.tasks[1].state, tsEND);
}

TEST_F(Scheduler, BatchedPassesStopAtEveryEventAndMatchSinglePasses) {
  load(tcode({u"070 - - a1", u"070 - - a2"}));
  load(tcode({u"070 - - b1", u"070 - - b2", u"070 - - b3", u"070 - - b4"}));
  e.runReset();
  e.linkAll();
  e.running = true;
  EXPECT_EQ(e.runPasses(100), 3);  // a1 b1, a2 b2, then slot 0 ends beside b3
  EXPECT_EQ(e.tasks[0].state, tsEND);
  EXPECT_EQ(e.runPasses(100), 2);  // b4, then slot 1 ends
  EXPECT_EQ(e.runPasses(100), 0);
  std::vector<u16> batched = tags();
  g_trace.clear();
  e.runReset();
  e.linkAll();
  while (e.anyRunnable()) e.step();
  EXPECT_EQ(tags(), batched);
  EXPECT_EQ(e.passCount, 5);
}

TEST_F(Scheduler, ATaskWithoutPermitKeepsItsStateAndIsSkipped) {
  load(tcode({u"070 - - a"}));
  int second = load(tcode({u"070 - - b"}));
  e.tasks[std::size_t(second)].Permit = false;
  run();
  EXPECT_EQ(tags(), std::vector<u16>{u"0:a"});
  EXPECT_EQ(e.tasks[1].state, tsACTIVE);
}

TEST_F(Scheduler, StopEndsTheTaskAndRunningPastTheEndToo) {
  load(tcode({u"025", u"070 - - never"}));
  load(tcode({u"070 - - x"}));
  run();
  EXPECT_TRUE(g_trace.size() == 1 && g_trace[0].second == u"x");
  EXPECT_EQ(e.tasks[0].state, tsEND);
  EXPECT_EQ(e.tasks[1].state, tsEND);
}

TEST_F(Scheduler, JumpsFollowTheLabelTableAndFallThroughUnknownLabels) {
  // FLAG starts false: 095 does not jump, 098 does.
  load(tcode({u"099 xJMP 2", u"070 - - skipped", u"L_2 IF", u"099 xJMP 7", u"070 - - after", u"095 xTJMP 3",
              u"070 - - no-true-jump", u"098 xFJMP 3", u"070 - - not-reached", u"L_3", u"070 - - end"}));
  run();
  EXPECT_EQ(tags(), (std::vector<u16>{u"0:after", u"0:no-true-jump", u"0:end"}));
}

TEST_F(Scheduler, CallRunsTheBodyOnceAndTheFunctionEntryIsSkipped) {
  load(tcode(
      {u"902 xFUNC", u"F_F", u"070 - - body", u"096 xRET", u"070 - - main", u"097 xCALL xFNAME F", u"070 - - back"}));
  run();
  EXPECT_EQ(tags(), (std::vector<u16>{u"0:main", u"0:body", u"0:back"}));
  EXPECT_FALSE(e.errorFlag);
}

TEST_F(Scheduler, CallOfAnUnknownFunctionStopsAllTasks) {
  load(tcode({u"097 xCALL xFNAME NOWHERE", u"070 - - never"}));
  load(tcode({u"070 - - a", u"070 - - b"}));
  run();
  EXPECT_EQ(lastConsoleLine(), u"＊ 関数ラベル不明エラー ＊");
  EXPECT_TRUE(g_trace.empty());  // slot 1 does not run in the failing pass
  EXPECT_EQ(e.tasks[1].state, tsEND);
}

TEST_F(Scheduler, CallStackDepthAndEmptyReturnAreRunTimeErrors) {
  load(tcode({u"F_R", u"097 xCALL xFNAME R"}));
  int passes = run();
  EXPECT_LT(passes, 300);
  EXPECT_EQ(lastConsoleLine(), u"＊ 関数呼び出しの入れ子が深すぎます（最大 101） ＊");
  EXPECT_EQ(e.tasks[0].STACKP, 100);

  e.releaseAllSlots();
  load(tcode({u"096 xRET", u"070 - - never"}));
  run();
  EXPECT_EQ(lastConsoleLine(), u"＊ 呼び出されていない関数からの復帰（RET）です ＊");
  EXPECT_TRUE(g_trace.empty());
}

TEST_F(Scheduler, WaitTenHoldsTheTaskForASecondWhileAnotherRuns) {
  load(tcode({u"080 WAIT Δ 10", u"070 - - after-wait"}));
  load(tcode({u"L_1", u"070 - - spin", u"099 xJMP 1"}));
  e.runReset();
  ASSERT_FALSE(e.linkAll());
  auto waited = [&] {
    return std::any_of(g_trace.begin(), g_trace.end(), [](auto &p) { return p.second == u"after-wait"; });
  };
  auto start = std::chrono::steady_clock::now();
  while (!waited() && e.tasks[0].state == tsACTIVE) {
    g_trace.erase(std::remove_if(g_trace.begin(), g_trace.end(), [](auto &p) { return p.first == 1; }), g_trace.end());
    e.step();
    e.step();
    e.step();
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(waited());
  EXPECT_GE(seconds, 1.0);
  EXPECT_LT(seconds, 5.0);
  EXPECT_GT(e.passCount, 1000);  // the other task kept running meanwhile
}

TEST_F(Scheduler, WaitZeroResumesInTheNextPass) {
  useFakeClock();
  load(tcode({u"080 WAIT Δ 0", u"070 - - next"}));
  e.runReset();
  e.linkAll();
  e.step();  // WAIT
  EXPECT_TRUE(e.tasks[0].WAIT);
  e.step();  // the wait ends in this pass's service, then the task runs
  EXPECT_EQ(tags(), std::vector<u16>{u"0:next"});
}

TEST_F(Scheduler, TimerFiringDuringAWaitInterruptsOnceAfterwards) {
  useFakeClock();
  load(tcode({u"081 TIMER Ω \"T\" , SET , Δ 5 , Ω \"H\"", u"082 TIMER Ω \"T\" , START", u"080 WAIT Δ 20",
              u"070 - - after-wait", u"070 - - more", u"025", u"902 xFUNC", u"F_H", u"070 - - handler", u"083 INTRET",
              u"096 xRET"}));
  e.runReset();
  ASSERT_FALSE(e.linkAll());
  e.step();  // TIMER SET
  EXPECT_EQ(e.timers[0].state, TTimerInfo::Set);
  EXPECT_EQ(e.timers[0].name, u"\"T\"");
  EXPECT_EQ(e.timers[0].handlerPos, 8);
  e.step();  // START
  EXPECT_EQ(e.timers[0].state, TTimerInfo::Working);
  e.step();  // WAIT 20
  for (int i = 1; i <= 25; ++i) {
    fakeTime = i;
    e.step();
  }
  // Firings at 5, 10, 15 and 20 were counted while the task waited ...
  EXPECT_GE(e.timers[0].fireCount, 4);
  while (e.tasks[0].state == tsACTIVE) e.step();
  // ... and the interrupt was entered once, right after the first instruction.
  EXPECT_EQ(tags(), (std::vector<u16>{u"0:after-wait", u"0:handler", u"0:more"}));
  EXPECT_FALSE(e.tasks[0].IntProcess);
}

TEST_F(Scheduler, IntretOutsideAHandlerDoesNothing) {
  load(tcode({u"070 - - a", u"083 INTRET", u"070 - - b"}));
  run();
  EXPECT_EQ(tags(), (std::vector<u16>{u"0:a", u"0:b"}));
}

TEST_F(Scheduler, BreakpointStopsTheTaskAndWatchesIt) {
  load(tcode({u"070 - - a", u"070 - - b"}));
  std::array<u16, 11> param{};
  param[1] = u"7";
  e.insertRecord(1, 0, kKindBreakpoint, param);
  run();
  EXPECT_EQ(e.tasks[0].state, tsSTOP);
  EXPECT_EQ(e.tasks[0].BPInfoIndex, 7);
  EXPECT_EQ(e.watchedTask, 0);
  EXPECT_EQ(tags(), std::vector<u16>{u"0:a"});
}

TEST_F(Scheduler, RegistrationLimitsAndFunctionList) {
  for (int i = 0; i < 10; ++i) ASSERT_EQ(load(tcode({u"F_A", u"F_B"})), i);
  EXPECT_EQ(load(tcode({u"001"})), -1);
  EXPECT_EQ(lastConsoleLine(), u"  - これ以上プログラムは登録出来ません。 10");
  EXPECT_EQ(e.listFunctions(3), (Lines{u"00001 A", u"00002 B"}));
  e.releaseSlot(4);
  EXPECT_EQ(e.registered, 9);
  EXPECT_EQ(load(tcode({u"001"})), 4);
}

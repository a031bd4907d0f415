// Stepping outside a run: "★" moves a task one source line, the code-debug
// reset puts every task back to its start and "１ｽﾃｯﾌﾟ実行" runs one pass.
#include "environment/environment.h"

namespace velmora::environment {

namespace {

// The most passes one "★" runs looking for the next line.
constexpr long kLineStepPasses = 1L << 20;

}  // namespace

void Environment::endStepping() {
  if (!stepping_ && !engine_.running()) return;
  stepping_ = false;
  if (runLoop.running()) return;  // a run owns the engine now
  engine_.stop();
  engine_.closeAllFiles();
}

bool Environment::stepTaskLine(int slot) {
  if (slot < 0 || slot >= engine::kSlots) {
    ui.message(u"プログラムを選ぶ", u"");
    return false;
  }
  const engine::TTaskInfo &t = engine_.task(slot);
  if (t.PcodeListNo < 0 || t.state == engine::tsEMPTY) {
    ui.message(u"プログラムなし", u"");
    return false;
  }
  if (debugger.breakpointCount() > 0) {
    ui.message(u"ブレークポイント設定中はステップ実行不可", u"");
    return false;
  }
  if (!mayStart(Command::CodeDebug)) return false;
  if ((!stepping_ || t.state == engine::tsEND) && !startStepping()) return false;
  busy_ = true;
  engine_.watchTask(slot);
  // Passes until the watched task reaches another source line, or stands
  // still (it waits or has ended); a line that loops on itself is left
  // after a bounded number of passes, the task still on it.
  int previous = -1;
  u16 line = stepLine_;
  for (long pass = 0; pass < kLineStepPasses; ++pass) {
    engine_.runPasses(1);
    if (runLoop.checkRunTimeError()) {
      stepping_ = false;
      break;
    }
    line = engine_.lineOf(engine_.watchedPoint());
    const int position = engine_.watchedPoint().position;
    if (position == previous || line != stepLine_ || t.state == engine::tsEND) break;
    previous = position;
  }
  busy_ = false;
  stepLine_ = line;
  if (!stepping_ || runLoop.allTasksFinished()) endStepping();
  refreshViews();
  ui.breakpointHeld(slot, line);
  return true;
}

bool Environment::resetTasks() {
  if (!mayStart(Command::CodeDebug)) return false;
  endStepping();
  if (!startStepping()) return false;
  cancelInput();
  refreshViews();
  return true;
}

bool Environment::startStepping() {
  prepareEngine();
  if (engine_.linkAll()) {
    refreshViews();
    return false;
  }
  runLoop.applyPermits();
  engine_.runReset();
  debugger.Initial_Debugger();
  engine_.start();
  stepping_ = true;
  stepLine_.clear();
  return true;
}

bool Environment::stepOnePass() {
  if (!mayStart(Command::CodeDebug)) return false;
  if (!stepping_ && !resetTasks()) return false;
  busy_ = true;
  engine_.runPasses(1);
  busy_ = false;
  if (runLoop.checkRunTimeError()) stepping_ = false;
  if (!stepping_ || runLoop.allTasksFinished()) endStepping();
  refreshViews();
  return true;
}

}  // namespace velmora::environment

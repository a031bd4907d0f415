// Stepping outside a run: "★" moves a task one source line, the code-debug
// reset puts every task back to its start and "１ｽﾃｯﾌﾟ実行" runs one pass.
#include "environment/environment.h"

namespace velmora::environment {

void Environment::endStepping() {
  if (!stepping && !engine.running()) return;
  stepping = false;
  if (running) return;  // a run owns the engine now
  engine.stop();
  engine.closeAllFiles();
}

bool Environment::stepTaskLine(int slot) {
  if (slot < 0 || slot >= engine::kSlots) {
    ui.message(u"プログラムを選ぶ", u"");
    return false;
  }
  const engine::TTaskInfo &t = engine.task(slot);
  if (t.PcodeListNo < 0 || t.state == engine::tsEMPTY) {
    ui.message(u"プログラムなし", u"");
    return false;
  }
  if (debugger.breakpointCount() > 0) {
    ui.message(u"ブレークポイント設定中はステップ実行不可", u"");
    return false;
  }
  if (running || busy) return false;
  if ((!stepping || t.state == engine::tsEND) && !startStepping()) return false;
  busy = true;
  engine.watchTask(slot);
  // Passes until the watched task reaches another source line, or stands
  // still (it waits or has ended).
  int previous = -1;
  u16 line = stepLine;
  for (long pass = 0;; ++pass) {
    engine.runPasses(1);
    if (CheckRunTimeError()) {
      stepping = false;
      break;
    }
    line = engine.lineOf(engine.watchedPoint());
    const int position = engine.watchedPoint().position;
    if (position == previous || line != stepLine || t.state == engine::tsEND) break;
    previous = position;
    if (pass % 4096 == 4095) ui.pumpEvents();
  }
  busy = false;
  stepLine = line;
  if (!stepping || IsAllTask_Finished()) endStepping();
  refreshViews();
  ui.breakpointHeld(slot, line);
  return true;
}

bool Environment::resetTasks() {
  if (running || busy || stepCompiling) return false;
  endStepping();
  if (!startStepping()) return false;
  cancelInput();
  refreshViews();
  return true;
}

bool Environment::startStepping() {
  prepareEngine();
  if (engine.linkAll()) {
    refreshViews();
    return false;
  }
  SetTaskPermit();
  engine.runReset();
  debugger.Initial_Debugger();
  engine.start();
  stepping = true;
  stepLine.clear();
  return true;
}

bool Environment::stepOnePass() {
  if (running || busy || stepCompiling) return false;
  if (!stepping && !resetTasks()) return false;
  busy = true;
  engine.runPasses(1);
  busy = false;
  if (CheckRunTimeError()) stepping = false;
  if (!stepping || IsAllTask_Finished()) endStepping();
  refreshViews();
  return true;
}

}  // namespace velmora::environment

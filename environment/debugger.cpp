// Breakpoints: break records (code 900) inserted into a slot's P-code before
// the first record of a source line; the run loop holds a task that reached
// one ("STOP") or lets it pass ("GO"), and steps a held task line by line.
#include "environment/environment.h"

namespace velmora::environment {

int Environment::breakpointCount() const {
  int n = 0;
  for (const Breakpoint &b : breakpoints)
    if (b.used) ++n;
  return n;
}

bool Environment::addBreakpoint(int slot, int line) {
  if (breakpointsCreated >= kBreakpoints) {
    ui.message(u"これ以上ブレークポイントを追加できません", u"");
    return false;
  }
  if (slot < 0 || slot >= engine::kSlots) return false;
  const int number = breakpointsCreated;
  const int pos = engine.insertBreak(slot, line, number);
  if (pos < 0) return false;  // no code on the line, or a break already
  // The engine moves the task's positions; the table's own are ours.
  for (Breakpoint &b : breakpoints)
    if (b.used && b.slot == slot && b.pcode >= pos) ++b.pcode;
  for (Breakpoint &b : breakpoints)
    if (!b.used) {
      b = Breakpoint{true, number, slot, line, pos, u"STOP", 0};
      break;
    }
  ++breakpointsCreated;
  return true;
}

bool Environment::removeBreakpoint(int slot, int line) {
  if (slot < 0 || slot >= engine::kSlots) return false;
  Breakpoint *row = nullptr;
  for (Breakpoint &b : breakpoints)
    if (b.used && b.slot == slot && b.line == line) row = &b;
  if (!row) return false;
  const int pos = engine.removeBreak(slot, line);
  if (pos >= 0)
    for (Breakpoint &b : breakpoints)
      if (b.used && b.slot == slot && b.pcode > pos) --b.pcode;
  *row = Breakpoint{};
  return true;
}

void Environment::removeSlotBreakpoints(int slot) {
  if (slot < 0 || slot >= engine::kSlots) return;
  engine.removeBreaks(slot);
  for (Breakpoint &b : breakpoints)
    if (b.used && b.slot == slot) b = Breakpoint{};
}

void Environment::clearBreakpoints() {
  for (int s = 0; s < engine::kSlots; ++s) removeSlotBreakpoints(s);
  breakpoints.fill(Breakpoint{});
  breakpointsCreated = 0;
  haltCount = 0;
  continueFromBreak();
}

bool Environment::isBreakpoint(int slot, int line) const {
  for (const Breakpoint &b : breakpoints)
    if (b.used && b.slot == slot && b.line == line) return true;
  return false;
}

bool Environment::setBreakpointCondition(int row, u16view condition) {
  if (row < 0 || row >= kBreakpoints || !breakpoints[std::size_t(row)].used) return false;
  if (condition != u"STOP" && condition != u"GO") return false;
  breakpoints[std::size_t(row)].condition = u16(condition);
  return true;
}

std::array<u16, 7> Environment::breakpointCells(int row) const {
  std::array<u16, 7> cells{};
  if (row < 0 || row >= kBreakpoints) return cells;
  const Breakpoint &b = breakpoints[std::size_t(row)];
  if (!b.used) return cells;
  u16 slot = int16(b.slot + 1);  // slots are shown 01 to 10
  if (slot.size() < 2) slot.insert(0, 1, u'0');
  cells = {int16(b.number), slot, int16(b.line), int16(b.pcode), b.condition, u"", int16(b.hits)};
  return cells;
}

Breakpoint *Environment::breakpoint(int number) {
  for (Breakpoint &b : breakpoints)
    if (b.used && b.number == number) return &b;
  return nullptr;
}

void Environment::continueFromBreak() {
  if (breakTask >= 0) engine.resumeTask(breakTask);
  breakActive = false;
  stepLineRequest = false;
}

void Environment::StepExecOneLineButtonClick() {
  if (breakActive) stepLineRequest = true;
}

void Environment::Initial_Debugger() {
  breakActive = stepLineRequest = false;
  breakLine.clear();
  breakTask = -1;
  haltCount = 0;
  for (Breakpoint &b : breakpoints)
    if (b.used) b.hits = 0;
}

void Environment::Check_Task_BREAK() {
  if (!settings.BP_EnableCheckBox) return;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine.task(s);
    if (t.state != engine::tsSTOP || t.BPInfoIndex == -1) continue;
    Breakpoint *b = breakpoint(t.BPInfoIndex);
    if (b && b->condition == u"GO") {
      ++b->hits;  // counted, and passed
      // The break is used up: a later stop of this task by another program
      // ("#n.STOP;") is no break and must not be passed as one.
      engine.clearBreakMark(s);
      engine.resumeTask(s);
      breakActive = false;
      continue;
    }
    if (breakActive || stepLineRequest) return;
    breakActive = true;
    stepLineRequest = false;
    breakLine = engine.lineOf(engine.watchedPoint());
    breakTask = s;
    ++haltCount;
    if (b) ++b->hits;
    engine.clearBreakMark(s);  // the hold now belongs to breakTask
    ui.breakpointHeld(s, breakLine);
    return;
  }
}

// One line further for the held task: it runs until its source line changes.
void Environment::stepOneLine() {
  if (breakTask < 0) return;
  if (engine.task(breakTask).state == engine::tsEND) {
    stepLineRequest = false;
    breakActive = false;
    return;
  }
  engine.resumeTask(breakTask);
  u16 line = engine.lineOf(engine.watchedPoint());
  if (line == breakLine) return;
  engine.holdTask(breakTask);
  stepLineRequest = false;
  breakLine = line;
  ui.breakpointHeld(breakTask, breakLine);
}

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
  if (breakpointCount() > 0) {
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
  Initial_Debugger();
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

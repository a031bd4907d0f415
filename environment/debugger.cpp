// Breakpoints: break records (code 900) inserted into a slot's P-code before
// the first record of a source line; the run loop holds a task that reached
// one ("STOP") or lets it pass ("GO"), and steps a held task line by line.
#include "environment/debugger.h"

namespace velmora::environment {

Debugger::Debugger(engine::Engine &engine, UserInterface &ui, const Settings &settings)
    : engine_(engine), ui_(ui), settings_(settings) {}

int Debugger::breakpointCount() const {
  int n = 0;
  for (const Breakpoint &b : breakpoints_)
    if (b.used) ++n;
  return n;
}

bool Debugger::addBreakpoint(int slot, int line) {
  if (breakpointsCreated_ >= kBreakpoints) {
    ui_.message(u"これ以上ブレークポイントを追加できません", u"");
    return false;
  }
  if (slot < 0 || slot >= engine::kSlots) return false;
  const int number = breakpointsCreated_;
  const int pos = engine_.insertBreak(slot, line, number);
  if (pos < 0) return false;  // no code on the line, or a break already
  // The engine moves the task's positions; the table's own are ours.
  for (Breakpoint &b : breakpoints_)
    if (b.used && b.slot == slot && b.pcode >= pos) ++b.pcode;
  for (Breakpoint &b : breakpoints_)
    if (!b.used) {
      b = Breakpoint{true, number, slot, line, pos, u"STOP", 0};
      break;
    }
  ++breakpointsCreated_;
  return true;
}

bool Debugger::removeBreakpoint(int slot, int line) {
  if (slot < 0 || slot >= engine::kSlots) return false;
  Breakpoint *row = nullptr;
  for (Breakpoint &b : breakpoints_)
    if (b.used && b.slot == slot && b.line == line) row = &b;
  if (!row) return false;
  const int pos = engine_.removeBreak(slot, line);
  if (pos >= 0)
    for (Breakpoint &b : breakpoints_)
      if (b.used && b.slot == slot && b.pcode > pos) --b.pcode;
  *row = Breakpoint{};
  return true;
}

void Debugger::removeSlotBreakpoints(int slot) {
  if (slot < 0 || slot >= engine::kSlots) return;
  engine_.removeBreaks(slot);
  for (Breakpoint &b : breakpoints_)
    if (b.used && b.slot == slot) b = Breakpoint{};
}

void Debugger::clearBreakpoints() {
  for (int s = 0; s < engine::kSlots; ++s) removeSlotBreakpoints(s);
  breakpoints_.fill(Breakpoint{});
  breakpointsCreated_ = 0;
  haltCount_ = 0;
  continueFromBreak();
}

bool Debugger::isBreakpoint(int slot, int line) const {
  for (const Breakpoint &b : breakpoints_)
    if (b.used && b.slot == slot && b.line == line) return true;
  return false;
}

bool Debugger::setBreakpointCondition(int row, u16view condition) {
  if (row < 0 || row >= kBreakpoints || !breakpoints_[std::size_t(row)].used) return false;
  if (condition != u"STOP" && condition != u"GO") return false;
  breakpoints_[std::size_t(row)].condition = u16(condition);
  return true;
}

std::array<u16, 7> Debugger::breakpointCells(int row) const {
  std::array<u16, 7> cells{};
  if (row < 0 || row >= kBreakpoints) return cells;
  const Breakpoint &b = breakpoints_[std::size_t(row)];
  if (!b.used) return cells;
  u16 slot = text::int16(b.slot + 1);  // slots are shown 01 to 10
  if (slot.size() < 2) slot.insert(0, 1, u'0');
  cells = {text::int16(b.number), slot, text::int16(b.line), text::int16(b.pcode),
           b.condition,           u"",  text::int16(b.hits)};
  return cells;
}

Breakpoint *Debugger::breakpoint(int number) {
  for (Breakpoint &b : breakpoints_)
    if (b.used && b.number == number) return &b;
  return nullptr;
}

const Breakpoint *Debugger::numbered(int number) const {
  for (const Breakpoint &b : breakpoints_)
    if (b.used && b.number == number) return &b;
  return nullptr;
}

void Debugger::continueFromBreak() {
  if (breakTask_ >= 0) engine_.resumeTask(breakTask_);
  breakActive_ = false;
  stepLineRequest_ = false;
}

void Debugger::requestLineStep() {
  if (breakActive_) stepLineRequest_ = true;
}

void Debugger::Initial_Debugger() {
  breakActive_ = stepLineRequest_ = false;
  breakLine_.clear();
  breakTask_ = -1;
  haltCount_ = 0;
  for (Breakpoint &b : breakpoints_)
    if (b.used) b.hits = 0;
}

void Debugger::Check_Task_BREAK() {
  if (!settings_.breakpointsEnabled) return;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine_.task(s);
    if (t.state != engine::tsSTOP || t.BPInfoIndex == -1) continue;
    Breakpoint *b = breakpoint(t.BPInfoIndex);
    if (b && b->condition == u"GO") {
      ++b->hits;  // counted, and passed
      // The break is used up: a later stop of this task by another program
      // ("#n.STOP;") is no break and must not be passed as one.
      engine_.clearBreakMark(s);
      engine_.resumeTask(s);
      breakActive_ = false;
      continue;
    }
    if (breakActive_ || stepLineRequest_) return;
    breakActive_ = true;
    stepLineRequest_ = false;
    breakLine_ = engine_.lineOf(engine_.watchedPoint());
    breakTask_ = s;
    ++haltCount_;
    if (b) ++b->hits;
    engine_.clearBreakMark(s);  // the hold now belongs to breakTask_
    ui_.breakpointHeld(s, breakLine_);
    return;
  }
}

// One line further for the held task: it runs until its source line changes.
void Debugger::stepOneLine() {
  if (breakTask_ < 0) return;
  if (engine_.task(breakTask_).state == engine::tsEND) {
    stepLineRequest_ = false;
    breakActive_ = false;
    return;
  }
  engine_.resumeTask(breakTask_);
  u16 line = engine_.lineOf(engine_.watchedPoint());
  if (line == breakLine_) return;
  engine_.holdTask(breakTask_);
  stepLineRequest_ = false;
  breakLine_ = line;
  ui_.breakpointHeld(breakTask_, breakLine_);
}

}  // namespace velmora::environment

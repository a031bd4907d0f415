// Which slots a run starts, running the program of one tab alone, and the
// source lines that a failed compile or a run-time error point at.
#include "environment/environment.h"

namespace velmora::environment {

int Environment::slotOfTab(int tab) const {
  if (tab < 0) return -1;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine_.task(s);
    if (t.SrcIndex == tab && t.state != engine::tsEMPTY) return s;
  }
  return -1;
}

bool Environment::tabChangedSinceCompile(int tab) const {
  int slot = slotOfTab(tab);
  if (slot < 0 || tab >= TabPool::kTabs) return true;
  return tabs.at(tab).lines != compileDriver.compiledSource()[std::size_t(slot)];
}

std::array<bool, engine::kSlots> Environment::slotsToRun() const {
  std::array<bool, engine::kSlots> will{};
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine_.task(s);
    if (t.state == engine::tsEMPTY) continue;
    // A run fixed its permits when it started.
    will[std::size_t(s)] = runLoop.running() ? bool(t.Permit) : runLoop.permitted(s);
  }
  return will;
}

int Environment::slotsToRunCount() const {
  int n = 0;
  for (bool b : slotsToRun()) n += b;
  return n;
}

RunResult Environment::runTab(int tab) { return runToEnd(startTab(tab)); }

RunResult Environment::startTab(int tab) {
  if (!mayStart(Command::Run) || !tabs.isOpen(tab)) return RunResult::NotStarted;
  tabs.activate(tab);
  int slot = slotOfTab(tab);
  if (slot < 0 || tabChangedSinceCompile(tab)) {
    // Asking the user to run the tab is the answer to the replace question.
    slot = slot < 0 ? compileDriver.compileToFreeSlot() : compileDriver.Compile_Replace(slot, engine::tsACTIVE);
    if (slot < 0) return RunResult::NotStarted;  // failed, or a step compile paused
  }
  return startSlotAlone(slot);
}

RunResult Environment::startSlotAlone(int slot) {
  runLoop.setOnlySlot(slot);
  const RunResult started = startRun();
  if (started != RunResult::Running) runLoop.setOnlySlot(-1);
  return started;
}

}  // namespace velmora::environment

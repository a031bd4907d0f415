#pragma once
// Helpers for the engine's white-box tests: hand-written T-code run on the
// machine itself, whose state and services they may read and set.
#include <gtest/gtest.h>

#include "engine/machine.h"
#include "tests/unit/engine_fixture.h"  // tcode()

namespace velmora::testing {

class MachineTest : public ::testing::Test {
 protected:
  engine::Machine e;
  Lines messages;

  // Registers a program, permits it and returns its slot.
  int load(const Lines &code, const Lines &taskVars = {}, const Lines &shared = {}) {
    int slot = e.registerProgram(code, taskVars, shared, messages, engine::tsACTIVE, u"test", 0);
    if (slot >= 0) e.tasks[std::size_t(slot)].Permit = true;
    return slot;
  }

  // Resets, links and runs passes until nothing can run (or a limit), as
  // the run loop does: in batches that end at every event.
  long run(long maxPasses = 100000) {
    e.runReset();
    if (e.linkAll()) return 0;
    e.running = true;
    long passes = 0;
    while (e.running && e.anyRunnable() && passes < maxPasses)
      passes += e.runPasses(std::min(1000L, maxPasses - passes));
    return passes;
  }

  // Releases everything, loads one program with its variables into slot 0
  // and runs it; returns slot 0's task record.
  const engine::TTaskInfo &execute(const Lines &code, const Lines &vars = {}) {
    e.releaseAllSlots();
    for (int s = 0; s < engine::kSlots; ++s) e.vars.releaseSlot(s);
    load(code, vars);
    run();
    return e.tasks[0];
  }
  const engine::TVarInfo &var(const char16_t *name) { return e.vars[e.vars.find(0, name)]; }

  const u16 &lastConsoleLine() const { return e.console.lines().back(); }
};

}  // namespace velmora::testing

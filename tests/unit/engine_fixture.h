#pragma once
// Helpers for feeding hand-written T-code to the engine through its interface.
#include <gtest/gtest.h>

#include "engine/engine.h"

namespace velmora::testing {

// T-code lines from instruction texts: line numbers 00001, 00002, ...
inline Lines tcode(const Lines &instructions) {
  Lines lines;
  int n = 1;
  for (const u16 &text : instructions) {
    u16 number = text::int16(n++);
    lines.push_back(u16(5 - number.size(), u'0') + number + u" " + text);
  }
  return lines;
}
inline Lines tcode(std::initializer_list<const char16_t *> instructions) {
  return tcode(Lines(instructions.begin(), instructions.end()));
}

class EngineTest : public ::testing::Test {
 protected:
  engine::Engine e;
  Lines messages;

  // Registers a program, permits it and returns its slot.
  int load(const Lines &code, const Lines &taskVars = {}, const Lines &shared = {}) {
    int slot = e.registerProgram(code, taskVars, shared, messages, engine::tsACTIVE, u"test", 0);
    if (slot >= 0) e.setPermit(slot, true);
    return slot;
  }

  // Resets, links and runs passes until nothing can run (or a limit), as
  // the run loop does: in batches that end at every event.
  long run(long maxPasses = 100000) {
    e.runReset();
    if (e.linkAll()) return 0;
    e.start();
    long passes = 0;
    while (e.running() && e.anyRunnable() && passes < maxPasses)
      passes += e.runPasses(std::min(1000L, maxPasses - passes));
    return passes;
  }

  // Releases everything, loads one program with its variables into slot 0
  // and runs it; returns slot 0's task record.
  const engine::TTaskInfo &execute(const Lines &code, const Lines &vars = {}) {
    e.releaseAllSlots();
    load(code, vars);
    run();
    return e.task(0);
  }
  const engine::TVarInfo &var(const char16_t *name) { return e.variables()[e.variables().find(0, name)]; }

  const u16 &lastConsoleLine() const { return e.console().lines().back(); }
};

}  // namespace velmora::testing

#pragma once
// Runs in the window go on in slices from its event loop: a test that
// starts one lets the event loop drive it to its end before it looks.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include "gui/main_window.h"

namespace velmora::testing {

// Processes events until the window is idle again (at most a minute) and
// returns how its last run ended; a command that did not start a run
// returns what it said.
inline environment::RunResult settle(gui::MainWindow &w,
                                     environment::RunResult started = environment::RunResult::Running) {
  if (started != environment::RunResult::Running) return started;
  QDeadlineTimer deadline(60000);
  while (
      (w.environment().state() != environment::State::Idle || w.lastRunResult() == environment::RunResult::Running) &&
      !deadline.hasExpired()) {
    if (w.environment().state() == environment::State::StepCompiling) break;  // waits for the user
    QTest::qWait(1);
  }
  return w.lastRunResult();
}

}  // namespace velmora::testing

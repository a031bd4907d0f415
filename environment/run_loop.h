#pragma once
// The run loop: the permit list, a run of the permitted tasks in batches of
// scheduler passes with the checks after every batch (errors, the end of the
// tasks, "one ends all", breakpoints, the console), pause, stop and kill, and
// the timing chart sampled meanwhile. The environment prepares the engine
// and the slots; the loop owns a run from its start to its end.
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "engine/engine.h"
#include "environment/debugger.h"
#include "environment/settings.h"
#include "environment/timing_chart.h"
#include "environment/user_interface.h"

namespace velmora::environment {

// How a run ended; Running: it started and goes on (slices drive it).
enum class RunResult { NotStarted, Ended, Error, Stopped, Running };

// A place in the source shown by the window: where a compile or a run failed.
struct SourceMark {
  int tab = -1;   // the editor tab, or -1 when there is no mark
  int line = -1;  // source line index
  u16 message;
  int slot = -1;  // the task it happened in (a run-time error)
};

class RunLoop {
 public:
  // cancelInput ends every wait for keyboard input (a run starts or ends).
  RunLoop(engine::Engine &engine, UserInterface &ui, const Settings &settings, Debugger &debugger,
          std::function<void()> cancelInput);

  // ----- the permit list: "01: 実行許可　〇" or "01: 実行不可　×" per slot
  const std::array<u16, engine::kSlots> &permitRows() const { return permitRows_; }
  bool permitted(int slot) const;
  void togglePermit(int row);  // toggles a row
  // The engine's permits for a run: the list's, or only the slot of a run
  // of one slot (setOnlySlot; -1 goes back to the list).
  void applyPermits();
  void setOnlySlot(int slot) { onlySlot_ = slot; }
  int onlySlot() const { return onlySlot_; }

  // ----- a run
  // Links, resets and runs the permitted tasks until they end, an error
  // stops them, one ends all ("タスク群を一体として扱う"), or the user stops
  // the run; the engine must be configured. Files left open are closed.
  // runToEnd does it all in a plain loop of slices; a face that
  // keeps responding (the window) calls begin, then slice from its event
  // loop until slice says the run is over.
  RunResult runToEnd();
  // Starts a run: false when one is on or the link failed (result Error).
  bool begin();
  // One slice of the run: batches of passes for a few milliseconds, then
  // back to the caller. Returns the milliseconds after which the next slice
  // is due (0: at once; more while paused, held or waiting), or -1 when
  // the run has ended (result tells how). Never nests: a slice asked for
  // while one is in progress (a dialog of an instruction) does nothing.
  static constexpr int kSliceAgain = 0, kWaitMs = 1, kRestMs = 5;
  int slice();
  RunResult result() const { return result_; }
  bool running() const { return running_; }
  bool paused() const { return paused_; }
  void togglePause();
  // "■": the run ends at its next test, the engine stops, a pause is
  // released first; with "タスク終了時、全て非表示にする" every canvas is hidden.
  void stopAll();
  // Every slot stops at the next test (a program's STOP ALL).
  void stopAllByProgram();
  // The pause mark held while RUN PAGE compiles.
  void setPaused(bool paused) { paused_ = paused; }
  // No tab is left: the run ends and the engine stops.
  void stopWithoutTabs();

  // ----- checks after a batch
  bool allTasksFinished();
  void endAllTasks();
  // A run-time error with "実行時エラーで停止" on: the run ends, the error
  // window's rows and the source mark are kept and shown. False otherwise.
  bool checkRunTimeError();
  const std::vector<std::pair<u16, u16>> &lastErrorRows() const { return lastErrorRows_; }
  // A run of a program the user never sees (a tool's): its error window
  // names the tool and what it worked on in the Task and Line rows, and
  // marks no line. Lasts until the run ends.
  void nameErrorPlace(const u16 &task, const u16 &line) { errorPlace_ = {task, line}; }
  const SourceMark &runError() const { return runError_; }

  // Sampled while a run lasts when "実行時にｲﾍﾞﾝﾄﾁｬｰﾄを描画する" is on, a
  // column per chart interval ("タイミングチャート"); cleared by every start.
  const TimingChart &chart() const { return chart_; }
  int chartIntervalMs() const;

 private:
  engine::Engine &engine_;
  UserInterface &ui_;
  const Settings &settings_;
  Debugger &debugger_;
  std::function<void()> cancelInput_;

  std::array<u16, engine::kSlots> permitRows_;
  int onlySlot_ = -1;
  bool running_ = false, paused_ = false, stopRequested_ = false;
  int validCount_ = 0, endedCount_ = 0;
  RunResult result_ = RunResult::NotStarted;
  bool inSlice_ = false, finished_ = true, endPending_ = false;
  unsigned long long shownConsole_ = 0;
  long batch_ = 16;  // passes per batch, adapted to their cost
  std::chrono::steady_clock::time_point started_;
  bool charting_ = false;
  int chartInterval_ = 20;
  TimingChart chart_;
  std::vector<std::pair<u16, u16>> lastErrorRows_;
  SourceMark runError_;
  std::optional<std::pair<u16, u16>> errorPlace_;

  int batches();
  void finish();
  bool allWaiting() const;
  void refreshViews();
};

}  // namespace velmora::environment

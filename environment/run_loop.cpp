// The run loop and task control: permits, starting, pausing, stopping and
// killing a run, and the checks after every batch of scheduler passes.
#include <ctime>

#include "environment/run_loop.h"

namespace velmora::environment {

namespace {

// A slice runs batches for a few milliseconds, not a pass at a time, so that
// a run in the window costs about what a headless run costs. A batch aims at
// about a millisecond, so that a slice ends near its time even when single
// passes are slow (an instruction copying a list of thousands of lines): the
// window then answers within a slice however the program spends its time.
constexpr auto kSliceTime = std::chrono::milliseconds(8);
constexpr auto kBatchTime = std::chrono::microseconds(1000);
constexpr long kFirstBatch = 16, kMinBatch = 1, kMaxBatch = 1L << 20;

u16 now_text() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm);
  return text::from_utf8(buf);
}

}  // namespace

RunLoop::RunLoop(engine::Engine &engine, UserInterface &ui, const Settings &settings, Debugger &debugger,
                 std::function<void()> cancelInput)
    : engine_(engine), ui_(ui), settings_(settings), debugger_(debugger), cancelInput_(std::move(cancelInput)) {
  for (int s = 0; s < engine::kSlots; ++s) {
    u16 number = text::int16(s + 1);
    if (number.size() < 2) number.insert(0, 1, u'0');
    permitRows_[std::size_t(s)] = number + u": 実行許可　〇";
  }
}

void RunLoop::refreshViews() { ui_.consoleUpdated(engine_.console().lines()); }

void RunLoop::stopWithoutTabs() {
  running_ = false;
  engine_.stopAll();
}

void RunLoop::stopAllByProgram() {
  stopRequested_ = true;
  running_ = false;
}

bool RunLoop::permitted(int slot) const { return permitRows_[std::size_t(slot)].find(u'×') == u16::npos; }

void RunLoop::togglePermit(int row) {
  if (row < 0 || row >= engine::kSlots) return;
  u16 &text = permitRows_[std::size_t(row)];
  u16 number = text.substr(0, 2);
  text = number + (permitted(row) ? u": 実行不可　×" : u": 実行許可　〇");
}

void RunLoop::applyPermits() {
  for (int s = 0; s < engine::kSlots; ++s) engine_.setPermit(s, onlySlot_ >= 0 ? s == onlySlot_ : permitted(s));
}

bool RunLoop::allTasksFinished() {
  validCount_ = endedCount_ = 0;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine_.task(s);
    if (!t.Permit || t.state == engine::tsEMPTY) continue;
    ++validCount_;
    if (t.state == engine::tsEND) ++endedCount_;
  }
  return validCount_ == endedCount_;
}

// Ends every loaded task. Empty slots stay empty: an ended empty slot would
// be started by the next run reset without any code and never end.
void RunLoop::endAllTasks() { engine_.endAllTasks(); }

bool RunLoop::checkRunTimeError() {
  if (!settings_.stopOnRuntimeError || !engine_.errorFlag()) return false;
  running_ = false;
  const engine::ExecutionPoint &p = engine_.lastPoint();
  lastErrorRows_ = {{u" Date/Time ", now_text()},
                    {u" Error Msg ", engine_.errorMessage()},
                    {u"    Status ", u"全タスク停止"},
                    {u"      Task ", p.task >= 0 ? engine::slot_name(p.task) : text::int16(p.task)},
                    {u"      Line ", engine_.lineOf(p)},
                    {u"      Code ", text::int16(p.code)},
                    {u"   Address ", text::int16(p.position)}};
  int line = -1;
  if (errorPlace_) {
    lastErrorRows_[3].second = errorPlace_->first;
    lastErrorRows_[4].second = errorPlace_->second;
  } else if (p.task >= 0 && p.task < engine::kSlots && text::parse_int(engine_.lineOf(p), line)) {
    runError_ = {engine_.task(p.task).SrcIndex, line, engine_.errorMessage(), p.task};
  }
  // The console shows the error line while the error window is up.
  refreshViews();
  ui_.showRunError(lastErrorRows_);
  return true;
}

// Every task that may run is waiting (WAIT or a transfer): passes would only
// spin until a deadline, so the loop may rest a moment.
bool RunLoop::allWaiting() const {
  bool any = false;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine_.task(s);
    if (!t.Permit || t.state != engine::tsACTIVE) continue;
    if (!t.WAIT && !t.HTTP_REQ) return false;
    any = true;
  }
  return any;
}

int RunLoop::chartIntervalMs() const { return Settings::timeValue(settings_.chartTimeMs).value_or(20); }

RunResult RunLoop::runToEnd() {
  if (!begin()) return RunResult::Error;
  while (slice() >= 0) {}
  return result_;
}

bool RunLoop::begin() {
  if (running_) return false;
  if (engine_.linkAll()) {
    refreshViews();
    result_ = RunResult::Error;
    return false;
  }
  runError_ = SourceMark{};
  chart_.clear();
  applyPermits();
  engine_.runReset();
  cancelInput_();
  debugger_.Initial_Debugger();
  refreshViews();
  result_ = RunResult::Ended;
  stopRequested_ = false;
  running_ = true;
  finished_ = endPending_ = false;
  paused_ = false;
  engine_.start();
  shownConsole_ = engine_.console().version;
  batch_ = kFirstBatch;
  started_ = std::chrono::steady_clock::now();
  charting_ = settings_.drawEventChart;
  chartInterval_ = chartIntervalMs();
  if (charting_) chart_.sample(engine_);
  return true;
}

int RunLoop::slice() {
  if (inSlice_) return kRestMs;  // a dialog opened by an instruction is up: the run waits for it
  if (!running_ && !finished_) {
    finished_ = true;
    finish();
    return -1;
  }
  if (finished_) return -1;
  if (endPending_) {
    finished_ = true;
    finish();
    return -1;
  }
  inSlice_ = true;
  const int next = batches();
  inSlice_ = false;
  // The tasks are over: the run ends with the next slice, so that a stop
  // asked for while the last batch ran (a long blocking instruction near
  // the end of a program) still counts.
  if (next < 0) endPending_ = true;
  return next < 0 ? kSliceAgain : next;
}

int RunLoop::batches() {
  if (paused_) return kRestMs;
  auto chartNow = [this] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
  };
  const auto sliceStart = std::chrono::steady_clock::now();
  // Batches until the slice has used its time or something changed state;
  // then the window handles its events before the next slice.
  while (running_) {
    if (paused_) return kRestMs;
    auto start = std::chrono::steady_clock::now();
    // A line step watches every pass; otherwise passes run in batches.
    long done = engine_.runPasses(debugger_.stepLineRequest() ? 1 : batch_);
    auto spent = std::chrono::steady_clock::now() - start;
    if (done == batch_) {
      if (spent < kBatchTime / 2) {
        batch_ = std::min(batch_ * 2, kMaxBatch);
      } else if (spent > kBatchTime * 2) {
        // As many passes as the last ones took a millisecond for.
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(spent).count();
        batch_ = std::max(batch_ * long(kBatchTime.count()) / long(us), kMinBatch);
      }
    }
    if (charting_) chart_.sampleIfDue(engine_, chartNow(), chartInterval_);
    if (checkRunTimeError()) {
      result_ = RunResult::Error;
      return -1;
    }
    if (allTasksFinished()) return -1;
    if (settings_.endAllWhenOneEnds && endedCount_ >= 1 && endedCount_ < validCount_) {
      endAllTasks();
      return -1;
    }
    debugger_.Check_Task_BREAK();
    if (debugger_.stepLineRequest()) debugger_.stepOneLine();
    if (settings_.updateConsole && engine_.console().version != shownConsole_) {
      shownConsole_ = engine_.console().version;
      ui_.consoleUpdated(engine_.console().lines());
    }
    // A held task with no other runnable, or every task waiting: passes
    // would only spin, so the loop rests until the next slice.
    if (debugger_.breakActive() && !debugger_.stepLineRequest() && !engine_.anyRunnable()) return kRestMs;
    if (allWaiting()) return kWaitMs;
    if (done < batch_) return kSliceAgain;  // something changed state: the window sees it now
    if (std::chrono::steady_clock::now() - sliceStart >= kSliceTime) return kSliceAgain;
  }
  return -1;
}

void RunLoop::finish() {
  if (stopRequested_ && result_ == RunResult::Ended) result_ = RunResult::Stopped;
  running_ = false;
  paused_ = false;
  engine_.stop();
  if (charting_) chart_.sample(engine_);  // how the run ended
  cancelInput_();
  // Files left open are closed now; data that cannot be written is an I/O
  // error of the run, never a silent loss.
  if (!engine_.closeAllFiles() && result_ != RunResult::Error && checkRunTimeError()) result_ = RunResult::Error;
  errorPlace_.reset();
  refreshViews();
}

void RunLoop::togglePause() {
  if (!running_) return;
  paused_ = !paused_;
  refreshViews();
}

void RunLoop::stopAll() {
  stopRequested_ = true;
  paused_ = false;
  running_ = false;
  engine_.stopAll();
  if (settings_.hideCanvasesAtEnd && engine_.canvas())
    for (int i = 0; i < engine_.canvas()->canvasCount(); ++i) engine_.canvas()->showHide(i, false);
}

}  // namespace velmora::environment

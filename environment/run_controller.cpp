// The run loop and task control: permits, starting, pausing, stopping and
// killing a run, and the checks after every scheduler pass.
#include <ctime>
#include <thread>

#include "environment/environment.h"

namespace velmora::environment {

namespace {

// Events are processed every few milliseconds of running, not every pass, so
// that a run in the window costs about what a headless run costs.
constexpr auto kPumpInterval = std::chrono::milliseconds(5);
constexpr long kMinBatch = 16, kMaxBatch = 1L << 20;

u16 now_text() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &tm);
  return from_utf8(buf);
}

}  // namespace

bool Environment::permitted(int slot) const {
  return permitRows[std::size_t(slot)].find(u'×') == u16::npos;
}

void Environment::TaskPermitListBoxDblClick(int row) {
  if (row < 0 || row >= engine::kSlots) return;
  u16 &text = permitRows[std::size_t(row)];
  u16 number = text.substr(0, 2);
  text = number + (permitted(row) ? u": 実行不可　×" : u": 実行許可　〇");
}

void Environment::SetTaskPermit() {
  for (int s = 0; s < engine::kSlots; ++s)
    engine.setPermit(s, onlySlot_ >= 0 ? s == onlySlot_ : permitted(s));
}

bool Environment::IsAllTask_Finished() {
  validCount_ = endedCount_ = 0;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine.task(s);
    if (!t.Permit || t.state == engine::tsEMPTY) continue;
    ++validCount_;
    if (t.state == engine::tsEND) ++endedCount_;
  }
  return validCount_ == endedCount_;
}

// Ends every loaded task. Empty slots stay empty: an ended empty slot would
// be started by the next run reset without any code and never end.
void Environment::ForceAllTaskEnd() {
  engine.endAllTasks();
}

bool Environment::CheckRunTimeError() {
  if (!settings.Runtime_Error_Stop_CheckBox || !engine.errorFlag()) return false;
  running = false;
  const engine::ExecutionPoint &p = engine.lastPoint();
  lastErrorRows = {{u" Date/Time ", now_text()},
                   {u" Error Msg ", engine.errorMessage()},
                   {u"    Status ", u"全タスク停止"},
                   {u"      Task ", int16(p.task)},
                   {u"      Line ", engine.lineOf(p)},
                   {u"      Code ", int16(p.code)},
                   {u"   Address ", int16(p.position)}};
  int line = -1;
  if (p.task >= 0 && p.task < engine::kSlots && parse_int(engine.lineOf(p), line))
    runError = {engine.task(p.task).SrcIndex, line, engine.errorMessage(), p.task};
  // The console shows the error line while the error window is up.
  refreshViews();
  ui.showRunError(lastErrorRows);
  return true;
}

void Environment::pumpIfDue(bool force) {
  auto now = std::chrono::steady_clock::now();
  if (force || now - lastPump_ >= kPumpInterval) {
    lastPump_ = now;
    ui.pumpEvents();
  }
}

// Every task that may run is waiting (WAIT or a transfer): passes would only
// spin until a deadline, so the loop may rest a moment.
bool Environment::allWaiting() const {
  bool any = false;
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine.task(s);
    if (!t.Permit || t.state != engine::tsACTIVE) continue;
    if (!t.WAIT && !t.HTTP_REQ) return false;
    any = true;
  }
  return any;
}

engine::PermitMode Environment::permitMode(engine::Permission p) const {
  const int k = int(p);
  if (permitOverride[std::size_t(k)]) return *permitOverride[std::size_t(k)];
  int v = settings.Permissions[std::size_t(k)];
  return v == 1 ? engine::PermitMode::Ask : v == 2 ? engine::PermitMode::Deny : engine::PermitMode::Allow;
}

bool Environment::Ask_Permission(engine::Permission p, u16view instruction, u16view target) {
  const u16 kind(engine::permission_name(p));
  if (!canAsk) {
    ui.message(kind + u"は「確認」の設定です。許可するには --allow " + from_utf8(engine::permission_word(p)) +
                   u" を付けて実行してください。",
               u"実行許可");
    return false;
  }
  int slot = engine.currentSlot();
  int tab = slot >= 0 && slot < engine::kSlots ? engine.task(slot).SrcIndex : -1;
  u16 program = tab >= 0 && tab < TabPool::kTabs ? tabs.at(tab).caption : int16(slot + 1);
  return ui.askYesNo(u"プログラム「" + program + u"」の " + u16(instruction) + u" が" + kind + u"を使おうとしています。\r\r  " +
                         u16(target) + u"\r\rこの実行の間、許可しますか？",
                     u"実行許可の確認");
}

void Environment::refreshViews() { ui.consoleUpdated(engine.console().lines()); }

void Environment::prepareEngine() {
  if (!dataDirectoryOverride.empty()) dataDirectory = dataDirectoryOverride;
  else if (settings.AppliDirCheckBox && !settings.AppliDirEdit.empty())
    dataDirectory = std::filesystem::path(to_utf8(settings.AppliDirEdit));
  else dataDirectory = home;
  engine::RunSettings run;
  run.dataDirectory = dataDirectory;
  run.homeDirectory = home;
  run.commandInterpreter = settings.CMDEXEPathEdit;
  run.stopOnFileError = settings.FILE_ERROR_CheckBox;
  run.stopOnCommandError = settings.COMMAND_EXEC_ERROR_CheckBox;
  for (int k = 0; k < engine::kPermissions; ++k) run.permits[std::size_t(k)] = permitMode(engine::Permission(k));
  run.httpConnectTimeoutSeconds = settings.httpConnectTimeout();
  run.httpStallSeconds = settings.httpStallTimeout();
  run.waitUnit = settings.waitUnitMs() / 100.0;
  run.timerUnit = settings.timerUnitMs() / 100.0;
  engine.configure(run);
}

RunResult Environment::ExecTaskButtonClick() {
  if (tabs.openCount() == 0 || busy) return RunResult::NotStarted;
  ui.pumpEvents();
  busy = true;
  writeRecoveryCopies();  // a run may call code that takes the process down
  endStepping();  // a run starts every task afresh
  prepareEngine();
  RunResult result = Exec_And_Status();
  busy = false;
  return result;
}

int Environment::chartIntervalMs() const { return Settings::timeValue(settings.TimingChartEdit).value_or(20); }

RunResult Environment::Exec_And_Status() {
  if (engine.linkAll()) {
    refreshViews();
    return RunResult::Error;
  }
  runError = SourceMark{};
  chart.clear();
  SetTaskPermit();
  engine.runReset();
  cancelInput();
  debugger.Initial_Debugger();
  refreshViews();
  RunResult result = RunResult::Ended;
  stopRequested_ = false;
  running = true;
  paused = false;
  engine.start();
  lastPump_ = std::chrono::steady_clock::now();
  unsigned long long shownConsole = engine.console().version;
  long batch = 256;
  const auto started = std::chrono::steady_clock::now();
  const bool charting = settings.EventChartCheckBox;
  const int chartInterval = chartIntervalMs();
  auto chartNow = [&started] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  };
  if (charting) chart.sample(engine);
  while (running) {
    pumpIfDue(false);
    if (!running) break;
    if (paused) {
      ui.pumpEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    auto start = std::chrono::steady_clock::now();
    // A line step watches every pass; otherwise passes run in batches.
    long done = engine.runPasses(debugger.stepLineRequest() ? 1 : batch);
    auto spent = std::chrono::steady_clock::now() - start;
    if (done == batch) {
      if (spent < std::chrono::microseconds(500)) batch = std::min(batch * 2, kMaxBatch);
      else if (spent > std::chrono::milliseconds(2)) batch = std::max(batch / 2, kMinBatch);
    }
    if (charting) chart.sampleIfDue(engine, chartNow(), chartInterval);
    if (CheckRunTimeError()) {
      result = RunResult::Error;
      break;
    }
    if (IsAllTask_Finished()) break;
    if (settings.TaskActAsOneCheckBox && endedCount_ >= 1 && endedCount_ < validCount_) {
      ForceAllTaskEnd();
      break;
    }
    debugger.Check_Task_BREAK();
    if (debugger.stepLineRequest()) debugger.stepOneLine();
    if (settings.UpdateConsoleCheckBox && engine.console().version != shownConsole) {
      shownConsole = engine.console().version;
      ui.consoleUpdated(engine.console().lines());
    }
    if (done < batch) pumpIfDue(true);  // something changed state
    if (debugger.breakActive() && !debugger.stepLineRequest()) {
      // A held task: the others run on; with none, wait for the user.
      if (!engine.anyRunnable()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (allWaiting()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // A stop asked for while the last batch ran (a long blocking instruction
  // near the end of a program) still counts: the run was stopped.
  if (running) pumpIfDue(true);
  if (stopRequested_ && result == RunResult::Ended) result = RunResult::Stopped;
  running = false;
  engine.stop();
  if (charting) chart.sample(engine);  // how the run ended
  cancelInput();
  // Files left open are closed now; data that cannot be written is an I/O
  // error of the run, never a silent loss.
  if (!engine.closeAllFiles() && result != RunResult::Error && CheckRunTimeError())
    result = RunResult::Error;
  refreshViews();
  return result;
}

void Environment::PauseContinueButtonClick() {
  if (!running) return;
  paused = !paused;
  refreshViews();
}

void Environment::KillTaskButtonClick() {
  stopRequested_ = true;
  paused = false;
  running = false;
  engine.stopAll();
  if (settings.CloseAllCanvasCheckBox && engine.canvas())
    for (int i = 0; i < engine.canvas()->canvasCount(); ++i) engine.canvas()->showHide(i, false);
}

}  // namespace velmora::environment

#include "environment/environment.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "compiler/statement_compiler.h"
#include "text/lines.h"
#include "text/visible.h"

namespace velmora::environment {

namespace {

// The language of the home directory's tables, loaded before the compile
// driver builds its tokenizer and compiler from it.
language::Language load_language(const std::filesystem::path &home, UserInterface &ui) {
  language::Language language;
  language.load(home, [&ui](const u16 &m) { ui.message(m, u""); });
  return language;
}

}  // namespace

Environment::Environment(const std::filesystem::path &homeDir, UserInterface &userInterface)
    : home(homeDir), ui(userInterface), language_(load_language(homeDir, userInterface)) {
  settings_.initialise(home);
  workspace.listProgramDirectoryWhenEmpty();
  engine_.setHost(this);
  engine_.console().onLineComplete = [this](u16view line) { ui.consoleLineCompleted(line); };
}

Environment::~Environment() = default;

void Environment::clearConsole() { engine_.console().clear(); }

std::size_t Environment::trimConsole(std::size_t maxLines, std::size_t maxChars, std::size_t lineChars) {
  engine::ConsoleBuffer &console = engine_.console();
  const Lines &lines = console.lines();
  if (lines.empty() || maxLines == 0) return 0;
  std::size_t keep = 0, chars = 0;
  bool cut = false;
  while (keep < lines.size() && keep < maxLines) {
    const std::size_t size = lines[lines.size() - 1 - keep].size();
    if (keep > 0 && chars + std::min(size, lineChars) > maxChars) break;
    chars += std::min(size, lineChars);
    cut = cut || size > lineChars;
    ++keep;
  }
  const std::size_t dropped = lines.size() - keep;
  if (dropped == 0 && !cut) return 0;
  Lines kept(lines.end() - std::ptrdiff_t(keep), lines.end());
  for (u16 &line : kept)
    if (line.size() > lineChars) line.erase(0, line.size() - lineChars);
  // The buffer is built again from the kept lines: they were complete
  // before, and nobody is told of them again.
  auto completed = std::exchange(console.onLineComplete, nullptr);
  console.clear();
  console.append(kept.front());
  for (std::size_t i = 1; i < kept.size(); ++i) console.addLine(kept[i]);
  console.onLineComplete = std::move(completed);
  return dropped;
}

Lines Environment::slotListing(int slot) {
  engine_.linkAll();
  return engine_.listing(slot);
}

// ----- running

engine::PermitMode Environment::permitMode(engine::Permission p) const {
  const int k = int(p);
  if (permitOverride_[std::size_t(k)]) return *permitOverride_[std::size_t(k)];
  int v = settings_.Permissions[std::size_t(k)];
  return v == 1 ? engine::PermitMode::Ask : v == 2 ? engine::PermitMode::Deny : engine::PermitMode::Allow;
}

bool Environment::Ask_Permission(engine::Permission p, u16view instruction, u16view target) {
  const u16 kind(engine::permission_name(p));
  if (!canAsk_) {
    ui.message(kind + u"は「確認」の設定です。許可するには --allow " + text::from_utf8(engine::permission_word(p)) +
                   u" を付けて実行してください。",
               u"実行許可");
    return false;
  }
  int slot = engine_.currentSlot();
  int tab = slot >= 0 && slot < engine::kSlots ? engine_.task(slot).SrcIndex : -1;
  u16 program = tab >= 0 && tab < TabPool::kTabs ? tabs.at(tab).caption : text::int16(slot + 1);
  // The program chose its page's name and the target: shown as they are,
  // so that neither can draw the question (line breaks, direction
  // overrides), and in lines short enough that nothing is cut off.
  return ui.askPermission(u"プログラム「" + text::visible_text(program, kQuestionWidth) + u"」の " + u16(instruction) +
                              u" が" + kind + u"を使おうとしています。\r\r  " +
                              text::visible_text(target, kQuestionWidth, u"  ") + u"\r\rこの実行の間、許可しますか？",
                          u"実行許可の確認");
}

u16 Environment::Permission_Hint(engine::Permission p) {
  switch (refusalHint_) {
    case RefusalHint::Settings: return u"（許可するには「設定」の「実行許可の設定」で変更する）";
    case RefusalHint::CommandLine:
      return u"（許可するには velmora-run に --allow " + text::from_utf8(engine::permission_word(p)) + u" を付ける）";
    case RefusalHint::None: break;
  }
  return {};
}

void Environment::refreshViews() { ui.consoleUpdated(engine_.console().lines()); }

std::filesystem::path Environment::nextDataDirectory() const {
  if (!dataDirectoryOverride_.empty()) return dataDirectoryOverride_;
  if (settings_.useDataDirectory && !settings_.dataDirectoryPath.empty())
    return std::filesystem::path(text::to_utf8(settings_.dataDirectoryPath));
  return home;
}

bool Environment::runConfined() const {
  for (engine::Permission p : {engine::Permission::Files, engine::Permission::FilesRead, engine::Permission::Network})
    if (permitMode(p) != engine::PermitMode::Allow) return true;
  return false;
}

void Environment::prepareEngine() {
  dataDirectory_ = nextDataDirectory();
  engine::RunSettings run;
  run.dataDirectory = dataDirectory_;
  run.homeDirectory = home;
  run.programDirectory = workspace.programDirectory();
  run.commandInterpreter = settings_.commandInterpreter;
  run.stopOnFileError = settings_.stopOnFileError;
  run.stopOnCommandError = settings_.stopOnCommandError;
  for (int k = 0; k < engine::kPermissions; ++k) run.permits[std::size_t(k)] = permitMode(engine::Permission(k));
  run.confineCommands = runConfined();
  run.launcher = run.confineCommands ? commandLauncher_ : nullptr;
  run.httpConnectTimeoutSeconds = settings_.httpConnectTimeout();
  run.httpStallSeconds = settings_.httpStallTimeout();
  run.waitUnit = settings_.waitUnitMs() / 100.0;
  run.timerUnit = settings_.timerUnitMs() / 100.0;
  engine_.configure(run);
}

RunResult Environment::startRun() {
  if (tabs.openCount() == 0 || !mayStart(Command::Run)) return RunResult::NotStarted;
  workspace.writeRecoveryCopies();  // a run may call code that takes the process down
  endStepping();                    // a run starts every task afresh
  prepareEngine();
  const bool started = runLoop.begin();
  stateMaybeChanged();
  return started ? RunResult::Running : runLoop.result();
}

int Environment::runSlice() {
  const int next = runLoop.slice();
  if (next < 0) {
    runLoop.setOnlySlot(-1);  // the next run goes by the permit list again
    finishToolRun();
    confirmDirectoryChanges();
  }
  stateMaybeChanged();
  return next;
}

RunResult Environment::runToEnd(RunResult started, const std::function<void()> &betweenSlices) {
  if (started != RunResult::Running) {
    runLoop.setOnlySlot(-1);
    return started;
  }
  for (int next; (next = runSlice()) >= 0;) {
    if (next > 0) std::this_thread::sleep_for(std::chrono::milliseconds(next));
    if (betweenSlices) betweenSlices();
  }
  return runLoop.result();
}

RunResult Environment::runAll() { return runToEnd(startRun()); }

const char *state_name(State s) {
  switch (s) {
    case State::Idle: return "idle";
    case State::Compiling: return "compiling";
    case State::Running: return "running";
    case State::Paused: return "paused";
    case State::Held: return "held";
    case State::StepCompiling: return "step-compiling";
    case State::WaitingForInput: return "waiting-for-input";
  }
  return "?";
}

State Environment::state() const {
  if (compileDriver.stepCompiling()) return State::StepCompiling;
  if (compileDriver.compiling()) return State::Compiling;
  if (runLoop.running()) {
    if (runLoop.paused()) return State::Paused;
    if (debugger.breakActive()) return State::Held;
    if (inputSlot() >= 0) return State::WaitingForInput;
    return State::Running;
  }
  if (busy_) return State::Running;  // a line step or a single pass
  return State::Idle;
}

bool Environment::mayStart(Command command) const {
  const State s = state();
  const bool run = s == State::Running || s == State::Paused || s == State::Held || s == State::WaitingForInput;
  switch (command) {
    case Command::Compile:
    case Command::Run:
    case Command::Tool:
    case Command::StepCompile:
    case Command::CodeDebug:
    case Command::ChangeTabs:
    case Command::Settings:
    case Command::Quit: return s == State::Idle;
    case Command::StepNext:
    case Command::StepEnd: return s == State::StepCompiling;
    case Command::Pause: return run;
    case Command::Stop: return run || s == State::StepCompiling;  // something to end
  }
  return false;
}

void Environment::stateMaybeChanged() {
  const State s = state();
  if (s == shownState_) return;
  shownState_ = s;
  ui.stateChanged();
}

void Environment::releaseSlotsOf(int tab) {
  for (int s = 0; s < engine::kSlots; ++s)
    if (engine_.task(s).SrcIndex == tab && engine_.task(s).state != engine::tsEMPTY) compileDriver.releaseSlot(s);
}

}  // namespace velmora::environment

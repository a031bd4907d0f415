#include "environment/environment.h"

#include "compiler/statement_compiler.h"
#include "text/lines.h"

namespace velmora::environment {

namespace {

// The language of the home directory's tables, loaded before the compile
// driver builds its tokenizer and compiler from it.
Language load_language(const std::filesystem::path &home, UserInterface &ui) {
  Language language;
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

u16 Environment::Directory_Get(u16view type) {
  return type == u"PROG" ? settings_.AppliProgDirEdit : settings_.AppliDirEdit;
}

u16 Environment::Directory_Set(u16view type, u16view dir) {
  (type == u"PROG" ? settings_.AppliProgDirEdit : settings_.AppliDirEdit) = u16(dir);
  return u16(dir);
}

}  // namespace velmora::environment

namespace velmora::environment {

void Environment::clearConsole() { engine_.console().clear(); }

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
    ui.message(kind + u"は「確認」の設定です。許可するには --allow " + from_utf8(engine::permission_word(p)) +
                   u" を付けて実行してください。",
               u"実行許可");
    return false;
  }
  int slot = engine_.currentSlot();
  int tab = slot >= 0 && slot < engine::kSlots ? engine_.task(slot).SrcIndex : -1;
  u16 program = tab >= 0 && tab < TabPool::kTabs ? tabs.at(tab).caption : int16(slot + 1);
  return ui.askPermission(u"プログラム「" + program + u"」の " + u16(instruction) + u" が" + kind + u"を使おうとしています。\r\r  " +
                         u16(target) + u"\r\rこの実行の間、許可しますか？",
                     u"実行許可の確認");
}

u16 Environment::Permission_Hint(engine::Permission p) {
  switch (refusalHint_) {
    case RefusalHint::Settings: return u"（許可するには「設定」の「実行許可の設定」で変更する）";
    case RefusalHint::CommandLine:
      return u"（許可するには velmora-run に --allow " + from_utf8(engine::permission_word(p)) + u" を付ける）";
    case RefusalHint::None: break;
  }
  return {};
}

void Environment::refreshViews() { ui.consoleUpdated(engine_.console().lines()); }

void Environment::prepareEngine() {
  if (!dataDirectoryOverride_.empty()) dataDirectory_ = dataDirectoryOverride_;
  else if (settings_.AppliDirCheckBox && !settings_.AppliDirEdit.empty())
    dataDirectory_ = std::filesystem::path(to_utf8(settings_.AppliDirEdit));
  else dataDirectory_ = home;
  engine::RunSettings run;
  run.dataDirectory = dataDirectory_;
  run.homeDirectory = home;
  run.commandInterpreter = settings_.CMDEXEPathEdit;
  run.stopOnFileError = settings_.FILE_ERROR_CheckBox;
  run.stopOnCommandError = settings_.COMMAND_EXEC_ERROR_CheckBox;
  for (int k = 0; k < engine::kPermissions; ++k) run.permits[std::size_t(k)] = permitMode(engine::Permission(k));
  run.httpConnectTimeoutSeconds = settings_.httpConnectTimeout();
  run.httpStallSeconds = settings_.httpStallTimeout();
  run.waitUnit = settings_.waitUnitMs() / 100.0;
  run.timerUnit = settings_.timerUnitMs() / 100.0;
  engine_.configure(run);
}

RunResult Environment::ExecTaskButtonClick() {
  if (tabs.openCount() == 0 || busy_) return RunResult::NotStarted;
  ui.pumpEvents();
  busy_ = true;
  workspace.writeRecoveryCopies();  // a run may call code that takes the process down
  endStepping();  // a run starts every task afresh
  prepareEngine();
  RunResult result = runLoop.Exec_And_Status();
  busy_ = false;
  return result;
}

void Environment::releaseSlotsOf(int tab) {
  for (int s = 0; s < engine::kSlots; ++s)
    if (engine_.task(s).SrcIndex == tab && engine_.task(s).state != engine::tsEMPTY) compileDriver.DelTaskButtonClick(s);
}

}  // namespace velmora::environment

// The compile driver: compiling the active tab, the compile report and
// registering the T-code in a task slot.
#include "environment/compile_driver.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "compiler/statement_compiler.h"
#include "text/fields.h"

namespace velmora::environment {

using engine::TTaskState;

CompileDriver::CompileDriver(const language::Language &language, const Settings &settings, TabPool &tabs,
                             engine::Engine &engine, Debugger &debugger, const RunLoop &runLoop, UserInterface &ui,
                             std::function<bool()> mayChangeSlots, std::function<void()> slotsChanging,
                             std::function<void()> stateChanged)
    : language_(language),
      settings_(settings),
      tabs_(tabs),
      engine_(engine),
      debugger_(debugger),
      runLoop_(runLoop),
      ui_(ui),
      mayChangeSlots_(std::move(mayChangeSlots)),
      slotsChanging_(std::move(slotsChanging)),
      stateChanged_(std::move(stateChanged)),
      tokenizer_(std::make_unique<compiler::Tokenizer>(language)),
      compiler_(std::make_unique<compiler::StatementCompiler>(language, static_cast<compiler::CompileHost &>(*this))) {}

CompileDriver::~CompileDriver() = default;

u16 CompileDriver::explanationLine() const {
  return diagnostics_.empty() ? u16() : compiler::diagnostic_status_text(diagnostics_.front());
}

compiler::DiagnosticOptions CompileDriver::diagnosticOptions() const {
  compiler::DiagnosticOptions o;
  o.replaceSingleQuotes = settings_.replaceSingleQuotes;
  o.asciiNamesOnly = settings_.asciiNamesOnly;
  o.tabPitch = settings_.consoleTabPitch();
  return o;
}

// The mark of a failed compile goes where its explanation points (a missing
// ";" belongs to the line before the one the compiler stopped at).
void CompileDriver::explainFailure() {
  if (diagnostics_.empty() || diagnostics_.front().severity != compiler::Severity::Error) return;
  const compiler::Diagnostic &d = diagnostics_.front();
  if (explanationTab_ < 0) return;
  if (compileError_.tab == explanationTab_) compileError_.line = d.line;
  else compileError_ = {explanationTab_, d.line, lastCompileMessage_.empty() ? d.explanation : lastCompileMessage_};
}

void CompileDriver::locateLine(u16view line) {
  int n = -1;
  if (tabs_.active() >= 0 && text::parse_int(line, n) && n >= 0)
    compileError_ = {tabs_.active(), n, lastCompileMessage_};
  ui_.locateLine(tabs_.active(), line);
}

compiler::TokenStream CompileDriver::tokenize(int tab, bool compileMode) {
  compiler::TokenizeOptions o;
  o.IsUpperCase = compileMode;
  o.IsGenSpaceInfo = !compileMode;
  o.IsNoComment = !compileMode;
  o.tabPitch = settings_.consoleTabPitch();
  o.variableAlert = settings_.variableAlert;
  const Lines empty;
  const Lines &text = tab >= 0 && tab < TabPool::kTabs ? tabs_.at(tab).lines : empty;
  return tokenizer_->Make_Token_From_Text(text, o, [this](const u16 &m) { ui_.message(m, u""); });
}

bool CompileDriver::extractTokens(bool general) {
  if (stepCompiling_) return false;  // the step compile's tokens are on show
  if (tabs_.active() < 0 || !tabs_.at(tabs_.active()).inUse) return false;
  extractedTokens_ = tokenize(tabs_.active(), !general);
  return true;
}

CompileDriver::TokenClass CompileDriver::token_class(u16view tokenLine) {
  const u16 type = compiler::token_type(tokenLine);
  if (type == u"∇" || type == u"Σ" || type == u"□" || type == u"xVECTVAR" || type == u"xNVAR")
    return TokenClass::Variable;
  if (type == u"Δ" || type == u"xN") return TokenClass::Number;
  if (type == u"Ω") return TokenClass::String;
  if (type == u"xFNAME" || type == u"xMATH") return TokenClass::Function;
  if (type == u"ψ") return TokenClass::Spacing;
  if (type.empty()) return TokenClass::Other;
  return TokenClass::Keyword;
}

int CompileDriver::compileActiveTab() {
  compileError_ = SourceMark{};  // a mark belongs to the compile that made it
  if (!mayCompile()) return -1;
  report_.clear();
  if (tabs_.active() < 0) return -1;
  int slot = -1;
  for (int s = 0; s < engine::kSlots && slot < 0; ++s)
    if (engine_.task(s).SrcIndex == tabs_.active()) slot = s;
  if (slot < 0 || engine_.task(slot).state == engine::tsEMPTY) return compileToFreeSlot();
  // The question belongs to the compile: nothing else starts while it is up.
  compiling_ = true;
  stateChanged_();
  // The slot as the task status list names it (01 to 10).
  const bool replace =
      ui_.askYesNo(u"スロットNo. " + engine::slot_name(slot) + u"  既存のコードを差し替えるか？", u"確認");
  compiling_ = false;
  stateChanged_();
  if (!replace) return -1;
  return Compile_Replace(slot, engine::tsACTIVE);
}

int CompileDriver::compileToFreeSlot() {
  compileError_ = SourceMark{};
  if (!mayCompile()) return -1;
  report_.clear();
  return compileAndRegister(engine::tsACTIVE);
}

int CompileDriver::compileAndRegister(TTaskState initial) {
  Tab *tab = tabs_.activeTab();
  if (!tab) return -1;
  compileError_ = SourceMark{};
  lastCompileMessage_.clear();
  diagnostics_.clear();
  explanationTab_ = tabs_.active();
  if (settings_.replaceSingleQuotes)
    for (u16 &line : tab->lines)
      for (char16_t &c : line)
        if (c == u'\'') c = u'"';
  lastTokens_ = tokenize(tabs_.active(), true);
  report_ = lastTokens_.report;
  compiledTab_ = tabs_.active();
  compiledLines_ = tab->lines;
  diagnosedLines_ = tab->lines;
  if (settings_.asciiNamesOnly) {
    if (auto bad = compiler::ascii_names_diagnostic(lastTokens_, diagnosedLines_)) {
      compileOk_ = false;
      compileError_ = {tabs_.active(), compiler::non_ascii_name(lastTokens_)->second, bad->message};
      diagnostics_ = {*bad};
      ++compilesEnded_;
      if (settings_.showCompilerMessages) ui_.message(bad->message, u"");
      return -1;
    }
  }
  stepPurpose_ = Purpose::Register;
  stepInitial_ = initial;
  const bool step = stepTransform_ && !runLoop_.running() && !stepCompiling_;
  return beginCompile(step);
}

int CompileDriver::beginCompile(bool step) {
  compiling_ = true;
  stateChanged_();
  messagesShown_ = waitsShown_ = 0;
  stepEnd_ = false;
  stepCompiling_ = step;
  const int result = resumeCompile();
  compiling_ = false;
  stateChanged_();
  return result;
}

int CompileDriver::resumeCompile() {
  bool ok = false;
  waitsSeen_ = messagesSeen_ = 0;
  compileMessages_.clear();
  try {
    ok = compiler_->compile(lastTokens_.tokens, stepCompiling_ && !stepEnd_, lastTokens_.columns);
  } catch (const StepPause &) {
    return -1;  // the user's "次" or "終了" goes on from here
  }
  const bool stepped = stepCompiling_;
  stepCompiling_ = false;
  lastTcode_ = compiler_->tcode();
  diagnostics_ = compiler::compile_diagnostics({diagnosedLines_, lastTokens_, *compiler_, compileMessages_, ok});
  ++compilesEnded_;
  int result = -1;
  if (stepPurpose_ == Purpose::Analyze) {
    compileOk_ = false;  // a step compile registers nothing
    result = ok ? 0 : -1;
  } else {
    compileOk_ = ok;
    compileReport();
    if (ok) {
      compileWarnings();
      result = registerCode(stepInitial_);
    } else {
      explainFailure();
      if (settings_.showErrorLocator && settings_.showCompilerMessages)
        ui_.showErrorLocation(lastTokens_.tokens, compiler_->lastTokenIndex());
    }
  }
  if (stepped) {
    stepResult_ = result;
    stateChanged_();
  }
  return result;
}

// Faults a program compiles with but meets only when it is loaded or run
// (a name longer than the variable table keeps, more labels than the loader
// takes, more timer names than there are timers) are said at compile time
// too, in one box.
void CompileDriver::compileWarnings() {
  u16 text;
  for (const compiler::Diagnostic &d : diagnostics_)
    if (std::string_view id = d.id; id == "long-name" || id == "too-many-labels" || id == "too-many-timers")
      text += d.message + u"\r";
  if (!text.empty()) ui_.message(u"----- コンパイル警告 -----\r\r" + text, u"");
}

// A registration the engine refused: the diagnostics already hold its error
// when the program itself is the cause (a label or function defined twice);
// otherwise the engine's reason (no free slot, too many variables) comes first.
void CompileDriver::registrationFailed() {
  const bool explained = !diagnostics_.empty() && diagnostics_.front().severity == compiler::Severity::Error;
  if (!explained) {
    compiler::Diagnosis d;
    d.kind = compiler::Failure::RegistrationFailed;
    d.word = registrationMessages_.empty() ? u16() : registrationMessages_.front();
    while (!d.word.empty() && (d.word.back() == u'\r' || d.word.back() == u'\n' || d.word.back() == u' '))
      d.word.pop_back();
    compiler::Diagnostic error;
    error.id = compiler::explanation_row(d.kind)->id;
    error.message = d.word;
    error.explanation = compiler::explanation_text(d);
    diagnostics_.insert(diagnostics_.begin(), std::move(error));
  }
  explainFailure();
}

Lines compile_report_messages(const Lines &report, bool variableAlert, bool programReport) {
  Lines out;
  if (report.empty()) return out;
  if (variableAlert) {
    u16 text = u"----- プログラム変数警告 -----\r\r";
    bool any = false;
    for (const u16 &line : report)
      if (line.find(u"変数削除") != u16::npos) {
        text += line + u"\r";
        any = true;
      }
    if (any) text += u"\r＊ 変数使用状況確認が必要 ＊\r";
    out.push_back(text);
  }
  if (programReport) {
    u16 text = u"----- プログラムレポート -----\r\r";
    for (const u16 &line : report) text += line + u"\r";
    out.push_back(text);
  }
  return out;
}

void CompileDriver::compileReport() {
  for (const u16 &text : compile_report_messages(report_, settings_.variableAlert, settings_.showCompileReport))
    ui_.message(text, u"");
}

bool CompileDriver::startStepCompile() {
  if (!tabs_.activeTab() || !mayChangeSlots_()) return false;
  report_.clear();
  compileError_ = SourceMark{};
  lastCompileMessage_.clear();
  diagnostics_.clear();
  explanationTab_ = tabs_.active();
  lastTokens_ = tokenize(tabs_.active(), true);
  diagnosedLines_ = tabs_.activeTab()->lines;
  compiledTab_ = tabs_.active();
  stepPurpose_ = Purpose::Analyze;
  return beginCompile(true) >= 0;
}

void CompileDriver::stepCompileNext() {
  if (!stepCompiling_ || compiling_) return;
  compiling_ = true;
  resumeCompile();
  compiling_ = false;
  stateChanged_();
}

void CompileDriver::endStepCompile() {
  stepEnd_ = true;
  stepTransform_ = false;
  stepCompileNext();  // a paused step compile runs on to its end
}

void CompileDriver::message(const u16 &text) {
  compileMessages_.push_back(text);
  // A step compile that goes on compiles its tokens again from the start:
  // what it said before is not said twice.
  if (++messagesSeen_ <= messagesShown_) return;
  messagesShown_ = messagesSeen_;
  lastCompileMessage_ = text;
  // The compiler's own message boxes, unless the setting leaves only the
  // explanation.
  if (settings_.showCompilerMessages) ui_.message(text, u"");
}

void CompileDriver::stepWait(const compiler::StatementCompiler &c) {
  if (stepEnd_) return;
  if (++waitsSeen_ <= waitsShown_) return;  // passed before: the replay goes on
  waitsShown_ = waitsSeen_;
  CompileStep step;
  step.tcode = c.tcode();
  step.tokens = c.tokens();
  step.cursor = c.tokenCursor();
  if (c.tokenCursor() + 1 < int(c.tokens().size())) step.nextToken = c.tokens()[std::size_t(c.tokenCursor() + 1)];
  step.tokenBuffer = c.tokenBuffer();
  for (const compiler::StateEntry &e : c.stateStack())
    step.states.push_back(u16(1, e.group) + u" " + text::int16(e.row) + u" " + text::int16(e.field) + u" " +
                          text::int16(e.cursor));
  step.labels = c.labelStack();
  step.terms = c.termStack();
  step.operators = c.operatorStack();
  step.operands = c.operandStack();
  if (ui_.compileStepShown(step)) throw StepPause{};  // the compile waits for "次"
}

int CompileDriver::registerCode(TTaskState initial) {
  // The code belongs to the tab it was compiled from, which need not be the
  // active one any more when "追加" registers it again.
  if (!compileOk_ || compiledTab_ < 0 || compiledTab_ >= TabPool::kTabs) return -1;
  Tab *tab = &tabs_.at(compiledTab_);
  if (!tab->inUse) return -1;
  slotsChanging_();  // the next step starts the tasks afresh, linked
  int slot = engine_.registerProgram(lastTcode_, lastTokens_.userSymbols, lastTokens_.sharedNames,
                                     registrationMessages_, initial, tab->caption, compiledTab_);
  if (slot < 0) {
    if (compiledTab_ == explanationTab_) registrationFailed();
    if (settings_.variableAlert && settings_.showCompilerMessages && !registrationMessages_.empty()) {
      u16 text;
      for (std::size_t i = 0; i < registrationMessages_.size(); ++i)
        text += text::int16(long(i) + 1) + u" " + registrationMessages_[i] + u"\r";
      ui_.message(text, u"");
    }
    return -1;
  }
  compiledSource_[std::size_t(slot)] = compiledLines_;
  selectedTask_ = slot;
  return slot;
}

int CompileDriver::registerAgain() {
  if (!mayChangeSlots_()) return -1;
  return registerCode(engine::tsACTIVE);
}

bool CompileDriver::deleteSelectedSlot() {
  if (!mayChangeSlots_()) return false;
  if (selectedTask_ < 0 || selectedTask_ >= engine::kSlots) return false;
  if (engine_.task(selectedTask_).state == engine::tsEMPTY) return false;
  releaseSlot(selectedTask_);
  return true;
}

void CompileDriver::selectSlot(int slot) {
  if (slot < 0 || slot >= engine::kSlots) return;
  selectedTask_ = slot;
  const engine::TTaskInfo &t = engine_.task(slot);
  if (t.state != engine::tsEMPTY && t.SrcIndex >= 0 && t.SrcIndex < TabPool::kTabs && tabs_.at(t.SrcIndex).inUse)
    tabs_.activate(t.SrcIndex);
}

int CompileDriver::Compile_Replace(int slot, TTaskState initial) {
  if (slot < 0 || slot >= engine::kSlots) return -1;
  selectedTask_ = slot;
  releaseSlot(slot);
  return compileAndRegister(initial);
}

void CompileDriver::releaseSlot(int slot) {
  if (slot < 0 || slot >= engine::kSlots) return;
  slotsChanging_();
  debugger_.removeSlotBreakpoints(slot);
  compiledSource_[std::size_t(slot)].clear();
  engine_.releaseSlot(slot);
}

int CompileDriver::findSlot(int page, u16view programName) const {
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = engine_.task(s);
    if (t.SrcIndex == page && t.FileName == programName) return s;
  }
  return -1;
}

u16 CompileDriver::taskStatusLine(int slot) const {
  const engine::TTaskInfo &t = engine_.task(slot);
  return engine::slot_name(slot) + u": " + t.name + u": " + u16(engine::task_state_text(t.state)) + u" #" +
         text::int16(t.SrcIndex + 1) + u" T" + text::int16(t.PcodeListNo) + u" " + t.FileName;
}

}  // namespace velmora::environment

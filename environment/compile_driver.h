#pragma once
// The compile driver: the active tab tokenised and compiled (at once, or
// token by token for "開始" and "ｽﾃｯﾌﾟ変換"), the compile report and
// warnings, the error mark, and the T-code registered in a task slot; the
// slot list ("削除", "追加", the task status list) goes with it.
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "compiler/compile_host.h"
#include "compiler/diagnostics.h"
#include "compiler/explanations.h"
#include "compiler/tokenizer.h"
#include "engine/engine.h"
#include "environment/debugger.h"
#include "environment/run_loop.h"
#include "environment/settings.h"
#include "environment/tab_pool.h"
#include "environment/user_interface.h"
#include "language/language.h"

namespace velmora::compiler {
class StatementCompiler;
}

namespace velmora::environment {

// The messages a compile shows for the rename report of its tokens: the
// variable warning (removed names, when variableAlert) and the whole report
// (when programReport); none for an empty report.
Lines compile_report_messages(const Lines &report, bool variableAlert, bool programReport);

class CompileDriver : private compiler::CompileHost {
 public:
  // mayChangeSlots tells whether the environment's state lets a command
  // compile or change the slots now; slotsChanging is called before a slot's
  // code changes (stepping ends); stateChanged when a compile starts, pauses
  // for the user or ends.
  CompileDriver(const language::Language &language, const Settings &settings, TabPool &tabs, engine::Engine &engine,
                Debugger &debugger, const RunLoop &runLoop, UserInterface &ui, std::function<bool()> mayChangeSlots,
                std::function<void()> slotsChanging, std::function<void()> stateChanged);
  ~CompileDriver() override;

  const Lines &report() const { return report_; }  // rename report lines of the last tokenisation
  const Lines &registrationMessages() const { return registrationMessages_; }  // messages of the last registration
  const compiler::TokenStream &lastTokens() const { return lastTokens_; }
  const Lines &lastTcode() const { return lastTcode_; }
  compiler::TokenStream tokenize(int tab, bool compileMode);
  // "トークン抽出" (compile mode, general off) and "トークン抽出(汎用)"
  // (spacing mode: blanks as ψ tokens, comments kept, case as written): the
  // active tab's token stream and name lists, kept in extractedTokens.
  // False when no tab is open.
  bool extractTokens(bool general);
  const compiler::TokenStream &extractedTokens() const { return extractedTokens_; }
  // The class of a token line, for its colour in the token view.
  enum class TokenClass { Keyword, Variable, Number, String, Function, Spacing, Other };
  static TokenClass token_class(u16view tokenLine);
  // Compiles the active tab into its slot (asking before replacing code).
  // Refused unless the environment is idle. With "ｽﾃｯﾌﾟ変換" ticked the
  // compile pauses before its first token: -1 then, and stepCompiling().
  int compileActiveTab();
  bool mayCompile() const { return mayChangeSlots_(); }
  // A compile is in progress (a step compile's pause not counted).
  bool compiling() const { return compiling_; }
  // "ｺﾝﾊﾟｲﾙ": compiles the active tab into the first free slot; refused
  // as compileActiveTab is.
  int compileToFreeSlot();
  // "追加": the T-code of the last successful compile registered again, into
  // the first free slot, for the tab it was compiled from; -1 when there is
  // none, that tab is closed, or a run or step compile is going on.
  int registerAgain();
  int compileAndRegister(engine::TTaskState initial);
  int registerCode(engine::TTaskState initial);
  // RUN PAGE and "このタブを実行": the active tab compiled into a slot,
  // replacing its task without asking.
  int Compile_Replace(int slot, engine::TTaskState initial);
  // Frees a slot: its breakpoints, its task and variables.
  void releaseSlot(int slot);
  // "削除": frees the selected slot (see selectedTask) and its breakpoints;
  // false when no loaded slot is selected or a run holds the slots.
  bool deleteSelectedSlot();
  // The task selection field: the slot last chosen in the task status list,
  // or registered last; -1 when none. The pause command reads it.
  int selectedTask() const { return selectedTask_; }
  void clearTaskSelection() { selectedTask_ = -1; }
  // A row of the task status list chosen: its slot becomes the selected task
  // and, when the slot is in use, the tab it was compiled from the active tab.
  void selectSlot(int slot);
  int findSlot(int page, u16view programName) const;
  u16 taskStatusLine(int slot) const;

  // ----- step compile
  // "開始": compiles the active tab token by token and registers nothing.
  // Before every token the state goes to the UI; a UI that shows it
  // (compileStepShown true) gets control back at once, the compile paused
  // (stepCompiling), and answers later with "次" (stepCompileNext: one
  // token further) or "終了" (endStepCompile: on to the end without pauses).
  // Resuming compiles the same tokens again up to the next token: the
  // compile is deterministic and its messages are not repeated. True when
  // the compile succeeded at once; a paused one ends with stepResult.
  bool startStepCompile();
  void stepCompileNext();
  void endStepCompile();
  bool stepCompiling() const { return stepCompiling_; }
  // How the last step compile ended: its slot ("ｽﾃｯﾌﾟ変換"), 0 ("開始"
  // succeeded) or -1 (failed).
  int stepResult() const { return stepResult_; }
  // "ｽﾃｯﾌﾟ変換": ticked when a compile starts ("文法検査＆コード生成", "ｺﾝﾊﾟｲﾙ"),
  // that compile waits for "次" before every token as "開始" does, and
  // registers its code at the end; "終了" unticks it and lets it run on.
  bool stepTransform() const { return stepTransform_; }
  void setStepTransform(bool on) { stepTransform_ = on; }

  // Where the last failed compile stopped (no mark when it succeeded).
  const SourceMark &compileError() const { return compileError_; }
  // The diagnostics of the last compile of a tab, as compiler::
  // program_diagnostics gives them for its text: when it failed (or its
  // registration did), the error first; the warnings of a program that
  // compiled after it. explanationTab: its tab.
  const std::vector<compiler::Diagnostic> &diagnostics() const { return diagnostics_; }
  int explanationTab() const { return explanationTab_; }
  // How many compiles have ended (a paused step compile not counted), so a
  // face can tell that diagnostics() belong to a new one.
  int compilesEnded() const { return compilesEnded_; }
  // The status-bar text of the first diagnostic ("行 3（5 文字目）: …"), or empty.
  u16 explanationLine() const;
  // What the settings make of a compile.
  compiler::DiagnosticOptions diagnosticOptions() const;
  // The tab text each slot was compiled from, to tell a changed tab.
  const std::array<Lines, engine::kSlots> &compiledSource() const { return compiledSource_; }

 private:
  const language::Language &language_;
  const Settings &settings_;
  TabPool &tabs_;
  engine::Engine &engine_;
  Debugger &debugger_;
  const RunLoop &runLoop_;
  UserInterface &ui_;
  std::function<bool()> mayChangeSlots_;
  std::function<void()> slotsChanging_;
  std::function<void()> stateChanged_;

  std::unique_ptr<compiler::Tokenizer> tokenizer_;
  std::unique_ptr<compiler::StatementCompiler> compiler_;
  Lines report_;
  Lines registrationMessages_;
  compiler::TokenStream lastTokens_;
  Lines lastTcode_;
  compiler::TokenStream extractedTokens_;
  int selectedTask_ = -1;
  bool stepCompiling_ = false;
  bool stepTransform_ = false;
  bool compiling_ = false;
  bool stepEnd_ = false;
  // The step compile's place: waits passed and messages shown so far; a
  // replay skips them. What the compile is for, and how it ended.
  struct StepPause {};
  enum class Purpose { Register, Analyze } stepPurpose_ = Purpose::Register;
  engine::TTaskState stepInitial_ = engine::tsACTIVE;
  int waitsSeen_ = 0, waitsShown_ = 0, messagesSeen_ = 0, messagesShown_ = 0;
  int stepResult_ = -1;
  int beginCompile(bool step);
  int resumeCompile();
  SourceMark compileError_;
  std::vector<compiler::Diagnostic> diagnostics_;
  Lines compileMessages_;  // every message of the compile now running, replays included
  Lines diagnosedLines_;   // the text the diagnostics are of
  int explanationTab_ = -1;
  int compilesEnded_ = 0;
  void explainFailure();
  std::array<Lines, engine::kSlots> compiledSource_;
  bool compileOk_ = false;
  int compiledTab_ = -1;    // the tab the last successful compile came from
  Lines compiledLines_;     // and its text then
  u16 lastCompileMessage_;  // the message a located compile error goes with

  // CompileHost
  void message(const u16 &text) override;
  void locateLine(u16view line) override;
  void stepWait(const compiler::StatementCompiler &state) override;

  void compileReport();
  void compileWarnings();
  void registrationFailed();
};

}  // namespace velmora::environment

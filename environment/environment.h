#pragma once
// The IDE without widgets: one object holding the language, the settings,
// the engine and the parts (tabs, debugger, run loop, compile driver,
// workspace), and coordinating them. The IDE window, the headless runner and
// the browser bridge drive it through its commands and its parts' commands,
// read its state through getters, and answer it through UserInterface.
#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

#include "engine/engine.h"
#include "environment/compile_driver.h"
#include "environment/debugger.h"
#include "environment/generated_programs.h"
#include "environment/run_loop.h"
#include "language/word_editing.h"
#include "environment/settings.h"
#include "environment/tab_pool.h"
#include "environment/timing_chart.h"
#include "environment/workspace.h"

namespace velmora::environment {

// What the environment is doing. Every command asks mayStart first; the
// window enables its actions from the same answer.
enum class State {
  Idle,             // nothing owns the slots (code-debug stepping included)
  Compiling,        // a compile is in progress (a dialog of it is open)
  Running,          // a run goes on, slice by slice
  Paused,           // a run is paused ("〓")
  Held,             // a run with a task held at a breakpoint
  StepCompiling,    // a step compile waits for "次" or "終了"
  WaitingForInput,  // a run with a task waiting for a typed line (GETS)
};
const char *state_name(State s);

// The commands whose start depends on the state.
enum class Command {
  Compile,      // any compile into a slot, "追加", "削除"
  Run,          // "●", "全スロット実行", "このタブを実行"
  Tool,         // a generated program (web page, extraction, renames)
  StepCompile,  // "開始"
  StepNext,     // "次"
  StepEnd,      // "終了"
  CodeDebug,    // "★", "タスクリセット", "１ｽﾃｯﾌﾟ実行"
  Pause,        // "〓" / "○"
  Stop,         // "■"
  ChangeTabs,   // open, close, books, the file list
  Settings,     // the settings and language dialogs
  Quit,
};

class Environment : public engine::EngineHost {
 public:
  Environment(const std::filesystem::path &home, UserInterface &ui);
  ~Environment() override;

  const std::filesystem::path home;
  UserInterface &ui;

 private:
  // Declared first: the parts below hold references to them.
  language::Language language_;
  Settings settings_;
  engine::Engine engine_;

 public:
  // The language tables of the programs (word renames go through renameWord).
  const language::Language &language() const { return language_; }
  // The settings in force; setSettings replaces them (the settings dialog).
  const Settings &settings() const { return settings_; }
  void setSettings(const Settings &settings) { settings_ = settings; }
  // Writes "User_Setting.Txt": the settings in force, except a directory a
  // running program changed ([DIR PROG ...], [DIR DATA ...]) that the user
  // has not kept yet, which is written as it was. False when the file
  // cannot be written.
  bool saveSettings() const;
  // After a run: for each directory the program changed, the user is asked
  // whether to keep the change ("いいえ" by default); without anyone to ask,
  // or when the answer is no, the directory is as it was before the run.
  void confirmDirectoryChanges();
  // The engine as the views see it: a snapshot of tasks, records, variables
  // and the console. Runs, compiles and the debugger change it through the
  // environment's commands.
  const engine::Engine &engine() const { return engine_; }
  // The canvases a run draws on, the clock of WAIT and TIMER (tests replace
  // it), and the console emptied ("コンソールクリア").
  void setCanvas(engine::CanvasServices *canvas) { engine_.setCanvas(canvas); }
  void setEngineClock(std::function<double()> clock) { engine_.setClock(std::move(clock)); }
  void clearConsole();
  // Ends the engine's transfers, files and libraries, for a process about
  // to end without destroying the environment (velmora-run after its run).
  void releaseEngineResources() { engine_.releaseResources(); }
  // Writes out the buffers of the program's open files (engine/engine.h).
  void flushOpenFiles() { engine_.flushOpenFiles(); }
  // Keeps the newest console lines: at most maxLines lines and maxChars
  // characters, each line by its last lineChars characters (the last line
  // is always kept); returns how many lines left the front. A face that
  // shows the console as it grows and keeps only its newest part (the
  // browser) calls it, so that a program printing without end holds
  // bounded memory.
  std::size_t trimConsole(std::size_t maxLines, std::size_t maxChars, std::size_t lineChars);
  // The P-code listing of a slot with its variables linked, as a run would
  // link them ("--listing").
  Lines slotListing(int slot);

  // The parts: the tabs, the debugger, the run loop, the compile driver and
  // the workspace (files, books, recent files, recovery copies).
  TabPool tabs;
  Debugger debugger{engine_, ui, settings_};
  RunLoop runLoop{engine_, ui, settings_, debugger, [this] { cancelInput(); }};
  CompileDriver compileDriver{language_,
                              settings_,
                              tabs,
                              engine_,
                              debugger,
                              runLoop,
                              ui,
                              [this] { return mayStart(Command::Compile); },
                              [this] { endStepping(); },
                              [this] { stateMaybeChanged(); }};
  Workspace workspace{home,
                      tabs,
                      settings_,
                      ui,
                      [this](int tab) { releaseSlotsOf(tab); },
                      [this] { runLoop.stopWithoutTabs(); },
                      [this] { return !mayStart(Command::ChangeTabs); }};

  // ----- the state and the one question every command asks
  State state() const;
  bool mayStart(Command command) const;

  // ----- keyboard input (GETS)
  // The slot the input line serves (the task that asked first), or -1.
  int inputSlot() const { return inputQueue_.empty() ? -1 : inputQueue_.front(); }
  // Hands a typed line to that task and lets it run on. False when no task asks.
  bool deliverInput(const u16 &line);
  // Ends every wait for input (a run starts or ends, the stop button).
  void cancelInput();

  // ----- permissions of running programs: the settings, unless the runner
  // overrides a kind for its run. Without anyone to ask (the runner), an
  // "ask" kind is denied with a hint how to allow it.
  using PermitOverrides = std::array<std::optional<engine::PermitMode>, engine::kPermissions>;
  const PermitOverrides &permitOverride() const { return permitOverride_; }
  bool canAsk() const { return canAsk_; }
  // Runs without anyone to ask (the runner, the browser): the kinds the
  // command line allows or denies override the settings.
  void setUnattended(const PermitOverrides &overrides = {}) {
    canAsk_ = false;
    permitOverride_ = overrides;
    refusalHint_ = RefusalHint::None;
  }
  // What a refusal adds about where to allow the kind: the settings page
  // "実行許可の設定" (the window), "--allow KIND" (the runner), nothing.
  enum class RefusalHint { Settings, CommandLine, None };
  void setRefusalHint(RefusalHint hint) { refusalHint_ = hint; }
  engine::PermitMode permitMode(engine::Permission p) const;

  // ----- compiling and the slots (the compile driver: compileDriver)
  bool mayCompile() const { return mayStart(Command::Compile); }
  int Compile_Replace(int slot, engine::TTaskState initial) override {
    return compileDriver.Compile_Replace(slot, initial);
  }

  // ----- generated programs
  // A tool's program runs as a run of its slot alone, like "このタブを実行":
  // the start... commands start it (RunResult::Running; runSlice drives it
  // and "■" ends it) and finish the tool's work once the run has ended; the
  // run... commands drive it to its end in a plain loop (runToEnd).
  const u16 &extractionEncoding() const { return extractionEncoding_; }
  // A program from a new tab "__$$$__" (closed afterwards unless kept);
  // `then` is told how the run ended, after the tab was dealt with.
  RunResult startSystemProgram(const Lines &program, bool keepTab, std::function<void(RunResult)> then = {});
  RunResult runSystemProgram(const Lines &program, bool keepTab);
  // "WEBページ読込（URL）": the fetched text in a new page named after the
  // URL; webPageLoaded tells, once the run has ended, whether it came.
  RunResult startWebPage(const u16 &url, const u16 &encoding);
  bool loadWebPage(const u16 &url, const u16 &encoding);
  bool webPageLoaded() const { return webPageLoaded_; }
  // The tab of the web-page tool's own program while it loads (-1 when
  // none): the window does not show it.
  int toolProgramTab() const { return toolTab_; }
  // "抽出": the generated program in a new page, compiled and run.
  RunResult startExtraction(const ExtractionSpec &spec);
  RunResult runExtraction(const ExtractionSpec &spec);

  // ----- the language's lists as the table dialog edits them
  enum class LanguageList { Keywords, Symbols, MathFunctions, Commands, Grammar };
  static const char *languageFile(LanguageList which);  // its table file
  const Lines &languageList(LanguageList which) const;
  // An edited list: words sorted (commands longest first), written to its
  // table file in the home directory and in force from now on; the user is
  // told a restart applies it. False (after the message) when the list is
  // empty or the file could not be written.
  bool replaceLanguageList(LanguageList which, const Lines &edited);

  // ----- renaming words of the language
  const std::optional<std::pair<u16, u16>> &pendingRename() const { return pendingRename_; }
  void renameWord(const u16 &oldWord, const u16 &newWord);
  // Saves a pending rename: asks whether saved programs change too, then
  // writes the tables beside the program.
  void confirmRename();
  // The listed files and open tabs that held the old word; what changed,
  // also told in one message.
  Lines rewriteUserPrograms(const u16 &oldWord, const u16 &newWord);

  // ----- stepping outside a run (the debugger's table and holds: debugger)
  // "★": outside a run, the task in a slot one source line further; every
  // runnable task advances with it, pass by pass. The first step starts the
  // tasks as a run would; a run ends the stepping. False when refused.
  bool stepTaskLine(int slot);
  void endStepping();  // a changed slot or a run ends it
  // "タスクリセット（CODE DEBUG）": every loaded task back to its start, as a
  // run begins, without running; the passes of "１ｽﾃｯﾌﾟ実行（CODE DEBUG）"
  // (stepOnePass, which resets first when needed) follow. False when a run
  // or a compile holds the slots or the link failed.
  bool resetTasks();
  bool stepOnePass();
  bool stepping() const { return stepping_; }
  const u16 &stepLine() const { return stepLine_; }

  // ----- what a run starts
  int slotOfTab(int tab) const;  // the first loaded slot compiled from a tab, or -1
  bool tabChangedSinceCompile(int tab) const;
  // The slots the next "●" starts (permitted and loaded), or while a run
  // lasts the slots it runs.
  std::array<bool, engine::kSlots> slotsToRun() const;
  int slotsToRunCount() const;
  // "このタブを実行": compiles the tab when it has no slot or changed since
  // its compile (replacing its slot without asking), then runs that slot
  // alone, whatever the permit list says for the others. startTab only
  // starts it (RunResult::Running; runSlice drives it), runTab runs it to
  // its end.
  RunResult startTab(int tab);
  RunResult runTab(int tab);

  // ----- runs (the loop itself, its permits, pause and stop: runLoop)
  bool busy() const { return busy_; }                                            // a run or a step owns the engine
  const std::filesystem::path &dataDirectory() const { return dataDirectory_; }  // fixed when a run starts
  std::filesystem::path nextDataDirectory() const;                               // the one the next run will use
  const std::filesystem::path &dataDirectoryOverride() const { return dataDirectoryOverride_; }  // --data, when given
  void setDataDirectoryOverride(const std::filesystem::path &dir) { dataDirectoryOverride_ = dir; }
  // Whether the next run is confined: writing, reading outside the data
  // directory or the network not allowed outright. Its commands then start
  // with a clean environment and end with the run (through `launcher` when
  // the face gives one: the runner's bubblewrap).
  bool runConfined() const;
  void setCommandLauncher(engine::CommandLauncher *launcher) { commandLauncher_ = launcher; }
  // "全スロット実行(&E)": recovery copies written, stepping ended, the engine
  // configured from the settings, then the run loop's run. startRun only
  // starts it: RunResult::Running, or why it did not start (NotStarted when
  // the state refuses, Error when the link failed).
  RunResult startRun();
  // One slice of the run that is on (see RunLoop::slice): the milliseconds
  // until the next slice is due, or -1 once the run has ended; the faces
  // call it from their event loop (the window) or a plain loop (the
  // runner, the browser), checking their stop buttons in between.
  int runSlice();
  RunResult runResult() const { return runLoop.result(); }
  // Drives a started run (startRun, startTab) to its end in a plain loop of
  // slices, resting as long as each slice asks and calling betweenSlices
  // after each (the runner and the browser check their stop buttons
  // there). Returns how the run ended, or `started` when it did not start.
  RunResult runToEnd(RunResult started, const std::function<void()> &betweenSlices = {});
  // startRun, then runToEnd.
  RunResult runAll();

 private:
  PermitOverrides permitOverride_;
  bool canAsk_ = true;
  RefusalHint refusalHint_ = RefusalHint::Settings;
  u16 extractionEncoding_ = u"UTF8";
  std::optional<std::pair<u16, u16>> pendingRename_;
  bool stepping_ = false;
  u16 stepLine_;
  bool busy_ = false;
  std::filesystem::path dataDirectory_;
  std::filesystem::path dataDirectoryOverride_;
  engine::CommandLauncher *commandLauncher_ = nullptr;
  // The program and data directories before a running program changed
  // them, until the change is kept or undone (confirmDirectoryChanges).
  std::optional<u16> programDirectoryBefore_, dataDirectoryBefore_;
  RunResult startSlotAlone(int slot);
  // A tool's run: what it does once the run has ended (runSlice calls it).
  std::function<void(RunResult)> afterRun_;
  bool webPageLoaded_ = false;
  int toolTab_ = -1;
  RunResult startToolRun(int slot, std::function<void(RunResult)> finish);
  void finishToolRun();
  State shownState_ = State::Idle;
  void stateMaybeChanged();

  // EngineHost
  u16 Directory_Get(u16view type) override;
  u16 Directory_Set(u16view type, u16view dir) override;
  void Clear_Page(int pageNo) override;
  void Get_Page_Append(int pageNo, Lines &list) override;
  void Set_Page_Append(int pageNo, const Lines &list) override;
  void Add_To_Page(int pageNo, u16view line) override;
  bool Ins_To_Page(int pageNo, int lineNo, u16view line) override;
  bool Del_From_Page(int pageNo, int lineNo) override;
  int New_Page() override;
  void Let_Page_Active(int pageIndex) override;
  bool Get_Page_Name(int pageNo, u16 &name) override;
  bool Set_Page_Name(int pageNo, u16view name) override;
  bool Set_Page_Save(int pageNo, u16view fileName, u16 &writeFailed) override;
  bool Get_Page_Load(int pageNo, u16view fileName) override;
  void Free_Page(int pageNo, int activePageIndex) override;
  void setRunPaused(bool p) override { runLoop.setPaused(p); }
  void Library_Call_Starting(u16view function) override {
    ui.blockingCallStatus(u"ライブラリ関数 " + u16(function) + u" を実行中（終わるまで中断できません）");
  }
  void Library_Call_Ended() override { ui.blockingCallStatus(u""); }
  bool Ask_Permission(engine::Permission p, u16view instruction, u16view target) override;
  u16 Permission_Hint(engine::Permission p) override;
  InputState Console_Gets(int slot, u16 &line) override;
  Tab *page(int pageNo);
  std::deque<int> inputQueue_;                     // slots waiting for a line, first asker first
  std::array<std::optional<u16>, 10> inputReady_;  // delivered, not yet taken by GETS

  void prepareEngine();
  // Links, permits and resets every slot for stepping; false (views
  // refreshed) when a link fails.
  bool startStepping();
  void refreshViews();
  // Frees the slots compiled from a tab that closes.
  void releaseSlotsOf(int tab);
};

}  // namespace velmora::environment

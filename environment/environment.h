#pragma once
// The IDE without widgets: one object owning the language, the settings, the
// tab pool, the compiler driver, the engine and the run loop. The IDE window
// and the headless runner both drive it through its commands and answer it
// through UserInterface.
#include <array>
#include <chrono>
#include <deque>
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

namespace velmora::environment {


// A tab's content left by an earlier session that ended without saving it.
struct RecoveryCopy {
  u16 caption, path;
  Lines lines;
};


class Environment : public engine::EngineHost {
 public:
  Environment(const std::filesystem::path &home, UserInterface &ui);
  ~Environment() override;

  const std::filesystem::path home;
  UserInterface &ui;

 private:
  // Declared first: the parts below hold references to them.
  Language language_;
  Settings settings_;
  engine::Engine engine_;

 public:
  // The language tables of the programs (word renames go through renameWord).
  const Language &language() const { return language_; }
  // The settings in force; setSettings replaces them (the settings dialog).
  const Settings &settings() const { return settings_; }
  void setSettings(const Settings &settings) { settings_ = settings; }
  // The engine as the views see it: a snapshot of tasks, records, variables
  // and the console. Runs, compiles and the debugger change it through the
  // environment's commands.
  const engine::Engine &engine() const { return engine_; }
  // The canvases a run draws on, the clock of WAIT and TIMER (tests replace
  // it), and the console emptied ("コンソールクリア").
  void setCanvas(engine::CanvasServices *canvas) { engine_.setCanvas(canvas); }
  void setEngineClock(std::function<double()> clock) { engine_.setClock(std::move(clock)); }
  void clearConsole();
  // The P-code listing of a slot with its variables linked, as a run would
  // link them ("--listing").
  Lines slotListing(int slot);

  // The parts: the workspace's tabs and the debugger.
  TabPool tabs;
  Debugger debugger{engine_, ui, settings_};
  RunLoop runLoop{engine_, ui, settings_, debugger, [this] { cancelInput(); }};
  CompileDriver compileDriver{language_, settings_, tabs, engine_, debugger, runLoop, ui,
                              [this] { return busy_; }, [this] { endStepping(); }};

  // ----- keyboard input (GETS)
  // The slot the input line serves (the task that asked first), or -1.
  int inputSlot() const { return inputQueue_.empty() ? -1 : inputQueue_.front(); }
  // Hands a typed line to that task and lets it run on. False when no task asks.
  bool deliverInput(const u16 &line);
  // Ends every wait for input (a run starts or ends, the stop button).
  void cancelInput();

  // ----- tabs
  int newProgram() { return tabs.newProgram(programDirectory(), ui); }
  // "開く(&O)" and its two variants: the file dialog, then the file in a new
  // tab, decoded as its bytes suggest (no encoding given), as Shift-JIS or
  // as UTF-8 whatever they suggest. Refused with ten tabs open; -1 then or
  // when cancelled.
  int openProgram(std::optional<Encoding> encoding);
  // Whether another tab may open; when not, the user is told why.
  bool roomForAnotherTab();
  // Closes a tab: a modified one asks first (Yes saves, Cancel keeps it);
  // its slot registration is deleted; with no tab left, all tasks stop.
  // False when the user cancelled.
  bool closeTab(int tab);
  // Asks about every modified tab before any closes (Yes saves, No lets it
  // go); a Cancel, or a save that fails, leaves every tab open. True when
  // all may close; the tabs answered No then count as unmodified.
  bool confirmCloseAll();
  // Closes every tab after confirmCloseAll; false (nothing closed) when the
  // user cancelled.
  bool closeAllTabs();
  // "テキストで保存": the save dialog, ".mcl" appended to a name without
  // extension, the lines written with CR LF. False when cancelled or failed.
  bool saveTabAsText(int tab);
  // "上書き保存(&S)": back to the tab's own file; refused for a book. A tab
  // with no file behind it (a new program) asks for a name instead.
  bool overwriteSave(int tab);

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
  }
  engine::PermitMode permitMode(engine::Permission p) const;

  // ----- recovery copies of modified tabs (the IDE turns them on)
  bool keepRecoveryCopies() const { return keepRecoveryCopies_; }
  void setKeepRecoveryCopies(bool on) { keepRecoveryCopies_ = on; }
  // Writes a copy of every modified tab and removes those of the others.
  void writeRecoveryCopies();
  void removeRecoveryCopy(int tab);
  // The copies a previous session left, in tab order.
  std::vector<RecoveryCopy> recoveryCopies() const;
  // Opens the copies in new tabs, marked modified; the number opened.
  int restoreRecoveryCopies();
  void discardRecoveryCopies();

  // ----- books and the recent-file list
  const Lines &recentFiles() const { return recentFiles_; }  // bare file names, "Recent.$$$" beside the program
  const u16 &bookName() const { return bookName_; }
  void loadRecentFiles();
  void saveRecentFiles() const;
  void addRecentFile(const u16 &name);
  Lines bookLines() const;        // the open programs as a book
  int readBook(const Lines &lines);  // programs into new tabs; how many
  bool saveBook();                // "ブック保存"
  bool loadBook();                // "ブック読込"
  bool releaseWorkspace();
  bool readBookFile(const std::filesystem::path &path);
  // The file list panel: the chosen files become the recent-file list and
  // the first one's directory the program directory; a listed name is
  // previewed, opened as a program, or read as a book (".TXB").
  void setFileList(const std::vector<std::filesystem::path> &files);
  std::filesystem::path listedFilePath(const u16 &name) const;
  Lines previewListedFile(const u16 &name) const;
  int openListedFile(const u16 &name);

  // ----- compiling and the slots (the compile driver: compileDriver)
  bool mayCompile() const { return compileDriver.mayCompile(); }
  int Compile_Replace(int slot, engine::TTaskState initial) override {
    return compileDriver.Compile_Replace(slot, initial);
  }

  // ----- generated programs
  const u16 &extractionEncoding() const { return extractionEncoding_; }
  // Runs a program from a new tab "__$$$__" (closed afterwards unless kept).
  RunResult runSystemProgram(const Lines &program, bool keepTab);
  // "WEBページ読込（URL）": the fetched text in a new page named after the URL.
  bool loadWebPage(const u16 &url, const u16 &encoding);
  // "抽出": the generated program in a new page, compiled and run.
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
  void rewriteUserPrograms(const u16 &oldWord, const u16 &newWord);

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
  // alone, whatever the permit list says for the others.
  RunResult runTab(int tab);

  // ----- runs (the loop itself, its permits, pause and stop: runLoop)
  bool busy() const { return busy_; }  // a run or a step owns the engine
  const std::filesystem::path &dataDirectory() const { return dataDirectory_; }  // fixed when a run starts
  const std::filesystem::path &dataDirectoryOverride() const { return dataDirectoryOverride_; }  // --data, when given
  void setDataDirectoryOverride(const std::filesystem::path &dir) { dataDirectoryOverride_ = dir; }
  // "全スロット実行(&E)": recovery copies written, stepping ended, the engine
  // configured from the settings, then the run loop's run.
  RunResult ExecTaskButtonClick();
  std::filesystem::path programDirectory() const;

 private:
  PermitOverrides permitOverride_;
  bool canAsk_ = true;
  bool keepRecoveryCopies_ = false;
  Lines recentFiles_;
  u16 bookName_;
  u16 extractionEncoding_ = u"UTF8";
  std::optional<std::pair<u16, u16>> pendingRename_;
  bool stepping_ = false;
  u16 stepLine_;
  bool busy_ = false;
  std::filesystem::path dataDirectory_;
  std::filesystem::path dataDirectoryOverride_;
  RunResult runSlotAlone(int slot);

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
  InputState Console_Gets(int slot, u16 &line) override;
  Tab *page(int pageNo);
  std::deque<int> inputQueue_;                           // slots waiting for a line, first asker first
  std::array<std::optional<u16>, 10> inputReady_;        // delivered, not yet taken by GETS

  void prepareEngine();
  // Links, permits and resets every slot for stepping; false (views
  // refreshed) when a link fails.
  bool startStepping();
  void refreshViews();
};

}  // namespace velmora::environment

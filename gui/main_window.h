#pragma once
// The IDE window: ten editor tabs over the environment's tab pool, the
// compile and run commands, the console, the task status list, the task
// permits and the debugger dock. Every modal dialog goes through the
// UserInterface methods, which tests override to answer from a script.
#include <QDockWidget>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTimer>
#include <array>
#include <chrono>
#include <memory>

#include "canvas/qimage_canvas.h"
#include "environment/environment.h"
#include "environment/generated_programs.h"

class QMenu;
class QListWidgetItem;

namespace velmora::gui {

class ConsoleInputLine;
class ConsoleView;
class DebuggerPanel;
class ExtractionDialog;
class ReplaceDialog;

// Two texts as a unified comparison ("--- ファイル", "+++ このタブ", hunks
// of "-", "+" and " " lines).
Lines compare_texts(const Lines &disk, const Lines &mine);

class MainWindow : public QMainWindow, public environment::UserInterface {
  Q_OBJECT
 public:
  explicit MainWindow(const std::filesystem::path &home, QWidget *parent = nullptr);
  ~MainWindow() override;

  environment::Environment &environment() { return *env_; }

  // Commands (menus and buttons).
  int newProgram();
  int openProgramFile(const std::filesystem::path &path);
  int openProgramLines(const Lines &lines);
  int compileActive();                    // "文法検査＆コード生成"
  environment::RunResult run();           // "●"
  environment::RunResult runActiveTab();  // "このタブを実行": the active tab's slot alone
  void pauseOrContinue();                 // "〓" / "○"
  void kill();                            // "■"
  void showRunErrorSource();              // the monitor at a run-time error's line
  // The task status area.
  int compileToFreeSlot();           // "ｺﾝﾊﾟｲﾙ": the active tab into the first free slot, no question
  int addTask();                     // "追加": the last compile registered again
  bool deleteTask();                 // "削除": the selected slot freed
  void selectTask(int slot);         // a row of the task status list chosen
  bool closeActiveTab();             // "閉じる(&X)"
  bool closeAllTabs();               // "全て閉じる"
  bool extractTokens(bool general);  // "トークン抽出", "トークン抽出(汎用)"
  int openProgram(std::optional<text::Encoding> encoding);  // "開く(&O)", "開く（シフトJIS）", "開く（UTF-8）"
  bool saveActiveAsText();                                  // "ファイル保存(&B)"
  bool overwriteActive();                                   // "上書き保存(&S)"
  bool resetTasks();                                        // "タスクリセット（CODE DEBUG）"
  bool stepOnePass();                                       // "１ｽﾃｯﾌﾟ実行（CODE DEBUG）"
  bool openSettings();                                      // "設定"
  bool findText(const QString &text);                       // "検索": the next match, wrapping to the top
  bool goToLine(int line);                                  // "行へ移動" (the line's index: gutter number - 1)
  // The tools' generated programs start a run (Running) that the event
  // loop drives like any other; lastRunResult tells how it ended.
  environment::RunResult loadWebPage(const u16 &url, const u16 &encoding);        // "WEBページ読込（URL）"
  environment::RunResult runExtraction(const environment::ExtractionSpec &spec);  // "抽出"
  ExtractionDialog *extractionDialog();                                           // "抽出（プログラム生成）"
  void openLanguageDialog();                                                      // "言語定義"
  QWidget *showLanguageReference();  // "言語の手引き": the reference in a window
  ReplaceDialog *replaceDialog();    // "置換(&H)..." (Ctrl+H)
  // Takes new options: kept in the settings file and applied to the views.
  void applySettings(const environment::Settings &settings);

  ConsoleView *consoleView() const { return console_; }
  ConsoleInputLine *consoleInputLine() const { return input_; }
  QListWidget *statusView() const { return status_; }
  QListWidget *permitView() const { return permits_; }
  QPushButton *taskButton(int which) const { return taskButtons_[std::size_t(which)]; }  // ｺﾝﾊﾟｲﾙ, 追加, 削除
  QTabWidget *editorTabs() const { return tabs_; }
  canvas::ImageCanvas &canvases() { return canvases_; }
  QPlainTextEdit *editor(int tab) const { return editors_[std::size_t(tab)]; }
  DebuggerPanel *debugger() const { return debugger_; }
  QListWidget *fileListView() const { return fileList_; }
  QListWidget *previewView() const { return preview_; }
  // The program list: each row a file (its entry in the item's UserRole);
  // one that is gone says so.
  void refreshFileList();
  static QString listedEntry(const QListWidgetItem *item);
  int openListedFile(const QString &entry);  // double click in the file list
  QDockWidget *debuggerDock() const { return debuggerDock_; }
  // A click in an editor's gutter: a breakpoint on that line, or off again.
  bool toggleBreakpointAt(int tab, int line);
  // The tool tip of "●": how many slots it starts.
  QString runButtonHint() const;
  // Every action and button enabled as the environment's state allows: the
  // one place that decides, called on every change of state.
  void updateActions();
  // How the last run of "●" or "このタブを実行" ended (Running while it goes on).
  environment::RunResult lastRunResult() const { return lastRunResult_; }
  // After every slice of a run: the pages, the task list, the monitor and
  // the console catch up (tests add their own checks).
  virtual void afterSlice();

  // UserInterface: dialogs (tests override these) and views.
  void message(const u16 &text, const u16 &title) override;
  bool askYesNo(const u16 &text, const u16 &title) override;
  environment::Answer askYesNoCancel(const u16 &text, const u16 &title) override;
  bool askPermission(const u16 &text, const u16 &title) override;  // いいえ is the default button
  std::optional<std::filesystem::path> chooseOpenFile(const u16 &title, const std::filesystem::path &dir,
                                                      const u16 &pattern) override;
  std::optional<std::filesystem::path> chooseSaveFile(const u16 &title, const std::filesystem::path &dir,
                                                      const u16 &proposed) override;
  void stateChanged() override;
  void locateLine(int tab, u16view line) override;
  void consoleUpdated(const Lines &lines) override;
  InputMode consoleInput(int slot, u16 &line) override;
  void inputRequested(int slot) override;
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override;
  void blockingCallStatus(const u16 &text) override;
  // A file of an open tab changed on the disk (open_files.cpp): reload,
  // keep the tab's text, or compare them first.
  environment::FileChangeAnswer askFileChanged(const u16 &text, const u16 &title, bool saving) override;
  void showComparison(const u16 &title, const Lines &disk, const Lines &mine) override;
  // The files of the open tabs are watched; a change made outside is taken
  // in (or asked about) once the window is idle.
  void watchOpenFiles();
  void takeInDiskChanges();
  // Offers the recovery copies an earlier session left; the tabs restored.
  int offerRecovery();
  void breakpointHeld(int slot, u16view line) override;
  void showErrorLocation(const Lines &tokens, int lastRead) override;
  bool compileStepShown(const environment::CompileStep &step) override;
  bool stepCompile();  // "開始"
  // A start that left no tab open: the greeting program in a first tab
  // (first_start.cpp); its tab, else -1.
  int greetIfEmpty();
  // What the editor area says while no tab is open.
  static QString emptyEditorText();

 protected:
  void closeEvent(QCloseEvent *event) override;
  // The Tab key of the editors types blanks when the settings say so.
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  std::unique_ptr<environment::Environment> env_;
  canvas::ImageCanvas canvases_;
  std::array<QWidget *, engine::kCanvases> canvasWindows_{};
  QTabWidget *tabs_ = nullptr;
  std::array<QPlainTextEdit *, environment::TabPool::kTabs> editors_{};
  std::array<class ProgramHighlighter *, environment::TabPool::kTabs> highlighters_{};
  ConsoleView *console_ = nullptr;
  ConsoleInputLine *input_ = nullptr;
  QWidget *consolePanel_ = nullptr, *programListPanel_ = nullptr;
  QListWidget *fileList_ = nullptr, *preview_ = nullptr;
  class QFileSystemWatcher *watcher_ = nullptr;
  QSet<QString> changedFiles_;  // watched files changed, not yet taken in
  bool askingAboutFiles_ = false;
  QString lastSearch_;
  QWidget *reference_ = nullptr;
  QListWidget *status_ = nullptr;
  QListWidget *permits_ = nullptr;
  std::array<QPushButton *, 3> taskButtons_{};
  QWidget *taskStatusArea();  // the status list with its three buttons
  void afterSlotChange(int slot);
  DebuggerPanel *debugger_ = nullptr;
  ExtractionDialog *extraction_ = nullptr;
  QDockWidget *debuggerDock_ = nullptr;
  QAction *compileAction_ = nullptr, *runAction_ = nullptr, *pauseAction_ = nullptr, *killAction_ = nullptr;

  QAction *runTabAction_ = nullptr;
  QAction *runAllAction_ = nullptr, *resetAction_ = nullptr, *passAction_ = nullptr;
  std::chrono::steady_clock::time_point lastLiveRefresh_{};
  // Feedback that tells the user where things stand (main_window_feedback.cpp).
  void setupFeedback();
  void showSourceMark(const environment::SourceMark &mark, bool fromRun = false);
  // A run starts: the marks earlier runs left go; a good compile of a tab
  // takes its own mark away.
  void clearRunMarks();
  void clearErrorMark(int tab);
  // The diagnostics of a compile that ended since the last call, as markers
  // on its tab's editor.
  void markNewDiagnostics();
  int markedCompiles_ = 0;
  void updateTitle();
  void updateRunHints();  // the slots the next run starts, in the status list and tool tips
  QString errorStatus_;   // the status bar's error text, until the next edit
  // While a run prints, the console view catches up a few dozen times a second.
  const Lines *pendingConsole_ = nullptr;
  std::chrono::steady_clock::time_point consoleShown_{};
  void buildMenus();
  bool roomForAnotherTab();  // false, after the message, with all ten tabs open
  void applyAppearance();
  void showTab(int tab, bool activate = true);  // the pool's tab as an editor page
  void refreshPages();                          // shows what running programs did to the pages
  void showMark(int tab);                       // the tab's changed mark in its editor and caption
  std::array<unsigned, environment::TabPool::kTabs> shownRevision_{};
  void syncEditorsToPool();          // editor texts become the program texts
  Lines editorLines(int tab) const;  // an editor's text as program lines
  void refreshStatus();
  void refreshPermits();
  void releaseConsoleWithoutTabs();
  // The run in progress is driven by this timer: one slice per timeout.
  QTimer *sliceTimer_ = nullptr;
  enum class RunKind { All, Tab, Tool } runKind_ = RunKind::All;
  int runTab_ = -1;
  std::vector<QWidget *> hiddenPanels_;
  environment::RunResult lastRunResult_ = environment::RunResult::NotStarted;
  bool wasStepCompiling_ = false;
  // The table updateActions goes by: each action with the command it starts.
  std::vector<std::pair<QAction *, environment::Command>> guarded_;
  std::vector<std::pair<QPushButton *, environment::Command>> guardedButtons_;
  QAction *guard(QAction *action, environment::Command command);
  environment::RunResult beginRun(environment::RunResult started, RunKind kind);
  void driveRun();
  void runEnded(environment::RunResult result);
  void stepCompileEnded();
  bool killed_ = false;      // "■" ended the run in progress
  bool showingTab_ = false;  // a tab's text is going into its editor
  void resetViewsAfterKill();
  void showPaused(bool paused);
  int poolIndexOf(QWidget *page) const;
  QWidget *emptyHint_ = nullptr;
  // Replace, Ctrl+Q, a close during a run (editor_basics.cpp).
  ReplaceDialog *replace_ = nullptr;
  void addEditorBasics(QMenu *edit, QMenu *file);
  // A close asked for while a run lasts: stop it and close once it has
  // ended, or (No) refuse. False when no run lasts.
  bool stopRunToClose();
  // Place, size, maximised state and the monitor's grid heights from and
  // into the settings (window_state.cpp).
  void restoreWindowState();
  void keepWindowState();
  // The held or stepped task's line in its editor, the debugger on the
  // slot of the tab in front (follow_task.cpp).
  int steppedSlot_ = -1;
  void showHeldLine();
  void followTabInFront();
  void installEmptyEditorHint();
  // With no tab open, a command that needs one says how to start; true then.
  bool refuseWithoutTab();
};

}  // namespace velmora::gui

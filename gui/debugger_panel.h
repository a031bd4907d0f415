#pragma once
// The debugger beside the editor: a task slot's source lines and P-code
// listing side by side, breakpoints by source line, continue and line step
// while a task is held, the held task's registers and variables, and the
// task and timer grids of the monitor.
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QWidget>

#include "environment/environment.h"

namespace velmora::gui {

class DebuggerPanel : public QWidget {
  Q_OBJECT
 public:
  DebuggerPanel(environment::Environment &env, QWidget *parent = nullptr);

  int slot() const { return slot_->value() - 1; }
  void setSlot(int slot);
  // Fills every list from the slot's program and the engine's state.
  void refresh();
  // The task and timer grids of the monitor page.
  void refreshMonitor();
  // Empties the register, variable, source and P-code views ("■").
  void clearViews();
  // A task was held at a source line: its slot and line are shown.
  void showHeld(int slot, u16view line);
  void selectSourceLine(int line);
  int selectedSourceLine() const;

  // Commands.
  bool addBreakpoint();      // "ブレーク+" on the selected source line
  bool removeBreakpoint();   // "ブレーク−" on the selected source line
  void clearBreakpoints();   // "全て削除"
  void continueFromBreak();  // "＞*"
  void stepOneLine();        // "＞-"
  bool stepTask();           // "★": the slot's task one line further, outside a run
  bool saveListing();        // "ファイルに保存"

  QListWidget *sourceView() const { return source_; }
  QListWidget *listingView() const { return listing_; }
  QListWidget *variableView() const { return variables_; }
  QListWidget *registerView() const { return registers_; }
  // Step compile: the compiler's state before its next token.
  void showCompileStep(const environment::CompileStep &step);
  void setStepCompiling(bool on);
  QListWidget *stepTokenView() const { return stepTokens_; }
  QListWidget *stepTcodeView() const { return stepTcode_; }
  QListWidget *stepStackView() const { return stepStacks_; }
  QCheckBox *stepTransformation() const { return stepTrans_; }  // "ｽﾃｯﾌﾟ変換"

  QTableWidget *taskGrid() const { return taskGrid_; }
  // The breakpoint table: rows 1 to 100, and the halt counter beside it.
  QTableWidget *breakpointTable() const { return breakpointTable_; }
  QLabel *totalBreakLabel() const { return totalBreak_; }
  void refreshBreakpointTable();
  // The table's pop-up: "ストップ" and "続行" for the row under the cursor.
  QMenu *makeBreakpointMenu(int row);
  QTableWidget *timerGrid() const { return timerGrid_; }
  class TimingChartView *timingChart() const {
    return chart_;
  }
  // The variables of the selected task as a grid: " #", " Var", " Type", " Cont".
  QTableWidget *variableGrid() const { return variableGrid_; }
  // "変数表示行固定": refreshing the variables keeps their scroll position.
  QCheckBox *lockVariableRows() const { return lockVariables_; }
  // A source line chosen: the P-code rows generated from it are selected.
  QList<int> listingRowsOfSourceLine(int line) const;
  // The debugger page with the source and variables in front ("ｿｰｽ／変数").
  void showSourcePage();
  QTabWidget *pages() const { return pages_; }
  // The "トークン" page: the token stream and the name lists of the last
  // "トークン抽出" or "トークン抽出(汎用)", rows coloured by token class.
  void showTokens();
  QListWidget *tokenView() const { return tokens_; }
  QListWidget *symbolView() const { return symbols_; }
  QListWidget *shareView() const { return shares_; }
  QListWidget *functionView() const { return functions_; }
  QPushButton *tokenButton(bool general) const { return general ? tokenGeneral_ : tokenCompile_; }

 signals:
  void breakpointsChanged();
  void stepCompileRequested();         // "開始"
  void tokensRequested(bool general);  // "トークン抽出", "トークン抽出(汎用)"

 private:
  environment::Environment &env_;
  QSpinBox *slot_ = nullptr;
  int shownSlot_ = -1;  // the slot the lists show
  QListWidget *source_ = nullptr;
  QListWidget *listing_ = nullptr;
  QListWidget *variables_ = nullptr;
  QListWidget *registers_ = nullptr;
  QTabWidget *pages_ = nullptr;
  QTableWidget *taskGrid_ = nullptr;
  QTableWidget *timerGrid_ = nullptr;
  QTableWidget *breakpointTable_ = nullptr;
  QTableWidget *variableGrid_ = nullptr;
  QListWidget *tokens_ = nullptr, *symbols_ = nullptr, *shares_ = nullptr, *functions_ = nullptr;
  QPushButton *tokenCompile_ = nullptr, *tokenGeneral_ = nullptr;
  QCheckBox *lockVariables_ = nullptr;
  class TimingChartView *chart_ = nullptr;
  void refreshVariables(const Lines &rows);
  void showListingOf(int line);
  QLabel *totalBreak_ = nullptr;
  QListWidget *stepTokens_ = nullptr, *stepTcode_ = nullptr, *stepStacks_ = nullptr;
  QPushButton *stepStart_ = nullptr, *stepNext_ = nullptr, *stepEnd_ = nullptr;
  QCheckBox *stepTrans_ = nullptr;
  QPushButton *continue_ = nullptr;
  QPushButton *step_ = nullptr;
  void refreshHeldButtons();
};

}  // namespace velmora::gui

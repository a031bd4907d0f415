#include "gui/debugger_panel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <algorithm>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/listing.h"
#include "environment/monitor.h"
#include "gui/qt_text.h"
#include "gui/timing_chart_view.h"
#include "text/lines.h"

namespace velmora::gui {

namespace {

QListWidget *list_view(const char *name) {
  auto *view = new QListWidget;
  view->setObjectName(QString::fromLatin1(name));
  // A fixed-width font that has the Japanese glyphs too, so rows with
  // Japanese text keep the size and the columns of the others.
  QFont mono(QStringLiteral("IPAGothic"));
  mono.setStyleHint(QFont::TypeWriter);
  mono.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("Monospace")});
  view->setFont(mono);
  return view;
}

// The source line a listing row belongs to: its first blank-separated token.
int listing_source_line(const QString &row) {
  bool ok = false;
  int n = row.section(QChar(u' '), 0, 0).toInt(&ok);
  return ok ? n : -1;
}

QTableWidget *grid_view(const char *name, const QStringList &headings) {
  auto *grid = new QTableWidget(0, int(headings.size()));
  grid->setObjectName(QString::fromLatin1(name));
  grid->setHorizontalHeaderLabels(headings);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->horizontalHeader()->setStretchLastSection(true);
  // One text line per row.
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  return grid;
}

void fill(QTableWidget *grid, const std::vector<Lines> &rows, const QStringList &rowNames) {
  grid->setRowCount(int(rows.size()));
  grid->setVerticalHeaderLabels(rowNames);
  for (int r = 0; r < int(rows.size()); ++r)
    for (int c = 0; c < int(rows[std::size_t(r)].size()) && c < grid->columnCount(); ++c) {
      QString text = qs(rows[std::size_t(r)][std::size_t(c)]);
      if (QTableWidgetItem *item = grid->item(r, c)) {
        if (item->text() != text) item->setText(text);
      } else {
        grid->setItem(r, c, new QTableWidgetItem(text));
      }
    }
}

// Slots numbered as the task lists show them, 01 to 10.
class SlotSpinBox : public QSpinBox {
 protected:
  QString textFromValue(int value) const override { return QStringLiteral("%1").arg(value, 2, 10, QChar(u'0')); }
};

}  // namespace

DebuggerPanel::DebuggerPanel(environment::Environment &env, QWidget *parent) : QWidget(parent), env_(env) {
  slot_ = new SlotSpinBox;
  slot_->setObjectName(QStringLiteral("debugSlot"));
  slot_->setRange(1, engine::kSlots);
  slot_->setToolTip(QStringLiteral("タスク状態リストの行 01〜10（レジスタ表示の TASK は 0 から数える）"));
  auto *add = new QPushButton(QStringLiteral("ブレーク+"));
  auto *remove = new QPushButton(QStringLiteral("ブレーク−"));
  remove->setObjectName(QStringLiteral("removeBreakpoint"));
  add->setToolTip(QStringLiteral("選択した行にブレークポイントを置く"));
  remove->setToolTip(QStringLiteral("選択した行のブレークポイントを外す"));
  auto *clear = new QPushButton(QStringLiteral("全て削除"));
  continue_ = new QPushButton(QStringLiteral("＞*"));
  step_ = new QPushButton(QStringLiteral("＞-"));
  auto *star = new QPushButton(QStringLiteral("★"));
  star->setToolTip(QStringLiteral("選択タスクのステップ実行"));
  auto *save = new QPushButton(QStringLiteral("ファイルに保存"));
  continue_->setToolTip(QStringLiteral("ブレークから続行"));
  step_->setToolTip(QStringLiteral("1行実行"));

  auto *buttons = new QHBoxLayout;
  buttons->addWidget(new QLabel(QStringLiteral("タスク")));
  buttons->addWidget(slot_);
  for (QPushButton *b : {add, remove, clear, continue_, step_, star, save}) buttons->addWidget(b);
  buttons->addStretch();

  source_ = list_view("debugSource");
  listing_ = list_view("debugListing");
  variables_ = list_view("debugVariables");
  registers_ = list_view("debugRegisters");

  auto *code = new QSplitter(Qt::Horizontal);
  code->addWidget(source_);
  code->addWidget(listing_);
  variableGrid_ = grid_view(
      "variableGrid", {QStringLiteral(" #"), QStringLiteral(" Var"), QStringLiteral(" Type"), QStringLiteral(" Cont")});
  variableGrid_->verticalHeader()->hide();
  for (int c = 0; c < 3; ++c) variableGrid_->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  lockVariables_ = new QCheckBox(QStringLiteral("変数表示行固定"));
  lockVariables_->setObjectName(QStringLiteral("LockVarViewCheckBox"));
  lockVariables_->setToolTip(QStringLiteral("更新しても変数の表示位置（スクロール）を保つ"));
  auto *variableViews = new QTabWidget;
  variableViews->setObjectName(QStringLiteral("variableViews"));
  variableViews->addTab(variableGrid_, QStringLiteral("表"));
  variableViews->addTab(variables_, QStringLiteral("行"));
  auto *variablePane = new QWidget;
  auto *variableLayout = new QVBoxLayout(variablePane);
  variableLayout->setContentsMargins(0, 0, 0, 0);
  variableLayout->addWidget(lockVariables_);
  variableLayout->addWidget(variableViews);
  auto *state = new QSplitter(Qt::Horizontal);
  state->addWidget(registers_);
  state->addWidget(variablePane);
  state->setStretchFactor(1, 2);
  taskGrid_ =
      grid_view("taskGrid", {QStringLiteral("STS"), QStringLiteral("PC"), QStringLiteral("STK"), QStringLiteral("BOOL"),
                             QStringLiteral("WAIT"), QStringLiteral("IREQ"), QStringLiteral("ISRV")});
  timerGrid_ = grid_view("timerGrid", {QStringLiteral("TNAME"), QStringLiteral("INI"), QStringLiteral("CNT"),
                                       QStringLiteral("STS"), QStringLiteral("HANDLER"), QStringLiteral("TASK"),
                                       QStringLiteral("LINE"), QStringLiteral("EVENT")});
  chart_ = new TimingChartView(env_);
  for (QTableWidget *grid : {taskGrid_, timerGrid_}) grid->setMinimumHeight(30);
  auto *monitor = new QSplitter(Qt::Vertical);
  monitor->setObjectName(QStringLiteral("monitorSplit"));
  monitor->addWidget(taskGrid_);
  monitor->addWidget(timerGrid_);
  monitor->addWidget(chart_);
  monitor->setStretchFactor(0, 1);
  monitor->setStretchFactor(1, 1);
  monitor->setStretchFactor(2, 2);
  // The task and timer grids keep the heights the settings hold.
  const auto &heights = env_.settings().taskMonitorSizes;
  monitor->setSizes({std::max(heights[0], 30), std::max(heights[1], 30), 200});
  // Step compile: start, next token, end; tokens, T-code and the stacks.
  stepStart_ = new QPushButton(QStringLiteral("開始"));
  stepNext_ = new QPushButton(QStringLiteral("次"));
  stepEnd_ = new QPushButton(QStringLiteral("終了"));
  stepTokens_ = list_view("stepTokens");
  stepTcode_ = list_view("stepTcode");
  stepStacks_ = list_view("stepStacks");
  auto *stepButtons = new QHBoxLayout;
  for (QPushButton *b : {stepStart_, stepNext_, stepEnd_}) stepButtons->addWidget(b);
  stepTrans_ = new QCheckBox(QStringLiteral("ｽﾃｯﾌﾟ変換"));
  stepTrans_->setObjectName(QStringLiteral("StepTransCheckBox"));
  stepTrans_->setToolTip(
      QStringLiteral("「文法検査＆コード生成」「ｺﾝﾊﾟｲﾙ」も1トークンずつ（「次」で進み、コードは登録される）"));
  connect(stepTrans_, &QCheckBox::toggled, this, [this](bool on) { env_.compileDriver.setStepTransform(on); });
  stepButtons->addWidget(stepTrans_);
  stepButtons->addStretch();
  auto *stepLists = new QSplitter(Qt::Horizontal);
  stepLists->addWidget(stepTokens_);
  stepLists->addWidget(stepTcode_);
  stepLists->addWidget(stepStacks_);
  auto *stepPage = new QWidget;
  auto *stepLayout = new QVBoxLayout(stepPage);
  stepLayout->setContentsMargins(0, 0, 0, 0);
  stepLayout->addLayout(stepButtons);
  stepLayout->addWidget(stepLists);
  connect(stepStart_, &QPushButton::clicked, this, [this] { emit stepCompileRequested(); });
  connect(stepNext_, &QPushButton::clicked, this, [this] { env_.compileDriver.stepCompileNext(); });
  connect(stepEnd_, &QPushButton::clicked, this, [this] { env_.compileDriver.endStepCompile(); });
  setStepCompiling(false);

  // The breakpoint table, one row per entry of the environment's table.
  breakpointTable_ = grid_view(
      "breakpointTable", {QStringLiteral("BP"), QStringLiteral("Task"), QStringLiteral("Src"), QStringLiteral("Pcd"),
                          QStringLiteral("Cond"), QStringLiteral("Eval"), QStringLiteral("Break")});
  breakpointTable_->setRowCount(environment::Debugger::kBreakpoints);
  breakpointTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
  breakpointTable_->setSelectionMode(QAbstractItemView::SingleSelection);
  breakpointTable_->setContextMenuPolicy(Qt::CustomContextMenu);
  breakpointTable_->setToolTip(QStringLiteral("右クリック: ストップ（停止）／続行（数えて通過）"));
  connect(breakpointTable_, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
    const int row = breakpointTable_->rowAt(at.y());
    if (row < 0) return;
    breakpointTable_->selectRow(row);
    QMenu *menu = makeBreakpointMenu(row);
    menu->exec(breakpointTable_->viewport()->mapToGlobal(at));
    menu->deleteLater();
  });
  totalBreak_ = new QLabel;
  totalBreak_->setObjectName(QStringLiteral("TotalBreakLabel"));
  auto *breakPage = new QWidget;
  auto *breakLayout = new QVBoxLayout(breakPage);
  breakLayout->setContentsMargins(0, 0, 0, 0);
  auto *counter = new QHBoxLayout;
  counter->addWidget(new QLabel(QStringLiteral("停止回数")));
  counter->addWidget(totalBreak_);
  counter->addStretch();
  breakLayout->addLayout(counter);
  breakLayout->addWidget(breakpointTable_);

  // Token extraction: the stream beside the three name lists.
  tokenCompile_ = new QPushButton(QStringLiteral("トークン抽出"));
  tokenCompile_->setToolTip(QStringLiteral("コンパイルと同じトークン列（大文字、コメント行なし）"));
  tokenGeneral_ = new QPushButton(QStringLiteral("トークン抽出(汎用)"));
  tokenGeneral_->setToolTip(QStringLiteral("書いたままのトークン列（空白 ψ、コメントも）"));
  tokens_ = list_view("TokenListBox");
  symbols_ = list_view("UserSymbolListBox");
  shares_ = list_view("ShareListBox");
  functions_ = list_view("FunctionListBox");
  auto *tokenButtons = new QHBoxLayout;
  tokenButtons->addWidget(tokenCompile_);
  tokenButtons->addWidget(tokenGeneral_);
  tokenButtons->addStretch();
  auto *names = new QSplitter(Qt::Horizontal);
  for (auto [title, view] : {std::pair{QStringLiteral("変数"), symbols_}, std::pair{QStringLiteral("共有"), shares_},
                             std::pair{QStringLiteral("関数"), functions_}}) {
    auto *box = new QWidget;
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->addWidget(new QLabel(title));
    boxLayout->addWidget(view);
    names->addWidget(box);
  }
  auto *tokenLists = new QSplitter(Qt::Horizontal);
  tokenLists->addWidget(tokens_);
  tokenLists->addWidget(names);
  tokenLists->setStretchFactor(0, 1);
  tokenLists->setStretchFactor(1, 1);
  auto *tokenPage = new QWidget;
  auto *tokenLayout = new QVBoxLayout(tokenPage);
  tokenLayout->setContentsMargins(0, 0, 0, 0);
  tokenLayout->addLayout(tokenButtons);
  tokenLayout->addWidget(tokenLists);
  connect(tokenCompile_, &QPushButton::clicked, this, [this] { emit tokensRequested(false); });
  connect(tokenGeneral_, &QPushButton::clicked, this, [this] { emit tokensRequested(true); });

  auto *lower = new QTabWidget;
  lower->setObjectName(QStringLiteral("debugPages"));
  lower->addTab(state, QStringLiteral("ｿｰｽ／変数"));
  lower->addTab(monitor, QStringLiteral("ﾀｽｸﾓﾆﾀ"));
  lower->addTab(stepPage, QStringLiteral("ステップコンパイル"));
  lower->addTab(breakPage, QStringLiteral("ブレークポイント"));
  lower->addTab(tokenPage, QStringLiteral("トークン"));
  pages_ = lower;
  auto *split = new QSplitter(Qt::Vertical);
  split->addWidget(code);
  split->addWidget(lower);
  // The source and listing get the larger share: they are what one reads.
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  split->setSizes({300, 200});

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(buttons);
  layout->addWidget(split);

  connect(slot_, &QSpinBox::valueChanged, this, [this] { refresh(); });
  connect(add, &QPushButton::clicked, this, [this] { addBreakpoint(); });
  connect(remove, &QPushButton::clicked, this, [this] { removeBreakpoint(); });
  connect(clear, &QPushButton::clicked, this, [this] { clearBreakpoints(); });
  connect(continue_, &QPushButton::clicked, this, [this] { continueFromBreak(); });
  connect(step_, &QPushButton::clicked, this, [this] { stepOneLine(); });
  connect(star, &QPushButton::clicked, this, [this] { stepTask(); });
  connect(save, &QPushButton::clicked, this, [this] { saveListing(); });
  // A listing row selects the source line it came from; a source line
  // chosen by a click shows the listing rows generated from it.
  listing_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(listing_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    const int line = listing_source_line(listing_->item(row)->text());
    if (line < 0 || line >= source_->count()) return;
    const QSignalBlocker quiet(source_);
    source_->setCurrentRow(line);
    source_->scrollToItem(source_->item(line));
  });
  connect(source_, &QListWidget::currentRowChanged, this, [this](int row) { showListingOf(row); });
  refresh();
}

void DebuggerPanel::setSlot(int slot) {
  if (slot >= 0 && slot < engine::kSlots) slot_->setValue(slot + 1);
}

void DebuggerPanel::refresh() {
  const int s = slot();
  const engine::TTaskInfo &task = env_.engine().task(s);
  // The row chosen stays while the slot stays; another slot's program
  // starts at its held line, or with none chosen (a row number of one
  // program marks nothing in another).
  int keepRow = s == shownSlot_ ? source_->currentRow() : -1;
  if (s != shownSlot_ && env_.debugger.breakActive() && env_.debugger.breakTask() == s)
    text::parse_int(env_.debugger.breakLine(), keepRow);
  shownSlot_ = s;
  source_->clear();
  listing_->clear();
  if (task.PcodeListNo < 0 || task.state == engine::tsEMPTY) {
    source_->addItem(QStringLiteral("0000 No program"));
    listing_->addItem(QStringLiteral("0000 No compiled code"));
  } else {
    const Lines *lines = nullptr;
    if (env_.tabs.isOpen(task.SrcIndex)) lines = &env_.tabs.tab(task.SrcIndex).lines;
    if (lines) {
      for (std::size_t i = 0; i < lines->size(); ++i) {
        QString mark = env_.debugger.isBreakpoint(s, int(i)) ? QStringLiteral("●") : QStringLiteral("  ");
        source_->addItem(QStringLiteral("%1%2 %3").arg(mark).arg(i, 4, 10, QChar(u'0')).arg(qs((*lines)[i])));
      }
    }
    // Each row names its instruction (docs/instructions.md) in its tooltip.
    const engine::PcodeList &records = env_.engine().list(task.PcodeListNo);
    for (const engine::TPEXE &record : records) {
      listing_->addItem(qs(engine::listing_line(record)));
      listing_->item(listing_->count() - 1)->setToolTip(qs(engine::instruction_caption(record.kind)));
    }
  }
  if (keepRow >= 0 && keepRow < source_->count()) source_->setCurrentRow(keepRow);

  registers_->clear();
  if (task.state != engine::tsEMPTY)
    for (const u16 &row : environment::task_registers(env_.engine(), s)) registers_->addItem(qs(row));
  const bool held = env_.debugger.breakActive() && env_.debugger.breakTask() == s;
  refreshVariables(environment::variable_list(env_.engine(), s, held ? u16view(env_.debugger.breakLine()) : u16view()));
  if (source_->currentRow() >= 0) showListingOf(source_->currentRow());
  refreshMonitor();
  refreshHeldButtons();
}

void DebuggerPanel::setStepCompiling(bool on) {
  {
    const QSignalBlocker quiet(stepTrans_);
    stepTrans_->setChecked(env_.compileDriver.stepTransform());  // "終了" unticks it
  }
  stepStart_->setEnabled(!on);
  stepNext_->setEnabled(on);
  stepEnd_->setEnabled(on);
}

void DebuggerPanel::showCompileStep(const environment::CompileStep &step) {
  pages_->setCurrentIndex(2);
  setStepCompiling(true);
  if (stepTokens_->count() != int(step.tokens.size())) {
    stepTokens_->clear();
    for (const u16 &t : step.tokens) stepTokens_->addItem(qs(t));
  }
  const int next = step.cursor + 1;
  if (next >= 0 && next < stepTokens_->count()) {
    stepTokens_->setCurrentRow(next);
    stepTokens_->scrollToItem(stepTokens_->item(next));
  }
  stepTcode_->clear();
  for (const u16 &t : step.tcode) stepTcode_->addItem(qs(t));
  stepTcode_->scrollToBottom();
  stepStacks_->clear();
  auto section = [this](const QString &title, const Lines &lines) {
    stepStacks_->addItem(QStringLiteral("[%1]").arg(title));
    for (const u16 &line : lines) stepStacks_->addItem(QStringLiteral("  ") + qs(line));
  };
  section(QStringLiteral("次トークン"), {step.nextToken});
  section(QStringLiteral("トークンバッファ"), {step.tokenBuffer});
  section(QStringLiteral("状態"), step.states);
  section(QStringLiteral("ラベル"), step.labels);
  section(QStringLiteral("終端"), step.terms);
  section(QStringLiteral("演算子"), step.operators);
  section(QStringLiteral("被演算子"), step.operands);
}

void DebuggerPanel::refreshMonitor() {
  QStringList slotNames;
  for (int s = 0; s < engine::kSlots; ++s)
    if (env_.engine().task(s).state != engine::tsEMPTY)
      slotNames << QStringLiteral("%1").arg(s + 1, 2, 10, QChar(u'0'));  // as the task lists count
  fill(taskGrid_, environment::task_grid(env_.engine()), slotNames);
  auto timers = environment::timer_grid(env_.engine());
  QStringList numbers;
  for (std::size_t i = 1; i <= timers.size(); ++i) numbers << QString::number(i);
  fill(timerGrid_, timers, numbers);
  chart_->refresh();
  refreshBreakpointTable();
}

// The list and the grid follow the rows; with "変数表示行固定" both keep
// their scroll position, otherwise they start at the top again.
void DebuggerPanel::refreshVariables(const Lines &rows) {
  const bool keep = lockVariables_->isChecked();
  const int listTop = variables_->verticalScrollBar()->value();
  const int gridTop = variableGrid_->verticalScrollBar()->value();
  variables_->clear();
  for (const u16 &row : rows) variables_->addItem(qs(row));
  std::vector<Lines> cells;
  cells.reserve(rows.size());
  for (const u16 &row : rows) {
    const environment::VariableCells v = environment::variable_cells(row);
    cells.push_back({v.owner, v.name, v.type, v.content});
  }
  fill(variableGrid_, cells, {});
  if (keep) {
    variables_->verticalScrollBar()->setValue(listTop);
    variableGrid_->verticalScrollBar()->setValue(gridTop);
  } else {
    variables_->scrollToTop();
    variableGrid_->scrollToTop();
  }
}

QList<int> DebuggerPanel::listingRowsOfSourceLine(int line) const {
  QList<int> rows;
  for (int r = 0; r < listing_->count(); ++r)
    if (listing_source_line(listing_->item(r)->text()) == line) rows << r;
  return rows;
}

void DebuggerPanel::showListingOf(int line) {
  const QSignalBlocker quiet(listing_);
  listing_->clearSelection();
  if (line < 0) return;
  const QList<int> rows = listingRowsOfSourceLine(line);
  for (int r : rows) listing_->item(r)->setSelected(true);
  if (!rows.isEmpty()) {
    listing_->setCurrentRow(rows.front(), QItemSelectionModel::NoUpdate);
    listing_->scrollToItem(listing_->item(rows.back()));
    listing_->scrollToItem(listing_->item(rows.front()));
  }
}

void DebuggerPanel::showSourcePage() { pages_->setCurrentIndex(0); }

void DebuggerPanel::showTokens() {
  using C = environment::CompileDriver::TokenClass;
  auto colour = [this](C c) {
    int rgb = 0x000000;
    switch (c) {
      case C::Keyword: rgb = 0x0000A0; break;
      case C::Variable: rgb = 0x007800; break;
      case C::Number: rgb = 0x78008C; break;
      case C::String: rgb = 0xA02800; break;
      case C::Function: rgb = 0x006E6E; break;
      case C::Spacing: rgb = 0x909090; break;
      case C::Other: break;
    }
    return QColor(QRgb(unsigned(env_.settings().shownColour(rgb)) | 0xFF000000u));
  };
  const compiler::TokenStream &t = env_.compileDriver.extractedTokens();
  tokens_->clear();
  for (const u16 &line : t.tokens) {
    auto *item = new QListWidgetItem(qs(line));
    item->setForeground(colour(environment::CompileDriver::token_class(line)));
    tokens_->addItem(item);
  }
  for (auto [view, lines] : {std::pair{symbols_, &t.userSymbols}, std::pair{shares_, &t.sharedNames},
                             std::pair{functions_, &t.functionNames}}) {
    view->clear();
    for (const u16 &line : *lines) view->addItem(qs(line));
  }
  pages_->setCurrentWidget(tokens_->parentWidget()->parentWidget());
}

void DebuggerPanel::clearViews() {
  source_->clear();
  listing_->clear();
  registers_->clear();
  variables_->clear();
  variableGrid_->setRowCount(0);
  refreshHeldButtons();
}

void DebuggerPanel::refreshBreakpointTable() {
  for (int r = 0; r < environment::Debugger::kBreakpoints; ++r) {
    const std::array<u16, 7> cells = env_.debugger.breakpointCells(r);
    for (int c = 0; c < 7; ++c) {
      const QString text = qs(cells[std::size_t(c)]);
      QTableWidgetItem *item = breakpointTable_->item(r, c);
      if (!item) {
        if (text.isEmpty()) continue;
        breakpointTable_->setItem(r, c, new QTableWidgetItem(text));
      } else if (item->text() != text) {
        item->setText(text);
      }
    }
  }
  totalBreak_->setText(env_.debugger.haltCount() > 0 ? QString::number(env_.debugger.haltCount()) : QString());
}

QMenu *DebuggerPanel::makeBreakpointMenu(int row) {
  auto *menu = new QMenu(this);
  auto condition = [this, row](const char16_t *text) {
    env_.debugger.setBreakpointCondition(row, text);
    refreshBreakpointTable();
  };
  QAction *stop = menu->addAction(QStringLiteral("ストップ"), this, [condition] { condition(u"STOP"); });
  QAction *go = menu->addAction(QStringLiteral("続行"), this, [condition] { condition(u"GO"); });
  const bool used = env_.debugger.breakpoints()[std::size_t(row)].used;
  stop->setEnabled(used);
  go->setEnabled(used);
  return menu;
}

void DebuggerPanel::refreshHeldButtons() {
  // Only a run holds a task: after it ended there is nothing to step.
  const bool held = env_.debugger.breakActive() && env_.runLoop.running();
  continue_->setEnabled(held);
  step_->setEnabled(held);
}

void DebuggerPanel::showHeld(int slot, u16view line) {
  setSlot(slot);
  refresh();
  int n = -1;
  if (text::parse_int(line, n)) selectSourceLine(n);
}

void DebuggerPanel::selectSourceLine(int line) {
  if (line < 0 || line >= source_->count()) return;
  source_->setCurrentRow(line);
  source_->scrollToItem(source_->item(line));
}

int DebuggerPanel::selectedSourceLine() const { return source_->currentRow(); }

bool DebuggerPanel::addBreakpoint() {
  int line = selectedSourceLine();
  if (line < 0) {
    env_.ui.message(u"行を選ぶ", u"");
    return false;
  }
  bool added = env_.debugger.addBreakpoint(slot(), line);
  refresh();
  selectSourceLine(line);
  if (added) emit breakpointsChanged();
  return added;
}

bool DebuggerPanel::removeBreakpoint() {
  int line = selectedSourceLine();
  if (line < 0) {
    env_.ui.message(u"行を選ぶ", u"");
    return false;
  }
  bool removed = env_.debugger.removeBreakpoint(slot(), line);
  refresh();
  selectSourceLine(line);
  if (removed) emit breakpointsChanged();
  return removed;
}

void DebuggerPanel::clearBreakpoints() {
  env_.debugger.clearBreakpoints();
  refresh();
  emit breakpointsChanged();
}

void DebuggerPanel::continueFromBreak() {
  env_.debugger.continueFromBreak();
  refreshHeldButtons();
}

void DebuggerPanel::stepOneLine() { env_.debugger.requestLineStep(); }

bool DebuggerPanel::stepTask() {
  bool stepped = env_.stepTaskLine(slot());
  refresh();
  return stepped;
}

bool DebuggerPanel::saveListing() {
  const int s = slot();
  if (env_.engine().task(s).PcodeListNo < 0) {
    env_.ui.message(u"プログラムなし", u"");
    return false;
  }
  auto file = env_.ui.chooseSaveFile(u"ファイルに保存", env_.workspace.programDirectory(), u"*.MCP");
  if (!file) return false;
  return text::write_lines_file(*file, env_.engine().listing(s));
}

}  // namespace velmora::gui

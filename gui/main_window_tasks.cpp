// The task status area: the list of the ten slots with the buttons that
// fill and free them. The rules are the environment's; the window passes
// the user's choice on and shows what became of it.
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>
#include <QVBoxLayout>

#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"

namespace velmora::gui {

namespace {

QString slot_text(int slot) { return QStringLiteral("%1").arg(slot + 1, 2, 10, QChar(u'0')); }

}  // namespace

QWidget *MainWindow::taskStatusArea() {
  auto *area = new QWidget;
  auto *layout = new QVBoxLayout(area);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(new QLabel(QStringLiteral("タスク状態")));
  layout->addWidget(status_);
  auto *buttons = new QHBoxLayout;
  const char *names[] = {"compileTaskButton", "addTaskButton", "deleteTaskButton"};
  const QString captions[] = {QStringLiteral("ｺﾝﾊﾟｲﾙ"), QStringLiteral("追加"), QStringLiteral("削除")};
  const QString tips[] = {QStringLiteral("このタブを空いているスロットへコンパイル（差し替えなし）"),
                          QStringLiteral("最後にコンパイルしたコードをもう一つのスロットへ登録"),
                          QStringLiteral("選択したスロットとそのブレークポイントを削除")};
  for (std::size_t i = 0; i < taskButtons_.size(); ++i) {
    auto *b = new QPushButton(captions[i]);
    b->setObjectName(QString::fromLatin1(names[i]));
    b->setToolTip(tips[i]);
    buttons->addWidget(b);
    taskButtons_[i] = b;
    guardedButtons_.emplace_back(b, environment::Command::Compile);
  }
  buttons->addStretch();
  layout->addLayout(buttons);
  connect(taskButtons_[0], &QPushButton::clicked, this, [this] { compileToFreeSlot(); });
  connect(taskButtons_[1], &QPushButton::clicked, this, [this] { addTask(); });
  connect(taskButtons_[2], &QPushButton::clicked, this, [this] { deleteTask(); });
  // Taken by a click, never passed on by the focus chain: a list that gets
  // the focus without a current row makes its first row current, which
  // would choose slot 01 (and bring its tab to the front) when the input
  // line under the console goes away at "■".
  status_->setFocusPolicy(Qt::ClickFocus);
  connect(status_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0) selectTask(row);
  });
  return area;
}

// The views after a slot was filled or freed: the list, the debugger on the
// selected slot, and the editor gutters (breakpoints may have gone).
void MainWindow::afterSlotChange(int slot) {
  refreshStatus();
  if (env_->compileDriver.selectedTask() >= 0) debugger_->setSlot(env_->compileDriver.selectedTask());
  debugger_->refresh();
  emit debugger_->breakpointsChanged();
  if (slot >= 0) statusBar()->showMessage(QStringLiteral("スロット %1 に登録").arg(slot_text(slot)), 8000);
}

int MainWindow::compileToFreeSlot() {
  if (!env_->mayCompile()) return -1;
  syncEditorsToPool();
  const int tab = env_->tabs.active();
  if (env_->compileDriver.stepTransform()) debuggerDock_->show();
  const int slot = env_->compileDriver.compileToFreeSlot();
  if (env_->compileDriver.stepCompiling()) return -1;  // paused at its first token: "次" goes on
  if (tab >= 0 && env_->settings().replaceSingleQuotes) showTab(tab);
  if (slot >= 0) clearErrorMark(tab);
  afterSlotChange(slot);
  if (slot < 0) showSourceMark(env_->compileDriver.compileError());
  markNewDiagnostics();
  return slot;
}

int MainWindow::addTask() {
  const int slot = env_->compileDriver.registerAgain();
  afterSlotChange(slot);
  if (slot < 0) statusBar()->showMessage(QStringLiteral("登録できるコードがありません（先にコンパイル）"), 5000);
  return slot;
}

bool MainWindow::deleteTask() {
  const int slot = env_->compileDriver.selectedTask();
  const bool freed = env_->compileDriver.deleteSelectedSlot();
  afterSlotChange(-1);
  statusBar()->showMessage(
      freed ? QStringLiteral("スロット %1 を削除").arg(slot_text(slot)) : QStringLiteral("削除するスロットを選ぶ"),
      5000);
  return freed;
}

void MainWindow::selectTask(int slot) {
  env_->compileDriver.selectSlot(slot);
  const int tab = env_->tabs.active();
  if (tab >= 0 && tabs_->indexOf(editors_[std::size_t(tab)]) >= 0) tabs_->setCurrentWidget(editors_[std::size_t(tab)]);
  if (status_->currentRow() != slot) {
    const QSignalBlocker quiet(status_);
    status_->setCurrentRow(slot);
  }
  debugger_->setSlot(slot);
  debugger_->refresh();
}

}  // namespace velmora::gui

// What the window tells the user about where things stand: the slots the
// next run starts, the line an error stopped at, the title and the tool tips
// of the run buttons, breakpoints by a click in the gutter, running one tab.
#include <QDockWidget>
#include <QStatusBar>
#include <QTextBlock>
#include <QToolBar>

#include "compiler/diagnostics.h"
#include "gui/canvas_window.h"
#include "gui/code_editor.h"
#include "gui/console_view.h"
#include "gui/debugger_panel.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"

namespace velmora::gui {

using environment::RunResult;

namespace {

QString two_digits(int slot) { return QStringLiteral("%1").arg(slot + 1, 2, 10, QChar(u'0')); }

QAction *named_action(QObject *root, const char *name) { return root->findChild<QAction *>(QString::fromLatin1(name)); }

}  // namespace

void MainWindow::setupFeedback() {
  for (int i = 0; i < environment::TabPool::kTabs; ++i) {
    auto *e = static_cast<CodeEditor *>(editors_[std::size_t(i)]);
    connect(e, &CodeEditor::gutterClicked, this, [this, i](int line) { toggleBreakpointAt(i, line); });
    // The error's text stays in the status bar until the line is edited.
    connect(e, &CodeEditor::errorLineCleared, this, [this] {
      if (!errorStatus_.isEmpty() && statusBar()->currentMessage() == errorStatus_) statusBar()->clearMessage();
      errorStatus_.clear();
    });
    connect(e, &QPlainTextEdit::modificationChanged, this, [this] { updateTitle(); });
  }
  // The editor of the tab in front takes the keyboard.
  connect(tabs_, &QTabWidget::currentChanged, this, [this] {
    if (QWidget *page = tabs_->currentWidget()) page->setFocus();
    updateTitle();
  });
  // A canvas window's menu saves its picture where the user says.
  for (int i = 0; i < engine::kCanvases; ++i) {
    auto *w = static_cast<CanvasWindow *>(canvasWindows_[std::size_t(i)]);
    connect(w, &CanvasWindow::saveRequested, this, [this, w](int n) {
      auto path = chooseSaveFile(u"画像を保存", env_->home / "DATA", u"canvas" + text::int16(n) + u".png");
      if (path && !w->savePicture(QString::fromStdString(path->string()))) message(u"画像を保存できません", u"");
    });
  }
  // The debugger opens at about two fifths of the window's height the first
  // time, so the editor and the task lists keep room beside it.
  connect(debuggerDock_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (!visible || debuggerDock_->property("sized").toBool()) return;
    debuggerDock_->setProperty("sized", true);
    resizeDocks({debuggerDock_}, {std::max(260, height() * 2 / 5)}, Qt::Vertical);
  });
  // Tabs close from their own button.
  tabs_->setTabsClosable(true);
  connect(tabs_, &QTabWidget::tabCloseRequested, this, [this](int index) {
    if (!env_->mayStart(environment::Command::ChangeTabs)) return;
    tabs_->setCurrentIndex(index);
    closeActiveTab();
  });
  auto *console = console_;
  connect(console, &ConsoleView::clearRequested, this, [this, console] {
    env_->clearConsole();
    console->clear();
    ConsoleView::releaseFreedMemory();
  });
  updateTitle();
  updateRunHints();
}

RunResult MainWindow::runActiveTab() {
  if (!env_->mayStart(environment::Command::Run) || refuseWithoutTab()) return RunResult::NotStarted;
  syncEditorsToPool();
  const int tab = env_->tabs.active();
  if (tab < 0) return RunResult::NotStarted;
  console_->clear();
  clearRunMarks();
  runTab_ = tab;
  hiddenPanels_.clear();
  const RunResult started = beginRun(env_->startTab(tab), RunKind::Tab);
  markNewDiagnostics();  // when the tab was compiled first
  return started;
}

void MainWindow::clearRunMarks() {
  for (QPlainTextEdit *e : editors_) {
    auto *c = static_cast<CodeEditor *>(e);
    if (c->errorFromRun()) c->clearErrorLine();
  }
}

void MainWindow::clearErrorMark(int tab) {
  if (tab >= 0 && tab < environment::TabPool::kTabs)
    static_cast<CodeEditor *>(editors_[std::size_t(tab)])->clearErrorLine();
}

void MainWindow::markNewDiagnostics() {
  const environment::CompileDriver &driver = env_->compileDriver;
  if (driver.compilesEnded() == markedCompiles_) return;
  markedCompiles_ = driver.compilesEnded();
  const int tab = driver.explanationTab();
  if (tab < 0 || tab >= environment::TabPool::kTabs) return;
  QList<CodeEditor::Marker> markers;
  for (const compiler::Diagnostic &d : driver.diagnostics())
    markers.push_back({d.line, d.column, d.length,
                       d.severity == compiler::Severity::Error     ? CodeEditor::Marker::Error
                       : d.severity == compiler::Severity::Warning ? CodeEditor::Marker::Warning
                                                                   : CodeEditor::Marker::Note,
                       qs(d.explanation)});
  static_cast<CodeEditor *>(editors_[std::size_t(tab)])->setMarkers(markers);
}

void MainWindow::showSourceMark(const environment::SourceMark &mark, bool fromRun) {
  if (mark.tab < 0 || mark.tab >= environment::TabPool::kTabs || !env_->tabs.isOpen(mark.tab)) return;
  auto *e = static_cast<CodeEditor *>(editors_[std::size_t(mark.tab)]);
  if (tabs_->indexOf(e) < 0) return;
  tabs_->setCurrentWidget(e);
  if (!fromRun) markNewDiagnostics();
  // A compile error is told in plain words where there is an explanation.
  const bool explained = &mark == &env_->compileDriver.compileError() &&
                         env_->compileDriver.explanationTab() == mark.tab &&
                         !env_->compileDriver.explanationLine().empty();
  const QString plain = explained ? qs(env_->compileDriver.diagnostics().front().explanation) : QString();
  e->setErrorLine(mark.line, plain, fromRun);
  // The caret on the token the explanation names.
  if (explained && env_->compileDriver.diagnostics().front().line == mark.line) {
    const int column = env_->compileDriver.diagnostics().front().column;
    QTextCursor c = e->textCursor();
    if (column > 0 && column <= c.block().length() - 1) {
      c.setPosition(c.block().position() + column);
      e->setTextCursor(c);
    }
  }
  e->setFocus();
  QString text = qs(mark.message).simplified();
  errorStatus_ =
      explained ? qs(env_->compileDriver.explanationLine()) : QStringLiteral("行 %1: %2").arg(mark.line + 1).arg(text);
  statusBar()->showMessage(errorStatus_);
}

void MainWindow::updateTitle() {
  const int tab = poolIndexOf(tabs_->currentWidget());
  if (tab < 0) {
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowModified(false);
    return;
  }
  const environment::Tab &t = env_->tabs.tab(tab);
  setWindowTitle(QStringLiteral("%1[*] - Velmora").arg(qs(t.caption)));
  setWindowModified(editors_[std::size_t(tab)]->document()->isModified());
}

QString MainWindow::runButtonHint() const {
  QStringList chosen;
  const auto will = env_->slotsToRun();
  for (int s = 0; s < engine::kSlots; ++s)
    if (will[std::size_t(s)]) chosen << two_digits(s);
  if (chosen.isEmpty()) return QStringLiteral("全スロット実行 (F5): 実行するスロットがありません");
  return QStringLiteral("全スロット実行 (F5): %1 スロット (%2) を実行")
      .arg(chosen.size())
      .arg(chosen.join(QStringLiteral(", ")));
}

// The rows of the status list whose chosen the next "●" starts (or the run
// in progress runs) are set apart; the tool tips say the same in words.
void MainWindow::updateRunHints() {
  const auto will = env_->slotsToRun();
  for (int s = 0; s < engine::kSlots && s < status_->count(); ++s) {
    QListWidgetItem *item = status_->item(s);
    QFont f = item->font();
    f.setBold(will[std::size_t(s)]);
    item->setFont(f);
    if (will[std::size_t(s)]) {
      item->setBackground(QColor(210, 240, 210));
      item->setToolTip(env_->runLoop.running() ? QStringLiteral("実行中") : QStringLiteral("次の ● で実行される"));
    } else {
      item->setBackground(QBrush());
      item->setToolTip(QString());
    }
  }
  const QString hint = runButtonHint();
  runAction_->setToolTip(hint);
  if (QAction *b = named_action(this, "runButton")) b->setToolTip(hint);
  const int tab = poolIndexOf(tabs_->currentWidget());
  const int slot = env_->slotOfTab(tab);
  QString tabHint = QStringLiteral("このタブを実行 (Ctrl+F5): ");
  if (tab < 0) tabHint += QStringLiteral("開いているタブがありません");
  else if (slot < 0) tabHint += QStringLiteral("コンパイルしてから、このタブのプログラムだけを実行");
  else tabHint += QStringLiteral("スロット %1 だけを実行（変更があればコンパイルし直す）").arg(two_digits(slot));
  if (runTabAction_) runTabAction_->setToolTip(tabHint);
  if (QAction *b = named_action(this, "runTabButton")) b->setToolTip(tabHint);
}

bool MainWindow::toggleBreakpointAt(int tab, int line) {
  const int slot = env_->slotOfTab(tab);
  if (slot < 0) {
    statusBar()->showMessage(QStringLiteral("ブレークポイントを置くには、先にこのタブをコンパイルする (F9)"), 5000);
    return false;
  }
  bool changed = false;
  if (env_->debugger.isBreakpoint(slot, line)) {
    changed = env_->debugger.removeBreakpoint(slot, line);
    if (changed)
      statusBar()->showMessage(
          QStringLiteral("ブレークポイント削除: スロット %1  行 %2").arg(two_digits(slot)).arg(line + 1), 5000);
  } else {
    changed = env_->debugger.addBreakpoint(slot, line);
    statusBar()->showMessage(
        changed ? QStringLiteral("ブレークポイント: スロット %1  行 %2").arg(two_digits(slot)).arg(line + 1)
                : QStringLiteral("行 %1 にはブレークポイントを置けない（コードがない行）").arg(line + 1),
        5000);
  }
  if (changed) {
    debugger_->setSlot(slot);
    debugger_->refresh();
    for (QPlainTextEdit *e : editors_) static_cast<CodeEditor *>(e)->refreshGutter();
    refreshStatus();
  }
  return changed;
}

}  // namespace velmora::gui

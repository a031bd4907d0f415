// What newcomers expect of any editor window: replace (Ctrl+H), quitting
// with Ctrl+Q, and a close during a run that offers to stop the run.
#include <QAction>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "gui/find_replace.h"
#include "gui/main_window.h"

namespace velmora::gui {

ReplaceDialog *MainWindow::replaceDialog() {
  if (!replace_) {
    replace_ = new ReplaceDialog([this] { return qobject_cast<QPlainTextEdit *>(tabs_->currentWidget()); }, this);
  }
  return replace_;
}

void MainWindow::addEditorBasics(QMenu *edit, QMenu *file) {
  edit->addAction(QStringLiteral("置換(&H)..."), QKeySequence(Qt::CTRL | Qt::Key_H), this, [this] {
    ReplaceDialog *d = replaceDialog();
    if (auto *e = qobject_cast<QPlainTextEdit *>(tabs_->currentWidget()); e && e->textCursor().hasSelection())
      d->findField()->setText(e->textCursor().selectedText());
    d->show();
    d->raise();
    d->activateWindow();
  });
  for (QAction *a : file->actions())
    if (a->text() == QStringLiteral("終了")) a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

bool MainWindow::stopRunToClose() {
  if (!env_->runLoop.running()) return false;
  if (!askYesNo(u"実行中です。停止して終了しますか？", u"終了確認")) {
    message(u"タスク実行を終了すること", u"");
    return true;
  }
  kill();
  // The run unwinds first; then the window closes as usual (changed
  // programs are still asked about).
  auto *wait = new QTimer(this);
  connect(wait, &QTimer::timeout, this, [this, wait] {
    if (env_->state() != environment::State::Idle) return;
    wait->deleteLater();
    close();
  });
  wait->start(20);
  return true;
}

}  // namespace velmora::gui

// A start as a newcomer meets it: a greeting program in a first tab when
// nothing else opened, and, whenever no tab is open, a note in the editor
// area that says how to begin.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>

#include "gui/main_window.h"

namespace velmora::gui {

namespace {

// Shown over the empty tab area; it follows the area's size and hides while
// a tab is open.
class EmptyEditorHint : public QLabel {
 public:
  explicit EmptyEditorHint(QTabWidget *tabs) : QLabel(tabs), tabs_(tabs) {
    setObjectName(QStringLiteral("emptyEditorHint"));
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setText(MainWindow::emptyEditorText());
    tabs->installEventFilter(this);
    connect(tabs, &QTabWidget::currentChanged, this, [this] { follow(); });
    follow();
  }

  void follow() {
    setGeometry(tabs_->rect());
    setVisible(tabs_->count() == 0);
    if (isVisible()) raise();
  }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (watched == tabs_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) follow();
    return QLabel::eventFilter(watched, event);
  }

 private:
  QTabWidget *tabs_;
};

}  // namespace

QString MainWindow::emptyEditorText() {
  return QStringLiteral(
      "開いているプログラムはありません。\n\n"
      "「ファイル」→「新規」(Ctrl+N) で新しいプログラムを書く\n"
      "「ファイル」→「開く」(Ctrl+O) でファイルを開く\n"
      "左の「プログラムリスト」の例をダブルクリックして開く\n\n"
      "開いたら F9 でコンパイル、Ctrl+F5 でそのタブを実行。");
}

void MainWindow::installEmptyEditorHint() { emptyHint_ = new EmptyEditorHint(tabs_); }

bool MainWindow::refuseWithoutTab() {
  if (env_->tabs.openCount() > 0) return false;
  statusBar()->showMessage(
      QStringLiteral("プログラムがありません。新規 (Ctrl+N) か 開く (Ctrl+O)、またはプログラムリストの例を開く"), 8000);
  return true;
}

int MainWindow::greetIfEmpty() {
  if (env_->tabs.openCount() > 0) return -1;
  if (QApplication::activeModalWidget()) {  // the recovery question first: its answer may open tabs
    QTimer::singleShot(200, this, [this] { greetIfEmpty(); });
    return -1;
  }
  const int tab = env_->workspace.openGreeting();
  if (tab < 0) return -1;
  showTab(tab);
  refreshStatus();
  statusBar()->showMessage(QStringLiteral("F9 でコンパイル、Ctrl+F5 でこのタブを実行"), 15000);
  return tab;
}

}  // namespace velmora::gui

#include "gui/main_window.h"

#include "gui/canvas_window.h"
#include "gui/code_editor.h"
#include "gui/console_view.h"
#include "gui/console_input.h"
#include "gui/debugger_panel.h"
#include "gui/edit_commands.h"
#include "gui/highlighter.h"
#include "gui/qt_text.h"
#include "gui/reference_view.h"
#include "gui/settings_dialog.h"
#include "gui/tool_dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QInputDialog>
#include <QFile>
#include <QMessageBox>
#include <QTextBrowser>
#include <QPushButton>
#include <QSignalBlocker>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace velmora::gui {

using environment::Answer;
using environment::RunResult;

namespace {

// Message texts use carriage returns as line breaks.
QString shown(u16view text) {
  QString s = qs(text);
  s.replace(QChar(u'\r'), QChar(u'\n'));
  return s;
}

// A box of the window's: what it shows is plain text, whatever it holds (a
// program's page's name, a target, an error's text that looks like markup
// would otherwise turn the whole box into rich text of the program's
// making). With `fallback`, Enter and Escape answer that.
QMessageBox::StandardButton ask(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton fallback = QMessageBox::NoButton) {
  QMessageBox box(icon, title, text, buttons, parent);
  box.setTextFormat(Qt::PlainText);
  if (fallback != QMessageBox::NoButton) {
    box.setDefaultButton(fallback);
    box.setEscapeButton(fallback);
  }
  return QMessageBox::StandardButton(box.exec());
}

QString console_text(const u16 &line) {
  QString s = qs(line);
  s.remove(QChar(u'\r'));
  return s;
}

// A source line text ("00007") as the gutter numbers it (8).
QString gutter_line(u16view line) {
  int n = -1;
  return text::parse_int(line, n) && n >= 0 ? QString::number(n + 1) : qs(line);
}

QWidget *titled(const QString &title, QWidget *content) {
  auto *box = new QWidget;
  auto *layout = new QVBoxLayout(box);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(new QLabel(title));
  layout->addWidget(content);
  return box;
}

}  // namespace

MainWindow::MainWindow(const std::filesystem::path &home, QWidget *parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Velmora"));
  tabs_ = new QTabWidget;
  for (int i = 0; i < environment::TabPool::kTabs; ++i) {
    auto *e = new CodeEditor;
    // A line is marked when the slot compiled from this tab has a breakpoint there.
    e->marked = [this, i](int line) {
      if (!env_) return false;
      for (int s = 0; s < engine::kSlots; ++s)
        if (env_->engine().task(s).SrcIndex == i && env_->debugger.isBreakpoint(s, line)) return true;
      return false;
    };
    e->setLineWrapMode(QPlainTextEdit::NoWrap);
    e->setObjectName(QStringLiteral("editor%1").arg(i));
    connect(e, &QPlainTextEdit::modificationChanged, this, [this, i, e](bool changed) {
      if (showingTab_) return;  // the pool's own text going in is no change
      env_->tabs.setModified(i, changed);
      const environment::Tab &t = env_->tabs.tab(i);
      // A changed program shows a mark after its caption.
      int index = tabs_->indexOf(e);
      if (index >= 0) tabs_->setTabText(index, qs(t.caption) + (changed ? QStringLiteral(" *") : QString()));
    });
    editors_[std::size_t(i)] = e;
  }
  console_ = new ConsoleView;
  console_->setObjectName(QStringLiteral("console"));
  status_ = new QListWidget;
  status_->setObjectName(QStringLiteral("taskStatus"));
  permits_ = new QListWidget;
  permits_->setObjectName(QStringLiteral("taskPermits"));
  connect(permits_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
    env_->runLoop.togglePermit(permits_->row(item));
    refreshPermits();
  });

  auto *side = new QSplitter(Qt::Vertical);
  side->addWidget(taskStatusArea());
  side->addWidget(titled(QStringLiteral("実行許可"), permits_));
  auto *right = new QSplitter(Qt::Vertical);
  input_ = new ConsoleInputLine;
  auto *consoleWithInput = new QWidget;
  auto *consoleLayout = new QVBoxLayout(consoleWithInput);
  consoleLayout->setContentsMargins(0, 0, 0, 0);
  consoleLayout->addWidget(console_);
  consoleLayout->addWidget(input_);
  consolePanel_ = titled(QStringLiteral("システムコンソール"), consoleWithInput);
  right->addWidget(consolePanel_);
  right->addWidget(side);
  auto *main = new QSplitter(Qt::Horizontal);
  main->addWidget(tabs_);
  main->addWidget(right);
  main->setStretchFactor(0, 3);
  main->setStretchFactor(1, 2);
  main->setSizes({620, 480});
  setCentralWidget(main);

  env_ = std::make_unique<environment::Environment>(home, *this);
  input_->delivered = [this](const QString &text) { env_->deliverInput(u(text)); };
  env_->setCanvas(&canvases_);
  // Modified tabs are copied aside every minute (and when a run starts);
  // copies an earlier session left are offered once the window is up.
  env_->workspace.setKeepRecoveryCopies(true);
  auto *recoveryTimer = new QTimer(this);
  connect(recoveryTimer, &QTimer::timeout, this, [this] {
    if (env_->state() != environment::State::Idle) return;  // the run's pages are the programs' now
    syncEditorsToPool();
    env_->workspace.writeRecoveryCopies();
  });
  recoveryTimer->start(60 * 1000);
  // Only copies an earlier session left are offered: those this window
  // writes before the offer comes up (a run started at once) are its own.
  if (!env_->workspace.recoveryCopies().empty()) QTimer::singleShot(0, this, [this] { offerRecovery(); });
  for (int i = 0; i < engine::kCanvases; ++i) canvasWindows_[std::size_t(i)] = new CanvasWindow(canvases_, i, this);
  canvases_.changed = [this](int i) { static_cast<CanvasWindow *>(canvasWindows_[std::size_t(i)])->sync(); };
  debugger_ = new DebuggerPanel(*env_);
  debuggerDock_ = new QDockWidget(QStringLiteral("デバッガ"), this);
  debuggerDock_->setObjectName(QStringLiteral("debuggerDock"));
  debuggerDock_->setWidget(debugger_);
  addDockWidget(Qt::BottomDockWidgetArea, debuggerDock_);
  debuggerDock_->hide();
  // The program list: the recent files, a preview, and opening by double click.
  fileList_ = new QListWidget;
  fileList_->setObjectName(QStringLiteral("fileList"));
  preview_ = new QListWidget;
  preview_->setObjectName(QStringLiteral("preview"));
  auto *choose = new QPushButton(QStringLiteral("選択..."));
  connect(choose, &QPushButton::clicked, this, [this] {
    QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("プログラムリスト"), QString::fromStdString(env_->workspace.programDirectory().string()),
        QStringLiteral("*.MCL *.mcl *.TXB *.txb"));
    if (files.isEmpty()) return;
    std::vector<std::filesystem::path> paths;
    for (const QString &f : files) paths.emplace_back(f.toStdString());
    env_->workspace.setFileList(paths);
    refreshFileList();
  });
  connect(fileList_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *item) {
    preview_->clear();
    if (!item) return;
    for (const u16 &line : env_->workspace.previewListedFile(u(listedEntry(item)))) preview_->addItem(qs(line));
  });
  connect(fileList_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem *item) { openListedFile(listedEntry(item)); });
  auto *listPanel = new QSplitter(Qt::Vertical);
  auto *listTop = new QWidget;
  auto *listLayout = new QVBoxLayout(listTop);
  listLayout->setContentsMargins(2, 2, 2, 2);
  listLayout->addWidget(choose);
  listLayout->addWidget(fileList_);
  listPanel->addWidget(listTop);
  listPanel->addWidget(preview_);
  auto *listDock = new QDockWidget(QStringLiteral("プログラムリスト"), this);
  listDock->setObjectName(QStringLiteral("programListDock"));
  listDock->setWidget(listPanel);
  addDockWidget(Qt::LeftDockWidgetArea, listDock);
  programListPanel_ = listDock;
  resizeDocks({listDock}, {190}, Qt::Horizontal);
  refreshFileList();
  installEmptyEditorHint();
  connect(tabs_, &QTabWidget::currentChanged, this, [this] { followTabInFront(); });

  connect(debugger_, &DebuggerPanel::stepCompileRequested, this, [this] { stepCompile(); });
  // The step compile's buttons follow the state like every action.
  for (QPushButton *b : debugger_->findChildren<QPushButton *>()) {
    if (b->text() == QStringLiteral("開始")) guardedButtons_.emplace_back(b, environment::Command::StepCompile);
    if (b->text() == QStringLiteral("次")) guardedButtons_.emplace_back(b, environment::Command::StepNext);
    if (b->text() == QStringLiteral("終了")) guardedButtons_.emplace_back(b, environment::Command::StepEnd);
  }
  connect(debugger_, &DebuggerPanel::tokensRequested, this, [this](bool general) { extractTokens(general); });
  connect(debugger_, &DebuggerPanel::breakpointsChanged, this, [this] {
    refreshStatus();
    for (QPlainTextEdit *e : editors_) static_cast<CodeEditor *>(e)->refreshGutter();
  });
  buildMenus();
  setupFeedback();
  for (QPlainTextEdit *e : editors_) e->installEventFilter(this);
  for (int i = 0; i < environment::TabPool::kTabs; ++i)
    highlighters_[std::size_t(i)] =
        new ProgramHighlighter(env_->language().tables, editors_[std::size_t(i)]->document());
  applyAppearance();
  refreshStatus();
  refreshPermits();
  sliceTimer_ = new QTimer(this);
  sliceTimer_->setSingleShot(true);
  connect(sliceTimer_, &QTimer::timeout, this, [this] { driveRun(); });
  updateActions();
  restoreWindowState();
}

MainWindow::~MainWindow() {
  // Editors of tabs never shown belong to no widget yet.
  for (QPlainTextEdit *e : editors_)
    if (!e->parent()) delete e;
}

void MainWindow::buildMenus() {
  QMenu *file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  file->addAction(QStringLiteral("新規(&N)"), QKeySequence::New, this, [this] { newProgram(); });
  using environment::Command;
  guard(file->addAction(QStringLiteral("開く(&O)"), QKeySequence::Open, this, [this] { openProgram(std::nullopt); }),
        Command::ChangeTabs);
  // A Shift-JIS file whose bytes also read as UTF-8 opens right with its own variant.
  guard(file->addAction(QStringLiteral("開く（シフトJIS）"), this, [this] { openProgram(text::Encoding::Cp932); }),
        Command::ChangeTabs);
  guard(file->addAction(QStringLiteral("開く（UTF-8）"), this, [this] { openProgram(text::Encoding::Utf8); }),
        Command::ChangeTabs);
  file->addAction(QStringLiteral("ファイル保存(&B)"), this, [this] { saveActiveAsText(); });
  file->addAction(QStringLiteral("上書き保存(&S)"), QKeySequence::Save, this, [this] { overwriteActive(); });
  guard(file->addAction(QStringLiteral("閉じる(&X)"), QKeySequence::Close, this, [this] { closeActiveTab(); }),
        Command::ChangeTabs);
  guard(file->addAction(QStringLiteral("全て閉じる"), this, [this] { closeAllTabs(); }), Command::ChangeTabs);
  // The recent-file list, in list order, opened from the program directory.
  QMenu *recent = file->addMenu(QStringLiteral("最近使ったファイル"));
  guard(recent->menuAction(), Command::ChangeTabs);
  connect(recent, &QMenu::aboutToShow, this, [this, recent] {
    recent->clear();
    for (const u16 &entry : env_->workspace.recentFiles()) {
      QAction *a = recent->addAction(qs(environment::Workspace::listedName(entry)), this,
                                     [this, entry] { openListedFile(qs(entry)); });
      a->setEnabled(env_->workspace.listedFileExists(entry));
      a->setToolTip(QString::fromStdString(env_->workspace.listedFilePath(entry).string()));
    }
  });
  file->addSeparator();
  file->addAction(QStringLiteral("ブック保存"), this, [this] {
    syncEditorsToPool();
    if (env_->workspace.saveBook())
      for (QPlainTextEdit *e : editors_) e->document()->setModified(false);
  });
  guard(file->addAction(QStringLiteral("ブック読込"), this,
                        [this] {
                          syncEditorsToPool();
                          if (env_->workspace.loadBook()) {
                            refreshPages();
                            refreshStatus();
                            statusBar()->showMessage(qs(env_->workspace.bookName()));
                          }
                        }),
        Command::ChangeTabs);
  file->addSeparator();
  file->addAction(QStringLiteral("終了"), this, [this] { close(); });

  // Editing: the commands act on the widget that has the keyboard focus.
  QMenu *edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
  auto onEditor = [](EditCommand command) {
    return [command] { apply_edit_command(QApplication::focusWidget(), command); };
  };
  edit->addAction(QStringLiteral("元に戻す(&U)"), QKeySequence::Undo, this, onEditor(EditCommand::Undo));
  edit->addAction(QStringLiteral("やり直し(&R)"), QKeySequence::Redo, this, onEditor(EditCommand::Redo));
  edit->addSeparator();
  edit->addAction(QStringLiteral("切り取り(&T)"), QKeySequence::Cut, this, onEditor(EditCommand::Cut));
  edit->addAction(QStringLiteral("コピー(&C)"), QKeySequence::Copy, this, onEditor(EditCommand::Copy));
  edit->addAction(QStringLiteral("貼り付け(&P)"), QKeySequence::Paste, this, onEditor(EditCommand::Paste));
  edit->addAction(QStringLiteral("すべて選択(&A)"), QKeySequence::SelectAll, this, onEditor(EditCommand::SelectAll));
  edit->addSeparator();
  edit->addAction(QStringLiteral("検索(&F)..."), QKeySequence::Find, this, [this] {
    bool ok = false;
    QString text = QInputDialog::getText(this, QStringLiteral("検索"), QStringLiteral("検索する文字列"),
                                         QLineEdit::Normal, lastSearch_, &ok);
    if (ok && !text.isEmpty() && !findText(text)) statusBar()->showMessage(QStringLiteral("見つかりません"), 3000);
  });
  edit->addAction(QStringLiteral("次を検索"), QKeySequence::FindNext, this, [this] {
    if (!lastSearch_.isEmpty() && !findText(lastSearch_))
      statusBar()->showMessage(QStringLiteral("見つかりません"), 3000);
  });
  edit->addAction(QStringLiteral("行へ移動(&G)..."), QKeySequence(Qt::CTRL | Qt::Key_G), this, [this] {
    bool ok = false;
    // Lines as the gutter numbers them, from 1.
    int line = QInputDialog::getInt(this, QStringLiteral("行へ移動"), QStringLiteral("行番号"), 1, 1, 1 << 30, 1, &ok);
    if (ok) goToLine(line - 1);
  });
  addEditorBasics(edit, file);

  QMenu *runMenu = menuBar()->addMenu(QStringLiteral("実行(&R)"));
  QAction *compile = compileAction_ =
      guard(runMenu->addAction(QStringLiteral("文法検査＆コード生成"), QKeySequence(Qt::Key_F9), this,
                               [this] { compileActive(); }),
            Command::Compile);
  runAction_ = guard(runMenu->addAction(QStringLiteral("実行(&E)"), QKeySequence(Qt::Key_F5), this, [this] { run(); }),
                     Command::Run);
  runTabAction_ = guard(runMenu->addAction(QStringLiteral("このタブを実行"), QKeySequence(Qt::CTRL | Qt::Key_F5), this,
                                           [this] { runActiveTab(); }),
                        Command::Run);
  pauseAction_ = guard(
      runMenu->addAction(QStringLiteral("実行中断"), QKeySequence(Qt::Key_F6), this, [this] { pauseOrContinue(); }),
      Command::Pause);
  killAction_ = guard(runMenu->addAction(QStringLiteral("実行中スロットの強制終了(&A)"),
                                         QKeySequence(Qt::SHIFT | Qt::Key_F5), this, [this] { kill(); }),
                      Command::Stop);
  runAllAction_ =
      guard(runMenu->addAction(QStringLiteral("全スロット実行(&E)"), this, [this] { run(); }), Command::Run);
  runAllAction_->setToolTip(QStringLiteral("タイミングチャートを消して、実行許可のある全スロットを実行"));
  QMenu *codeDebug = runMenu->addMenu(QStringLiteral("コードデバッグ"));
  resetAction_ =
      guard(codeDebug->addAction(QStringLiteral("タスクリセット（CODE DEBUG）"), this, [this] { resetTasks(); }),
            Command::CodeDebug);
  passAction_ =
      guard(codeDebug->addAction(QStringLiteral("１ｽﾃｯﾌﾟ実行（CODE DEBUG）"), this, [this] { stepOnePass(); }),
            Command::CodeDebug);

  runMenu->addSeparator();
  QAction *debug = debuggerDock_->toggleViewAction();
  debug->setText(QStringLiteral("デバッガ(&D)"));
  connect(debug, &QAction::toggled, this, [this](bool on) {
    if (on) {
      syncEditorsToPool();
      debugger_->refresh();
    }
  });
  runMenu->addAction(debug);
  auto *programList = static_cast<QDockWidget *>(programListPanel_)->toggleViewAction();
  programList->setText(QStringLiteral("プログラムリスト(&L)"));
  runMenu->addAction(programList);

  QMenu *tools = menuBar()->addMenu(QStringLiteral("ツール(&T)"));
  guard(tools->addAction(QStringLiteral("WEBページ読込（URL）"), this,
                         [this] {
                           WebPageDialog dialog(this);
                           if (dialog.exec() == QDialog::Accepted && !dialog.url().empty())
                             loadWebPage(dialog.url(), dialog.encoding());
                         }),
        Command::Tool);
  guard(tools->addAction(QStringLiteral("抽出（プログラム生成）"), this,
                         [this] {
                           ExtractionDialog *d = extractionDialog();
                           d->show();
                           d->raise();
                         }),
        Command::Tool);
  guard(tools->addAction(QStringLiteral("言語定義..."), this, [this] { openLanguageDialog(); }), Command::Settings);
  tools->addSeparator();
  guard(tools->addAction(QStringLiteral("設定(&S)..."), this, [this] { openSettings(); }), Command::Settings);

  QMenu *help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  help->addAction(QStringLiteral("言語の手引き"), QKeySequence::HelpContents, this,
                  [this] { showLanguageReference(); });
  help->addAction(QStringLiteral("Velmora について"), this, [this] {
    QMessageBox::about(this, QStringLiteral("Velmora について"),
                       QStringLiteral("Velmora %1\n\n十のタスクが協調して動くプログラミング環境。\n"
                                      "言語の語・文法・コード生成規則は編集できる表です。")
                           .arg(QStringLiteral(VELMORA_VERSION)));
  });

  QToolBar *bar = addToolBar(QStringLiteral("実行"));
  bar->addAction(compile);
  QAction *runButton = guard(bar->addAction(QStringLiteral("●"), this, [this] { run(); }), Command::Run);
  QAction *runTabButton =
      guard(bar->addAction(QStringLiteral("▶ このタブを実行"), this, [this] { runActiveTab(); }), Command::Run);
  runTabButton->setObjectName(QStringLiteral("runTabButton"));
  QAction *pauseButton =
      guard(bar->addAction(QStringLiteral("〓"), this, [this] { pauseOrContinue(); }), Command::Pause);
  QAction *killButton = guard(bar->addAction(QStringLiteral("■"), this, [this] { kill(); }), Command::Stop);
  compile->setToolTip(QStringLiteral("文法検査＆コード生成 (F9): アクティブなタブをコンパイルしてスロットに登録"));
  pauseButton->setToolTip(QStringLiteral("実行中断／再開 (F6)"));
  killButton->setToolTip(QStringLiteral("強制終了 (Shift+F5)"));
  runButton->setObjectName(QStringLiteral("runButton"));
  pauseButton->setObjectName(QStringLiteral("pauseButton"));
  killButton->setObjectName(QStringLiteral("killButton"));
  connect(pauseAction_, &QAction::changed, pauseButton, [=, this] {
    pauseButton->setText(env_->runLoop.paused() ? QStringLiteral("○") : QStringLiteral("〓"));
    pauseButton->setToolTip(env_->runLoop.paused() ? QStringLiteral("実行再開 (F6)") : QStringLiteral("実行中断 (F6)"));
  });
}

// ----- tabs

void MainWindow::showTab(int tab, bool activate) {
  if (tab < 0) return;
  const environment::Tab &t = env_->tabs.tab(tab);
  QPlainTextEdit *e = editors_[std::size_t(tab)];
  QStringList lines;
  for (const u16 &line : t.lines) lines << qs(line);
  // Setting the text reports the document changed: that echo of the tab's
  // own text is not passed on, and the document takes the tab's mark.
  showingTab_ = true;
  e->setPlainText(lines.join(QChar(u'\n')));
  showingTab_ = false;
  shownRevision_[std::size_t(tab)] = t.revision;
  if (tabs_->indexOf(e) < 0) {
    // Tabs stand in the order of their numbers.
    int position = 0;
    for (int i = 0; i < tab; ++i)
      if (tabs_->indexOf(editors_[std::size_t(i)]) >= 0) ++position;
    tabs_->insertTab(position, e, qs(t.caption));
  }
  showMark(tab);
  if (activate) {
    tabs_->setCurrentWidget(e);
    e->setFocus();  // typing goes to the program in front
    statusBar()->showMessage(qs(t.panels[2]));
  }
  updateTitle();
}

// The editor's document and the tab's caption take the tab's changed mark.
// The editor reports its own changes; this is for the marks the environment
// sets, so that an edit after them is reported again.
void MainWindow::showMark(int tab) {
  const environment::Tab &t = env_->tabs.tab(tab);
  QPlainTextEdit *e = editors_[std::size_t(tab)];
  showingTab_ = true;
  e->document()->setModified(t.modified);
  showingTab_ = false;
  const int index = tabs_->indexOf(e);
  if (index >= 0) tabs_->setTabText(index, qs(t.caption) + (t.modified ? QStringLiteral(" *") : QString()));
}

void MainWindow::refreshPages() {
  for (int i = 0; i < environment::TabPool::kTabs; ++i) {
    const environment::Tab &t = env_->tabs.tab(i);
    QPlainTextEdit *e = editors_[std::size_t(i)];
    bool shown = tabs_->indexOf(e) >= 0;
    // The web-page tool's own program is no page of the user's.
    if (t.inUse && i == env_->toolProgramTab()) {
      if (shown) tabs_->removeTab(tabs_->indexOf(e));
      continue;
    }
    if (t.inUse && (!shown || t.revision != shownRevision_[std::size_t(i)])) {
      showTab(i, false);
    } else if (t.inUse && e->document()->isModified() != t.modified) {
      // A program saved the page ("[#n].SAVE"): same text, no longer changed;
      // unless the user typed into it while the program ran, and the file
      // lacks those edits.
      if (!t.modified && editorLines(i) != t.lines) env_->tabs.setModified(i, true);
      else showMark(i);
    } else if (!t.inUse && shown) {
      tabs_->removeTab(tabs_->indexOf(e));
      e->clear();
    }
  }
}

int MainWindow::poolIndexOf(QWidget *page) const {
  for (int i = 0; i < environment::TabPool::kTabs; ++i)
    if (editors_[std::size_t(i)] == page) return i;
  return -1;
}

Lines MainWindow::editorLines(int tab) const {
  Lines lines;
  for (QTextBlock b = editors_[std::size_t(tab)]->document()->begin(); b.isValid(); b = b.next())
    lines.push_back(u(b.text()));
  if (lines.size() == 1 && lines[0].empty()) lines.clear();
  return lines;
}

void MainWindow::syncEditorsToPool() {
  for (int i = 0; i < environment::TabPool::kTabs; ++i)
    if (env_->tabs.isOpen(i)) env_->tabs.setLines(i, editorLines(i));
  env_->tabs.activate(poolIndexOf(tabs_->currentWidget()));
}

int MainWindow::newProgram() {
  int tab = env_->workspace.newProgram();
  showTab(tab);
  return tab;
}

int MainWindow::openProgramFile(const std::filesystem::path &path) {
  int tab = env_->workspace.openFile(path, std::nullopt);
  showTab(tab);
  refreshStatus();
  return tab;
}

int MainWindow::openProgramLines(const Lines &lines) {
  int tab = env_->tabs.loadLines(lines, *this);
  showTab(tab);
  return tab;
}

int MainWindow::openProgram(std::optional<text::Encoding> encoding) {
  if (!env_->workspace.mayChangeTabs()) return -1;
  syncEditorsToPool();
  const int tab = env_->workspace.openProgram(encoding);
  if (tab >= 0) showTab(tab);
  refreshStatus();
  return tab;
}

bool MainWindow::saveActiveAsText() {
  syncEditorsToPool();
  const int tab = env_->tabs.active();
  if (tab < 0) return false;
  const bool saved = env_->workspace.saveTabAsText(tab);
  if (saved) editors_[std::size_t(tab)]->document()->setModified(false);
  refreshStatus();
  return saved;
}

bool MainWindow::extractTokens(bool general) {
  if (env_->compileDriver.stepCompiling()) return false;
  syncEditorsToPool();
  if (!env_->compileDriver.extractTokens(general)) return false;
  debuggerDock_->show();
  debugger_->showTokens();
  return true;
}

bool MainWindow::closeAllTabs() {
  if (!env_->workspace.mayChangeTabs()) return false;
  syncEditorsToPool();
  const bool closed = env_->workspace.closeAllTabs();
  releaseConsoleWithoutTabs();
  refreshPages();
  refreshStatus();
  debugger_->refresh();
  return closed;
}

// "タスクリセット（CODE DEBUG）": the engine's run reset alone, so the next
// "１ｽﾃｯﾌﾟ実行" starts every loaded task from its first instruction.
bool MainWindow::resetTasks() {
  if (!env_->mayStart(environment::Command::CodeDebug)) return false;
  syncEditorsToPool();
  const bool reset = env_->resetTasks();
  refreshStatus();
  debugger_->refresh();
  return reset;
}

// "１ｽﾃｯﾌﾟ実行（CODE DEBUG）": one scheduler pass, every runnable task one instruction.
bool MainWindow::stepOnePass() {
  if (!env_->mayStart(environment::Command::CodeDebug)) return false;
  const bool stepped = env_->stepOnePass();
  refreshPages();
  refreshStatus();
  consoleUpdated(env_->engine().console().lines());
  debugger_->refresh();
  if (env_->runLoop.runError().slot >= 0 && env_->engine().errorFlag()) showRunErrorSource();
  return stepped;
}

bool MainWindow::closeActiveTab() {
  syncEditorsToPool();
  int tab = env_->tabs.active();
  if (tab < 0) return true;
  if (!env_->workspace.closeTab(tab)) return false;
  QPlainTextEdit *e = editors_[std::size_t(tab)];
  tabs_->removeTab(tabs_->indexOf(e));
  e->clear();
  releaseConsoleWithoutTabs();
  refreshStatus();
  return true;
}

// The user closed the last program: the console of its runs goes with it,
// and the memory the engine's buffer and the view's rows held (a long
// console holds tens of megabytes) goes back to the system.
void MainWindow::releaseConsoleWithoutTabs() {
  if (env_->tabs.openCount() > 0 || env_->runLoop.running()) return;
  pendingConsole_ = nullptr;
  env_->clearConsole();
  console_->clear();
  ConsoleView::releaseFreedMemory();
}

// ----- compile and run

int MainWindow::compileActive() {
  if (!env_->mayCompile()) return -1;  // the slots belong to the run
  if (refuseWithoutTab()) return -1;
  syncEditorsToPool();
  int tab = env_->tabs.active();
  if (env_->compileDriver.stepTransform()) debuggerDock_->show();
  int slot = env_->compileDriver.compileActiveTab();
  if (env_->compileDriver.stepCompiling()) return -1;  // paused at its first token: "次" goes on
  // Quote replacement may have changed the program text.
  if (tab >= 0 && env_->settings().replaceSingleQuotes) showTab(tab);
  refreshStatus();
  if (slot >= 0) debugger_->setSlot(slot);
  debugger_->refresh();
  // A program that compiles may still hold a likely mistake (an open block).
  const u16 note = slot >= 0 ? env_->compileDriver.explanationLine() : u16();
  if (slot >= 0) clearErrorMark(tab);
  if (slot >= 0)
    statusBar()->showMessage(QStringLiteral("コンパイル完了: スロット %1").arg(slot + 1, 2, 10, QChar(u'0')) +
                                 (note.empty() ? QString() : QStringLiteral("　") + qs(note)),
                             note.empty() ? 8000 : 0);
  else showSourceMark(env_->compileDriver.compileError());
  markNewDiagnostics();
  return slot;
}

RunResult MainWindow::run() {
  if (!env_->mayStart(environment::Command::Run) || refuseWithoutTab()) return RunResult::NotStarted;
  syncEditorsToPool();
  console_->clear();
  // The panels the settings do not keep are hidden while the run lasts.
  hiddenPanels_.clear();
  auto keep = [this](bool stay, QWidget *panel) {
    if (!stay && panel->isVisible()) {
      panel->hide();
      hiddenPanels_.push_back(panel);
    }
  };
  const environment::Settings &s = env_->settings();
  keep(s.keepProgramListOnRun, programListPanel_);
  keep(s.keepEditorOnRun, tabs_);
  keep(s.keepConsoleOnRun, consolePanel_);
  keep(s.keepDebuggerOnRun, debuggerDock_);
  clearRunMarks();
  killed_ = false;
  return beginRun(env_->startRun(), RunKind::All);
}

// A run that started goes on in slices from the event loop; one that did
// not ends here at once.
RunResult MainWindow::beginRun(RunResult started, RunKind kind) {
  runKind_ = kind;
  lastRunResult_ = started;
  updateActions();
  if (started == RunResult::Running) sliceTimer_->start(0);
  else runEnded(started);
  return started;
}

void MainWindow::driveRun() {
  const int next = env_->runSlice();
  afterSlice();
  if (next >= 0) sliceTimer_->start(next);
  else runEnded(env_->runResult());
}

void MainWindow::runEnded(RunResult result) {
  lastRunResult_ = result;
  updateActions();
  for (QWidget *panel : hiddenPanels_) panel->show();
  hiddenPanels_.clear();
  if (pendingConsole_) consoleUpdated(*pendingConsole_);
  statusBar()->clearMessage();
  refreshPages();
  refreshStatus();
  if (runKind_ == RunKind::Tool) {
    // The page a tool made (or the generated program) in front.
    if (env_->tabs.active() >= 0) showTab(env_->tabs.active());
    if (killed_) resetViewsAfterKill();
    else debugger_->refresh();
    killed_ = false;
    return;
  }
  if (runKind_ == RunKind::Tab) {
    const int tab = runTab_;
    if (env_->slotOfTab(tab) >= 0) debugger_->setSlot(env_->slotOfTab(tab));  // the slot that ran
    debugger_->refresh();
    if (env_->slotOfTab(tab) >= 0 && env_->compileDriver.compileError().tab != tab) clearErrorMark(tab);
    if (result == RunResult::NotStarted && env_->compileDriver.compileError().tab >= 0)
      showSourceMark(env_->compileDriver.compileError());
    else if (result == RunResult::Error) {
      showSourceMark(env_->runLoop.runError(), true);
      showRunErrorSource();
    } else if (result != RunResult::NotStarted)
      statusBar()->showMessage(
          QStringLiteral("実行終了: スロット %1").arg(env_->slotOfTab(tab) + 1, 2, 10, QChar(u'0')), 5000);
    return;
  }
  if (killed_) resetViewsAfterKill();
  else debugger_->refresh();
  killed_ = false;
  if (result == RunResult::Error) {
    showSourceMark(env_->runLoop.runError(), true);
    showRunErrorSource();
  }
}

// After a run-time error the monitor opens on "ｿｰｽ／変数" at the failing line
// of the failing task: its P-code rows selected, its variables and registers.
void MainWindow::showRunErrorSource() {
  const environment::SourceMark &mark = env_->runLoop.runError();
  if (mark.slot < 0 || mark.slot >= engine::kSlots) return;
  debuggerDock_->show();
  debugger_->setSlot(mark.slot);
  debugger_->refresh();
  debugger_->showSourcePage();
  debugger_->selectSourceLine(mark.line);
}

void MainWindow::pauseOrContinue() {
  if (!env_->mayStart(environment::Command::Pause)) return;
  env_->runLoop.togglePause();
  updateActions();
  showPaused(env_->runLoop.running() && env_->runLoop.paused());
  if (env_->runLoop.running() && env_->runLoop.paused())
    statusBar()->showMessage(QStringLiteral("一時停止中（○ または F6 で再開）"));
  else if (env_->runLoop.running()) statusBar()->showMessage(QStringLiteral("実行中"), 2000);
}

// "■": the run ends; the status list loses its selection and the debugger's
// lists (registers, variables, source, P-code) are emptied until a task is
// chosen again; the permit list is shown and the monitor hidden.
void MainWindow::kill() {
  const bool wasRunning = env_->runLoop.running();
  if (env_->compileDriver.stepCompiling()) env_->compileDriver.endStepCompile();
  env_->runLoop.stopAll();
  if (wasRunning) killed_ = true;  // the run's own ending must not fill them again
  resetViewsAfterKill();
}

void MainWindow::resetViewsAfterKill() {
  env_->compileDriver.clearTaskSelection();
  refreshStatus();
  status_->clearSelection();
  debugger_->clearViews();
  debuggerDock_->hide();
  permits_->parentWidget()->show();
  showPaused(false);
}

// A pause turns the run panel (the permit list) green and shows the task of
// the selection field; continuing gives the panel its colour back.
void MainWindow::showPaused(bool paused) {
  QPalette p = permits_->palette();
  p.setColor(QPalette::Base, paused ? QColor(170, 230, 170) : QApplication::palette().color(QPalette::Base));
  permits_->setPalette(p);
  if (!paused) return;
  refreshStatus();
  const int slot = env_->compileDriver.selectedTask();
  if (slot >= 0 && slot < engine::kSlots) {
    debugger_->setSlot(slot);
    debugger_->refresh();
  }
}

QAction *MainWindow::guard(QAction *action, environment::Command command) {
  guarded_.emplace_back(action, command);
  return action;
}

void MainWindow::updateActions() {
  debugger_->setStepCompiling(env_->compileDriver.stepCompiling());
  for (auto &[action, command] : guarded_) action->setEnabled(env_->mayStart(command));
  for (auto &[button, command] : guardedButtons_) button->setEnabled(env_->mayStart(command));
  const bool paused = env_->runLoop.running() && env_->runLoop.paused();
  pauseAction_->setText(paused ? QStringLiteral("実行再開") : QStringLiteral("実行中断"));
  showPaused(paused);
}

void MainWindow::stateChanged() {
  updateActions();
  // Files changed outside while a run owned the tabs are taken in now.
  if (!changedFiles_.isEmpty()) QTimer::singleShot(0, this, [this] { takeInDiskChanges(); });
  const bool stepCompiling = env_->compileDriver.stepCompiling();
  if (wasStepCompiling_ && !stepCompiling) stepCompileEnded();
  wasStepCompiling_ = stepCompiling;
}

// A step compile went on to its end after "次" or "終了".
void MainWindow::stepCompileEnded() {
  const int result = env_->compileDriver.stepResult();
  const int tab = env_->tabs.active();
  if (tab >= 0 && env_->settings().replaceSingleQuotes) showTab(tab);
  afterSlotChange(-1);
  statusBar()->showMessage(result >= 0 ? QStringLiteral("ステップコンパイル終了")
                                       : QStringLiteral("ステップコンパイル：エラー"));
  if (result < 0) showSourceMark(env_->compileDriver.compileError());
  markNewDiagnostics();
}

void MainWindow::refreshStatus() {
  if (fileList_ && fileList_->count() != int(env_->workspace.recentFiles().size())) refreshFileList();
  {
    // Refilling is no choice of the user's: the selection follows the
    // environment's selected task.
    const QSignalBlocker quiet(status_);
    status_->clear();
    for (int s = 0; s < engine::kSlots; ++s) status_->addItem(qs(env_->compileDriver.taskStatusLine(s)));
    status_->setCurrentRow(env_->compileDriver.selectedTask());
  }
  updateRunHints();
  showHeldLine();
  watchOpenFiles();
}

void MainWindow::refreshPermits() {
  permits_->clear();
  for (int s = 0; s < engine::kSlots; ++s) {
    auto *item = new QListWidgetItem(qs(env_->runLoop.permitRows()[std::size_t(s)]));
    if (!env_->runLoop.permitted(s)) {
      item->setForeground(Qt::white);
      item->setBackground(QColor(128, 128, 255));
    }
    permits_->addItem(item);
  }
  updateRunHints();
}

void MainWindow::closeEvent(QCloseEvent *event) {
  if (env_->compileDriver.stepCompiling()) {  // the compile runs to its end first
    env_->compileDriver.endStepCompile();
    event->ignore();
    return;
  }
  if (stopRunToClose()) {
    event->ignore();
    return;
  }
  if (!env_->mayStart(environment::Command::Quit)) {
    if (env_->runLoop.running()) message(u"タスク実行を終了すること", u"");
    event->ignore();
    return;
  }
  syncEditorsToPool();
  // Every question first: a Cancel keeps every tab and every slot.
  if (!env_->workspace.confirmCloseAll()) {
    event->ignore();
    return;
  }
  keepWindowState();
  env_->saveSettings();
  while (env_->tabs.openCount() > 0) {
    if (!closeActiveTab()) {
      event->ignore();
      return;
    }
  }
  event->accept();
}

bool MainWindow::roomForAnotherTab() { return env_->workspace.roomForAnotherTab(); }

// ----- finding

bool MainWindow::findText(const QString &text) {
  auto *e = qobject_cast<QPlainTextEdit *>(tabs_->currentWidget());
  if (!e || text.isEmpty()) return false;
  lastSearch_ = text;
  if (e->find(text)) return true;
  // From the top again.
  QTextCursor start = e->textCursor();
  e->moveCursor(QTextCursor::Start);
  if (e->find(text)) return true;
  e->setTextCursor(start);
  return false;
}

bool MainWindow::goToLine(int line) {
  auto *e = qobject_cast<QPlainTextEdit *>(tabs_->currentWidget());
  if (!e || line < 0 || line >= e->document()->blockCount()) return false;
  e->setTextCursor(QTextCursor(e->document()->findBlockByNumber(line)));
  e->centerCursor();
  e->setFocus();
  return true;
}

// ----- tools

// The tools' generated programs run like "このタブを実行": sliced from the
// event loop, so the window answers, "■" ends them and quitting asks to stop
// them; runEnded shows the pages they left.
RunResult MainWindow::loadWebPage(const u16 &url, const u16 &encoding) {
  if (!env_->mayStart(environment::Command::Tool)) return RunResult::NotStarted;
  syncEditorsToPool();
  extractionDialog()->setEncoding(encoding);
  killed_ = false;
  hiddenPanels_.clear();
  statusBar()->showMessage(QStringLiteral("WEBページ読込中（■ で中止）"));
  return beginRun(env_->startWebPage(url, encoding), RunKind::Tool);
}

RunResult MainWindow::runExtraction(const environment::ExtractionSpec &spec) {
  if (!env_->mayStart(environment::Command::Tool)) return RunResult::NotStarted;
  syncEditorsToPool();
  console_->clear();
  killed_ = false;
  hiddenPanels_.clear();
  const RunResult started = env_->startExtraction(spec);
  // The generated program is in front while it runs.
  refreshPages();
  if (env_->tabs.active() >= 0) showTab(env_->tabs.active());
  return beginRun(started, RunKind::Tool);
}

ExtractionDialog *MainWindow::extractionDialog() {
  if (!extraction_) {
    extraction_ = new ExtractionDialog(this);
    connect(extraction_, &ExtractionDialog::generate, this,
            [this](const environment::ExtractionSpec &spec) { runExtraction(spec); });
    // Its "抽出" follows the state like the menu's tools.
    for (QPushButton *b : extraction_->findChildren<QPushButton *>())
      if (b->text() == QStringLiteral("抽出")) guardedButtons_.emplace_back(b, environment::Command::Tool);
    updateActions();
  }
  return extraction_;
}

void MainWindow::openLanguageDialog() {
  LanguageDialog dialog(*env_, this);
  dialog.exec();
  refreshPages();  // open programs a rename changed
  for (ProgramHighlighter *h : highlighters_) h->reloadWords();
}

QWidget *MainWindow::showLanguageReference() {
  if (!reference_) {
    auto *browser = new ReferenceBrowser;
    browser->setObjectName(QStringLiteral("languageReference"));
    // Japanese first; each version links to the other at its top.
    browser->setSource(QUrl(QStringLiteral("qrc:/docs/language.ja.md")), QTextDocument::MarkdownResource);
    browser->setWindowTitle(QStringLiteral("言語の手引き"));
    browser->setParent(this, Qt::Window);
    // Within the screen, and Escape closes it.
    QRect room = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    browser->resize(std::min(760, room.width() - 40), std::min(800, room.height() - 80));
    auto *close = new QShortcut(QKeySequence(Qt::Key_Escape), browser);
    connect(close, &QShortcut::activated, browser, &QWidget::close);
    reference_ = browser;
  }
  reference_->show();
  reference_->raise();
  return reference_;
}

// ----- settings

bool MainWindow::openSettings() {
  SettingsDialog dialog(env_->settings(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  applySettings(dialog.edited());
  return true;
}

void MainWindow::applySettings(const environment::Settings &settings) {
  env_->setSettings(settings);
  if (!env_->saveSettings()) message(u"設定を保存できません", u"");
  applyAppearance();
}

namespace {

void paint(QWidget *w, const environment::FontSetting &font, int back, const environment::Settings &s) {
  QFont f(qs(font.name));
  if (font.size > 0) f.setPointSize(font.size);
  w->setFont(f);
  QPalette p = w->palette();
  p.setColor(QPalette::Base, QColor(QRgb(unsigned(s.shownColour(back)) | 0xFF000000u)));
  p.setColor(QPalette::Text, QColor(QRgb(unsigned(s.shownColour(font.colour)) | 0xFF000000u)));
  w->setPalette(p);
}

}  // namespace

void MainWindow::applyAppearance() {
  const environment::Settings &s = env_->settings();
  QFont common(qs(s.commonFont.name));
  if (s.commonFont.size > 0) common.setPointSize(s.commonFont.size);
  setFont(common);
  int width = 5;
  text::parse_int(s.tabWidth, width);
  for (QPlainTextEdit *e : editors_) {
    paint(e, s.editorFont, s.editorBackColour, s);
    static_cast<CodeEditor *>(e)->indentUnit = width;
    e->setTabStopDistance(QFontMetricsF(e->font()).horizontalAdvance(QChar(u' ')) * width);
  }
  paint(console_, s.consoleFont, s.consoleBackColour, s);
  console_->setOwnerDrawn(s.consoleOwnerDrawn());
  for (ProgramHighlighter *h : highlighters_)
    if (h) h->setMonochrome(s.monochrome);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress && env_ && env_->settings().tabKeyInsertsSpaces) {
    auto *key = static_cast<QKeyEvent *>(event);
    auto *e = qobject_cast<QPlainTextEdit *>(watched);
    if (e && key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
      int width = 5;
      text::parse_int(env_->settings().tabWidth, width);
      // Blanks up to the next tab column.
      int column = e->textCursor().positionInBlock();
      int blanks = width - column % std::max(width, 1);
      e->insertPlainText(QString(blanks, QChar(u' ')));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ----- UserInterface

void MainWindow::message(const u16 &text, const u16 &title) {
  ask(this, QMessageBox::Information, title.empty() ? QStringLiteral("Velmora") : qs(title), shown(text),
      QMessageBox::Ok);
}

bool MainWindow::askYesNo(const u16 &text, const u16 &title) {
  return ask(this, QMessageBox::Question, qs(title), shown(text), QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

bool MainWindow::askPermission(const u16 &text, const u16 &title) {
  return ask(this, QMessageBox::Question, qs(title), shown(text), QMessageBox::Yes | QMessageBox::No,
             QMessageBox::No) == QMessageBox::Yes;
}

Answer MainWindow::askYesNoCancel(const u16 &text, const u16 &title) {
  auto b = ask(this, QMessageBox::Question, qs(title), shown(text),
               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  return b == QMessageBox::Yes ? Answer::Yes : b == QMessageBox::No ? Answer::No : Answer::Cancel;
}

std::optional<std::filesystem::path> MainWindow::chooseOpenFile(const u16 &title, const std::filesystem::path &dir,
                                                                const u16 &pattern) {
  QString f = QFileDialog::getOpenFileName(this, qs(title), QString::fromStdString(dir.string()), qs(pattern));
  if (f.isEmpty()) return std::nullopt;
  return std::filesystem::path(f.toStdString());
}

std::optional<std::filesystem::path> MainWindow::chooseSaveFile(const u16 &title, const std::filesystem::path &dir,
                                                                const u16 &proposed) {
  QString f =
      QFileDialog::getSaveFileName(this, qs(title), QString::fromStdString((dir / text::to_utf8(proposed)).string()));
  if (f.isEmpty()) return std::nullopt;
  return std::filesystem::path(f.toStdString());
}

void MainWindow::afterSlice() {
  refreshPages();
  // Task states and the monitor follow a run a few times a second.
  if (env_->runLoop.running()) {
    auto now = std::chrono::steady_clock::now();
    if (now - lastLiveRefresh_ >= std::chrono::milliseconds(200)) {
      lastLiveRefresh_ = now;
      if (env_->settings().updateTaskStatus) refreshStatus();
      if (env_->settings().updateTimerStatus && debuggerDock_->isVisible()) debugger_->refreshMonitor();
    }
  }
  if (pendingConsole_) consoleUpdated(*pendingConsole_);
  showHeldLine();
  followTabInFront();  // a tab compiled by "このタブを実行" has its slot now
}

void MainWindow::locateLine(int tab, u16view line) {
  if (tab < 0) return;
  int n = 0;
  text::parse_int(line, n);
  QPlainTextEdit *e = editors_[std::size_t(tab)];
  QTextCursor c(e->document()->findBlockByNumber(n));
  e->setTextCursor(c);
  e->setFocus();
}

// The console view follows the buffer: missing lines are appended, a changed
// last line is replaced, a reset buffer is shown anew.
void MainWindow::consoleUpdated(const Lines &lines) {
  const auto now = std::chrono::steady_clock::now();
  if (env_->runLoop.running() && !env_->runLoop.paused() && !env_->debugger.breakActive() &&
      now - consoleShown_ < std::chrono::milliseconds(40)) {
    pendingConsole_ = &lines;  // shown by a later pump, or when the run ends
    return;
  }
  pendingConsole_ = nullptr;
  consoleShown_ = now;
  console_->showLines(lines);
}

// GETS: the window always answers later, through the input line under the
// console; only the asking task waits.
environment::UserInterface::InputMode MainWindow::consoleInput(int, u16 &) { return InputMode::Later; }

void MainWindow::inputRequested(int slot) { input_->ask(slot); }

// A held task opens the debugger on its slot and line; the run loop keeps
// the window responsive until "＞*", "＞-" or "■".
void MainWindow::breakpointHeld(int slot, u16view line) {
  steppedSlot_ = slot;
  const int tab = slot >= 0 && slot < engine::kSlots ? env_->engine().task(slot).SrcIndex : -1;
  if (env_->tabs.isOpen(tab) && tabs_->indexOf(editors_[std::size_t(tab)]) >= 0)
    tabs_->setCurrentWidget(editors_[std::size_t(tab)]);
  showHeldLine();
  debuggerDock_->show();
  debugger_->showHeld(slot, line);
  refreshStatus();
  // Held by a run (a breakpoint, "＞-"), or stepped outside a run ("★"),
  // where no run goes on for "■" to stop.
  const QString what =
      env_->runLoop.running() ? QStringLiteral("ブレーク") : QStringLiteral("ステップ実行（★、実行していない）");
  statusBar()->showMessage(
      QStringLiteral("%1: スロット %2  行 %3").arg(what).arg(slot + 1, 2, 10, QChar(u'0')).arg(gutter_line(line)));
}

// "開始": the compile pauses before its first token when the monitor shows
// it; "次" and "終了" go on (stepCompileEnded reports the end).
bool MainWindow::stepCompile() {
  if (!env_->mayStart(environment::Command::StepCompile)) return false;
  syncEditorsToPool();
  debuggerDock_->show();
  bool ok = env_->compileDriver.startStepCompile();
  if (env_->compileDriver.stepCompiling()) return false;
  statusBar()->showMessage(ok ? QStringLiteral("ステップコンパイル終了")
                              : QStringLiteral("ステップコンパイル：エラー"));
  return ok;
}

bool MainWindow::compileStepShown(const environment::CompileStep &step) {
  debuggerDock_->show();
  debugger_->showCompileStep(step);
  return true;
}

void MainWindow::showErrorLocation(const Lines &tokens, int lastRead) {
  QFont font = editors_[0]->font();
  ErrorLocationDialog dialog(tokens, lastRead, font, this);
  dialog.exec();
}

void MainWindow::showRunError(const std::vector<std::pair<u16, u16>> &rows) {
  QString text;
  for (const auto &[label, value] : rows) text += qs(label) + console_text(value) + QChar(u'\n');
  ask(this, QMessageBox::Warning, QStringLiteral("実行時エラー"), text, QMessageBox::Ok);
}

// Painted at once: the call that follows keeps the window from painting.
void MainWindow::blockingCallStatus(const u16 &text) {
  if (text.empty()) {
    statusBar()->clearMessage();
    return;
  }
  statusBar()->showMessage(qs(text));
  statusBar()->repaint();
}

// Copies of programs an earlier session did not save (it crashed or was
// killed): opened again as modified tabs, or thrown away.
int MainWindow::offerRecovery() {
  std::vector<environment::RecoveryCopy> copies = env_->workspace.recoveryCopies();
  if (copies.empty()) return 0;
  u16 names;
  for (const auto &c : copies) names += u"\r  " + c.caption;
  if (!askYesNo(u"前回、保存されずに終わったプログラムがあります。復元しますか？" + names, u"復元")) {
    env_->workspace.discardRecoveryCopies();
    return 0;
  }
  int restored = env_->workspace.restoreRecoveryCopies();
  for (int i = 0; i < environment::TabPool::kTabs; ++i)
    if (env_->tabs.isOpen(i) && tabs_->indexOf(editors_[std::size_t(i)]) < 0) showTab(i);
  refreshStatus();
  return restored;
}

}  // namespace velmora::gui

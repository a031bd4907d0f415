// The files behind the window: the program list (each entry a file of its
// own, one that is gone says so), and the files of the open tabs watched
// for changes made outside (another editor, version control), which are
// taken in or kept apart as the user decides.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <dtl/dtl.hpp>

#include "gui/main_window.h"
#include "gui/qt_text.h"

namespace velmora::gui {

using environment::FileChangeAnswer;
using environment::Workspace;

// ----- the program list

void MainWindow::refreshFileList() {
  fileList_->clear();
  for (const u16 &entry : env_->workspace.recentFiles()) {
    const bool there = env_->workspace.listedFileExists(entry);
    auto *item = new QListWidgetItem(qs(Workspace::listedName(entry)) +
                                     (there ? QString() : QStringLiteral("（ファイルがありません）")));
    item->setData(Qt::UserRole, qs(entry));
    item->setToolTip(QString::fromStdString(env_->workspace.listedFilePath(entry).string()));
    if (!there) item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
    fileList_->addItem(item);
  }
}

QString MainWindow::listedEntry(const QListWidgetItem *item) {
  return item ? item->data(Qt::UserRole).toString() : QString();
}

int MainWindow::openListedFile(const QString &entry) {
  if (!env_->mayStart(environment::Command::ChangeTabs)) return -1;
  syncEditorsToPool();
  int tab = env_->workspace.openListedFile(u(entry));
  refreshPages();
  if (tab >= 0) showTab(tab);
  refreshStatus();
  refreshFileList();  // a file found gone says so now
  watchOpenFiles();
  return tab;
}

// ----- the files of the open tabs

bool MainWindow::overwriteActive() {
  syncEditorsToPool();
  const int tab = env_->tabs.active();
  const bool saved = env_->workspace.overwriteSave(tab);
  if (saved) editors_[std::size_t(tab)]->document()->setModified(false);
  refreshPages();  // the user may have taken the file's text instead
  refreshStatus();
  return saved;
}

void MainWindow::watchOpenFiles() {
  if (!watcher_) {
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this](const QString &path) {
      changedFiles_.insert(path);
      // Several writes of one save arrive as one change.
      QTimer::singleShot(100, this, [this] { takeInDiskChanges(); });
    });
  }
  QStringList wanted;
  for (const std::filesystem::path &p : env_->workspace.openFiles()) wanted << QString::fromStdString(p.string());
  const QStringList watched = watcher_->files();
  for (const QString &f : watched)
    if (!wanted.contains(f)) watcher_->removePath(f);
  for (const QString &f : wanted)
    // A file replaced by a rename (as every careful save does) is a new
    // file: it is watched again.
    if (!watched.contains(f) && QFileInfo::exists(f)) watcher_->addPath(f);
}

void MainWindow::takeInDiskChanges() {
  // Not while a run owns the tabs or a question is up: asked once idle.
  if (changedFiles_.isEmpty() || !env_->mayStart(environment::Command::ChangeTabs) || askingAboutFiles_) return;
  askingAboutFiles_ = true;
  syncEditorsToPool();
  const QSet<QString> changed = std::exchange(changedFiles_, {});
  for (int tab = 0; tab < environment::TabPool::kTabs; ++tab) {
    if (!env_->tabs.isOpen(tab) || !changed.contains(qs(env_->tabs.tab(tab).panels[2]))) continue;
    const QString caption = qs(env_->tabs.tab(tab).caption);
    switch (env_->workspace.answerDiskChange(tab)) {
      case Workspace::DiskAction::Reloaded:
        statusBar()->showMessage(
            QStringLiteral("「%1」をファイルから読み直しました（ほかで変更されたため）").arg(caption), 8000);
        break;
      case Workspace::DiskAction::Removed:
        statusBar()->showMessage(
            QStringLiteral("「%1」のファイルが削除されました（保存すると作り直します）").arg(caption), 8000);
        break;
      case Workspace::DiskAction::Kept:
        statusBar()->showMessage(QStringLiteral("「%1」はこのタブの内容のままです").arg(caption), 8000);
        break;
      case Workspace::DiskAction::None: break;
    }
  }
  refreshPages();
  for (int tab = 0; tab < environment::TabPool::kTabs; ++tab)
    if (env_->tabs.isOpen(tab)) showMark(tab);
  watchOpenFiles();
  askingAboutFiles_ = false;
}

FileChangeAnswer MainWindow::askFileChanged(const u16 &text, const u16 &title, bool saving) {
  QMessageBox box(QMessageBox::Warning, qs(title), qs(text).replace(u'\r', u'\n'), QMessageBox::NoButton, this);
  QPushButton *reload = box.addButton(QStringLiteral("読み直す"), QMessageBox::DestructiveRole);
  QPushButton *keep =
      box.addButton(saving ? QStringLiteral("上書きする") : QStringLiteral("このまま"), QMessageBox::AcceptRole);
  QPushButton *compare = box.addButton(QStringLiteral("比較..."), QMessageBox::ActionRole);
  QPushButton *cancel = saving ? box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole) : nullptr;
  // Enter alone loses nothing: before a save it saves nothing, otherwise it
  // keeps the tab's text.
  box.setDefaultButton(saving ? cancel : keep);
  box.exec();
  if (box.clickedButton() == reload) return FileChangeAnswer::Reload;
  if (box.clickedButton() == compare) return FileChangeAnswer::Compare;
  if (box.clickedButton() == keep) return FileChangeAnswer::KeepMine;
  return saving ? FileChangeAnswer::Cancel : FileChangeAnswer::KeepMine;
}

Lines compare_texts(const Lines &disk, const Lines &mine) {
  dtl::Diff<u16, Lines> diff(disk, mine);
  diff.compose();
  diff.composeUnifiedHunks();
  Lines out{u"--- ファイル", u"+++ このタブ"};
  for (const auto &hunk : diff.getUniHunks()) {
    out.push_back(u"@@ -" + text::int16(long(hunk.a)) + u"," + text::int16(long(hunk.b)) + u" +" +
                  text::int16(long(hunk.c)) + u"," + text::int16(long(hunk.d)) + u" @@");
    for (const auto *part : {&hunk.common[0], &hunk.change, &hunk.common[1]})
      for (const auto &[line, info] : *part)
        out.push_back((info.type == dtl::SES_ADD ? u"+" : info.type == dtl::SES_DELETE ? u"-" : u" ") + line);
  }
  return out;
}

void MainWindow::showComparison(const u16 &title, const Lines &disk, const Lines &mine) {
  QDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("比較: %1").arg(qs(title)));
  auto *layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("− ファイルの行　＋ このタブの行")));
  auto *view = new QPlainTextEdit;
  view->setObjectName(QStringLiteral("comparison"));
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  view->setFont(editors_[0]->font());
  QTextCursor cursor(view->document());
  bool first = true;
  for (const u16 &line : compare_texts(disk, mine)) {
    QTextCharFormat format;
    if (line.substr(0, 2) == u"@@") format.setForeground(QColor(0, 0, 160));
    else if (!line.empty() && line[0] == u'+' && line.substr(0, 3) != u"+++")
      format.setBackground(QColor(210, 255, 210));
    else if (!line.empty() && line[0] == u'-' && line.substr(0, 3) != u"---")
      format.setBackground(QColor(255, 215, 215));
    if (!first) cursor.insertBlock();
    first = false;
    cursor.insertText(qs(line), format);
  }
  layout->addWidget(view);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(760, 520);
  dialog.exec();
}

}  // namespace velmora::gui

#pragma once
// The IDE window without modal dialogs, for Qt Tests: messages are recorded,
// Yes/No questions (permissions too) answer Yes, Yes/No/Cancel questions answer No, and error
// windows are not shown; file dialogs answer from openFile and saveFile.
#include <QAction>
#include <QStringList>
#include <functional>

#include "gui/main_window.h"

namespace velmora::testing {

class QuietWindow : public gui::MainWindow {
 public:
  using gui::MainWindow::MainWindow;
  QStringList messages;
  void message(const u16 &text, const u16 &) override {
    messages << QString::fromUtf16(text.data(), qsizetype(text.size()));
  }
  bool askYesNo(const u16 &, const u16 &) override { return true; }
  bool askPermission(const u16 &text, const u16 &title) override { return askYesNo(text, title); }
  environment::Answer askYesNoCancel(const u16 &, const u16 &) override { return environment::Answer::No; }
  void showRunError(const std::vector<std::pair<u16, u16>> &) override {}
  void showErrorLocation(const Lines &, int) override {}
  // File dialogs answer with these (nothing: cancelled).
  std::optional<std::filesystem::path> openFile, saveFile;
  std::optional<std::filesystem::path> chooseOpenFile(const u16 &, const std::filesystem::path &,
                                                      const u16 &) override {
    return openFile;
  }
  std::optional<std::filesystem::path> chooseSaveFile(const u16 &, const std::filesystem::path &,
                                                      const u16 &) override {
    return saveFile;
  }
  // Called after every slice of a run (a GETS wait included).
  std::function<void()> onPump;
  void afterSlice() override {
    gui::MainWindow::afterSlice();
    if (onPump) onPump();
  }
  // The window's action with this text, or nullptr.
  QAction *action(const QString &text) {
    for (QAction *a : findChildren<QAction *>())
      if (a->text() == text) return a;
    return nullptr;
  }
};

}  // namespace velmora::testing

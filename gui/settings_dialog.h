#pragma once
// "設定": every user option of the environment on eight pages chosen from a
// list on the left. The dialog edits a copy; accepting hands it back.
#include <QDialog>
#include <functional>
#include <vector>

#include "environment/settings.h"

class QLineEdit;
class QListWidget;
class QStackedWidget;

namespace velmora::gui {

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsDialog(const environment::Settings &settings, QWidget *parent = nullptr);

  // The options as the dialog shows them now.
  environment::Settings edited() const;
  // Shows the page with this caption; false when there is none.
  bool showPage(const QString &caption);
  // Warnings and refusals of the dialog (a message box; tests replace it).
  std::function<void(const QString &)> warn;
  // The chooser of the "Dir" buttons (tests replace it): a directory
  // chooser for the data and program directories, an open dialog for the
  // command interpreter; an empty text when cancelled.
  std::function<QString(const QString &title, const QString &start, bool directory)> chooseFile;
  // "OK": refused while a timing value is not a whole number of at least 1.
  void accept() override;

 private:
  environment::Settings settings_;
  QListWidget *pages_ = nullptr;
  QStackedWidget *stack_ = nullptr;
  // Each control writes itself into a Settings when asked.
  std::vector<std::function<void(environment::Settings &)>> readers_;
  std::vector<QLineEdit *> timingEdits_;  // "タイマー性能", changeable after "変更"
};

}  // namespace velmora::gui

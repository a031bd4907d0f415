#pragma once
// The input line under the console: shown while a task waits in GETS, with
// a prompt naming that task. Enter hands the typed line on; the window
// hides it again when no task waits any more.
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <functional>

namespace velmora::gui {

class ConsoleInputLine : public QWidget {
 public:
  explicit ConsoleInputLine(QWidget *parent = nullptr);
  // The slot (0..9) whose GETS the line serves, or -1 to hide it.
  void ask(int slot);
  int askingSlot() const { return slot_; }
  QLabel *prompt() const { return prompt_; }
  QLineEdit *edit() const { return edit_; }
  // Receives the typed line when Enter is pressed.
  std::function<void(const QString &)> delivered;

 private:
  QLabel *prompt_ = nullptr;
  QLineEdit *edit_ = nullptr;
  int slot_ = -1;
};

}  // namespace velmora::gui

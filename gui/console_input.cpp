#include "gui/console_input.h"

#include <QHBoxLayout>

namespace velmora::gui {

ConsoleInputLine::ConsoleInputLine(QWidget *parent) : QWidget(parent) {
  setObjectName(QStringLiteral("consoleInput"));
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  prompt_ = new QLabel;
  edit_ = new QLineEdit;
  edit_->setObjectName(QStringLiteral("consoleInputEdit"));
  layout->addWidget(prompt_);
  layout->addWidget(edit_, 1);
  connect(edit_, &QLineEdit::returnPressed, this, [this] {
    if (slot_ < 0) return;
    QString text = edit_->text();
    edit_->clear();
    if (delivered) delivered(text);
  });
  hide();
}

void ConsoleInputLine::ask(int slot) {
  slot_ = slot;
  if (slot < 0) {
    edit_->clear();
    hide();
    return;
  }
  // Slots are shown 01 to 10, as in the task lists.
  prompt_->setText(QStringLiteral("タスク %1 の入力:").arg(slot + 1, 2, 10, QLatin1Char('0')));
  show();
  edit_->setFocus();
}

}  // namespace velmora::gui

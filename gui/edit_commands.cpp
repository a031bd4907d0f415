#include "gui/edit_commands.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "gui/console_view.h"

namespace velmora::gui {

namespace {

template <class Edit>
bool on_text(Edit *e, EditCommand command) {
  const bool readOnly = e->isReadOnly();
  switch (command) {
    case EditCommand::Undo:
      if (readOnly) return false;
      e->undo();
      return true;
    case EditCommand::Redo:
      if (readOnly) return false;
      e->redo();
      return true;
    case EditCommand::Cut:
      if (readOnly) return false;
      e->cut();
      return true;
    case EditCommand::Paste:
      if (readOnly) return false;
      e->paste();
      return true;
    case EditCommand::Copy: e->copy(); return true;
    case EditCommand::SelectAll: e->selectAll(); return true;
  }
  return false;
}

}  // namespace

bool apply_edit_command(QWidget *focus, EditCommand command) {
  if (!focus) return false;
  if (auto *e = qobject_cast<QPlainTextEdit *>(focus)) return on_text(e, command);
  if (auto *e = qobject_cast<QTextEdit *>(focus)) return on_text(e, command);
  if (auto *e = qobject_cast<QLineEdit *>(focus)) return on_text(e, command);
  if (auto *console = qobject_cast<ConsoleView *>(focus)) {
    if (command == EditCommand::Copy) console->copySelection();
    else if (command == EditCommand::SelectAll) console->selectAll();
    else return false;
    return true;
  }
  if (auto *list = qobject_cast<QListWidget *>(focus)) {
    if (command == EditCommand::SelectAll && list->selectionMode() != QAbstractItemView::SingleSelection) {
      list->selectAll();
      return true;
    }
    if (command != EditCommand::Copy) return false;
    QStringList rows;
    for (QListWidgetItem *item : list->selectedItems()) rows << item->text();
    if (rows.isEmpty() && list->currentItem()) rows << list->currentItem()->text();
    QApplication::clipboard()->setText(rows.join(QChar(u'\n')));
    return true;
  }
  return false;
}

}  // namespace velmora::gui

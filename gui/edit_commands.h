#pragma once
// The edit menu's commands act on the widget that has the keyboard focus:
// an editor, a line edit, the console or another list. Nothing else is
// touched, so Ctrl+A, Ctrl+X in the console never reaches a program.
class QWidget;

namespace velmora::gui {

enum class EditCommand { Undo, Redo, Cut, Copy, Paste, SelectAll };

// False when the focused widget has no use for the command.
bool apply_edit_command(QWidget *focus, EditCommand command);

}  // namespace velmora::gui

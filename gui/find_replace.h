#pragma once
// "置換" (Ctrl+H): find a text in the program in front and replace one
// match at a time ("置換") or every match at once ("すべて置換", one undo
// step). The dialog stays open beside the editor.
#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace velmora::gui {

// The next match after the cursor (from the top again at the end) selected;
// false when there is none.
bool find_next_match(QPlainTextEdit *editor, const QString &text);
// "置換": a selected match becomes the replacement and the next match is
// selected; with no match selected, the next one is only selected. True
// when a match was replaced.
bool replace_selected_match(QPlainTextEdit *editor, const QString &text, const QString &with);
// "すべて置換": every match, as one edit; how many.
int replace_all_matches(QPlainTextEdit *editor, const QString &text, const QString &with);

class ReplaceDialog : public QDialog {
  Q_OBJECT
 public:
  // editor: the editor in front when a button is pressed (null: none).
  ReplaceDialog(std::function<QPlainTextEdit *()> editor, QWidget *parent);
  QLineEdit *findField() const { return find_; }
  QLineEdit *replaceField() const { return with_; }
  QLabel *resultLabel() const { return result_; }
  bool findNext();
  bool replaceOne();
  int replaceAll();

 private:
  std::function<QPlainTextEdit *()> editor_;
  QLineEdit *find_, *with_;
  QLabel *result_;
};

}  // namespace velmora::gui

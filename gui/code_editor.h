#pragma once
// A program editor: a plain text editor with a line-number gutter that marks
// the lines carrying a breakpoint. Line numbers start at 0, as the compiler,
// the error messages and the debugger count them.
#include <QPlainTextEdit>
#include <functional>

namespace velmora::gui {

class CodeEditor : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit CodeEditor(QWidget *parent = nullptr);

  // Tells whether a line is marked (a breakpoint); the gutter asks it.
  std::function<bool(int line)> marked;
  int gutterWidth() const;
  void refreshGutter();
  void paintGutter(QPaintEvent *event);

 protected:
  void resizeEvent(QResizeEvent *event) override;

 private:
  QWidget *gutter_ = nullptr;
  void updateMargins();
};

}  // namespace velmora::gui

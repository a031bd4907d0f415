#pragma once
// The system console: the engine's console lines in a list whose rows can be
// selected and copied. New lines are appended in batches, so a program that
// prints a great deal costs little more in the window than headless.
#include <QListWidget>

#include "text/u16.h"

namespace velmora::gui {

class ConsoleView : public QListWidget {
  Q_OBJECT
 public:
  explicit ConsoleView(QWidget *parent = nullptr);

  // Follows the console buffer: missing lines are appended, a changed last
  // line is replaced, a shorter (reset) buffer is shown anew.
  void showLines(const Lines &lines);
  // The selected rows (all rows when none is selected), one per line.
  QString selectedText() const;
  void copySelection() const;  // "コピー"
  QMenu *makeContextMenu();    // "コピー", "すべて選択", "クリア"
  // Rows drawn by the console itself at one fixed height (font size 12), or
  // by the platform's list drawing.
  void setOwnerDrawn(bool on);
  bool ownerDrawn() const { return ownerDrawn_; }
  int fixedRowHeight() const;

 signals:
  void clearRequested();  // "クリア": the window empties the buffer and the view

 public:
  // After a long console was emptied: the freed memory goes back to the
  // system instead of staying with the process.
  static void releaseFreedMemory();

 protected:
  void contextMenuEvent(QContextMenuEvent *event) override;
  bool event(QEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

 private:
  bool ownerDrawn_ = false;
  bool followEnd_ = true;  // new rows scroll the view to the end
  class QAbstractItemDelegate *platformDelegate_ = nullptr;
  class QAbstractItemDelegate *fixedDelegate_ = nullptr;
};

}  // namespace velmora::gui

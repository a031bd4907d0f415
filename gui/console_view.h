#pragma once
// The system console: the engine's console lines, one row each, drawn from
// a compact store (ConsoleStore) a screenful at a time, so that a program
// printing a million lines costs the window little more time and memory
// than it costs headless. Rows can be selected (click, Shift+click, drag,
// the arrow keys with Shift, Ctrl+A) and copied.
#include <QAbstractScrollArea>

#include "gui/console_store.h"
#include "text/u16.h"

class QMenu;

namespace velmora::gui {

class ConsoleView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit ConsoleView(QWidget *parent = nullptr);

  // Follows the console buffer: missing lines are appended, a changed last
  // line is replaced, a shorter (reset) buffer is shown anew.
  void showLines(const Lines &lines);
  void clear();
  int count() const { return int(store_.size()); }
  QString rowText(int row) const;

  // Selection: one run of rows from an anchor to the current row.
  int currentRow() const { return current_; }
  void setCurrentRow(int row);  // selects that row alone
  void selectAll();
  int selectedCount() const;
  bool isSelected(int row) const;
  // The selected rows (all rows when none is selected), one per line.
  QString selectedText() const;
  void copySelection() const;  // "コピー"
  QMenu *makeContextMenu();    // "コピー", "すべて選択", "クリア"

  // Rows drawn by the console itself (font size 12: plain text at the
  // font's height), or as the platform draws list rows. Every row has one
  // height either way.
  void setOwnerDrawn(bool on);
  bool ownerDrawn() const { return ownerDrawn_; }
  int fixedRowHeight() const;
  int rowHeight() const;
  QRect rowRect(int row) const;  // in the viewport
  // Whether the view shows the end of the console (and follows new lines).
  bool followsEnd() const { return followEnd_; }

  // After a long console was emptied: the freed memory goes back to the
  // system instead of staying with the process.
  static void releaseFreedMemory();

 signals:
  void clearRequested();  // "クリア": the window empties the buffer and the view

 protected:
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void contextMenuEvent(QContextMenuEvent *event) override;
  bool event(QEvent *event) override;
  void changeEvent(QEvent *event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  ConsoleStore store_;
  bool ownerDrawn_ = false;
  bool followEnd_ = true;  // new rows scroll the view to the end
  int anchor_ = -1, current_ = -1;
  bool all_ = false;   // Ctrl+A: every row, also those added later
  int widest() const;  // pixels the widest row takes, about
  void updateScrollBars();
  int rowAt(int y) const;
  void moveCurrent(int row, bool extend);
};

}  // namespace velmora::gui

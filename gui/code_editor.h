#pragma once
// A program editor: a plain text editor with a line-number gutter that marks
// the lines carrying a breakpoint and the line an error stopped at. The
// gutter numbers lines from 1, as velmora-run's FILE:LINE:COLUMN and the
// explanations do; the methods below take line indexes (from 0), as the
// compiler and the engine keep them. A click in the gutter asks for a
// breakpoint on that line.
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
  // The line an error points at: highlighted, marked in the gutter, the
  // cursor on it and the line scrolled to the middle. The next edit clears it.
  // note: a plain explanation shown at the end of the marked line; fromRun:
  // a run-time error's mark (the next run takes it away).
  void setErrorLine(int line, const QString &note = {}, bool fromRun = false);
  QString errorNote() const { return errorNote_; }
  void clearErrorLine();
  int errorLine() const { return errorLine_; }
  // Whether the mark is a run-time error's (the next run takes it away).
  bool errorFromRun() const { return errorLine_ >= 0 && errorFromRun_; }
  // The markers of the last compile's diagnostics: the text each names
  // underlined (red an error, orange a warning, blue a note; where a ";" is
  // missing, the character before the place), a mark in the gutter, and the
  // plain explanation as the tool tip over them. The next edit clears them.
  struct Marker {
    int line = 0, column = 0, length = 0;  // column and length in UTF-16 units, as QString counts
    enum Kind { Error, Warning, Note } kind = Warning;
    QString text;
  };
  void setMarkers(const QList<Marker> &markers);
  const QList<Marker> &markers() const { return markers_; }
  // The explanation of the marker at a place of the text, or empty.
  QString markerTextAt(int line, int column) const;
  // The line a held or stepped task stands at: coloured, with an arrow in
  // the gutter, scrolled into view; -1 clears it.
  void setHeldLine(int line);
  int heldLine() const { return heldLine_; }
  int lineAtGutterY(int y) const;
  QWidget *gutter() const { return gutter_; }
  // Enter keeps the line's indentation, one step more after a line that
  // opens a block; a line of its own with END, ELSE or ENDFUNC steps back
  // first.
  int indentUnit = 5;

 signals:
  void gutterClicked(int line);
  void errorLineCleared();

 protected:
  void resizeEvent(QResizeEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  bool event(QEvent *event) override;

 private:
  QWidget *gutter_ = nullptr;
  int errorLine_ = -1;
  QString errorNote_;
  bool errorFromRun_ = false;
  int heldLine_ = -1;
  QList<Marker> markers_;
  // Where a marker's underline goes: [start, end) in the line.
  static std::pair<int, int> markedRange(const Marker &m, int lineLength);
  void updateMargins();
  void showErrorSelection();  // the error and the held line, as extra selections
};

}  // namespace velmora::gui

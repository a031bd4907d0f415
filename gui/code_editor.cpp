#include "gui/code_editor.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QToolTip>
#include <algorithm>

#include "environment/indentation.h"
#include "gui/qt_text.h"

namespace velmora::gui {

namespace {

QColor markerColour(CodeEditor::Marker::Kind kind) {
  switch (kind) {
    case CodeEditor::Marker::Error: return QColor(210, 40, 40);
    case CodeEditor::Marker::Warning: return QColor(230, 140, 0);
    case CodeEditor::Marker::Note: return QColor(40, 110, 220);
  }
  return QColor(230, 140, 0);
}

class Gutter : public QWidget {
 public:
  explicit Gutter(CodeEditor *editor) : QWidget(editor), editor_(editor) {}
  QSize sizeHint() const override { return {editor_->gutterWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent *event) override { editor_->paintGutter(event); }
  bool event(QEvent *event) override {
    if (event->type() == QEvent::ToolTip) {
      auto *help = static_cast<QHelpEvent *>(event);
      QStringList texts;
      const int line = editor_->lineAtGutterY(help->pos().y());
      for (const CodeEditor::Marker &m : editor_->markers())
        if (m.line == line) texts << m.text;
      if (!texts.isEmpty()) QToolTip::showText(help->globalPos(), texts.join(QLatin1Char('\n')), this);
      else QToolTip::hideText();
      return true;
    }
    return QWidget::event(event);
  }
  void mousePressEvent(QMouseEvent *event) override {
    if (event->button() != Qt::LeftButton) return;
    int line = editor_->lineAtGutterY(int(event->position().y()));
    if (line >= 0) emit editor_->gutterClicked(line);
  }

 private:
  CodeEditor *editor_;
};

}  // namespace

CodeEditor::CodeEditor(QWidget *parent) : QPlainTextEdit(parent), gutter_(new Gutter(this)) {
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateMargins(); });
  // An edit takes the error mark away: the line may no longer be the one meant.
  connect(document(), &QTextDocument::contentsChange, this, [this](int, int removed, int added) {
    if (errorLine_ >= 0 && (removed || added)) clearErrorLine();
    if (!markers_.isEmpty() && (removed || added)) setMarkers({});
  });
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
    if (dy) gutter_->scroll(0, dy);
    else gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  });
  updateMargins();
}

int CodeEditor::gutterWidth() const {
  int digits = 1;
  for (int n = std::max(1, blockCount()); n >= 10; n /= 10) ++digits;
  // Room for the digits and the breakpoint mark.
  return 6 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * (digits + 2);
}

void CodeEditor::refreshGutter() { gutter_->update(); }

int CodeEditor::lineAtGutterY(int y) const {
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    QRectF r = blockBoundingGeometry(block).translated(contentOffset());
    if (r.top() > y) break;
    if (y < r.bottom()) return block.blockNumber();
  }
  return -1;
}

void CodeEditor::setErrorLine(int line, const QString &note, bool fromRun) {
  if (line < 0 || line >= blockCount()) return;
  errorLine_ = line;
  errorNote_ = note;
  errorFromRun_ = fromRun;
  viewport()->update();
  QTextCursor c(document()->findBlockByNumber(line));
  setTextCursor(c);
  centerCursor();
  showErrorSelection();
  gutter_->update();
}

void CodeEditor::clearErrorLine() {
  if (errorLine_ < 0) return;
  errorLine_ = -1;
  errorNote_.clear();
  viewport()->update();
  showErrorSelection();
  gutter_->update();
  emit errorLineCleared();
}

void CodeEditor::showErrorSelection() {
  QList<QTextEdit::ExtraSelection> marks;
  auto add = [&](int line, const QColor &colour) {
    if (line < 0 || line >= blockCount()) return;
    QTextEdit::ExtraSelection mark;
    mark.format.setBackground(colour);
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    mark.cursor = QTextCursor(document()->findBlockByNumber(line));
    marks << mark;
  };
  add(heldLine_, QColor(255, 240, 160));
  add(errorLine_, QColor(255, 215, 215));
  for (const Marker &m : markers_) {
    const QTextBlock block = document()->findBlockByNumber(m.line);
    if (!block.isValid()) continue;
    const auto [start, end] = markedRange(m, block.length() - 1);
    if (end <= start) continue;
    QTextEdit::ExtraSelection mark;
    mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    mark.format.setUnderlineColor(markerColour(m.kind));
    mark.cursor = QTextCursor(block);
    mark.cursor.setPosition(block.position() + start);
    mark.cursor.setPosition(block.position() + end, QTextCursor::KeepAnchor);
    marks << mark;
  }
  setExtraSelections(marks);
}

std::pair<int, int> CodeEditor::markedRange(const Marker &m, int lineLength) {
  int start = std::clamp(m.column, 0, lineLength), end = std::min(lineLength, start + m.length);
  if (end == start) {  // a point: the character before it, or the one at it
    if (start > 0) --start;
    else end = std::min(lineLength, 1);
  }
  return {start, end};
}

void CodeEditor::setMarkers(const QList<Marker> &markers) {
  markers_ = markers;
  showErrorSelection();
  gutter_->update();
}

QString CodeEditor::markerTextAt(int line, int column) const {
  QStringList texts;
  for (const Marker &m : markers_) {
    if (m.line != line) continue;
    const auto [start, end] = markedRange(m, document()->findBlockByNumber(line).length() - 1);
    if (column >= start && column < end) texts << m.text;
  }
  return texts.join(QLatin1Char('\n'));
}

// The explanation under the mouse: over a marked text, or over a marked
// line's number in the gutter.
bool CodeEditor::event(QEvent *event) {
  if (event->type() == QEvent::ToolTip && !markers_.isEmpty()) {
    auto *help = static_cast<QHelpEvent *>(event);
    const QTextCursor c = cursorForPosition(viewport()->mapFromGlobal(help->globalPos()));
    const QString text = markerTextAt(c.blockNumber(), c.positionInBlock());
    if (!text.isEmpty()) QToolTip::showText(help->globalPos(), text, this);
    else QToolTip::hideText();
    return true;
  }
  return QPlainTextEdit::event(event);
}

void CodeEditor::setHeldLine(int line) {
  if (line >= blockCount()) line = -1;
  if (line == heldLine_) return;
  heldLine_ = line;
  if (line >= 0) {
    QTextCursor c(document()->findBlockByNumber(line));
    setTextCursor(c);
    ensureCursorVisible();
  }
  showErrorSelection();
  gutter_->update();
}

void CodeEditor::keyPressEvent(QKeyEvent *event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && !isReadOnly()) {
    QTextCursor c = textCursor();
    c.beginEditBlock();
    if (!c.hasSelection() && c.atBlockEnd()) {
      // A finished END, ELSE or ENDFUNC steps back to its block's column.
      const QString line = c.block().text();
      const QString stepped = qs(environment::dedentClosing(u(line), indentUnit));
      if (stepped != line) {
        c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        c.insertText(stepped);
      }
    }
    const QString before = c.block().text().left(c.positionInBlock());
    c.insertText(QStringLiteral("\n") + qs(environment::indentAfter(u(before), indentUnit)));
    c.endEditBlock();
    setTextCursor(c);
    ensureCursorVisible();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

// The explanation of the error, after the text of its line.
void CodeEditor::paintEvent(QPaintEvent *event) {
  QPlainTextEdit::paintEvent(event);
  if (errorLine_ < 0 || errorNote_.isEmpty()) return;
  QTextBlock block = document()->findBlockByNumber(errorLine_);
  if (!block.isValid() || !block.isVisible()) return;
  QRectF r = blockBoundingGeometry(block).translated(contentOffset());
  QPainter painter(viewport());
  QFont f = font();
  f.setItalic(true);
  painter.setFont(f);
  painter.setPen(QColor(160, 0, 0));
  const int x = int(r.left()) + fontMetrics().horizontalAdvance(block.text()) +
                fontMetrics().horizontalAdvance(QStringLiteral("    "));
  painter.drawText(QRect(x, int(r.top()), viewport()->width() - x, int(r.height())), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("← ") + errorNote_);
}

void CodeEditor::updateMargins() { setViewportMargins(gutterWidth(), 0, 0, 0); }

void CodeEditor::resizeEvent(QResizeEvent *event) {
  QPlainTextEdit::resizeEvent(event);
  QRect r = contentsRect();
  gutter_->setGeometry(QRect(r.left(), r.top(), gutterWidth(), r.height()));
}

void CodeEditor::paintGutter(QPaintEvent *event) {
  QPainter painter(gutter_);
  painter.fillRect(event->rect(), palette().color(QPalette::Window));
  const int mark = fontMetrics().horizontalAdvance(QLatin1Char('9')) * 2;
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  while (block.isValid() && top <= event->rect().bottom()) {
    int height = qRound(blockBoundingRect(block).height());
    if (block.isVisible() && top + height >= event->rect().top()) {
      const int line = block.blockNumber();
      if (line == errorLine_) {
        // The error line: the number in white on red.
        painter.fillRect(0, top, gutter_->width(), height, QColor(210, 40, 40));
      }
      // A marked line of the last compile: a bar of the marker's colour.
      for (const Marker &m : markers_)
        if (m.line == line && line != errorLine_) {
          painter.fillRect(gutter_->width() - 4, top, 3, height, markerColour(m.kind));
          break;
        }
      if (marked && marked(line)) {
        painter.setBrush(QColor(200, 30, 30));
        painter.setPen(Qt::NoPen);
        int d = std::min(height, mark) - 4;
        painter.drawEllipse(3, top + (height - d) / 2, d, d);
      }
      if (line == heldLine_) {
        // The held line: an arrow pointing at the text.
        const int d = std::min(height, mark) - 2;
        const int y0 = top + (height - d) / 2;
        const QPoint arrow[3] = {QPoint(2, y0), QPoint(2 + d, y0 + d / 2), QPoint(2, y0 + d)};
        painter.setBrush(QColor(20, 150, 40));
        painter.setPen(Qt::NoPen);
        painter.drawPolygon(arrow, 3);
      }
      painter.setPen(line == errorLine_ ? QColor(Qt::white) : palette().color(QPalette::PlaceholderText));
      // Numbered from 1, as velmora-run's FILE:LINE and the explanations count.
      painter.drawText(mark, top, gutter_->width() - mark - 3, height, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(line + 1));
    }
    block = block.next();
    top += height;
  }
}

}  // namespace velmora::gui

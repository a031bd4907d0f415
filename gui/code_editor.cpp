#include "gui/code_editor.h"

#include <QPainter>
#include <QTextBlock>

namespace velmora::gui {

namespace {

class Gutter : public QWidget {
 public:
  explicit Gutter(CodeEditor *editor) : QWidget(editor), editor_(editor) {}
  QSize sizeHint() const override { return {editor_->gutterWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent *event) override { editor_->paintGutter(event); }

 private:
  CodeEditor *editor_;
};

}  // namespace

CodeEditor::CodeEditor(QWidget *parent) : QPlainTextEdit(parent), gutter_(new Gutter(this)) {
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateMargins(); });
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
    if (dy) gutter_->scroll(0, dy);
    else gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  });
  updateMargins();
}

int CodeEditor::gutterWidth() const {
  int digits = 1;
  for (int n = std::max(1, blockCount() - 1); n >= 10; n /= 10) ++digits;
  // Room for the digits and the breakpoint mark.
  return 6 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * (digits + 2);
}

void CodeEditor::refreshGutter() { gutter_->update(); }

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
      if (marked && marked(line)) {
        painter.setBrush(QColor(200, 30, 30));
        painter.setPen(Qt::NoPen);
        int d = std::min(height, mark) - 4;
        painter.drawEllipse(3, top + (height - d) / 2, d, d);
      }
      painter.setPen(palette().color(QPalette::PlaceholderText));
      painter.drawText(mark, top, gutter_->width() - mark - 3, height, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(line));
    }
    block = block.next();
    top += height;
  }
}

}  // namespace velmora::gui

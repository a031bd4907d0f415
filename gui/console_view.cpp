#include "gui/console_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionViewItem>

#include "gui/qt_text.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmora::gui {

ConsoleView::ConsoleView(QWidget *parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
          [this] { followEnd_ = verticalScrollBar()->sliderPosition() >= verticalScrollBar()->maximum(); });
  updateScrollBars();
}

QString ConsoleView::rowText(int row) const {
  return row >= 0 && row < count() ? qs(store_.line(std::size_t(row))) : QString();
}

void ConsoleView::releaseFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

int ConsoleView::fixedRowHeight() const { return fontMetrics().height() + 2; }

int ConsoleView::rowHeight() const {
  if (ownerDrawn_) return fixedRowHeight();
  // The platform's list row: the font's line with the style's margins.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameVMargin, nullptr, this);
  return fontMetrics().height() + 2 * margin + 2;
}

void ConsoleView::setOwnerDrawn(bool on) {
  if (on == ownerDrawn_) return;
  ownerDrawn_ = on;
  updateScrollBars();
  viewport()->update();
}

QRect ConsoleView::rowRect(int row) const {
  const int h = rowHeight();
  return QRect(-horizontalScrollBar()->value(), (row - verticalScrollBar()->value()) * h,
               std::max(viewport()->width(), widest()), h);
}

int ConsoleView::rowAt(int y) const {
  const int row = verticalScrollBar()->value() + y / std::max(1, rowHeight());
  return std::clamp(row, 0, std::max(0, count() - 1));
}

void ConsoleView::updateScrollBars() {
  const int h = std::max(1, rowHeight());
  const int page = std::max(1, viewport()->height() / h);
  QScrollBar *v = verticalScrollBar();
  v->setPageStep(page);
  v->setSingleStep(1);
  v->setRange(0, std::max(0, count() - page));
  QScrollBar *horizontal = horizontalScrollBar();
  horizontal->setPageStep(viewport()->width());
  horizontal->setSingleStep(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 4);
  horizontal->setRange(0, std::max(0, widest() - viewport()->width()));
}

void ConsoleView::showLines(const Lines &lines) {
  const ConsoleStore::Change change = store_.follow(lines);
  if (change.reset) {
    anchor_ = current_ = -1;
    all_ = false;
  }
  if (change.from >= store_.size() && !change.reset) return;  // nothing new
  const bool atEnd = followEnd_;
  updateScrollBars();
  if (atEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  followEnd_ = atEnd;
  viewport()->update();
}

void ConsoleView::clear() {
  store_.release();
  anchor_ = current_ = -1;
  all_ = false;
  followEnd_ = true;
  updateScrollBars();
  viewport()->update();
}

void ConsoleView::setCurrentRow(int row) {
  all_ = false;
  anchor_ = current_ = row >= 0 && row < count() ? row : -1;
  viewport()->update();
}

void ConsoleView::selectAll() {
  all_ = count() > 0;
  viewport()->update();
}

bool ConsoleView::isSelected(int row) const {
  if (all_) return true;
  if (anchor_ < 0 || current_ < 0) return false;
  return row >= std::min(anchor_, current_) && row <= std::max(anchor_, current_);
}

int ConsoleView::selectedCount() const {
  if (all_) return count();
  if (anchor_ < 0 || current_ < 0) return 0;
  return std::abs(current_ - anchor_) + 1;
}

QString ConsoleView::selectedText() const {
  int first = 0, last = count() - 1;
  if (!all_ && anchor_ >= 0 && current_ >= 0) {
    first = std::min(anchor_, current_);
    last = std::min(std::max(anchor_, current_), count() - 1);
  }
  QStringList rows;
  for (int i = first; i <= last; ++i) rows << rowText(i);
  return rows.join(QChar(u'\n'));
}

void ConsoleView::copySelection() const { QApplication::clipboard()->setText(selectedText()); }

QMenu *ConsoleView::makeContextMenu() {
  auto *menu = new QMenu(this);
  menu->addAction(QStringLiteral("コピー"), QKeySequence::Copy, this, [this] { copySelection(); });
  menu->addAction(QStringLiteral("すべて選択"), QKeySequence::SelectAll, this, [this] { selectAll(); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("クリア"), this, [this] { emit clearRequested(); });
  return menu;
}

void ConsoleView::paintEvent(QPaintEvent *) {
  QPainter p(viewport());
  const int h = rowHeight();
  const int first = verticalScrollBar()->value();
  const int rows = viewport()->height() / std::max(1, h) + 2;
  QStyleOptionViewItem option;
  option.initFrom(this);
  option.font = font();
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  option.features = QStyleOptionViewItem::HasDisplay;
  option.textElideMode = Qt::ElideNone;
  for (int row = first; row < count() && row < first + rows; ++row) {
    const QRect r = rowRect(row);
    const bool selected = isSelected(row);
    const QString text = rowText(row);
    if (ownerDrawn_) {
      // The console's own drawing: the text at the font's height.
      if (selected) p.fillRect(r, palette().highlight());
      p.setPen(selected ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::Text));
      p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextExpandTabs, text);
    } else {
      // As the platform draws a list row.
      option.rect = r;
      option.text = text;
      option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
      if (hasFocus()) option.state |= QStyle::State_Active;
      if (row == current_ && hasFocus()) option.state |= QStyle::State_HasFocus;
      style()->drawControl(QStyle::CE_ItemViewItem, &option, &p, this);
    }
  }
}

void ConsoleView::resizeEvent(QResizeEvent *event) {
  QAbstractScrollArea::resizeEvent(event);
  const bool atEnd = followEnd_;
  updateScrollBars();
  if (atEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ConsoleView::scrollContentsBy(int, int) { viewport()->update(); }

void ConsoleView::moveCurrent(int row, bool extend) {
  if (count() == 0) return;
  row = std::clamp(row, 0, count() - 1);
  all_ = false;
  if (!extend || anchor_ < 0) anchor_ = row;
  current_ = row;
  QScrollBar *v = verticalScrollBar();
  if (row < v->value()) v->setValue(row);
  else if (row >= v->value() + v->pageStep()) v->setValue(row - v->pageStep() + 1);
  followEnd_ = v->value() >= v->maximum();
  viewport()->update();
}

void ConsoleView::mousePressEvent(QMouseEvent *event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton && count() > 0)
    moveCurrent(rowAt(int(event->position().y())), event->modifiers() & Qt::ShiftModifier);
  QAbstractScrollArea::mousePressEvent(event);
}

void ConsoleView::mouseMoveEvent(QMouseEvent *event) {
  if ((event->buttons() & Qt::LeftButton) && count() > 0) moveCurrent(rowAt(int(event->position().y())), true);
}

void ConsoleView::contextMenuEvent(QContextMenuEvent *event) {
  QMenu *menu = makeContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void ConsoleView::changeEvent(QEvent *event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) updateScrollBars();
}

int ConsoleView::widest() const {
  // A half-width cell is about a digit wide (a little more for proportional text).
  return int(store_.longest()) * (fontMetrics().horizontalAdvance(QLatin1Char('0')) + 1) + 8;
}

// Copy and select all are the console's own while it has the focus, so the
// edit menu's shortcuts never reach a program behind it.
bool ConsoleView::event(QEvent *e) {
  if (e->type() == QEvent::ShortcutOverride) {
    auto *key = static_cast<QKeyEvent *>(e);
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll) || key->matches(QKeySequence::Cut) ||
        key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)) {
      e->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

void ConsoleView::keyPressEvent(QKeyEvent *event) {
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const int page = verticalScrollBar()->pageStep();
  const int at = current_ >= 0 ? current_ : verticalScrollBar()->value();
  if (event->matches(QKeySequence::Copy)) copySelection();
  else if (event->matches(QKeySequence::SelectAll)) selectAll();
  else if (event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste) ||
           event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo))
    return;  // the console's text is not edited
  else if (event->key() == Qt::Key_Up) moveCurrent(at - 1, shift);
  else if (event->key() == Qt::Key_Down) moveCurrent(at + 1, shift);
  else if (event->key() == Qt::Key_PageUp) moveCurrent(at - page, shift);
  else if (event->key() == Qt::Key_PageDown) moveCurrent(at + page, shift);
  else if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) moveCurrent(0, shift);
  else if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) moveCurrent(count() - 1, shift);
  else QAbstractScrollArea::keyPressEvent(event);
}

}  // namespace velmora::gui

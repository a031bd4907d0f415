#include "gui/console_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "gui/qt_text.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmora::gui {

namespace {

QString console_text(const u16 &line) {
  QString s = qs(line);
  s.remove(QChar(u'\r'));
  return s;
}

// The console's own drawing: one text line per row at the height of the
// font's line, the selection in the palette's highlight.
class FixedRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    const QFontMetrics fm(option.font);
    return {fm.horizontalAdvance(index.data().toString()) + 4, fm.height() + 2};
  }
  void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    p->save();
    if (selected) p->fillRect(option.rect, option.palette.highlight());
    p->setFont(option.font);
    p->setPen(selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text));
    p->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextExpandTabs,
                index.data().toString());
    p->restore();
  }
};

}  // namespace

ConsoleView::ConsoleView(QWidget *parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Every row has the height of one line: no row is measured on its own.
  setUniformItemSizes(true);
  // Rows are laid out in batches between events, so adding rows to a long
  // console costs what was added, not what is held; the view follows the
  // end as the layout grows, until the user scrolls away from it.
  setLayoutMode(QListView::Batched);
  setBatchSize(4096);
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int max) {
    if (followEnd_) verticalScrollBar()->setValue(max);
  });
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
          [this] { followEnd_ = verticalScrollBar()->sliderPosition() >= verticalScrollBar()->maximum(); });
  platformDelegate_ = itemDelegate();
  fixedDelegate_ = new FixedRowDelegate(this);
  fixedDelegate_->setObjectName(QStringLiteral("fixedRows"));
}

void ConsoleView::setOwnerDrawn(bool on) {
  if (on == ownerDrawn_) return;
  ownerDrawn_ = on;
  setItemDelegate(on ? fixedDelegate_ : platformDelegate_);
  doItemsLayout();
}

void ConsoleView::releaseFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

int ConsoleView::fixedRowHeight() const { return QFontMetrics(font()).height() + 2; }

void ConsoleView::showLines(const Lines &lines) {
  int have = count();
  if (have > int(lines.size())) {
    clear();
    have = 0;
  }
  if (have > 0) {
    QString last = console_text(lines[std::size_t(have) - 1]);
    if (item(have - 1)->text() != last) item(have - 1)->setText(last);
  }
  if (std::size_t(have) < lines.size()) {
    // One insertion for all new rows.
    QStringList added;
    added.reserve(qsizetype(lines.size() - std::size_t(have)));
    for (std::size_t i = std::size_t(have); i < lines.size(); ++i) added << console_text(lines[i]);
    addItems(added);
    followEnd_ = true;
    scrollToBottom();
  }
}

QString ConsoleView::selectedText() const {
  QStringList rows;
  bool any = false;
  for (int i = 0; i < count(); ++i)
    if (item(i)->isSelected()) any = true;
  for (int i = 0; i < count(); ++i)
    if (!any || item(i)->isSelected()) rows << item(i)->text();
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

void ConsoleView::contextMenuEvent(QContextMenuEvent *event) {
  QMenu *menu = makeContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
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
  return QListWidget::event(e);
}

void ConsoleView::keyPressEvent(QKeyEvent *event) {
  if (event->matches(QKeySequence::Copy)) copySelection();
  else if (event->matches(QKeySequence::SelectAll)) selectAll();
  else if (event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste) ||
           event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo))
    return;  // the console's text is not edited
  else QListWidget::keyPressEvent(event);
}

}  // namespace velmora::gui

#include "gui/canvas_window.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

namespace velmora::gui {

CanvasWindow::CanvasWindow(canvas::ImageCanvas &canvases, int number, QWidget *parent)
    : QWidget(parent, Qt::Tool), canvases_(canvases), number_(number) {
  setWindowTitle(QStringLiteral("キャンバス %1").arg(number));
  setAttribute(Qt::WA_ShowWithoutActivating);
  sync();
}

void CanvasWindow::sync() {
  syncing_ = true;
  const QImage &img = canvases_.image(number_);
  if (!userSized_ && size() != img.size()) {
    requested_.append(img.size());
    if (requested_.size() > 4) requested_.removeFirst();
    resize(img.size());
  }
  if (pos() != canvases_.position(number_)) move(canvases_.position(number_));
  setVisible(canvases_.visible(number_));
  syncing_ = false;
  update();
}

bool CanvasWindow::savePicture(const QString &file) const {
  const char *format = file.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive) ? "BMP" : "PNG";
  return canvases_.image(number_).save(file, format);
}

void CanvasWindow::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.drawImage(0, 0, canvases_.image(number_));
}

void CanvasWindow::contextMenuEvent(QContextMenuEvent *event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("画像を保存..."), this, [this] { emit saveRequested(number_); });
  menu.exec(event->globalPos());
}

void CanvasWindow::resizeEvent(QResizeEvent *event) {
  // A size that did not come from the canvas came from the user. The
  // window system reports the sizes the canvas asked for back later, after
  // the canvas may have changed again (EXTENT right after showing): none
  // of those counts.
  if (!syncing_ && isVisible() && event->spontaneous() && event->size() != canvases_.image(number_).size() &&
      !requested_.contains(event->size()))
    userSized_ = true;
  QWidget::resizeEvent(event);
}

}  // namespace velmora::gui

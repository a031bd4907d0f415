#pragma once
// A canvas in a window of its own that stays above the main window.
#include <QPainter>
#include <QWidget>

#include "canvas/qimage_canvas.h"

namespace velmora::gui {

class CanvasWindow : public QWidget {
 public:
  CanvasWindow(canvas::ImageCanvas &canvases, int number, QWidget *parent)
      : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), canvases_(canvases), number_(number) {
    setWindowTitle(QStringLiteral("キャンバス %1").arg(number));
    sync();
  }
  // Follows the canvas: shown or hidden, placed, sized and repainted.
  void sync() {
    const QImage &img = canvases_.image(number_);
    if (size() != img.size()) resize(img.size());
    if (pos() != canvases_.position(number_)) move(canvases_.position(number_));
    setVisible(canvases_.visible(number_));
    update();
  }

 protected:
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    p.drawImage(0, 0, canvases_.image(number_));
  }

 private:
  canvas::ImageCanvas &canvases_;
  int number_;
};

}  // namespace velmora::gui

#pragma once
// A canvas in a window of its own: an ordinary tool window of the IDE that
// never covers dialogs and does not take the focus when a run shows it. Its
// context menu saves the picture; a size the user dragged is kept.
#include <QWidget>

#include "canvas/qimage_canvas.h"

namespace velmora::gui {

class CanvasWindow : public QWidget {
  Q_OBJECT
 public:
  CanvasWindow(canvas::ImageCanvas &canvases, int number, QWidget *parent);
  // Follows the canvas: shown or hidden, placed, sized and repainted.
  void sync();
  // "画像を保存...": PNG or BMP by the name's extension (PNG when it has none).
  bool savePicture(const QString &file) const;
  bool userSized() const { return userSized_; }

 signals:
  void saveRequested(int number);

 protected:
  void paintEvent(QPaintEvent *) override;
  void contextMenuEvent(QContextMenuEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

 private:
  canvas::ImageCanvas &canvases_;
  int number_;
  bool userSized_ = false;
  QList<QSize> requested_;  // the sizes sync asked for lately
  bool syncing_ = false;
};

}  // namespace velmora::gui

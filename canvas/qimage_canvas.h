#pragma once
// The ten canvases as QImage surfaces drawn with QPainter. Works without a
// display (QT_QPA_PLATFORM=offscreen), so the headless runner and the tests
// draw for real. Windows that show the canvases listen through `changed`.
#include <QImage>
#include <array>
#include <functional>

#include "engine/canvas_services.h"

namespace velmora::canvas {

class ImageCanvas : public engine::CanvasServices {
 public:
  ImageCanvas();

  static constexpr int kDefaultSize = 400;  // a canvas's size until EXTENT changes it

  const QImage &image(int canvas) const { return surface(canvas); }
  bool visible(int canvas) const { return visible_[std::size_t(canvas)]; }
  QPoint position(int canvas) const { return positions_[std::size_t(canvas)]; }
  // Called after every change of a canvas (drawing, showing, moving).
  std::function<void(int canvas)> changed;

  void showHide(int canvas, bool show) override;
  void place(int canvas, int x, int y) override;
  void extent(int canvas, int width, int height) override;
  int width(int canvas) const override {
    const QImage &img = images_[std::size_t(canvas)];
    return img.isNull() ? kDefaultSize : img.width();
  }
  int height(int canvas) const override {
    const QImage &img = images_[std::size_t(canvas)];
    return img.isNull() ? kDefaultSize : img.height();
  }
  void backColour(int canvas, int colour) override;
  void line(int canvas, int x0, int y0, int x1, int y1, const engine::Pen &pen) override;
  void fillRect(int canvas, const engine::Rect &r, int colour) override;
  void ellipse(int canvas, const engine::Rect &box, const engine::Pen &pen, int fill) override;
  void pie(int canvas, const engine::Rect &box, double startDegrees, double spanDegrees, const engine::Pen &pen,
           int fill) override;
  void polygon(int canvas, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen, int fill) override;
  void bezier(int canvas, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen) override;
  void text(int canvas, int x, int y, u16view text, const engine::Font &font, int tenths) override;
  int lineHeight(int canvas, const engine::Font &font) override;
  void clippedText(int canvas, int x, int y, u16view text, const engine::Font &font, const engine::Rect *clip) override;
  bool saveImage(int canvas, const engine::Rect &r, bool png, const std::filesystem::path &file) override;
  bool loadImage(int canvas, const std::filesystem::path &file, int x, int y, const engine::Rect *stretch) override;
  std::optional<std::string> encodeImage(int canvas, const engine::Rect &r, bool png) override;
  bool loadImageBytes(int canvas, const std::string &bytes, int x, int y, const engine::Rect *stretch) override;
  void reset() override;

 private:
  bool drawPicture(int canvas, const QImage &picture, int x, int y, const engine::Rect *stretch);
  // Null until the canvas is first used (surface() makes it).
  mutable std::array<QImage, engine::kCanvases> images_;
  QImage &surface(int canvas) const;
  std::array<bool, engine::kCanvases> visible_{};
  std::array<QPoint, engine::kCanvases> positions_;
  void notify(int canvas) {
    if (changed) changed(canvas);
  }
};

// The platform colour of a value b·65536 + g·256 + r.
QColor colour_of(int value);

}  // namespace velmora::canvas

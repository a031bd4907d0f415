#pragma once
// The ten canvases of the browser build. The engine's drawing calls become
// drawing records (JSON arrays) that the worker hands to the page, which
// draws them on its HTML canvases with the desktop's colours and geometry.
// Sizes are kept here, so width and height answer at once.
#include <array>
#include <string>

#include "engine/canvas_services.h"

namespace velmora::web {

class WebCanvas : public engine::CanvasServices {
 public:
  WebCanvas();
  void showHide(int canvas, bool show) override;
  void place(int canvas, int x, int y) override;
  void extent(int canvas, int width, int height) override;
  int width(int canvas) const override { return size_[std::size_t(canvas)].first; }
  int height(int canvas) const override { return size_[std::size_t(canvas)].second; }
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
  // The worker's copy of the canvas gives the pixels (after the records not
  // yet handed over); false where there is none (the command-line runner).
  bool saveImage(int canvas, const engine::Rect &r, bool png, const std::filesystem::path &file) override;
  // Pictures would need an image decoder that answers at once: not in the
  // browser build, so LOAD reports failure.
  bool loadImage(int, const std::filesystem::path &, int, int, const engine::Rect *) override { return false; }
  void reset() override;

  // The records since the last call, as one JSON array ("" when none).
  std::string take();

 private:
  std::array<std::pair<int, int>, engine::kCanvases> size_;
  std::string pending_;
  void add(const std::string &record);
};

// A JSON string literal of UTF-16 text.
std::string json_string(u16view text);
std::string json_string(const std::string &utf8);

}  // namespace velmora::web

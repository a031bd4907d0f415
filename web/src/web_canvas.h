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
  // browser build, so LOAD draws nothing and says so once a run.
  bool loadImage(int, const std::filesystem::path &, int, int, const engine::Rect *) override;
  bool loadImageBytes(int, const std::string &, int, int, const engine::Rect *) override;
  void reset() override;

  // The records since the last call, as one JSON array ("" when none).
  std::string take();
  // A run starts: what was said once a run is said again.
  void runStarts() { loadImageNoted_ = false; }

 private:
  std::array<std::pair<int, int>, engine::kCanvases> size_;
  // The records since the last take, canvas by canvas (the canvases do not
  // depend on each other), after the reset of all when one came. Records
  // before one that paints a whole canvas are dropped: an animation drawn
  // faster than the page shows it sends its latest frame only. The latest
  // size and visibility of each canvas are kept apart from the drawing.
  std::array<std::string, engine::kCanvases> pending_, extent_, shown_;
  bool resetPending_ = false;
  bool loadImageNoted_ = false;
  void add(int canvas, const std::string &record);
  void paintedAll(int canvas);
  bool noLoadImage();
};

// A JSON string literal of UTF-16 text.
std::string json_string(u16view text);
std::string json_string(const std::string &utf8);

}  // namespace velmora::web

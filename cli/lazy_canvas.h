#pragma once
// The canvases of velmora-run, loaded from the canvas module when a program
// first draws, shows, moves, sizes, saves or loads a canvas. Until then a
// canvas is a blank 400 x 400 surface that nobody has allocated.
#include <memory>
#include <string>

#include "engine/canvas_services.h"

namespace velmora::cli {

class LazyCanvas : public engine::CanvasServices {
 public:
  // The module file is looked for in each directory, in order.
  explicit LazyCanvas(std::vector<std::string> directories);
  bool loaded() const { return real_ != nullptr; }

  void showHide(int canvas, bool show) override {
    if (show || real_) use()->showHide(canvas, show);
  }
  void place(int canvas, int x, int y) override { use()->place(canvas, x, y); }
  void extent(int canvas, int width, int height) override { use()->extent(canvas, width, height); }
  int width(int canvas) const override { return real_ ? real_->width(canvas) : kDefaultSize; }
  int height(int canvas) const override { return real_ ? real_->height(canvas) : kDefaultSize; }
  void backColour(int canvas, int colour) override { use()->backColour(canvas, colour); }
  void line(int canvas, int x0, int y0, int x1, int y1, const engine::Pen &pen) override {
    use()->line(canvas, x0, y0, x1, y1, pen);
  }
  void fillRect(int canvas, const engine::Rect &r, int colour) override { use()->fillRect(canvas, r, colour); }
  void ellipse(int canvas, const engine::Rect &box, const engine::Pen &pen, int fill) override {
    use()->ellipse(canvas, box, pen, fill);
  }
  void pie(int canvas, const engine::Rect &box, double start, double span, const engine::Pen &pen, int fill) override {
    use()->pie(canvas, box, start, span, pen, fill);
  }
  void polygon(int canvas, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen, int fill) override {
    use()->polygon(canvas, points, pen, fill);
  }
  void bezier(int canvas, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen) override {
    use()->bezier(canvas, points, pen);
  }
  void text(int canvas, int x, int y, u16view text, const engine::Font &font, int tenths) override {
    use()->text(canvas, x, y, text, font, tenths);
  }
  int lineHeight(int canvas, const engine::Font &font) override { return use()->lineHeight(canvas, font); }
  void clippedText(int canvas, int x, int y, u16view text, const engine::Font &font,
                   const engine::Rect *clip) override {
    use()->clippedText(canvas, x, y, text, font, clip);
  }
  bool saveImage(int canvas, const engine::Rect &r, bool png, const std::filesystem::path &file) override {
    return use()->saveImage(canvas, r, png, file);
  }
  bool loadImage(int canvas, const std::filesystem::path &file, int x, int y, const engine::Rect *stretch) override {
    return use()->loadImage(canvas, file, x, y, stretch);
  }
  std::optional<std::string> encodeImage(int canvas, const engine::Rect &r, bool png) override {
    return use()->encodeImage(canvas, r, png);
  }
  bool loadImageBytes(int canvas, const std::string &bytes, int x, int y, const engine::Rect *stretch) override {
    return use()->loadImageBytes(canvas, bytes, x, y, stretch);
  }
  // Canvases nobody has used are blank already.
  void reset() override {
    if (real_) real_->reset();
  }

 private:
  static constexpr int kDefaultSize = 400;
  std::vector<std::string> directories_;
  void *module_ = nullptr;
  std::string reasons_;  // why no directory had it
  engine::CanvasServices *real_ = nullptr;
  std::unique_ptr<engine::CanvasServices> none_;  // when the module cannot be loaded
  engine::CanvasServices *use();
  void load();  // maps the module (module_), or notes why not
};

// The directories velmora-run looks in for the canvas module: its own, then
// the installed module directory relative to it.
std::vector<std::string> canvas_module_directories();

}  // namespace velmora::cli

#pragma once
// What the engine needs of the ten canvases. The GRAPH interpreter works out
// geometry and keeps each task's drawing state; an implementation of this
// interface (canvas/, with QImage and QPainter) does the drawing.
#include <filesystem>
#include <optional>
#include <string>

#include "text/u16.h"

namespace velmora::engine {

constexpr int kCanvases = 10;

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Colours are values b·65536 + g·256 + r (the first of three numbers in the
// blue byte, the third in the red byte).
struct Pen {
  int colour = 0;
  int width = 1;
  int style = 0;  // 0 solid, 1 dash, 2 dot, 3 dash-dot, 4 dash-dot-dot
  bool notXor = false;
};

struct Font {
  u16 name;
  int size = 10;
  int style = 0;  // 1 bold, 2 italic, 4 underline, 8 strike-out
  int colour = 0;
  int background = 0xFFFFFF;
};

class CanvasServices {
 public:
  virtual ~CanvasServices() = default;
  virtual int canvasCount() const { return kCanvases; }
  virtual void showHide(int canvas, bool show) = 0;
  virtual void place(int canvas, int x, int y) = 0;
  virtual void extent(int canvas, int width, int height) = 0;
  virtual int width(int canvas) const = 0;
  virtual int height(int canvas) const = 0;
  virtual void backColour(int canvas, int colour) = 0;
  virtual void line(int canvas, int x0, int y0, int x1, int y1, const Pen &pen) = 0;
  virtual void fillRect(int canvas, const Rect &r, int colour) = 0;
  virtual void ellipse(int canvas, const Rect &box, const Pen &pen, int fill) = 0;
  // A pie slice of the ellipse in box, from start through span degrees
  // (counter-clockwise positive, 0 pointing right).
  virtual void pie(int canvas, const Rect &box, double startDegrees, double spanDegrees, const Pen &pen, int fill) = 0;
  virtual void polygon(int canvas, const std::vector<std::pair<int, int>> &points, const Pen &pen, int fill) = 0;
  virtual void bezier(int canvas, const std::vector<std::pair<int, int>> &points, const Pen &pen) = 0;
  // Text with its top-left corner at (x, y), rotated by tenths of a degree.
  virtual void text(int canvas, int x, int y, u16view text, const Font &font, int tenths) = 0;
  virtual int lineHeight(int canvas, const Font &font) = 0;
  // Text clipped to clip (when not null).
  virtual void clippedText(int canvas, int x, int y, u16view text, const Font &font, const Rect *clip) = 0;
  virtual bool saveImage(int canvas, const Rect &r, bool png, const std::filesystem::path &file) = 0;
  virtual bool loadImage(int canvas, const std::filesystem::path &file, int x, int y, const Rect *stretch) = 0;
  // The area as the bytes of a PNG or BMP file, for the engine to store the
  // way the run may write; nothing where the canvas saves only itself.
  virtual std::optional<std::string> encodeImage(int /*canvas*/, const Rect & /*r*/, bool /*png*/) {
    return std::nullopt;
  }
  // loadImage from the bytes of an image file the engine has read.
  virtual bool loadImageBytes(int /*canvas*/, const std::string & /*bytes*/, int /*x*/, int /*y*/,
                              const Rect * /*stretch*/) {
    return false;
  }
  // Every canvas back to a blank white surface of its first size (a run
  // starts); where its window stands and whether it is shown stay.
  virtual void reset() = 0;
};

}  // namespace velmora::engine

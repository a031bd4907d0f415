#include "cli/lazy_canvas.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>

#include "canvas/module.h"

namespace velmora::cli {

namespace {

// Canvases that draw nothing, for a run whose canvas module is missing (the
// reason is on stderr once).
class NoCanvas : public engine::CanvasServices {
 public:
  void showHide(int, bool) override {}
  void place(int, int, int) override {}
  void extent(int, int, int) override {}
  int width(int) const override { return 400; }
  int height(int) const override { return 400; }
  void backColour(int, int) override {}
  void line(int, int, int, int, int, const engine::Pen &) override {}
  void fillRect(int, const engine::Rect &, int) override {}
  void ellipse(int, const engine::Rect &, const engine::Pen &, int) override {}
  void pie(int, const engine::Rect &, double, double, const engine::Pen &, int) override {}
  void polygon(int, const std::vector<std::pair<int, int>> &, const engine::Pen &, int) override {}
  void bezier(int, const std::vector<std::pair<int, int>> &, const engine::Pen &) override {}
  void text(int, int, int, u16view, const engine::Font &, int) override {}
  int lineHeight(int, const engine::Font &font) override { return font.size; }
  void clippedText(int, int, int, u16view, const engine::Font &, const engine::Rect *) override {}
  bool saveImage(int, const engine::Rect &, bool, const std::filesystem::path &) override { return false; }
  bool loadImage(int, const std::filesystem::path &, int, int, const engine::Rect *) override { return false; }
  void reset() override {}
};

}  // namespace

LazyCanvas::LazyCanvas(std::vector<std::string> directories) : directories_(std::move(directories)) {}

void LazyCanvas::load() {
  for (const std::string &dir : directories_) {
    if (module_) return;
    const std::string file = dir + "/velmora-canvas.so";
    module_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module_) reasons_ += std::string("\n  ") + dlerror();
  }
}

engine::CanvasServices *LazyCanvas::use() {
  if (real_) return real_;
  load();
  if (module_) {
    auto open = reinterpret_cast<VelmoraCanvasOpen>(dlsym(module_, VELMORA_CANVAS_MODULE_ENTRY));
    if (open && (real_ = open())) return real_;
    reasons_ += "\n  the canvas module made no canvases";
  }
  std::fprintf(stderr, "velmora-run: the canvases cannot be used:%s\n", reasons_.c_str());
  none_ = std::make_unique<NoCanvas>();
  real_ = none_.get();
  return real_;
}

std::vector<std::string> canvas_module_directories() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const std::filesystem::path dir = exe.parent_path();
  return {dir.string(), (dir / VELMORA_CANVAS_MODULE_RELATIVE).lexically_normal().string()};
}

}  // namespace velmora::cli

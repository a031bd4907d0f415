#include "web/src/web_canvas.h"

#include <emscripten.h>

#include <cmath>

// The bodies below are JavaScript: the formatter leaves them as written.
// clang-format off
// Hands the pending records to the worker, then writes the image file.
EM_JS(int, velmora_js_save_image, (int canvas, const char *records, int l, int t, int r, int b, int png,
                                   const char *file), {
  const pending = UTF8ToString(records);
  if (pending) velmoraHost.post("draw", pending);
  return velmoraHost.saveImage(canvas, l, t, r, b, !!png, UTF8ToString(file)) ? 1 : 0;
});
// A message for the page's list (title, text: UTF-8).
EM_JS(void, velmora_js_message, (const char *json), {
  velmoraHost.post("message", UTF8ToString(json));
});
// clang-format on

namespace velmora::web {

namespace {

std::string n(int v) { return std::to_string(v); }
std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}
std::string pen_fields(const engine::Pen &p) {
  return n(p.colour) + "," + n(std::max(1, p.width)) + "," + n(p.style >= 0 && p.style <= 4 ? p.style : 0) + "," +
         (p.notXor ? "1" : "0");
}
std::string rect_fields(const engine::Rect &r) {
  return n(r.left) + "," + n(r.top) + "," + n(r.right) + "," + n(r.bottom);
}
std::string font_fields(const engine::Font &f) {
  return json_string(f.name) + "," + n(std::max(1, f.size)) + "," + n(f.style) + "," + n(f.colour) + "," +
         n(f.background);
}
std::string points_field(const std::vector<std::pair<int, int>> &points) {
  std::string s = "[";
  for (std::size_t i = 0; i < points.size(); ++i) s += (i ? "," : "") + n(points[i].first) + "," + n(points[i].second);
  return s + "]";
}

}  // namespace

std::string json_string(const std::string &utf8) {
  std::string s = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          s += buf;
        } else {
          s += char(c);
        }
    }
  }
  return s + "\"";
}

std::string json_string(u16view text) { return json_string(text::to_utf8(text)); }

WebCanvas::WebCanvas() { size_.fill({400, 400}); }

void WebCanvas::add(int c, const std::string &record) {
  std::string &p = pending_[std::size_t(c)];
  if (!p.empty()) p += ",";
  p += record;
}

// Everything drawn on canvas c before is painted over: only its size and
// visibility stay.
void WebCanvas::paintedAll(int c) {
  std::string &p = pending_[std::size_t(c)];
  p.clear();
  for (const std::string *kept : {&extent_[std::size_t(c)], &shown_[std::size_t(c)]}) {
    if (kept->empty()) continue;
    if (!p.empty()) p += ",";
    p += *kept;
  }
}

std::string WebCanvas::take() {
  std::string all;
  if (resetPending_) all = "[\"reset\"]";
  for (std::size_t c = 0; c < pending_.size(); ++c) {
    if (pending_[c].empty()) continue;
    if (!all.empty()) all += ",";
    all += pending_[c];
    pending_[c].clear();
  }
  resetPending_ = false;
  for (auto &e : extent_) e.clear();
  for (auto &v : shown_) v.clear();
  return all.empty() ? all : "[" + all + "]";
}

void WebCanvas::reset() {
  size_.fill({400, 400});
  for (auto &p : pending_) p.clear();  // whatever was not drawn yet is wiped anyway
  for (auto &e : extent_) e.clear();
  for (auto &v : shown_) v.clear();
  resetPending_ = true;
}

void WebCanvas::showHide(int c, bool show) {
  shown_[std::size_t(c)] = "[\"show\"," + n(c) + "," + (show ? "1" : "0") + "]";
  add(c, shown_[std::size_t(c)]);
}
void WebCanvas::place(int c, int x, int y) { add(c, "[\"place\"," + n(c) + "," + n(x) + "," + n(y) + "]"); }

void WebCanvas::extent(int c, int w, int h) {
  // The same limits as the desktop canvas: a bad size changes nothing.
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000) return;
  size_[std::size_t(c)] = {w, h};
  extent_[std::size_t(c)] = "[\"extent\"," + n(c) + "," + n(w) + "," + n(h) + "]";
  add(c, extent_[std::size_t(c)]);
}

void WebCanvas::backColour(int c, int colour) {
  paintedAll(c);
  add(c, "[\"back\"," + n(c) + "," + n(colour) + "]");
}

void WebCanvas::line(int c, int x0, int y0, int x1, int y1, const engine::Pen &pen) {
  add(c, "[\"line\"," + n(c) + "," + n(x0) + "," + n(y0) + "," + n(x1) + "," + n(y1) + "," + pen_fields(pen) + "]");
}

void WebCanvas::fillRect(int c, const engine::Rect &r, int colour) {
  const auto [w, h] = size_[std::size_t(c)];
  if (std::min(r.left, r.right) <= 0 && std::min(r.top, r.bottom) <= 0 && std::max(r.left, r.right) >= w &&
      std::max(r.top, r.bottom) >= h)
    paintedAll(c);
  add(c, "[\"rect\"," + n(c) + "," + rect_fields(r) + "," + n(colour) + "]");
}

void WebCanvas::ellipse(int c, const engine::Rect &box, const engine::Pen &pen, int fill) {
  add(c, "[\"ellipse\"," + n(c) + "," + rect_fields(box) + "," + pen_fields(pen) + "," + n(fill) + "]");
}

void WebCanvas::pie(int c, const engine::Rect &box, double start, double span, const engine::Pen &pen, int fill) {
  add(c, "[\"pie\"," + n(c) + "," + rect_fields(box) + "," + num(start) + "," + num(span) + "," + pen_fields(pen) +
             "," + n(fill) + "]");
}

void WebCanvas::polygon(int c, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen, int fill) {
  add(c, "[\"polygon\"," + n(c) + "," + points_field(points) + "," + pen_fields(pen) + "," + n(fill) + "]");
}

void WebCanvas::bezier(int c, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen) {
  if (points.empty()) return;
  add(c, "[\"bezier\"," + n(c) + "," + points_field(points) + "," + pen_fields(pen) + "]");
}

void WebCanvas::text(int c, int x, int y, u16view text, const engine::Font &font, int tenths) {
  add(c, "[\"text\"," + n(c) + "," + n(x) + "," + n(y) + "," + json_string(text) + "," + font_fields(font) + "," +
             n(tenths) + "]");
}

// The height of a line of text: the point size at 96 dots per inch with
// the leading of the desktop's Gothic font.
int WebCanvas::lineHeight(int, const engine::Font &font) {
  return int(std::lround(std::max(1, font.size) * 96.0 / 72.0 * 1.15));
}

void WebCanvas::clippedText(int c, int x, int y, u16view text, const engine::Font &font, const engine::Rect *clip) {
  add(c, "[\"ctext\"," + n(c) + "," + n(x) + "," + n(y) + "," + json_string(text) + "," + font_fields(font) + "," +
             (clip ? "[" + rect_fields(*clip) + "]" : std::string("null")) + "]");
}

bool WebCanvas::noLoadImage() {
  if (!loadImageNoted_)
    velmora_js_message(
        ("{\"title\":\"\",\"text\":" +
         json_string(std::string("LOAD IMG（画像ファイルを描く）はブラウザ版では使えません：何も描きません。"
                                 "デスクトップ版の velmora か velmora-run なら描けます。")) +
         "}")
            .c_str());
  loadImageNoted_ = true;
  return false;
}
bool WebCanvas::loadImage(int, const std::filesystem::path &, int, int, const engine::Rect *) { return noLoadImage(); }
bool WebCanvas::loadImageBytes(int, const std::string &, int, int, const engine::Rect *) { return noLoadImage(); }

bool WebCanvas::saveImage(int c, const engine::Rect &r, bool png, const std::filesystem::path &file) {
  std::string records = take();
  return velmora_js_save_image(c, records.c_str(), r.left, r.top, r.right, r.bottom, png ? 1 : 0, file.c_str()) != 0;
}

}  // namespace velmora::web

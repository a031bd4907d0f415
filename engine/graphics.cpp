// Graphics: showing, hiding and selecting canvases, and the GRAPH command
// interpreter that changes a task's drawing state on its current canvas and
// draws through the canvas services.
#include <algorithm>
#include <cmath>

#include "engine/canvas_services.h"
#include "engine/machine.h"
#include "engine/families.h"
#include "engine/numeric.h"
#include "text/beneath.h"

namespace velmora::engine {

namespace {

constexpr double kPi = 3.14159265358979323846;

int colour(int b, int g, int r) { return (b & 0xFF) * 65536 + (g & 0xFF) * 256 + (r & 0xFF); }

long canvas_number(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long double n = std::trunc(e.num(t, r, 1));
  return n > 1e9L ? 1000000000L : n < -1e9L ? -1000000000L : long(n);
}

bool check_canvas(Machine &e, long n) {
  if (e.canvas && n >= 0 && n < e.canvas->canvasCount()) return true;
  e.runtimeError(u"キャンバス番号エラー　範囲外　" + text::int16(n));
  return false;
}

void op_hide(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long n = canvas_number(e, t, r);
  if (!e.errorFlag && check_canvas(e, n)) e.canvas->showHide(int(n), false);
}

void op_show(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long n = canvas_number(e, t, r);
  if (!e.errorFlag && check_canvas(e, n)) e.canvas->showHide(int(n), true);
}

void op_select(Machine &e, TTaskInfo &t, const TPEXE &r) {
  long n = canvas_number(e, t, r);
  if (!e.errorFlag && check_canvas(e, n)) t.SelCan = int32_t(n);
}

struct Command {
  u16 word, option1, option2;  // upper-cased
  u16 text1, text2;            // as written (texts, file names)
  int options = 0;             // option words written
  const LineList *list = nullptr;
  std::vector<int> a;  // arguments a0..a19
  int arg(std::size_t i) const { return i < a.size() ? a[i] : 0; }
};

Pen pen_of(const DrawState &d) { return Pen{d.penColour, d.penWidth, d.penStyle, d.penNotXor}; }

Font font_of(const DrawState &d) { return Font{d.fontName, d.fontSize, d.fontStyle, d.penColour, d.baseColour}; }

std::pair<int, int> polar(int cx, int cy, int radius, double radians) {
  return {cx + int(std::trunc(radius * std::cos(radians))), cy - int(std::trunc(radius * std::sin(radians)))};
}

// Percent of a full turn, 0 up and clockwise, as an angle in radians.
double percent_angle(double p) { return (25 - p) * 2 * kPi / 100; }

std::vector<std::pair<int, int>> points_of(const Command &c) {
  std::vector<std::pair<int, int>> pts;
  int n = c.arg(0);
  if (n <= 0 || n > 9) return pts;
  for (int i = 0; i < n; ++i) pts.emplace_back(c.arg(std::size_t(1 + 2 * i)), c.arg(std::size_t(2 + 2 * i)));
  return pts;
}

void run_command(Machine &e, TTaskInfo &t, const Command &c) {
  int cv = t.SelCan;
  if (!e.canvas || cv < 0 || cv >= e.canvas->canvasCount()) return;
  CanvasServices &s = *e.canvas;
  DrawState &d = t.draw[std::size_t(cv)];
  const u16 &w = c.word;
  if (w == u"PLACE") {
    s.place(cv, c.arg(0), c.arg(1));
  } else if (w == u"EXTENT") {
    s.extent(cv, c.arg(0), c.arg(1));
  } else if (w == u"BACKCOLOR") {
    s.backColour(cv, colour(c.arg(0), c.arg(1), c.arg(2)));
  } else if (w == u"MODE") {
    if (c.arg(0) == 0 || c.arg(0) == 1) d.penNotXor = c.arg(0) == 1;
  } else if (w == u"STYLE") {
    if (c.arg(0) >= 0 && c.arg(0) <= 4) d.penStyle = c.arg(0);
  } else if (w == u"COLOR") {
    d.penColour = colour(c.arg(0), c.arg(1), c.arg(2));
  } else if (w == u"FILL") {
    d.baseColour = colour(c.arg(0), c.arg(1), c.arg(2));
  } else if (w == u"PEN") {
    d.penWidth = c.arg(0);
  } else if (w == u"AT") {
    if (c.option1 == u"CLOCK") {
      double angle = c.option2 == u"%" ? percent_angle(c.arg(1)) : c.arg(1) * kPi / 180;
      auto [x, y] = polar(d.penX, d.penY, c.arg(0), angle);
      d.penX = x;
      d.penY = y;
    } else {
      d.penX = c.arg(0);
      d.penY = c.arg(1);
    }
  } else if (w == u"LINE") {
    s.line(cv, d.penX, d.penY, c.arg(0), c.arg(1), pen_of(d));
    d.penX = c.arg(0);
    d.penY = c.arg(1);
  } else if (w == u"BOX") {
    s.fillRect(cv,
               Rect{std::min(d.penX, c.arg(0)), std::min(d.penY, c.arg(1)), std::max(d.penX, c.arg(0)),
                    std::max(d.penY, c.arg(1))},
               d.baseColour);
  } else if (w == u"BOXRATE") {
    int px = d.penX, py = d.penY, x = c.arg(0), y = c.arg(1), r1 = c.arg(2), r2 = c.arg(3);
    Rect r;
    if (c.option1 == u"X") {
      r = {px + int((long long)(x - px) * r1 / 100), py, px + int((long long)(x - px) * r2 / 100), y};
    } else if (c.option1 == u"Y") {
      r = {px, py + int((long long)(y - py) * r1 / 100), x, py + int((long long)(y - py) * r2 / 100)};
    } else {
      return;
    }
    s.fillRect(cv, r, d.baseColour);
  } else if (w == u"CIR" || w == u"ELLI") {
    int rx = c.arg(0), ry = w == u"CIR" ? c.arg(0) : c.arg(1);
    s.ellipse(cv, Rect{d.penX - rx, d.penY - ry, d.penX + rx, d.penY + ry}, pen_of(d), d.baseColour);
  } else if (w == u"PIE" || w == u"ELLIPIE") {
    bool elli = w == u"ELLIPIE";
    int rx = c.arg(0), ry = elli ? c.arg(1) : c.arg(0);
    int start = c.arg(elli ? 2 : 1), end = c.arg(elli ? 3 : 2);
    Rect box{d.penX - rx, d.penY - ry, d.penX + rx, d.penY + ry};
    if (c.option1 == u"%") {
      // Clockwise from start to end, 0 pointing up.
      double a0 = percent_angle(start) * 180 / kPi;
      s.pie(cv, box, a0, -(end - start) * 3.6, pen_of(d), d.baseColour);
    } else {
      s.pie(cv, box, start, end - start, pen_of(d), d.baseColour);
    }
  } else if (w == u"POLYGON") {
    auto pts = points_of(c);
    if (pts.empty()) return;
    s.polygon(cv, pts, pen_of(d), d.baseColour);
    d.penX = pts[0].first;
    d.penY = pts[0].second;
  } else if (w == u"BEZIER") {
    auto pts = points_of(c);
    if (pts.size() >= 4) s.bezier(cv, pts, pen_of(d));
  } else if (w == u"FONT") {
    if (c.option1 == u"NAME") d.fontName = c.text2;
    else if (c.option1 == u"SIZE") d.fontSize = c.arg(0);
    else if (c.option1 == u"STYLE") d.fontStyle = c.arg(0);
    else if (c.option1 == u"COLOR") {
      d.penColour = colour(c.arg(0), c.arg(1), c.arg(2));
      d.baseColour = colour(c.arg(3), c.arg(4), c.arg(5));
    }
  } else if (w == u"TEXT") {
    s.text(cv, d.penX, d.penY, c.text1, font_of(d), c.arg(0));
  } else if (w == u"TEXTAT") {
    s.text(cv, c.arg(0), c.arg(1), c.text1, font_of(d), c.arg(2));
  } else if (w == u"LIST") {
    if (c.option1 == u"BACK") {
      d.areaColour = colour(c.arg(0), c.arg(1), c.arg(2));
    } else if (c.option1 == u"AREA") {
      d.areaSet = true;
      d.areaLeft = c.arg(0), d.areaTop = c.arg(1), d.areaRight = c.arg(2), d.areaBottom = c.arg(3);
    } else if (c.option1 == u"MARGIN") {
      d.marginLeft = c.arg(0), d.marginTop = c.arg(1), d.marginRight = c.arg(2), d.marginBottom = c.arg(3);
    } else if (c.list) {
      Rect area =
          d.areaSet ? Rect{d.areaLeft, d.areaTop, d.areaRight, d.areaBottom} : Rect{0, 0, s.width(cv), s.height(cv)};
      s.fillRect(cv, area, d.areaColour);
      Font f = font_of(d);
      f.background = d.areaColour;
      int h = s.lineHeight(cv, f);
      bool clip = c.option1 != u"NOCLIP";
      for (std::size_t i = 0; i < c.list->size(); ++i) {
        int y = c.arg(1) + int(i) * h;
        if (clip && y + h > area.bottom) break;
        Rect r{c.arg(0), y, area.right + d.marginRight, area.bottom + d.marginBottom};
        s.clippedText(cv, c.arg(0), y, (*c.list)[i], f, clip ? &r : nullptr);
      }
    }
  } else if (w == u"SAVE") {
    // Both option words, the format and the file: one alone does nothing.
    if (c.options < 2 || (c.option1 != u"PNG" && c.option1 != u"BMP") || c.text2.empty()) return;
    // The part of the canvas within the rectangle: a picture holds only
    // what the canvas shows, never an undrawn margin beyond its edge.
    Rect r{std::max(c.arg(0), 0), std::max(c.arg(1), 0), std::min(c.arg(2), s.width(cv)),
           std::min(c.arg(3), s.height(cv))};
    if (r.right <= r.left || r.bottom <= r.top) return;
    if (!text::representable_file_name(c.text2))
      return file_failure(e, u"- ファイル パスエラー(" + text::escaped_file_name(c.text2) + u")",
                          text::escaped_file_name(c.text2));
    std::filesystem::path file(text::to_utf8(c.text2));
    if (file.is_relative()) file = e.dataDirectory / file;
    // Stored as whole-file stores are: beneath the data directory when the
    // run may not write outside it, and never half-written.
    bool saved = false;
    if (auto bytes = s.encodeImage(cv, r, c.option1 == u"PNG")) {
      saved = e.replaceFile(file, *bytes, u"SAVE");
    } else {
      if (!e.fileWritePermitted(file, u"SAVE")) return;
      saved = s.saveImage(cv, r, c.option1 == u"PNG", file);
    }
    if (!saved && !e.errorFlag)
      file_failure(e, u"- ファイルI/Oエラー\r" + text::from_utf8(file.string()), text::from_utf8(file.string()));
  } else if (w == u"LOAD") {
    if (c.option1 == u"AREA") {
      d.imageAreaSet = true;
      d.imageLeft = c.arg(0), d.imageTop = c.arg(1), d.imageRight = c.arg(2), d.imageBottom = c.arg(3);
    } else if (c.option1 == u"COMP") {
      d.imageCompress = true;
    } else if (c.option1 == u"IMG" && !c.text2.empty() && text::representable_file_name(c.text2)) {
      std::filesystem::path file(text::to_utf8(c.text2));
      if (file.is_relative()) file = e.dataDirectory / file;
      Rect area = d.imageAreaSet ? Rect{d.imageLeft, d.imageTop, d.imageRight, d.imageBottom}
                                 : Rect{0, 0, s.width(cv), s.height(cv)};
      const Rect *stretch = d.imageCompress ? &area : nullptr;
      if (e.readConfined()) {
        // Read the way the run may read; the canvas decodes the bytes.
        auto bytes = e.readFile(file, u"LOAD");
        if (e.errorFlag) return;
        if (bytes) s.loadImageBytes(cv, *bytes, c.arg(0), c.arg(1), stretch);
      } else {
        s.loadImage(cv, file, c.arg(0), c.arg(1), stretch);
      }
      d.imageCompress = false;
    }
  }
}

// Reads the command from its operands (k: the word, then options at k+2 ...).
void graph(Machine &e, TTaskInfo &t, const TPEXE &r, int options, int listSlot) {
  Command c;
  c.text1 = e.str(r, 1);
  c.word = text::upper_ascii(c.text1);
  c.options = options;
  if (options >= 1) {
    c.text1 = e.str(r, 3);
    c.option1 = text::upper_ascii(c.text1);
  }
  if (options >= 2) {
    c.text2 = e.str(r, 5);
    c.option2 = text::upper_ascii(c.text2);
  } else {
    c.text2 = c.text1;  // FONT NAME name, SAVE PNG file: the option word's text
  }
  if (listSlot > 0) {
    int v = e.varOf(r, listSlot);
    if (v >= 0) c.list = &e.vars[v].StrList;
  }
  if (e.errorFlag) return;
  if (t.ParamCount >= 1) {
    for (int i = 0; i < t.ParamCount && i < 20; ++i) c.a.push_back(int(truncate_to_int64(t.ParamVal[std::size_t(i)])));
    t.ParamCount = 0;
  } else {
    c.a.push_back(int(truncate_to_int64(t.WORK)));
  }
  run_command(e, t, c);
}

void op_graph0(Machine &e, TTaskInfo &t, const TPEXE &r) { graph(e, t, r, 0, 0); }
void op_graph1(Machine &e, TTaskInfo &t, const TPEXE &r) { graph(e, t, r, 1, 0); }
void op_graph2(Machine &e, TTaskInfo &t, const TPEXE &r) { graph(e, t, r, 2, 0); }
void op_graph_list(Machine &e, TTaskInfo &t, const TPEXE &r) { graph(e, t, r, 0, 4); }
void op_graph_option_list(Machine &e, TTaskInfo &t, const TPEXE &r) { graph(e, t, r, 1, 6); }

}  // namespace

void register_graphics(Machine &e) {
  e.setHandler(opCANVAS_HIDE, op_hide);
  e.setHandler(opCANVAS_SHOW, op_show);
  e.setHandler(opCANVAS_SELECT, op_select);
  e.setHandler(opGRAPH_0, op_graph0);
  e.setHandler(opGRAPH_STORE_0, op_graph0);
  e.setHandler(opGRAPH_1, op_graph1);
  e.setHandler(opGRAPH_STORE_1, op_graph1);
  e.setHandler(opGRAPH_2, op_graph2);
  e.setHandler(opGRAPH_STORE_2, op_graph2);
  e.setHandler(opGRAPH_LIST, op_graph_list);
  e.setHandler(opGRAPH_OPTION_LIST, op_graph_option_list);
}

}  // namespace velmora::engine

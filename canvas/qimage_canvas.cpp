#include "canvas/qimage_canvas.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace velmora::canvas {

namespace {

QString qs(u16view text) { return QString::fromUtf16(text.data(), qsizetype(text.size())); }

QPen pen_of(const engine::Pen &p) {
  QPen pen(colour_of(p.colour));
  pen.setWidth(std::max(1, p.width));
  static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine, Qt::DashDotDotLine};
  pen.setStyle(styles[p.style >= 0 && p.style <= 4 ? p.style : 0]);
  return pen;
}

QFont font_of(const engine::Font &f) {
  QFont font(f.name.empty() ? QStringLiteral("IPAGothic") : qs(f.name));
  font.setPointSize(std::max(1, f.size));
  font.setBold(f.style & 1);
  font.setItalic(f.style & 2);
  font.setUnderline(f.style & 4);
  font.setStrikeOut(f.style & 8);
  return font;
}

QRect rect_of(const engine::Rect &r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

// A painter for one canvas with the pen's mode.
class Painter : public QPainter {
 public:
  Painter(QImage &image, const engine::Pen *pen = nullptr) : QPainter(&image) {
    if (pen && pen->notXor) setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
  }
};

}  // namespace

QColor colour_of(int value) { return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF); }

ImageCanvas::ImageCanvas() {
  for (int i = 0; i < engine::kCanvases; ++i) positions_[std::size_t(i)] = QPoint(500 + 30 * i, 100 + 20 * i);
  reset();
}

// A canvas's surface is made when it is first drawn on or shown: a run
// that draws nothing allocates none of the ten.
QImage &ImageCanvas::surface(int canvas) const {
  QImage &img = images_[std::size_t(canvas)];
  if (img.isNull()) {
    img = QImage(kDefaultSize, kDefaultSize, QImage::Format_RGB32);
    img.fill(Qt::white);
  }
  return img;
}

void ImageCanvas::reset() {
  for (int i = 0; i < engine::kCanvases; ++i) {
    // Made again, white and of the first size, when next used.
    images_[std::size_t(i)] = QImage();
    notify(i);
  }
}

void ImageCanvas::showHide(int canvas, bool show) {
  visible_[std::size_t(canvas)] = show;
  notify(canvas);
}

void ImageCanvas::place(int canvas, int x, int y) {
  positions_[std::size_t(canvas)] = QPoint(x, y);
  notify(canvas);
}

void ImageCanvas::extent(int canvas, int w, int h) {
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000) return;
  QImage &img = surface(canvas);
  QImage bigger(w, h, QImage::Format_RGB32);
  bigger.fill(Qt::white);
  {
    QPainter p(&bigger);
    p.drawImage(0, 0, img);
  }
  img = bigger;
  notify(canvas);
}

void ImageCanvas::backColour(int canvas, int colour) {
  surface(canvas).fill(colour_of(colour));
  notify(canvas);
}

void ImageCanvas::line(int canvas, int x0, int y0, int x1, int y1, const engine::Pen &pen) {
  {
    Painter p(surface(canvas), &pen);
    p.setPen(pen_of(pen));
    p.drawLine(x0, y0, x1, y1);
  }
  notify(canvas);
}

void ImageCanvas::fillRect(int canvas, const engine::Rect &r, int colour) {
  {
    Painter p(surface(canvas));
    p.fillRect(rect_of(r), colour_of(colour));
  }
  notify(canvas);
}

void ImageCanvas::ellipse(int canvas, const engine::Rect &box, const engine::Pen &pen, int fill) {
  {
    Painter p(surface(canvas), &pen);
    p.setPen(pen_of(pen));
    p.setBrush(colour_of(fill));
    p.drawEllipse(rect_of(box));
  }
  notify(canvas);
}

void ImageCanvas::pie(int canvas, const engine::Rect &box, double start, double span, const engine::Pen &pen,
                      int fill) {
  {
    Painter p(surface(canvas), &pen);
    p.setPen(pen_of(pen));
    p.setBrush(colour_of(fill));
    // Qt counts angles in sixteenths of a degree, counter-clockwise.
    p.drawPie(rect_of(box), int(std::lround(start * 16)), int(std::lround(span * 16)));
  }
  notify(canvas);
}

void ImageCanvas::polygon(int canvas, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen,
                          int fill) {
  QPolygon poly;
  for (auto [x, y] : points) poly << QPoint(x, y);
  {
    Painter p(surface(canvas), &pen);
    p.setPen(pen_of(pen));
    p.setBrush(colour_of(fill));
    p.drawPolygon(poly);
  }
  notify(canvas);
}

void ImageCanvas::bezier(int canvas, const std::vector<std::pair<int, int>> &points, const engine::Pen &pen) {
  QPainterPath path(QPointF(points[0].first, points[0].second));
  std::size_t i = 1;
  for (; i + 2 < points.size(); i += 3)
    path.cubicTo(points[i].first, points[i].second, points[i + 1].first, points[i + 1].second, points[i + 2].first,
                 points[i + 2].second);
  {
    Painter p(surface(canvas), &pen);
    p.setPen(pen_of(pen));
    p.drawPath(path);
  }
  notify(canvas);
}

void ImageCanvas::text(int canvas, int x, int y, u16view text, const engine::Font &font, int tenths) {
  {
    Painter p(surface(canvas));
    QFont f = font_of(font);
    p.setFont(f);
    p.translate(x, y);
    p.rotate(-tenths / 10.0);
    QFontMetrics m(f);
    QRect r(0, 0, m.horizontalAdvance(qs(text)), m.height());
    p.fillRect(r, colour_of(font.background));
    p.setPen(colour_of(font.colour));
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop, qs(text));
  }
  notify(canvas);
}

int ImageCanvas::lineHeight(int, const engine::Font &font) { return QFontMetrics(font_of(font)).height(); }

void ImageCanvas::clippedText(int canvas, int x, int y, u16view text, const engine::Font &font,
                              const engine::Rect *clip) {
  {
    Painter p(surface(canvas));
    if (clip) p.setClipRect(rect_of(*clip));
    QFont f = font_of(font);
    p.setFont(f);
    p.setPen(colour_of(font.colour));
    QFontMetrics m(f);
    p.drawText(QRect(x, y, m.horizontalAdvance(qs(text)) + 1, m.height()), Qt::AlignLeft | Qt::AlignTop, qs(text));
  }
  notify(canvas);
}

bool ImageCanvas::saveImage(int canvas, const engine::Rect &r, bool png, const std::filesystem::path &file) {
  QImage part = surface(canvas).copy(rect_of(r));
  return part.save(QString::fromStdString(file.string()), png ? "PNG" : "BMP", png ? 30 : -1);
}

std::optional<std::string> ImageCanvas::encodeImage(int canvas, const engine::Rect &r, bool png) {
  QImage part = surface(canvas).copy(rect_of(r));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!part.save(&buffer, png ? "PNG" : "BMP", png ? 30 : -1)) return std::nullopt;
  return std::string(bytes.constData(), std::size_t(bytes.size()));
}

bool ImageCanvas::loadImageBytes(int canvas, const std::string &bytes, int x, int y, const engine::Rect *stretch) {
  QImage picture;
  if (!picture.loadFromData(reinterpret_cast<const uchar *>(bytes.data()), qsizetype(bytes.size()))) return false;
  return drawPicture(canvas, picture, x, y, stretch);
}

bool ImageCanvas::loadImage(int canvas, const std::filesystem::path &file, int x, int y, const engine::Rect *stretch) {
  QImage picture;
  if (!picture.load(QString::fromStdString(file.string()))) return false;
  return drawPicture(canvas, picture, x, y, stretch);
}

bool ImageCanvas::drawPicture(int canvas, const QImage &picture, int x, int y, const engine::Rect *stretch) {
  {
    Painter p(surface(canvas));
    if (stretch) p.drawImage(rect_of(*stretch), picture);
    else p.drawImage(x, y, picture);
  }
  notify(canvas);
  return true;
}

}  // namespace velmora::canvas

#include "gui/timing_chart_view.h"

#include <QPainter>

#include "gui/qt_text.h"

namespace velmora::gui {

namespace {

using Lane = environment::TimingChart::Lane;

int lane_colour(Lane l) {
  switch (l) {
    case Lane::Run: return 0x30A030;
    case Lane::Wait: return 0xE0C040;
    case Lane::Stop: return 0xD04040;
    case Lane::End: return 0xA0A0A0;
    case Lane::Empty: break;
  }
  return 0xFFFFFF;
}

}  // namespace

TimingChartView::TimingChartView(const environment::Environment &env, QWidget *parent) : QWidget(parent), env_(env) {
  setObjectName(QStringLiteral("timingChart"));
  setMinimumHeight(30);
  setToolTip(QStringLiteral(
      "タイミングチャート: タイマーの発火（パルス）と各スロットの 実行（緑）・待ち（黄）・停止（赤）・終了（灰）"));
}

void TimingChartView::refresh() {
  if (env_.runLoop.chart().version == shown_) return;
  shown_ = env_.runLoop.chart().version;
  update();
}

void TimingChartView::paintEvent(QPaintEvent *) {
  const environment::Settings &s = env_.settings();
  auto colour = [&s](int rgb) { return QColor(QRgb(unsigned(s.shownColour(rgb)) | 0xFF000000u)); };
  QPainter p(this);
  p.fillRect(rect(), colour(0xFFFFFF));
  const environment::TimingChart &chart = env_.runLoop.chart();
  const QFontMetrics fm = fontMetrics();
  const int rowHeight = fm.height() + 6;
  const int labelWidth = fm.horizontalAdvance(QStringLiteral("WWWWWWWW")) + 8;
  const int plotWidth = std::max(width() - labelWidth - 4, 10);
  const std::size_t columns = chart.columns();
  if (columns == 0) {
    p.setPen(colour(0x808080));
    p.drawText(rect().adjusted(6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
               s.drawEventChart ? QStringLiteral("（実行するとここに描かれます）")
                                : QStringLiteral("（設定「実行時にｲﾍﾞﾝﾄﾁｬｰﾄを描画する」で描画）"));
    return;
  }
  // The columns fill the width (a short run is drawn wider, up to 120
  // columns to the width); a column is at least one pixel.
  const double step = std::max(1.0, double(plotWidth) / double(std::max<std::size_t>(columns, 120)));
  const std::size_t visible = std::min(columns, std::size_t(plotWidth / step));
  const std::size_t first = columns - visible;
  auto x_of = [&](std::size_t c) { return labelWidth + int(double(c - first) * step); };
  int y = 2;
  auto label = [&](const QString &text) {
    p.setPen(colour(0x000000));
    p.drawText(QRect(4, y, labelWidth - 8, rowHeight), Qt::AlignVCenter | Qt::AlignLeft,
               fm.elidedText(text, Qt::ElideRight, labelWidth - 8));
    p.setPen(colour(0xE0E0E0));
    p.drawLine(labelWidth, y + rowHeight - 1, width() - 2, y + rowHeight - 1);
  };
  for (const auto &row : chart.timers()) {
    label(qs(row.name));
    const int low = y + rowHeight - 4, high = y + 3;
    p.setPen(colour(0x0000A0));
    p.drawLine(labelWidth, low, x_of(columns), low);
    for (std::size_t c = first; c < columns; ++c)
      if (row.pulses[c]) {
        const int x = x_of(c), w = std::max(2, int(step));
        p.drawLine(x, low, x, high);
        p.drawLine(x, high, x + w, high);
        p.drawLine(x + w, high, x + w, low);
      }
    y += rowHeight;
  }
  for (int slot : chart.shownSlots()) {
    label(QStringLiteral("#%1").arg(slot + 1, 2, 10, QChar(u'0')));
    const auto &lane = chart.slot(slot);
    for (std::size_t c = first; c < columns; ++c) {
      if (lane[c] == Lane::Empty) continue;
      const int x = x_of(c);
      p.fillRect(QRect(x, y + 4, std::max(1, x_of(c + 1) - x), rowHeight - 8), colour(lane_colour(lane[c])));
    }
    y += rowHeight;
  }
}

}  // namespace velmora::gui

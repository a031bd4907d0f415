#pragma once
// The timing chart drawn: a row per timer with its pulses, a row per slot
// with bars for run, wait, held and ended, the newest column at the right.
#include <QWidget>

#include "environment/environment.h"

namespace velmora::gui {

class TimingChartView : public QWidget {
  Q_OBJECT
 public:
  TimingChartView(const environment::Environment &env, QWidget *parent = nullptr);
  // Repaints when the chart changed since the last call.
  void refresh();
  QSize sizeHint() const override { return {480, 160}; }

 protected:
  void paintEvent(QPaintEvent *event) override;

 private:
  const environment::Environment &env_;
  unsigned long long shown_ = ~0ull;
};

}  // namespace velmora::gui

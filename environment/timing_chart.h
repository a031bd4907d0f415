#pragma once
// The timing chart of the monitor ("実行時にｲﾍﾞﾝﾄﾁｬｰﾄを描画する"): sampled at
// the chart interval while a run lasts, a row per listed timer with a pulse
// in every column in which it fired, and a row per loaded slot with what its
// task did then: ran, waited, was held or stopped, or had ended.
#include <deque>
#include <vector>

#include "engine/engine.h"

namespace velmora::environment {

class TimingChart {
 public:
  // What a slot row shows in one column.
  enum class Lane : char { Empty = ' ', Run = 'R', Wait = 'W', Stop = 'S', End = 'E' };
  static constexpr std::size_t kColumns = 600;  // the oldest columns scroll away

  struct TimerRow {
    u16 name;                 // as the timer grid shows it
    std::deque<bool> pulses;  // fired in that column
    int32_t lastCount = 0;    // its fire count at the last sample
  };

  // One column: every timer that is not free, every slot. A timer seen for
  // the first time gets a row that starts at this column.
  void sample(const engine::Engine &e);
  // The same from the tasks and timers themselves (every pointer set).
  struct Frame {
    std::array<const engine::TTaskInfo *, engine::kSlots> tasks{};
    std::array<const engine::TTimerInfo *, engine::kTimers> timers{};
  };
  void sample(const Frame &frame);
  // Samples when at least the interval (milliseconds) passed since the last
  // sample; true when it did.
  bool sampleIfDue(const engine::Engine &e, double nowMs, int intervalMs);
  void clear();  // the start of a run ("全スロット実行")

  std::size_t columns() const { return columns_; }
  const std::vector<TimerRow> &timers() const { return timers_; }
  const std::deque<Lane> &slot(int s) const { return slots_[std::size_t(s)]; }
  // A row as text, a character per column (tests and the tool tip): "|"
  // for a pulse, "_" otherwise; slots use the Lane characters.
  u16 timerText(std::size_t row) const;
  u16 slotText(int s) const;
  // Slots that were loaded in any column, in slot order.
  std::vector<int> shownSlots() const;
  unsigned long long version = 0;  // grows with every change

 private:
  std::size_t columns_ = 0;
  std::vector<TimerRow> timers_;
  std::array<std::deque<Lane>, engine::kSlots> slots_;
  double lastSampleMs_ = -1;
};

}  // namespace velmora::environment

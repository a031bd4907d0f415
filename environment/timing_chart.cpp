#include "environment/timing_chart.h"

#include <algorithm>

namespace velmora::environment {

namespace {

u16 bare(const u16 &name) {
  if (name.size() >= 2 && name.front() == u'"' && name.back() == u'"') return name.substr(1, name.size() - 2);
  return name;
}

TimingChart::Lane lane_of(const engine::TTaskInfo &t) {
  using Lane = TimingChart::Lane;
  if (!t.Permit) return Lane::Empty;  // not in this run
  switch (t.state) {
    case engine::tsEMPTY: return Lane::Empty;
    case engine::tsSTOP: return Lane::Stop;
    case engine::tsEND: return Lane::End;
    case engine::tsACTIVE: break;
  }
  return t.WAIT || t.HTTP_REQ ? Lane::Wait : Lane::Run;
}

}  // namespace

void TimingChart::clear() {
  columns_ = 0;
  timers_.clear();
  for (auto &s : slots_) s.clear();
  lastSampleMs_ = -1;
  ++version;
}

void TimingChart::sample(const engine::Engine &e) {
  Frame frame;
  for (int s = 0; s < engine::kSlots; ++s) frame.tasks[std::size_t(s)] = &e.task(s);
  for (int i = 0; i < engine::kTimers; ++i) frame.timers[std::size_t(i)] = &e.timer(i);
  sample(frame);
}

void TimingChart::sample(const Frame &frame) {
  const bool full = columns_ == kColumns;
  if (!full) ++columns_;
  // Rows already there get a column; rows of timers gone stay, flat.
  for (TimerRow &row : timers_) {
    if (full) row.pulses.pop_front();
    row.pulses.push_back(false);
  }
  for (int i = 0; i < engine::kTimers; ++i) {
    const engine::TTimerInfo &t = *frame.timers[std::size_t(i)];
    if (t.state == engine::TTimerInfo::Free) continue;
    const u16 name = bare(t.name);
    TimerRow *row = nullptr;
    for (TimerRow &r : timers_)
      if (r.name == name) row = &r;
    if (!row) {
      timers_.push_back(TimerRow{name, std::deque<bool>(columns_, false), 0});
      row = &timers_.back();
    }
    // A timer set anew counts from zero again: that is no firing.
    if (t.fireCount != row->lastCount && t.fireCount > 0) row->pulses.back() = true;
    row->lastCount = t.fireCount;
  }
  for (int s = 0; s < engine::kSlots; ++s) {
    auto &lane = slots_[std::size_t(s)];
    if (full) lane.pop_front();
    lane.push_back(lane_of(*frame.tasks[std::size_t(s)]));
  }
  ++version;
}

bool TimingChart::sampleIfDue(const engine::Engine &e, double nowMs, int intervalMs) {
  if (lastSampleMs_ >= 0 && nowMs - lastSampleMs_ < double(std::max(intervalMs, 1))) return false;
  lastSampleMs_ = nowMs;
  sample(e);
  return true;
}

u16 TimingChart::timerText(std::size_t row) const {
  u16 text;
  if (row >= timers_.size()) return text;
  for (bool p : timers_[row].pulses) text += p ? u'|' : u'_';
  return text;
}

u16 TimingChart::slotText(int s) const {
  u16 text;
  for (Lane l : slots_[std::size_t(s)]) text += char16_t(l);
  return text;
}

std::vector<int> TimingChart::shownSlots() const {
  std::vector<int> shown;
  for (int s = 0; s < engine::kSlots; ++s)
    for (Lane l : slots_[std::size_t(s)])
      if (l != Lane::Empty) {
        shown.push_back(s);
        break;
      }
  return shown;
}

}  // namespace velmora::environment

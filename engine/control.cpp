// Control flow: jumps, CALL and RET, FUNCTION entries, STOP, breakpoints,
// WAIT, and the interval timers with their interrupts.
#include <cmath>

#include "engine/machine.h"
#include "engine/families.h"

namespace velmora::engine {

namespace {

void jump(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (r.label < 0 || r.label >= kLabels) return;
  int position = e.labels[std::size_t(e.current)][std::size_t(r.label)];
  if (position >= 0) t.INSTP = uint16_t(position + 1);
}

void op_stop(Machine &, TTaskInfo &t, const TPEXE &) { t.state = tsEND; }

void op_jump_if_true(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (t.FLAG) jump(e, t, r);
}

void op_jump_if_false(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (!t.FLAG) jump(e, t, r);
}

void op_jump(Machine &e, TTaskInfo &t, const TPEXE &r) { jump(e, t, r); }

void op_call(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int position = r.label == -2 ? e.findFunction(u"F_" + r.Param[1]) : r.label;
  if (position < 0) return e.runtimeError(u"＊ 関数ラベル不明エラー ＊");
  if (t.STACKP >= kCallStack - 1)
    return e.runtimeError(u"＊ 関数呼び出しの入れ子が深すぎます（最大 " + text::int16(kCallStack) + u"） ＊");
  ++t.STACKP;
  e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)] = t.INSTP;
  t.INSTP = uint16_t(position + 1);
}

void op_ret(Machine &e, TTaskInfo &t, const TPEXE &) {
  if (t.STACKP < 0) return e.runtimeError(u"＊ 呼び出されていない関数からの復帰（RET）です ＊");
  t.INSTP = uint16_t(e.callStack[std::size_t(e.current)][std::size_t(t.STACKP)]);
  --t.STACKP;
}

void op_function_entry(Machine &e, TTaskInfo &t, const TPEXE &r) {
  int after = r.label;
  if (after == -2) {
    const PcodeList &list = e.lists[std::size_t(t.PcodeListNo)];
    after = int(list.size());
    for (std::size_t p = t.INSTP; p < list.size(); ++p)
      if (list[p].kind == opRET && !list[p].exitReturn) {
        after = int(p) + 1;
        break;
      }
  }
  t.INSTP = uint16_t(after);
}

void op_breakpoint(Machine &e, TTaskInfo &t, const TPEXE &r) {
  t.state = tsSTOP;
  long double n = 0;
  t.BPInfoIndex = parse_number(r.Param[1], n) ? int32_t(n) : 0;
  e.watchedTask = e.current;
  e.watchedPoint = e.last;  // the watched copy starts at the break itself
}

void op_wait(Machine &e, TTaskInfo &t, const TPEXE &r) {
  if (t.WAIT) return;
  long double n = std::trunc(e.num(t, r, 1));
  t.WAIT = true;
  t.CANGO_TIME = e.now() + double(n) * e.waitUnit;
  e.anyWait = true;
}

// The longest interval a timer takes, in tenths of a second (about 3.4
// years): the display count, twice the interval, must fit its integer.
constexpr long double kMaxTimerInterval = (1 << 30) - 1;

void op_timer_set(Machine &e, TTaskInfo &, const TPEXE &r) {
  long double interval = std::trunc(e.num(e.tasks[std::size_t(e.current)], r, 3));
  if (e.errorFlag) return;
  if (interval > kMaxTimerInterval)
    return e.runtimeError(u"- タイマー設定エラー：間隔が大きすぎる " + r.Param[1].substr(0, kNameLength));
  // Zero and negative intervals are kept (the timer then never starts);
  // very negative ones are held where the integer takes them.
  if (interval < -kMaxTimerInterval) interval = -kMaxTimerInterval;
  if (std::isnan(interval)) interval = 0;
  for (int i = 0; i < kTimers; ++i) {
    TTimerInfo &timer = e.timers[std::size_t(i)];
    if (timer.state != TTimerInfo::Free) continue;
    timer.name = r.Param[1].substr(0, kNameLength);
    timer.interval = int32_t(interval);
    timer.displayCount = timer.interval * 2;
    timer.handler = r.Param[5].substr(0, kNameLength);
    timer.owner = e.current;
    u16view h = timer.handler;
    u16 bare(h.size() >= 2 ? h.substr(1, h.size() - 2) : u16view());
    int position = e.findFunction(u"F_" + bare);
    timer.handlerPos = position < 0 ? -1 : position + 1;
    timer.state = TTimerInfo::Set;
    timer.fireCount = 0;
    return;
  }
}

void op_timer_control(Machine &e, TTaskInfo &, const TPEXE &r) {
  for (TTimerInfo &timer : e.timers) {
    if (timer.state == TTimerInfo::Free || timer.name != r.Param[1] || timer.owner != e.current) continue;
    const u16 &word = r.Param[2];
    if (word == u"START") {
      if (timer.interval > 0 && !timer.handler.empty() && timer.handlerPos > 0) {
        timer.nextTime = e.now() + timer.interval * e.timerUnit;
        timer.displayCount = timer.interval * 2;
        timer.state = TTimerInfo::Working;
        e.anyTimerRunning = true;
      }
    } else if (word == u"STOP") {
      if (timer.state == TTimerInfo::Working) timer.state = TTimerInfo::Suspend;
    } else if (word == u"CANCEL") {
      timer.state = TTimerInfo::Free;
    }
    return;
  }
}

void op_interrupt_return(Machine &e, TTaskInfo &t, const TPEXE &) {
  if (!t.IntProcess) return;
  t = e.shadow[std::size_t(e.current)];
  t.IntProcess = false;
}

}  // namespace

void register_control(Machine &e) {
  e.setHandler(opSTOP, op_stop);
  e.setHandler(opJMP_IF_TRUE, op_jump_if_true);
  e.setHandler(opRET, op_ret);
  e.setHandler(opCALL, op_call);
  e.setHandler(opJMP_IF_FALSE, op_jump_if_false);
  e.setHandler(opJMP, op_jump);
  e.setHandler(opFUNCTION_ENTRY, op_function_entry);
  e.setHandler(opBREAKPOINT, op_breakpoint);
  e.setHandler(opWAIT, op_wait);
  e.setHandler(opTIMER_SET, op_timer_set);
  e.setHandler(opTIMER_CONTROL, op_timer_control);
  e.setHandler(opINTERRUPT_RETURN, op_interrupt_return);
}

}  // namespace velmora::engine

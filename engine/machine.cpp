#include "engine/machine.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <cmath>
#include <type_traits>
#include <unordered_map>

#include "engine/families.h"

namespace velmora::engine {

u16 slot_name(int slot) {
  u16 n = text::int16(slot + 1);
  return n.size() < 2 ? u"0" + n : n;
}

u16view task_state_text(TTaskState s) {
  switch (s) {
    case tsEMPTY: return u"無し";
    case tsACTIVE: return u"ｱｸﾃｨﾌﾞ（待機）";
    case tsSTOP: return u"強制停止";
    case tsEND: return u"終了";
  }
  return u"";
}

u16view timer_state_text(TTimerInfo::State s) {
  switch (s) {
    case TTimerInfo::Set: return u"RESET";
    case TTimerInfo::Working: return u"WORKING";
    case TTimerInfo::Suspend: return u"SUSPEND";
    case TTimerInfo::Free: break;
  }
  return u"";
}

namespace {

// Marks the time in which instructions execute: a run-time error there is
// reported once per instruction.
struct InstructionScope {
  bool &flag;
  explicit InstructionScope(bool &f) : flag(f) { flag = true; }
  ~InstructionScope() { flag = false; }
};

double monotonic_tenths() {
  using namespace std::chrono;
  return double(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count()) / 1e8;
}

std::array<u16, 3> os_version_texts() {
  struct utsname u {};
  if (uname(&u) != 0) return {u"Ver ", u"Build Number: ", u"Platform ID: Linux"};
  return {u"Ver " + text::from_utf8(u.release), u"Build Number: " + text::from_utf8(u.version), u"Platform ID: Linux"};
}

}  // namespace

Machine::Machine() : clock(monotonic_tenths), osVersion(os_version_texts()) {
  if (const char *off = std::getenv("VELMORA_NO_FAST_FORMS")) fastForms_ = *off == '\0' || std::strcmp(off, "0") == 0;
  for (auto &t : tasks) {
    t.SrcIndex = -1;
    t.PcodeListNo = -1;
  }
  for (auto &l : labels) l.fill(-1);
  vars.clearAll();
  console.reset();
  host = &defaultHost;
  register_control(*this);
  register_eval(*this);
  register_strings(*this);
  register_console(*this);
  register_files(*this);
  register_processes(*this);
  register_libraries(*this);
  register_pages(*this);
  register_http(*this);
  register_graphics(*this);
}

Machine::~Machine() {
  releaseResources();
  releaseAllSlots();
}

void Machine::releaseResources() {
  cancelTransfers();
  transfers.clear();
  endCommands();
  closeAllFiles();
  closeDataDirectory();
  resetLibraries();
}

// ----- P-code lists

// A list is free when no task runs it: an empty program loads an empty
// list, which must not look free to the next registration.
int Machine::findFreeList() const {
  for (int i = 0; i < kSlots; ++i) {
    bool used = false;
    for (int s = 0; s < kSlots && !used; ++s) used = tasks[std::size_t(s)].PcodeListNo == i;
    if (!used) return i;
  }
  return -1;
}

void Machine::rebuildHot(int list) {
  if (list < 0 || list >= kSlots) return;
  ++hotGeneration_;
  const PcodeList &records = lists[std::size_t(list)];
  std::vector<HotRecord> &out = hot[std::size_t(list)];
  out.clear();
  out.reserve(records.size());
  for (const TPEXE &r : records) out.push_back(make_hot(r, handler(r.kind), fastForms_));
  plans[std::size_t(list)].clear();
  if (fastForms_) {
    pair_hot(out, records);
    plan_loops(*this, list);
  }
  // Records that may run apart from the tasks beside them, and the
  // variables they write (saved before such a run, to take it back).
  std::vector<int32_t> &writes = isolatedWrites_[std::size_t(list)];
  writes.clear();
  for (std::size_t i = 0; i < out.size(); ++i) {
    HotRecord &h = out[i];
    if (!h.fast() || h.kind == opCALL || h.kind == opRET) continue;
    // The calculation stack is not among what a run apart takes back.
    const bool pops = (h.kind == opLOAD || h.kind == opLOAD_VALUE) && records[i].op[1].kind == OperandKind::Pop;
    if (h.kind == opSTEP || pops) continue;
    if (h.kind == opASSIGN || h.kind == opASSIGN_OP) {
      if (h.v1 < 0 || vars[h.v1].share) continue;
      if (std::find(writes.begin(), writes.end(), h.v1) == writes.end()) writes.push_back(h.v1);
    }
    h.isolated = true;
  }
}

void Machine::setFastForms(bool on) {
  if (fastForms_ == on) return;
  fastForms_ = on;
  for (int list = 0; list < kSlots; ++list)
    if (!hot[std::size_t(list)].empty()) rebuildHot(list);
}

void Machine::setHandler(int code, Handler h) {
  if (code < 0 || code >= 1000) return;
  handlers_[std::size_t(code)] = h;
  for (int list = 0; list < kSlots; ++list)
    if (!hot[std::size_t(list)].empty()) rebuildHot(list);
}

void Machine::appendRecord(int list, int kind, const std::array<u16, 11> &param) {
  if (list < 0 || list >= kSlots) return;
  lists[std::size_t(list)].push_back(make_record(kind, 0, param));
  rebuildHot(list);
}

void Machine::insertRecord(int position, int list, int kind, const std::array<u16, 11> &param) {
  if (list < 0 || list >= kSlots) return;
  PcodeList &l = lists[std::size_t(list)];
  if (position < 0 || position > int(l.size())) return;
  l.insert(l.begin() + position, make_record(kind, 0, param));
  shiftPositions(list, position, +1);
  rebuildHot(list);
}

void Machine::deleteRecord(int position, int list) {
  if (list < 0 || list >= kSlots) return;
  PcodeList &l = lists[std::size_t(list)];
  if (position < 0 || position >= int(l.size())) return;
  l.erase(l.begin() + position);
  shiftPositions(list, position, -1);
  rebuildHot(list);
}

// Every position that points behind the changed record moves with it: the
// tasks' next instruction, their return addresses, the task saved while a
// timer interrupt runs, the timers' handler entries and the points the
// debugger and the error window show. A position at the changed record
// itself stays, so a record inserted there is the next one executed.
void Machine::shiftPositions(int list, int position, int delta) {
  auto move = [&](auto &p) {
    if (int(p) > position) p = static_cast<std::remove_reference_t<decltype(p)>>(int(p) + delta);
  };
  for (int s = 0; s < kSlots; ++s) {
    TTaskInfo &t = tasks[std::size_t(s)];
    if (t.PcodeListNo != list) continue;
    move(t.INSTP);
    int top = t.STACKP;
    if (t.IntProcess) {
      move(shadow[std::size_t(s)].INSTP);
      top = std::max(top, int(shadow[std::size_t(s)].STACKP));
    }
    for (int k = 0; k <= top && k < kCallStack; ++k) move(callStack[std::size_t(s)][std::size_t(k)]);
    for (TTimerInfo &timer : timers)
      if (timer.owner == s && timer.state != TTimerInfo::Free && timer.handlerPos > 0) move(timer.handlerPos);
  }
  for (ExecutionPoint *p : {&last, &watchedPoint})
    if (p->list == list) move(p->position);
}

void Machine::freeList(int list) {
  if (list < 0 || list >= kSlots) return;
  PcodeList().swap(lists[std::size_t(list)]);
  std::vector<HotRecord>().swap(hot[std::size_t(list)]);
  plans[std::size_t(list)].clear();
  ++hotGeneration_;
}

int Machine::findFunction(u16view name) const {
  int listNo = tasks[std::size_t(current)].PcodeListNo;
  if (listNo < 0) return -1;
  const PcodeList &l = lists[std::size_t(listNo)];
  for (std::size_t i = 0; i < l.size(); ++i)
    if ((l[i].kind == opLABEL || l[i].kind == opFUNCTION) && l[i].Param[1] == name) return int(i);
  return -1;
}

int Machine::findLabel(u16view number) const {
  long double n;
  if (!parse_number(number, n) || n < 0 || n >= kLabels) return -1;
  return labels[std::size_t(current)][std::size_t(n)];
}

// ----- slots

namespace {

// Why a loaded program cannot be registered: too many records for the
// execution point, or a label number beyond the label table. Empty when it
// fits.
u16 code_limit_refusal(const PcodeList &list, u16view programName) {
  const u16 name = programName.empty() ? u16(u"（名前なし）") : u16(programName);
  if (list.size() > std::size_t(kMaxRecords))
    return u"プログラムが長すぎます: " + name + u"（中間コード " + text::int16(long(list.size())) + u" 行、上限 " +
           text::int16(kMaxRecords) + u" 行）";
  int highest = -1;
  for (const TPEXE &r : list)
    if (r.kind == opLABEL) highest = std::max(highest, r.LblId);
  if (highest >= kLabels - 1)
    return u"ラベル過多: " + name + u"（ラベル番号 " + text::int16(highest) + u"、上限 " + text::int16(kLabels - 2) +
           u"）";
  return {};
}

}  // namespace

int Machine::registerProgram(const Lines &tcode, const Lines &taskVars, const Lines &sharedVars, Lines &messages,
                             TTaskState initial, u16view programName, int srcIndex) {
  if (registered >= kSlots) {
    registrationError(u"  - これ以上プログラムは登録出来ません。 " + text::int16(kSlots));
    return -1;
  }
  int slot = -1;
  for (int s = 0; s < kSlots; ++s)
    if (tasks[std::size_t(s)].state == tsEMPTY) {
      slot = s;
      break;
    }
  int listNo = findFreeList();
  if (slot < 0 || listNo < 0) {
    registrationError(u"  - 空いているスロットがありません");
    return -1;
  }
  // All or nothing: the variables are registered first, and a registration
  // that cannot complete takes back every entry it made and leaves the slot
  // and its code list empty.
  std::vector<int> added;
  auto takeBack = [&] {
    for (auto it = added.rbegin(); it != added.rend(); ++it) vars.releaseEntry(*it);
    freeList(listNo);
    return -1;
  };
  for (int pass = 0; pass < 2; ++pass) {
    const bool shared = pass == 1;
    for (const u16 &name : shared ? sharedVars : taskVars) {
      int entry = -1;
      if (!vars.registerName(shared, name, slot, &entry)) {
        registrationError(shared ? u"  - これ以上共有変数登録できません " + text::int16(kVariables)
                                 : u"  - これ以上変数登録できません " + text::int16(kVariables));
        return takeBack();
      }
      if (entry >= 0) added.push_back(entry);
    }
  }
  ++hotGeneration_;  // the list changes, even when loading fails
  lists[std::size_t(listNo)].clear();
  if (!load_program(tcode, lists[std::size_t(listNo)], messages)) return takeBack();
  // Code the execution point cannot reach, or whose labels the label table
  // cannot hold, is refused here: registered, it would wrap round to its
  // start or fail every link (and with it every run of every slot).
  if (u16 refusal = code_limit_refusal(lists[std::size_t(listNo)], programName); !refusal.empty()) {
    messages.push_back(refusal);
    registrationError(u"  - " + refusal);
    return takeBack();
  }
  rebuildHot(listNo);
  ++registered;
  TTaskInfo &t = tasks[std::size_t(slot)];
  t.FileName = u16(programName);
  t.SrcIndex = srcIndex;
  t.PcodeListNo = listNo;
  taskStart(slot, initial);
  return slot;
}

// A registration refused. During a run (a program's RUN PAGE) it is a
// run-time error that stops the run; outside one it is told on the console
// and stops nothing: the tasks already loaded keep their states.
void Machine::registrationError(u16view message) {
  if (running) runtimeError(message);
  else console.addLine(message);
}

void Machine::releaseSlot(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  TTaskInfo &t = tasks[std::size_t(slot)];
  if (t.state == tsEMPTY) return;
  t.state = tsEMPTY;
  int listNo = t.PcodeListNo;
  t.PcodeListNo = -1;
  t.FileName.clear();
  t.SrcIndex = -1;
  --registered;
  freeList(listNo);
}

void Machine::releaseAllSlots() {
  for (int s = 0; s < kSlots; ++s) releaseSlot(s);
}

void Machine::taskStart(int slot, TTaskState state) {
  TTaskInfo &t = tasks[std::size_t(slot)];
  t.state = state;
  t.INSTP = 0;
  t.STACKP = t.CalcIndex = t.BPInfoIndex = t.SelCan = -1;
  t.WAIT = t.IntRequest = t.IntProcess = t.FLAG = t.HTTP_REQ = t.WAIT_IO_COMPLETE = false;
  t.WAITCOUNT = 0;
  t.WORK = 0;
  t.VECTOR = T3D_Point{};
  t.OPE1 = t.OPE2 = t.OPE3 = 0;
  t.fParamStore = false;
  t.ParamStored = 0;
  t.STR_WORK.clear();
  t.HTTP_REQ_FILE.clear();
  t.LIST_WORK.clear();
  t.LIST_REM.clear();
  t.HTTP_REQ_HEAD.clear();
  t.HTTP_REQ_HEAD_VAR = -1;
  t.Encode_Load = t.Encode_Save = TextEncoding::None;
  // The zone option lasts until the next zone option within a run, never
  // into the next run.
  t.LIST_INC.clear();
}

void Machine::runReset() {
  reserveMemory();
  resetLibraries();
  for (auto &timer : timers) timer = TTimerInfo{};
  anyTimerRunning = false;
  anyWait = false;
  passCount = 0;
  for (int s = 0; s < kSlots; ++s) taskStart(s, tasks[std::size_t(s)].state != tsEMPTY ? tsACTIVE : tsEMPTY);
  // Every task starts with the default drawing state on every canvas, and
  // every canvas as the program's start made it: a run draws and saves the
  // same whether or not another program drew before it.
  for (auto &t : tasks) t.draw.fill(DrawState{});
  if (canvas) canvas->reset();
  cancelTransfers();
  deleteTransferFiles();
  watchedTask = -1;
  reapChildren();
  vars.clearValues();
  console.reset();
}

bool Machine::linkSlot(int slot) {
  if (slot < 0 || slot >= kSlots) return false;
  int listNo = tasks[std::size_t(slot)].PcodeListNo;
  if (listNo < 0) return false;
  auto &table = labels[std::size_t(slot)];
  table.fill(-1);
  PcodeList &list = lists[std::size_t(listNo)];

  auto number_of = [&](const u16 &name) { return vars.find(slot, name); };
  std::unordered_map<u16, int> entries;  // first label/function record per name
  for (std::size_t pos = 0; pos < list.size(); ++pos) {
    TPEXE &r = list[pos];
    const std::uint32_t flags = instruction_flags(r.kind);
    if (flags & (ifLabel | ifFunction)) entries.emplace(r.Param[1], int(pos));
    if (flags & ifScalarTarget) {
      int v = number_of(r.Param[1]);
      if (v >= 0) r.Param[1] = text::int16(v);
    } else if (!(flags & (ifLabel | ifFunction))) {
      for (std::size_t k = 0; k < 10; ++k) {
        if (r.Param[k] != u"∇" && r.Param[k] != u"xNVAR") continue;
        int v = number_of(r.Param[k + 1]);
        if (v >= 0) r.Param[k + 1] = text::int16(v);
      }
    }
    if (flags & ifLabel) {
      if (r.LblId >= kLabels - 1) {
        rebuildHot(listNo);
        return true;
      }
      if (r.LblId >= 0) table[std::size_t(r.LblId)] = int32_t(pos);
    }
    // Decoded names: the same answer the lookup would give at execution.
    for (std::size_t k = 1; k <= 9; ++k) r.var[k] = r.Param[k].empty() ? -1 : vars.resolve(slot, r.Param[k]);
  }
  // Function skips and calls, resolved once.
  int afterRet = int(list.size());
  for (int pos = int(list.size()) - 1; pos >= 0; --pos) {
    TPEXE &r = list[std::size_t(pos)];
    const std::uint32_t flags = instruction_flags(r.kind);
    if (flags & ifFunctionEntry) r.label = afterRet;
    if (flags & ifCall) {
      auto it = entries.find(u"F_" + r.Param[1]);
      r.label = it == entries.end() ? -1 : it->second;
    }
    // The body of a function ends at its closing RET; an EXIT inside it is
    // a RET too but does not end the body.
    if ((flags & ifReturn) && !r.exitReturn) afterRet = pos + 1;
  }
  rebuildHot(listNo);
  return false;
}

bool Machine::linkAll() {
  for (int s = 0; s < kSlots; ++s) {
    if (linkSlot(s)) {
      runtimeError(u"タスク " + slot_name(s) + u" 内部エラー: ラベル過多\r");
      return true;
    }
  }
  return false;
}

void Machine::stopAll() {
  running = false;
  for (int s = 0; s < kSlots; ++s) {
    TTaskInfo &t = tasks[std::size_t(s)];
    // The tasks of the run end; one that took no part (not permitted, or
    // not the slot of a run of one slot) never ran and keeps its state.
    if (t.state != tsEMPTY && t.Permit) t.state = tsEND;
    t.LIST_WORK.clear();
    t.LIST_REM.clear();
    t.HTTP_REQ_HEAD.clear();
    t.HTTP_REQ_HEAD_VAR = -1;
  }
  cancelTransfers();
  for (auto &timer : timers)
    if (timer.state != TTimerInfo::Free) timer.state = TTimerInfo::Set;
  anyTimerRunning = false;
  resetLibraries();
}

Lines Machine::listFunctions(int slot) const {
  Lines out;
  if (slot < 0 || slot >= kSlots) return out;
  int listNo = tasks[std::size_t(slot)].PcodeListNo;
  if (listNo < 0) return out;
  for (const TPEXE &r : lists[std::size_t(listNo)])
    if (r.kind == opFUNCTION) out.push_back(r.Param[10] + u" " + r.Param[1].substr(2));
  return out;
}

bool Machine::anyRunnable() const {
  for (int s = 0; s < kSlots; ++s) {
    const TTaskInfo &t = tasks[std::size_t(s)];
    if (t.Permit && t.state == tsACTIVE) return true;
  }
  return false;
}

// ----- errors

void Machine::runtimeError(u16view message) {
  if (inInstruction_) {
    if (instructionFailed_) return;
    instructionFailed_ = true;
  }
  console.addLine(message);
  errorFlag = true;
  errorMessage = u16(message);
  stopAll();
}

void Machine::reserveMemory() {
  if (memoryReserve) return;
  try {
    memoryReserve.reset(new char[kMemoryReserve]);
  } catch (const std::bad_alloc &) {
    // Nothing to set aside: a later shortage is reported all the same.
  }
}

void Machine::outOfMemory() {
  memoryReserve.reset();
  // The instruction was left by the exception: it is the one before the
  // task's next position. Its own partial results are dropped with it.
  const TTaskInfo &t = tasks[std::size_t(current)];
  const int listNo = t.PcodeListNo, position = t.INSTP - 1;
  inInstruction_ = false;
  instructionFailed_ = false;
  scheduleChanged_ = true;
  static constexpr char16_t kMessage[] = u"- メモリ不足";
  try {
    if (listNo >= 0 && position >= 0 && position < int(lists[std::size_t(listNo)].size()))
      note(listNo, position, lists[std::size_t(listNo)][std::size_t(position)].kind);
    runtimeError(kMessage);
  } catch (const std::bad_alloc &) {
    // No room even now: the run stops with the error set, and nothing of
    // this allocates (the message fits the string's own storage).
    errorFlag = true;
    errorMessage.assign(kMessage);
    running = false;
    for (TTaskInfo &task : tasks)
      if (task.state != tsEMPTY) task.state = tsEND;
  }
}

u16 Machine::lineOf(const ExecutionPoint &p) const {
  if (p.list < 0 || p.list >= kSlots) return {};
  const PcodeList &l = lists[std::size_t(p.list)];
  if (p.position < 0 || p.position >= int(l.size())) return {};
  return l[std::size_t(p.position)].Param[10];
}

// ----- scheduler

void Machine::step() {
  // One pass, run by the passes' own body; a slot left active without a
  // list has nothing to run and ends.
  for (TTaskInfo &t : tasks)
    if (t.Permit && t.state == tsACTIVE && t.PcodeListNo < 0) t.state = tsEND;
  const bool wasRunning = running;
  running = true;
  runPasses(1);
  if (!wasRunning) running = false;
}

// Fast records of one task from its INSTP on, at most `limit` passes (a
// label or function line is a pass that does nothing, a pair one pass per
// record it covers): stops before the end of the list and before the first
// record that is not fast, or not isolated when Isolated. Returns the passes
// run; lastPosition and lastPass name the last record that ran and the pass
// it ran in. A failing record ends the task (its family handler reports
// it), or when Isolated is refused: the passes then end before the step
// that refused, which has left state behind that the caller takes back.
template <bool Isolated>
long Machine::runFast(TTaskInfo &t, const HotRecord *hots, const TPEXE *records, int size, long limit,
                      int &lastPosition, long &lastPass) {
  long passes = 0;
  while (passes < limit) {
    const int position = t.INSTP;
    if (position >= size) break;
    const HotRecord &h = hots[position];
    t.INSTP = uint16_t(position + 1);
    if (!h.run) {  // a label or function line
      ++passes;
      continue;
    }
    if (!(Isolated ? h.isolated : h.fast())) {
      t.INSTP = uint16_t(position);
      break;
    }
    const long before = passes;
    if (h.pair && passes + 1 < limit && (!Isolated || hots[position + 1].isolated)) {
      ++formHits[std::size_t(h.step)];
      passes += h.pair(*this, t, h, records[position], limit - passes);
      lastPosition = stepLast;
    } else {
      ++formHits[std::size_t(h.form)];
      h.run(*this, t, h, records[position]);
      ++passes;
      lastPosition = position;
    }
    lastPass = passes;
    if constexpr (Isolated) {
      if (refused) return before;
    } else if (t.state != tsACTIVE) {
      break;  // a run-time error (the only way a fast record changes the schedule)
    }
  }
  return passes;
}

// Whether the batch's time is up, looking at the clock only every few
// records that are not fast: as many as took well under a millisecond
// together the last time, and after every one of them once they take long.
bool Machine::batchTimeUp() {
  if (--slowUntilClock_ > 0) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastClockLook_ < std::chrono::microseconds(500)) slowPerClockLook_ = std::min(slowPerClockLook_ * 2, 32);
  else slowPerClockLook_ = 1;
  slowUntilClock_ = slowPerClockLook_;
  lastClockLook_ = now;
  return now >= batchEnd_;
}

long Machine::runPasses(long maxPasses) {
  InstructionScope scope(inInstruction_);
  long done = 0;
  // Batches end by time as well as by count: a stop request (Ctrl-C, a
  // timeout, the stop button) is seen between batches, and passes of long
  // instructions (sorting a big list) must not fill a batch of seconds.
  // Only instructions outside the hot form take time worth checking.
  lastClockLook_ = std::chrono::steady_clock::now();
  batchEnd_ = lastClockLook_ + kBatchTime;
  slowPerClockLook_ = slowUntilClock_ = 1;
  // Running timers are served (the clock read) at the first pass of every
  // batch and then every kTimerCheckPasses passes, not at every pass: a
  // timer fires at most that many passes late (a fraction of a
  // millisecond against its tenths of a second), and the passes between
  // take their fast forms. The reference mode serves them at every pass.
  timerCheckAt_ = 0;
  auto checkTimers = [&] {
    if (!anyTimerRunning) return;
    if (done >= timerCheckAt_) {
      serveTimers();
      timerCheckAt_ = done + (fastForms_ ? kTimerCheckPasses : 1);
    }
  };
  // The passes that may run before the clock is read again.
  auto passesBeforeCheck = [&] { return anyTimerRunning ? std::min(maxPasses, timerCheckAt_) : maxPasses; };
  while (done < maxPasses && running) {
    // The slots that may run, taken once and again only when a pass may
    // have started another task; the per-pass checks stay as in step().
    int slots[kSlots];
    int count = 0;
    for (int s = 0; s < kSlots; ++s) {
      const TTaskInfo &t = tasks[std::size_t(s)];
      if (t.Permit && t.state == tsACTIVE && t.PcodeListNo >= 0) slots[count++] = s;
    }
    if (count == 0) return done;
    scheduleChanged_ = false;
    const TTaskInfo &only = tasks[std::size_t(slots[0])];
    checkTimers();
    if (count == 1 && fastForms_ && !anyHttp && !anyWait && pendingError.empty() && !only.WAIT && !only.HTTP_REQ &&
        !(only.IntRequest && !only.IntProcess)) {
      if (!runAlone(slots[0], passesBeforeCheck(), done)) return done;
      continue;  // something may now wait or run beside it: passes as below
    }
    // Each slot's list and hot form, taken again after every handler that
    // is not hot (only such a handler can change a list).
    Lane lanes[kSlots];
    auto takeLanes = [&] {
      for (int i = 0; i < count; ++i) {
        TTaskInfo &t = tasks[std::size_t(slots[i])];
        const int listNo = t.PcodeListNo;
        if (listNo < 0) {  // released during the pass: it is no longer active
          lanes[i] = {&t, nullptr, nullptr, 0, listNo};
          continue;
        }
        if (hot[std::size_t(listNo)].size() != lists[std::size_t(listNo)].size()) rebuildHot(listNo);
        lanes[i] = {&t, lists[std::size_t(listNo)].data(), hot[std::size_t(listNo)].data(),
                    int(lists[std::size_t(listNo)].size()), listNo};
      }
    };
    takeLanes();
    // The execution point of the last hot record is noted when the passes
    // end (or an error is raised, or a handler that is not hot runs, which
    // notes its own): nothing reads it in between. The watched task's
    // points are noted at once.
    int notedLane = -1, notedPosition = 0;
    auto flushNote = [&] {
      if (notedLane < 0) return;
      const int slotNow = current;
      const Lane &lane = lanes[notedLane];
      current = slots[notedLane];
      note(lane.list, notedPosition, lane.hots[notedPosition].kind);
      current = slotNow;
      notedLane = -1;
    };
    while (done < maxPasses) {
      // Passes in which every task runs only isolated records run task by
      // task, each task's records back to back.
      checkTimers();
      if (passesBeforeCheck() - done >= 2 && count > 1 && fastForms_ && !anyHttp && !anyWait && pendingError.empty()) {
        const long m = runSideBySide(lanes, slots, count, passesBeforeCheck() - done, notedLane, notedPosition);
        if (m > 0) {
          errorFlag = false;
          if (!errorMessage.empty()) errorMessage.clear();
          instructionFailed_ = false;
          passCount += m;
          done += m;
          if (done >= maxPasses) break;
        }
      }
      if (anyHttp) serveTransfers();
      if (anyWait) serveWaits();
      checkTimers();
      errorFlag = false;
      if (!errorMessage.empty()) errorMessage.clear();
      instructionFailed_ = false;  // hot records do not reset it one by one
      if (!pendingError.empty()) {
        flushNote();
        runtimeError(pendingError);
        pendingError.clear();
      }
      ++passCount;
      ++done;
      bool event = false, executed = false, slow = false;
      for (int i = 0; i < count; ++i) {
        const int s = slots[i];
        Lane &lane = lanes[i];
        TTaskInfo &t = *lane.t;
        if (t.state != tsACTIVE) continue;
        current = s;
        if (t.HTTP_REQ || t.WAIT) continue;
        const int listNo = lane.list;
        int position = t.INSTP;
        ++t.INSTP;
        if (position >= lane.size) {
          t.state = tsEND;
          event = true;
          continue;
        }
        executed = true;
        const HotRecord &h = lane.hots[position];
        if (!h.run) continue;  // a label or function line
        ++formHits[std::size_t(h.form)];
        if (h.fast() && s != watchedTask) {
          notedLane = i;
          notedPosition = position;
          h.run(*this, t, h, lane.records[position]);
          if (t.IntRequest && !t.IntProcess) enterInterrupt(s);
          // A hot handler changes the schedule only by a run-time error,
          // which sets the error flag that ends the passes below.
          continue;
        }
        notedLane = -1;
        note(listNo, position, h.kind);
        h.run(*this, t, h, lane.records[position]);
        if (t.IntRequest && !t.IntProcess) enterInterrupt(s);
        if (t.state != tsACTIVE) event = true;
        takeLanes();
        slow = true;
      }
      if (slow && batchTimeUp()) event = true;
      // A pass in which every task waited: the caller may rest until a
      // deadline instead of spinning.
      if (event || errorFlag || !running || (!executed && (anyWait || anyHttp))) {
        flushNote();
        return done;
      }
      if (scheduleChanged_) break;
      // A lone task left with nothing pending runs its passes back to back.
      if (count == 1 && fastForms_ && !anyWait && !anyHttp && pendingError.empty() &&
          !(tasks[std::size_t(slots[0])].IntRequest && !tasks[std::size_t(slots[0])].IntProcess))
        break;
    }
    flushNote();
  }
  return done;
}

// Tasks side by side whose next records are isolated (each touches only its
// own task's registers and variables and cannot fail) cannot see each
// other's work: running each task's records back to back, m passes each,
// leaves what m passes of one record per task leave. Every task runs as far
// as it can, up to the fewest any task could; those that ran further are
// taken back (their registers and written variables restored) and run
// again to that point. Returns the passes run (m, 0 when a task's next
// record is not isolated); the noted execution point is the one the last
// such pass would leave.
long Machine::runSideBySide(Lane *lanes, const int *slots, int count, long limit, int &notedLane, int &notedPosition) {
  if (sideBySideWait_ > 0) {  // a task's next record was not isolated lately
    --sideBySideWait_;
    return 0;
  }
  for (int i = 0; i < count; ++i) {
    const TTaskInfo &t = *lanes[i].t;
    if (!lanes[i].records || t.state != tsACTIVE || t.WAIT || t.HTTP_REQ || slots[i] == watchedTask ||
        (t.IntRequest && !t.IntProcess))
      return 0;
  }
  struct Start {
    long double work;
    uint16_t instp;
    bool flag;
    bool refused;
    long ran, lastPass;
    int lastPosition;
    std::size_t saved;
  };
  Start start[kSlots];
  savedValues_.clear();
  long bound = std::min(limit, sideBySideSpan_);
  isolating = true;
  for (int i = 0; i < count; ++i) {
    const Lane &lane = lanes[i];
    TTaskInfo &t = *lane.t;
    current = slots[i];
    Start &s = start[i];
    s = {t.WORK, t.INSTP, t.FLAG, false, 0, 0, -1, savedValues_.size()};
    for (const int32_t v : isolatedWrites_[std::size_t(lane.list)]) savedValues_.push_back(vars[v].Val1);
    refused = false;
    s.ran = runFast<true>(t, lane.hots, lane.records, lane.size, bound, s.lastPosition, s.lastPass);
    s.refused = refused;
    bound = std::min(bound, s.ran);
    if (bound == 0) {
      count = i + 1;  // the tasks after it have not run
      break;
    }
  }
  const long m = bound;
  for (int i = 0; i < count; ++i) {
    Start &s = start[i];
    if (s.ran == m && !s.refused) continue;
    const Lane &lane = lanes[i];
    TTaskInfo &t = *lane.t;
    t.WORK = s.work;
    t.INSTP = s.instp;
    t.FLAG = s.flag;
    std::size_t k = s.saved;
    for (const int32_t v : isolatedWrites_[std::size_t(lane.list)]) vars[v].Val1 = savedValues_[k++];
    s.lastPass = 0;
    if (m == 0) continue;
    current = slots[i];
    refused = false;
    runFast<true>(t, lane.hots, lane.records, lane.size, m, s.lastPosition, s.lastPass);
  }
  isolating = false;
  refused = false;
  // Runs that went the whole way grow, runs cut short shrink.
  sideBySideSpan_ =
      m == std::min(limit, sideBySideSpan_) ? std::min(sideBySideSpan_ * 2, kSideBySideMax) : std::max(m * 2, 2L);
  if (m == 0) {
    sideBySideBackoff_ = std::min(sideBySideBackoff_ * 2, 64);
    sideBySideWait_ = sideBySideBackoff_;
    return 0;
  }
  sideBySideBackoff_ = 1;
  long bestPass = 0;
  for (int i = 0; i < count; ++i)
    if (start[i].lastPass > 0 && start[i].lastPass >= bestPass) {
      bestPass = start[i].lastPass;
      notedLane = i;
      notedPosition = start[i].lastPosition;
    }
  current = slots[count - 1];
  return m;
}

bool Machine::runAlone(int slot, long maxPasses, long &done) {
  TTaskInfo &t = tasks[std::size_t(slot)];
  current = slot;
  const int listNo = t.PcodeListNo;
  // What a pass clears first; nothing sets it again without ending the run.
  errorFlag = false;
  if (!errorMessage.empty()) errorMessage.clear();
  instructionFailed_ = false;
  if (hot[std::size_t(listNo)].size() != lists[std::size_t(listNo)].size()) rebuildHot(listNo);
  // Only handlers that may reach the environment (never those of the hot
  // form) can change the list, so these are taken again after them.
  const TPEXE *records = lists[std::size_t(listNo)].data();
  const HotRecord *hots = hot[std::size_t(listNo)].data();
  int size = int(lists[std::size_t(listNo)].size());
  std::uint64_t generation = hotGeneration_;
  long passes = done;
  int lastPosition = -1;  // the last record whose execution point is not yet noted
  long lastPass = 0;
  bool more = false;
  const bool timersRunning = anyTimerRunning;
  while (passes < maxPasses) {
    // The execution points of fast records are noted when the run leaves
    // this loop: nothing reads them in between.
    passes += runFast<false>(t, hots, records, size, maxPasses - passes, lastPosition, lastPass);
    if (passes >= maxPasses || t.state != tsACTIVE) break;
    // A string statement's records as one step (fused_text.cpp), within
    // the batch; their execution points are noted as the fast records' are.
    if (t.INSTP < size && hots[t.INSTP].pair && passes + 1 < maxPasses) {
      const int position = t.INSTP;
      t.INSTP = uint16_t(position + 1);
      ++formHits[std::size_t(hots[position].step)];
      passes += hots[position].pair(*this, t, hots[position], records[position], maxPasses - passes);
      lastPosition = stepLast;
      if (t.state != tsACTIVE) break;
      continue;
    }
    // The end of the list, or a record for its family's handler.
    ++passes;
    const int position = t.INSTP;
    ++t.INSTP;
    if (position >= size) {
      t.state = tsEND;
      break;
    }
    const HotRecord &h = hots[position];
    lastPosition = -1;
    note(listNo, position, h.kind);
    if (const Handler family = handlers_[std::size_t(h.kind)]) {
      ++formHits[std::size_t(Form::Family)];
      family(*this, t, records[position]);
    }
    if (t.IntRequest && !t.IntProcess) enterInterrupt(slot);
    // The pass ends here; an event ends the batch, as in the passes below,
    // and so does the batch's time.
    if (t.state != tsACTIVE || errorFlag || !running || batchTimeUp()) break;
    // A wait, a transfer, an error to raise, another slot that may run or
    // a timer just started (to be served in time): the caller goes on.
    if (t.WAIT || t.HTTP_REQ || anyWait || anyHttp || anyTimerRunning != timersRunning || scheduleChanged_ ||
        !pendingError.empty()) {
      more = true;
      break;
    }
    // Only a changed list (whose hot form is then rebuilt) moves them.
    if (hotGeneration_ != generation) {
      generation = hotGeneration_;
      records = lists[std::size_t(listNo)].data();
      hots = hot[std::size_t(listNo)].data();
      size = int(lists[std::size_t(listNo)].size());
    }
  }
  if (lastPosition >= 0) {
    note(listNo, lastPosition, hots[lastPosition].kind);
    console.changed = false;
  }
  passCount += passes - done;
  done = passes;
  // The passes it was given are run (the caller's batch, or the passes
  // before the timers are served again) and nothing happened: go on.
  return more || (passes >= maxPasses && t.state == tsACTIVE && !errorFlag && running);
}

void Machine::note(int listNo, int position, int kind) {
  last.task = current;
  last.code = kind;
  last.position = position;
  last.list = listNo;
  if (current == watchedTask) watchedPoint = last;
  console.changed = false;
  instructionFailed_ = false;
}

void Machine::execute(TTaskInfo &t, int listNo, int position) {
  const PcodeList &list = lists[std::size_t(listNo)];
  if (hot[std::size_t(listNo)].size() != list.size()) rebuildHot(listNo);
  const HotRecord &h = hot[std::size_t(listNo)][std::size_t(position)];
  if (!h.run) return;  // labels and function lines
  note(listNo, position, h.kind);
  h.run(*this, t, h, list[std::size_t(position)]);
}

void Machine::enterInterrupt(int slot) {
  TTaskInfo &t = tasks[std::size_t(slot)];
  t.IntRequest = false;
  t.IntProcess = true;
  shadow[std::size_t(slot)] = t;
  int id = t.TimerID;
  if (id >= 0 && id < kTimers) t.INSTP = uint16_t(timers[std::size_t(id)].handlerPos);
}

void Machine::serveWaits() {
  bool still = false;
  double time = now();
  for (auto &t : tasks) {
    if (!t.WAIT) continue;
    // A waiter stopped by another task keeps its wait: the flag must stay
    // set so that the wait is served again once the task is made active.
    if (t.state != tsACTIVE) {
      still = still || t.state == tsSTOP;
      continue;
    }
    if (time >= t.CANGO_TIME) {
      t.WAIT = false;
      t.WAITCOUNT = 0;
    } else {
      still = true;
    }
  }
  anyWait = still;
}

void Machine::serveTimers() {
  bool still = false;
  double time = now();
  for (int i = 0; i < kTimers; ++i) {
    TTimerInfo &timer = timers[std::size_t(i)];
    if (timer.state != TTimerInfo::Working) continue;
    still = true;
    if (time < timer.nextTime) continue;
    ++timer.fireCount;
    if (timer.owner >= 0 && timer.owner < kSlots) {
      TTaskInfo &owner = tasks[std::size_t(timer.owner)];
      if (!owner.IntProcess) {
        owner.IntRequest = true;
        owner.TimerID = i;
      }
    }
    timer.nextTime = time + timer.interval * timerUnit;
    timer.displayCount = timer.interval * 2;
  }
  anyTimerRunning = still;
}

// ----- values

long double Machine::numSlow(TTaskInfo &t, const TPEXE &r, int k) {
  const Operand &o = r.op[std::size_t(k)];
  switch (o.kind) {
    case OperandKind::Const: return o.value;
    case OperandKind::Var: {
      int v = r.var[std::size_t(k) + 1];
      return v >= 0 ? vars[v].Val1 : getNumber(r.Param[std::size_t(k) + 1]);
    }
    case OperandKind::NegVar: {
      int v = r.var[std::size_t(k) + 1];
      return -(v >= 0 ? vars[v].Val1 : getNumber(r.Param[std::size_t(k) + 1]));
    }
    case OperandKind::Pop: return pop(t);
    case OperandKind::NegPop: return -pop(t);
    case OperandKind::BadConst:
      runtimeError(u"計算エラー：" + r.Param[std::size_t(k) + 1] + u" は数として読めない\r");
      return 0;
    default: return 0;
  }
}

u16 Machine::rawStr(const TPEXE &r, int k) {
  if (r.op[std::size_t(k)].kind == OperandKind::StrConst) {
    u16view v = r.Param[std::size_t(k) + 1];
    return u16(v.size() >= 2 ? v.substr(1, v.size() - 2) : u16view());
  }
  int v = varOf(r, k + 1);
  if (v < 0) {
    undefinedError(r.Param[std::size_t(k) + 1]);
    return {};
  }
  return vars[v].StrVal.str();
}

u16 Machine::str(const TPEXE &r, int k) {
  if (r.op[std::size_t(k)].kind == OperandKind::StrConst) return r.constText(k);
  int v = r.var[std::size_t(k) + 1];
  if (v >= 0) return apply_escapes(vars[v].StrVal);
  return getString(r.Param[std::size_t(k) + 1]);
}

void Machine::undefinedError(u16view name) { runtimeError(u"値不正、変数未定義エラー: " + u16(name) + u"\r"); }

void Machine::indexError(u16view name) { runtimeError(u"配列インデクス値エラー: " + u16(name) + u"\r"); }

long double Machine::getNumber(u16view ref) {
  int v = vars.resolve(current, ref);
  if (v < 0) {
    undefinedError(ref);
    return 0;
  }
  return vars[v].Val1;
}

void Machine::setNumber(u16view ref, long double value) {
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  vars[v].Val1 = value;
}

T3D_Point Machine::getVector(u16view ref) {
  int v = vars.resolve(current, ref);
  if (v < 0) return {};
  return {vars[v].Val1, vars[v].Val2, vars[v].Val3};
}

void Machine::setVectorComponent(u16view ref, int component, long double value) {
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  if (component == 1) vars[v].Val1 = value;
  else if (component == 2) vars[v].Val2 = value;
  else if (component == 3) vars[v].Val3 = value;
}

u16 Machine::getString(u16view ref) {
  int v = vars.resolve(current, ref);
  if (v < 0) {
    undefinedError(ref);
    return {};
  }
  return apply_escapes(vars[v].StrVal);
}

void Machine::setString(u16view ref, u16view text) {
  // One value for both: the register and the variable share it.
  StrValue value = StrValue::copyOf(text);
  tasks[std::size_t(current)].STR_WORK = value;
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  vars[v].StrVal = std::move(value);
}

void Machine::clearList(u16view ref) {
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  vars[v].StrList.clear();
}

void Machine::listAddRemove(u16view ref, u16view op, u16view text) {
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  LineList &list = vars[v].StrList;
  if (op == u"+=") {
    list.push_back(text);
  } else if (op == u"-=") {
    auto it = std::find(list.begin(), list.end(), text);
    if (it != list.end()) list.erase(std::size_t(it - list.begin()));
  }
}

void Machine::setMatrixSize(u16view ref, long rows, long cols) {
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  // The storage is 21 x 21: a larger size is refused like a negative one.
  if (rows < 0 || cols < 0 || rows > kMatrixSize || cols > kMatrixSize) return indexError(ref);
  vars[v].MatRow = int32_t(rows);
  vars[v].MatCol = int32_t(cols);
}

std::pair<int, int> Machine::getMatrixSize(u16view ref) {
  int v = vars.resolve(current, ref);
  if (v < 0) {
    undefinedError(ref);
    return {0, 0};
  }
  return {vars[v].MatRow, vars[v].MatCol};
}

void Machine::setMatrixElement(u16view ref, long row, long col, long double value) {
  int v = vars.resolve(current, ref);
  if (v < 0) return undefinedError(ref);
  TVarInfo &var = vars[v];
  if (row < 0 || row >= var.MatRow || col < 0 || col >= var.MatCol) return indexError(ref);
  var.matSet(int(row), int(col), value);
}

long double Machine::getMatrixElement(u16view ref, long row, long col) {
  int v = vars.resolve(current, ref);
  if (v < 0) {
    undefinedError(ref);
    return 0;
  }
  const TVarInfo &var = vars[v];
  if (row < 0 || row >= var.MatRow || col < 0 || col >= var.MatCol) {
    indexError(ref);
    return 0;
  }
  return var.matAt(int(row), int(col));
}

void Machine::push(TTaskInfo &t, long double value) {
  if (t.CalcIndex >= kCalcStack - 1) {
    runtimeError(u"-Stack Overflow");
    return;
  }
  ++t.CalcIndex;
  calcStack[std::size_t(current)][std::size_t(t.CalcIndex)] = value;
}

long double Machine::pop(TTaskInfo &t) {
  if (t.CalcIndex < 0) return 0;
  long double v = calcStack[std::size_t(current)][std::size_t(t.CalcIndex)];
  --t.CalcIndex;
  return v;
}

}  // namespace velmora::engine

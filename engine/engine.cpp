// The engine's interface: each call is a short errand into the machine.
#include "engine/engine.h"

#include <new>

#include "engine/instructions.h"
#include "engine/listing.h"
#include "engine/machine.h"

namespace velmora::engine {

namespace {

int source_line(const TPEXE &r) {
  int n = -1;
  return text::parse_int(r.Param[10], n) ? n : -1;
}

bool valid_slot(int slot) { return slot >= 0 && slot < kSlots; }

const PcodeList kNoList;

}  // namespace

Engine::Engine() : m_(std::make_unique<Machine>()) {}
Engine::~Engine() = default;

// ----- wiring

void Engine::setHost(EngineHost *host) { m_->host = host ? host : &m_->defaultHost; }
void Engine::setCanvas(CanvasServices *canvas) { m_->canvas = canvas; }
CanvasServices *Engine::canvas() const { return m_->canvas; }
void Engine::setClock(std::function<double()> clock) { m_->clock = std::move(clock); }
ConsoleBuffer &Engine::console() { return m_->console; }
const ConsoleBuffer &Engine::console() const { return m_->console; }

// ----- programs and slots

int Engine::registerProgram(const Lines &tcode, const Lines &taskVars, const Lines &sharedVars, Lines &messages,
                            TTaskState initial, u16view programName, int srcIndex) {
  return m_->registerProgram(tcode, taskVars, sharedVars, messages, initial, programName, srcIndex);
}

void Engine::releaseSlot(int slot) {
  if (!valid_slot(slot)) return;
  m_->releaseSlot(slot);
  m_->vars.releaseSlot(slot);
}

void Engine::releaseAllSlots() {
  for (int s = 0; s < kSlots; ++s) releaseSlot(s);
}

void Engine::releaseResources() { m_->releaseResources(); }

bool Engine::linkAll() { return m_->linkAll(); }

int Engine::insertBreak(int slot, int sourceLine, int number) {
  if (!valid_slot(slot)) return -1;
  const int listNo = m_->tasks[std::size_t(slot)].PcodeListNo;
  if (listNo < 0) return -1;
  const PcodeList &records = m_->lists[std::size_t(listNo)];
  if (records.size() >= std::size_t(kMaxRecords)) return -1;  // one more would not be reachable
  for (std::size_t pos = 0; pos < records.size(); ++pos) {
    if (source_line(records[pos]) != sourceLine) continue;
    if (records[pos].kind == opBREAKPOINT) return -1;  // already one here
    std::array<u16, 11> param{};
    param[1] = text::int16(number);
    const InstructionRow &row = *instruction_row(opBREAKPOINT);
    param[std::size_t(row.markSlot)] = text::from_utf8(row.mark);
    param[10] = records[pos].Param[10];
    m_->insertRecord(int(pos), listNo, opBREAKPOINT, param);
    m_->linkSlot(slot);
    return int(pos);
  }
  return -1;  // the line generated no code
}

int Engine::removeBreak(int slot, int sourceLine) {
  if (!valid_slot(slot)) return -1;
  const int listNo = m_->tasks[std::size_t(slot)].PcodeListNo;
  if (listNo < 0) return -1;
  const PcodeList &records = m_->lists[std::size_t(listNo)];
  for (std::size_t pos = 0; pos < records.size(); ++pos) {
    if (records[pos].kind != opBREAKPOINT || source_line(records[pos]) != sourceLine) continue;
    m_->deleteRecord(int(pos), listNo);
    m_->linkSlot(slot);
    return int(pos);
  }
  return -1;
}

void Engine::removeBreaks(int slot) {
  if (!valid_slot(slot)) return;
  const int listNo = m_->tasks[std::size_t(slot)].PcodeListNo;
  if (listNo < 0) return;
  const PcodeList &records = m_->lists[std::size_t(listNo)];
  for (int pos = int(records.size()) - 1; pos >= 0; --pos)
    if (records[std::size_t(pos)].kind == opBREAKPOINT) m_->deleteRecord(pos, listNo);
  m_->linkSlot(slot);
}

// ----- runs

void Engine::configure(const RunSettings &s) {
  m_->dataDirectory = s.dataDirectory;
  m_->homeDirectory = s.homeDirectory;
  m_->programDirectory = s.programDirectory;
  m_->commandInterpreter = s.commandInterpreter;
  m_->stopOnFileError = s.stopOnFileError;
  m_->stopOnCommandError = s.stopOnCommandError;
  m_->confineCommands = s.confineCommands;
  m_->launcher = s.launcher;
  m_->permits.mode = s.permits;
  m_->permits.newRun();
  // Opened once per run: files of a confined run are opened beneath it.
  m_->openDataDirectory();
  m_->httpConnectTimeoutSeconds = s.httpConnectTimeoutSeconds;
  m_->httpStallSeconds = s.httpStallSeconds;
  m_->waitUnit = s.waitUnit;
  m_->timerUnit = s.timerUnit;
}

void Engine::runReset() { m_->runReset(); }
void Engine::start() { m_->running = true; }
void Engine::stop() { m_->running = false; }
bool Engine::running() const { return m_->running; }
void Engine::stopAll() { m_->stopAll(); }
// An instruction that runs out of memory (a string doubled until nothing
// is left) is the run-time error "メモリ不足" at that instruction: every task
// stops and the run ends as after any other error, instead of the process.
long Engine::runPasses(long maxPasses) {
  try {
    return m_->runPasses(maxPasses);
  } catch (const std::bad_alloc &) {
    m_->outOfMemory();
    return 1;
  }
}
void Engine::step() {
  try {
    m_->step();
  } catch (const std::bad_alloc &) {
    m_->outOfMemory();
  }
}
bool Engine::anyRunnable() const { return m_->anyRunnable(); }
bool Engine::closeAllFiles() {
  // The run is over: transfers still pending are abandoned (their workers
  // joined, so none renames a body into place afterwards) and the transfer
  // files "_net_N.$$$" leave the data directory now, not at the next run.
  m_->cancelTransfers();
  m_->transfers.clear();
  m_->anyHttp = false;
  m_->deleteTransferFiles();
  m_->endCommands();
  return m_->closeAllFiles();
}

void Engine::flushOpenFiles() {
  for (TFileInfo &f : m_->files)
    if (f.FileVarTxt && f.Mode != fmREAD) std::fflush(f.FileVarTxt);
}

bool Engine::storeFile(const std::filesystem::path &path, std::string_view bytes, u16view instruction) {
  return m_->replaceFile(path, bytes, instruction);
}
std::optional<std::string> Engine::loadFile(const std::filesystem::path &path, u16view instruction) {
  return m_->readFile(path, instruction);
}

// ----- tasks

void Engine::setPermit(int slot, bool permitted) {
  if (valid_slot(slot)) {
    m_->tasks[std::size_t(slot)].Permit = permitted;
    m_->scheduleChanged();
  }
}

void Engine::resumeTask(int slot) {
  if (!valid_slot(slot)) return;
  TTaskInfo &t = m_->tasks[std::size_t(slot)];
  if (t.state == tsSTOP) {
    t.state = tsACTIVE;
    m_->scheduleChanged();
  }
}

void Engine::holdTask(int slot) {
  if (!valid_slot(slot)) return;
  TTaskInfo &t = m_->tasks[std::size_t(slot)];
  if (t.state == tsACTIVE) t.state = tsSTOP;
}

void Engine::clearBreakMark(int slot) {
  if (valid_slot(slot)) m_->tasks[std::size_t(slot)].BPInfoIndex = -1;
}

void Engine::endAllTasks() {
  // The tasks of the run: one that took no part keeps its state.
  for (int s = 0; s < kSlots; ++s) {
    TTaskInfo &t = m_->tasks[std::size_t(s)];
    if (t.state != tsEMPTY && t.Permit) t.state = tsEND;
  }
}

bool Engine::wakeForInput(int slot) {
  if (!valid_slot(slot)) return false;
  TTaskInfo &t = m_->tasks[std::size_t(slot)];
  if (t.state != tsACTIVE) return false;
  t.WAIT = false;  // GETS runs again and takes the line
  t.WAITCOUNT = 0;
  m_->scheduleChanged();
  return true;
}

void Engine::watchTask(int slot) { m_->watchedTask = slot; }

// ----- snapshot

const TTaskInfo &Engine::task(int slot) const { return m_->tasks[std::size_t(slot)]; }
const TTaskInfo &Engine::interruptShadow(int slot) const { return m_->shadow[std::size_t(slot)]; }
const std::array<int32_t, kCallStack> &Engine::callStack(int slot) const { return m_->callStack[std::size_t(slot)]; }
const std::array<int32_t, kLabels> &Engine::labels(int slot) const { return m_->labels[std::size_t(slot)]; }
const PcodeList &Engine::list(int listNo) const { return m_->lists[std::size_t(listNo)]; }

const PcodeList &Engine::slotList(int slot) const {
  if (!valid_slot(slot)) return kNoList;
  const int listNo = m_->tasks[std::size_t(slot)].PcodeListNo;
  return listNo >= 0 ? m_->lists[std::size_t(listNo)] : kNoList;
}

const VariableTable &Engine::variables() const { return m_->vars; }
const TTimerInfo &Engine::timer(int index) const { return m_->timers[std::size_t(index)]; }
int Engine::registered() const { return m_->registered; }

int Engine::loadedLibraries() const {
  int n = 0;
  for (const TDLLInfo &lib : m_->libraries)
    if (lib.handle) ++n;
  return n;
}

long long Engine::passCount() const { return m_->passCount; }
int Engine::currentSlot() const { return m_->current; }
bool Engine::errorFlag() const { return m_->errorFlag; }
const u16 &Engine::errorMessage() const { return m_->errorMessage; }
const ExecutionPoint &Engine::lastPoint() const { return m_->last; }
const ExecutionPoint &Engine::watchedPoint() const { return m_->watchedPoint; }
int Engine::watchedTask() const { return m_->watchedTask; }
u16 Engine::lineOf(const ExecutionPoint &p) const { return m_->lineOf(p); }
Lines Engine::listFunctions(int slot) const { return m_->listFunctions(slot); }
Lines Engine::listing(int slot) const { return slot_listing(*m_, slot); }
Lines Engine::formListing(int slot) const { return form_listing(*m_, slot); }
void Engine::setFastForms(bool on) { m_->setFastForms(on); }
bool Engine::fastForms() const { return m_->fastForms(); }
const FormHits &Engine::formHits() const { return m_->formHits; }
const std::array<long double, kCalcStack> &Engine::calcStack(int slot) const {
  return m_->calcStack[std::size_t(slot)];
}

}  // namespace velmora::engine

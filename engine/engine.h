#pragma once
// The execution engine as the rest of the system sees it: ten task slots
// running P-code in lock step, the variable table, the console and the
// timers. The engine knows nothing of tabs, widgets or the compiler; what it
// needs from outside it asks through EngineHost.
//
// This is the engine's whole interface: register and link programs, run
// passes, stop, hold and resume tasks, put break records in and take them
// out, and read a snapshot of its state for the monitor. The state itself
// and the services of the instruction families live in engine/machine.h,
// which only engine/ includes; every invariant of the records (positions,
// call stacks, interrupt shadows, timer handlers) is kept in there.
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/fast/forms.h"
#include "engine/shared_types.h"

namespace velmora::engine {

class Machine;

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine &) = delete;
  Engine &operator=(const Engine &) = delete;

  // ----- wiring
  void setHost(EngineHost *host);
  void setCanvas(CanvasServices *canvas);
  CanvasServices *canvas() const;
  // The clock in tenths of a second (a monotonic clock unless replaced).
  void setClock(std::function<double()> clock);
  ConsoleBuffer &console();
  const ConsoleBuffer &console() const;

  // ----- programs and slots
  // Registers a compiled program: returns its slot, or -1 (the reason is a
  // run-time error on the console, or duplicate messages in `messages`).
  // All or nothing: a failed registration leaves no slot, code or variable.
  int registerProgram(const Lines &tcode, const Lines &taskVars, const Lines &sharedVars, Lines &messages,
                      TTaskState initial, u16view programName, int srcIndex);
  // Frees a slot: its task, its P-code list and its task variables.
  void releaseSlot(int slot);
  void releaseAllSlots();
  // Ends what the engine holds outside its memory: transfers (their workers
  // joined), open files (written out and closed), the data directory and
  // loaded libraries. The destructor does the same; a process that ends
  // without destroying the engine calls this first.
  void releaseResources();
  // Writes variable numbers and fills every slot's label table; true (after
  // the run-time error) if any slot failed.
  bool linkAll();
  // Break records: one with the break number before the first record of a
  // source line; its position, or -1 when the line has no code or already
  // has one. removeBreak takes the line's break record out (its position,
  // or -1); removeBreaks all of a slot's. The slot is linked again.
  int insertBreak(int slot, int sourceLine, int number);
  int removeBreak(int slot, int sourceLine);
  void removeBreaks(int slot);

  // ----- runs
  void configure(const RunSettings &settings);
  // Every task back to its start, timers, libraries and transfers reset.
  void runReset();
  // The run flag: passes go on while it is set.
  void start();
  void stop();
  bool running() const;
  // Ends every task, stops the timers and cancels transfers.
  void stopAll();
  // Up to maxPasses scheduler passes, returning after the first pass in
  // which a task left the active state, an error occurred or the run flag
  // was cleared, and after a pass in which every task was waiting. Returns
  // the passes run. step() is one pass.
  long runPasses(long maxPasses);
  void step();
  bool anyRunnable() const;
  // The end of a run: abandons pending HTTP transfers and deletes the
  // transfer files, ends the commands of a confined run, and closes every
  // numbered file; false (after the I/O error) when buffered data could not
  // be written.
  bool closeAllFiles();
  // Writes out what the numbered files hold in their buffers, without
  // closing them: for a process about to end at once while the run's
  // thread is parked (a library call that does not return).
  void flushOpenFiles();
  // Whole-file store and load at a path the way the run may write and read
  // (beneath the data directory when it may not go outside). Failure with
  // errorFlag() set: a permission refused it and said so on the console.
  bool storeFile(const std::filesystem::path &path, std::string_view bytes, u16view instruction);
  std::optional<std::string> loadFile(const std::filesystem::path &path, u16view instruction);

  // ----- tasks
  // Whether a loaded task takes part in the run.
  void setPermit(int slot, bool permitted);
  // A held task (a break, a line step) goes on; holdTask holds an active one.
  void resumeTask(int slot);
  void holdTask(int slot);
  // The break a held task stopped at is dealt with: the hold is no break
  // any longer.
  void clearBreakMark(int slot);
  // Every loaded task ends (empty slots stay empty).
  void endAllTasks();
  // A line of input has arrived for a task waiting in GETS: it runs GETS
  // again. False when the task is not active.
  bool wakeForInput(int slot);
  // The task whose execution point is kept in watchedPoint (-1: none).
  void watchTask(int slot);

  // ----- snapshot for the monitor, the debugger and the views
  const TTaskInfo &task(int slot) const;
  // The task as it was when its interrupt began (while it handles one).
  const TTaskInfo &interruptShadow(int slot) const;
  const std::array<int32_t, kCallStack> &callStack(int slot) const;
  const std::array<int32_t, kLabels> &labels(int slot) const;
  const PcodeList &list(int listNo) const;
  // The P-code list of a slot; empty when the slot has none.
  const PcodeList &slotList(int slot) const;
  const VariableTable &variables() const;
  const TTimerInfo &timer(int index) const;
  int registered() const;
  int loadedLibraries() const;  // libraries LIB has loaded and not released
  long long passCount() const;
  int currentSlot() const;  // the slot whose instruction executes
  bool errorFlag() const;
  const u16 &errorMessage() const;
  const ExecutionPoint &lastPoint() const;     // the last instruction started
  const ExecutionPoint &watchedPoint() const;  // the same for the watched task
  int watchedTask() const;
  u16 lineOf(const ExecutionPoint &p) const;  // its source line number text
  // One line per function record of the slot: source line, blank, name.
  Lines listFunctions(int slot) const;
  // The slot's P-code as the listing file shows it.
  Lines listing(int slot) const;
  // For each record of a linked slot, the fast forms it will take
  // (engine/fast/forms.h): "compare, step compare_jump"; empty for labels.
  Lines formListing(int slot) const;

  // ----- fast forms
  // Off, every record runs its family's handler, one record per task per
  // pass (the reference mode; VELMORA_NO_FAST_FORMS=1 starts an engine so).
  void setFastForms(bool on);
  bool fastForms() const;
  // How often each form was taken (indexed by Form).
  const FormHits &formHits() const;
  // A task's calculation stack (entries above its CalcIndex included).
  const std::array<long double, kCalcStack> &calcStack(int slot) const;

 private:
  std::unique_ptr<Machine> m_;
};

}  // namespace velmora::engine

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
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/canvas_services.h"
#include "engine/console_buffer.h"
#include "engine/pcode.h"
#include "engine/permissions.h"
#include "engine/task.h"
#include "engine/variables.h"

namespace velmora::engine {

class Machine;

// Services of the environment that instructions reach. Every method has a
// harmless default so that an engine without an environment (tests, tools)
// still runs.
class EngineHost {
 public:
  virtual ~EngineHost() = default;
  // The program ("PROG") or data ("DATA") directory of the settings.
  virtual u16 Directory_Get(u16view /*type*/) { return {}; }
  virtual u16 Directory_Set(u16view /*type*/, u16view dir) { return u16(dir); }

  // Pages: the ten program tabs, index 0..9. Without an environment there are
  // no pages: reads give nothing and changes fail.
  virtual void Clear_Page(int /*pageNo*/) {}
  virtual void Get_Page_Append(int /*pageNo*/, Lines & /*list*/) {}
  virtual void Set_Page_Append(int /*pageNo*/, const Lines & /*list*/) {}
  virtual void Add_To_Page(int /*pageNo*/, u16view /*line*/) {}
  virtual bool Ins_To_Page(int /*pageNo*/, int /*lineNo*/, u16view /*line*/) { return false; }
  virtual bool Del_From_Page(int /*pageNo*/, int /*lineNo*/) { return false; }
  virtual int New_Page() { return -1; }
  virtual void Let_Page_Active(int /*pageIndex*/) {}
  virtual bool Get_Page_Name(int /*pageNo*/, u16 & /*name*/) { return false; }
  virtual bool Set_Page_Name(int /*pageNo*/, u16view /*name*/) { return false; }
  // False when the page or name is bad, or the file could not be written;
  // in the last case writeFailed receives the path that failed.
  virtual bool Set_Page_Save(int /*pageNo*/, u16view /*fileName*/, u16 & /*writeFailed*/) { return false; }
  virtual bool Get_Page_Load(int /*pageNo*/, u16view /*fileName*/) { return false; }
  virtual void Free_Page(int /*pageNo*/, int /*activePageIndex*/) {}
  // Compiles the active page into a slot (replacing slot pageIndex's task);
  // the slot number or a negative value.
  virtual int Compile_Replace(int /*pageIndex*/, TTaskState /*initial*/) { return -1; }
  // A library function is about to be called (it blocks until it returns,
  // and nothing can interrupt it), and has returned.
  virtual void Library_Call_Starting(u16view /*function*/) {}
  virtual void Library_Call_Ended() {}
  // An "ask" permission: may the current task's instruction reach the
  // target? Without an environment nobody answers: no.
  virtual bool Ask_Permission(Permission /*p*/, u16view /*instruction*/, u16view /*target*/) { return false; }
  // Said after a refusal: where the kind can be allowed (empty: nothing).
  virtual u16 Permission_Hint(Permission /*p*/) { return {}; }
  // The run loop's pause mark, held while RUN PAGE compiles.
  virtual void setRunPaused(bool /*paused*/) {}
  // Keyboard input for GETS of the task in `slot`: a line at once (Ready),
  // none at all (None: GETS does nothing), or later (Pending: the task waits
  // and runs GETS again once the host has cleared its WAIT mark).
  enum class InputState { None, Ready, Pending };
  virtual InputState Console_Gets(int /*slot*/, u16 & /*line*/) { return InputState::None; }
};

// The last instruction started, kept for the error window and the debugger.
struct ExecutionPoint {
  int task = -1;
  int code = 0;
  int position = 0;
  int list = -1;
};

// What a run may do and how its time passes, fixed by the environment
// before a run (or stepping) starts.
struct RunSettings {
  // Relative file names of programs resolve against the data directory;
  // relative library paths against the home directory.
  std::filesystem::path dataDirectory, homeDirectory;
  // The program directory (PROG): part of the program's own directory,
  // which a run that may not write outside the data directory never writes.
  std::filesystem::path programDirectory;
  u16 commandInterpreter;
  // Whether a failing file instruction or command ends the run with its
  // error, or is ignored with a console note.
  bool stopOnFileError = true, stopOnCommandError = true;
  std::array<PermitMode, kPermissions> permits{};
  // Limits of an HTTP transfer unless the program sets its own (0: none).
  long httpConnectTimeoutSeconds = 30, httpStallSeconds = 60;
  // How long one unit of WAIT and of TIMER lasts, in tenths of a second.
  double waitUnit = 1.0, timerUnit = 1.0;
};

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
  int registerProgram(const Lines &tcode, const Lines &taskVars, const Lines &sharedVars,
                      Lines &messages, TTaskState initial, u16view programName, int srcIndex);
  // Frees a slot: its task, its P-code list and its task variables.
  void releaseSlot(int slot);
  void releaseAllSlots();
  // Writes variable numbers and fills the label table; true if the slot's
  // label table overflowed. linkAll links every slot; true (after the
  // run-time error) if any failed.
  bool linkSlot(int slot);
  bool linkAll();
  // Inserting or deleting a record keeps every position into the list right
  // (tasks, return addresses, interrupts, timers); the caller relinks.
  void insertRecord(int position, int list, int kind, const std::array<u16, 11> &param);
  void deleteRecord(int position, int list);
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
  // transfer files, and closes every numbered file; false (after the I/O
  // error) when buffered data could not be written.
  bool closeAllFiles();
  // Writing at a path: inside the data directory always, else as the file
  // permission of the run says.
  bool fileWritePermitted(const std::filesystem::path &path, u16view instruction);
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
  u16 lineOf(const ExecutionPoint &p) const;   // its source line number text
  // One line per function record of the slot: source line, blank, name.
  Lines listFunctions(int slot) const;
  // The slot's P-code as the listing file shows it.
  Lines listing(int slot) const;

 private:
  std::unique_ptr<Machine> m_;
};

}  // namespace velmora::engine

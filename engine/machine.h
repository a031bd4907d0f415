#pragma once
// The engine's inside: every piece of state of the ten task slots, the
// P-code lists and their hot forms, the variable table, files, libraries,
// transfers and timers, and the operand services the instruction families
// use. Only engine/ includes this header; everyone else drives the engine
// through engine/engine.h.
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "engine/canvas_services.h"
#include "engine/console_buffer.h"
#include "engine/fast/loops.h"
#include "engine/shared_types.h"
#include "engine/http.h"
#include "engine/pcode.h"
#include "engine/permissions.h"
#include "engine/task.h"
#include "engine/variables.h"
#include "text/encoding.h"

namespace velmora::engine {

enum TFileMode : std::uint8_t { fmREAD = 0, fmWRITE = 1, fmAPPEND = 2 };
enum TFileERROR : std::uint8_t {
  feNON = 0,
  feNOT_SPECIFIED = 1,
  feOPEN_ERROR = 2,
  feIO_ERROR = 3,
  feNOT_EXISTS = 4,
  feTOO_MANY_FILES = 5,
  feALREADY_USED = 6
};

// One of the ten numbered files shared by all tasks. A file opened for
// reading is read as a stream, one line ahead of the program (so that EOF
// knows whether another line follows); its encoding is judged from its
// first lines. A UTF-16 file is read whole and handed out line by line.
struct TFileInfo {
  std::filesystem::path Path;  // empty: the number is free
  TFileMode Mode = fmREAD;
  std::FILE *FileVarTxt = nullptr;  // open for writing, appending or reading a stream
  Lines readLines;                  // a UTF-16 file
  std::size_t readPos = 0;
  velmora::text::Encoding readEncoding = velmora::text::Encoding::Utf8;
  bool streaming = false;
  std::optional<u16> nextLine;  // the stream's next line, read ahead
  TFileERROR ErrorCode = feNON;
};

// A library loaded by LIB; a null handle marks a free entry.
struct TDLLInfo {
  void *handle = nullptr;
  u16 DLLAlias;
  u16 Path;
};

// A function declared by LIBA; a null handle marks a free entry.
struct TDLLProcInfo {
  void *handle = nullptr;
  u16 DLLAlias;
  u16 ProcName;
  int32_t ArgCount = 0;
  u16 ArgDef;
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine &) = delete;
  Machine &operator=(const Machine &) = delete;

  // ----- P-code lists
  std::array<PcodeList, kSlots> lists;
  // hot[n][p]: the hot form of lists[n][p], rebuilt whenever a list or its
  // links change (load, link, insert, delete, free, a handler bound).
  std::array<std::vector<HotRecord>, kSlots> hot;
  // plans[n]: the loops of list n compiled for loop_rounds (engine/fast/loops.h).
  std::array<std::vector<LoopPlan>, kSlots> plans;
  void rebuildHot(int list);
  int findFreeList() const;
  void appendRecord(int list, int kind, const std::array<u16, 11> &param);
  // Inserting or deleting a record keeps every position into the list right
  // (tasks, return addresses, interrupts, timers); the caller relinks.
  void insertRecord(int position, int list, int kind, const std::array<u16, 11> &param);
  void deleteRecord(int position, int list);
  void freeList(int list);
  // Position of the first label or function record whose Param[1] is the
  // text, in the current task's list; -1 if none.
  int findFunction(u16view name) const;
  int findLabel(u16view number) const;

  // ----- slots and tasks
  std::array<TTaskInfo, kSlots + 1> tasks;
  std::array<TTaskInfo, kSlots + 1> shadow;
  std::array<std::array<int32_t, kCallStack>, kSlots> callStack{};
  std::array<std::array<long double, kCalcStack>, kSlots> calcStack{};
  std::array<std::array<int32_t, kLabels>, kSlots> labels{};
  int current = 0;       // slot whose instruction is being executed
  int registered = 0;    // registered programs
  bool running = false;  // the run loop goes on while this is set
  long long passCount = 0;
  // The last record a step of several records ran (see PairHandler).
  int stepLast = -1;
  // Whether records take their fast forms (engine/fast/forms.h). Without
  // them (the reference mode: VELMORA_NO_FAST_FORMS=1 in the environment,
  // or setFastForms(false)) every record runs its family's handler, one
  // record per task per pass, exactly as the scheduler's pass describes.
  bool fastForms() const { return fastForms_; }
  void setFastForms(bool on);
  // How often each form was taken since the machine was made.
  FormHits formHits{};
  // Set while tasks side by side run their isolated records in runs of
  // their own: a fast handler that would fail then reports nothing and sets
  // `refused` instead, and the run is taken back to before it.
  bool isolating = false;
  bool refused = false;

  // Registers a compiled program: returns its slot, or -1 (the reason is a
  // run-time error on the console, or duplicate messages in `messages`).
  int registerProgram(const Lines &tcode, const Lines &taskVars, const Lines &sharedVars, Lines &messages,
                      TTaskState initial, u16view programName, int srcIndex);
  void releaseSlot(int slot);
  void releaseAllSlots();
  void releaseResources();
  void taskStart(int slot, TTaskState state);
  void runReset();
  // Writes variable numbers and fills the label table; true if the slot's
  // label table overflowed.
  bool linkSlot(int slot);
  void registrationError(u16view message);
  // Links every slot; true (after the run-time error) if any failed.
  bool linkAll();
  // One scheduler pass: every runnable task executes one instruction (a
  // pass of runPasses, run whether or not the run is on).
  void step();
  // Up to maxPasses passes, returning after the first pass in which a task
  // left the active state, an error occurred or running was cleared, so the
  // caller sees every such event right after its pass, and after a pass in
  // which every task was waiting. Returns the passes run.
  long runPasses(long maxPasses);
  // Tells runPasses that a slot may have become runnable during a pass.
  void scheduleChanged() { scheduleChanged_ = true; }
  void stopAll();
  // One line per function record of the slot: source line, blank, name.
  Lines listFunctions(int slot) const;
  bool anyRunnable() const;

  // ----- permissions of the run (set by the environment when a run starts)
  Permits permits;
  // True when the kind is allowed (asking once per run for an "ask" kind);
  // otherwise the run-time error "実行許可エラー：<kind> <target>" and false.
  bool permitted(Permission p, u16view instruction, u16view target);
  // Writing, deleting or creating at a path: always allowed inside the data
  // directory, otherwise the file permission decides.
  bool fileWritePermitted(const std::filesystem::path &path, u16view instruction);

  // ----- files as the run may reach them
  // While writing (or reading) outside the data directory is not allowed,
  // files are opened beneath the data directory by the kernel (dataFd,
  // opened once per run), never judged by their names; the program's own
  // directory (settings, tables, PROG, recovery copies) then counts as
  // outside even where the data directory holds it. Each of these returns
  // failure with errorFlag set when a permission refused the access (the
  // error is on the console), and without it for a plain failure (errno
  // tells which), for the caller's file error.
  int dataFd = -1;
  std::filesystem::path programDirectory;
  void openDataDirectory();
  void closeDataDirectory();
  bool writeConfined() const { return permits.mode[std::size_t(Permission::Files)] != PermitMode::Allow; }
  bool readConfined() const { return permits.mode[std::size_t(Permission::FilesRead)] != PermitMode::Allow; }
  int openForWriting(const std::filesystem::path &path, bool append, u16view instruction);
  int openForReading(const std::filesystem::path &path, u16view instruction);
  // At most kMaxWholeFile bytes (EFBIG beyond).
  static constexpr long long kMaxWholeFile = 1LL << 30;
  std::optional<std::string> readFile(const std::filesystem::path &path, u16view instruction);
  bool replaceFile(const std::filesystem::path &path, std::string_view bytes, u16view instruction);
  bool deleteFile(const std::filesystem::path &path, u16view instruction);

  // ----- errors
  // Console line, error flag and message, then stop all. Only the first
  // error of one instruction is reported.
  void runtimeError(u16view message);
  // The instruction in progress ran out of memory: "メモリ不足" at it. The
  // memory set aside when the run started is given back first, so that
  // the report and the end of the run (files flushed and closed, the
  // views) have room even when many small pieces used up the rest; should
  // even that fail, the error is set without allocating anything.
  void outOfMemory();
  std::unique_ptr<char[]> memoryReserve;
  static constexpr std::size_t kMemoryReserve = 8u << 20;
  void reserveMemory();
  bool errorFlag = false;
  u16 errorMessage;
  ExecutionPoint last;          // the last instruction started
  ExecutionPoint watchedPoint;  // the same for the watched task
  int watchedTask = -1;
  u16 lineOf(const ExecutionPoint &p) const;  // its source line number text

  // ----- variables and values
  VariableTable vars;
  ConsoleBuffer console;
  std::array<TTimerInfo, kTimers> timers;

  // Operand services for the instruction being executed.
  long double num(TTaskInfo &t, const TPEXE &r, int k) {
    const Operand &o = r.op[std::size_t(k)];
    if (o.kind == OperandKind::Const) return o.value;
    if (o.kind == OperandKind::Var) {
      int v = r.var[std::size_t(k) + 1];
      if (v >= 0) return vars[v].Val1;
    }
    return numSlow(t, r, k);
  }
  u16 str(const TPEXE &r, int k);
  // The same read in place where it can be: a constant, or a variable whose
  // value the escape pass leaves as it is, is seen where it lies; any other
  // operand is read into `held`. Valid while neither changes.
  u16view strView(const TPEXE &r, int k, StrValue &held) {
    if (r.op[std::size_t(k)].kind == OperandKind::StrConst) return r.constText(k);
    const int v = r.var[std::size_t(k) + 1];
    if (v >= 0 && vars[v].StrVal.escapeFree()) return vars[v].StrVal.view();
    held = StrValue(str(r, k));
    return held.view();
  }
  // The variable Param[k] names for the current task, or -1.
  int varOf(const TPEXE &r, int k) const {
    int v = r.var[std::size_t(k)];
    return v >= 0 ? v : vars.resolve(current, r.Param[std::size_t(k)]);
  }

  // Accessors with the undefined-variable and index errors.
  long double getNumber(u16view ref);
  void setNumber(u16view ref, long double value);
  T3D_Point getVector(u16view ref);
  void setVectorComponent(u16view ref, int component, long double value);
  u16 getString(u16view ref);
  void setString(u16view ref, u16view text);
  void clearList(u16view ref);
  void listAddRemove(u16view ref, u16view op, u16view text);
  void setMatrixSize(u16view ref, long rows, long cols);
  std::pair<int, int> getMatrixSize(u16view ref);
  void setMatrixElement(u16view ref, long row, long col, long double value);
  long double getMatrixElement(u16view ref, long row, long col);
  void undefinedError(u16view name);
  void indexError(u16view name);

  // The calculation stack of a task.
  void push(TTaskInfo &t, long double value);
  long double pop(TTaskInfo &t);

  // ----- time: tenths of a second on a monotonic clock
  std::function<double()> clock;
  double now() const { return clock(); }
  // How long one unit of WAIT and of TIMER lasts, in tenths of a second.
  double waitUnit = 1.0, timerUnit = 1.0;
  bool anyWait = false;          // some task may be waiting
  bool anyTimerRunning = false;  // some timer may be running

  // ----- files
  // Relative file names of programs resolve against this directory, fixed
  // by the environment when a run starts.
  std::filesystem::path dataDirectory;
  std::array<TFileInfo, kFiles> files;
  // Whether a failing file instruction (open, read, write, load, store, a
  // bad path) ends the run with its error, or is ignored: then it does
  // nothing more and the console says "- ファイルI/Oエラー(無視)" with the path.
  bool stopOnFileError = true;
  // The same for a command or program that cannot be started.
  bool stopOnCommandError = true;
  // Closes every numbered file; false (after the I/O error) when buffered
  // data could not be written.
  bool closeAllFiles();
  // A string operand taken literally: no escapes (file names).
  u16 rawStr(const TPEXE &r, int k);

  // ----- libraries
  std::filesystem::path homeDirectory;  // relative library paths start here
  std::array<TDLLInfo, kLibraries> libraries{};
  std::array<TDLLProcInfo, kLibraryFunctions> libraryFunctions{};
  void resetLibraries();

  // ----- HTTP transfers
  std::vector<std::unique_ptr<HttpTransfer>> transfers;
  // Limits of a transfer unless the program sets its own (0: none): the
  // connection, and the time a transfer may go without receiving anything.
  long httpConnectTimeoutSeconds = 30, httpStallSeconds = 60;
  bool anyHttp = false;
  void serveTransfers();       // finished transfers resume their tasks
  void cancelTransfers();      // pending transfers are abandoned
  bool deleteTransferFiles();  // "_net_N.$$$" of the data directory
  u16 pendingError;            // raised once the pass has cleared the error flag

  // ----- processes
  u16 commandInterpreter;           // from the settings when a run starts
  std::vector<int> childProcesses;  // started, not yet reaped
  void reapChildren();
  // Commands of a confined run (RunSettings::confineCommands): their
  // sessions, ended with the run by endCommands.
  bool confineCommands = false;
  CommandLauncher *launcher = nullptr;
  std::vector<int> commandSessions;
  void endCommands();

  // ----- canvases (none when no implementation is attached)
  CanvasServices *canvas = nullptr;

  // ----- environment
  EngineHost *host = nullptr;
  EngineHost defaultHost;
  // Operating-system version texts: "Ver …", "Build Number: …", "Platform ID: …".
  std::array<u16, 3> osVersion;

  // Binds the handler of an instruction (its family's registration).
  void setHandler(Op code, Handler h) { setHandler(int(code), h); }
  // The same for a code that has no row (tests probing the dispatcher).
  void setHandler(int code, Handler h);
  Handler handler(int code) const { return code >= 0 && code < 1000 ? handlers_[std::size_t(code)] : nullptr; }

 private:
  std::array<Handler, 1000> handlers_{};
  bool fastForms_ = true;
  bool inInstruction_ = false;
  bool scheduleChanged_ = false;
  static constexpr std::chrono::milliseconds kBatchTime{20};
  std::chrono::steady_clock::time_point batchEnd_;
  // Counts the changes of any list or its hot form: a run loop holding
  // pointers into them takes them again when it moved.
  std::uint64_t hotGeneration_ = 0;
  long double numSlow(TTaskInfo &t, const TPEXE &r, int k);
  bool instructionFailed_ = false;

  void execute(TTaskInfo &t, int listNo, int position);
  void note(int listNo, int position, int kind);
  // Passes of a lone runnable task with nothing pending, up to maxPasses;
  // false when the caller must return (an event: the task left the active
  // state, an error, the run stopped, the batch's time is up).
  bool runAlone(int slot, long maxPasses, long &done);
  template <bool Isolated>
  long runFast(TTaskInfo &t, const HotRecord *hots, const TPEXE *records, int size, long limit, int &lastPosition,
               long &lastPass);
  // A slot's list and hot form as the passes hold them.
  struct Lane {
    TTaskInfo *t;
    const TPEXE *records;
    const HotRecord *hots;
    int size;
    int list;
  };
  long runSideBySide(Lane *lanes, const int *slots, int count, long limit, int &notedLane, int &notedPosition);
  static constexpr long kSideBySideMax = 4096;
  long sideBySideSpan_ = 64;
  // Passes to let go by before trying again after a try found a record
  // that is not isolated (doubling while that goes on).
  int sideBySideWait_ = 0, sideBySideBackoff_ = 1;
  // isolatedWrites_[n]: the variables isolated records of list n write.
  std::array<std::vector<int32_t>, kSlots> isolatedWrites_;
  std::vector<long double> savedValues_;
  bool batchTimeUp();
  std::chrono::steady_clock::time_point lastClockLook_;
  // Running timers are served every kTimerCheckPasses passes of a batch
  // (and at its first): the pass count of the next service.
  static constexpr long kTimerCheckPasses = 16384;
  long timerCheckAt_ = 0;
  int slowPerClockLook_ = 1, slowUntilClock_ = 1;
  void shiftPositions(int list, int position, int delta);
  void serveWaits();
  void serveTimers();
  void enterInterrupt(int slot);
};

}  // namespace velmora::engine

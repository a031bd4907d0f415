#pragma once
// What the engine and the environment share: the services of the
// environment that instructions reach (EngineHost), the run's settings and
// the last instruction started. The engine's facade (engine/engine.h) and its
// inside (engine/machine.h) both include this; neither includes the other.
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/canvas_services.h"
#include "engine/console_buffer.h"
#include "engine/pcode.h"
#include "engine/permissions.h"
#include "engine/task.h"
#include "engine/variables.h"

namespace velmora::engine {

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

// Starts the commands of a confined run outside the engine's own process
// (the runner: inside bubblewrap, in namespaces of their own).
class CommandLauncher {
 public:
  virtual ~CommandLauncher() = default;
  // Starts argv (argv[0] found on the PATH of `environment`) in
  // `directory`, detached, with exactly `environment`. False with errno set
  // when it could not be started.
  virtual bool launch(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
                      const std::string &directory) = 0;
  // Ends every command launched, with everything it started.
  virtual void endAll() = 0;
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
  // Commands of a run that is confined in any way start with a clean
  // environment (PATH, HOME = the data directory, LANG, TERM), never in a
  // terminal window (a terminal reaches the user's display), in a session
  // of their own, and end with the run, together with what they started.
  // `launcher`, when given, starts them.
  bool confineCommands = false;
  CommandLauncher *launcher = nullptr;
  // Limits of an HTTP transfer unless the program sets its own (0: none).
  long httpConnectTimeoutSeconds = 30, httpStallSeconds = 60;
  // How long one unit of WAIT and of TIMER lasts, in tenths of a second.
  double waitUnit = 1.0, timerUnit = 1.0;
};

}  // namespace velmora::engine

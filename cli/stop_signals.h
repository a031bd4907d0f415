#pragma once
// How velmora-run ends on a signal. Ctrl-C (SIGINT), SIGTERM (kill,
// coreutils timeout) and SIGHUP (the terminal closed) each stop the run
// between two instructions as the stop button does: files written out and
// closed, temporary files removed, commands ended; the exit status says
// which (130, 143, 129). They also end a wait for a line of input.
//
// A second signal, or a run still busy two seconds after its --timeout,
// ends the process at once: what can be done without the run's thread is
// done first on a thread of its own — the open files are written out when
// the run's thread is inside a library call (it cannot touch them then),
// temporary files are removed and commands are ended.
#include <functional>

namespace velmora::cli {

// Installs the handlers (without SA_RESTART) and starts the thread that
// ends the process at once when asked to.
void install_stop_signals();

// The first signal that asked the run to stop (SIGINT, SIGTERM, SIGHUP),
// or 0.
int stop_signal();

// What ending at once does besides removing temporary files: write out
// the open files (only ever called while the run's thread is parked in a
// library call) and end the commands. Set before the run starts.
struct EndAtOnce {
  std::function<void()> flushFiles;
  std::function<void()> endCommands;
};
void set_end_at_once(EndAtOnce end);

// The run's thread is inside a library call (true) or has returned from
// it (false). Once the process is being ended at once, a returning call
// waits here for the end instead of touching anything.
void foreign_call(bool inside);

// The run is over: from now on the main thread ends the process itself.
void run_finished();

// Ends the process at once with `status`, after the steps above (the
// watchdog of --timeout).
[[noreturn]] void end_at_once(int status, const char *why);

}  // namespace velmora::cli

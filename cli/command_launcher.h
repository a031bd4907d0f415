#pragma once
// How a confined velmora-run starts the commands a program runs (when the
// user allowed commands), and how it ends them with the run.
//
// Where bubblewrap is installed and may make namespaces, each command runs
// inside it: its own user, process, IPC, UTS and (without the network
// permission) network namespaces, so it sees and signals no other process
// and reaches no abstract socket; a minimal /dev, a private /tmp, /proc of
// its own processes, the data directory writable, the rest of the system
// read-only (only the system's own files when reading outside is denied);
// the run's seccomp filter; a session without a terminal; and it dies with
// the run. Bubblewrap must mount, which no process under Landlock may, so
// a helper process forked before the run restricts itself starts them.
//
// Otherwise the run starts them itself: they share the run's Landlock
// domain and seccomp filter and add a Landlock layer of their own (they
// cannot trace the run or read its memory; with Landlock ABI 6 nor signal
// it), each in a session of its own and
// ended with the run, together with everything it started (the run is the
// reaper of their orphans).
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/shared_types.h"

namespace velmora::cli {

// What the commands of the run may reach, fixed before the run starts.
struct CommandPolicy {
  std::filesystem::path data;
  bool writeOutside = false, readOutside = false, network = false;
};

class CommandSandbox : public engine::CommandLauncher {
 public:
  // Prepares the launcher: bubblewrap when it works here (probed with a
  // command that does nothing), else the direct one. Call before the
  // process restricts itself; `inForce` receives one line for --verbose,
  // `missing` why bubblewrap is not used when it is not.
  static std::unique_ptr<CommandSandbox> prepare(const CommandPolicy &policy, std::string &inForce,
                                                 std::string &missing);
  ~CommandSandbox() override;

  bool launch(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
              const std::string &directory) override;
  void endAll() override;
  // The same for a process that ends at once, from any thread: nothing is
  // waited for or locked.
  void endAtOnce();
  bool bubblewrapped() const { return helper_ > 0; }

 private:
  CommandSandbox() = default;
  std::mutex mutex_;
  // Bubblewrap: the helper and the socket to it.
  pid_t helper_ = -1;
  int socket_ = -1;
  // Direct: the sessions started, and the layer each command puts on.
  std::vector<pid_t> sessions_;
  int layer_ = -1;
};

// Ends every process this process started that is still there, with what
// they started (this process being their reaper), except `spare`. For the
// end of the run and for ending it at once.
void end_descendants(pid_t spare);

}  // namespace velmora::cli

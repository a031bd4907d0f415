#pragma once
// What velmora-run puts in place before a confined run starts (a run that
// may not write or read outside its data directory, or not use the
// network), in this order: the process's first environment cleared from
// /proc's view, the commands' sandbox prepared (bubblewrap must be started
// before Landlock forbids mounting), this process made the reaper of its
// commands' orphans, then Landlock (which leaves of the runner's own
// directory only the canvas module file readable) and the seccomp filter.
#include <memory>
#include <string>
#include <vector>

#include "cli/command_launcher.h"
#include "cli/lazy_canvas.h"
#include "environment/environment.h"

namespace velmora::cli {

struct RunProtections {
  std::unique_ptr<CommandSandbox> commands;  // when commands are allowed
  std::vector<std::string> inForce;          // one line each, for --verbose
  std::vector<std::string> missing;          // what this system cannot give, and why
};

RunProtections confine_run(environment::Environment &env);

}  // namespace velmora::cli

#include "cli/run_confinement.h"

#include <sys/prctl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/call_filter.h"
#include "cli/landlock.h"
#include "text/beneath.h"

extern char **environ;

namespace velmora::cli {

namespace {

// What the kernel shows as /proc/PID/environ is the block of strings the
// process started with, whatever it changed since: every token and key of
// the user's. A command of the run may read it (reading a process's
// environment is not tracing it, which Landlock would refuse). The
// variables move into memory of the process's own, and the block is
// cleared.
void hide_initial_environment() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return;
  std::istringstream fields(text.substr(close + 2));
  std::vector<std::string> f{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
  // Fields 50 and 51 of the file (counted from 1), the third one being f[0].
  if (f.size() < 49) return;
  const std::uintptr_t start = std::stoull(f[47]), end = std::stoull(f[48]);
  if (!start || end <= start) return;
  std::vector<std::string> variables;
  for (char **e = environ; e && *e; ++e) variables.emplace_back(*e);
  ::clearenv();
  for (const std::string &v : variables) {
    const std::size_t eq = v.find('=');
    if (eq != std::string::npos && eq > 0) ::setenv(v.substr(0, eq).c_str(), v.c_str() + eq + 1, 1);
  }
  std::memset(reinterpret_cast<void *>(start), 0, end - start);
}

}  // namespace

RunProtections confine_run(environment::Environment &env) {
  RunProtections r;
  auto allowed = [&env](engine::Permission p) { return env.permitMode(p) == engine::PermitMode::Allow; };
  Confinement c;
  std::error_code ec;
  c.data = std::filesystem::absolute(env.nextDataDirectory(), ec);
  c.writeOutside = allowed(engine::Permission::Files);
  c.readOutside = allowed(engine::Permission::FilesRead);
  c.network = allowed(engine::Permission::Network);
  if (!c.writeOutside || !c.readOutside)
    r.inForce.push_back(
        std::string("files opened beneath ") + c.data.string() +
        (text::kernel_resolves_beneath() ? " by the kernel (openat2)" : " one component at a time (no openat2)") +
        ", no link followed, no file with a second hard link");
  if (!c.any()) return r;
  // The kernel's rules allow the data directory as a whole: when it holds
  // the program's own directory, only the run's own instructions keep out
  // of that (settings, tables, PROG), not its commands or libraries.
  if ((!c.writeOutside || !c.readOutside) &&
      (allowed(engine::Permission::Commands) || allowed(engine::Permission::Libraries)) &&
      engine::path_inside(env.home, c.data))
    r.missing.push_back("keeping commands and libraries out of the program's own directory " + env.home.string() +
                        " (it lies in the data directory)");
  // Before anything else is loaded that might keep a pointer into it.
  if (allowed(engine::Permission::Commands)) hide_initial_environment();
  // The canvas module file (not its directory, the runner's own, which may
  // hold the program's own directory) stays readable for its first use.
  for (const std::string &dir : canvas_module_directories()) c.runtimeFiles.emplace_back(dir + "/velmora-canvas.so");
  if (allowed(engine::Permission::Commands)) {
    CommandPolicy policy{c.data, c.writeOutside, c.readOutside, c.network};
    std::string inForce, missing;
    r.commands = CommandSandbox::prepare(policy, inForce, missing);
    env.setCommandLauncher(r.commands.get());
    // Orphans of commands become this process's children, so that the
    // end of the run finds them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    r.inForce.push_back(inForce);
    if (!missing.empty()) r.missing.push_back(missing);
  }
  for (std::string &line : restrict_process(c, r.missing)) r.inForce.push_back(std::move(line));
  std::string why;
  if (restrict_calls(c.network, why)) r.inForce.push_back(call_filter_summary(c.network));
  else r.missing.push_back(why);
  return r;
}

}  // namespace velmora::cli

#include "cli/run_confinement.h"

#include <sys/prctl.h>

#include "cli/call_filter.h"
#include "cli/landlock.h"
#include "text/beneath.h"

namespace velmora::cli {

RunProtections confine_run(environment::Environment &env, LazyCanvas &canvases) {
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
  if (!c.readOutside) canvases.preload();
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

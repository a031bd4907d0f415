#pragma once
// Defence in depth for a confined velmora-run: the whole process (and every
// process it starts) restricted by the kernel's Landlock, so that a fault in
// path handling anywhere (Velmora, Qt, curl, a library or command the user
// allowed) still cannot write outside the data directory, read outside it
// when reading is confined too, or connect to the network without the
// network permission. A confined run also listens on no TCP port, makes no
// symbolic link, FIFO, socket or device file in the data directory, sends
// no signal and reaches no abstract Unix socket outside its own processes,
// and of /dev reads only what programs need.
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::cli {

struct Confinement {
  std::filesystem::path data;
  bool writeOutside = true;  // files: writing outside the data directory allowed
  bool readOutside = true;   // read: reading outside the data directory allowed
  bool network = true;       // network allowed
  // Files of the runner's own that it may read when reading is confined:
  // the canvas module, loaded on first use (its directory stays closed).
  std::vector<std::filesystem::path> runtimeFiles;
  // Confined at all: when every wall is open there is nothing to hold.
  bool any() const { return !writeOutside || !readOutside || !network; }
};

// The Landlock ABI of this kernel: 0 when Landlock is missing or disabled.
int landlock_abi();

// What a confined run may read of the system when reading outside the data
// directory is denied: libraries, programs, fonts, certificates, time
// zones, name resolution, /proc. Commands in bubblewrap see the same.
const std::vector<std::string> &system_read_paths();
// The devices a confined run may open: null, zero, random, urandom, its
// controlling terminal (/dev/tty) and the terminal of its standard streams.
std::vector<std::string> own_devices();

// Restricts this process as the confinement says. Returns the protections
// now in force, one line each; an empty list when nothing needed doing.
// Each protection the kernel cannot give (no Landlock, an older ABI, a
// failure) is added to `missing` with the reason.
std::vector<std::string> restrict_process(const Confinement &c, std::vector<std::string> &missing);

// A ruleset for one more Landlock layer that a started command puts on
// itself before it runs (restrict_layer, after fork): the command then
// lives in a domain beneath the run's, so it can neither trace the run
// nor read its memory or environment through /proc, and with ABI 6 and
// later neither signal it nor reach its abstract sockets. -1 without
// Landlock. Close-on-exec.
int nested_layer_ruleset();
// Puts the layer on the calling process; only system calls, so it may run
// between fork and exec.
bool restrict_layer(int ruleset);

}  // namespace velmora::cli

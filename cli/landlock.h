#pragma once
// Defence in depth for a confined velmora-run: the whole process (and every
// process it starts) restricted by the kernel's Landlock, so that a fault in
// path handling anywhere (Velmora, Qt, curl) still cannot write outside the
// data directory, read outside it when reading is confined too, or connect
// to the network without the network permission.
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::cli {

struct Confinement {
  std::filesystem::path data;
  bool writeOutside = true;  // files: writing outside the data directory allowed
  bool readOutside = true;   // read: reading outside the data directory allowed
  bool network = true;       // network allowed
  // Directories of the runner's own that it may read when reading is
  // confined (the canvas module, loaded on first use).
  std::vector<std::filesystem::path> runtimeReads;
};

// The Landlock ABI of this kernel: 0 when Landlock is missing or disabled.
int landlock_abi();

// Restricts this process as the confinement says. Returns the protections
// now in force, one line each; an empty list when nothing needed doing.
// `missing` is set when Landlock was needed but the kernel has none (or it
// failed), with the reason.
std::vector<std::string> restrict_process(const Confinement &c, std::string &missing);

}  // namespace velmora::cli

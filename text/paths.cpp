#include "text/paths.h"

#include <cstdlib>
#include <system_error>

namespace velmora {

std::filesystem::path executable_dir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

std::filesystem::path resolve_home(const std::string &explicit_home) {
  std::error_code ec;
  if (!explicit_home.empty()) return std::filesystem::absolute(explicit_home, ec);
  if (const char *env = std::getenv("VELMORA_HOME"); env && *env)
    return std::filesystem::absolute(env, ec);
  return executable_dir();
}

}  // namespace velmora

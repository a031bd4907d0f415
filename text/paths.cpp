#include "text/paths.h"

#include <cstdlib>
#include <system_error>

namespace velmora::text {

std::filesystem::path executable_dir() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

std::filesystem::path resolve_home(const std::string &explicit_home) {
  std::error_code ec;
  if (!explicit_home.empty()) return std::filesystem::absolute(explicit_home, ec);
  if (const char *env = std::getenv("VELMORA_HOME"); env && *env) return std::filesystem::absolute(env, ec);
  return default_home(executable_dir());
}

std::filesystem::path default_home(const std::filesystem::path &exeDir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(exeDir / ".." / "share" / "velmora", ec)) return exeDir;
  std::filesystem::path base;
  if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') base = xdg;
  else if (const char *user = std::getenv("HOME"); user && *user)
    base = std::filesystem::path(user) / ".local" / "share";
  else return exeDir;
  std::filesystem::path home = base / "velmora";
  std::filesystem::create_directories(home, ec);
  return home;
}

}  // namespace velmora::text

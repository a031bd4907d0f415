#pragma once
#include <filesystem>
#include <string>

namespace velmora {

// Directory of the running executable (from /proc/self/exe).
std::filesystem::path executable_dir();

// The program's own directory: where the language table files,
// "User_Setting.Txt", "Recent.$$$", "PROG" and "DATA" live. An explicit
// directory (the --home option) wins, then the VELMORA_HOME environment
// variable, then the executable's directory.
std::filesystem::path resolve_home(const std::string &explicit_home = {});

}  // namespace velmora

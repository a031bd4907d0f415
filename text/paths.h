#pragma once
// Where Velmora keeps its files: the executable's directory, the program's
// own directory and the paths made from them.
#include <filesystem>
#include <string>

namespace velmora::text {

// Directory of the running executable (from /proc/self/exe).
std::filesystem::path executable_dir();

// The program's own directory: where the language table files,
// "User_Setting.Txt", "Recent.$$$", "PROG" and "DATA" live. An explicit
// directory (the --home option) wins, then the VELMORA_HOME environment
// variable, then default_home(executable_dir()).
std::filesystem::path resolve_home(const std::string &explicit_home = {});

// An installed executable (its bin directory beside share/velmora) cannot
// keep files in its own directory: its home is $XDG_DATA_HOME/velmora
// (~/.local/share/velmora), created here when missing. An executable in a
// build tree keeps its own directory.
std::filesystem::path default_home(const std::filesystem::path &exeDir);

}  // namespace velmora::text

// velmora-run: the headless face of Velmora.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "language/language.h"
#include "text/paths.h"

namespace {

constexpr const char *kVersion = "0.1.0";

const char *kHelp =
    "Usage: velmora-run [options] FILE...\n"
    "Compiles and runs Velmora programs (.mcl) without a window and prints the console.\n"
    "\n"
    "Options:\n"
    "  --home DIR   the program's own directory (language tables, User_Setting.Txt);\n"
    "               default: $VELMORA_HOME, else the executable's directory\n"
    "  --help       this text\n"
    "  --version    the version\n";

int usage_error(const std::string &message) {
  std::fprintf(stderr, "velmora-run: %s\nTry 'velmora-run --help'.\n", message.c_str());
  return 3;
}

}  // namespace

int main(int argc, char **argv) {
  std::string home;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("velmora-run %s\n", kVersion);
      return 0;
    }
    if (arg == "--home") {
      if (++i >= argc) return usage_error("--home needs a directory");
      home = argv[i];
      continue;
    }
    if (arg.rfind("--", 0) == 0) return usage_error("unknown option " + arg);
    files.push_back(arg);
  }
  velmora::Language language;
  language.load(velmora::resolve_home(home), [](const velmora::u16 &m) {
    std::fprintf(stderr, "%s\n", velmora::to_utf8(m).c_str());
  });
  if (files.empty()) return usage_error("no program file given");
  return usage_error("running programs is not available in this build yet");
}

// External commands: COMMAND through the command interpreter and EXEC FILE.
// Processes are started with posix_spawn and never waited for; finished ones
// are reaped without blocking so they leave no zombies behind.
//
// The interpreter (default /bin/sh) runs the text with "-c". SHOW runs it in
// a terminal window when one can be started (x-terminal-emulator), STAY the
// same with the terminal kept open afterwards; without a terminal both run
// detached like HIDE: in a session of their own, standard streams on
// /dev/null. EXEC FILE splits its text into words as a shell would (quotes
// respected, nothing expanded) and starts the program found on the PATH.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "engine/machine.h"
#include "engine/families.h"

extern char **environ;

namespace velmora::engine {

namespace {

constexpr std::size_t kCommandLimit = 3000;  // interpreter, switch and text
constexpr std::size_t kExecLimit = 300;

bool on_path(const std::string &program) {
  const char *path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs(path);
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Starts argv detached (own session, streams on /dev/null) or attached to
// nothing in particular; returns the pid or -1.
pid_t spawn(const std::vector<std::string> &args, bool detached, bool searchPath, const std::string &dir) {
  if (args.empty()) return -1;
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  // Commands start in the run's data directory, where programs' relative
  // file names point too.
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  if (detached) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#ifdef POSIX_SPAWN_SETSID
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
#endif
  }
  pid_t pid = -1;
  int rc = searchPath ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ)
                      : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

void op_command(Machine &e, TTaskInfo &, const TPEXE &r) {
  const u16 &mode = r.Param[1];
  u16 text = e.rawStr(r, 2);
  if (e.errorFlag) return;
  u16 interpreter = e.commandInterpreter.empty() ? u16(u"/bin/sh") : e.commandInterpreter;
  const bool stay = mode == u"STAY";
  u16 commandLine = interpreter + u" -c " + text;
  if (commandLine.size() > kCommandLimit)
    return e.runtimeError(u"- COMMAND.COM実行エラー! " + commandLine.substr(0, kCommandLimit));
  if (!e.permitted(Permission::Commands, u"COMMAND", text)) return;
  std::string shell = text::to_utf8(interpreter), body = text::to_utf8(text);
  std::vector<std::string> args;
  bool terminal = (mode == u"SHOW" || stay) && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) &&
                  on_path("x-terminal-emulator");
  if (terminal) {
    // The terminal runs the interpreter; STAY keeps an interactive one open.
    std::string script = stay ? body + "; exec " + shell : body;
    args = {"x-terminal-emulator", "-e", shell, "-c", script};
  } else {
    args = {shell, "-c", body};
  }
  pid_t pid = spawn(args, !terminal, terminal, e.dataDirectory.string());
  if (pid < 0) {
    if (e.stopOnCommandError) return e.runtimeError(u"- COMMAND.COM実行エラー! " + commandLine);
    return e.console.addLine(u"- COMMAND.COM実行エラー(無視) " + commandLine);
  }
  e.childProcesses.push_back(pid);
  e.reapChildren();
}

// Words of a command line as a shell splits them: blanks separate, single
// and double quotes group, a backslash outside single quotes escapes.
std::vector<std::string> shell_words(const std::string &line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quote) {
      if (c == quote) quote = 0;
      else if (c == '\\' && quote == '"' && i + 1 < line.size()) word += line[++i];
      else word += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

void op_exec_file(Machine &e, TTaskInfo &, const TPEXE &r) {
  u16 text = e.rawStr(r, 1);
  if (e.errorFlag) return;
  if (text.size() > kExecLimit) return e.runtimeError(u"  - 実行エラー：" + text.substr(0, kExecLimit));
  if (!e.permitted(Permission::Commands, u"EXEC FILE", text)) return;
  pid_t pid = spawn(shell_words(text::to_utf8(text)), true, true, e.dataDirectory.string());
  if (pid < 0) {
    if (e.stopOnCommandError) return e.runtimeError(u"  - 実行エラー：" + text);
    return e.console.addLine(u"  - 実行エラー(無視)：" + text);
  }
  e.childProcesses.push_back(pid);
  e.reapChildren();
}

}  // namespace

void Machine::reapChildren() {
  std::erase_if(childProcesses, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

void register_processes(Machine &e) {
  e.setHandler(opCOMMAND, op_command);
  e.setHandler(opEXEC_FILE, op_exec_file);
}

}  // namespace velmora::engine

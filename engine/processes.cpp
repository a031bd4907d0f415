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
//
// A run that is confined in any way (RunSettings::confineCommands) gives
// its commands nothing of the user's environment (tokens, keys, the
// addresses of a session bus or an ssh agent), no terminal window (one
// reaches the user's display), and ends them with the run: each starts a
// session of its own, and the whole session is ended.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

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

// What a confined run's commands get of the environment.
std::vector<std::string> clean_environment(const Machine &e) {
  std::vector<std::string> env;
  auto keep = [&env](const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    if (value && *value) env.push_back(std::string(name) + "=" + value);
    else if (fallback) env.push_back(std::string(name) + "=" + fallback);
  };
  keep("PATH", "/usr/local/bin:/usr/bin:/bin");
  std::string home = e.dataDirectory.lexically_normal().string();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  env.push_back("HOME=" + home);
  keep("LANG", "C.UTF-8");
  keep("TERM", nullptr);
  return env;
}

// Starts argv detached (own session, streams on /dev/null) or attached to
// nothing in particular; returns the pid or -1. `environment` null: this
// process's own.
pid_t spawn(const std::vector<std::string> &args, bool detached, bool searchPath, const std::string &dir,
            const std::vector<std::string> *environment = nullptr) {
  if (args.empty()) return -1;
  std::vector<char *> argv, envp;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  if (environment) {
    for (const std::string &v : *environment) envp.push_back(const_cast<char *>(v.c_str()));
    envp.push_back(nullptr);
  }
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
  char **env = environment ? envp.data() : environ;
  int rc = searchPath ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), env)
                      : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

// Starts a command detached: as a confined run's command when the run is
// confined. False (errno set) when it could not be started.
bool start_detached(Machine &e, const std::vector<std::string> &args, bool searchPath) {
  const std::string dir = e.dataDirectory.string();
  if (!e.confineCommands) {
    pid_t pid = spawn(args, true, searchPath, dir);
    if (pid < 0) return false;
    e.childProcesses.push_back(pid);
    e.reapChildren();
    return true;
  }
  const std::vector<std::string> env = clean_environment(e);
  if (e.launcher) return e.launcher->launch(args, env, dir);
  pid_t pid = spawn(args, true, searchPath, dir, &env);
  if (pid < 0) return false;
  e.childProcesses.push_back(pid);
  e.commandSessions.push_back(pid);
  e.reapChildren();
  return true;
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
  bool terminal = !e.confineCommands && (mode == u"SHOW" || stay) &&
                  (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) && on_path("x-terminal-emulator");
  bool started;
  if (terminal) {
    // The terminal runs the interpreter; STAY keeps an interactive one open.
    std::string script = stay ? body + "; exec " + shell : body;
    args = {"x-terminal-emulator", "-e", shell, "-c", script};
    pid_t pid = spawn(args, false, true, e.dataDirectory.string());
    started = pid >= 0;
    if (started) e.childProcesses.push_back(pid);
    e.reapChildren();
  } else {
    args = {shell, "-c", body};
    started = start_detached(e, args, false);
  }
  if (!started) {
    if (e.stopOnCommandError) return e.runtimeError(u"- COMMAND.COM実行エラー! " + commandLine);
    return e.console.addLine(u"- COMMAND.COM実行エラー(無視) " + commandLine);
  }
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
  if (!start_detached(e, shell_words(text::to_utf8(text)), true)) {
    if (e.stopOnCommandError) return e.runtimeError(u"  - 実行エラー：" + text);
    return e.console.addLine(u"  - 実行エラー(無視)：" + text);
  }
}

}  // namespace

void Machine::reapChildren() {
  std::erase_if(childProcesses, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
  // A session whose every process has ended is forgotten, so that its
  // number, once used again, is never signalled.
  std::erase_if(commandSessions, [](pid_t session) { return ::kill(-session, 0) != 0 && errno == ESRCH; });
}

void Machine::endCommands() {
  // The launcher is the run's: the next run hands in its own.
  if (launcher) launcher->endAll();
  launcher = nullptr;
  reapChildren();
  if (commandSessions.empty()) return;
  // Asked to end, then made to: a command that ignores the request does
  // not outlive the run by more than a moment.
  for (pid_t session : commandSessions) ::kill(-session, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (!commandSessions.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    reapChildren();
  }
  for (pid_t session : commandSessions) {
    ::kill(-session, SIGKILL);
    // The session's first process is this process's child: reaped now.
    if (std::erase(childProcesses, session)) ::waitpid(session, nullptr, 0);
  }
  commandSessions.clear();
}

void register_processes(Machine &e) {
  e.setHandler(opCOMMAND, op_command);
  e.setHandler(opEXEC_FILE, op_exec_file);
}

}  // namespace velmora::engine

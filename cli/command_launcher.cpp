#include "cli/command_launcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/call_filter.h"
#include "cli/landlock.h"

namespace velmora::cli {

namespace {

namespace fs = std::filesystem;

// ----- small helpers usable between fork and exec (system calls only)

// The child's standard streams on /dev/null and nothing else of the
// parent's open but `keep` and `keep2`; then the directory.
void detach_child(const char *directory, int keep, int keep2 = -1) {
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    for (int fd : {0, 1, 2}) ::dup2(null, fd);
    if (null > 2) ::close(null);
  }
  // Every descriptor from 3 up but the two kept (close_range where the
  // kernel has it, Linux 5.9 and later; a loop over the usual range else).
  const int low = keep < keep2 ? keep : keep2, high = keep < keep2 ? keep2 : keep;
  int from = 3;
  for (int kept : {low, high}) {
    if (kept < from) continue;
    if (kept > from && ::syscall(SYS_close_range, from, kept - 1, 0) != 0)
      for (int fd = from; fd < kept; ++fd) ::close(fd);
    from = kept + 1;
  }
  if (::syscall(SYS_close_range, from, ~0u, 0) != 0)
    for (int fd = from; fd < 4096; ++fd) ::close(fd);
  if (directory && ::chdir(directory) != 0) ::_exit(127);
}

std::vector<char *> pointers(const std::vector<std::string> &texts) {
  std::vector<char *> out;
  for (const std::string &t : texts) out.push_back(const_cast<char *>(t.c_str()));
  out.push_back(nullptr);
  return out;
}

// The program a command line starts, as the run's PATH finds it, or as a
// path (a relative one from `directory`, where the command starts): ""
// when there is none.
std::string find_program(const std::string &name, const std::vector<std::string> &environment,
                         const std::string &directory = {}) {
  if (name.find('/') != std::string::npos) {
    const std::string path = name[0] == '/' || directory.empty() ? name : directory + "/" + name;
    return ::access(path.c_str(), X_OK) == 0 ? fs::path(path).lexically_normal().string() : std::string();
  }
  std::string path = "/usr/bin:/bin";
  for (const std::string &v : environment)
    if (v.rfind("PATH=", 0) == 0) path = v.substr(5);
  std::stringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

// Starts argv (argv[0] a path) in a session of its own; the child runs
// `prepare` (system calls only) first and keeps the descriptor `keep`
// open. The pid, or -1 with errno from the exec.
template <class Prepare>
pid_t start_session(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
                    const std::string &directory, int keep, Prepare prepare) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  std::vector<char *> args = pointers(argv), env = pointers(environment);
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    prepare();
    detach_child(directory.empty() ? nullptr : directory.c_str(), report[1], keep);
    ::execve(args[0], args.data(), env.data());
    int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    return -1;
  }
  int error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {}
  ::close(report[0]);
  if (n == sizeof error) {
    ::waitpid(pid, nullptr, 0);
    errno = error;
    return -1;
  }
  return pid;
}

// Forgets sessions that have ended (their leaders reaped), and reaps any
// orphan of theirs that ended (this process is their reaper).
void prune_sessions(std::vector<pid_t> &sessions) {
  std::erase_if(sessions, [](pid_t s) {
    ::waitpid(s, nullptr, WNOHANG);
    return ::kill(-s, 0) != 0 && errno == ESRCH;
  });
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {}
}

// Ends sessions: asked first, made to a moment later; reaps their leaders.
void end_sessions(std::vector<pid_t> &sessions) {
  for (pid_t s : sessions) ::kill(-s, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  auto alive = [](pid_t s) {
    ::waitpid(s, nullptr, WNOHANG);
    return ::kill(-s, 0) == 0;
  };
  while (std::chrono::steady_clock::now() < deadline && std::any_of(sessions.begin(), sessions.end(), alive))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  for (pid_t s : sessions) {
    ::kill(-s, SIGKILL);
    ::waitpid(s, nullptr, 0);
  }
  sessions.clear();
}

// ----- bubblewrap

// Requests to the helper: 'L' then NUL-separated fields (directory, the
// count of environment entries, the entries, the arguments); 'E' ends
// every command. The answer to each is an errno (0: done).
std::string launch_request(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
                           const std::string &directory) {
  std::string m = "L";
  auto field = [&m](const std::string &f) {
    m += f;
    m += '\0';
  };
  field(directory);
  field(std::to_string(environment.size()));
  for (const std::string &v : environment) field(v);
  for (const std::string &a : argv) field(a);
  return m;
}

std::vector<std::string> fields_of(const char *data, std::size_t size) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < size; ++i)
    if (data[i] == '\0') {
      out.emplace_back(data + start, i - start);
      start = i + 1;
    }
  return out;
}

// Whether a path is one the sandbox shows.
bool visible(const std::string &path, const CommandPolicy &p) {
  if (p.readOutside) return true;
  auto beneath = [&path](std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return path == dir ||
           (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
  };
  if (beneath(p.data.lexically_normal().string())) return true;
  return std::any_of(system_read_paths().begin(), system_read_paths().end(), beneath);
}

// bubblewrap's arguments before the command, for this policy.
std::vector<std::string> bubblewrap_arguments(const CommandPolicy &p, const std::string &bwrap) {
  std::vector<std::string> a = {bwrap,           "--die-with-parent", "--new-session",
                                "--unshare-all", "--unshare-user",    "--disable-userns"};
  if (p.network) a.push_back("--share-net");
  if (p.readOutside) {
    a.insert(a.end(), {p.writeOutside ? "--bind" : "--ro-bind", "/", "/"});
  } else {
    for (const std::string &dir : system_read_paths())
      if (dir != "/proc" && dir.rfind("/sys", 0) != 0) a.insert(a.end(), {"--ro-bind-try", dir, dir});
  }
  a.insert(a.end(), {"--dev", "/dev", "--proc", "/proc", "--tmpfs", "/tmp", "--bind", p.data.string(), p.data.string(),
                     "--clearenv"});
  return a;
}

// The helper's life: commands started on request inside bubblewrap, all
// ended when the run asks or goes away.
[[noreturn]] void helper_main(int sock, const CommandPolicy &policy, const std::string &bwrap, int filter) {
  std::vector<pid_t> sessions;
  std::vector<char> buffer(1 << 20);
  const std::string reopen = "/proc/self/fd/" + std::to_string(filter);
  // A second without a request reaps the commands that ended meanwhile.
  const timeval second{1, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  for (;;) {
    ssize_t n = ::recv(sock, buffer.data(), buffer.size(), 0);
    const int error = n < 0 ? errno : 0;
    if (error == EINTR) continue;
    prune_sessions(sessions);
    if (error == EAGAIN || error == EWOULDBLOCK) continue;
    if (n <= 0) {
      end_sessions(sessions);
      end_descendants(-1);
      ::_exit(0);
    }
    int answer = 0;
    std::vector<std::string> f = fields_of(buffer.data() + 1, std::size_t(n) - 1);
    // The count of environment entries: digits only, and no more than the
    // fields after it leave room for. Requests come from the run's own
    // process, but a library loaded into it may write anything here.
    std::size_t count = 0;
    bool wellFormed = f.size() >= 3 && !f[1].empty() && f[1].size() <= 6 &&
                      std::all_of(f[1].begin(), f[1].end(), [](char c) { return c >= '0' && c <= '9'; });
    if (wellFormed) {
      count = std::size_t(std::stoul(f[1]));
      wellFormed = count <= f.size() - 3;
    }
    if (buffer[0] == 'E') {
      end_sessions(sessions);
      end_descendants(-1);
    } else if (buffer[0] != 'L' || !wellFormed) {
      answer = EINVAL;
    } else {
      const std::string &directory = f[0];
      const std::vector<std::string> environment(f.begin() + 2, f.begin() + 2 + std::ptrdiff_t(count));
      std::vector<std::string> command(f.begin() + 2 + std::ptrdiff_t(count), f.end());
      command[0] = find_program(command[0], environment, directory);
      if (command[0].empty() || !visible(command[0], policy)) {
        answer = ENOENT;
      } else {
        std::vector<std::string> args = bubblewrap_arguments(policy, bwrap);
        for (const std::string &v : environment) {
          std::size_t eq = v.find('=');
          if (eq != std::string::npos) args.insert(args.end(), {"--setenv", v.substr(0, eq), v.substr(eq + 1)});
        }
        args.insert(args.end(), {"--chdir", directory, "--seccomp", std::to_string(filter), "--"});
        args.insert(args.end(), command.begin(), command.end());
        // Each bubblewrap reads the filter through a description of its
        // own: an offset shared with another one would move under it.
        pid_t pid = start_session(args, {"PATH=/usr/bin:/bin"}, directory, filter, [filter, &reopen] {
          int own = ::open(reopen.c_str(), O_RDONLY);
          if (own >= 0 && own != filter) {
            ::dup2(own, filter);
            ::close(own);
          }
        });
        if (pid < 0) answer = errno ? errno : EIO;
        else sessions.push_back(pid);
      }
    }
    (void)!::send(sock, &answer, sizeof answer, MSG_NOSIGNAL);
  }
}

std::string bwrap_path() {
  const char *path = std::getenv("PATH");
  return find_program("bwrap", {"PATH=" + std::string(path ? path : "/usr/bin:/bin")});
}

// Runs a command that does nothing in the sandbox: the first line of
// bubblewrap's complaint when it cannot.
std::string probe_bubblewrap(const CommandPolicy &policy, const std::string &bwrap, int filter) {
  if (bwrap.empty()) return "bubblewrap (bwrap) is not installed";
  const std::string truth = find_program("true", {"PATH=/usr/bin:/bin"});
  if (truth.empty()) return "no program 'true' to try bubblewrap with";
  int err[2];
  if (::pipe2(err, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  std::vector<std::string> args = bubblewrap_arguments(policy, bwrap);
  args.insert(args.end(), {"--chdir", policy.data.string(), "--seccomp", std::to_string(filter), "--", truth});
  std::vector<char *> argv = pointers(args);
  std::vector<std::string> env = {"PATH=/usr/bin:/bin"};
  std::vector<char *> envp = pointers(env);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(err[1], 2);
    ::fcntl(filter, F_SETFD, 0);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(err[1]);
  std::string said;
  char chunk[512];
  for (ssize_t n; (n = ::read(err[0], chunk, sizeof chunk)) > 0;) said.append(chunk, std::size_t(n));
  ::close(err[0]);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return "bubblewrap could not be started";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  said = said.substr(0, said.find('\n'));
  return "bubblewrap cannot make its sandbox here" + (said.empty() ? std::string() : ": " + said);
}

}  // namespace

std::unique_ptr<CommandSandbox> CommandSandbox::prepare(const CommandPolicy &policy, std::string &inForce,
                                                        std::string &missing) {
  std::unique_ptr<CommandSandbox> box(new CommandSandbox);
  std::string problem;
  const std::string bwrap = bwrap_path();
  int filter = call_filter_program(policy.network, problem);
  if (filter >= 0) problem = probe_bubblewrap(policy, bwrap, filter);
  int pair[2] = {-1, -1};
  if (problem.empty() && ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
    problem = std::string("no socket to the helper: ") + std::strerror(errno);
  if (problem.empty()) {
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) {
      // Out of the terminal's process group (Ctrl-C is the run's to
      // handle); gone with the run.
      ::setsid();
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(0);
      // A bubblewrap ended while it sets up may leave its child behind:
      // the helper is its reaper, and ends it with the rest.
      ::prctl(PR_SET_CHILD_SUBREAPER, 1);
      detach_child(nullptr, pair[1], filter);
      helper_main(pair[1], policy, bwrap, filter);
    }
    ::close(pair[1]);
    if (pid < 0) {
      ::close(pair[0]);
      problem = std::string("no helper process: ") + std::strerror(errno);
    } else {
      box->helper_ = pid;
      box->socket_ = pair[0];
    }
  }
  if (filter >= 0) ::close(filter);
  if (box->bubblewrapped()) {
    inForce = std::string("bubblewrap: each command in namespaces of its own (") +
              (policy.network ? "the network shared" : "no network") +
              ", its own processes only), a minimal /dev, a private /tmp, " +
              (policy.readOutside ? "the system read-only" : "only the system's own files") + ", " +
              policy.data.string() + " writable, the seccomp filter, a clean environment, ended with the run";
  } else {
    missing = problem;
    box->layer_ = nested_layer_ruleset();
    inForce =
        "commands: each in a session of its own with a Landlock layer of its own (the run not traced or "
        "read), a clean environment, ended with the run with everything they started";
  }
  return box;
}

CommandSandbox::~CommandSandbox() {
  endAll();
  if (socket_ >= 0) ::close(socket_);
  if (helper_ > 0) ::waitpid(helper_, nullptr, 0);
  if (layer_ >= 0) ::close(layer_);
}

bool CommandSandbox::launch(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
                            const std::string &directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (argv.empty()) {
    errno = EINVAL;
    return false;
  }
  if (helper_ > 0) {
    std::string request = launch_request(argv, environment, directory);
    int answer = EIO;
    if (::send(socket_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()) ||
        ::recv(socket_, &answer, sizeof answer, 0) != ssize_t(sizeof answer))
      answer = EIO;
    errno = answer;
    return answer == 0;
  }
  std::vector<std::string> command = argv;
  command[0] = find_program(argv[0], environment, directory);
  if (command[0].empty()) {
    errno = ENOENT;
    return false;
  }
  prune_sessions(sessions_);
  const int layer = layer_;
  pid_t pid = start_session(command, environment, directory, -1, [layer] { restrict_layer(layer); });
  if (pid < 0) return false;
  sessions_.push_back(pid);
  return true;
}

void CommandSandbox::endAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (helper_ > 0 && socket_ >= 0) {
    int answer = 0;
    const char end = 'E';
    if (::send(socket_, &end, 1, MSG_NOSIGNAL) == 1) (void)!::recv(socket_, &answer, sizeof answer, 0);
  }
  end_sessions(sessions_);
  end_descendants(helper_);
}

void CommandSandbox::endAtOnce() {
  // The helper ends its commands when the run's end of the socket closes.
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
  end_descendants(helper_);
}

void end_descendants(pid_t spare) {
  // Children of every thread, and theirs: orphans of commands are this
  // process's (it is their reaper), so a command that left its session
  // is found here too. A few rounds, for processes started meanwhile.
  for (int round = 0; round < 4; ++round) {
    std::vector<pid_t> found, queue = {::getpid()};
    while (!queue.empty()) {
      pid_t p = queue.back();
      queue.pop_back();
      const std::string tasks = "/proc/" + std::to_string(p) + "/task";
      DIR *dir = ::opendir(tasks.c_str());
      if (!dir) continue;
      while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream children(tasks + "/" + entry->d_name + "/children");
        for (pid_t c; children >> c;)
          if (c != spare && std::find(found.begin(), found.end(), c) == found.end()) {
            found.push_back(c);
            queue.push_back(c);
          }
      }
      ::closedir(dir);
    }
    if (found.empty()) return;
    for (pid_t p : found) ::kill(p, SIGKILL);
    for (pid_t p : found) ::waitpid(p, nullptr, WNOHANG);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {}
  }
}

}  // namespace velmora::cli

#pragma once
// The test HTTP server (tests/http/server.py) as a real process on
// 127.0.0.1; the port it listens on is read from its first line.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

extern char **environ;

namespace velmora::testing {

class Server {
 public:
  Server() {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const char *argv[] = {"python3", VELMORA_TEST_HTTP_SERVER, nullptr};
    posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buf[32] = {};
    std::size_t got = 0;
    while (got < sizeof buf - 1) {
      ssize_t n = read(fds[0], buf + got, 1);
      if (n <= 0 || buf[got] == '\n') break;
      ++got;
    }
    close(fds[0]);
    port = std::atoi(buf);
  }
  ~Server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port = 0;

 private:
  pid_t pid_ = -1;
};

}  // namespace velmora::testing

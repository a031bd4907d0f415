#include "cli/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "text/beneath.h"

namespace velmora::cli {

namespace {

volatile std::sig_atomic_t g_signal = 0;
int g_wake[2] = {-1, -1};
std::atomic<bool> g_inCall{false}, g_ending{false}, g_finished{false};
EndAtOnce g_end;

// The first signal stops the run between instructions; any later one
// wakes the thread that ends the process at once.
void on_signal(int sig) {
  if (g_signal == 0) {
    g_signal = sig;
    return;
  }
  const int saved = errno;
  const unsigned char byte = 1;
  (void)!::write(g_wake[1], &byte, 1);
  errno = saved;
}

void write_message(const char *why) {
  char line[160];
  int n = std::snprintf(line, sizeof line, "velmora-run: %s\n", why);
  if (n > 0) (void)!::write(2, line, std::size_t(n) < sizeof line ? std::size_t(n) : sizeof line - 1);
}

// Woken by a second signal: the run's thread had its chance to end the run
// (it stopped at the first signal); unless it is about to, or it is stuck
// in a library call, it gets half a second more before the process ends.
void ender() {
  unsigned char byte;
  while (::read(g_wake[0], &byte, 1) < 0 && errno == EINTR) {}
  for (int i = 0; i < 50 && !g_finished && !g_inCall; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (g_finished) return;
  end_at_once(128 + (g_signal ? int(g_signal) : SIGINT), "interrupted");
}

}  // namespace

void install_stop_signals() {
  if (::pipe2(g_wake, O_CLOEXEC) != 0) g_wake[0] = g_wake[1] = -1;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART: a read of standard input (GETS) returns at once.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  if (g_wake[0] >= 0) std::thread(ender).detach();
}

int stop_signal() { return g_signal; }

void set_end_at_once(EndAtOnce end) { g_end = std::move(end); }

void foreign_call(bool inside) {
  if (inside) {
    g_inCall = true;
    return;
  }
  g_inCall = false;
  // Being ended at once: the files may be being written out right now.
  if (g_ending)
    for (;;) ::pause();
}

void run_finished() { g_finished = true; }

void end_at_once(int status, const char *why) {
  static std::atomic<bool> once{false};
  if (once.exchange(true))
    for (;;) ::pause();  // another thread is ending the process
  g_ending = true;
  // The run's thread cannot touch the files while it is in a library call
  // (and it stays away after one, see foreign_call).
  if (g_inCall && g_end.flushFiles) g_end.flushFiles();
  text::remove_temporaries();
  if (g_end.endCommands) g_end.endCommands();
  if (::ftrylockfile(stdout) == 0) {
    std::fflush(stdout);
    ::funlockfile(stdout);
  }
  write_message(why);
  ::_exit(status);
}

}  // namespace velmora::cli

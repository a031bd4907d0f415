// velmora-lsp: the language server over standard input and output.
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "lsp/server.h"

namespace {

const char *kUsage =
    "usage: velmora-lsp [--home DIR] [--stdio]\n"
    "The Velmora language server (Language Server Protocol 3.17 over standard\n"
    "input and output). It reads the language tables of the program's own\n"
    "directory: --home DIR, else the client's setting velmora.home, else\n"
    "VELMORA_HOME, else the directory velmora-run uses.\n";

// Messages read by the reader thread, waiting for the server. The reader
// stops reading while the queue holds more than kQueueBytes, so a client
// that sends faster than the server answers cannot make it grow.
class Inbox {
 public:
  static constexpr std::size_t kQueueBytes = 32 * 1024 * 1024;

  void push(velmora::lsp::MessageReader::Result r) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return bytes_ < kQueueBytes; });
    bytes_ += r.body.size();
    queue_.push_back(std::move(r));
    ready_.notify_one();
  }
  // The next message, or nothing when the deadline passed first.
  template <class TimePoint>
  std::optional<velmora::lsp::MessageReader::Result> pop(const std::optional<TimePoint> &deadline) {
    std::unique_lock lock(mutex_);
    auto have = [this] { return !queue_.empty(); };
    if (deadline) {
      if (!ready_.wait_until(lock, *deadline, have)) return std::nullopt;
    } else {
      ready_.wait(lock, have);
    }
    velmora::lsp::MessageReader::Result r = std::move(queue_.front());
    queue_.pop_front();
    bytes_ -= r.body.size();
    room_.notify_one();
    return r;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<velmora::lsp::MessageReader::Result> queue_;
  std::size_t bytes_ = 0;
};

void write_all(const std::string &bytes) {
  const char *p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::_Exit(1);  // the client is gone: nobody to answer
    p += n;
    left -= std::size_t(n);
  }
}

}  // namespace

int main(int argc, char **argv) {
  velmora::lsp::Server::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      options.home = argv[++i];
    } else if (arg == "--stdio") {
      // The only transport; clients that name it are welcome.
    } else if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("velmora-lsp %s\n", VELMORA_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "velmora-lsp: unknown argument %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);

  velmora::lsp::Server server(options, [](const std::string &json) { write_all(velmora::lsp::frame(json)); });
  Inbox inbox;
  std::thread reader([&inbox] {
    velmora::lsp::MessageReader messages([](char *buffer, std::size_t n) -> std::size_t {
      for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, n);
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? std::size_t(got) : 0;
      }
    });
    for (;;) {
      velmora::lsp::MessageReader::Result r = messages.next();
      const bool end = r.status == velmora::lsp::MessageReader::Status::End;
      inbox.push(std::move(r));
      if (end) return;
    }
  });
  reader.detach();

  for (;;) {
    std::optional<velmora::lsp::MessageReader::Result> r = inbox.pop(server.nextDeadline());
    if (r) {
      if (r->status == velmora::lsp::MessageReader::Status::End) {
        // The client went away without "exit": end as the protocol says.
        std::fflush(nullptr);
        std::_Exit(server.exitCode() == 0 ? 0 : 1);
      }
      if (r->status == velmora::lsp::MessageReader::Status::Message) server.handle(r->body);
      else server.handleUnreadable(*r);
      if (server.exited()) std::_Exit(server.exitCode());
    }
    server.runDue();
  }
}

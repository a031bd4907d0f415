#pragma once
// HTTP transfers of running programs: each runs on a worker thread of its
// own (libcurl) while the requesting task waits; the scheduler collects the
// finished ones on the main thread.
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "text/u16.h"

namespace velmora::engine {

struct HttpTransfer {
  // Set on the main thread before the worker starts, then read-only.
  int slot = -1;
  std::string url;
  std::string postFields;  // "name=value" lines joined with "&"; empty for GET
  bool post = false;
  std::filesystem::path file;  // the task's transfer file
  // The data directory (a handle of its own, closed with the transfer) and
  // the transfer file's name in it.
  int dirfd = -1;
  std::string leaf;
  // The file the body is written to: this transfer's alone, unnamed in
  // the data directory (the browser build writes to the named file).
  int body = -1;
  long connectTimeoutMs = 0, timeoutMs = 0;  // 0: no limit
  // A transfer that moves less than a byte a second for this long is
  // abandoned (0: never), so a server that stops answering ends the wait.
  long stallSeconds = 0;
  std::string userAgent;

  // Written by the worker, read by the main thread once `done` is set.
  std::atomic<bool> done{false};
  std::atomic<bool> cancelled{false};
  bool ok = false;
  std::string error;
  Lines report;  // status, headers and cookies
  std::thread worker;

  void start();
  ~HttpTransfer();
};

#ifdef __EMSCRIPTEN__
// The browser build's transfer: done (ok or error) when it returns.
void web_transfer(HttpTransfer &t);
#endif

class Machine;
struct TTaskInfo;

// A whole-file name that names a web resource ("HTTP:" or "HTTPS:").
bool is_url(u16view name);
// Whether a program may fetch from or post to the URL: "http://" or
// "https://" (any case) at its very start, and no blank or control
// character anywhere. Every other scheme reads local files (file:) or
// sends raw bytes to any port (gopher:, dict:, telnet:, ...), so it is
// refused before anything is opened; the transfers refuse it at redirects
// too. The browser build calls this before its own fetch.
bool web_url_allowed(u16view url);
// The part of a URL a person decides on: the host and port, without any
// user name or password; the whole URL when it has no host.
u16 url_target(u16view url);
// Starts a GET of the url for the current task, which waits for it.
void start_get(Machine &e, TTaskInfo &t, u16view url, bool encoded);

// URL texts: percent-decoding (UTF-8), the character entities and numeric
// character references.
u16 url_decode(u16view text);
// The decoded text cut at "?" and "&", each part cut again at the separator.
Lines url_split(u16view text, u16view separator);

}  // namespace velmora::engine

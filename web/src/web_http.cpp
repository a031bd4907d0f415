// HTTP transfers of the browser build: a synchronous request from the
// worker (the run loop waits for it as a task waits for a transfer), the
// body written to the transfer file, the same report lines as the desktop.
// A failure leaves ok false, so the engine reports it with its own message.
#include <emscripten.h>

#include <cstdlib>

#include "engine/http.h"

// The bodies below are JavaScript: the formatter leaves them as written.
// clang-format off
// Returns malloc'd UTF-8: "OK\n" and the report lines, "ERR\n" and a
// reason, or "STOP\n" when the stop button ended the wait.
EM_JS(char *, velmora_js_http, (const char *url, int post, const char *fields, const char *file, int connectMs,
                                int totalMs, int stallMs), {
  let text;
  try {
    text = velmoraHost.http(UTF8ToString(url), !!post, UTF8ToString(fields), UTF8ToString(file), connectMs,
                            totalMs, stallMs);
  } catch (e) {
    text = "ERR\n" + e;
  }
  const size = lengthBytesUTF8(text) + 1;
  const p = _malloc(size);
  stringToUTF8(text, p, size);
  return p;
});
// clang-format on

namespace velmora::web {
void flush_now();  // bridge.cpp
}

namespace velmora::engine {

void web_transfer(HttpTransfer &t) {
  web::flush_now();
  std::string fields;
  // "name=value" lines separated by CR, each part percent-encoded by the page.
  fields = t.postFields;
  // The desktop's limits: connecting, the whole transfer, a stalled one.
  char *answer = velmora_js_http(t.url.c_str(), t.post ? 1 : 0, fields.c_str(), t.file.string().c_str(),
                                 int(t.connectTimeoutMs), int(t.timeoutMs), int(t.stallSeconds * 1000));
  std::string text = answer ? answer : "ERR\n";
  std::free(answer);
  std::size_t nl = text.find('\n');
  std::string head = text.substr(0, nl);
  std::string rest = nl == std::string::npos ? std::string() : text.substr(nl + 1);
  if (head == "OK") {
    std::size_t start = 0;
    while (start < rest.size()) {
      std::size_t end = rest.find('\n', start);
      if (end == std::string::npos) end = rest.size();
      t.report.push_back(text::from_utf8(rest.substr(start, end - start)));
      start = end + 1;
    }
    t.ok = true;
  } else if (head == "STOP") {
    t.slot = -1;  // abandoned: the run is being stopped
  } else {
    t.error = rest;
  }
  t.done = true;
}

}  // namespace velmora::engine

// The browser face of Velmora: the environment without widgets, driven by
// the playground's worker (web/www/worker.js) through the exported vm_*
// functions. Console, task status, drawing records and messages go to the
// worker through `velmoraHost`; the stop button and the input line come
// back through shared memory the worker reads (stopRequested, readLine).
#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>

#include "compiler/diagnostics.h"
#include "environment/environment.h"
#include "web/src/web_canvas.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::web::json_string;

// The bodies below are JavaScript: the formatter leaves them as written.
// clang-format off
EM_JS(void, js_post, (const char *kind, const char *json), {
  velmoraHost.post(UTF8ToString(kind), UTF8ToString(json));
});
EM_JS(int, js_stop_requested, (), { return velmoraHost.stopRequested() ? 1 : 0; });
// Every flush of a run: the worker sends DATA changes to the page's store.
EM_JS(void, js_tick, (), { velmoraHost.tick(); });
// The typed line (malloc'd UTF-8), or null when the stop button ended the wait.
EM_JS(char *, js_read_line, (int slot), {
  const line = velmoraHost.readLine(slot);
  if (line === null) return 0;
  const size = lengthBytesUTF8(line) + 1;
  const p = _malloc(size);
  stringToUTF8(line, p, size);
  return p;
});
// clang-format on

namespace {

std::string json_lines(const Lines &lines, bool dropCr = true) {
  std::string s = "[";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    u16 line = lines[i];
    if (dropCr) std::erase(line, u'\r');
    s += (i ? "," : "") + json_string(line);
  }
  return s + "]";
}

void post(const char *kind, const std::string &json) { js_post(kind, json.c_str()); }

class WebUi : public UserInterface {
 public:
  Environment *env = nullptr;
  web::WebCanvas *canvas = nullptr;
  bool stopped = false;

  void message(const u16 &text, const u16 &title) override {
    u16 t = text;
    for (char16_t &c : t)
      if (c == u'\r') c = u'\n';
    post("message", "{\"title\":" + json_string(title) + ",\"text\":" + json_string(t) + "}");
  }
  // Questions take the runner's defaults: nobody answers a dialog here.
  bool askYesNo(const u16 &text, const u16 &title) override {
    message(text + u" -> Yes", title);
    return true;
  }
  Answer askYesNoCancel(const u16 &text, const u16 &title) override {
    message(text + u" -> No", title);
    return Answer::No;
  }
  // Between two slices of a run: the stop button, and the console shown.
  void betweenSlices() {
    if (env && env->runLoop.running() && !stopped && js_stop_requested()) {
      stopped = true;
      env->runLoop.stopAll();
    }
    flush(false);
  }
  void consoleUpdated(const Lines &) override { consoleDirty = true; }
  InputMode consoleInput(int slot, u16 &line) override {
    flush(true);
    post("input", "{\"slot\":" + std::to_string(slot) + "}");
    char *text = js_read_line(slot);
    if (!text) {  // the stop button
      stopped = true;
      if (env) env->runLoop.stopAll();
      return InputMode::None;
    }
    line = text::from_utf8(text);
    std::free(text);
    return InputMode::Immediate;
  }
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override {
    std::string s = "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
      s += (i ? ",[" : "[") + json_string(rows[i].first) + "," + json_string(rows[i].second) + "]";
    post("runError", s + "]");
  }

  // Console, task status and drawing records: at most every 30 ms while a
  // program runs (the page redraws no faster), at once when forced. The
  // console goes as the lines added since the last update ("from": the
  // first line sent, the last line sent before may have grown) or, after it
  // was reset or cleared, anew ("reset") with at most kConsoleTail lines.
  // Line numbers count from the console's reset: the engine's buffer keeps
  // only what the page keeps (the newest kConsoleTail lines, kConsoleChars
  // characters, a line by its last kLineChars), so a program that prints
  // without end holds bounded memory; `dropped` lines have left its front.
  static constexpr std::size_t kConsoleTail = 200000;
  static constexpr std::size_t kConsoleChars = std::size_t(8) << 20;
  static constexpr std::size_t kLineChars = std::size_t(1) << 16;
  bool consoleDirty = false;
  bool consoleReset = true;
  std::size_t sentLines = 0, dropped = 0, charsSinceTrim = 0;
  u16 sentFirst;
  std::chrono::steady_clock::time_point lastFlush{};
  void flush(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastFlush < std::chrono::milliseconds(30)) return;
    lastFlush = now;
    if (!env) return;
    js_tick();
    if (canvas) {
      std::string records = canvas->take();
      if (!records.empty()) post("draw", records);
    }
    if (consoleDirty) {
      consoleDirty = false;
      post("console", consoleDelta(env->engine().console().lines()));
      trimConsole();
    }
    post("status", statusJson());
    post("memory", std::to_string(static_cast<unsigned long long>(__builtin_wasm_memory_size(0)) * 65536u));
  }
  // After an update: the lines the page has leave the buffer's front once
  // it holds more than the page keeps.
  void trimConsole() {
    const Lines &lines = env->engine().console().lines();
    if (lines.empty()) return;
    if (lines.size() <= kConsoleTail + kConsoleTail / 4 && lines.back().size() <= kLineChars &&
        charsSinceTrim <= kConsoleChars / 4)
      return;
    charsSinceTrim = 0;
    std::size_t gone = env->trimConsole(kConsoleTail, kConsoleChars, kLineChars);
    gone = std::min(gone, sentLines);
    dropped += gone;
    sentLines -= gone;
    sentFirst = lines.empty() ? u16() : lines[0];
  }
  std::string consoleDelta(const Lines &lines) {
    // A shorter buffer, or another first line once it was complete: reset.
    if (lines.size() < sentLines || (sentLines > 1 && !lines.empty() && lines[0] != sentFirst)) consoleReset = true;
    if (consoleReset) dropped = 0;
    std::size_t from = consoleReset ? 0 : (sentLines ? sentLines - 1 : 0);
    bool reset = consoleReset;
    if (lines.size() - from > kConsoleTail) {
      from = lines.size() - kConsoleTail;
      reset = true;
    }
    consoleReset = false;
    sentLines = lines.size();
    sentFirst = lines.empty() ? u16() : lines[0];
    // The lines go as one text, separated by NUL characters: the page
    // splits it, which is cheaper than an array of strings.
    u16 text;
    for (std::size_t i = from; i < lines.size(); ++i) {
      if (i > from) text += u'\0';
      const u16 &line = lines[i];
      for (std::size_t k = line.size() > kLineChars ? line.size() - kLineChars : 0; k < line.size(); ++k)
        if (line[k] != u'\r' && line[k] != u'\0') text += line[k];
    }
    charsSinceTrim += text.size();
    return "{\"reset\":" + std::string(reset ? "true" : "false") + ",\"from\":" + std::to_string(from + dropped) +
           ",\"total\":" + std::to_string(lines.size() + dropped) + ",\"text\":" + json_string(text) + "}";
  }
  std::string statusJson() {
    Lines rows;
    for (int slot = 0; slot < engine::kSlots; ++slot) rows.push_back(env->compileDriver.taskStatusLine(slot));
    return json_lines(rows);
  }
};

struct Playground {
  WebUi ui;
  web::WebCanvas canvas;
  std::unique_ptr<Environment> env;
};
Playground *g = nullptr;

std::string mark_json(const SourceMark &m) {
  if (m.tab < 0) return "null";
  return "{\"tab\":" + std::to_string(m.tab) + ",\"line\":" + std::to_string(m.line) +
         ",\"message\":" + json_string(m.message) + "}";
}

Lines split_text(const std::string &utf8) {
  Lines lines;
  u16 text = text::from_utf8(utf8);
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(u'\n', start);
    u16 line = text.substr(start, end == u16::npos ? u16::npos : end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    lines.push_back(line);
    if (end == u16::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string diagnostic_json(const velmora::compiler::Diagnostic &d) {
  return "{\"line\":" + std::to_string(d.line) + ",\"column\":" + std::to_string(d.column) +
         ",\"length\":" + std::to_string(d.length) + ",\"severity\":\"" + velmora::compiler::severity_name(d.severity) +
         "\",\"id\":" + json_string(text::from_utf8(d.id)) + ",\"message\":" + json_string(d.message) +
         ",\"explanation\":" + json_string(d.explanation) + "}";
}

const char *answer(const std::string &json) {
  static std::string last;
  last = json;
  return last.c_str();
}

}  // namespace

namespace velmora::web {
// Console, status and drawings to the page now: before the worker waits
// (an HTTP transfer), so the page shows what the program did until then.
void flush_now() {
  if (g) g->ui.flush(true);
}
}  // namespace velmora::web

extern "C" {

// The environment with its home (tables, settings, DATA) at `home`.
EMSCRIPTEN_KEEPALIVE void vm_init(const char *home, const char *data) {
  g = new Playground;
  g->env = std::make_unique<Environment>(std::filesystem::path(home), g->ui);
  g->env->setCanvas(&g->canvas);
  g->env->setUnattended();
  g->env->setDataDirectoryOverride(std::filesystem::path(data));
  g->ui.env = g->env.get();
  g->ui.canvas = &g->canvas;
}

// The words the editor colours: keywords (words only) and functions.
EMSCRIPTEN_KEEPALIVE const char *vm_words() {
  const language::LanguageTables &t = g->env->language().tables;
  return answer("{\"keywords\":" + json_lines(t.keywords) + ",\"functions\":" + json_lines(t.mathFuncs) + "}");
}

// Puts a page tab's text into environment tab `tab` (opening it).
EMSCRIPTEN_KEEPALIVE void vm_set_tab(int tab, const char *caption, const char *text) {
  if (tab < 0 || tab >= TabPool::kTabs) return;
  g->env->tabs.place(tab, text::from_utf8(caption), split_text(text));
}

// Closes a tab; its slot registration goes with it.
EMSCRIPTEN_KEEPALIVE void vm_close_tab(int tab) {
  if (!g->env->tabs.isOpen(tab)) return;
  g->env->tabs.setModified(tab, false);  // the page keeps the text; nothing to ask
  g->env->workspace.closeTab(tab);
}

// The diagnostics of a text (compile only: nothing is registered), cut into
// lines as a tab's text is, as velmora-run --check and the language server
// give them: line and column from 0, the column in UTF-16 code units.
EMSCRIPTEN_KEEPALIVE const char *vm_diagnostics(const char *program) {
  Environment &env = *g->env;
  std::string list;
  for (const velmora::compiler::Diagnostic &d : velmora::compiler::program_diagnostics(
           env.language(), split_text(program), env.compileDriver.diagnosticOptions()))
    list += std::string(list.empty() ? "" : ",") + diagnostic_json(d);
  return answer("{\"diagnostics\":[" + list + "]}");
}

// Frees every slot: "●" then compiles the open tabs anew, tab n into slot n.
EMSCRIPTEN_KEEPALIVE void vm_release_slots() {
  for (int slot = 0; slot < engine::kSlots; ++slot) g->env->compileDriver.releaseSlot(slot);
}

// "文法検査＆コード生成" for a tab: the slot filled (-1 on failure), the
// compile error's place and the plain explanations (line and column from 0).
// A tab compiled before has its code replaced without a question: the page
// asks nothing, the user asked for the compile.
EMSCRIPTEN_KEEPALIVE const char *vm_compile(int tab) {
  Environment &env = *g->env;
  env.tabs.activate(tab);
  int slot = -1;
  try {
    int own = -1;
    for (int s = 0; s < engine::kSlots && own < 0; ++s)
      if (env.engine().task(s).SrcIndex == tab && env.engine().task(s).state != engine::tsEMPTY) own = s;
    slot = own >= 0 ? env.compileDriver.Compile_Replace(own, engine::tsACTIVE) : env.compileDriver.compileToFreeSlot();
  } catch (const std::bad_alloc &) {
    // The module's memory ceiling: the worker is replaced by the page.
    return answer("{\"slot\":-1,\"error\":null,\"memory\":true,\"status\":[]}");
  }
  g->ui.flush(true);
  // The diagnostics as every face has them (compiler/diagnostics.h); the
  // older "explanations" (note: anything but an error) stay for the page.
  std::string diagnostics, explanations;
  for (const velmora::compiler::Diagnostic &d : env.compileDriver.diagnostics()) {
    const std::string place = "{\"line\":" + std::to_string(d.line) + ",\"column\":" + std::to_string(d.column);
    diagnostics += std::string(diagnostics.empty() ? "" : ",") + diagnostic_json(d);
    explanations += std::string(explanations.empty() ? "" : ",") + place +
                    ",\"note\":" + (d.severity != velmora::compiler::Severity::Error ? "true" : "false") +
                    ",\"text\":" + json_string(d.explanation) + "}";
  }
  return answer("{\"slot\":" + std::to_string(slot) + ",\"error\":" + mark_json(env.compileDriver.compileError()) +
                ",\"diagnostics\":[" + diagnostics + "],\"explanations\":[" + explanations +
                "],\"status\":" + g->ui.statusJson() + "}");
}

// "●": runs every loaded slot until all end, an error, or the stop button.
EMSCRIPTEN_KEEPALIVE const char *vm_run() {
  Environment &env = *g->env;
  g->canvas.runStarts();
  g->ui.stopped = false;
  g->ui.consoleDirty = true;
  g->ui.consoleReset = true;
  // The console of the last run is not sent again before this run resets it.
  g->ui.lastFlush = std::chrono::steady_clock::now();
  RunResult r;
  try {
    r = env.runToEnd(env.startRun(), [] { g->ui.betweenSlices(); });
  } catch (const std::bad_alloc &) {
    // The module's memory ceiling: the worker is replaced by the page, so
    // nothing of this environment is used again.
    return answer("{\"result\":\"memory\",\"runError\":null,\"status\":null}");
  }
  g->ui.consoleDirty = true;
  g->ui.flush(true);
  const char *name = r == RunResult::Ended        ? "ended"
                     : r == RunResult::Error      ? "error"
                     : r == RunResult::NotStarted ? "notStarted"
                                                  : "stopped";
  if (g->ui.stopped && r != RunResult::Error) name = "stopped";
  return answer("{\"result\":\"" + std::string(name) + "\",\"runError\":" + mark_json(env.runLoop.runError()) +
                ",\"status\":" + g->ui.statusJson() + "}");
}

// The task status list now.
EMSCRIPTEN_KEEPALIVE const char *vm_status() { return answer(g->ui.statusJson()); }

}  // extern "C"

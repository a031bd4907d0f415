// velmora-run: the headless face of Velmora. Compiles programs into task
// slots as the compile command does and runs them as the run command does,
// streaming the console to stdout.
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/check.h"
#include "cli/landlock.h"
#include "cli/large_pages.h"
#include "cli/lazy_canvas.h"
#include "cli/run_confinement.h"
#include "cli/stop_signals.h"
#include "compiler/explanations.h"
#include "engine/listing.h"
#include "environment/environment.h"
#include "text/beneath.h"
#include "text/lines.h"
#include "text/paths.h"

using namespace velmora;
using namespace velmora::environment;

namespace {

constexpr const char *kVersion = VELMORA_VERSION;
constexpr double kWatchdogGraceSeconds = 2;

const char *kHelp =
    "Usage: velmora-run [options] FILE...\n"
    "       velmora-run --check [--format text|json] [--home DIR] FILE...\n"
    "Compiles each FILE (.mcl) into the next task slot (FILE 1 into slot 0, ...) and,\n"
    "when every compile succeeded, runs all slots together until every task has\n"
    "ended, a run-time error stops them, or the timeout passes.\n"
    "\n"
    "stdout: the console, each line once it is complete (carriage returns removed).\n"
    "stderr: every message of the environment, and the error window after a\n"
    "        run-time error.\n"
    "\n"
    "Options:\n"
    "  --home DIR        the program's own directory (language tables, User_Setting.Txt,\n"
    "                    PROG, DATA); default: $VELMORA_HOME, else the executable's directory\n"
    "  --data DIR        the data directory of the run (default: from User_Setting.Txt,\n"
    "                    else DATA in the program's own directory)\n"
    "  --check           compile only: print every diagnostic of each FILE on stdout as\n"
    "                    FILE:LINE:COLUMN: error|warning|note: explanation and exit with\n"
    "                    0 (clean, or notes only), 1 (warnings only) or 2 (errors);\n"
    "                    nothing is registered or run, and any number of files is taken\n"
    "  --format json     with --check: one JSON document instead of the lines\n"
    "  --tokens          print each file's token stream and name lists, then exit\n"
    "  --tcode           print each file's T-code lines, then exit\n"
    "  --listing         print the P-code listing of each slot with the fast form\n"
    "                    each record will take, then exit\n"
    "  --final-console   print only the final console buffer, after the run\n"
    "  --common-errors   print the section \"よくあるエラー\" of the language guide\n"
    "                    (Markdown, made from the compiler's table of explanations)\n"
    "  --timeout SECONDS stop the run after this many seconds (exit status 124)\n"
    "  --allow KINDS     allow these kinds for this run, KINDS a comma-separated list of\n"
    "                    commands, libraries, files (writing outside the data directory),\n"
    "                    network, read (reading outside the data directory)\n"
    "  --deny KINDS      deny these kinds for this run\n"
    "  --sandbox         deny all five kinds (for programs you did not write)\n"
    "                    Without these the settings decide; a kind set to ask is denied\n"
    "                    here, since nobody can answer.\n"
    "  --no-input        GETS reads nothing and leaves its variable as it is\n"
    "  --verbose         list on stderr the protections in force for the run\n"
    "  --help, --version\n"
    "\n"
    "GETS reads one line of standard input (without its line end); at the end of\n"
    "input it gives an empty string. While it reads, the other tasks wait too.\n"
    "Questions take their defaults: replacing a slot's code is answered Yes.\n"
    "Ctrl-C stops the run as the stop button does (exit status 130), and so do\n"
    "SIGTERM (143) and SIGHUP (129): files are written out and closed, temporary\n"
    "files removed. A second signal ends the process at once. A run still busy\n"
    "two seconds after its timeout (an instruction that does not return) is\n"
    "ended with status 124.\n"
    "\n"
    "After the compiler's own messages, every diagnostic of a compile goes to stderr\n"
    "as FILE:LINE:COLUMN: error|warning|note: explanation in plain Japanese (line and\n"
    "column counted from 1, the column in UTF-16 code units of the line): the error\n"
    "that stopped it, and the likely mistakes of a program that compiles.\n"
    "\n"
    "Exit status (--check aside): 0 all tasks ended; 1 a run-time error stopped the run; 2 a compile\n"
    "failed (nothing runs); 3 bad usage or an unreadable file; 124 timeout; 130 Ctrl-C;\n"
    "143 SIGTERM; 129 SIGHUP.\n";

// Set once the run is over; static, so that the detached watchdog can still
// read it while main returns.
std::atomic<bool> g_finished{false};

// Ends the process when a run outlives its timeout by more than a grace
// period: the run loop could not stop it, so an instruction blocks.
void start_watchdog(double timeoutSeconds) {
  std::thread([timeoutSeconds] {
    const std::atomic<bool> &finished = g_finished;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds + kWatchdogGraceSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (finished) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (finished) return;
    cli::end_at_once(124, "timeout: an instruction did not return");
  }).detach();
}

std::string out_text(u16view text) {
  std::string s = text::to_utf8(text);
  std::string clean;
  clean.reserve(s.size());
  for (char c : s)
    if (c != '\r') clean += c;
  return clean;
}

// Prints modal messages to stderr and takes the documented defaults.
class HeadlessUi : public UserInterface {
 public:
  bool streaming = true;
  double timeoutSeconds = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  Environment *env = nullptr;
  bool timedOut = false, interrupted = false;

  void message(const u16 &text, const u16 &title) override {
    u16 t = text;
    for (char16_t &c : t)
      if (c == u'\r') c = u'\n';
    if (!title.empty()) std::fprintf(stderr, "[%s] ", text::to_utf8(title).c_str());
    std::fprintf(stderr, "%s\n", text::to_utf8(t).c_str());
  }
  bool askYesNo(const u16 &text, const u16 &title) override {
    message(text + u" -> Yes", title);
    return true;
  }
  Answer askYesNoCancel(const u16 &text, const u16 &title) override {
    message(text + u" -> No", title);
    return Answer::No;
  }
  // Between two slices of the run: Ctrl+C, SIGTERM, SIGHUP and the time
  // limit stop it.
  void betweenSlices() {
    if (!env || !env->runLoop.running()) return;
    if (cli::stop_signal() && !interrupted) {
      interrupted = true;
      env->runLoop.stopAll();
    }
    if (timeoutSeconds > 0 && !timedOut &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= timeoutSeconds) {
      timedOut = true;
      env->runLoop.stopAll();
    }
  }
  // Streams each console line once a later line exists; flushed by time.
  void consoleLineCompleted(u16view line) override {
    if (!streaming) return;
    std::printf("%s\n", out_text(line).c_str());
  }
  void consoleUpdated(const Lines &) override {
    if (streaming) std::fflush(stdout);
  }
  // After the run: the last (incomplete) line, or the whole final buffer.
  void finishConsole(const Lines &lines) {
    if (streaming) {
      if (!lines.empty()) std::printf("%s\n", out_text(lines.back()).c_str());
    } else {
      for (const u16 &line : lines) std::printf("%s\n", out_text(line).c_str());
    }
    std::fflush(stdout);
  }
  // GETS: one line of standard input. On a terminal the console's unfinished
  // line (the question) is shown on stderr first, so stdout stays the console.
  bool noInput = false;
  InputMode consoleInput(int, u16 &line) override {
    if (noInput) return InputMode::None;
    std::fflush(stdout);
    if (env && isatty(STDIN_FILENO)) {
      const Lines &lines = env->engine().console().lines();
      if (!lines.empty()) std::fprintf(stderr, "%s", out_text(lines.back()).c_str());
      std::fflush(stderr);
    }
    std::string text;
    if (!std::getline(std::cin, text)) {
      // A stop signal interrupts the read (no SA_RESTART): the run stops
      // now, as it does outside GETS, without waiting for a line.
      if (cli::stop_signal()) {
        std::cin.clear();
        clearerr(stdin);
        betweenSlices();
        return InputMode::None;
      }
      text.clear();
    }
    if (!text.empty() && text.back() == '\r') text.pop_back();
    line = text::from_utf8(text);
    return InputMode::Immediate;
  }
  // The run's thread enters or leaves a library call.
  void blockingCallStatus(const u16 &text) override { cli::foreign_call(!text.empty()); }
  void showRunError(const std::vector<std::pair<u16, u16>> &rows) override {
    for (const auto &[label, value] : rows)
      std::fprintf(stderr, "%s%s\n", text::to_utf8(label).c_str(), out_text(value).c_str());
  }
};

int usage_error(const std::string &message) {
  std::fprintf(stderr, "velmora-run: %s\nTry 'velmora-run --help'.\n", message.c_str());
  return 3;
}

}  // namespace

int main(int argc, char **argv) {
  cli::prefer_large_pages();
  std::string home, data;
  std::vector<std::string> files;
  bool tokens = false, tcode = false, listing = false, finalConsole = false, noInput = false, verbose = false;
  bool check = false, json = false;
  double timeout = 0;
  std::array<std::optional<engine::PermitMode>, engine::kPermissions> permits;
  // "commands,files" for --allow / --deny; false on an unknown kind.
  auto setPermits = [&permits](const char *list, engine::PermitMode mode) {
    std::string text = list;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find(',', start);
      if (end == std::string::npos) end = text.size();
      int k = engine::permission_of_word(text.substr(start, end - start));
      if (k < 0) return false;
      permits[std::size_t(k)] = mode;
      start = end + 1;
    }
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char *name) -> const char * {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("velmora-run %s\n", kVersion);
      return 0;
    } else if (arg == "--home") {
      const char *v = value("--home");
      if (!v) return usage_error("--home needs a directory");
      home = v;
    } else if (arg == "--data") {
      const char *v = value("--data");
      if (!v) return usage_error("--data needs a directory");
      data = v;
    } else if (arg == "--timeout") {
      const char *v = value("--timeout");
      char *end = nullptr;
      if (!v || (timeout = std::strtod(v, &end)) <= 0 || *end)
        return usage_error("--timeout needs a number of seconds");
    } else if (arg == "--allow" || arg == "--deny") {
      const char *v = value(arg.c_str());
      if (!v || !setPermits(v, arg == "--allow" ? engine::PermitMode::Allow : engine::PermitMode::Deny))
        return usage_error(arg + " needs kinds: commands, libraries, files, network, read");
    } else if (arg == "--sandbox") {
      permits.fill(engine::PermitMode::Deny);
    } else if (arg == "--check") {
      check = true;
    } else if (arg == "--format") {
      const char *v = value("--format");
      if (!v || (std::string(v) != "json" && std::string(v) != "text"))
        return usage_error("--format needs text or json");
      json = std::string(v) == "json";
    } else if (arg == "--tokens") {
      tokens = true;
    } else if (arg == "--tcode") {
      tcode = true;
    } else if (arg == "--listing") {
      listing = true;
    } else if (arg == "--common-errors") {
      std::fputs(text::to_utf8(compiler::common_errors_markdown(language::Language::builtin())).c_str(), stdout);
      return 0;
    } else if (arg == "--final-console") {
      finalConsole = true;
    } else if (arg == "--no-input") {
      noInput = true;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg.rfind("--", 0) == 0) {
      return usage_error("unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return usage_error("no program file given");
  if (json && !check) return usage_error("--format belongs to --check");
  if (!check && files.size() > std::size_t(TabPool::kTabs)) return usage_error("at most 10 programs");

  // The canvases (and Qt) are loaded when a program first uses one.
  cli::LazyCanvas canvases(cli::canvas_module_directories());

  HeadlessUi ui;
  ui.streaming = !finalConsole;
  ui.noInput = noInput;
  ui.timeoutSeconds = timeout;
  Environment env(text::resolve_home(home), ui);
  env.setCanvas(&canvases);
  ui.env = &env;
  env.setUnattended(permits);
  env.setRefusalHint(Environment::RefusalHint::CommandLine);
  if (!data.empty()) {
    std::error_code ec;
    env.setDataDirectoryOverride(std::filesystem::absolute(data, ec));
  }

  if (check) {
    // The language and settings of the program's own directory, as a run
    // has them; each file read as a tab reads it.
    std::vector<cli::CheckedFile> checked;
    for (const std::string &file : files) {
      std::optional<std::string> bytes = text::read_file_bytes(file);
      if (!bytes) {
        std::fprintf(stderr, "velmora-run: cannot read %s\n", file.c_str());
        return 3;
      }
      checked.push_back({file, compiler::program_diagnostics(env.language(), text::decode_bytes(*bytes).text,
                                                             env.compileDriver.diagnosticOptions())});
    }
    if (json) {
      std::printf("%s\n", cli::diagnostics_json(checked).c_str());
    } else {
      for (const cli::CheckedFile &f : checked)
        for (const compiler::Diagnostic &d : f.diagnostics)
          std::printf("%s\n", cli::diagnostic_line(f.file, d).c_str());
    }
    std::fflush(stdout);
    return cli::check_status(checked);
  }

  std::vector<int> tabsOfFiles;
  for (const std::string &file : files) {
    bool ok = false;
    int tab = env.tabs.loadFile(file, std::nullopt, ui, &ok);
    if (tab < 0 || !ok) return 3;
    tabsOfFiles.push_back(tab);
  }

  if (tokens) {
    for (int tab : tabsOfFiles) {
      compiler::TokenStream s = env.compileDriver.tokenize(tab, true);
      std::printf("# tokens of %s\n", text::to_utf8(env.tabs.tab(tab).caption).c_str());
      for (const u16 &t : s.tokens) std::printf("%s\n", text::to_utf8(t).c_str());
      std::printf("# user symbols\n");
      for (const u16 &n : s.userSymbols) std::printf("%s\n", text::to_utf8(n).c_str());
      std::printf("# shared names\n");
      for (const u16 &n : s.sharedNames) std::printf("%s\n", text::to_utf8(n).c_str());
      std::printf("# function names\n");
      for (const u16 &n : s.functionNames) std::printf("%s\n", text::to_utf8(n).c_str());
    }
    return 0;
  }

  std::vector<int> filledSlots;
  for (std::size_t f = 0; f < tabsOfFiles.size(); ++f) {
    const int tab = tabsOfFiles[f];
    env.tabs.activate(tab);
    int slot = env.compileDriver.compileActiveTab();
    // After the compiler's own texts, each diagnostic in the form editors and
    // terminals understand, as --check prints it.
    for (const compiler::Diagnostic &d : env.compileDriver.diagnostics())
      std::fprintf(stderr, "%s\n", cli::diagnostic_line(files[f], d).c_str());
    if (tcode) {
      for (const u16 &line : env.compileDriver.lastTcode()) std::printf("%s\n", text::to_utf8(line).c_str());
      if (slot < 0) return 2;
      continue;
    }
    if (slot < 0) return 2;
    filledSlots.push_back(slot);
  }
  if (tcode) return 0;
  if (listing) {
    // Each record with the fast forms it will take ("; compare, step
    // compare_jump"), labels without.
    for (int slot : filledSlots) {
      const Lines lines = env.slotListing(slot), forms = env.engine().formListing(slot);
      for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = text::to_utf8(lines[i]);
        if (i < forms.size() && !forms[i].empty()) line += "; " + text::to_utf8(forms[i]);
        std::printf("%s\n", line.c_str());
      }
    }
    return 0;
  }

  // A run that may not write (or read) outside the data directory opens its
  // files beneath it; where the kernel offers them, Landlock and a seccomp
  // filter hold the whole process (and its commands and libraries) to the
  // same, and commands run inside bubblewrap where it works.
  cli::RunProtections protections = cli::confine_run(env);
  for (const std::string &line : protections.missing)
    std::fprintf(stderr, "velmora-run: %s; the run goes on without it\n", line.c_str());
  if (verbose) {
    std::fprintf(stderr, "velmora-run: protections in force:%s\n", protections.inForce.empty() ? " none" : "");
    for (const std::string &line : protections.inForce) std::fprintf(stderr, "  %s\n", line.c_str());
  }

  // Ending at once (a second signal, the watchdog): the files written out
  // while the run's thread is parked in a library call, commands ended.
  cli::EndAtOnce end;
  end.flushFiles = [&env] { env.flushOpenFiles(); };
  if (protections.commands) end.endCommands = [&protections] { protections.commands->endAtOnce(); };
  cli::set_end_at_once(std::move(end));
  cli::install_stop_signals();
  if (timeout > 0) start_watchdog(timeout);
  RunResult result = RunResult::Error;
  try {
    result = env.runToEnd(env.startRun(), [&ui] { ui.betweenSlices(); });
    g_finished = true;
    cli::run_finished();
    ui.finishConsole(env.engine().console().lines());
  } catch (const std::bad_alloc &) {
    // Out of memory outside an instruction (the engine reports those
    // itself): the files are closed, nothing more is attempted.
    g_finished = true;
    cli::run_finished();
    static const char msg[] = "velmora-run: メモリ不足\n";
    (void)!write(2, msg, sizeof msg - 1);
    env.releaseEngineResources();
    std::fflush(nullptr);
    std::_Exit(1);
  }
  const int status = ui.interrupted ? 128 + cli::stop_signal() : ui.timedOut ? 124 : result == RunResult::Error ? 1 : 0;
#ifndef VELMORA_SANITIZED
  // The run's memory (every list, line and table) goes back with the
  // process: freeing it piece by piece is the last milliseconds of a
  // program that built large lists. What the engine holds outside memory
  // ends first; exit flushes the standard streams. Sanitized builds tear
  // down as usual, so that the destructors stay checked.
  env.releaseEngineResources();
  std::fflush(nullptr);
  std::exit(status);
#else
  return status;
#endif
}

// Programs run twice side by side: once in the reference mode (every record
// through its family handler, one record per task per pass) and once with
// the fast forms, in batches of many sizes. After every batch of the fast
// run the reference has run as many passes one at a time, and everything a
// program or the debugger can see must be the same, numbers bit for bit:
// the golden programs, the examples and programs from a seeded generator.
//
// VELMORA_RANDOM_PROGRAMS sets how many random programs run (default 300)
// and VELMORA_RANDOM_SEED their seed; scripts/fuzz.sh runs many more.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>

#include "engine/engine.h"
#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// A state's text: numbers as their ten bytes (so that -0 and 0 differ),
// written out in hex when it is to be read, raw when only compared.
struct StateText {
  bool readable;
  std::string out;
  void bits(long double v) {
    char b[10];
    std::memcpy(b, &v, sizeof b);
    if (!readable) {
      out.append(b, sizeof b);
      return;
    }
    static const char *hex = "0123456789abcdef";
    for (char c : b) {
      out += hex[(unsigned char)c >> 4];
      out += hex[c & 15];
    }
    out += ' ';
  }
  void text(u16view s) {
    out += '"';
    if (readable) out += text::to_utf8(s);
    else out.append(reinterpret_cast<const char *>(s.data()), s.size() * sizeof(char16_t));
    out += "\" ";
  }
  template <typename T>
  void number(T v) {
    out += std::to_string(v);
    out += ' ';
  }
  void word(const char *w) { out += w; }
};

// Everything of an engine a program or the debugger can see.
std::string state_of(const engine::Engine &e, bool readable = false) {
  StateText out{readable, {}};
  out.word("passes ");
  out.number(e.passCount());
  out.number(int(e.errorFlag()));
  out.text(e.errorMessage());
  for (const engine::ExecutionPoint &p : {e.lastPoint(), e.watchedPoint()}) {
    out.word("\npoint ");
    for (int v : {p.task, p.code, p.list, p.position}) out.number(v);
  }
  for (int s = 0; s < engine::kSlots; ++s) {
    const engine::TTaskInfo &t = e.task(s);
    if (t.state == engine::tsEMPTY) continue;
    out.word("\ntask ");
    for (long v :
         {long(s), long(t.state), long(t.INSTP), long(t.FLAG), long(t.STACKP), long(t.CalcIndex), long(t.WAIT),
          long(t.IntRequest), long(t.IntProcess), long(t.ParamCount), long(t.ParamStored), long(t.fParamStore)})
      out.number(v);
    out.word("\n  registers ");
    for (long double v : {t.WORK, t.VECTOR.X, t.VECTOR.Y, t.VECTOR.Z, t.OPE1, t.OPE2, t.OPE3}) out.bits(v);
    for (long double v : t.ParamVal) out.bits(v);
    out.word("\n  strings ");
    for (u16view v : {u16view(t.STR_OPE), u16view(t.STR_WORK.view()), u16view(t.STR_REM.view()), u16view(t.SORT_LIST),
                      u16view(t.LIST_TASK), u16view(t.LIST_INC), u16view(t.LIST_NOCASE), u16view(t.MAT_OPE)})
      out.text(v);
    const engine::LineList rest = t.LIST_REM.lines();
    for (const engine::LineList *l : {&t.LIST_WORK, &rest}) {
      out.word("\n  list ");
      out.number(l->size());
      for (std::size_t i = 0; i < l->size(); ++i) out.text((*l)[i]);
    }
    out.word("\n  call ");
    for (int32_t v : e.callStack(s)) out.number(v);
    out.word("\n  calc ");
    for (long double v : e.calcStack(s)) out.bits(v);
    out.word("\n  matrix ");
    for (const auto &row : t.Mat.rows())
      for (long double v : row) out.bits(v);
  }
  const engine::VariableTable &vars = e.variables();
  for (int i = 0; i < vars.size(); ++i) {
    const engine::TVarInfo &v = vars[i];
    if (v.name.empty()) continue;
    out.word("\nvar ");
    out.number(i);
    out.text(v.name);
    out.bits(v.Val1.value);
    // The integer form beside the number must be the number.
    out.number(int(v.Val1.isWhole));
    if (v.Val1.isWhole) out.number(int(static_cast<long double>(v.Val1.whole) == v.Val1.value));
    out.bits(v.Val2);
    out.bits(v.Val3);
    out.text(v.StrVal.view());
    out.word("list ");
    out.number(v.StrList.size());
    for (std::size_t k = 0; k < v.StrList.size(); ++k) out.text(v.StrList[k]);
    out.word("matrix ");
    out.number(v.MatRow);
    out.number(v.MatCol);
    for (int r = 0; r < v.MatRow; ++r)
      for (int c = 0; c < v.MatCol; ++c) out.bits(v.matAt(r, c));
  }
  for (int i = 0; i < engine::kTimers; ++i) {
    const engine::TTimerInfo &timer = e.timer(i);
    out.word("\ntimer ");
    for (long v : {long(i), long(timer.state), long(timer.fireCount), long(timer.interval)}) out.number(v);
  }
  out.word("\nconsole");
  for (const u16 &line : e.console().lines()) {
    out.word("\n");
    out.text(line);
  }
  return std::move(out.out);
}

// The first line where two states differ, with its neighbours.
std::string first_difference(const std::string &a, const std::string &b) {
  std::istringstream sa(a), sb(b);
  std::string la, lb;
  for (int line = 1;; ++line) {
    const bool ha = bool(std::getline(sa, la)), hb = bool(std::getline(sb, lb));
    if (!ha && !hb) return "no difference";
    if (la != lb || ha != hb)
      return "line " + std::to_string(line) + ":\n  reference: " + la.substr(0, 400) +
             "\n  fast:      " + lb.substr(0, 400);
  }
}

struct Compiled {
  Lines tcode, taskVars, sharedVars;
};

// Compiles each source into a slot of its own, in order, with an
// environment whose home directory is `home`; empty when a compile fails.
std::vector<Compiled> compile(const std::vector<Lines> &sources, const fs::path &home) {
  ScriptedUi ui;
  environment::Environment env(home, ui);
  std::vector<Compiled> out;
  for (const Lines &source : sources) {
    const int tab = env.tabs.loadLines(source, ui);
    if (tab < 0) return {};
    env.tabs.activate(tab);
    if (env.compileDriver.compileActiveTab() < 0) return {};
    out.push_back({env.compileDriver.lastTcode(), env.compileDriver.lastTokens().userSymbols,
                   env.compileDriver.lastTokens().sharedNames});
  }
  return out;
}

// How the fast run's passes are cut into batches.
struct Schedule {
  const char *name;
  std::function<long(std::mt19937_64 &, long passes)> next;
};
const std::vector<Schedule> &schedules() {
  static const std::vector<Schedule> all = {
      {"cycling 1 to 7, later 997",
       [](std::mt19937_64 &, long passes) {
         static thread_local long k = 0;
         return passes < 2000 ? k = k % 7 + 1 : 997L;
       }},
      {"random 1 to 300", [](std::mt19937_64 &rng, long) { return long(1 + rng() % 300); }},
      {"two, three, then a prime",
       [](std::mt19937_64 &rng, long) { return long(rng() % 3 == 0 ? 97 : 2 + rng() % 2); }},
      {"whole batches", [](std::mt19937_64 &, long) { return 100000L; }},
  };
  return all;
}

// Two engines with the same programs, the same settings and a clock that
// stands still (so that waits and timers do the same in both), each with
// data files of its own.
class SideBySide {
 public:
  SideBySide(const std::vector<Compiled> &programs, const fs::path &dataFiles) {
    for (auto *e : {&reference, &fast}) {
      const fs::path home = (e == &reference ? homeA : homeB).path();
      fs::create_directories(home / "DATA");
      fs::create_directories(home / "PROG");
      std::error_code ec;
      if (!dataFiles.empty() && fs::is_directory(dataFiles))
        fs::copy(dataFiles, home / "DATA", fs::copy_options::recursive, ec);
      e->setFastForms(e == &fast);
      e->setClock([] { return 1000.0; });
      engine::RunSettings settings;
      settings.dataDirectory = home / "DATA";
      settings.homeDirectory = home;
      settings.programDirectory = home / "PROG";
      e->configure(settings);
      for (const Compiled &p : programs) {
        Lines messages;
        const int slot = e->registerProgram(p.tcode, p.taskVars, p.sharedVars, messages, engine::tsACTIVE, u"p", 0);
        if (slot >= 0) e->setPermit(slot, true);
        loaded = loaded && slot >= 0;
      }
      e->runReset();
      loaded = loaded && !e->linkAll();
      e->start();
    }
  }

  // Runs the fast engine in batches of the schedule and the reference one
  // pass at a time as far, comparing after every batch; at most `cap`
  // passes.
  ::testing::AssertionResult run(const Schedule &schedule, std::mt19937_64 &rng, long cap) {
    if (!loaded) return ::testing::AssertionFailure() << "the programs did not load";
    long passes = 0;
    while (passes < cap && fast.running() && fast.anyRunnable() && !allWaiting()) {
      const long asked = std::min(schedule.next(rng, passes), cap - passes);
      const long done = fast.runPasses(asked);
      if (done <= 0) break;
      // A batch never runs more passes than it was given, however its
      // forms cut it.
      if (done > asked)
        return ::testing::AssertionFailure() << "a batch of " << asked << " passes ran " << done << " after " << passes
                                             << " passes (" << schedule.name << ")";
      for (long i = 0; i < done; ++i) reference.runPasses(1);
      passes += done;
      if (state_of(reference) != state_of(fast))
        return ::testing::AssertionFailure()
               << "after " << passes << " passes (" << schedule.name
               << "): " << first_difference(state_of(reference, true), state_of(fast, true));
    }
    if (reference.running() != fast.running() || reference.anyRunnable() != fast.anyRunnable())
      return ::testing::AssertionFailure() << "the runs ended differently after " << passes << " passes";
    lastPasses = passes;
    return ::testing::AssertionSuccess();
  }

  TempDir homeA, homeB;  // first: the engines end before their files go
  long lastPasses = 0;
  engine::Engine reference, fast;

 private:
  bool loaded = true;
  // Every active task waits: with the clock standing still, none ever
  // runs again.
  bool allWaiting() const {
    bool any = false;
    for (int s = 0; s < engine::kSlots; ++s) {
      const engine::TTaskInfo &t = fast.task(s);
      if (t.state != engine::tsACTIVE || !t.Permit) continue;
      if (!t.WAIT) return false;
      any = true;
    }
    return any;
  }
};

void add_hits(const engine::Engine &e, engine::FormHits &hits) {
  for (std::size_t f = 0; f < engine::kFormCount; ++f) hits[f] += e.formHits()[f];
}

long fast_form_hits(const engine::FormHits &hits) {
  long n = 0;
  for (std::size_t f = 0; f < engine::kFormCount; ++f)
    if (engine::Form(f) != engine::Form::Family && engine::Form(f) != engine::Form::Label) n += long(hits[f]);
  return n;
}

// Runs a group of programs (one per slot) under every schedule; the fast
// forms must have been taken somewhere. Returns the passes of the longest run.
long expect_alike(const std::string &what, const std::vector<Lines> &sources, const fs::path &home,
                  const fs::path &dataFiles, long cap, engine::FormHits &hits) {
  const std::vector<Compiled> programs = compile(sources, home);
  if (programs.empty()) return -1;  // a compile error: nothing runs
  std::mt19937_64 rng(7);
  long longest = 0;
  for (const Schedule &schedule : schedules()) {
    SideBySide runs(programs, dataFiles);
    EXPECT_TRUE(runs.run(schedule, rng, cap)) << what;
    longest = std::max(longest, runs.lastPasses);
    add_hits(runs.fast, hits);
  }
  return longest;
}

std::optional<Lines> read_program(const fs::path &path) {
  auto file = text::read_text_file(path);
  if (!file) return std::nullopt;
  return file->lines;
}

// The golden programs or examples of a directory, with NAME.2.mcl ... as
// further slots; programs that read standard input or reach the network
// are left out (their runs depend on what arrives when).
void expect_directory_alike(const fs::path &dir, const fs::path &dataFiles, int &compared) {
  std::vector<fs::path> mains;
  for (const auto &entry : fs::directory_iterator(dir)) {
    const fs::path p = entry.path();
    if (p.extension() == ".mcl" && p.stem().extension().empty()) mains.push_back(p);
  }
  std::sort(mains.begin(), mains.end());
  engine::FormHits hits{};
  for (const fs::path &main : mains) {
    const std::string name = main.stem().string();
    const fs::path expected = fs::path(VELMORA_SOURCE_DIR) / "tests" / "examples" / (name + ".in");
    if (fs::exists(dir / (name + ".in")) || fs::exists(expected)) continue;
    std::vector<Lines> sources;
    sources.push_back(*read_program(main));
    for (int n = 2; n <= 10; ++n)
      if (auto more = read_program(dir / (name + "." + std::to_string(n) + ".mcl"))) sources.push_back(*more);
    // Processes the program starts finish when they finish: what it sees of
    // them differs from run to run.
    bool startsProcesses = false;
    for (const Lines &source : sources)
      for (const u16 &line : source)
        startsProcesses = startsProcesses || line.find(u"COMMAND") != u16::npos || line.find(u"EXEC") != u16::npos;
    if (startsProcesses) continue;
    TempDir home;
    // A program's own tables (NAME.T-Keyword.txt ...) go into the home.
    for (const auto &entry : fs::directory_iterator(dir)) {
      const std::string file = entry.path().filename().string();
      if (file.rfind(name + ".T-", 0) == 0) fs::copy_file(entry.path(), home.path() / file.substr(name.size() + 1));
    }
    if (expect_alike(name, sources, home.path(), dataFiles, 20000, hits) >= 0) ++compared;
  }
  EXPECT_GT(fast_form_hits(hits), 1000) << "the fast runs took no fast forms";
}

// ----- random programs

// A group of one to three programs (the tasks share G) of counting loops
// up and down (FOR, WHILE, NOT, every relation, bounds about 2^53 and
// 2^63 either side of zero), nested loops, IF/ELSE, AND/OR, BREAK,
// compound assignments, expressions through the calculation stack, MOD,
// -0, overflow and division by zero, calls, strings and lists: every one
// ends (or stops at its error) within a few thousand passes.
class RandomPrograms {
 public:
  explicit RandomPrograms(std::uint64_t seed) : rng_(seed) {}

  std::vector<Lines> group() {
    const int tasks = pick(5) == 0 ? 3 : pick(3) == 0 ? 2 : 1;
    std::vector<Lines> out;
    for (int k = 0; k < tasks; ++k) out.push_back(program(tasks > 1));
    return out;
  }

 private:
  std::mt19937_64 rng_;
  Lines lines_;
  bool shared_ = false;
  int depth_ = 0;
  bool function_ = false;
  bool each_ = false;  // inside EACH: the list keeps its length

  std::size_t pick(std::size_t n) { return std::size_t(rng_() % n); }
  std::string constant() {
    static const char *const kConstants[] = {"0",
                                             "1",
                                             "2",
                                             "3",
                                             "7",
                                             "10",
                                             "0.5",
                                             "2.5",
                                             "3037000500",
                                             "4611686018427387904",
                                             "9007199254740991",
                                             "9007199254740993",
                                             "9223372036854775806",
                                             "9223372036854775807",
                                             "9223372036854775808",
                                             "18446744073709551616",
                                             "1000000000000"};
    return kConstants[pick(std::size(kConstants))];
  }
  std::string target() {
    static const char *const kTargets[] = {"A", "B", "C", "D", "S"};
    if (shared_ && pick(4) == 0) return "G";
    return kTargets[pick(std::size(kTargets))];
  }
  std::string operand() {
    static const char *const kNames[] = {"A", "B", "C", "D", "S", "I", "J", "Z"};
    if (pick(3) == 0) return constant();
    if (shared_ && pick(6) == 0) return "G";
    return kNames[pick(std::size(kNames))];
  }
  std::string op() { return std::string(1, "+-*/"[pick(4)]); }
  std::string relation() {
    static const char *const kRelations[] = {">", ">=", "=", "<", "<=", "<>"};
    return kRelations[pick(6)];
  }
  std::string condition() {
    std::string c = (pick(4) == 0 ? "NOT " : "") + operand() + " " + relation() + " " + operand();
    if (pick(5) == 0) c += std::string(pick(2) ? " AND " : " OR ") + operand() + " " + relation() + " " + operand();
    return c;
  }
  void line(const std::string &text) { lines_.push_back(text::from_utf8(text)); }

  void statement(bool inLoop) {
    switch (pick(inLoop && depth_ < 2 ? 14 : 12)) {
      case 0: line(target() + " = " + operand() + " " + op() + " " + operand() + ";"); break;
      case 1:
        line(target() + " = " + operand() + " " + op() + " " + operand() + " " + op() + " " + operand() + ";");
        break;
      case 2:
        line(target() + " = (" + operand() + " " + op() + " " + operand() + ") " + op() + " (" + operand() + " " +
             op() + " " + operand() + ");");
        break;
      case 3: line(target() + " " + op() + "= " + operand() + ";"); break;
      case 4: line(target() + " = MOD(" + operand() + ", " + operand() + ");"); break;
      case 5: line(target() + " = " + operand() + ";"); break;
      case 6: line(target() + " = " + operand() + " * -1;"); break;  // -0 from 0
      case 7:
        line("IF " + condition() + " THEN");
        statement(inLoop);
        if (pick(2)) {
          line("ELSE");
          statement(inLoop);
        }
        line("END");
        break;
      case 8:
        if (function_) line("CALL F;");
        else line(target() + " += 1;");
        break;
      case 9:
        if (pick(3) == 0) line("??" + operand() + "; ??\" \";");
        else lines();
        break;
      case 10:
        if (inLoop && pick(3) == 0) line("IF " + condition() + " THEN BREAK; END");
        else line(target() + " = " + operand() + " " + op() + " " + operand() + ";");
        break;
      case 11: line(target() + " = " + operand() + " / Z;"); break;  // Z may be 0
      default: loop(); break;
    }
  }

  // A statement on the lines of &L: built, appended, read into &Z by an
  // index (any operand: fractional, negative, beyond the end, the loop's
  // counter), stored by one, tested by one, counted.
  void lines() {
    static const char *const kTexts[] = {"\"\"", "\"x\"", "\"a line longer than a value holds\"", "&Z"};
    switch (each_ ? 2 + pick(4) : pick(6)) {  // no line appended while EACH goes over them
      case 0: line("&T = \"n\" + INTSTR(" + operand() + "); &L[] += &T;"); break;
      case 1: line(std::string("&L[] += ") + kTexts[pick(std::size(kTexts))] + ";"); break;
      case 2: line("&Z = &L[" + operand() + "];"); break;
      case 3: line("&L[" + operand() + "] = " + kTexts[pick(std::size(kTexts))] + ";"); break;
      case 4: line("IF &L[" + operand() + "] THEN " + target() + " += 1; END"); break;
      default: line(target() + " = &L[].SIZE;"); break;
    }
  }

  // A loop of at most about twenty rounds over I (or J inside it).
  void loop() {
    const std::string counter = depth_ == 0 ? "I" : "J";
    ++depth_;
    // Bounds: small, about 2^53 or about 2^63, either side of zero.
    static const char *const kBases[] = {"0", "1", "9007199254740990", "9223372036854775800", "4611686018427387900"};
    const std::string base = kBases[pick(std::size(kBases))];
    const bool negative = pick(3) == 0;
    const std::string lo = "L" + counter, hi = "H" + counter;
    line(lo + " = " + (negative ? "0 - " : "") + base + ";");
    if (negative && base == "9223372036854775800") line(lo + " = " + lo + " - 8;");  // -2^63
    line(hi + " = " + lo + " + " + std::to_string(pick(8)) + ";");
    if (base == "9223372036854775800" && !negative) line(hi + " = 9223372036854775807;");
    const int body = 1 + int(pick(3));
    switch (pick(3)) {
      case 0:
        line("FOR " + counter + " = " + lo + " TO " + hi + " DO");
        for (int k = 0; k < body; ++k) statement(true);
        line("END");
        break;
      case 1:  // up, ending by NOT or by the relation's sense
        line(counter + " = " + lo + ";");
        line(pick(2) ? "WHILE " + counter + " <= " + hi + " DO" : "WHILE NOT " + counter + " > " + hi + " DO");
        for (int k = 0; k < body; ++k) statement(true);
        line(pick(2) ? counter + " += 1;" : counter + " = " + counter + " + 1;");
        line("END");
        break;
      default:  // down
        line(counter + " = " + hi + ";");
        line(pick(2) ? "WHILE " + counter + " >= " + lo + " DO"
                     : "WHILE " + lo + " < " + counter + " OR " + lo + " = " + counter + " DO");
        for (int k = 0; k < body; ++k) statement(true);
        line(pick(2) ? counter + " -= 1;" : counter + " = " + counter + " - 1;");
        line("END");
        break;
    }
    --depth_;
  }

  // EACH over the lines of &L: its body reads, stores and tests them.
  void each() {
    const bool outer = each_;
    each_ = true;
    line("EACH &L[K] DO");
    for (int k = 1 + int(pick(2)); k > 0; --k) {
      if (pick(2)) lines();
      else line(target() + " = " + operand() + " " + op() + " " + operand() + ";");
    }
    line("END");
    each_ = outer;
  }

  Lines program(bool shared) {
    lines_.clear();
    shared_ = shared;
    depth_ = 0;
    function_ = pick(3) == 0;
    if (shared) line("SHARE G;");
    for (const char *v : {"A", "B", "C", "D", "S", "Z"}) line(std::string(v) + " = " + constant() + ";");
    if (pick(4) == 0) line("Z = 0;");
    if (function_) {
      line("FUNCTION F;");
      statement(false);
      line("ENDFUNC");
    }
    const int statements = 1 + int(pick(4));
    for (int k = 0; k < statements; ++k) {
      if (pick(3) == 0) statement(false);
      else if (pick(5) == 0) each();
      else loop();
    }
    line("??S;");
    return lines_;
  }
};

long environment_number(const char *name, long otherwise) {
  const char *v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : otherwise;
}

}  // namespace

// The generator's programs run alike in both modes; the fast run takes
// steps and whole rounds on the way.
TEST(ReferenceMode, RandomProgramsRunAlikeWithAndWithoutFastForms) {
  const long count = environment_number("VELMORA_RANDOM_PROGRAMS", 300);
  const auto seed = std::uint64_t(environment_number("VELMORA_RANDOM_SEED", 2024));
  RandomPrograms generator(seed);
  engine::FormHits hits{};
  long compiled = 0;
  for (long n = 0; n < count; ++n) {
    const std::vector<Lines> group = generator.group();
    std::string listing;
    for (const Lines &program : group) {
      for (const u16 &l : program) listing += text::to_utf8(l) + "\n";
      listing += "----\n";
    }
    TempDir home;
    const long passes =
        expect_alike("random program " + std::to_string(n) + " of seed " + std::to_string(seed) + ":\n" + listing,
                     group, home.path(), {}, 20000, hits);
    if (passes >= 0) ++compiled;
    if (::testing::Test::HasFailure()) break;  // the first difference is enough
  }
  EXPECT_GT(compiled, count * 9 / 10) << "the generator writes programs that do not compile";
  // The loops took their forms: steps, rounds from the head, whole rounds
  // and the loop step, and string statements their text steps.
  using engine::Form;
  for (Form f : {Form::CompareJump, Form::CalcStore, Form::LoadCompound, Form::ModStore, Form::LoopRounds,
                 Form::LoopStep, Form::WholeRounds, Form::TextStep, Form::LineRead, Form::LinePut, Form::LineState,
                 Form::ListSize, Form::LineRounds})
    EXPECT_GT(hits[std::size_t(f)], 0u) << engine::form_info(f).name;
}

TEST(ReferenceMode, GoldenProgramsRunAlikeWithAndWithoutFastForms) {
  int compared = 0;
  expect_directory_alike(fs::path(VELMORA_SOURCE_DIR) / "tests" / "programs", {}, compared);
  EXPECT_GT(compared, 30);
}

TEST(ReferenceMode, ExamplesRunAlikeWithAndWithoutFastForms) {
  int compared = 0;
  expect_directory_alike(fs::path(VELMORA_SOURCE_DIR) / "examples", fs::path(VELMORA_SOURCE_DIR) / "examples" / "data",
                         compared);
  EXPECT_GT(compared, 8);
}

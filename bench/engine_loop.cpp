// Records per second of the scheduler on the counting loop that
// FOR I = 1 TO N DO S = S + I; END compiles to, with one task and with ten.
//
//   build/bench/bench-engine [N]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/engine.h"

using namespace velmora;
using namespace velmora::engine;

namespace {

Lines counting_loop(long n) {
  const char16_t *body[] = {u"005 Δ 1",     u"022 ∇ I =",     u"L_1 FOR",   u"000 ∇ I <= ∇ N",
                            u"098 xFJMP 2", u"003 + ∇ S ∇ I", u"022 ∇ S =", u"003 + ∇ I Δ 1",
                            u"022 ∇ I =",   u"099 xJMP 1",    u"L_2 FOR"};
  Lines lines;
  lines.push_back(u"00001 005 Δ " + text::int16(n));
  lines.push_back(u"00001 022 ∇ N =");
  for (const char16_t *text : body) lines.push_back(u"00002 " + u16(text));
  return lines;
}

double run(int tasks, long n, long long &records) {
  Engine e;
  Lines messages;
  for (int i = 0; i < tasks; ++i) {
    int slot = e.registerProgram(counting_loop(n), {u"I", u"N", u"S"}, {}, messages, tsACTIVE, u"bench", i);
    e.setPermit(slot, true);
  }
  e.runReset();
  e.linkAll();
  e.start();
  auto start = std::chrono::steady_clock::now();
  long long passes = 0;
  while (e.running() && e.anyRunnable()) passes += e.runPasses(1 << 20);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Each pass gives every task one record; the last pass only ends them.
  records = (passes - 1) * tasks;
  long double s = e.variables()[e.variables().find(0, u"S")].Val1;
  if (s != (long double)n * (n + 1) / 2) std::fprintf(stderr, "wrong sum %Lg\n", s);
  return seconds;
}

}  // namespace

int main(int argc, char **argv) {
  long n = argc > 1 ? std::atol(argv[1]) : 10000000;
  for (int tasks : {1, 10}) {
    long long records = 0;
    double seconds = run(tasks, tasks == 1 ? n : n / 10, records);
    std::printf("%2d task(s): %lld records in %.3f s = %.1f million records/s\n", tasks, records, seconds,
                double(records) / seconds / 1e6);
  }
  return 0;
}

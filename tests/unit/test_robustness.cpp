// Random programs and random T-code must never crash, hang or read outside a
// table: compiled and run with bounded passes (the sanitizer build in CI runs
// this too).
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "compiler/statement_compiler.h"
#include "engine/engine.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::compiler;

namespace {

struct QuietHost : CompileHost {
  void message(const u16 &) override {}
};

void run_bounded(engine::Engine &e, int slot, long maxPasses) {
  e.setPermit(slot, true);
  e.runReset();
  if (e.linkAll()) return;
  e.start();
  long passes = 0;
  while (e.running() && e.anyRunnable() && passes < maxPasses) passes += std::max(1L, e.runPasses(500));
}

}  // namespace

TEST(Robustness, RandomProgramsCompileAndRunWithoutHarm) {
  language::Language lang = language::Language::builtin();
  std::mt19937 rng(20261208);
  Lines pieces = lang.tables.keywords;
  for (const char16_t *s : {u"X",
                            u"&S",
                            u"%M",
                            u"$V",
                            u"1",
                            u"2.5",
                            u"\"a b\"",
                            u"Y1",
                            u";",
                            u"合計",
                            u"(",
                            u")",
                            u"SIN",
                            u"FUNCTION F;",
                            u"ENDFUNC",
                            u"CALL F;",
                            u"END",
                            u"IF X > 1 THEN",
                            u"FOR I = 1 TO 3 DO",
                            u"WHILE X < 2 DO",
                            u"EACH &L[K] DO",
                            u"ELSE",
                            u"BREAK;"})
    pieces.push_back(s);
  for (int it = 0; it < 400; ++it) {
    Lines lines(1);
    int n = std::uniform_int_distribution<int>(1, 40)(rng);
    for (int i = 0; i < n; ++i) {
      lines.back() += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
      if (rng() % 3 == 0) lines.back() += u" ";
      if (rng() % 8 == 0) lines.emplace_back();
    }
    Tokenizer tokenizer(lang);
    TokenStream s = tokenizer.Make_Token_From_Text(lines, TokenizeOptions{}, {});
    QuietHost host;
    StatementCompiler c(lang, host);
    auto start = std::chrono::steady_clock::now();
    bool ok = c.compile(s.tokens);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << text::to_utf8(lines[0]);
    if (!ok) continue;
    engine::Engine e;
    Lines messages;
    int slot = e.registerProgram(c.tcode(), s.userSymbols, s.sharedNames, messages, engine::tsACTIVE, u"r", 0);
    if (slot >= 0) run_bounded(e, slot, 5000);
  }
}

TEST(Robustness, RandomTcodeRunsWithoutHarm) {
  velmora::testing::TempDir dir;
  std::mt19937 rng(8122026);
  const Lines operands = {u"∇ X", u"Δ 3", u"xN 2", u"Ω \"s\"", u"Σ &S", u"□ %M",    u"xVECTVAR $V", u"xPOP xDMY",
                          u"NOT", u"+",   u"/",    u"<",       u"=",    u"xPR -30", u"xPR 40",      u"L_5",
                          u"5",   u"-1",  u"1000", u"[",       u"]",    u"(",       u")",           u","};
  const int codes[] = {0,   3,   5,   15,  20,  21,  22,  23,  33,  34,  43,  80,  82,  83,  96,  97,  98,  99,  100,
                       101, 102, 120, 121, 122, 125, 126, 128, 130, 300, 301, 310, 311, 312, 313, 316, 318, 320, 321,
                       322, 323, 330, 334, 335, 340, 341, 342, 405, 406, 700, 702, 703, 751, 752, 759, 763, 902};
  for (int it = 0; it < 400; ++it) {
    Lines tcode;
    int n = std::uniform_int_distribution<int>(1, 30)(rng);
    for (int i = 0; i < n; ++i) {
      u16 line = u"00001 ";
      int kind = int(rng() % 10);
      if (kind == 0) {
        line += u"L_" + text::int16(long(rng() % 8));
      } else if (kind == 1) {
        line += u"F_F";
      } else {
        line += text::int16(codes[rng() % (sizeof codes / sizeof *codes)]);
        for (int k = int(rng() % 8); k > 0; --k) line += u" " + operands[rng() % operands.size()];
      }
      tcode.push_back(line);
    }
    engine::Engine e;
    engine::RunSettings run;
    run.dataDirectory = dir.path();
    e.configure(run);
    Lines messages;
    int slot = e.registerProgram(tcode, {u"X", u"&S", u"%M", u"$V", u"&L"}, {}, messages, engine::tsACTIVE, u"r", 0);
    if (slot >= 0) run_bounded(e, slot, 3000);
  }
}

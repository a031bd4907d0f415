// The hot form of records and the passes of a lone task: the same results,
// errors, execution points and pass counts as record-by-record execution.
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>

#include "engine/fast/arith.h"
#include "engine/numeric.h"
#include "engine/tests/machine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

class Dispatch : public velmora::testing::MachineTest {
 protected:
  const HotRecord &hotAt(int slot, int position) {
    return e.hot[std::size_t(e.tasks[std::size_t(slot)].PcodeListNo)][std::size_t(position)];
  }
  // Runs each program one pass at a time, then in batches of k passes for
  // every k, and expects the same state after k passes either way. Each
  // program must have at least `minPairs` records that run paired, and end
  // within 500 passes unless `endless` (then its first 200 are compared).
  void expectEveryBatchAsSinglePasses(const std::vector<Lines> &programs, std::size_t minPairs, bool endless = false);
  // Since `before`, every record that ran took its family handler: the
  // reference mode has no fast form to take.
  void expectOnlyFamilyHandlers(const FormHits &before) {
    for (std::size_t f = 0; f < kFormCount; ++f)
      if (Form(f) != Form::Family) {
        EXPECT_EQ(e.formHits[f], before[f]) << kForms[f].name;
      }
    EXPECT_GT(e.formHits[std::size_t(Form::Family)], before[std::size_t(Form::Family)]);
  }
  // Loads a program into slot 0 afresh, ready to run: the same start for
  // every run of it (a stack slot above the top and the rest register would
  // otherwise keep what the last run left).
  void startAfresh(const Lines &program, const Lines &names) {
    e.releaseAllSlots();
    for (int s = 0; s < kSlots; ++s) e.vars.releaseSlot(s);
    e.console.clear();
    e.passCount = 0;
    e.calcStack[0].fill(0);
    e.tasks[0].STR_REM.clear();
    load(program, names);
    e.runReset();
    ASSERT_FALSE(e.linkAll());
    e.running = true;
  }
};

// Everything a pass can change that a program or the debugger can see.
struct Seen {
  long double work;
  bool flag;
  int instp, state, lastPosition, lastCode, stackp, calcIndex;
  long double calcTop;
  long passCount;
  std::vector<long double> vars;
  u16 console;
  // Numbers bit for bit: a -0 left where single records leave 0 (or the
  // other way round) is a difference.
  bool operator==(const Seen &o) const {
    auto same = [](long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; };
    return same(work, o.work) && flag == o.flag && instp == o.instp && state == o.state &&
           lastPosition == o.lastPosition && lastCode == o.lastCode && stackp == o.stackp && calcIndex == o.calcIndex &&
           same(calcTop, o.calcTop) && passCount == o.passCount &&
           std::equal(vars.begin(), vars.end(), o.vars.begin(), o.vars.end(), same) && console == o.console;
  }
};

void Dispatch::expectEveryBatchAsSinglePasses(const std::vector<Lines> &programs, std::size_t minPairs, bool endless) {
  const std::size_t cap = endless ? 200 : 500;
  const Lines names = {u"I", u"M", u"S", u"Z"};
  for (std::size_t p = 0; p < programs.size(); ++p) {
    auto see = [&] {
      Seen s{e.tasks[0].WORK,
             e.tasks[0].FLAG,
             e.tasks[0].INSTP,
             int(e.tasks[0].state),
             e.last.position,
             e.last.code,
             e.tasks[0].STACKP,
             e.tasks[0].CalcIndex,
             e.tasks[0].CalcIndex >= 0 ? e.calcStack[0][std::size_t(e.tasks[0].CalcIndex)] : 0.0L,
             e.passCount,
             {},
             {}};
      for (const u16 &n : names) s.vars.push_back(e.vars[e.vars.find(0, n)].Val1);
      for (const u16 &line : e.console.lines()) s.console += line + u"\n";
      return s;
    };
    auto start = [&] { startAfresh(programs[p], names); };
    // The reference: one pass at a time, every record through its family
    // handler.
    e.setFastForms(false);
    start();
    std::vector<Seen> single;
    const FormHits before = e.formHits;
    while (e.running && e.anyRunnable() && single.size() < cap) {
      e.runPasses(1);
      single.push_back(see());
    }
    expectOnlyFamilyHandlers(before);
    e.setFastForms(true);
    if (!endless) {
      ASSERT_LT(single.size(), cap) << "program " << p;
    }
    ASSERT_FALSE(single.empty());
    std::size_t pairs = 0;
    for (const HotRecord &h : e.hot[std::size_t(e.tasks[0].PcodeListNo)]) pairs += h.pair != nullptr;
    EXPECT_GE(pairs, minPairs) << "program " << p;
    // k passes in one batch, for every k: the same state as k single passes;
    // batches larger than a program that ended must leave its end as it was
    // (a step given more passes than the program has left must not run on).
    const bool ended = !(e.running && e.anyRunnable());
    for (std::size_t k = 1; k <= single.size() + (ended ? 64 : 0); ++k) {
      start();
      long done = 0;
      while (done < long(k) && e.running && e.anyRunnable()) done += e.runPasses(long(k) - done);
      ASSERT_TRUE(see() == single[std::min(k, single.size()) - 1]) << "program " << p << " after " << k << " passes";
    }
  }
}

}  // namespace

TEST_F(Dispatch, OperandShapesChooseAFastHandlerOnlyWhereItReadsNoText) {
  int slot =
      load(tcode({u"003 + ∇ A Δ 2", u"003 + xPOP xDMY Δ 2", u"003 ^ ∇ A Δ 2", u"000 ∇ A <= ∇ B", u"000 ∇ A ?? ∇ B",
                  u"098 xFJMP 1", u"L_1 IF", u"005 ∇ NOWHERE", u"023 ∇ A +=", u"022 ∇ A =", u"751 CLS"}),
           {u"A", u"B"});
  ASSERT_GE(slot, 0);
  e.runReset();
  ASSERT_FALSE(e.linkAll());
  EXPECT_EQ(hotAt(slot, 0).form, Form::Binary);  // variable + constant
  EXPECT_EQ(hotAt(slot, 1).form, Form::Family);  // a pop changes the stack: the family handler
  EXPECT_EQ(hotAt(slot, 2).form, Form::Family);  // power: the family handler
  EXPECT_EQ(hotAt(slot, 3).form, Form::Compare);
  EXPECT_EQ(hotAt(slot, 4).form, Form::Family);  // no relation
  EXPECT_EQ(hotAt(slot, 5).form, Form::Jump);
  EXPECT_EQ(hotAt(slot, 6).run, nullptr);  // a label does nothing
  EXPECT_EQ(hotAt(slot, 6).form, Form::Label);
  EXPECT_EQ(hotAt(slot, 7).form, Form::Family);  // an unregistered name is looked up when run
  EXPECT_EQ(hotAt(slot, 8).form, Form::Compound);
  EXPECT_EQ(hotAt(slot, 9).form, Form::Store);
  EXPECT_EQ(hotAt(slot, 10).form, Form::Family);  // console: the family handler
  EXPECT_EQ(hotAt(slot, 0).pair, nullptr);        // a pop follows, which is not fast: no step
  EXPECT_EQ(hotAt(slot, 0).v1, e.vars.find(slot, u"A"));
  EXPECT_EQ(hotAt(slot, 0).k2, 2.0L);
}

TEST_F(Dispatch, FastArithmeticAndComparisonsMatchTheFamilyHandlers) {
  // Every relation, with and without NOT, on variables and constants.
  const char16_t *relations[] = {u">", u">=", u"=", u"<", u"<=", u"<>"};
  const bool expected[] = {false, false, false, true, true, true};  // 2 rel 3
  for (int i = 0; i < 6; ++i) {
    for (bool negated : {false, true}) {
      u16 prefix = negated ? u"000 NOT " : u"000 ";
      u16 rel = relations[i];
      Lines code;
      for (u16 line : {prefix + u"∇ A " + rel + u" ∇ B", prefix + u"Δ 2 " + rel + u" ∇ B",
                       prefix + u"∇ A " + rel + u" Δ 3", prefix + u"Δ 2 " + rel + u" Δ 3"}) {
        code = tcode({u"005 Δ 2", u"022 ∇ A =", u"005 Δ 3", u"022 ∇ B ="});
        code.push_back(u"00005 " + line);
        const TTaskInfo &t = execute(code, {u"A", u"B"});
        EXPECT_EQ(t.FLAG, expected[i] != negated) << text::to_utf8(line);
      }
    }
  }
  // 109: operand relation WORK.
  EXPECT_TRUE(execute(tcode({u"005 Δ 5", u"109 Δ 4 < Δ 0"})).FLAG);
  EXPECT_FALSE(execute(tcode({u"005 Δ 5", u"109 NOT ∇ A < Δ 0"}), {u"A"}).FLAG);
  // Arithmetic on variables and constants, and compound assignment.
  const TTaskInfo &t = execute(tcode({u"005 Δ 7", u"022 ∇ A =", u"003 - ∇ A Δ 10", u"022 ∇ B =", u"003 * ∇ A ∇ B",
                                      u"022 ∇ C =", u"003 / Δ 1 ∇ A", u"022 ∇ D =", u"005 Δ 2", u"023 ∇ A -=",
                                      u"005 Δ 4", u"023 ∇ C /=", u"005 Δ 3", u"023 ∇ B *=", u"005 Δ 1", u"023 ∇ D +="}),
                               {u"A", u"B", u"C", u"D"});
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(var(u"A").Val1, 5.0L);        // 7 - 2
  EXPECT_EQ(var(u"B").Val1, -9.0L);       // (7 - 10) * 3
  EXPECT_EQ(var(u"C").Val1, -21.0L / 4);  // 7 * -3 / 4
  EXPECT_EQ(var(u"D").Val1, 1.0L / 7 + 1);
  EXPECT_EQ(t.WORK, 1.0L);
}

TEST_F(Dispatch, FastPathFailuresAreReportedByTheFamilyHandler) {
  execute(tcode({u"005 Δ 0", u"022 ∇ Z =", u"003 / Δ 1 ∇ Z", u"001"}), {u"Z"});
  EXPECT_EQ(lastConsoleLine(), u"計算エラー：/ ゼロ除算（0 で割った）\r");
  // The execution point names the failing record, not the one after it.
  EXPECT_EQ(e.last.position, 2);
  EXPECT_EQ(e.last.code, int(opBINARY));
  EXPECT_EQ(e.last.task, 0);
  EXPECT_FALSE(e.tasks[0].FLAG);

  execute(tcode({u"005 Δ 1e4000", u"022 ∇ Z =", u"005 Δ 1e4000", u"023 ∇ Z *="}), {u"Z"});
  EXPECT_EQ(lastConsoleLine(), u"計算エラー：*= 桁あふれ（結果が大きすぎる）\r");
  EXPECT_EQ(var(u"Z").Val1, 1e4000L);  // unchanged

  execute(tcode({u"005 Δ 0", u"022 ∇ Z =", u"043 MOD ( Δ 5 , ∇ Z )"}), {u"Z"});
  EXPECT_EQ(lastConsoleLine(), u"計算エラー：MOD ゼロ除算（0 で割った）\r");

  // A pop from the empty calculation stack gives 0.
  execute(tcode({u"005 Δ 5", u"022 ∇ Z =", u"101 xPOP", u"022 ∇ Z ="}), {u"Z"});
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(var(u"Z").Val1, 0.0L);

  // A step that finds the calculation stack full, alone and with its pop
  // and store after it: the stack overflow is reported at that step.
  for (const bool withStore : {false, true}) {
    Lines code(std::size_t(kCalcStack), u"100 + Δ 1 Δ 2");  // fills it
    code.insert(code.end(), {u"100 + Δ 3 Δ 4", withStore ? u"101 xPOP" : u"005 Δ 9", u"022 ∇ Z ="});
    execute(tcode(code), {u"Z"});
    EXPECT_EQ(lastConsoleLine(), u"-Stack Overflow") << withStore;
    EXPECT_EQ(e.last.position, kCalcStack) << withStore;
    EXPECT_EQ(var(u"Z").Val1, 0.0L) << withStore;   // nothing after the step ran
    EXPECT_EQ(e.tasks[0].WORK, 7.0L) << withStore;  // the step's value, as its handler leaves it
  }
}

TEST_F(Dispatch, ModByMinusOneLeavesNoRemainderEvenForTheSmallestInteger) {
  // -2^63 % -1 overflows in the machine; the remainder is 0.
  EXPECT_EQ(execute(tcode({u"043 MOD ( xN 9223372036854775808 , xN 1 )"})).WORK, 0.0L);
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(execute(tcode({u"005 xN 1", u"022 ∇ M =", u"043 MOD ( Δ 7 , ∇ M )"}), {u"M"}).WORK, 0.0L);
}

TEST_F(Dispatch, ALoneTaskCountsOnePassPerRecordLabelsIncluded) {
  load(tcode({u"L_1 FOR", u"005 Δ 1", u"L_2 FOR", u"005 Δ 2", u"005 Δ 3"}));
  e.runReset();
  e.linkAll();
  e.running = true;
  EXPECT_EQ(e.runPasses(3), 3);
  EXPECT_EQ(e.tasks[0].INSTP, 3);
  EXPECT_EQ(e.tasks[0].WORK, 1.0L);
  EXPECT_EQ(e.last.position, 1);  // the label after it is not an instruction
  EXPECT_EQ(e.passCount, 3);
  EXPECT_EQ(e.runPasses(100), 3);  // two records, then the task ends in the third pass
  EXPECT_EQ(e.tasks[0].state, tsEND);
  EXPECT_EQ(e.tasks[0].WORK, 3.0L);
  EXPECT_EQ(e.passCount, 6);
}

TEST_F(Dispatch, ABreakRecordInsertedBetweenBatchesStopsALoneTask) {
  // An endless loop: L_1, WORK := WORK + 1 ... jump back.
  load(tcode({u"L_1 WHILE", u"003 + ∇ N Δ 1", u"022 ∇ N =", u"099 xJMP 1"}), {u"N"});
  e.runReset();
  e.linkAll();
  e.running = true;
  EXPECT_EQ(e.runPasses(1000), 1000);
  EXPECT_EQ(var(u"N").Val1, 333.0L);  // three instructions and a label per round
  std::array<u16, 11> param{};
  param[1] = u"0";
  param[9] = u"[Break Point]";
  e.insertRecord(2, e.tasks[0].PcodeListNo, opBREAKPOINT, param);
  e.linkSlot(0);
  e.tasks[0].INSTP = 1;
  long passes = e.runPasses(1000);
  EXPECT_EQ(passes, 2);  // 003, then the break record
  EXPECT_EQ(e.tasks[0].state, tsSTOP);
  EXPECT_EQ(e.last.code, int(opBREAKPOINT));
  EXPECT_EQ(e.last.position, 2);
}

TEST_F(Dispatch, AWaitHandsALoneTaskToThePassesThatServeItAndBack) {
  double now = 0;
  e.clock = [&] { return now; };
  load(tcode({u"005 Δ 1", u"080 WAIT Δ 5", u"005 Δ 2", u"005 Δ 3"}));
  e.runReset();
  e.linkAll();
  e.running = true;
  // The wait starts in pass 2; pass 3 finds the task waiting and returns.
  EXPECT_EQ(e.runPasses(100), 3);
  EXPECT_TRUE(e.tasks[0].WAIT);
  EXPECT_EQ(e.tasks[0].WORK, 1.0L);
  now = 5;
  EXPECT_EQ(e.runPasses(100), 3);  // 005, 005, then the end
  EXPECT_EQ(e.tasks[0].WORK, 3.0L);
  EXPECT_EQ(e.tasks[0].state, tsEND);
}

TEST_F(Dispatch, CallsAndReturnsOnTheFastPathKeepTheirChecks) {
  // A function called twice, then the body is skipped by its FUNCTION entry.
  const TTaskInfo &t = execute(tcode({u"902 xFUNC", u"F_INC", u"003 + ∇ N Δ 1", u"022 ∇ N =", u"096 xRET",
                                      u"097 CALL xFNAME INC", u"097 CALL xFNAME INC"}),
                               {u"N"});
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(var(u"N").Val1, 2.0L);
  EXPECT_EQ(t.STACKP, -1);
  EXPECT_EQ(hotAt(0, 5).form, Form::Call);
  EXPECT_EQ(hotAt(0, 4).form, Form::Ret);
  // A RET without a CALL and an unknown function are still reported.
  execute(tcode({u"096 xRET"}));
  EXPECT_EQ(lastConsoleLine(), u"＊ 呼び出されていない関数からの復帰（RET）です ＊");
  execute(tcode({u"097 CALL xFNAME NONE"}));
  EXPECT_EQ(lastConsoleLine(), u"＊ 関数ラベル不明エラー ＊");
  // Endless recursion stops at the call stack's depth.
  execute(tcode({u"902 xFUNC", u"F_R", u"097 CALL xFNAME R", u"096 xRET", u"097 CALL xFNAME R"}));
  EXPECT_TRUE(e.errorFlag);
  EXPECT_EQ(e.tasks[0].STACKP, kCallStack - 1);
}

namespace {

// Programs whose records run in fused steps: pairs, loop steps, whole
// rounds of a loop, calls of short functions, failures in each.
// A loop of four rounds whose body is a call of F, a function of the given
// statement, then a store after the loop.
Lines calling_loop(std::initializer_list<const char16_t *> statement) {
  Lines code = {u"902 xFUNC", u"F_F"};
  code.insert(code.end(), statement.begin(), statement.end());
  code.insert(code.end(), {u"096 xRET", u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 4", u"098 xFJMP 2",
                           u"097 CALL xFNAME F", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 9",
                           u"022 ∇ M ="});
  return tcode(code);
}

std::vector<Lines> fused_programs() {
  return {
      // A counting loop: compare + jump, binary + store, load + +=, MOD + store.
      tcode({u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 6", u"098 xFJMP 2", u"043 MOD ( ∇ I , Δ 3 )",
             u"022 ∇ M =", u"000 ∇ M = Δ 0", u"095 xTJMP 3", u"005 ∇ I", u"023 ∇ S +=", u"L_3 IF", u"003 + ∇ I Δ 1",
             u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"}),
      // The first half fails: a division by zero before its store.
      tcode({u"005 Δ 0", u"022 ∇ Z =", u"003 / Δ 1 ∇ Z", u"022 ∇ S =", u"005 Δ 9", u"022 ∇ M ="}),
      // The second half fails: a compound division by zero after its load.
      tcode({u"005 Δ 4", u"022 ∇ S =", u"005 Δ 0", u"023 ∇ S /=", u"005 Δ 9", u"022 ∇ M ="}),
      // MOD by zero before its store.
      tcode({u"005 Δ 0", u"022 ∇ Z =", u"043 MOD ( Δ 5 , ∇ Z )", u"022 ∇ M =", u"005 Δ 1"}),
      // Loop steps (calculation, store, jump back, comparison, conditional
      // jump as one step): nested loops, a one-statement body, a step down.
      tcode({u"005 Δ 1",       u"022 ∇ I =",     u"L_1 FOR",       u"000 ∇ I <= Δ 3", u"098 xFJMP 2",
             u"005 Δ 1",       u"022 ∇ M =",     u"L_3 FOR",       u"000 ∇ M <= ∇ I", u"098 xFJMP 4",
             u"005 ∇ M",       u"023 ∇ S +=",    u"003 + ∇ M Δ 1", u"022 ∇ M =",      u"099 xJMP 3",
             u"L_4 FOR",       u"003 + ∇ I Δ 1", u"022 ∇ I =",     u"099 xJMP 1",     u"L_2 FOR",
             u"005 Δ 5",       u"022 ∇ Z =",     u"L_5 FOR",       u"000 ∇ Z > Δ 0",  u"098 xFJMP 6",
             u"003 - ∇ Z Δ 2", u"022 ∇ Z =",     u"099 xJMP 5",    u"L_6 FOR"}),
      // A step whose label leads to something other than a comparison (a
      // load), one whose label does not exist, and one whose label is the
      // last record.
      tcode({u"005 Δ 0", u"022 ∇ I =", u"L_1 WHILE", u"005 ∇ I", u"023 ∇ S +=", u"000 ∇ I >= Δ 4", u"095 xTJMP 2",
             u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 WHILE", u"003 + ∇ I Δ 1", u"022 ∇ M =", u"099 xJMP 9",
             u"003 + ∇ M Δ 1", u"022 ∇ Z =", u"099 xJMP 7", u"L_7 END"}),
      // Calls and returns going on into the pair at their destination: a
      // function whose first statement is a pair called from a counting
      // loop, one whose first statement is not a pair (a nested call), and
      // a return to a statement that is not a pair.
      tcode({u"902 xFUNC",
             u"F_BUMP",
             u"005 Δ 1",
             u"023 ∇ S +=",
             u"096 xRET",
             u"902 xFUNC",
             u"F_TWICE",
             u"097 CALL xFNAME BUMP",
             u"097 CALL xFNAME BUMP",
             u"096 xRET",
             u"005 Δ 1",
             u"022 ∇ I =",
             u"L_1 FOR",
             u"000 ∇ I <= Δ 3",
             u"098 xFJMP 2",
             u"097 CALL xFNAME BUMP",
             u"097 CALL xFNAME TWICE",
             u"003 + ∇ I Δ 1",
             u"022 ∇ I =",
             u"099 xJMP 1",
             u"L_2 FOR",
             u"097 CALL xFNAME TWICE",
             u"005 Δ 9",
             u"022 ∇ M ="}),
      // The pair after a call fails (a division by zero in the function).
      tcode({u"902 xFUNC", u"F_DIV", u"003 / Δ 1 ∇ Z", u"022 ∇ M =", u"096 xRET", u"005 Δ 2", u"022 ∇ S =",
             u"097 CALL xFNAME DIV", u"005 Δ 3", u"022 ∇ S ="}),
      // The calculation of a step fails (an overflow): the family handler
      // reports it and nothing after it runs.
      tcode({u"005 Δ 1e4000", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I > Δ 0", u"098 xFJMP 2", u"003 * ∇ I Δ 1e4000",
             u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7", u"022 ∇ M ="}),
      // Whole rounds of a loop whose body is one call of a short function.
      calling_loop({u"005 Δ 1", u"023 ∇ S +="}),
      // A one-statement body that fails in a later round (S /= I at I = 0).
      tcode({u"005 Δ 1", u"022 ∇ S =", u"005 xN 2", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 2", u"098 xFJMP 2",
             u"005 ∇ I", u"023 ∇ S /=", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7",
             u"022 ∇ M ="}),
      // A step that overflows in a later round, after a body.
      tcode({u"005 Δ 1e1000", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I > Δ 0", u"098 xFJMP 2", u"005 Δ 1", u"023 ∇ S +=",
             u"003 * ∇ I Δ 1e1000", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7", u"022 ∇ M ="}),
      // A called function that fails in a later round (S /= Z at Z = 0).
      tcode({u"902 xFUNC", u"F_DIV", u"005 ∇ Z", u"023 ∇ S /=", u"096 xRET", u"005 Δ 8", u"022 ∇ S =", u"005 Δ 2",
             u"022 ∇ Z =", u"L_1 FOR", u"000 ∇ Z >= xN 1", u"098 xFJMP 2", u"097 CALL xFNAME DIV", u"003 - ∇ Z Δ 1",
             u"022 ∇ Z =", u"099 xJMP 1", u"L_2 FOR"}),
      // An empty body.
      tcode({u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 5", u"098 xFJMP 2", u"003 + ∇ I Δ 1", u"022 ∇ I =",
             u"099 xJMP 1", u"L_2 FOR", u"005 Δ 3", u"022 ∇ M ="}),
      // Whole rounds of one-statement bodies of every kind: S = S + I, M = I,
      // S = 3 - S, M = MOD(I, 3), then S = S * I counting down from 2^61
      // (leaves the integers in a later round) and M = MOD(Z, I) reaching
      // I = 0 (a MOD by zero ends the task).
      tcode({u"005 Δ 1",        u"022 ∇ I =",   u"L_1 FOR",       u"000 ∇ I <= Δ 4", u"098 xFJMP 2",
             u"003 + ∇ S ∇ I",  u"022 ∇ S =",   u"003 + ∇ I Δ 1", u"022 ∇ I =",      u"099 xJMP 1",
             u"L_2 FOR",        u"005 Δ 1",     u"022 ∇ I =",     u"L_3 FOR",        u"000 ∇ I <= Δ 3",
             u"098 xFJMP 4",    u"005 ∇ I",     u"022 ∇ M =",     u"003 + ∇ I Δ 1",  u"022 ∇ I =",
             u"099 xJMP 3",     u"L_4 FOR",     u"005 Δ 1",       u"022 ∇ I =",      u"L_5 FOR",
             u"000 ∇ I <= Δ 3", u"098 xFJMP 6", u"003 - Δ 3 ∇ S", u"022 ∇ S =",      u"003 + ∇ I Δ 1",
             u"022 ∇ I =",      u"099 xJMP 5",  u"L_6 FOR"}),
      tcode({u"005 Δ 1",        u"022 ∇ I =",
             u"L_1 FOR",        u"000 ∇ I <= Δ 5",
             u"098 xFJMP 2",    u"043 MOD ( ∇ I , Δ 3 )",
             u"022 ∇ M =",      u"003 + ∇ I Δ 1",
             u"022 ∇ I =",      u"099 xJMP 1",
             u"L_2 FOR",        u"005 Δ 2305843009213693952",
             u"022 ∇ S =",      u"005 Δ 3",
             u"022 ∇ I =",      u"L_3 FOR",
             u"000 ∇ I >= Δ 1", u"098 xFJMP 4",
             u"003 * ∇ S ∇ I",  u"022 ∇ S =",
             u"003 - ∇ I Δ 1",  u"022 ∇ I =",
             u"099 xJMP 3",     u"L_4 FOR",
             u"005 Δ 7",        u"022 ∇ Z =",
             u"005 Δ 2",        u"022 ∇ I =",
             u"L_5 FOR",        u"000 ∇ I >= xN 1",
             u"098 xFJMP 6",    u"043 MOD ( ∇ Z , ∇ I )",
             u"022 ∇ M =",      u"003 - ∇ I Δ 1",
             u"022 ∇ I =",      u"099 xJMP 5",
             u"L_6 FOR"}),
      // Expressions through the calculation stack: X = A + B, X = A * B + C
      // (the second step pops the first's value), a division by zero in a
      // step, and a pop from the empty stack.
      tcode({u"005 Δ 3", u"022 ∇ S =", u"005 Δ 4", u"022 ∇ Z =", u"100 + ∇ S ∇ Z", u"101 xPOP", u"022 ∇ M =",
             u"100 * ∇ S ∇ Z", u"100 + xPOP xDMY Δ 1", u"101 xPOP", u"022 ∇ I =", u"101 xPOP", u"022 ∇ S =", u"005 Δ 0",
             u"022 ∇ Z =", u"100 / Δ 1 ∇ Z", u"101 xPOP", u"022 ∇ M ="}),
      // Steps that pop their operands: (S * 2) - (Z + 1) takes the right
      // operand first, then 1 / (Z - Z) fails with the stack as it was.
      tcode({u"005 Δ 5", u"022 ∇ S =", u"005 Δ 3", u"022 ∇ Z =", u"100 * ∇ S Δ 2", u"100 + ∇ Z Δ 1",
             u"100 - xPOP xDMY xPOP xDMY", u"101 xPOP", u"022 ∇ M =", u"100 - ∇ Z ∇ Z", u"100 / Δ 1 xPOP xDMY",
             u"101 xPOP", u"022 ∇ I ="}),
      // A step that pops from the empty stack (0), and a result beyond the
      // largest number in the middle of an expression.
      tcode({u"100 + xPOP xDMY Δ 1", u"101 xPOP", u"022 ∇ M =", u"100 + Δ 1 Δ 2", u"100 * xPOP xDMY Δ 1e4932",
             u"101 xPOP", u"022 ∇ S ="}),
      // Loops whose body is such an expression: S = S + I in whole rounds,
      // S = S * I leaving the integers, M = I / 2 (no whole rounds), and a
      // called function whose only statement is S = S - I.
      tcode({u"005 Δ 1",
             u"022 ∇ I =",
             u"L_1 FOR",
             u"000 ∇ I <= Δ 5",
             u"098 xFJMP 2",
             u"100 + ∇ S ∇ I",
             u"101 xPOP",
             u"022 ∇ S =",
             u"003 + ∇ I Δ 1",
             u"022 ∇ I =",
             u"099 xJMP 1",
             u"L_2 FOR",
             u"005 Δ 2305843009213693952",
             u"022 ∇ S =",
             u"005 Δ 1",
             u"022 ∇ I =",
             u"L_3 FOR",
             u"000 ∇ I <= Δ 4",
             u"098 xFJMP 4",
             u"100 * ∇ S ∇ I",
             u"101 xPOP",
             u"022 ∇ S =",
             u"100 / ∇ I Δ 2",
             u"101 xPOP",
             u"022 ∇ M =",
             u"003 + ∇ I Δ 1",
             u"022 ∇ I =",
             u"099 xJMP 3",
             u"L_4 FOR"}),
      // -0 from expressions: 0 * -1 through the stack, -0 + 0 and -0 - 0,
      // and products through the stack and by *= that pass 0 from below and
      // keep its sign.
      tcode({u"005 xN 5",  u"022 ∇ S =",     u"100 * Δ 0 xN 1", u"101 xPOP",    u"022 ∇ M =",      u"100 + ∇ M Δ 0",
             u"101 xPOP",  u"022 ∇ Z =",     u"100 - ∇ M Δ 0",  u"101 xPOP",    u"022 ∇ Z =",      u"005 xN 2",
             u"022 ∇ I =", u"L_1 FOR",       u"000 ∇ I <= Δ 3", u"098 xFJMP 2", u"100 * ∇ S ∇ I",  u"101 xPOP",
             u"022 ∇ S =", u"003 + ∇ I Δ 1", u"022 ∇ I =",      u"099 xJMP 1",  u"L_2 FOR",        u"005 xN 5",
             u"022 ∇ S =", u"005 xN 2",      u"022 ∇ I =",      u"L_3 FOR",     u"000 ∇ I <= Δ 3", u"098 xFJMP 4",
             u"005 ∇ I",   u"023 ∇ S *=",    u"003 + ∇ I Δ 1",  u"022 ∇ I =",   u"099 xJMP 3",     u"L_4 FOR",
             u"005 ∇ M",   u"022 ∇ Z ="}),
      // A loop of S = S + I with the calculation stack full: its first
      // step reports the overflow.
      [] {
        Lines code(std::size_t(kCalcStack), u"100 + Δ 1 Δ 2");
        code.insert(code.end(),
                    {u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 5", u"098 xFJMP 2", u"100 + ∇ S ∇ I",
                     u"101 xPOP", u"022 ∇ S =", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"});
        return tcode(code);
      }(),
      // A called function whose only statement is an expression (S = S - I).
      calling_loop({u"100 - ∇ S ∇ I", u"101 xPOP", u"022 ∇ S ="}),
      // A called function whose only statement is a calculation (S = S + I).
      calling_loop({u"003 + ∇ S ∇ I", u"022 ∇ S ="}),
      // Rounds of a compound-assignment body in registers: S -= I counting
      // down to a variable limit, with the loop left by a true comparison.
      tcode({u"005 Δ 2", u"022 ∇ Z =", u"005 Δ 9", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I < ∇ Z", u"095 xTJMP 2",
             u"005 ∇ I", u"023 ∇ S -=", u"003 - ∇ I Δ 2", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7",
             u"022 ∇ M ="}),
      // S *= 2 from 2^60: the product leaves the integers in the third round
      // and the rounds go on in long double; the limit on the left.
      tcode({u"005 Δ 1152921504606846976", u"022 ∇ S =", u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 Δ 6 >= ∇ I",
             u"098 xFJMP 2", u"005 Δ 2", u"023 ∇ S *=", u"003 + Δ 1 ∇ I", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"}),
      // S += S, and a counter that reaches the largest integer: its step
      // overflows to 2^63 in long double and the loop ends there.
      tcode({u"005 Δ 1", u"022 ∇ S =", u"005 Δ 9223372036854775804", u"022 ∇ I =", u"L_1 FOR",
             u"000 ∇ I <= Δ 9223372036854775807", u"098 xFJMP 2", u"005 ∇ S", u"023 ∇ S +=", u"003 + ∇ I Δ 1",
             u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7", u"022 ∇ M ="}),
      // A body variable that is not whole, then a counter that is not: the
      // rounds run record by record.
      tcode({u"005 Δ 0.5",   u"022 ∇ S =",  u"005 Δ 1",       u"022 ∇ I =",     u"L_1 FOR",        u"000 ∇ I <= Δ 3",
             u"098 xFJMP 2", u"005 ∇ I",    u"023 ∇ S +=",    u"003 + ∇ I Δ 1", u"022 ∇ I =",      u"099 xJMP 1",
             u"L_2 FOR",     u"005 Δ 0.5",  u"022 ∇ Z =",     u"L_3 FOR",       u"000 ∇ Z <= Δ 3", u"098 xFJMP 4",
             u"005 Δ 1",     u"023 ∇ M +=", u"003 + ∇ Z Δ 1", u"022 ∇ Z =",     u"099 xJMP 3",     u"L_4 FOR"}),
      // A loop that goes on while I = 1, and a called function that takes
      // the counter from its caller's loop (S -= I).
      tcode({u"902 xFUNC",     u"F_DEC",
             u"005 ∇ I",       u"023 ∇ S -=",
             u"096 xRET",      u"005 Δ 1",
             u"022 ∇ I =",     u"L_1 FOR",
             u"000 ∇ I = Δ 1", u"098 xFJMP 2",
             u"005 Δ 3",       u"023 ∇ M +=",
             u"003 + ∇ I Δ 1", u"022 ∇ I =",
             u"099 xJMP 1",    u"L_2 FOR",
             u"005 Δ 1",       u"022 ∇ I =",
             u"L_3 FOR",       u"000 ∇ I <= Δ 5",
             u"098 xFJMP 4",   u"097 CALL xFNAME DEC",
             u"003 + ∇ I Δ 1", u"022 ∇ I =",
             u"099 xJMP 3",    u"L_4 FOR"}),
  };
}

}  // namespace

// A lone task runs a comparison and its jump, a calculation and its store,
// a load and its compound assignment, a loop's rounds and short calls as
// one step; stopping after any number of passes must show exactly what one
// record at a time shows, failures anywhere in a step included.
TEST_F(Dispatch, PairedRecordsShowTheSameStateAfterEveryPassAsSingleRecords) {
  expectEveryBatchAsSinglePasses(fused_programs(), 2);
}

// A loop whose body is one compound assignment runs its rounds on integers
// in registers; where it stops is worked out from the comparison. Every
// relation, with and without NOT, left by a true or a false outcome, the
// counter on either side, counting up and down from below, at and above
// the limit: the same states as single
// records after every number of passes (some of these loops never end).
TEST_F(Dispatch, WholeRoundsStopWhereTheComparisonSays) {
  std::vector<Lines> programs;
  for (const char16_t *rel : {u">", u">=", u"=", u"<", u"<=", u"<>"})
    for (const char16_t *jump : {u"098 xFJMP 2", u"095 xTJMP 2"})
      for (const char16_t *no : {u"", u"NOT "})
        for (bool counterFirst : {true, false})
          for (const char16_t *start : {u"005 Δ 0", u"005 Δ 4", u"005 Δ 8"})
            for (int step : {1, -1}) {
              const u16 r(rel), n(no);
              const u16 compare =
                  counterFirst ? u"000 " + n + u"∇ I " + r + u" Δ 4" : u"000 " + n + u"Δ 4 " + r + u" ∇ I";
              programs.push_back(tcode({start, u"022 ∇ I =", u"L_1 FOR", compare.c_str(), jump, u"005 Δ 3",
                                        u"023 ∇ S +=", step > 0 ? u"003 + ∇ I Δ 1" : u"003 - ∇ I Δ 1", u"022 ∇ I =",
                                        u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7", u"022 ∇ M ="}));
            }
  expectEveryBatchAsSinglePasses(programs, 3, true);
}

namespace {

// A counting loop with a random body of one to three statements (compound
// assignments, calculations, expressions through the calculation stack,
// MOD, an IF around one of them, a call of a short function) over the variables I (the counter), M, S and Z, with
// whole, fractional, large and zero values, so that bodies fail, leave the
// integers and go on in long double at random places.
Lines random_loop(std::mt19937_64 &rng) {
  auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
  static const char16_t *const kConstants[] = {
      u"Δ 0", u"Δ 1", u"Δ 2", u"Δ 3", u"xN 2", u"Δ 0.5", u"Δ 4611686018427387904"};
  static const char16_t *const kOps[] = {u"+", u"-", u"*", u"/"};
  static const char16_t *const kRelations[] = {u">", u">=", u"=", u"<", u"<=", u"<>"};
  auto constant = [&] { return u16(kConstants[pick(std::size(kConstants))]); };
  auto operand = [&] {
    switch (pick(5)) {
      case 0: return u16(u"∇ I");
      case 1: return u16(u"∇ Z");
      case 2: return u16(u"∇ S");
      default: return constant();
    }
  };
  auto target = [&] { return u16(pick(2) ? u"∇ S" : u"∇ M"); };
  Lines code;
  const bool function = pick(2);
  auto op = [&] { return u16(kOps[pick(4)]); };
  auto simple = [&](Lines &out) {
    switch (pick(function ? 7 : 6)) {
      case 0: out.insert(out.end(), {u"005 " + operand(), u"023 " + target() + u" " + kOps[pick(4)] + u"="}); break;
      case 3:  // X = a op b, through the calculation stack
        out.insert(out.end(),
                   {u"100 " + op() + u" " + operand() + u" " + operand(), u"101 xPOP", u"022 " + target() + u" ="});
        break;
      case 4:  // X = a op b op c
        out.insert(out.end(), {u"100 " + op() + u" " + operand() + u" " + operand(),
                               u"100 " + op() + u" xPOP xDMY " + operand(), u"101 xPOP", u"022 " + target() + u" ="});
        break;
      case 5:  // X = (a op b) op (c op d)
        out.insert(out.end(), {u"100 " + op() + u" " + operand() + u" " + operand(),
                               u"100 " + op() + u" " + operand() + u" " + operand(),
                               u"100 " + op() + u" xPOP xDMY xPOP xDMY", u"101 xPOP", u"022 " + target() + u" ="});
        break;
      case 1:
        out.insert(out.end(),
                   {u"003 " + u16(kOps[pick(4)]) + u" " + operand() + u" " + operand(), u"022 " + target() + u" ="});
        break;
      case 2:
        out.insert(out.end(), {u"043 MOD ( " + operand() + u" , " + operand() + u" )", u"022 " + target() + u" ="});
        break;
      default: out.push_back(u"097 CALL xFNAME F"); break;
    }
  };
  if (function) {
    code.insert(code.end(), {u"902 xFUNC", u"F_F"});
    code.insert(code.end(), {u"005 " + operand(), u"023 " + target() + u" " + kOps[pick(3)] + u"="});
    code.push_back(u"096 xRET");
  }
  for (const char16_t *v : {u"S", u"M", u"Z"})
    code.insert(code.end(), {u"005 " + constant(), u"022 ∇ " + u16(v) + u" ="});
  const bool up = pick(2);
  code.insert(code.end(),
              {up ? u"005 Δ 1" : u"005 Δ 6", u"022 ∇ I =", u"L_1 FOR",
               up ? u16(pick(2) ? u"000 ∇ I <= Δ 5" : u"000 ∇ I <= ∇ Z") : u16(u"000 ∇ I >= Δ 1"), u"098 xFJMP 2"});
  const std::size_t statements = 1 + pick(3);
  for (std::size_t k = 0; k < statements; ++k) {
    if (pick(4) == 0) {
      const u16 label = u16(1, char16_t(u'3' + k));
      code.insert(code.end(),
                  {u"000 " + target() + u" " + kRelations[pick(6)] + u" " + operand(), u"098 xFJMP " + label});
      simple(code);
      code.push_back(u"L_" + label + u" IF");
    } else {
      simple(code);
    }
  }
  code.insert(code.end(), {up ? u16(u"003 + ∇ I Δ 1") : u16(pick(2) ? u"003 - ∇ I Δ 1" : u"003 + ∇ I xN 2"),
                           u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR", u"005 Δ 7", u"022 ∇ Z ="});
  return code;
}

}  // namespace

// Random loops: whatever the body, a lone task's fused steps leave after
// every number of passes what one record at a time leaves.
TEST_F(Dispatch, RandomLoopsShowTheSameStateAfterEveryPassAsSingleRecords) {
  std::mt19937_64 rng(2912);
  std::vector<Lines> programs;
  for (int n = 0; n < 80; ++n) programs.push_back(tcode(random_loop(rng)));
  expectEveryBatchAsSinglePasses(programs, 1, true);  // I <= Z may run long: the first 200 passes
}

namespace {

// Seen, with what string statements change: string variables, the string
// registers, the zone option and the calculation stack.
struct SeenText {
  long double work;
  int instp, state, lastPosition, lastCode, calcIndex;
  long double calcTop;
  long passCount;
  std::vector<long double> numbers;
  std::vector<u16> strings;
  u16 strWork, strRem, zoneOption, console;
  Lines list;
  bool operator==(const SeenText &) const = default;
};

}  // namespace

// A lone task runs a zone option, its zone and the store after it, and a
// STRVAL with its pop and store, as one step each; after any number of
// passes it must show what one record at a time shows, failures in any
// record of a step included.
TEST_F(Dispatch, StringStepsShowTheSameStateAfterEveryPassAsSingleRecords) {
  const std::vector<Lines> programs = {
      // Cells cut from a page: [++] with a split store, [--] with a string
      // store, STRVAL of the cell, a sum; the loop ends when no cell is left.
      tcode({u"045 Σ &S = Ω \"<td>12</td>x<td>7</td><td> 30 </td>\"",
             u"005 Δ 0",
             u"022 ∇ T =",
             u"337 [++]",
             u"318 Σ &S < Ω \"<td>\" -> Ω \"</td>\" >",
             u"329 Σ &V , Σ &S =",
             u"L_1 WHILE",
             u"410 Σ &V",
             u"098 xFJMP 3",
             u"337 [--]",
             u"318 Σ &V < Ω \"<td>\" -> Ω \"</td>\" >",
             u"320 Σ &W =",
             u"102 STRVAL Σ &W",
             u"101 xPOP",
             u"022 ∇ M =",
             u"005 ∇ M",
             u"023 ∇ T +=",
             u"337 [++]",
             u"318 Σ &S < Ω \"<td>\" -> Ω \"</td>\" >",
             u"329 Σ &V , Σ &S =",
             u"099 xJMP 1",
             u"L_3 WHILE",
             u"005 Δ 9",
             u"022 ∇ Z ="}),
      // The store of a zone step fails (its second variable is unknown).
      tcode({u"045 Σ &S = Ω \"a[b]c\"", u"337 [+-]", u"318 Σ &S < Ω \"[\" -> Ω \"]\" >", u"329 Σ &V , Σ &NONE =",
             u"005 Δ 9", u"022 ∇ Z =", u"337 [--]", u"318 Σ &S < Ω \"a\" -> Ω \"c\" >", u"320 Σ &W ="}),
      // The zone of a step finds nothing; an unknown variable read by
      // STRVAL fails the first record of its step.
      tcode({u"045 Σ &S = Ω \"abc\"", u"337 [++]", u"318 Σ &S < Ω \"x\" -> Ω \"y\" >", u"320 Σ &W =",
             u"045 Σ &W = Ω \" -4 \"", u"102 STRVAL Σ &W", u"101 xPOP", u"022 ∇ M =", u"102 STRVAL Σ &NONE",
             u"101 xPOP", u"022 ∇ Z ="}),
      // Lines built and appended to a list, a string grown in place past
      // the length a value holds in itself, joins of a variable and a zone.
      tcode({u"005 Δ 1",
             u"022 ∇ M =",
             u"L_1 FOR",
             u"000 ∇ M <= Δ 12",
             u"098 xFJMP 2",
             u"311 Ω \"line \"",
             u"312 +",
             u"420 INTSTR ( ∇ M )",
             u"320 Σ &W =",
             u"311 Σ &W",
             u"326 Σ &L [] +=",
             u"046 Σ &S += Ω \"xy\" ;",
             u"046 Σ &V += Σ &W ;",
             u"003 + ∇ M Δ 1",
             u"022 ∇ M =",
             u"099 xJMP 1",
             u"L_2 FOR",
             u"311 Σ &S",
             u"312 +",
             u"337 [-+]",
             u"318 Σ &V < Ω \"line 1\" -> Ω \"2\" >",
             u"320 Σ &W =",
             u"311 Σ &W",
             u"326 Σ &L [] +="}),
      // The list append of a step fails (its list is unknown).
      tcode({u"311 Ω \"a\"", u"312 +", u"420 INTSTR ( Δ 5 )", u"320 Σ &W =", u"311 Σ &W", u"326 Σ &NONE [] +=",
             u"005 Δ 9", u"022 ∇ Z ="}),
      // Zones cut and stored in one go, and the ways around it: piece and
      // rest into one variable, a piece stored over its own source, a zone
      // not found, a pending case option, a pending join mark, a zone of a
      // variable that is not known.
      tcode({u"045 Σ &S = Ω \"a<b>1</b>2<b>33</b>4<B>5</B>6<b>7</b>\"",
             u"337 [++]",
             u"318 Σ &S < Ω \"<b>\" -> Ω \"</b>\" >",
             u"329 Σ &S , Σ &S =",
             u"045 Σ &V = Ω \"x<b>yy</b>z\"",
             u"337 [--]",
             u"318 Σ &V < Ω \"<b>\" -> Ω \"</b>\" >",
             u"320 Σ &V =",
             u"337 [+-]",
             u"318 Σ &S < Ω \"<x>\" -> Ω \"</x>\" >",
             u"329 Σ &V , Σ &W =",
             u"338 [^]",
             u"337 [-+]",
             u"318 Σ &S < Ω \"<b>\" -> Ω \"</b>\" >",
             u"329 Σ &V , Σ &W =",
             u"311 Σ &V",
             u"312 +",
             u"337 [++]",
             u"318 Σ &W < Ω \"<b>\" -> Ω \"</b>\" >",
             u"320 Σ &V =",
             u"337 [--]",
             u"318 Σ &W < Ω \"<b>\" -> Ω \"</b>\" >",
             u"329 Σ &V , Σ &S =",
             u"102 STRVAL Σ &V",
             u"101 xPOP",
             u"022 ∇ M =",
             u"337 [++]",
             u"318 Σ &NONE < Ω \"<b>\" -> Ω \"</b>\" >",
             u"320 Σ &W =",
             u"005 Δ 9",
             u"022 ∇ Z ="}),
      // A zone step with STRVAL of its piece, the pop and the store: blanks
      // around a number, a text that is no number, a fraction, a stack
      // already holding a value, a number beyond the largest (an error).
      tcode({u"045 Σ &S = Ω \"a 12 b\"",
             u"337 [--]",
             u"318 Σ &S < Ω \"a\" -> Ω \"b\" >",
             u"320 Σ &W =",
             u"102 STRVAL Σ &W",
             u"101 xPOP",
             u"022 ∇ M =",
             u"045 Σ &S = Ω \"ax1b\"",
             u"337 [--]",
             u"318 Σ &S < Ω \"a\" -> Ω \"b\" >",
             u"320 Σ &W =",
             u"102 STRVAL Σ &W",
             u"101 xPOP",
             u"022 ∇ T =",
             u"045 Σ &S = Ω \"a-7.5e2b\"",
             u"100 + Δ 1 Δ 3",
             u"337 [--]",
             u"318 Σ &S < Ω \"a\" -> Ω \"b\" >",
             u"320 Σ &W =",
             u"102 STRVAL Σ &W",
             u"101 xPOP",
             u"022 ∇ M =",
             u"101 xPOP",
             u"022 ∇ T =",
             u"045 Σ &S = Ω \"a1e99999b\"",
             u"337 [--]",
             u"318 Σ &S < Ω \"a\" -> Ω \"b\" >",
             u"320 Σ &W =",
             u"102 STRVAL Σ &W",
             u"101 xPOP",
             u"022 ∇ Z ="}),
      // Lines read and stored by their index, characters, copies,
      // positions, replacements and lengths, round after round: the list
      // grows, a line index runs past its end (nothing found), a line is
      // tested by index; then an unknown list is read (nothing) and stored
      // to (an error in the middle of a step).
      tcode({u"311 Ω \"abc\"",
             u"326 Σ &L [] +=",
             u"311 Ω \"second line\"",
             u"326 Σ &L [] +=",
             u"005 Δ 0",
             u"022 ∇ M =",
             u"L_1 FOR",
             u"000 ∇ M <= Δ 6",
             u"098 xFJMP 2",
             u"310 Σ &L [ ∇ M ]",
             u"320 Σ &W =",
             u"313 Σ &W < Δ 2 >",
             u"320 Σ &V =",
             u"049 SPOS ( Ω \"c\" , Σ &W )",
             u"022 ∇ T =",
             u"422 COPY ( Σ &W , Δ 2 , Δ 5 )",
             u"320 Σ &S =",
             u"406 Σ &W ~= Ω \"b\" BY Ω \"bb\" ;",
             u"311 Σ &W",
             u"312 +",
             u"311 Σ &V",
             u"322 Σ &L [ Δ 0 ] =",
             u"311 Σ &S",
             u"326 Σ &L [] +=",
             u"302 Σ &L [] . SIZE",
             u"022 ∇ Z =",
             u"102 LENGTH Σ &W",
             u"101 xPOP",
             u"022 ∇ T =",
             u"003 + ∇ M Δ 1",
             u"022 ∇ M =",
             u"099 xJMP 1",
             u"L_2 FOR",
             u"411 Σ &L [ Δ 5 ]",
             u"098 xFJMP 3",
             u"005 Δ 7",
             u"022 ∇ Z =",
             u"L_3 IF",
             u"310 Σ &NONE [ Δ 0 ]",
             u"320 Σ &W =",
             u"322 Σ &NONE [ Δ 0 ] =",
             u"005 Δ 9",
             u"022 ∇ Z ="}),
      // Statements on lines done at once, and the ways around them: lines
      // appended (short, long, and a variable the escape pass changes),
      // a counting loop reading line M and storing it to line T (a
      // fractional index), M running past the end (nothing found, the
      // rests left as a zone left them); a read with a join mark pending,
      // with a case option pending (and a line test with one), a negative
      // index, a store beyond the end, a line read then overwritten in the
      // list while the variable keeps it, a line test by a variable, NOT,
      // EACH over the lines, and the size.
      tcode({u"311 Ω \"abc\"",
             u"326 Σ &L [] +=",
             u"311 Ω \"a line longer than sixteen characters\"",
             u"326 Σ &L [] +=",
             u"045 Σ &S = Ω \"x\\ny\"",
             u"311 Σ &S",
             u"326 Σ &L [] +=",
             u"003 / Δ 3 Δ 2",
             u"022 ∇ T =",
             u"045 Σ &W = Ω \"one <b>zone</b> and its rest\"",
             u"337 [++]",
             u"318 Σ &W < Ω \"<b>\" -> Ω \"</b>\" >",
             u"005 Δ 0",
             u"022 ∇ M =",
             u"L_1 FOR",
             u"000 ∇ M <= Δ 4",
             u"098 xFJMP 2",
             u"310 Σ &L [ ∇ M ]",
             u"320 Σ &W =",
             u"311 Σ &W",
             u"322 Σ &L [ ∇ T ] =",
             u"003 + ∇ M Δ 1",
             u"022 ∇ M =",
             u"099 xJMP 1",
             u"L_2 FOR",
             u"005 Δ 0",
             u"022 ∇ M =",
             u"L_3 FOR",
             u"000 ∇ M < Δ 5",
             u"098 xFJMP 4",
             u"310 Σ &L [ ∇ M ]",
             u"320 Σ &V =",
             u"003 + ∇ M Δ 1",
             u"022 ∇ M =",
             u"099 xJMP 3",
             u"L_4 FOR",
             u"311 Ω \"p\"",
             u"312 +",
             u"310 Σ &L [ Δ 0 ]",
             u"320 Σ &W =",
             u"338 [^]",
             u"310 Σ &L [ Δ 1 ]",
             u"320 Σ &S =",
             u"338 [^]",
             u"411 Σ &L [ Δ 0 ]",
             u"003 - Δ 0 Δ 1",
             u"022 ∇ T =",
             u"310 Σ &L [ ∇ T ]",
             u"320 Σ &V =",
             u"311 Ω \"z\"",
             u"322 Σ &L [ Δ 99 ] =",
             u"310 Σ &L [ Δ 2 ]",
             u"320 Σ &V =",
             u"311 Ω \"new\"",
             u"322 Σ &L [ Δ 2 ] =",
             u"046 Σ &V += Ω \"!\" ;",
             u"411 Σ &L [ ∇ T ]",
             u"098 xFJMP 5",
             u"005 Δ 1",
             u"022 ∇ Z =",
             u"L_5 IF",
             u"411 NOT Σ &L [ Δ 2 ]",
             u"098 xFJMP 6",
             u"005 Δ 2",
             u"022 ∇ Z =",
             u"L_6 IF",
             u"005 Δ 0",
             u"022 ∇ M =",
             u"L_7 EACH",
             u"302 Σ &L [] . SIZE",
             u"109 ∇ M <",
             u"098 xFJMP 8",
             u"411 Σ &L [ ∇ M ]",
             u"098 xFJMP 9",
             u"005 Δ 1",
             u"023 ∇ Z +=",
             u"L_9 IF",
             u"003 + ∇ M Δ 1",
             u"022 ∇ M =",
             u"099 xJMP 7",
             u"L_8 EACH",
             u"302 Σ &L [] . SIZE",
             u"022 ∇ T ="}),
  };
  const Lines numbers = {u"M", u"T", u"Z"}, strings = {u"&S", u"&V", u"&W"};
  Lines names = numbers;
  names.insert(names.end(), strings.begin(), strings.end());
  names.push_back(u"&L");
  for (std::size_t p = 0; p < programs.size(); ++p) {
    auto see = [&] {
      const TTaskInfo &t = e.tasks[0];
      SeenText s{t.WORK,
                 t.INSTP,
                 int(t.state),
                 e.last.position,
                 e.last.code,
                 t.CalcIndex,
                 e.calcStack[0][std::size_t(t.CalcIndex + 1)],
                 e.passCount,
                 {},
                 {},
                 t.STR_WORK.str(),
                 t.STR_REM.str(),
                 t.LIST_INC,
                 {},
                 e.vars[e.vars.find(0, u"&L")].StrList.lines()};
      for (const u16 &n : numbers) s.numbers.push_back(e.vars[e.vars.find(0, n)].Val1);
      for (const u16 &n : strings) s.strings.push_back(e.vars[e.vars.find(0, n)].StrVal.str());
      for (const u16 &line : e.console.lines()) s.console += line + u"\n";
      return s;
    };
    auto start = [&] { startAfresh(programs[p], names); };
    e.setFastForms(false);
    start();
    std::vector<SeenText> single;
    const FormHits before = e.formHits;
    while (e.running && e.anyRunnable() && single.size() < 500) {
      e.runPasses(1);
      single.push_back(see());
    }
    expectOnlyFamilyHandlers(before);
    e.setFastForms(true);
    ASSERT_LT(single.size(), 500u);
    if (p == 0) {
      EXPECT_EQ(var(u"T").Val1, 49.0L);  // 12 + 7 + 30: the cells were cut and read
    }
    if (p == 7) {
      // Two lines, then one appended in each of the seven rounds.
      EXPECT_EQ(var(u"&L").StrList.size(), 9u);
      EXPECT_EQ(var(u"Z").Val1, 7.0L);  // line 5 was there; the store to &NONE failed
    }
    if (p == 8) {
      // Line 1 (index 1.5) took each line read in turn; line 2 (escaped
      // on its way in) was overwritten after &V read it.
      EXPECT_EQ(var(u"&L").StrList.lines(), (Lines{u"abc", u"", u"new"}));
      EXPECT_EQ(var(u"&V").StrVal, u"x\ny!");
      EXPECT_EQ(var(u"&W").StrVal, u"pabc");
      EXPECT_EQ(var(u"T").Val1, 3.0L);
      EXPECT_EQ(var(u"Z").Val1, 2.0L);  // neither line test held; EACH found two lines not empty
    }
    if (p == 3) {
      EXPECT_EQ(var(u"&L").StrList.size(), 13u);
      EXPECT_EQ(var(u"&S").StrVal.size(), 24u);
      EXPECT_EQ(var(u"&W").StrVal, u"xyxyxyxyxyxyxyxyxyxyxyxyline 2");
    }
    std::size_t steps = 0;
    const std::vector<HotRecord> &hot = e.hot[std::size_t(e.tasks[0].PcodeListNo)];
    for (std::size_t i = 0; i < hot.size(); ++i)
      steps += hot[i].pair && (hot[i].step == Form::TextStep || hot[i].step == Form::ZoneStep ||
                               hot[i].step == Form::LineRead || hot[i].step == Form::LinePut);
    EXPECT_GE(steps, 2u) << "program " << p;
    for (std::size_t k = 1; k <= single.size(); ++k) {
      start();
      long done = 0;
      while (done < long(k) && e.running && e.anyRunnable()) done += e.runPasses(long(k) - done);
      ASSERT_TRUE(see() == single[k - 1]) << "program " << p << " after " << k << " passes";
    }
    // Batches larger than the whole run (steps never cut short) end where
    // the single passes end, an error on the way included.
    start();
    const long all = long(single.size()) + 8;
    long done = 0;
    while (done < all && e.running && e.anyRunnable()) done += e.runPasses(all - done);
    ASSERT_TRUE(see() == single.back()) << "program " << p << " in batches beyond its end";
  }
}

namespace {

// Everything of every slot a pass can change that a program or the debugger
// can see, when several tasks run.
struct SeenAll {
  std::vector<Seen> tasks;
  int lastTask, lastPosition, lastCode;
  long passCount;
  u16 console;
  bool operator==(const SeenAll &) const = default;
};

}  // namespace

// Tasks side by side run their isolated records task by task; after any
// number of passes in a batch everything must be as one record per task per
// pass leaves it: with failures, with a task that writes a shared variable
// another reads, and with a task that prints.
TEST_F(Dispatch, TasksSideBySideShowTheSameStateAfterEveryPassAsOneRecordPerTask) {
  std::vector<std::vector<Lines>> groups;
  for (const Lines &p : fused_programs()) groups.push_back({p, p, p});
  const std::vector<Lines> programs = fused_programs();
  // Different programs side by side, the shortest first.
  groups.push_back({programs[1], programs[0], programs[4], programs[9]});
  groups.push_back({programs[9], programs[10], programs[12], programs[13]});
  // G is shared: one task adds to it in a loop, the other copies it.
  const Lines writer = tcode({u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 9", u"098 xFJMP 2", u"005 Δ 1",
                              u"023 ∇ G +=", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"});
  const Lines reader =
      tcode({u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 9", u"098 xFJMP 2", u"005 ∇ G", u"022 ∇ M =",
             u"005 ∇ M", u"023 ∇ S +=", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"});
  const Lines printer = tcode({u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 6", u"098 xFJMP 2", u"005 ∇ I",
                               u"023 ∇ S +=", u"043 MOD ( ∇ I , Δ 3 )", u"022 ∇ M =", u"000 ∇ M = Δ 0", u"095 xTJMP 3",
                               u"752 ?? ∇ S ;", u"L_3 IF", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"});
  groups.push_back({writer, reader, programs[0]});
  groups.push_back({programs[0], printer, programs[4]});
  // A loop counting on G that goes on while G > 2^63 - 1 (or G < -2^63),
  // which only a value beyond the integers passes: another task sets G
  // there, lets the first comparison pass, then sets G one step short of
  // -2^63 (2^63 - 1) and ends. The step then lands on the integer at the
  // far end, for which the comparison leaves the loop: the first task,
  // now alone, must not run another round.
  for (const bool up : {true, false}) {
    Lines counting = {u"005 Δ 0",
                      u"005 Δ 0",
                      u"005 Δ 0",
                      u"L_1 FOR",
                      up ? u"000 ∇ G > Δ 9223372036854775807" : u"000 ∇ G < xN 9223372036854775808",
                      u"098 xFJMP 2",
                      u"005 Δ 1",
                      u"023 ∇ S +=",
                      up ? u"003 + ∇ G Δ 1" : u"003 - ∇ G Δ 1",
                      u"022 ∇ G =",
                      u"099 xJMP 1",
                      u"L_2 FOR"};
    for (int k = 0; k < 12; ++k) counting.push_back(u"005 Δ 7");
    const Lines setter = {up ? u"005 Δ 9223372036854775808" : u"005 xN 9223372036854775809",
                          u"022 ∇ G =",
                          u"005 Δ 0",
                          u"005 Δ 0",
                          u"005 Δ 0",
                          up ? u"005 xN 9223372036854775809" : u"005 Δ 9223372036854775808",
                          u"022 ∇ G ="};
    groups.push_back({tcode(counting), tcode(setter)});
  }
  const Lines names = {u"I", u"M", u"S", u"Z"};
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const auto &group = groups[g];
    auto see = [&] {
      SeenAll all{{}, e.last.task, e.last.position, e.last.code, long(e.passCount), {}};
      for (std::size_t slot = 0; slot < group.size(); ++slot) {
        const TTaskInfo &t = e.tasks[slot];
        Seen s{t.WORK, t.FLAG, t.INSTP, int(t.state), 0, 0, t.STACKP, 0, {}, {}};
        for (const u16 &n : names) s.vars.push_back(e.vars[e.vars.find(int(slot), n)].Val1);
        all.tasks.push_back(s);
      }
      all.tasks.back().vars.push_back(e.vars[e.vars.find(0, u"G")].Val1);
      for (const u16 &line : e.console.lines()) all.console += line + u"\n";
      return all;
    };
    auto start = [&] {
      e.releaseAllSlots();
      for (int s = 0; s < kSlots; ++s) e.vars.releaseSlot(s);
      e.console.clear();
      e.passCount = 0;
      for (const Lines &p : group) load(p, names, {u"G"});
      e.runReset();
      ASSERT_FALSE(e.linkAll());
      e.running = true;
    };
    e.setFastForms(false);
    start();
    std::vector<SeenAll> single;
    const FormHits before = e.formHits;
    while (e.running && e.anyRunnable() && single.size() < 800) {
      e.runPasses(1);
      single.push_back(see());
    }
    expectOnlyFamilyHandlers(before);
    e.setFastForms(true);
    ASSERT_LT(single.size(), 800u);
    for (std::size_t k = 1; k <= single.size(); ++k) {
      start();
      long done = 0;
      while (done < long(k) && e.running && e.anyRunnable()) done += e.runPasses(long(k) - done);
      ASSERT_TRUE(see() == single[k - 1]) << "group " << g << " after " << k << " passes";
    }
  }
  // The last group ran records task by task (the test would not show a
  // difference otherwise): its writes were isolated records.
  EXPECT_TRUE(e.hot[std::size_t(e.tasks[0].PcodeListNo)][1].isolated);
}

namespace {

// A random program of whole and fractional numbers for the hot forms that
// compute on integers (calculation and store, load and compound assignment,
// load and store, counting loops with a one-statement body), and the same
// computation in long double beside it.
struct RandomProgram {
  Lines code;
  std::array<long double, 4> expected{};
  bool finite = true;  // the long double computation never left the finite numbers
};

u16 ascii(const std::string &s) { return u16(s.begin(), s.end()); }

RandomProgram random_program(std::mt19937_64 &rng) {
  static const char16_t *const kNames[] = {u"A", u"B", u"C", u"D"};
  static const std::vector<std::string> kConstants = {"0",
                                                      "1",
                                                      "2",
                                                      "3",
                                                      "7",
                                                      "10",
                                                      "255",
                                                      "65536",
                                                      "4294967296",
                                                      "3037000499",
                                                      "3037000500",
                                                      "9007199254740993",
                                                      "4611686018427387904",
                                                      "9223372036854775807",
                                                      "9223372036854775808",
                                                      "18446744073709551616",
                                                      "0.5",
                                                      "0.25",
                                                      "1.5",
                                                      "0.1",
                                                      "1e19",
                                                      "1e-3",
                                                      "123456789012345678"};
  auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
  RandomProgram p;
  std::array<long double, 4> &v = p.expected;
  // A constant operand: its T-code text and value, as the loader reads it.
  auto constant = [&](u16 &text, long double &value) {
    const std::string &digits = kConstants[pick(kConstants.size())];
    const bool negative = rng() % 3 == 0;
    text = (negative ? u16(u"xN ") : u16(u"Δ ")) + ascii(digits);
    parse_number(ascii(digits), value);
    if (negative) value = -value;
  };
  auto apply = [&](char op, long double a, long double b) {
    const long double r = op == '+' ? a + b : op == '-' ? a - b : a * b;
    if (!std::isfinite(r)) p.finite = false;
    return r;
  };
  const char ops[] = {'+', '-', '*'};
  auto opText = [](char op) { return u16(1, char16_t(op)); };
  for (int k = 0; k < 4; ++k) {
    u16 text;
    constant(text, v[std::size_t(k)]);
    p.code.push_back(u"005 " + text);
    p.code.push_back(u"022 ∇ " + u16(kNames[k]) + u" =");
  }
  int label = 1;
  for (int statement = 0; statement < 12 && p.finite; ++statement) {
    const std::size_t x = pick(4), y = pick(4), z = pick(4);
    const char op = ops[pick(3)];
    switch (pick(5)) {
      case 4: {  // X = MOD(Y, a constant that does not truncate to 0)
        u16 text;
        long double b;
        do constant(text, b);
        while (truncate_to_int64(b) == 0);
        p.code.push_back(u"043 MOD ( ∇ " + u16(kNames[y]) + u" , " + text + u" )");
        p.code.push_back(u"022 ∇ " + u16(kNames[x]) + u" =");
        const int64_t a = truncate_to_int64(v[y]), d = truncate_to_int64(b);
        v[x] = d == -1 ? 0 : static_cast<long double>(a % d);
        break;
      }
      case 0: {  // X = Y op (Z or a constant)
        u16 text = u"∇ " + u16(kNames[z]);
        long double b = v[z];
        if (rng() % 2) constant(text, b);
        p.code.push_back(u"003 " + opText(op) + u" ∇ " + kNames[y] + u" " + text);
        p.code.push_back(u"022 ∇ " + u16(kNames[x]) + u" =");
        v[x] = apply(op, v[y], b);
        break;
      }
      case 1:  // X op= Y
        p.code.push_back(u"005 ∇ " + u16(kNames[y]));
        p.code.push_back(u"023 ∇ " + u16(kNames[x]) + u" " + opText(op) + u"=");
        v[x] = op == '+' ? apply(op, v[y], v[x]) : apply(op, v[x], v[y]);
        break;
      case 2:  // X = Y
        p.code.push_back(u"005 ∇ " + u16(kNames[y]));
        p.code.push_back(u"022 ∇ " + u16(kNames[x]) + u" =");
        v[x] = v[y];
        break;
      default: {  // FOR X = start TO E STEP k: Y op= X or Y = Y op X (Y differs from X)
        const std::size_t body = (x + 1 + pick(3)) % 4;
        u16 startText, stepText, endText;
        long double start, step, end;
        constant(startText, start);
        do constant(stepText, step);
        while (!(step > 0) || step > 1e6L);
        // The bound, a constant near start + step * (0..11), goes to E first.
        do constant(endText, end);
        while (!(end >= start) || end > start + step * 11);
        int rounds = 0;  // a step lost in the start's rounding would never end
        for (long double i = start; i <= end && rounds <= 13; i += step) ++rounds;
        if (rounds > 13) break;
        const u16 head = ascii(std::to_string(label++)), exit = ascii(std::to_string(label++));
        const u16 name = kNames[x], target = kNames[body];
        // The body as a compound assignment (Y op= X) or a calculation (Y = Y op X).
        const bool compound = rng() % 2;
        const u16 bodyFirst = compound ? u"005 ∇ " + name : u"003 " + opText(op) + u" ∇ " + target + u" ∇ " + name;
        const u16 bodySecond = compound ? u"023 ∇ " + target + u" " + opText(op) + u"=" : u"022 ∇ " + target + u" =";
        p.code.insert(p.code.end(), {u"005 " + endText, u"022 ∇ E =", u"005 " + startText, u"022 ∇ " + name + u" =",
                                     u"L_" + head + u" FOR", u"000 ∇ " + name + u" <= ∇ E", u"098 xFJMP " + exit,
                                     bodyFirst, bodySecond, u"003 + ∇ " + name + u" " + stepText,
                                     u"022 ∇ " + name + u" =", u"099 xJMP " + head, u"L_" + exit + u" FOR"});
        long double i = start;
        while (p.finite && i <= end) {
          v[body] = op == '+' ? apply(op, i, v[body]) : apply(op, v[body], i);
          i = apply('+', i, step);
        }
        v[x] = i;
        break;
      }
    }
  }
  return p;
}

}  // namespace

// Variables hold whole numbers as integers beside their long double, and the
// hot forms compute on the integers while that is exact: every stored value
// must be, bit for bit (the sign of zero included), what long double
// arithmetic gives, and the integer form must always match it.
TEST_F(Dispatch, WholeNumbersOnIntegersGiveTheLongDoubleResultsBitForBit) {
  std::mt19937_64 rng(29);
  const Lines names = {u"A", u"B", u"C", u"D", u"E"};
  int compared = 0, integral = 0;
  for (int n = 0; n < 600; ++n) {
    const RandomProgram p = random_program(rng);
    if (!p.finite) continue;
    Lines code;
    for (std::size_t k = 0; k < p.code.size(); ++k) {
      const u16 number = ascii(std::to_string(k + 1));
      code.push_back(u16(5 - number.size(), u'0') + number + u" " + p.code[k]);
    }
    execute(code, names);
    ASSERT_FALSE(e.errorFlag) << "program " << n << ": " << e.errorMessage.size();
    ++compared;
    for (int k = 0; k < 4; ++k) {
      const VarNumber &x = var(names[std::size_t(k)].c_str()).Val1;
      const long double want = p.expected[std::size_t(k)];
      ASSERT_EQ(std::memcmp(&x.value, &want, 10), 0)
          << "program " << n << " variable " << k << ": " << double(x.value) << " against " << double(want);
      if (x.isWhole) {
        ++integral;
        ASSERT_EQ(static_cast<long double>(x.whole), x.value) << "program " << n;
        ASSERT_FALSE(x.whole == 0 && std::signbit(x.value)) << "program " << n;
      } else {
        int64_t w;
        ASSERT_FALSE(whole_of(x.value, w)) << "program " << n << ": a whole number without its integer";
      }
    }
  }
  EXPECT_GT(compared, 450);
  EXPECT_GT(integral, 600);  // the integer forms were in use
}

TEST(WholeOf, ExactlyTheIntegersOfSixtyFourBitsWithoutNegativeZero) {
  int64_t w = 7;
  EXPECT_TRUE(whole_of(0.0L, w) && w == 0);
  EXPECT_FALSE(whole_of(-0.0L, w));
  EXPECT_TRUE(whole_of(-3.0L, w) && w == -3);
  EXPECT_FALSE(whole_of(0.5L, w));
  EXPECT_FALSE(whole_of(9007199254740992.5L, w));
  EXPECT_TRUE(whole_of(9007199254740993.0L, w) && w == 9007199254740993LL);  // beyond double
  EXPECT_TRUE(whole_of(-0x1p63L, w) && w == INT64_MIN);
  EXPECT_FALSE(whole_of(0x1p63L, w));
  EXPECT_TRUE(whole_of(0x1p63L - 1, w) && w == INT64_MAX);
  EXPECT_FALSE(whole_of(std::numeric_limits<long double>::infinity(), w));
  EXPECT_FALSE(whole_of(std::numeric_limits<long double>::quiet_NaN(), w));
}

// The hot loops write a whole number's long double as bits and copy numbers
// by their bytes: the same ten bytes as the conversion and the assignment,
// at every magnitude, both signs, the ends of 64 bits and -0 included.
TEST(NumberBits, AWholeNumberWrittenAsBitsIsItsConversion) {
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_TRUE(arith::kExtended80);  // the bits are written, not converted
#endif
  auto same = [](long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; };
  std::vector<int64_t> values = {0, 1, -1, 2, -2, 3, INT64_MAX, INT64_MIN, INT64_MIN + 1, INT64_MAX - 1};
  for (int k = 0; k < 63; ++k)
    for (int64_t d : {-1, 0, 1}) {
      values.push_back((int64_t(1) << k) + d);
      values.push_back(-(int64_t(1) << k) - d);
    }
  std::mt19937_64 rng(11);
  for (int i = 0; i < 100000; ++i) values.push_back(int64_t(rng() >> (rng() % 64)) * (rng() % 2 ? 1 : -1));
  for (int64_t w : values) {
    long double bits = 12345.0L;
    arith::set_number_of(bits, w);
    ASSERT_TRUE(same(bits, static_cast<long double>(w))) << w;
  }
  for (long double v : {-0.0L, 0.0L, 1e4000L, -std::numeric_limits<long double>::infinity(), 0.1L}) {
    long double copy = 1;
    arith::copy_number(copy, v);
    EXPECT_TRUE(same(copy, v));
  }
}

// The list of fast forms: what it says of each form, that every form is
// taken where it should be (counted by Machine::formHits), that the
// reference mode takes none, and what the listing says.
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "engine/listing.h"
#include "engine/tests/machine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

class FastForms : public velmora::testing::MachineTest {
 protected:
  // Runs a program afresh in batches of `batch` passes and returns how
  // often each form was taken.
  FormHits hitsOf(const Lines &code, const Lines &names, long batch) {
    e.releaseAllSlots();
    for (int s = 0; s < kSlots; ++s) e.vars.releaseSlot(s);
    load(code, names);
    e.runReset();
    EXPECT_FALSE(e.linkAll());
    e.running = true;
    const FormHits before = e.formHits;
    long passes = 0;
    while (e.running && e.anyRunnable() && passes < 100000) passes += e.runPasses(batch);
    EXPECT_FALSE(e.errorFlag) << text::to_utf8(e.errorMessage);
    FormHits hits{};
    for (std::size_t f = 0; f < kFormCount; ++f) hits[f] = e.formHits[f] - before[f];
    return hits;
  }
};

// A counting loop of five rounds around the body, the counter I.
Lines loop(std::initializer_list<const char16_t *> body) {
  Lines code = {u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR", u"000 ∇ I <= Δ 5", u"098 xFJMP 2"};
  code.insert(code.end(), body.begin(), body.end());
  code.insert(code.end(), {u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"});
  return tcode(code);
}

}  // namespace

TEST(FormList, NamesEveryFormOnceWithItsRecordsGuardAndFallback) {
  std::set<std::string> names;
  for (const FormInfo &f : kForms) {
    EXPECT_TRUE(names.insert(f.name).second) << f.name;
    EXPECT_NE(std::string(f.records), "") << f.name;
    EXPECT_NE(std::string(f.guard), "") << f.name;
    EXPECT_NE(std::string(f.fallback), "") << f.name;
  }
  // docs/architecture.md names every form, so that the list there is the
  // list here.
  std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/docs/architecture.md");
  ASSERT_TRUE(in) << "docs/architecture.md";
  std::stringstream docs;
  docs << in.rdbuf();
  for (const FormInfo &f : kForms)
    EXPECT_TRUE(docs.str().find("`" + std::string(f.name) + "`") != std::string::npos)
        << f.name << " is not described in docs/architecture.md";
}

// Each form is taken by the records it covers: single records in passes of
// one record, steps and rounds in batches.
TEST_F(FastForms, EachFormIsTakenWhereItShouldBe) {
  const Lines names = {u"A", u"B", u"C", u"D", u"I", u"M", u"S", u"&W", u"&S", u"&V"};
  struct Case {
    const char *what;
    Lines code;
    std::vector<Form> singly, batched;
  };
  const std::vector<Case> cases = {
      {"statements",
       tcode({u"005 Δ 1",
              u"022 ∇ A =",
              u"005 Δ 2",
              u"023 ∇ A +=",
              u"003 + ∇ A Δ 1",
              u"022 ∇ B =",
              u"043 MOD ( ∇ B , Δ 3 )",
              u"022 ∇ M =",
              u"100 + ∇ A ∇ B",
              u"101 xPOP",
              u"022 ∇ C =",
              u"100 * ∇ A Δ 2",
              u"101 xPOP",
              u"100 + ∇ A Δ 1",
              u"100 - xPOP xDMY Δ 1",
              u"101 xPOP",
              u"022 ∇ D =",
              u"000 ∇ A < Δ 3",
              u"109 Δ 4 < Δ 0",
              u"099 xJMP 999999",
              u"005 Δ 0"}),
       {Form::Load, Form::Store, Form::Compound, Form::Binary, Form::Mod, Form::Push, Form::PushPopped, Form::LoadPop,
        Form::Compare, Form::CompareWork, Form::Nothing},
       {Form::LoadStore, Form::LoadCompound, Form::CalcStore, Form::ModStore, Form::PushPopStore, Form::PushPop,
        Form::PushPopped, Form::PopStore, Form::Compare, Form::CompareWork}},
      {"a loop of one statement",
       loop({u"005 ∇ I", u"023 ∇ S +="}),
       {Form::Jump},
       {Form::CompareJump, Form::LoopStep, Form::WholeRounds}},
      {"a loop of two statements",
       loop({u"005 ∇ I", u"023 ∇ S +=", u"043 MOD ( ∇ I , Δ 3 )", u"022 ∇ M ="}),
       {},
       {Form::LoopRounds}},
      {"a loop of an expression and an IF",
       loop({u"100 * ∇ I Δ 2", u"100 + ∇ S xPOP xDMY", u"101 xPOP", u"022 ∇ S =", u"000 ∇ S > Δ 9", u"098 xFJMP 3",
             u"005 Δ 1", u"023 ∇ M +=", u"L_3 IF"}),
       {},
       {Form::LoopRounds}},
      {"a loop that calls",
       tcode({u"902 xFUNC", u"F_F", u"005 Δ 1", u"023 ∇ S +=", u"096 xRET", u"005 Δ 1", u"022 ∇ I =", u"L_1 FOR",
              u"000 ∇ I <= Δ 5", u"098 xFJMP 2", u"097 CALL xFNAME F", u"005 ∇ I", u"023 ∇ M +=", u"003 + ∇ I Δ 1",
              u"022 ∇ I =", u"099 xJMP 1", u"L_2 FOR"}),
       {},
       {Form::LoopStep, Form::BodyRounds}},
      {"a call",
       tcode({u"902 xFUNC", u"F_F", u"005 Δ 1", u"023 ∇ S +=", u"096 xRET", u"097 CALL xFNAME F", u"005 Δ 1"}),
       {Form::Call, Form::Ret},
       {Form::CallBody}},
      {"strings",
       tcode({u"045 Σ &S = Ω \"a<b>1</b>c\"", u"311 Ω \"line \"", u"312 +", u"420 INTSTR ( Δ 5 )", u"320 Σ &W =",
              u"005 Δ 1", u"337 [--]", u"318 Σ &S < Ω \"<b>\" -> Ω \"</b>\" >", u"320 Σ &V =", u"102 STRVAL Σ &V",
              u"101 xPOP", u"022 ∇ A =", u"005 Δ 1"}),
       {},
       {Form::TextStep, Form::ZoneStep}},
      {"statements on lines",
       tcode({u"311 Ω \"first\"", u"326 Σ &V [] +=", u"005 Δ 0", u"022 ∇ I =", u"311 Σ &S",
              u"322 Σ &V [ Δ 0 ] =", u"005 Δ 0", u"022 ∇ A =", u"310 Σ &V [ ∇ I ]", u"320 Σ &W =", u"005 Δ 1",
              u"022 ∇ B =", u"411 Σ &V [ Δ 0 ]", u"302 Σ &V [] . SIZE", u"005 Δ 1"}),
       {Form::LineState, Form::ListSize},
       {Form::LinePut, Form::LineRead, Form::LineState, Form::ListSize}},
      {"a loop of a line read", loop({u"310 Σ &V [ ∇ I ]", u"320 Σ &W ="}), {}, {Form::LineRounds}},
      {"EACH over a list's lines",
       tcode({u"311 Ω \"x\"", u"326 Σ &V [] +=", u"311 Ω \"\"", u"326 Σ &V [] +=", u"005 Δ 0", u"022 ∇ I =",
              u"L_1 EACH", u"302 Σ &V [] . SIZE", u"109 ∇ I <", u"098 xFJMP 2", u"411 Σ &V [ ∇ I ]", u"098 xFJMP 3",
              u"005 Δ 1", u"023 ∇ S +=", u"L_3 IF", u"003 + ∇ I Δ 1", u"022 ∇ I =", u"099 xJMP 1", u"L_2 EACH"}),
       {Form::ListSize, Form::LineState, Form::CompareWork},
       {Form::LoopRounds}},
      {"a loop appending and testing lines",
       loop({u"311 Ω \"x\"", u"326 Σ &V [] +=", u"411 Σ &V [ ∇ I ]", u"098 xFJMP 3", u"005 Δ 1", u"023 ∇ S +=",
             u"L_3 IF"}),
       {},
       {Form::LoopRounds}},
  };
  for (const Case &c : cases) {
    const FormHits singly = hitsOf(c.code, names, 1), batched = hitsOf(c.code, names, 1000);
    for (Form f : c.singly) EXPECT_GT(singly[std::size_t(f)], 0u) << c.what << ": " << form_info(f).name;
    for (Form f : c.batched) EXPECT_GT(batched[std::size_t(f)], 0u) << c.what << ": " << form_info(f).name;
  }
  // Whole rounds count their rounds: the first round runs record by record
  // up to the loop step, the other four in registers.
  const FormHits rounds = hitsOf(loop({u"005 ∇ I", u"023 ∇ S +="}), names, 1000);
  EXPECT_EQ(rounds[std::size_t(Form::WholeRounds)], 4u);
  EXPECT_EQ(var(u"S").Val1, 15.0L);
  // Rounds from the head count every round they start, the last (which
  // leaves the loop) included.
  const FormHits loopRounds =
      hitsOf(loop({u"005 ∇ I", u"023 ∇ S +=", u"043 MOD ( ∇ I , Δ 3 )", u"022 ∇ M ="}), names, 1000);
  EXPECT_EQ(loopRounds[std::size_t(Form::LoopRounds)], 6u);
  EXPECT_EQ(var(u"S").Val1, 15.0L);
  EXPECT_EQ(var(u"M").Val1, 2.0L);
  // A loop of one line read counts its rounds as whole rounds do, and
  // leaves the variable, the register and the counter as the records do.
  const Lines fill = tcode({u"311 Ω \"a\"", u"326 Σ &V [] +=", u"311 Ω \"line b, longer than a handle\"",
                            u"326 Σ &V [] +=", u"311 Ω \"\"", u"326 Σ &V [] +=", u"311 Ω \"d\"", u"326 Σ &V [] +="});
  Lines reads = fill;
  const Lines body = loop({u"310 Σ &V [ ∇ I ]", u"320 Σ &W ="});
  reads.insert(reads.end(), body.begin(), body.end());
  const FormHits lineRounds = hitsOf(reads, names, 1000);
  EXPECT_EQ(lineRounds[std::size_t(Form::LineRounds)], 4u);
  EXPECT_EQ(var(u"I").Val1, 6.0L);
  EXPECT_EQ(var(u"&W").StrVal, u"");  // line 5 is beyond the list's end: nothing
  EXPECT_EQ(e.tasks[0].STR_WORK, u"");
  // Line 1 read by the second round, the first of the rounds in a register.
  const Lines once = loop({u"310 Σ &V [ Δ 1 ]", u"320 Σ &W ="});
  Lines readOne = fill;
  readOne.insert(readOne.end(), once.begin(), once.end());
  hitsOf(readOne, names, 1000);
  EXPECT_EQ(var(u"&W").StrVal, u"line b, longer than a handle");
  EXPECT_TRUE(var(u"&W").StrVal.sharesBufferWith(e.tasks[0].STR_WORK));
}

TEST_F(FastForms, TheReferenceModeRunsEveryRecordThroughItsFamilyHandler) {
  const Lines code = loop({u"005 ∇ I", u"023 ∇ S +=", u"043 MOD ( ∇ I , Δ 3 )", u"022 ∇ M ="});
  e.setFastForms(false);
  const FormHits hits = hitsOf(code, {u"I", u"S", u"M"}, 1000);
  for (std::size_t f = 0; f < kFormCount; ++f)
    if (Form(f) != Form::Family) {
      EXPECT_EQ(hits[f], 0u) << kForms[f].name;
    }
  // Every record but the labels, one per pass: 2 + 5 rounds of 9 + the last
  // comparison and its jump.
  EXPECT_EQ(hits[std::size_t(Form::Family)], 2u + 5 * 9 + 2);
  for (const HotRecord &h : e.hot[std::size_t(e.tasks[0].PcodeListNo)]) {
    EXPECT_FALSE(h.fast());
    EXPECT_EQ(h.pair, nullptr);
  }
  EXPECT_EQ(var(u"S").Val1, 15.0L);
  // Back on, the same list takes its forms again: the loop runs whole
  // rounds from its head.
  e.setFastForms(true);
  EXPECT_EQ(e.hot[std::size_t(e.tasks[0].PcodeListNo)][3].step, Form::LoopRounds);
}

TEST(ReferenceMode, VelmoraNoFastFormsStartsAMachineWithoutThem) {
  ASSERT_EQ(setenv("VELMORA_NO_FAST_FORMS", "1", 1), 0);
  auto off = std::make_unique<Machine>();
  ASSERT_EQ(setenv("VELMORA_NO_FAST_FORMS", "0", 1), 0);
  auto on = std::make_unique<Machine>();
  unsetenv("VELMORA_NO_FAST_FORMS");
  EXPECT_FALSE(off->fastForms());
  EXPECT_TRUE(on->fastForms());
  EXPECT_TRUE(std::make_unique<Machine>()->fastForms());
}

// The listing says which form each record takes, the step that starts at
// it and the rounds a loop step goes on to; labels say nothing.
TEST_F(FastForms, TheListingNamesTheFormsOfEachRecord) {
  const int slot = load(loop({u"005 ∇ I", u"023 ∇ S +="}), {u"I", u"S"});
  e.runReset();
  ASSERT_FALSE(e.linkAll());
  const Lines forms = form_listing(e, slot);
  ASSERT_EQ(forms.size(), 11u);
  EXPECT_EQ(forms[0], u"load, step load_store");
  EXPECT_EQ(forms[2], u"");  // L_1
  EXPECT_EQ(forms[3], u"compare, step compare_jump");
  EXPECT_EQ(forms[4], u"jump");
  EXPECT_EQ(forms[5], u"load, step load_compound");
  EXPECT_EQ(forms[7], u"binary, step loop_step, whole_rounds");
  e.setFastForms(false);
  EXPECT_EQ(form_listing(e, slot)[7], u"family");
}

// Statements on lines are named with their steps, and a counting loop of
// one line read with the rounds its step goes on to.
TEST_F(FastForms, TheListingNamesTheStatementsOnLines) {
  const int slot = load(loop({u"310 Σ &V [ ∇ I ]", u"320 Σ &W ="}), {u"I", u"&V", u"&W"});
  e.runReset();
  ASSERT_FALSE(e.linkAll());
  const Lines forms = form_listing(e, slot);
  ASSERT_EQ(forms.size(), 11u);
  EXPECT_EQ(forms[5], u"family, step line_read of 2 records");
  EXPECT_EQ(forms[7], u"binary, step loop_step, line_rounds");
}

// A running timer is served once per batch and then every few thousand
// passes, not at every pass: the passes between take their fast forms, and
// the timer still interrupts its owner once it is due.
TEST_F(FastForms, ARunningTimerLeavesTheFastFormsOnAndStillInterrupts) {
  double now = 0;
  long clockReads = 0;
  e.clock = [&] {
    ++clockReads;
    return now;
  };
  // TIMER "T", SET, 5, "H"; TIMER "T", START; then 100,000 rounds of
  // S += I; M = MOD(I, 3); the handler counts its calls in C.
  Lines code = {u"081 TIMER Ω \"T\" , SET , Δ 5 , Ω \"H\"",
                u"082 TIMER Ω \"T\" , START",
                u"902 xFUNC",
                u"F_H",
                u"005 Δ 1",
                u"023 ∇ C +=",
                u"083 INTRET",
                u"096 xRET",
                u"005 Δ 1",
                u"022 ∇ I =",
                u"L_1 FOR",
                u"000 ∇ I <= Δ 100000",
                u"098 xFJMP 2",
                u"005 ∇ I",
                u"023 ∇ S +=",
                u"043 MOD ( ∇ I , Δ 3 )",
                u"022 ∇ M =",
                u"003 + ∇ I Δ 1",
                u"022 ∇ I =",
                u"099 xJMP 1",
                u"L_2 FOR"};
  load(tcode(code), {u"I", u"S", u"M", u"C"});
  e.runReset();
  ASSERT_FALSE(e.linkAll());
  e.running = true;
  const FormHits before = e.formHits;
  // The timer is not due: 300,000 passes in batches of 100,000 read the
  // clock a few hundred times, and the rounds run from the loop's head.
  long passes = 0;
  while (passes < 300000) passes += e.runPasses(100000);
  EXPECT_TRUE(e.anyTimerRunning);
  EXPECT_LE(clockReads, 300000 / 16384 + 10);
  EXPECT_GE(e.formHits[std::size_t(Form::LoopRounds)] - before[std::size_t(Form::LoopRounds)], 30000u);
  EXPECT_EQ(var(u"C").Val1, 0.0L);
  // Due now: it fires at the next batch, the handler runs once and the
  // loop goes on where it was.
  now = 10;
  const long double sumBefore = var(u"S").Val1;
  passes = e.runPasses(100000);
  EXPECT_EQ(e.timers[0].fireCount, 1);
  EXPECT_EQ(var(u"C").Val1, 1.0L);
  EXPECT_FALSE(e.tasks[0].IntProcess);
  EXPECT_GT(var(u"S").Val1, sumBefore);
  // The run ends with its loop.
  while (e.running && e.anyRunnable()) e.runPasses(100000);
  EXPECT_EQ(var(u"S").Val1, 5000050000.0L);
  EXPECT_FALSE(e.errorFlag);
}

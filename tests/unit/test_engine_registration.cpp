// Registering compiled programs in slots: all or nothing.
#include "tests/unit/engine_fixture.h"

namespace velmora::testing {
namespace {

Lines names(const char16_t *prefix, int count) {
  Lines out;
  for (int i = 0; i < count; ++i) out.push_back(u16(prefix) + text::int16(i));
  return out;
}

int loadedSlots(const engine::Engine &e) {
  int n = 0;
  for (int s = 0; s < engine::kSlots; ++s) n += e.task(s).state != engine::tsEMPTY;
  return n;
}

using Registration = EngineTest;

// A program with more variables than the table holds: nothing of it stays,
// and the next small program registers as if it had never been tried.
TEST_F(Registration, VariableOverflowLeavesNothingBehind) {
  const Lines code = tcode({u"005 Δ 1", u"101 xPOP"});
  const int freeBefore = e.variables().countFree();
  EXPECT_EQ(load(code, names(u"V", engine::kVariables + 1)), -1);
  EXPECT_EQ(loadedSlots(e), 0);
  EXPECT_EQ(e.variables().countFree(), freeBefore);
  EXPECT_LT(e.variables().find(0, u"V0"), 0);
  const int slot = load(code, {u"A"});
  ASSERT_EQ(slot, 0);
  EXPECT_GE(e.variables().find(slot, u"A"), 0);
}

// The shared names of a failed registration go too; names another program
// registered before stay.
TEST_F(Registration, SharedOverflowTakesBackOnlyItsOwnEntries) {
  const Lines code = tcode({u"005 Δ 1", u"101 xPOP"});
  ASSERT_EQ(load(code, {u"MINE"}, {u"COMMON"}), 0);
  const int freeBefore = e.variables().countFree();
  EXPECT_EQ(load(code, {u"X"}, names(u"S", engine::kVariables)), -1);
  EXPECT_EQ(loadedSlots(e), 1);
  EXPECT_EQ(e.variables().countFree(), freeBefore);
  EXPECT_GE(e.variables().find(0, u"COMMON"), 0);
  EXPECT_GE(e.variables().find(0, u"MINE"), 0);
  EXPECT_LT(e.variables().find(1, u"X"), 0);
  EXPECT_EQ(load(code, {u"Y"}), 1);
}

// Code the loader refuses (a duplicate label) takes its variables back.
TEST_F(Registration, RefusedCodeTakesBackItsVariables) {
  const int freeBefore = e.variables().countFree();
  EXPECT_EQ(load(tcode({u"L_1", u"L_1", u"101 xPOP"}), {u"A", u"B"}), -1);
  EXPECT_EQ(loadedSlots(e), 0);
  EXPECT_EQ(e.variables().countFree(), freeBefore);
}

// A program of `records` records: each adds 1 to X, and the last one too
// (two records per addition, one more when records is odd).
Lines counting(int records) {
  Lines code;
  while (int(code.size()) + 2 <= records) {
    code.push_back(u"003 + ∇ X Δ 1");
    code.push_back(u"022 ∇ X");
  }
  if (int(code.size()) < records) code.push_back(u"L_1");
  return tcode(code);
}

// The execution point is 16 bits: the longest program it can run to its end
// registers and runs once; one record more is refused, with a message that
// names the program and the limit, and leaves nothing behind. (Registered,
// it used to wrap round to its first record and run again for ever.)
TEST_F(Registration, CodeBeyondTheExecutionPointIsRefused) {
  ASSERT_EQ(engine::kMaxRecords, 65535);
  const int freeBefore = e.variables().countFree();
  const int slot = load(counting(engine::kMaxRecords), {u"X"});
  ASSERT_EQ(slot, 0);
  ASSERT_EQ(e.slotList(slot).size(), std::size_t(engine::kMaxRecords));
  run(200000);
  EXPECT_EQ(e.task(slot).state, engine::tsEND);
  EXPECT_EQ(double(var(u"X").Val1), double(engine::kMaxRecords / 2));  // once, not again from the top

  // The break record that would make it one record too long is refused too.
  EXPECT_EQ(e.insertBreak(slot, 3, 0), -1);
  EXPECT_EQ(e.slotList(slot).size(), std::size_t(engine::kMaxRecords));
  e.releaseAllSlots();

  EXPECT_EQ(
      e.registerProgram(counting(engine::kMaxRecords + 1), {u"X"}, {}, messages, engine::tsACTIVE, u"long.mcl", 4), -1);
  EXPECT_EQ(loadedSlots(e), 0);
  EXPECT_EQ(e.variables().countFree(), freeBefore);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], u"プログラムが長すぎます: long.mcl（中間コード 65536 行、上限 65535 行）");
  EXPECT_EQ(lastConsoleLine(), u"  - " + messages[0]);
  // Another program registers into the slot as if nothing had been tried.
  EXPECT_EQ(load(tcode({u"005 Δ 1"})), 0);
}

// A label the label table cannot hold fails the link of every run. Such a
// program is refused when it registers, naming itself, and the programs
// already registered still link and run.
TEST_F(Registration, LabelsBeyondTheTableAreRefusedAndOthersStillRun) {
  ASSERT_EQ(load(tcode({u"003 + ∇ Y Δ 1", u"022 ∇ Y"}), {u"Y"}), 0);
  EXPECT_EQ(load(tcode({u"L_999", u"005 Δ 1"})), 1);  // the highest label the table holds
  messages.clear();
  EXPECT_EQ(e.registerProgram(tcode({u"L_1", u"L_1000 IF", u"005 Δ 1"}), {u"Z"}, {}, messages, engine::tsACTIVE,
                              u"labels.mcl", 2),
            -1);
  EXPECT_EQ(loadedSlots(e), 2);
  EXPECT_LT(e.variables().find(2, u"Z"), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], u"ラベル過多: labels.mcl（ラベル番号 1000、上限 999）");
  run();
  EXPECT_FALSE(e.errorFlag());
  EXPECT_EQ(e.task(0).state, engine::tsEND);
  EXPECT_EQ(double(var(u"Y").Val1), 1.0);
}

}  // namespace
}  // namespace velmora::testing

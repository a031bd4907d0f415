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

}  // namespace
}  // namespace velmora::testing

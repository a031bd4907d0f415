#include "engine/tests/machine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {
class Variables : public velmora::testing::MachineTest {};
}  // namespace

TEST_F(Variables, TaskVariablesArePrivateAndSharedNamesAreOneEntry) {
  load(tcode({u"001"}), {u"A"}, {u"S"});
  load(tcode({u"001"}), {u"A"}, {u"S"});
  int a0 = e.vars.find(0, u"A"), a1 = e.vars.find(1, u"A");
  EXPECT_GE(a0, 0);
  EXPECT_NE(a0, a1);
  EXPECT_EQ(e.vars.find(0, u"S"), e.vars.find(1, u"S"));
  EXPECT_EQ(e.vars.countFree(), 5001 - 3);
  e.releaseSlot(1);
  e.vars.releaseSlot(1);
  EXPECT_EQ(e.vars.find(1, u"A"), -1);
  EXPECT_EQ(e.vars.find(1, u"S"), e.vars.find(0, u"S"));  // shared entries stay
}

TEST_F(Variables, ASharedNameTakenByAnotherTaskAddsNothing) {
  load(tcode({u"001"}), {u"X"});
  load(tcode({u"001"}), {}, {u"X"});
  EXPECT_EQ(e.vars.find(1, u"X"), -1);
  e.current = 1;
  e.getNumber(u"X");
  EXPECT_EQ(lastConsoleLine(), u"値不正、変数未定義エラー: X\r");
}

TEST_F(Variables, NamesAreCutToTwentyCharacters) {
  load(tcode({u"001"}), {u"ABCDEFGHIJKLMNOPQRSTU"});
  EXPECT_GE(e.vars.find(0, u"ABCDEFGHIJKLMNOPQRST"), 0);
  e.current = 0;
  e.getNumber(u"ABCDEFGHIJKLMNOPQRSTU");
  EXPECT_TRUE(e.errorFlag);
}

TEST_F(Variables, KindFollowsTheFirstCharacterAndNumbersResolveDirectly) {
  load(tcode({u"001"}), {u"$V", u"&S", u"%M", u"N"});
  EXPECT_EQ(e.vars[e.vars.find(0, u"$V")].kind, vtVECTOR);
  EXPECT_EQ(e.vars[e.vars.find(0, u"&S")].kind, vtSTRING);
  EXPECT_EQ(e.vars[e.vars.find(0, u"%M")].kind, vtSCALAR);
  int n = e.vars.find(0, u"N");
  EXPECT_EQ(e.vars.resolve(0, text::int16(n)), n);
  EXPECT_EQ(e.vars.nameOfNumber(text::int16(n)), u"N");
  EXPECT_EQ(e.vars.nameOfNumber(u"x"), u"");
}

TEST_F(Variables, StringsAreReadWithEscapesAndStoredRaw) {
  load(tcode({u"001"}), {u"&S"});
  e.current = 0;
  e.setString(u"&S", u"a\\qb\\");
  EXPECT_EQ(e.vars[e.vars.find(0, u"&S")].StrVal, u"a\\qb\\");
  EXPECT_EQ(e.getString(u"&S"), u"a\"b");
  EXPECT_EQ(e.tasks[0].STR_WORK, u"a\\qb\\");
}

TEST_F(Variables, ListRemoveTakesOnlyTheFirstEqualLine) {
  load(tcode({u"001"}), {u"&L"});
  e.current = 0;
  for (auto t : {u"x", u"y", u"x"}) e.listAddRemove(u"&L", u"+=", t);
  e.listAddRemove(u"&L", u"-=", u"x");
  EXPECT_EQ(e.vars[e.vars.find(0, u"&L")].StrList, (Lines{u"y", u"x"}));
}

TEST_F(Variables, MatrixBoundsAndSizeGuard) {
  load(tcode({u"001"}), {u"%M"});
  e.current = 0;
  e.setMatrixSize(u"%M", 2, 3);
  e.setMatrixElement(u"%M", 1, 2, 7);
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(e.getMatrixElement(u"%M", 1, 2), 7.0L);
  e.setMatrixElement(u"%M", 2, 0, 1);
  EXPECT_EQ(lastConsoleLine(), u"配列インデクス値エラー: %M\r");
  e.errorFlag = false;
  e.setMatrixSize(u"%M", 22, 1);  // larger than the 21 x 21 storage
  EXPECT_TRUE(e.errorFlag);
  EXPECT_EQ(e.getMatrixSize(u"%M"), (std::pair<int, int>{2, 3}));
  e.setMatrixSize(u"%M", 21, 21);
  e.setMatrixElement(u"%M", 20, 20, 5);
  EXPECT_EQ(e.getMatrixElement(u"%M", 20, 20), 5.0L);
}

TEST_F(Variables, UnregisteredVectorReadsAsZeroWithoutError) {
  e.current = 0;
  T3D_Point p = e.getVector(u"$NONE");
  EXPECT_EQ(p.X + p.Y + p.Z, 0.0L);
  EXPECT_FALSE(e.errorFlag);
}

TEST_F(Variables, RunResetClearsValuesButKeepsNames) {
  load(tcode({u"001"}), {u"A", u"&S"});
  e.current = 0;
  e.setNumber(u"A", 3);
  e.setString(u"&S", u"x");
  e.runReset();
  EXPECT_EQ(e.getNumber(u"A"), 0.0L);
  EXPECT_EQ(e.getString(u"&S"), u"");
  EXPECT_GE(e.vars.find(0, u"A"), 0);
}

namespace {
void two_errors(Machine &e, TTaskInfo &, const TPEXE &) {
  e.getNumber(u"P");
  e.getNumber(u"Q");
}
}  // namespace

TEST_F(Variables, OnlyTheFirstErrorOfAnInstructionIsReported) {
  e.setHandler(71, two_errors);
  load(tcode({u"071 - - -"}));
  run();
  EXPECT_EQ(e.console.lines(), (Lines{u"\r", u"値不正、変数未定義エラー: P\r"}));
  // Outside an instruction every error is a line of its own.
  e.current = 0;
  e.getNumber(u"P");
  e.getNumber(u"Q");
  EXPECT_EQ(e.console.lines().size(), 4u);
}

TEST_F(Variables, ConsoleBufferResetClearAppendAndAddLine) {
  ConsoleBuffer c;
  EXPECT_EQ(c.lines(), Lines{u"\r"});
  c.append(u"1");
  c.addLine(u"\r");
  c.append(u"2");
  EXPECT_EQ(c.lines(), (Lines{u"\r1", u"\r2"}));
  EXPECT_EQ(c.current(), 1);
  c.clear();
  EXPECT_EQ(c.lines(), Lines{u""});
  EXPECT_EQ(c.current(), 0);
}

TEST(Engine, OperatingSystemVersionTexts) {
  Machine e;
  EXPECT_EQ(e.osVersion[0].substr(0, 4), u"Ver ");
  EXPECT_GT(e.osVersion[0].size(), 4u);
  EXPECT_EQ(e.osVersion[1].substr(0, 14), u"Build Number: ");
  EXPECT_EQ(e.osVersion[2], u"Platform ID: Linux");
}

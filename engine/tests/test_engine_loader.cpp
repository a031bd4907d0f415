#include "engine/tests/machine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

PcodeList loaded(const Lines &code, Lines *messages = nullptr) {
  PcodeList list;
  Lines m;
  EXPECT_TRUE(load_program(code, list, m));
  if (messages) *messages = m;
  return list;
}

}  // namespace

TEST(Loader, InstructionFieldsGoToTheirSlots) {
  PcodeList l = loaded({u"00007 003 + ∇ A Δ 1"});
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].kind, 3);
  EXPECT_EQ(l[0].Param[1], u"+");
  EXPECT_EQ(l[0].Param[2], u"∇");
  EXPECT_EQ(l[0].Param[3], u"A");
  EXPECT_EQ(l[0].Param[4], u"Δ");
  EXPECT_EQ(l[0].Param[5], u"1");
  EXPECT_EQ(l[0].Param[10], u"00007");
  EXPECT_EQ(l[0].op[4].kind, OperandKind::Const);
  EXPECT_EQ(l[0].op[4].value, 1.0L);
}

TEST(Loader, QuotedConstantWithABlankIsOneField) {
  // 045: Param[1]←2, Param[2]←4, Param[3]←5.
  PcodeList l = loaded({u"00001 045 Σ &A Ω \"A B\" next"});
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].Param[2], u"\"A B\"");
  EXPECT_EQ(l[0].Param[3], u"next");
  EXPECT_EQ(l[0].Param[9], u"[ASSIGN STRING]");
}

TEST(Loader, OptionalNotShiftsTheOperandFields) {
  PcodeList l = loaded({u"00001 000 NOT ∇ A > Δ 0", u"00001 000 ∇ A > Δ 0"});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].Param[1], u"NOT");
  EXPECT_EQ(l[1].Param[1], u"");
  for (std::size_t k = 2; k <= 6; ++k) EXPECT_EQ(l[0].Param[k], l[1].Param[k]) << k;
  EXPECT_EQ(l[1].Param[4], u">");
}

TEST(Loader, LabelsFunctionsFixedTextsAndUnknownCodes) {
  PcodeList l = loaded({u"00001 L_12 IF", u"00002 F_MYFUNC", u"00003 L_x", u"00004 555 a b",
                        u"00005 811 Σ &L :: Σ &F ( Σ &V )", u"00006 075 a b c", u"00007 abc"});
  ASSERT_EQ(l.size(), 5u);  // 555 and the non-numeric code are dropped
  EXPECT_EQ(l[0].kind, kKindLabel);
  EXPECT_EQ(l[0].LblId, 12);
  EXPECT_EQ(l[0].Param[1], u"L_12");
  EXPECT_EQ(l[1].kind, kKindFunction);
  EXPECT_EQ(l[1].Param[1], u"F_MYFUNC");
  EXPECT_EQ(l[2].LblId, 0);  // not a number
  EXPECT_EQ(l[3].kind, 811);
  EXPECT_EQ(l[3].Param[3], u"1");  // the argument count as a fixed text
  EXPECT_EQ(l[3].Param[5], u"&V");
  EXPECT_EQ(l[3].Param[6], u"[LIB EXEC 1]");
  EXPECT_EQ(l[4].kind, 75);  // loaded, without a handler
}

TEST(Loader, DuplicateLabelsRejectTheWholeProgram) {
  PcodeList list;
  Lines messages;
  EXPECT_FALSE(load_program({u"00001 L_5 IF", u"00002 001", u"00003 L_5 FOR"}, list, messages));
  EXPECT_EQ(messages, Lines{u"関数・ラベル多重定義: --> 5"});
  EXPECT_TRUE(list.empty());
}

TEST(Loader, EscapesOfStringValues) {
  EXPECT_EQ(apply_escapes(u"a\\qb\\"), u"a\"b");
  EXPECT_EQ(apply_escapes(u"\\n\\r\\t"), u"\n\r\t");
  EXPECT_EQ(apply_escapes(u"\\x\\\\n"), u"\\x\\\n");
  PcodeList l = loaded({u"00001 045 Σ &A = Ω \"say \\qhi\\q\""});
  EXPECT_EQ(l[0].constText(2), u"say \"hi\"");
}

TEST(Loader, NumbersParseIndependentlyOfTheLocale) {
  long double v;
  ASSERT_TRUE(parse_number(u"12.5", v));
  EXPECT_EQ(v, 12.5L);
  EXPECT_FALSE(parse_number(u"1.2.3", v));
  EXPECT_FALSE(parse_number(u"", v));
  EXPECT_FALSE(parse_number(u"x1", v));
  PcodeList l = loaded({u"00001 005 xN 2.5", u"00001 005 Δ 1.2.3"});
  EXPECT_EQ(l[0].op[1].value, -2.5L);
  EXPECT_EQ(l[1].op[1].kind, OperandKind::BadConst);
}

class Linking : public velmora::testing::MachineTest {};

TEST_F(Linking, VariableNumbersAreWrittenOnlyForRegisteredNames) {
  int slot = load(tcode({u"000 ∇ A < ∇ B", u"022 ∇ A =", u"003 + xNVAR A ∇ NOPE"}), {u"A"});
  ASSERT_EQ(slot, 0);
  EXPECT_FALSE(e.linkAll());
  const PcodeList &l = e.lists[0];
  int a = e.vars.find(0, u"A");
  EXPECT_EQ(l[0].Param[3], text::int16(a));
  EXPECT_EQ(l[0].Param[6], u"B");  // unregistered: stays a name
  EXPECT_EQ(l[1].Param[1], text::int16(a));
  EXPECT_EQ(l[2].Param[3], text::int16(a));
  EXPECT_EQ(l[2].Param[5], u"NOPE");
  // Linking twice does no harm.
  EXPECT_FALSE(e.linkAll());
  EXPECT_EQ(e.lists[0][0].Param[3], text::int16(a));
}

// Label 999 is the table's last; a program with label 1000 is refused when
// it registers, so no loaded program can fail the link of a run.
TEST_F(Linking, Label999IsAcceptedAnd1000IsRefused) {
  load(tcode({u"L_999 IF"}));
  EXPECT_FALSE(e.linkAll());
  EXPECT_EQ(e.labels[0][999], 0);
  EXPECT_LT(load(tcode({u"L_1000 IF"})), 0);
  EXPECT_FALSE(e.linkAll());
  EXPECT_FALSE(e.errorFlag);
  EXPECT_EQ(lastConsoleLine(), u"  - ラベル過多: test（ラベル番号 1000、上限 999）");
}

TEST_F(Linking, RecordsCanBeInsertedAndDeleted) {
  load(tcode({u"001", u"002"}));
  std::array<u16, 11> param{};
  param[1] = u"3";
  e.insertRecord(1, 0, kKindBreakpoint, param);
  ASSERT_EQ(e.lists[0].size(), 3u);
  EXPECT_EQ(e.lists[0][1].kind, 900);
  e.deleteRecord(1, 0);
  EXPECT_EQ(e.lists[0][1].kind, 2);
  EXPECT_EQ(e.findFreeList(), 1);
  e.releaseSlot(0);  // the slot's list is free again
  EXPECT_EQ(e.findFreeList(), 0);
}

#include <gtest/gtest.h>

#include "language/codegen_rules.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using velmora::testing::TempDir;

namespace {

struct Loaded {
  language::CodeGenRules rules;
  Lines messages;
};

Loaded load(Lines text) {
  Loaded l;
  l.rules.text = std::move(text);
  l.rules.Load_Code_Generation_Format([&](const u16 &m) { l.messages.push_back(m); });
  return l;
}

Loaded builtin() {
  Loaded l;
  l.rules.loadBuiltinText();
  l.rules.Load_Code_Generation_Format([&](const u16 &m) { l.messages.push_back(m); });
  return l;
}

int row_of(const language::CodeGenRules &r, const u16 &c0, const u16 &c1) {
  for (int i = 0; i < language::CodeGenRules::kRows; ++i)
    if (r.cell(i, 0) == c0 && r.cell(i, 1) == c1) return i;
  return -1;
}

Lines directive_lines(int n) {
  Lines lines;
  for (int i = 0; i < n; ++i) lines.push_back(u"*GEN 099 xJMP " + text::int16(i));
  return lines;
}

}  // namespace

TEST(BuiltinRules, DeclarationsLoadSilently) {
  Loaded l = builtin();
  EXPECT_TRUE(l.messages.empty());
  EXPECT_EQ(l.rules.keywords(), (Lines{u"IF", u"AND", u"OR", u"THEN", u"ELSE", u"WHILE", u"FOR", u"EACH", u"DO",
                                       u"BREAK", u"END", u"FUNCTION", u"ENDFUNC", u"SET", u"OFFSET"}));
  ASSERT_EQ(l.rules.pairs().size(), 5u);
  EXPECT_EQ(l.rules.pairs()[4].head, u"FUNCTION");
  EXPECT_EQ(l.rules.pairs()[4].terminator, u"ENDFUNC");
  EXPECT_EQ(l.rules.subroutineWords(), (Lines{u"FUNCTION", u"CALL"}));
  EXPECT_EQ(l.rules.endFunctionWord(), u"ENDFUNC");
  EXPECT_EQ(l.rules.vectorSetWord(), u"SET");
}

TEST(BuiltinRules, BlocksComeInOrderWithTheirLines) {
  Loaded l = builtin();
  const language::CodeGenRules &r = l.rules;
  const char16_t *keys[] = {u"EACH", u"FOR", u"WHILE", u"IF",   u"AND",      u"OR",      u"THEN", u"ELSE",
                            u"DO",   u"END", u"BREAK", u"CALL", u"FUNCTION", u"ENDFUNC", u"SET",  u"**********"};
  int previous = -1;
  for (const char16_t *key : keys) {
    int row = row_of(r, u"*TKBUF=)", key);
    ASSERT_GT(row, previous) << text::to_utf8(key);
    previous = row;
  }
  int forRow = row_of(r, u"*TKBUF=)", u"FOR");
  EXPECT_EQ(r.row(forRow + 1)[0], u"*GEN");
  EXPECT_EQ(r.row(forRow + 1)[1], u"005");
  EXPECT_EQ(r.row(forRow + 1)[2], u"%4");
  EXPECT_EQ(r.row(forRow + 9)[0], u"*GEN");
  EXPECT_EQ(r.row(forRow + 9)[4], u"<=");
  EXPECT_EQ(r.row(forRow + 12)[0], u"/STOP/");
  // A blank line stands between the SET block and the last block.
  int setRow = row_of(r, u"*TKBUF=)", u"SET");
  EXPECT_EQ(r.row(setRow + 1)[0], u"/STOP/");
  EXPECT_EQ(r.row(setRow + 2)[0], u"");
  EXPECT_EQ(r.row(setRow + 3)[1], u"**********");
  int fn = row_of(r, u"*TKBUF=)", u"FUNCTION");
  EXPECT_EQ(r.row(fn + 2), (language::CodeGenRules::Row{u"*GEN", u"F_", u"*NS", u"%2"}));
}

TEST(RuleLimits, TwoHundredNinetyNineRuleLinesLoadAndTheThreeHundredthStops) {
  Loaded ok = load(directive_lines(299));
  EXPECT_TRUE(ok.messages.empty());
  EXPECT_EQ(ok.rules.cell(298, 3), u"298");

  Lines text = directive_lines(300);
  text.push_back(u"*KEYDEF LATE");
  Loaded over = load(text);
  EXPECT_EQ(over.messages, Lines{u"コード生成ルールが多すぎる　300"});
  EXPECT_EQ(over.rules.cell(299, 0), u"");
  EXPECT_TRUE(over.rules.keywords().empty());
}

TEST(RuleLimits, LinesAfterTheThreeHundredthLineAreIgnored) {
  Lines text(300, u"--- comment");
  text.push_back(u"*KEYDEF LATE");
  text.push_back(u"*GEN 099 xJMP 1");
  Loaded l = load(text);
  EXPECT_TRUE(l.messages.empty());
  EXPECT_TRUE(l.rules.keywords().empty());
  EXPECT_EQ(l.rules.cell(300, 0), u"");
}

TEST(RuleLimits, NineteenItemsLoadAndTwentyAreCut) {
  auto line_with = [](int n) {
    u16 line = u"*GEN";
    for (int i = 1; i < n; ++i) line += u" P" + text::int16(i);
    return line;
  };
  Loaded ok = load({line_with(19)});
  EXPECT_TRUE(ok.messages.empty());
  Loaded over = load({line_with(25)});
  EXPECT_EQ(over.messages, Lines{u"生成パラメータが多すぎる 20"});
  EXPECT_EQ(over.rules.cell(0, 19), u"P19");
  EXPECT_EQ(over.rules.cell(0, 20), u"");
}

TEST(DeclarationLimits, KeywordsPairsAndSubroutineWords) {
  Lines text;
  for (int i = 1; i <= 20; ++i) text.push_back(u"*KEYDEF K" + text::int16(i));
  for (int i = 1; i <= 10; ++i) text.push_back(u"*FLOWTERM H" + text::int16(i) + u" T");
  for (int i = 1; i <= 3; ++i) text.push_back(u"*FUNCALL F" + text::int16(i));
  Loaded l = load(text);
  EXPECT_EQ(l.messages, (Lines{u"制御キーワードが多すぎる　20", u"制御ターミネータが多すぎる　10",
                               u"サブルーチンキーワードが多すぎる　3"}));
  EXPECT_EQ(l.rules.keywords().size(), 20u);
  EXPECT_TRUE(l.rules.isFlowKeyword(u"K20"));  // the 20th is still used
  EXPECT_EQ(l.rules.pairs().size(), 10u);
  EXPECT_EQ(l.rules.pairs().back().head, u"H10");
  EXPECT_EQ(l.rules.subroutineWords(), (Lines{u"F1", u"F2"}));  // the 3rd is not
}

TEST(DeclarationLimits, DeclarationWithoutItemStoresNothing) {
  Loaded l = load({u"*KEYDEF", u"*FUNCALL", u"*FLOWTERM", u"*KEYDEF A"});
  EXPECT_TRUE(l.messages.empty());
  EXPECT_EQ(l.rules.keywords(), Lines{u"A"});
  EXPECT_TRUE(l.rules.pairs().empty());
  EXPECT_TRUE(l.rules.subroutineWords().empty());
  // Declarations leave their rows empty.
  EXPECT_EQ(l.rules.cell(3, 0), u"");
}

TEST(RuleText, ThreeMinusSignsAnywhereMakeAComment) {
  Loaded l = load({u"*GEN 099 xJMP 1 ---", u"*KEYDEF X---", u"*GEN 001"});
  EXPECT_EQ(l.rules.cell(0, 0), u"");
  EXPECT_TRUE(l.rules.keywords().empty());
  EXPECT_EQ(l.rules.cell(2, 0), u"*GEN");
}

TEST(RuleText, QuotedItemsKeepTheirBlanksAndRowsFollowLineNumbers) {
  Loaded l = load({u"", u"   *GEN 045 Σ &A Ω \"a b\""});
  EXPECT_EQ(l.rules.cell(1, 0), u"*GEN");
  EXPECT_EQ(l.rules.cell(1, 5), u"\"a b\"");
}

TEST(RuleText, ParameterItemsWithoutNumbersAreReported) {
  Loaded l = load({u"*GEN 099 xJMP *LC+", u"*GEN 022 %x", u"*SFL *FL+1"});
  ASSERT_EQ(l.messages.size(), 2u);
  EXPECT_NE(l.messages[0].find(u"*LC+"), u16::npos);
  EXPECT_NE(l.messages[1].find(u"%x"), u16::npos);
  EXPECT_EQ(l.rules.cell(1, 2), u"%x");  // loading goes on
}

TEST(RuleText, AFileBesideTheProgramReplacesTheBuiltinText) {
  TempDir dir;
  dir.write("T-CodeGenerationRule.txt", "*KEYDEF ONLY\r\n");
  language::CodeGenRules r;
  r.loadText(dir.path());
  r.Load_Code_Generation_Format([](const u16 &) {});
  EXPECT_EQ(r.keywords(), Lines{u"ONLY"});
  EXPECT_TRUE(r.subroutineWords().empty());
}

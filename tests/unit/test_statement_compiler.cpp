#include <gtest/gtest.h>

#include "compiler/statement_compiler.h"

using namespace velmora;
using namespace velmora::compiler;

namespace {

struct Host : CompileHost {
  Lines messages;
  void message(const u16 &text) override { messages.push_back(text); }
};

class Compile : public ::testing::Test {
 protected:
  language::Language lang = language::Language::builtin();
  Host host;
  bool ok = false;
  Lines tcode;

  // The instruction texts (without the line-number prefix) of a program.
  std::vector<std::string> compile(const Lines &source) {
    Tokenizer tokenizer(lang);
    TokenStream s = tokenizer.Make_Token_From_Text(source, TokenizeOptions{}, {});
    StatementCompiler c(lang, host);
    ok = c.compile(s.tokens);
    tcode = c.tcode();
    std::vector<std::string> out;
    for (const u16 &line : tcode) out.push_back(text::to_utf8(u16view(line).substr(6)));
    return out;
  }
  std::vector<std::string> compile(const char16_t *line) { return compile(Lines{line}); }
  std::vector<std::string> compile(const u16 &line) { return compile(Lines{line}); }
  using V = std::vector<std::string>;
};

}  // namespace

TEST_F(Compile, ExpressionExamples) {
  EXPECT_EQ(compile(u"Y = X;"), (V{"005 ∇ X", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = A + B * C;"), (V{"100 * ∇ B ∇ C", "100 + ∇ A xPOP xDMY", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = A * B + C;"), (V{"100 * ∇ A ∇ B", "100 + xPOP xDMY ∇ C", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = (A + B) * C;"), (V{"100 + ∇ A ∇ B", "100 * xPOP xDMY ∇ C", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = SIN(X);"), (V{"102 SIN ∇ X", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_TRUE(ok);
}

TEST_F(Compile, PrecedenceAndAssociativity) {
  EXPECT_EQ(compile(u"Y = A - B * C + D;"),
            (V{"100 * ∇ B ∇ C", "100 - ∇ A xPOP xDMY", "100 + xPOP xDMY ∇ D", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = 10 - (2 + 3) * 4;"),
            (V{"100 + Δ 2 Δ 3", "100 * xPOP xDMY Δ 4", "100 - Δ 10 xPOP xDMY", "101 xPOP", "022 ∇ Y ="}));
  // ^ binds tighter than * and associates to the right.
  EXPECT_EQ(compile(u"Y = A * B ^ C ^ D;"),
            (V{"100 ^ ∇ C ∇ D", "100 ^ ∇ B xPOP xDMY", "100 * ∇ A xPOP xDMY", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = A / B / C;"), (V{"100 / ∇ A ∇ B", "100 / xPOP xDMY ∇ C", "101 xPOP", "022 ∇ Y ="}));
}

TEST_F(Compile, SignsAndLoneOperands) {
  EXPECT_EQ(compile(u"Y = ( - X + 1 );"), (V{"100 + xNVAR X Δ 1", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = -X;"), (V{"100 - Δ 0 ∇ X", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = (X);"), (V{"005 ∇ X", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = ((-X));"), (V{"005 xNVAR X", "022 ∇ Y ="}));
  EXPECT_EQ(compile(u"Y = A * -2;"), (V{"100 * ∇ A xN 2", "101 xPOP", "022 ∇ Y ="}));
  EXPECT_TRUE(ok);
}

TEST_F(Compile, StatementForms) {
  // IF cond THEN body END
  EXPECT_EQ(compile(u"IF A > 0 THEN B = 1; END"),
            (V{"L_1 IF", "000 ∇ A > Δ 0", "098 xFJMP 3", "L_2 IF", "005 Δ 1", "022 ∇ B =", "L_3 IF"}));
  EXPECT_EQ(compile(u"IF A > 0 THEN B = 1; ELSE B = 2; END"),
            (V{"L_1 IF", "000 ∇ A > Δ 0", "098 xFJMP 3", "L_2 IF", "005 Δ 1", "022 ∇ B =", "099 xJMP 4", "L_3 IF",
               "005 Δ 2", "022 ∇ B =", "L_4 IF"}));
  EXPECT_EQ(compile(u"WHILE I < 9 DO I += 1; END"), (V{"L_1 WHILE", "000 ∇ I < Δ 9", "098 xFJMP 3", "L_2 IF", "005 Δ 1",
                                                       "023 ∇ I +=", "099 xJMP 1", "L_3 WHILE"}));
  EXPECT_EQ(compile(u"FOR I = 1 TO 10 DO S += I; END"),
            (V{"005 Δ 1", "022 ∇ I =", "L_1 FOR", "000 ∇ I <= Δ 10", "098 xFJMP 2", "005 ∇ I",
               "023 ∇ S +=", "003 + ∇ I Δ 1", "022 ∇ I =", "099 xJMP 1", "L_2 FOR"}));
  EXPECT_EQ(compile(u"EACH &L[K] DO ??K; END"),
            (V{"005 Δ 0", "022 ∇ K", "L_1 EACH", "302 Σ &L", "109 ∇ K <", "098 xFJMP 2", "752 ?? ∇ K ;",
               "003 + ∇ K Δ 1", "022 ∇ K", "099 xJMP 1", "L_2 EACH"}));
  EXPECT_EQ(compile(Lines{u"FUNCTION F;", u"CALL F;", u"EXIT;", u"ENDFUNC"}),
            (V{"902 xFUNC", "F_F", "097 CALL xFNAME F ;", "096 EXIT ;", "096 "}));
  EXPECT_TRUE(ok);
}

TEST_F(Compile, ConditionsWithAndOr) {
  EXPECT_EQ(compile(u"IF A > 0 AND B > 0 AND C > 0 THEN D = 1; END"),
            (V{"L_1 IF", "000 ∇ A > Δ 0", "098 xFJMP 3", "000 ∇ B > Δ 0", "098 xFJMP 3", "000 ∇ C > Δ 0", "098 xFJMP 3",
               "L_2 IF", "005 Δ 1", "022 ∇ D =", "L_3 IF"}));
  EXPECT_EQ(compile(u"IF A > 0 OR B > 0 THEN D = 1; END"),
            (V{"L_1 IF", "000 ∇ A > Δ 0", "095 xTJMP 2", "000 ∇ B > Δ 0", "098 xFJMP 3", "L_2 IF", "005 Δ 1",
               "022 ∇ D =", "L_3 IF"}));
  // Mixed: the AND false label and the OR true label are independent.
  EXPECT_EQ(compile(u"IF A > 0 AND B > 0 OR C > 0 THEN D = 1; END"),
            (V{"L_1 IF", "000 ∇ A > Δ 0", "098 xFJMP 3", "000 ∇ B > Δ 0", "095 xTJMP 2", "000 ∇ C > Δ 0", "098 xFJMP 3",
               "L_2 IF", "005 Δ 1", "022 ∇ D =", "L_3 IF"}));
}

TEST_F(Compile, NestedLoopsAndBreak) {
  EXPECT_EQ(compile(Lines{u"WHILE N < 3 DO", u"  FOR J = 1 TO 5 DO BREAK; END", u"  BREAK;", u"END"}),
            (V{"L_1 WHILE", "000 ∇ N < Δ 3", "098 xFJMP 3", "L_2 IF", "005 Δ 1", "022 ∇ J =", "L_4 FOR",
               "000 ∇ J <= Δ 5", "098 xFJMP 5", "099 xJMP 5 FOR WHILE EACH", "003 + ∇ J Δ 1", "022 ∇ J =", "099 xJMP 4",
               "L_5 FOR", "099 xJMP 3 FOR WHILE EACH", "099 xJMP 1", "L_3 WHILE"}));
  EXPECT_EQ(compile(u"BREAK;"), (V{"099 xJMP -1 FOR WHILE EACH"}));
}

TEST_F(Compile, KeywordsInsideNamesAndStrings) {
  EXPECT_EQ(compile(u"FORM = IFX + 1;"), (V{"100 + ∇ IFX Δ 1", "101 xPOP", "022 ∇ FORM ="}));
  EXPECT_EQ(compile(u"&S = \"IF\";"), (V{"311 Ω \"IF\"", "320 Σ &S ="}));
  // The scalar AND rule produces its 015 line, not a jump.
  EXPECT_EQ(compile(u"X = A AND B;"), (V{"015 ∇ A AND ∇ B", "022 ∇ X ="}));
}

TEST_F(Compile, VectorsAndParameterLists) {
  EXPECT_EQ(compile(u"SET $V = A , B , C ;"), (V{"005 ∇ A", "130 xPR 0", "005 ∇ B", "130 xPR 1", "005 ∇ C",
                                                 "020 xVECTCO $V 1 =", "130 xPR 2", "130 xPR -3"}));
  compile(u"$R = $P + $Q;");
  ASSERT_EQ(tcode.size(), 2u);  // the operator moves to the front (the blanks are harmless)
  EXPECT_EQ(text::to_utf8(tcode[0]).substr(6), "007  + xVECTVAR $P xVECTVAR $Q");
  EXPECT_EQ(text::to_utf8(tcode[1]).substr(6), "021 xVECTVAR $R =");
  // A vector assignment inside a block takes its ";" too.
  EXPECT_EQ(compile(u"IF A > 0 THEN $R = $P; END"),
            (V{"L_1 IF", "000 ∇ A > Δ 0", "098 xFJMP 3", "L_2 IF", "008 xVECTVAR $P", "021 xVECTVAR $R =", "L_3 IF"}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(compile(u"%A[0] = 1, X;"),
            (V{"005 Δ 1", "130 xPR 0", "005 ∇ X", "130 xPR 1", "130 xPR -2", "126 □ %A [ Δ 0 ] ="}));
}

TEST_F(Compile, DeferredAssignmentsComeAfterTheirValue) {
  EXPECT_EQ(compile(u"&S = \"a\" + &T;"), (V{"311 Ω \"a\"", "312 +", "311 Σ &T", "320 Σ &S ="}));
  EXPECT_EQ(compile(u"%C = %A + %B;"), (V{"124 □ %A +", "123 □ %B", "125 □ %C ="}));
  EXPECT_EQ(compile(u"?\?(X + 1);"), (V{"100 + ∇ X Δ 1", "101 xPOP", "761 ?\? ("}));
}

TEST_F(Compile, ErrorsStopTheCompileWithTheirMessages) {
  compile(Lines{u"A = 1;", u"B = 2 WAIT;", u"C = 3;"});
  EXPECT_FALSE(ok);
  // The assignment still waiting on the label stack is reported as well.
  EXPECT_EQ(host.messages, (Lines{u"COMPILE STOP", u"事象：ラベル残存(022 ∇ B =)\r⇒記述ルール定義の対象外"}));
  EXPECT_EQ(tcode.size(), 2u);  // A's lines; B's expression line was removed

  host.messages.clear();
  compile(u"B = 2 3;");
  EXPECT_FALSE(ok);
  EXPECT_EQ(host.messages[0], u"MATH Syntax Error #[0] Token => #");

  host.messages.clear();
  compile(Lines{u"A = 1;", u"WAIT WAIT;"});
  EXPECT_FALSE(ok);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0], u"Syntax Error \rLine  => 1\rState => #\rToken => WAIT");

  host.messages.clear();
  compile(u"A = * 2;");
  EXPECT_FALSE(ok);
  EXPECT_EQ(host.messages[0], u"MATH Syntax Error #[0] Token => #");

  host.messages.clear();
  compile(u"IF A > 0 THEN B = 1;");
  EXPECT_TRUE(ok);  // an open block still compiles ...
  EXPECT_EQ(host.messages, Lines{u"事象：ラベル残存(L_3 IF)\r⇒記述ルール定義の対象外"});  // ... and is reported
}

TEST_F(Compile, DeepFunctionNestingIsRefused) {
  u16 expression;
  for (int i = 0; i < 102; ++i) expression += u"SIN(";
  expression += u"1";
  for (int i = 0; i < 102; ++i) expression += u")";
  compile(u"X = " + expression + u";");
  EXPECT_FALSE(ok);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_NE(host.messages[0].find(u"101"), u16::npos);
}

TEST_F(Compile, FirstFitFollowsTheGrammarOrder) {
  // With the single-string rule placed before the character rule, &A<2> ends
  // its phrase after &A and the "<" is a syntax error.
  Lines grammar = lang.tables.syntax;
  auto at = [&](const char16_t *head, const char16_t *start) {
    for (std::size_t i = 0; i < grammar.size(); ++i)
      if (grammar[i].rfind(u16(head) + u" " + start, 0) == 0) return i;
    return grammar.size();
  };
  std::size_t r313 = at(u"@313:", u"【"), r311 = at(u"@311:", u"【");
  ASSERT_LT(r313, r311);
  std::swap(grammar[r313], grammar[r311]);
  lang.tables.syntax = grammar;
  lang.tables.ReconstSyntax([](const u16 &) {});
  compile(u"&B = &A<2>;");
  EXPECT_FALSE(ok);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_NE(host.messages[0].find(u"Token => <"), u16::npos);
}

TEST_F(Compile, BacktrackingTriesTheNextRuleFromTheSameToken) {
  // &S[1]<2> first meets the zone rules, which fail at Δ 2; the cursor
  // returns to &S and the character rule fits.
  EXPECT_EQ(compile(u"&C = &S[1]<2>;"), (V{"314 Σ &S [ Δ 1 ] < Δ 2 >", "320 Σ &C ="}));
  EXPECT_TRUE(ok);
}

TEST_F(Compile, ContinuationRowsMatchAsOnePattern) {
  Lines grammar = lang.tables.syntax;
  for (std::size_t i = 0; i < grammar.size(); ++i)
    if (grammar[i].rfind(u"#080: WAIT", 0) == 0) {
      grammar[i] = u"#080: WAIT |";
      grammar.insert(grammar.begin() + long(i) + 1, u"#080: 【 ∇ Δ 】 ;");
      break;
    }
  lang.tables.syntax = grammar;
  lang.tables.ReconstSyntax([](const u16 &) {});
  EXPECT_EQ(compile(u"WAIT 5;"), (V{"080 WAIT Δ 5 ;"}));
  EXPECT_TRUE(ok);
}

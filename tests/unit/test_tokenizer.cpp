#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "compiler/tokenizer.h"

using namespace velmora;
using namespace velmora::compiler;

namespace {

class Tokens : public ::testing::Test {
 protected:
  language::Language lang = language::Language::builtin();
  Tokenizer tokenizer{lang};
  Lines messages;
  TokenStream last;

  TokenStream tokenize(const Lines &text, TokenizeOptions o = {}) {
    messages.clear();
    last = tokenizer.Make_Token_From_Text(text, o, [&](const u16 &m) { messages.push_back(m); });
    return last;
  }
  // The stream without line numbers, tokens joined by " | ".
  std::string compact(const Lines &text, TokenizeOptions o = {}) {
    TokenStream s = tokenize(text, o);
    std::string out;
    for (const u16 &t : s.tokens) {
      if (!out.empty()) out += " | ";
      out += text::to_utf8(u16view(t).substr(t.find(u' ') + 1));
    }
    return out;
  }
  static TokenizeOptions spacing() {
    TokenizeOptions o;
    o.IsUpperCase = false;
    o.IsGenSpaceInfo = true;
    o.IsNoComment = true;
    return o;
  }
};

}  // namespace

TEST_F(Tokens, LongerKeywordsWinAndKeywordsNeedAWordEnd) {
  EXPECT_EQ(compact({u"IF(A>=10)THEN"}), "IF | ( | ∇ A | >= | Δ 10 | ) | THEN");
  EXPECT_EQ(compact({u"IFA=1"}), "∇ IFA | = | Δ 1");
}

TEST_F(Tokens, StringVariablesAndTheKeywordSurprise) {
  EXPECT_EQ(compact({u"&TXT[] += \"x\";"}), "Σ &TXT | [] | += | Ω \"x\" | ;");
  EXPECT_EQ(last.userSymbols, Lines{u"&TXT"});
  EXPECT_EQ(compact({u"&NAME = \"x\";"}), "& | NAME | = | Ω \"x\" | ;");
}

TEST_F(Tokens, MemberWordsAfterAPoint) {
  EXPECT_EQ(compact({u"FILE(1).EOF"}), "FILE | ( | Δ 1 | ) | . | EOF");
  EXPECT_EQ(compact({u"X = $V.Y;"}), "∇ X | = | xVECTVAR $V | . | Y | ;");
}

TEST_F(Tokens, CompileModeUpperCasesOutsideStringsOnly) {
  EXPECT_EQ(compact({u"a = \"Mixed //x\"; // comment"}), "∇ A | = | Ω \"Mixed //x\" | ;");
  EXPECT_EQ(compact({u"// a comment line", u"  // not dropped but cut", u"B=1;"}), "∇ B | = | Δ 1 | ;");
  EXPECT_EQ(last.tokens.front().substr(0, 2), u"2 ");  // the source line index
}

TEST_F(Tokens, NumbersAreDigitsAndPoints) {
  EXPECT_EQ(compact({u"X = 1.2.3;"}), "∇ X | = | Δ 1.2.3 | ;");
  EXPECT_EQ(compact({u"X=1E5;"}), "∇ X | = | Δ 1 | ∇ E5 | ;");
}

TEST_F(Tokens, SharedNamesLeaveTheUserSymbols) {
  EXPECT_EQ(compact({u"SHARE &S;", u"SHARE N;", u"&S = \"a\"; N = 1; M = 2;"}),
            "SHARE | Σ &S | ; | SHARE | ∇ N | ; | Σ &S | = | Ω \"a\" | ; | ∇ N | = | Δ 1 | ; | "
            "∇ M | = | Δ 2 | ;");
  EXPECT_EQ(last.sharedNames, (Lines{u"&S", u"N"}));
  EXPECT_EQ(last.userSymbols, Lines{u"M"});
}

TEST_F(Tokens, FunctionsMathAndVectors) {
  EXPECT_EQ(compact({u"FUNCTION F1;", u"CALL F1;", u"X = SIN(Y) + SQRT(2);", u"$P = $Q;"}),
            "FUNCTION | xFNAME F1 | ; | CALL | xFNAME F1 | ; | ∇ X | = | xMATH SIN | ( | ∇ Y | ) | "
            "+ | xMATH SQRT | ( | Δ 2 | ) | ; | xVECTVAR $P | = | xVECTVAR $Q | ;");
  EXPECT_EQ(last.functionNames, Lines{u"F1"});
  EXPECT_EQ(last.userSymbols, (Lines{u"X", u"Y", u"$P", u"$Q"}));
}

TEST_F(Tokens, PlainAndPrefixedVariablesOfOneNameBothStay) {
  TokenizeOptions o;
  o.variableAlert = true;
  tokenize({u"A = 5; &A = \"x\"; %A = %A;"}, o);
  EXPECT_EQ(last.userSymbols, (Lines{u"&A", u"A"}));
  EXPECT_EQ(last.report, (Lines{u"変数削除: A", u"変数追加: &A"}));
}

TEST_F(Tokens, TabsExpandByThePitchAndFullWidthBlanksSeparate) {
  TokenizeOptions o;
  o.tabPitch = 4;
  EXPECT_EQ(compact({u"\tX\t=\t1;"}, o), "∇ X | = | Δ 1 | ;");
  EXPECT_EQ(compact({u"X\u3000=\u30001;"}), "∇ X | = | Δ 1 | ;");
  // Inside a string a full-width blank stays; a tab becomes blanks by the
  // pitch as everywhere (column 8 with pitch 4: four blanks).
  EXPECT_EQ(compact({u"&S = \"a\u3000b\";"}), "Σ &S | = | Ω \"a\u3000b\" | ;");
  EXPECT_EQ(compact({u"&S = \"a\tb\";"}, o), "Σ &S | = | Ω \"a    b\" | ;");
  // Spacing mode shows the expanded blanks: a tab at column 1 with pitch 4
  // gives 3 blanks, at column 3 gives 1.
  o = spacing();
  o.tabPitch = 4;
  EXPECT_EQ(compact({u"\tx\ty"}, o), "ψ 3 | ∇ x | ψ 1 | ∇ y");
}

TEST_F(Tokens, JapaneseLettersBelongToIdentifiers) {
  EXPECT_EQ(compact({u"合計=合計+1;"}), "∇ 合計 | = | ∇ 合計 | + | Δ 1 | ;");
  EXPECT_EQ(last.userSymbols, Lines{u"合計"});
}

TEST_F(Tokens, UnterminatedStringRunsToTheLineEnd) {
  EXPECT_EQ(compact({u"&S = \"open // x", u"B=1;"}), "Σ &S | = | Ω \"OPEN  | ∇ B | = | Δ 1 | ;");
}

TEST_F(Tokens, SpacingModeKeepsCommentsCaseAndJoinsStringsAcrossLines) {
  EXPECT_EQ(compact({u"a = \"x", u"y\" + b // c", u"", u"//z"}, spacing()),
            "∇ a | ψ 1 | = | ψ 1 | Ω \"xy\" | ψ 1 | + | ψ 1 | ∇ b | ψ 1 | // | ψ 1 | ∇ c | "
            "ψ 1 | // | ∇ z");
  // Every token of the joined lines carries the second line's number.
  for (const u16 &t : last.tokens) EXPECT_TRUE(t[0] == u'1' || t[0] == u'2' || t[0] == u'3') << text::to_utf8(t);
  EXPECT_EQ(last.tokens.front().substr(0, 2), u"1 ");
}

TEST_F(Tokens, AZeroTabPitchEndsTokenisingWithTheMessage) {
  TokenizeOptions o;
  o.tabPitch = 0;
  TokenStream s = tokenize({u"A=1;", u"B\t=2;", u"C=3;"}, o);
  EXPECT_EQ(messages, Lines{u"トークン生成でエラー"});
  EXPECT_TRUE(s.failed);
  EXPECT_EQ(s.tokens.size(), 4u);  // the first line's tokens stay
}

TEST_F(Tokens, TokenFieldsAndIdentifierCharacters) {
  EXPECT_EQ(GetToken(2, u"3 Ω \"a b\""), u"\"a b\"");
  EXPECT_EQ(GetToken(5, u"3 ∇ A"), u"");
  EXPECT_EQ(token_type(u"3 IF"), u"IF");
  EXPECT_TRUE(IsVarNameChars(u"_A1"));
  EXPECT_FALSE(IsVarNameChars(u"a1"));
  EXPECT_FALSE(IsVarNameChars(u"1A"));
}

TEST_F(Tokens, TenThousandLinesInWellUnderASecond) {
  Lines text;
  for (int i = 0; i < 10000; ++i)
    text.push_back(u"IF(X" + text::int16(i % 50) + u">=10)THEN &S[" + text::int16(i) + u"] = \"v\"+INTSTR(Y" +
                   text::int16(i % 7) + u"); END // note");
  // The thread's processor time, not the wall clock: other programs on a
  // busy machine must not fail the test.
  auto cpu = [] {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
  };
  const double start = cpu();
  TokenStream s = tokenize(text);
  const double seconds = cpu() - start;
  EXPECT_EQ(s.tokens.size(), 10000u * 20);
#ifdef VELMORA_SANITIZED
  EXPECT_LT(seconds, 5.0);
#else
  EXPECT_LT(seconds, 0.8);  // about 0.25 s on an idle machine
#endif
  RecordProperty("seconds", std::to_string(seconds));
}

// Known names are looked up by their first character over all of UTF-16:
// names beginning at either side of a 256-character boundary, and in pages
// far apart, are each found again, and one tokenisation's names are not
// known to the next.
TEST_F(Tokens, NamesOfEveryFirstCharacterAreKnownOnlyInTheirOwnText) {
  EXPECT_EQ(compact({u"合計=1;合計X=合計+2;"}), "∇ 合計 | = | Δ 1 | ; | ∇ 合計X | = | ∇ 合計 | + | Δ 2 | ;");
  EXPECT_EQ(last.userSymbols, (Lines{u"合計", u"合計X"}));
  EXPECT_EQ(compact({u"仿=1;伀=仿;ア=伀;"}), "∇ 仿 | = | Δ 1 | ; | ∇ 伀 | = | ∇ 仿 | ; | ∇ ア | = | ∇ 伀 | ;");
  EXPECT_EQ(last.userSymbols, (Lines{u"仿", u"伀", u"ア"}));
  // The same text twice from one tokenizer: the same stream.
  const Lines text{u"Z=1;計=Z;A=計+Z;"};
  const std::string first = compact(text);
  EXPECT_EQ(compact(text), first);
  EXPECT_EQ(last.userSymbols, (Lines{u"Z", u"計", u"A"}));
}

// The plain-Japanese explanations of compile errors: a corpus of typical
// beginner mistakes, each compiled as the compile command does, with the
// explanation it must give and the place (line and column from 1) it must
// mark; the setting that leaves the compiler's boxes out; and the variable
// warning that only a real merge of two names raises.
#include <gtest/gtest.h>

#include <set>

#include "compiler/explanations.h"
#include "compiler/tokenizer.h"
#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

struct Mistake {
  const char *name;
  const char16_t *program;  // lines separated by \n
  const char *kind;         // the id of the explanation's row
  int line, column;         // the place it marks, from 1
  bool note;                // the program compiles; the explanation is a note
  const char16_t *text;
};

const Mistake kCorpus[] = {
    {"missing_semicolon", u"A = 1\nB = 2;", "missing-semicolon", 1, 6, false,
     u"文の終わりに「;」がありません。この位置に ; を書いてください。"},
    {"missing_semicolon_console", u"??\"a\"\n??\"b\";", "missing-semicolon", 1, 6, false,
     u"文の終わりに「;」がありません。この位置に ; を書いてください。"},
    {"missing_semicolon_function", u"FUNCTION F\n??1;\nENDFUNC\nCALL F;", "missing-semicolon", 1, 11, false,
     u"文の終わりに「;」がありません。この位置に ; を書いてください。"},
    {"missing_semicolon_at_end", u"??\"hi\"", "missing-semicolon", 1, 7, true,
     u"文の終わりに「;」がありません。この位置に ; を書いてください。"},
    {"operand_missing_after_plus", u"A = 1;\nC = A +;", "missing-operand", 2, 7, false,
     u"「+」のあとに計算する値がありません。数か変数を書くか、余分な「+」を消してください。"},
    {"operand_missing_after_minus", u"A = 5 -;", "missing-operand", 1, 7, false,
     u"「-」のあとに計算する値がありません。数か変数を書くか、余分な「-」を消してください。"},
    {"operand_missing_in_string", u"&S = \"a\" + ;", "missing-operand", 1, 10, true,
     u"「+」のあとに計算する値がありません。数か変数を書くか、余分な「+」を消してください。"},
    {"value_missing", u"A = ;", "missing-value", 1, 3, false,
     u"「=」のあとに代入する値がありません。値（数・変数・式）を書いてください。"},
    {"operator_missing", u"A = 1 2;", "missing-operator", 1, 7, false,
     u"「2」の前に演算子がありません。+ - * / のどれかを入れてください。"},
    {"two_operators", u"A = 1 + * 2;", "double-operator", 1, 9, false,
     u"演算子「*」の前にも演算子があります。間に数か変数を書くか、どちらかを消してください。"},
    {"colon_for_semicolon", u"A = 1:", "unexpected-token", 1, 6, false,
     u"式のあとに「:」があります。文の終わりは「;」です。「:」を消すか ; に直してください。"},
    {"unclosed_string", u"A = 1;\n&S = \"abc;\n??&S;", "unclosed-string", 2, 6, false,
     u"文字列が「\"」で閉じられていません。文字列の終わりに \" を書いてください（文字列は行をまたげません）。"},
    {"single_quotes", u"&S = 'abc';", "single-quote", 1, 6, false,
     u"文字列は「'」ではなく「\"」で囲みます。' を \" "
     u"に直してください（設定「シングルクォートをダブルクォートに置き換え」もあります）。"},
    {"unclosed_parenthesis", u"X = 2 * (3 + 4;", "unclosed-parenthesis", 1, 9, false,
     u"この「(」に対応する「)」がありません。文の終わりの ; より前に ) を書いてください。"},
    {"stray_parenthesis", u"X = (2 + 3)) * 2;", "stray-parenthesis", 1, 12, false,
     u"この「)」に対応する「(」がありません。余分な ) を消すか、( を足してください。"},
    {"open_for", u"FOR I = 1 TO 3 DO\n  ??I;", "open-block", 1, 1, true,
     u"この FOR のブロックが END で閉じられていません。ブロックの最後に END "
     u"を書いてください（今のままでは中身が一度だけ実行されます）。"},
    {"open_while", u"A = 1;\nWHILE A < 3 DO\n  A += 1;", "open-block", 2, 1, true,
     u"この WHILE のブロックが END で閉じられていません。ブロックの最後に END "
     u"を書いてください（今のままでは中身が一度だけ実行されます）。"},
    {"open_if_else", u"A = 1;\nIF A > 0 THEN\n??1;\nELSE\n??2;", "open-block", 2, 1, true,
     u"この IF のブロックが END で閉じられていません。ブロックの最後に END "
     u"を書いてください（今のままでは中身が一度だけ実行されます）。"},
    {"open_function", u"FUNCTION F;\n??1;\nCALL F;", "open-block", 1, 1, true,
     u"この FUNCTION のブロックが ENDFUNC で閉じられていません。ブロックの最後に ENDFUNC "
     u"を書いてください（今のままでは中身が一度だけ実行されます）。"},
    {"end_without_block", u"A = 1;\nEND\n??A;", "end-without-block", 2, 1, false,
     u"この END に対応する IF・WHILE・FOR・EACH・FUNCTION がありません。余分な END "
     u"を消すか、ブロックの始まりを確かめてください。"},
    {"end_twice", u"A = 1;\nIF A > 0 THEN\n??A;\nEND\nEND", "end-without-block", 5, 1, false,
     u"この END に対応する IF・WHILE・FOR・EACH・FUNCTION がありません。余分な END "
     u"を消すか、ブロックの始まりを確かめてください。"},
    {"else_without_if", u"A = 1;\nELSE", "else-without-if", 2, 1, false,
     u"この ELSE の前に IF … THEN がありません。IF 条件 THEN 文 ELSE 文 END の形にしてください。"},
    {"double_equals_condition", u"A = 1;\nIF A == 1 THEN\n  ??A;\nEND", "double-equals", 2, 6, false,
     u"「==」はありません。比べるときも代入するときも「=」を一つだけ書きます。"},
    {"double_equals_assignment", u"A == 1;", "double-equals", 1, 3, false,
     u"「==」はありません。比べるときも代入するときも「=」を一つだけ書きます。"},
    {"reserved_string_name", u"&NAME = \"Taro\";", "reserved-name", 1, 1, false,
     u"NAME は予約語なので変数名に使えません。NAME1 や MY_NAME のような別の名前にしてください。"},
    {"reserved_number_name", u"LINE = 3;", "reserved-name", 1, 1, false,
     u"LINE は予約語なので変数名に使えません。LINE1 や MY_LINE のような別の名前にしてください。"},
    {"reserved_matrix_name", u"%DATA = 1;", "reserved-name", 1, 1, false,
     u"DATA は予約語なので変数名に使えません。DATA1 や MY_DATA のような別の名前にしてください。"},
    {"misspelt_if", u"A = 1;\nIFF A > 0 THEN\n  ??A;\nEND", "misspelt-keyword", 2, 1, false,
     u"「IFF」という命令はありません。IF のつづり違いではありませんか。"},
    {"misspelt_while", u"A = 1;\nWHIEL A < 3 DO\n A += 1;\nEND", "misspelt-keyword", 2, 1, false,
     u"「WHIEL」という命令はありません。WHILE のつづり違いではありませんか。"},
    {"unknown_statement", u"PRINT \"hello\";", "unknown-statement", 1, 1, false,
     u"「PRINT」で始まる文はありません。命令のつづりを確かめてください。代入なら PRINT = 値; と書きます（表示は "
     u"??）。"},
    {"missing_then", u"A = 1;\nIF A > 0\n  ??A;\nEND", "missing-then", 2, 1, true,
     u"IF の条件のあとに THEN がありません。IF 条件 THEN 文 END の形にしてください。"},
    {"missing_do_while", u"A = 1;\nWHILE A < 3\n  A += 1;\nEND", "missing-do", 2, 1, false,
     u"WHILE の行に DO がありません。WHILE … DO 文 END の形にしてください（WHILE A < 3 DO … END、FOR I = 1 TO 10 DO … "
     u"END）。"},
    {"missing_do_for", u"FOR I = 1 TO 3\n  ??I;\nEND", "missing-do", 1, 1, false,
     u"FOR の行に DO がありません。FOR … DO 文 END の形にしてください（WHILE A < 3 DO … END、FOR I = 1 TO 10 DO … "
     u"END）。"},
    {"missing_do_each", u"&L[] += \"a\";\nEACH &L[K]\n??K;\nEND", "missing-do", 2, 1, false,
     u"EACH の行に DO がありません。EACH … DO 文 END の形にしてください（WHILE A < 3 DO … END、FOR I = 1 TO 10 DO … "
     u"END）。"},
    {"for_without_to", u"FOR I = 1 10 DO\n??I;\nEND", "for-form", 1, 1, false,
     u"FOR の書き方が違います。FOR I = 1 TO 10 DO 文 END の形にしてください（始めと終わりは数か変数）。"},
    {"semicolon_after_then", u"A = 1;\nIF A > 0 THEN;\n??A;\nEND", "semicolon-after-then", 2, 14, false,
     u"THEN のあとに「;」は要りません。; を消してください。"},
    {"semicolon_after_do", u"A=1;\nWHILE A < 3 DO;\nA += 1;\nEND", "semicolon-after-then", 2, 15, false,
     u"DO のあとに「;」は要りません。; を消してください。"},
    {"semicolon_after_endfunc", u"FUNCTION F;\n??1;\nENDFUNC;\nCALL F;", "semicolon-after-then", 3, 8, true,
     u"ENDFUNC のあとに「;」は要りません。; を消してください。"},
    {"string_to_number", u"A = \"abc\";", "string-to-number", 1, 1, true,
     u"数の変数 A に文字列を代入しています。文字列を入れるなら &A と書き、数にするなら STRVAL(\"…\") "
     u"を使ってください。"},
    {"number_to_string", u"&S = 5;", "number-to-string", 1, 6, false,
     u"文字列の変数 &S に数は代入できません。\"5\" のように \" で囲むか、INTSTR(X) で数を文字列にしてください。"},
    {"unknown_function", u"A = SQR(4);", "unknown-function", 1, 5, false,
     u"「SQR」という関数はありません。SQRT のつづり違いではありませんか。使える関数は言語の手引きの「式」にあります。"},
    {"unknown_function_later", u"A = 4;\nB = SQROOT(A);", "unknown-function", 2, 5, false,
     u"「SQROOT」という関数はありません。SQRT "
     u"のつづり違いではありませんか。使える関数は言語の手引きの「式」にあります。"},
    {"undefined_call", u"CALL FOO;", "undefined-call", 1, 6, true,
     u"関数 FOO が定義されていません（実行すると「関数ラベル不明エラー」で止まります）。FUNCTION FOO; … ENDFUNC "
     u"を書くか、名前を確かめてください。"},
    {"undefined_call_other_name", u"FUNCTION G;\n??1;\nENDFUNC\nCALL H;", "undefined-call", 4, 6, true,
     u"関数 H が定義されていません（実行すると「関数ラベル不明エラー」で止まります）。FUNCTION H; … ENDFUNC "
     u"を書くか、名前を確かめてください。"},
    {"function_twice", u"FUNCTION F;\n??1;\nENDFUNC\nFUNCTION F;\n??2;\nENDFUNC\nCALL F;", "duplicate-function", 4, 10,
     false, u"関数 F は前にも定義されています。どちらかの名前を変えるか、一つにまとめてください。"},
    {"arithmetic_in_condition", u"A = 1;\nIF A + 1 > 0 THEN\n??A;\nEND", "condition-arithmetic", 2, 6, false,
     u"条件の中では計算できません（「+」）。先に変数に計算してから比べてください（T = A + 1; IF T > 0 THEN …）。"},
    {"vector_without_set", u"$V = 1, 2, 3;", "vector-without-set", 1, 6, false,
     u"ベクトルに値を並べるには SET が要ります。SET $V = 1, 2, 3; と書いてください。"},
    {"library_rules_off", u"LIB &DLL \"libvelmora_test_library.so\";", "library-rules-off", 1, 1, false,
     u"LIB の文法規則は組み込みの文法ではコメント行（凍結中）です。examples/library_call.T-Syntax.txt "
     u"をプログラムのディレクトリに T-Syntax.txt としてコピーすると使えます。"},
    {"console_slash_is_no_operator", u"??\"a\"; ?\?/;\nA = 1 +;", "missing-operand", 2, 7, false,
     u"「+」のあとに計算する値がありません。数か変数を書くか、余分な「+」を消してください。"},
    {"number_first", u"1 = A;", "syntax-error", 1, 1, false,
     u"「1」のところで文の形が言語の規則に合いません。文の形を言語の手引きと比べ、つづりと ; を確かめてください。"},
};

Lines lines_of(u16view text) {
  Lines out(1);
  for (char16_t c : text) {
    if (c == u'\n') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

class Explanations : public ::testing::TestWithParam<Mistake> {
 protected:
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
};

TEST_P(Explanations, TheMistakeIsExplainedAtItsToken) {
  const Mistake &m = GetParam();
  const int tab = env.tabs.loadLines(lines_of(m.program), ui);
  const int slot = env.compileDriver.compileActiveTab();
  const auto &found = env.compileDriver.explanations();
  ASSERT_FALSE(found.empty()) << "no explanation; messages: " << ui.messages.size();
  const compiler::Diagnosis &d = found.front();
  const compiler::ExplanationRow *row = compiler::explanation_row(d.kind);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->id, m.kind);
  EXPECT_EQ(d.line + 1, m.line);
  EXPECT_EQ(d.column + 1, m.column);
  EXPECT_EQ(d.note, m.note);
  EXPECT_EQ(text::to_utf8(compiler::explanation_text(d)), text::to_utf8(m.text));
  EXPECT_EQ(env.compileDriver.explanationTab(), tab);
  if (m.note) {
    EXPECT_GE(slot, 0) << "a note belongs to a program that compiles";
  } else {
    EXPECT_EQ(slot, -1);
    // The error mark stands on the explained line, and the compiler's own
    // message box came first.
    EXPECT_EQ(env.compileDriver.compileError().tab, tab);
    EXPECT_EQ(env.compileDriver.compileError().line, m.line - 1);
    EXPECT_FALSE(ui.messages.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(BeginnerMistakes, Explanations, ::testing::ValuesIn(kCorpus),
                         [](const ::testing::TestParamInfo<Mistake> &p) { return std::string(p.param.name); });

TEST(ExplanationTable, EveryKindHasOneRowWithAnIdATextAndAnExample) {
  std::set<std::string> ids;
  for (const compiler::ExplanationRow &row : compiler::explanation_table()) {
    EXPECT_TRUE(ids.insert(row.id).second) << row.id;
    EXPECT_NE(u16view(row.text), u16view()) << row.id;
    EXPECT_EQ(compiler::explanation_row(row.kind), &row) << row.id;
  }
  // Every kind but the registration failure is shown by an example of the page.
  for (const compiler::ExplanationRow &row : compiler::explanation_table())
    if (row.kind != compiler::Failure::RegistrationFailed) {
      EXPECT_NE(u16view(row.example), u16view()) << row.id;
    }
  // The corpus covers at least thirty mistakes and every kind the compiler
  // itself can report.
  std::set<std::string> covered;
  for (const Mistake &m : kCorpus) covered.insert(m.kind);
  EXPECT_GE(std::size(kCorpus), 30u);
  for (const compiler::ExplanationRow &row : compiler::explanation_table())
    if (row.kind != compiler::Failure::RegistrationFailed && row.kind != compiler::Failure::NonAsciiName &&
        row.kind != compiler::Failure::ExpressionError) {
      EXPECT_TRUE(covered.count(row.id)) << row.id << " has no case in the corpus";
    }
}

TEST(ExplanationTable, TheLineForTheWindowCountsLinesAsTheGutterAndCharactersFromOne) {
  compiler::Diagnosis d;
  d.kind = compiler::Failure::ReservedName;
  d.word = u"NAME";
  d.line = 2;  // the third line: "行 3", as the gutter and velmora-run's FILE:3:5 say
  d.column = 4;
  EXPECT_EQ(
      text::to_utf8(compiler::explanation_line(d)),
      "行 3（5 文字目）: NAME は予約語なので変数名に使えません。NAME1 や MY_NAME のような別の名前にしてください。");
  d.note = true;
  d.line = -1;
  EXPECT_EQ(text::to_utf8(compiler::explanation_line(d)).rfind("注意: NAME は予約語", 0), 0u);
}

TEST(TokenColumns, ColumnsCountCharactersOfTheSourceLineThroughTabsWideBlanksAndMerges) {
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  const int tab = env.tabs.loadLines({u"\tA = 1;", u"\u3000&S = \"x\" + &T;", u"  IF A>=1 THEN"}, ui);
  compiler::TokenStream s = env.compileDriver.tokenize(tab, true);
  ASSERT_EQ(s.columns.size(), s.tokens.size());
  auto column_of = [&](u16view token) {
    for (std::size_t i = 0; i < s.tokens.size(); ++i)
      if (u16view(s.tokens[i]) == token) return s.columns[i];
    return -100;
  };
  EXPECT_EQ(column_of(u"0 ∇ A"), 1);  // after the tab, which is one character
  EXPECT_EQ(column_of(u"0 ;"), 6);
  EXPECT_EQ(column_of(u"1 Σ &S"), 1);  // & and S merged: the column of "&"
  EXPECT_EQ(column_of(u"1 Ω \"x\""), 6);
  EXPECT_EQ(column_of(u"1 Σ &T"), 12);
  EXPECT_EQ(column_of(u"2 >="), 6);
  EXPECT_EQ(column_of(u"2 THEN"), 10);
}

TEST(CompileMessages, WithTheBoxesOffOnlyTheExplanationIsGiven) {
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  Settings s = env.settings();
  s.showCompilerMessages = false;
  env.setSettings(s);
  const int tab = env.tabs.loadLines({u"A = 1;", u"C = A +;"}, ui);
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  EXPECT_TRUE(ui.messages.empty()) << text::to_utf8(ui.messages.front());
  EXPECT_TRUE(ui.errorLocations.empty());
  EXPECT_EQ(env.compileDriver.compileError().tab, tab);
  EXPECT_EQ(env.compileDriver.compileError().line, 1);
  EXPECT_EQ(text::to_utf8(env.compileDriver.explanationLine()),
            "行 2（7 文字目）: 「+」のあとに計算する値がありません。数か変数を書くか、余分な「+」を消してください。");

  // On again: the compiler's own boxes come back, the explanation stays.
  s.showCompilerMessages = true;
  env.setSettings(s);
  EXPECT_EQ(env.compileDriver.compileActiveTab(), -1);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.front().find(u"MATH Syntax Error #[1]"), u16::npos);
  EXPECT_FALSE(env.compileDriver.explanationLine().empty());
}

TEST(CompileMessages, TheSettingIsKeptInTheSettingsFile) {
  TempDir home;
  {
    ScriptedUi ui;
    Environment env{home.path(), ui};
    EXPECT_TRUE(env.settings().showCompilerMessages);  // on by default
    Settings s = env.settings();
    s.showCompilerMessages = false;
    ASSERT_TRUE(s.save(home.path()));
  }
  ScriptedUi ui;
  Environment env{home.path(), ui};
  EXPECT_FALSE(env.settings().showCompilerMessages);
}

// Programs without mistakes get no notes: every example (the library
// example aside, whose rules the built-in grammar keeps as comments) and
// statements that look like a mistake and are none ("??/;" ends a line).
TEST(ExplanationNotes, CorrectProgramsGetNone) {
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  int checked = 0;
  for (const auto &entry : std::filesystem::directory_iterator(VELMORA_EXAMPLES_DIR)) {
    if (entry.path().extension() != ".mcl" || entry.path().stem() == "library_call") continue;
    bool ok = false;
    const int tab = env.tabs.loadFile(entry.path().string(), std::nullopt, ui, &ok);
    ASSERT_TRUE(ok) << entry.path();
    env.tabs.activate(tab);
    EXPECT_GE(env.compileDriver.compileToFreeSlot(), 0) << entry.path();
    for (const compiler::Diagnosis &d : env.compileDriver.explanations())
      ADD_FAILURE() << entry.path() << ": " << text::to_utf8(compiler::explanation_line(d));
    env.compileDriver.releaseSlot(env.compileDriver.selectedTask());
    env.workspace.closeTab(tab);
    ++checked;
  }
  EXPECT_GE(checked, 10);
  env.tabs.loadLines(
      {u"??\"a\"; ?\?/;", u"&S = \"x\" + \"y\";", u"IF &S THEN ??&S; END", u"FOR I = 1 TO 2 DO ??I; END"}, ui);
  EXPECT_GE(env.compileDriver.compileToFreeSlot(), 0);
  for (const compiler::Diagnosis &d : env.compileDriver.explanations())
    ADD_FAILURE() << text::to_utf8(compiler::explanation_line(d));
}

// The rename report: "変数削除" only when a program uses a name both plain
// and with a kind mark, so that two variables become one name.
TEST(VariableWarning, AStringVariableAloneRaisesNoWarning) {
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  env.tabs.loadLines({u"&S = \"a\";", u"MATRIX %M[2, 2];", u"SET $V = 1, 2, 3;", u"??&S;"}, ui);
  EXPECT_GE(env.compileDriver.compileActiveTab(), 0);
  EXPECT_TRUE(env.compileDriver.report().empty());
  for (const u16 &m : ui.messages) EXPECT_EQ(m.find(u"変数削除"), u16::npos) << text::to_utf8(m);
}

TEST(VariableWarning, APlainAndAStringVariableOfOneNameAreReported) {
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  env.tabs.loadLines({u"A = 1;", u"&A = \"x\";", u"&B = \"y\";", u"??A;"}, ui);
  EXPECT_GE(env.compileDriver.compileActiveTab(), 0);
  EXPECT_EQ(env.compileDriver.report(), (Lines{u"変数削除: A", u"変数追加: &A"}));
  bool warned = false;
  for (const u16 &m : ui.messages)
    if (m.find(u"変数削除: A\r") != u16::npos && m.find(u"変数削除: B") == u16::npos) warned = true;
  EXPECT_TRUE(warned);
}

}  // namespace

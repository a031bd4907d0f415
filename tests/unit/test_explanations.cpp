// The plain-Japanese explanations of compile errors: the table, the places
// of tokens, the setting that leaves the compiler's boxes out, and the
// variable warning that only a real merge of two names raises. The corpus of
// beginner mistakes is tests/mistakes (test_diagnostics.cpp).
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
    for (const compiler::Diagnostic &d : env.compileDriver.diagnostics())
      ADD_FAILURE() << entry.path() << ": " << text::to_utf8(compiler::diagnostic_status_text(d));
    env.compileDriver.releaseSlot(env.compileDriver.selectedTask());
    env.workspace.closeTab(tab);
    ++checked;
  }
  EXPECT_GE(checked, 10);
  env.tabs.loadLines(
      {u"??\"a\"; ?\?/;", u"&S = \"x\" + \"y\";", u"IF &S THEN ??&S; END", u"FOR I = 1 TO 2 DO ??I; END"}, ui);
  EXPECT_GE(env.compileDriver.compileToFreeSlot(), 0);
  for (const compiler::Diagnostic &d : env.compileDriver.diagnostics())
    ADD_FAILURE() << text::to_utf8(compiler::diagnostic_status_text(d));
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

// The one diagnostics function: the beginner-mistake corpus (tests/mistakes,
// one program per case with its expected diagnostics), the places in UTF-16
// code units, the settings that change a compile, and the agreement of the
// window's compile with the function for every program of the project.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "compiler/diagnostics.h"
#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

const language::Language &builtin() {
  static const language::Language language = language::Language::builtin();
  return language;
}

std::string show(const compiler::Diagnostic &d) {
  return std::string(compiler::severity_name(d.severity)) + " " + d.id + " " + std::to_string(d.line + 1) + ":" +
         std::to_string(d.column + 1) + " " + text::to_utf8(d.explanation);
}

std::string show(const std::vector<compiler::Diagnostic> &list) {
  std::string out;
  for (const compiler::Diagnostic &d : list) out += "\n  " + show(d);
  return out.empty() ? "\n  (none)" : out;
}

bool same(const compiler::Diagnostic &a, const compiler::Diagnostic &b) {
  return a.severity == b.severity && a.line == b.line && a.column == b.column && a.length == b.length &&
         std::string_view(a.id) == b.id && a.message == b.message && a.explanation == b.explanation;
}

// ----- the corpus: tests/mistakes/NAME.mcl, its first lines
//   // expect: SEVERITY ID LINE:COLUMN TEXT
// (line and column from 1, as velmora-run prints them; TEXT a part of the
// explanation), every diagnostic the program gets and nothing else, in order.

struct Expected {
  std::string severity, id;
  int line = 0, column = 0;
  std::string text;
};

struct Case {
  std::string name;
  Lines program;
  std::vector<Expected> expected;
};

std::vector<Case> corpus() {
  std::vector<Case> cases;
  for (const auto &entry : std::filesystem::directory_iterator(VELMORA_SOURCE_DIR "/tests/mistakes")) {
    if (entry.path().extension() != ".mcl") continue;
    Case c;
    c.name = entry.path().stem().string();
    c.program = text::read_text_file(entry.path())->lines;
    for (const u16 &line : c.program) {
      const std::string l = text::to_utf8(line);
      if (l.rfind("// expect: ", 0) != 0) continue;
      std::istringstream in(l.substr(11));
      Expected e;
      char colon = 0;
      in >> e.severity >> e.id >> e.line >> colon >> e.column;
      std::getline(in >> std::ws, e.text);
      c.expected.push_back(e);
    }
    cases.push_back(std::move(c));
  }
  std::sort(cases.begin(), cases.end(), [](const Case &a, const Case &b) { return a.name < b.name; });
  return cases;
}

void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

class Mistakes : public ::testing::TestWithParam<Case> {};

TEST_P(Mistakes, GetExactlyTheirDiagnosticsFromTheFunctionAndTheWindowsCompile) {
  const Case &c = GetParam();
  ASSERT_FALSE(c.expected.empty()) << c.name << " has no expectation";
  const std::vector<compiler::Diagnostic> found = compiler::program_diagnostics(builtin(), c.program);
  ASSERT_EQ(found.size(), c.expected.size()) << c.name << " got:" << show(found);
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Expected &e = c.expected[i];
    const compiler::Diagnostic &d = found[i];
    EXPECT_EQ(compiler::severity_name(d.severity), e.severity) << show(d);
    EXPECT_EQ(std::string(d.id), e.id) << show(d);
    EXPECT_EQ(d.line + 1, e.line) << show(d);
    EXPECT_EQ(d.column + 1, e.column) << show(d);
    EXPECT_NE(text::to_utf8(d.explanation).find(e.text), std::string::npos) << show(d) << "\n  wanted: " << e.text;
    // The marker stays inside its line.
    ASSERT_LT(std::size_t(d.line), c.program.size());
    EXPECT_LE(std::size_t(d.column + d.length), std::max(c.program[std::size_t(d.line)].size(), std::size_t(d.column)));
  }

  // The window's compile gives the same list, and registers exactly when
  // there is no error.
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  const int tab = env.tabs.loadLines(c.program, ui);
  const int slot = env.compileDriver.compileActiveTab();
  const auto &driver = env.compileDriver.diagnostics();
  ASSERT_EQ(driver.size(), found.size()) << "window:" << show(driver) << "\nfunction:" << show(found);
  for (std::size_t i = 0; i < found.size(); ++i) EXPECT_TRUE(same(driver[i], found[i])) << show(driver[i]);
  const bool error = !found.empty() && found.front().severity == compiler::Severity::Error;
  EXPECT_EQ(slot < 0, error) << "slot " << slot;
  if (error) {
    // The error mark stands on the diagnostic's line.
    EXPECT_EQ(env.compileDriver.compileError().tab, tab);
    EXPECT_EQ(env.compileDriver.compileError().line, found.front().line);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, Mistakes, ::testing::ValuesIn(corpus()),
                         [](const ::testing::TestParamInfo<Case> &p) { return p.param.name; });

TEST(Corpus, CoversEveryKindTheCompilerCanReport) {
  std::set<std::string> covered;
  for (const Case &c : corpus())
    for (const Expected &e : c.expected) covered.insert(e.id);
  for (const compiler::ExplanationRow &row : compiler::explanation_table())
    if (row.kind != compiler::Failure::RegistrationFailed && row.kind != compiler::Failure::NonAsciiName &&
        row.kind != compiler::Failure::ExpressionError) {
      EXPECT_TRUE(covered.count(row.id)) << row.id << " has no case in tests/mistakes";
    }
  EXPECT_GE(corpus().size(), 50u);
}

TEST(Corpus, EveryExplanationsExampleGetsThatExplanation) {
  // The examples are what the language guide shows under each explanation.
  for (const compiler::ExplanationRow &row : compiler::explanation_table()) {
    if (!row.example || !*row.example || row.kind == compiler::Failure::NonAsciiName) continue;
    const auto found = compiler::program_diagnostics(builtin(), u16view(row.example));
    EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                            [&](const compiler::Diagnostic &d) { return std::string_view(d.id) == row.id; }))
        << row.id << " got:" << show(found);
  }
}

// ----- places

TEST(Diagnostics, ColumnsCountUtf16UnitsOfTheLineAsWritten) {
  // A kanji and a tab are one unit each, an emoji two: the "+" the
  // explanation names stands after them.
  const auto found = compiler::program_diagnostics(builtin(), Lines{u"合計 = 1;", u"\t\U0001F600X = 合計 +;"});
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(std::string(found.front().id), "missing-operand");
  EXPECT_EQ(found.front().line, 1);
  EXPECT_EQ(found.front().column, 10);  // \t, two units, X, blank, =, blank, 合, 計, blank: 10
  EXPECT_EQ(found.front().length, 1);
}

TEST(Diagnostics, ATextIsCutAtCrLfLfAndCrAsFilesAre) {
  for (u16view text : {u16view(u"A = 1;\r\n??A;\r\nC = A +;\r\n"), u16view(u"A = 1;\n??A;\nC = A +;"),
                       u16view(u"A = 1;\r??A;\rC = A +;")}) {
    const auto found = compiler::program_diagnostics(builtin(), text);
    ASSERT_EQ(found.size(), 1u) << show(found);
    EXPECT_EQ(found.front().line, 2);
    EXPECT_EQ(found.front().column, 6);
  }
}

TEST(Diagnostics, AMissingSemicolonIsAPointAndATokenIsCoveredWhole) {
  auto found = compiler::program_diagnostics(builtin(), Lines{u"A = 1", u"B = 2;"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front().column, 5);
  EXPECT_EQ(found.front().length, 0);
  found = compiler::program_diagnostics(builtin(), Lines{u"&NAME = \"Taro\";"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front().column, 0);
  EXPECT_EQ(found.front().length, 5);  // "&NAME": the kind mark and the word
}

TEST(Diagnostics, TheStatusBarTextCountsLinesAsTheGutterAndCharactersFromOne) {
  compiler::Diagnostic d;
  d.line = 2;  // the third line: "行 3", as the gutter and velmora-run's FILE:3:5 say
  d.column = 4;
  d.explanation = u"NAME は予約語なので変数名に使えません。";
  EXPECT_EQ(text::to_utf8(compiler::diagnostic_status_text(d)),
            "行 3（5 文字目）: NAME は予約語なので変数名に使えません。");
  d.severity = compiler::Severity::Warning;
  EXPECT_EQ(text::to_utf8(compiler::diagnostic_status_text(d)),
            "行 3（5 文字目）: 注意: NAME は予約語なので変数名に使えません。");
  d.severity = compiler::Severity::Note;
  EXPECT_EQ(text::to_utf8(compiler::diagnostic_status_text(d)),
            "行 3（5 文字目）: 参考: NAME は予約語なので変数名に使えません。");
  EXPECT_STREQ(compiler::severity_name(compiler::Severity::Error), "error");
  EXPECT_STREQ(compiler::severity_name(compiler::Severity::Warning), "warning");
  EXPECT_STREQ(compiler::severity_name(compiler::Severity::Note), "note");
}

// ----- the compiler's own words go with the diagnostic they belong to

TEST(Diagnostics, TheCompilersMessageComesWithTheError) {
  auto found = compiler::program_diagnostics(builtin(), Lines{u"A = 1;", u"C = A +;"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(text::to_utf8(found.front().message), "MATH Syntax Error #[1] Token => #");
  found = compiler::program_diagnostics(builtin(), Lines{u"A = 1;", u"END"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(text::to_utf8(found.front().message).rfind("Syntax Error \rLine  => 1\rState => #", 0), 0u);
}

TEST(Diagnostics, ALabelLeftOverIsAWarningWithAMarkerOnItsCause) {
  // An IF left open: the compiler's "ラベル残存" goes with the open block's warning.
  auto found = compiler::program_diagnostics(builtin(), Lines{u"A = 2;", u"IF A > 1 THEN", u"??\"big\";"});
  ASSERT_EQ(found.size(), 1u) << show(found);
  EXPECT_EQ(found.front().severity, compiler::Severity::Warning);
  EXPECT_EQ(std::string(found.front().id), "open-block");
  EXPECT_EQ(found.front().line, 1);
  EXPECT_EQ(text::to_utf8(found.front().message), "事象：ラベル残存(L_3 IF)\r⇒記述ルール定義の対象外");
}

// ----- limits said at compile time, each at its place

TEST(Diagnostics, ANameTooLongIsWarnedOfWhereItIsFirstWritten) {
  const auto found =
      compiler::program_diagnostics(builtin(), Lines{u"A = 1;", u"  ABCDEFGHIJKLMNOPQRSTUVWXYZ = 2;", u"??A;"});
  ASSERT_EQ(found.size(), 1u) << show(found);
  EXPECT_EQ(found.front().severity, compiler::Severity::Warning);
  EXPECT_EQ(std::string(found.front().id), "long-name");
  EXPECT_EQ(found.front().line, 1);
  EXPECT_EQ(found.front().column, 2);
  EXPECT_EQ(found.front().length, 26);
  EXPECT_EQ(text::to_utf8(found.front().message),
            "変数名が 20 文字を超える: ABCDEFGHIJKLMNOPQRSTUVWXYZ（実行時に変数未定義となる）");
}

TEST(Diagnostics, MoreTimersThanThereAreIsWarnedOfAtTheFirstOneTooMany) {
  Lines program;
  for (int i = 0; i < 11; ++i) program.push_back(u"TIMER \"T" + text::int16(i) + u"\", SET, 5, \"H\";");
  for (const char16_t *l : {u"FUNCTION H;", u"INTRET;", u"ENDFUNC"}) program.push_back(l);
  const auto found = compiler::program_diagnostics(builtin(), program);
  bool warned = false;
  for (const compiler::Diagnostic &d : found)
    if (std::string_view(d.id) == "too-many-timers") {
      warned = true;
      EXPECT_EQ(d.line, 10) << show(d);
      EXPECT_EQ(d.severity, compiler::Severity::Warning);
    }
  EXPECT_TRUE(warned) << show(found);
}

// Code the engine cannot run is refused when it is registered: it is an
// error of the program in every face (the editor, --check, the language
// server), not a warning beside a successful compile.
TEST(Diagnostics, CodeTheEngineCannotRunIsAnError) {
  Lines ifs{u"X = 0;"};
  for (int i = 0; i < 400; ++i) ifs.push_back(u"IF X > " + text::int16(i) + u" THEN X = 1; END");
  auto found = compiler::program_diagnostics(builtin(), ifs);
  ASSERT_EQ(found.size(), 1u) << show(found);
  EXPECT_EQ(std::string(found.front().id), "too-many-labels");
  EXPECT_EQ(found.front().severity, compiler::Severity::Error);
  EXPECT_EQ(found.front().line, 400);  // marked where the highest label is
  ifs.resize(334);                     // labels up to 999 fit
  EXPECT_TRUE(compiler::program_diagnostics(builtin(), ifs).empty());

  // 16,000 statements compile to 80,002 records: more than the 16-bit
  // execution point reaches; 13,000 (65,002) fit.
  Lines sums{u"X = 0;"};
  for (int i = 0; i < 16000; ++i) sums.push_back(u"X = X + 1 * 2 - 1;");
  found = compiler::program_diagnostics(builtin(), sums);
  ASSERT_EQ(found.size(), 1u) << show(found);
  EXPECT_EQ(std::string(found.front().id), "too-long");
  EXPECT_EQ(found.front().severity, compiler::Severity::Error);
  EXPECT_EQ(text::to_utf8(found.front().message), "中間コード 80002 行が上限 65535 行を超える（実行できない）");
  sums.resize(13001);
  EXPECT_TRUE(compiler::program_diagnostics(builtin(), sums).empty());
}

// ----- the settings that change a compile

// ----- the slips of a compilable program, and what is none

TEST(Diagnostics, WhatLooksLikeASlipButIsNoneGetsNothing) {
  for (u16view program : {
           u16view(u"%B[0, 0] = 1;\nE = %B[0, 0];\n??E;"),                        // a comma between a matrix's indices
           u16view(u"&S = \"abc\";\nP = SPOS(\"b\", &S);\n??P;"),                 // and between a function's arguments
           u16view(u"SET $V = 1, 2, 3;"),                                         // a vector's values
           u16view(u"??\"“引用”　と全角；（）\";\n// コメントの　全角＋ “x”\n"),  // in a string and a comment
           u16view(u"　A = 1;　\n??A;"),                                          // indentation and a line's end
           u16view(u"&S = \"A\";\nIF ASC(&S) = 65 THEN\n  ??&S;\nEND"),           // a condition form of its own
           u16view(u"A = 1;\nIF A <> 1 THEN\n  ??A;\nEND\nA += 1;\n??A;"),
       }) {
    const auto found = compiler::program_diagnostics(builtin(), program);
    EXPECT_TRUE(found.empty()) << text::to_utf8(u16(program)) << show(found);
  }
}

TEST(Diagnostics, TheProjectsOwnProgramsHaveNoSlips) {
  const std::set<std::string> slips{"full-width", "curly-quotes", "wide-space", "decimal-comma", "comma-in-assignment"};
  int checked = 0;
  for (const char *dir : {"/tests/programs", "/examples"})
    for (const auto &entry : std::filesystem::directory_iterator(std::string(VELMORA_SOURCE_DIR) + dir)) {
      if (entry.path().extension() != ".mcl") continue;
      for (const compiler::Diagnostic &d :
           compiler::program_diagnostics(builtin(), text::read_text_file(entry.path())->lines))
        EXPECT_FALSE(slips.count(d.id)) << entry.path() << ": " << show(d);
      ++checked;
    }
  EXPECT_GE(checked, 50);
}

TEST(Diagnostics, TheSettingsOfTheWindowChangeWhatAProgramGets) {
  const Lines program{u"合計 = 1;", u"&S = 'abc';", u"??合計;"};
  compiler::DiagnosticOptions o;
  auto found = compiler::program_diagnostics(builtin(), program, o);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(std::string(found.front().id), "single-quote");
  o.replaceSingleQuotes = true;
  EXPECT_TRUE(compiler::program_diagnostics(builtin(), program, o).empty());
  o.asciiNamesOnly = true;
  found = compiler::program_diagnostics(builtin(), program, o);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::string(found.front().id), "non-ascii-name");
  EXPECT_EQ(found.front().severity, compiler::Severity::Error);
  EXPECT_EQ(text::to_utf8(found.front().message), "変数名は半角英数字のみ: 合計");
  EXPECT_EQ(found.front().length, 2);
}

// ----- agreement: the window and the function, for every program there is

TEST(Diagnostics, TheWindowsCompileAgreesWithTheFunctionForEveryProgramOfTheProject) {
  TempDir home;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  int checked = 0;
  for (const char *dir : {"/tests/programs", "/tests/mistakes", "/examples"})
    for (const auto &entry : std::filesystem::directory_iterator(std::string(VELMORA_SOURCE_DIR) + dir)) {
      if (entry.path().extension() != ".mcl") continue;
      bool ok = false;
      const int tab = env.tabs.loadFile(entry.path(), std::nullopt, ui, &ok);
      ASSERT_TRUE(ok) << entry.path();
      env.tabs.activate(tab);
      const int slot = env.compileDriver.compileToFreeSlot();
      const auto expected =
          compiler::program_diagnostics(env.language(), env.tabs.tab(tab).lines, env.compileDriver.diagnosticOptions());
      const auto &got = env.compileDriver.diagnostics();
      EXPECT_EQ(got.size(), expected.size())
          << entry.path() << "\nwindow:" << show(got) << "\nfunction:" << show(expected);
      for (std::size_t i = 0; i < std::min(got.size(), expected.size()); ++i)
        EXPECT_TRUE(same(got[i], expected[i])) << entry.path() << ": " << show(got[i]) << " / " << show(expected[i]);
      if (slot >= 0) env.compileDriver.releaseSlot(slot);
      env.workspace.closeTab(tab);
      ++checked;
    }
  EXPECT_GE(checked, 100);
}

}  // namespace

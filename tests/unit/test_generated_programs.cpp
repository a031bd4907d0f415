#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;

namespace {

ExtractionRow row(const u16 &mode, std::initializer_list<const char16_t *> markers) {
  ExtractionRow r;
  r.mode = mode;
  std::size_t i = 0;
  for (const char16_t *m : markers) r.markers[i++] = m;
  return r;
}

class Extraction : public ::testing::Test {
 protected:
  velmora::testing::TempDir home;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};
};

}  // namespace

TEST(ExtractionProgram, GeneratedTextFollowsTheGrid) {
  ExtractionSpec spec;
  spec.sourcePath = u"page";
  spec.rows = {row(u"1", {u"<td>", u"</td>"}), row(u"0", {}), row(u"0", {u"never", u"used"})};
  Lines p = extraction_program(spec, 3);
  EXPECT_EQ(p[5], u"&_SRC[]=[#3];");  // without web access: the source tab
  EXPECT_EQ(p[7], u"_OUT=[#].NEW;");
  auto has = [&](const u16 &line) { return std::find(p.begin(), p.end(), line) != p.end(); };
  EXPECT_TRUE(has(u"//#1#1 <td>"));
  EXPECT_TRUE(has(u"  &_R1C2=\"<td>\";"));
  EXPECT_TRUE(has(u"  &_L[],&_R[]=[++]&_EXTR_1[&_R1C2->&_R1C3];"));
  // Row 2 has no first start marker: generation of rows ends there.
  EXPECT_TRUE(has(u"//#2 Conds"));
  EXPECT_FALSE(has(u"//#3 Conds"));
  EXPECT_EQ(p.back(), u"endfunc");
  spec.webAccess = true;
  spec.encoding = u"SJIS";
  EXPECT_EQ(extraction_program(spec, 1)[5], u"&_SRC[]=<*> SJIS \"page\";");
  EXPECT_EQ(escaped_marker(u"a\"b"), u"\"a\"+char(34)+\"b\"");
}

TEST_F(Extraction, RepeatModeCutsEveryOccurrenceIntoANewPage) {
  env.tabs.loadLines({u"<tr><td>1</td><td>2</td></tr>", u"<tr><td>3</td></tr>"}, ui);
  ExtractionSpec spec;
  spec.sourcePath = u"#1";
  spec.rows = {row(u"1", {u"<td>", u"</td>"})};
  ASSERT_EQ(env.runExtraction(spec), RunResult::Ended) << text::to_utf8(ui.console.back());
  // Tab 1 holds the generated program, tab 2 the output page.
  EXPECT_EQ(env.tabs.tab(2).lines, (Lines{u"<tr><td>1</td><td>2</td></tr>", u"<tr><td>3</td></tr>"}));
}

TEST_F(Extraction, NestModeNarrowsAndQuotedMarkersCompile) {
  env.tabs.loadLines({u"head", u"<a href=\"x\">", u"<b>inner</b>", u"</a>", u"tail"}, ui);
  ExtractionSpec spec;
  spec.sourcePath = u"#1";
  spec.rows = {row(u"0", {u"<a href=\"x\">", u"</a>", u"<b>", u"</b>"})};
  ASSERT_EQ(env.runExtraction(spec), RunResult::Ended) << text::to_utf8(ui.console.back());
  // Zones of lines: the start line is not tested for the end marker, so the
  // second pair runs from "<b>inner</b>" to the last line.
  EXPECT_EQ(env.tabs.tab(2).lines, (Lines{u"<b>inner</b>", u"</a>"}));
}

TEST_F(Extraction, TheGeneratedProgramRunsAloneEvenWhenItsSlotIsForbidden) {
  env.tabs.loadLines({u"??\"user program\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  env.tabs.loadLines({u"<td>1</td>"}, ui);
  env.runLoop.togglePermit(1);  // the slot the generated program goes to
  ExtractionSpec spec;
  spec.sourcePath = u"#2";
  spec.rows = {row(u"1", {u"<td>", u"</td>"})};
  ASSERT_EQ(env.runExtraction(spec), RunResult::Ended);
  EXPECT_EQ(env.tabs.tab(3).lines, Lines{u"<td>1</td>"});
  for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"user program"), u16::npos);
}

// A generated program that never ends is a run of its own: it is started,
// driven slice by slice, stopped, and its temporary tab closes once the run
// has ended; other commands are refused meanwhile.
TEST_F(Extraction, AnEndlessSystemProgramIsStoppedAndItsTabClosed) {
  env.tabs.loadLines({u"??\"user program\";"}, ui);
  ASSERT_EQ(env.startSystemProgram({u"WHILE 1 DO END"}, false), RunResult::Running);
  EXPECT_EQ(env.tabs.openCount(), 2);
  EXPECT_EQ(env.state(), State::Running);
  EXPECT_FALSE(env.mayStart(Command::Tool));
  ExtractionSpec spec;
  spec.sourcePath = u"#1";
  EXPECT_EQ(env.startExtraction(spec), RunResult::NotStarted);
  int slices = 0;
  ui.onPump = [&] {
    if (++slices == 20) env.runLoop.stopAll();
  };
  EXPECT_EQ(drive(env, ui, RunResult::Running), RunResult::Stopped);
  EXPECT_EQ(env.tabs.openCount(), 1);
  EXPECT_EQ(env.state(), State::Idle);
  for (const u16 &line : ui.console) EXPECT_EQ(line.find(u"user program"), u16::npos);
  // A program that does not compile starts nothing and leaves no tab.
  EXPECT_EQ(env.startSystemProgram({u"WHILE"}, false), RunResult::NotStarted);
  EXPECT_EQ(env.tabs.openCount(), 1);
}

TEST_F(Extraction, SystemProgramsAreRefusedWithTenTabsOpen) {
  for (int i = 0; i < 10; ++i) env.workspace.newProgram();
  EXPECT_EQ(env.runSystemProgram({u"??1;"}, false), RunResult::NotStarted);
  EXPECT_EQ(ui.messages.back(), u"10ファイル以上は編集できません");
}

TEST_F(Extraction, RenamingAWordRewritesTablesGrammarAndSavedPrograms) {
  // A saved program in the recent-file list.
  std::filesystem::create_directories(home / "PROG");
  {
    Lines prog = {u"WAIT 1; // WAIT here", u"&S = \"WAIT\";"};
    ASSERT_TRUE(text::write_lines_file(home / "PROG" / "p.mcl", prog));
  }
  env.workspace.addRecentFile(home / "PROG" / "p.mcl");
  env.renameWord(u"WAIT", u"PAUSE");
  const Lines &commands = env.language().tables.commands;
  auto at = std::find(commands.begin(), commands.end(), u"PAUSE");
  ASSERT_NE(at, commands.end());
  EXPECT_EQ(*(at + 1), u"WRITE");  // before the first five-letter command
  EXPECT_EQ(std::find(commands.begin(), commands.end(), u"WAIT"), commands.end());
  auto grammar = std::find_if(env.language().tables.syntax.begin(), env.language().tables.syntax.end(),
                              [](const u16 &l) { return l.rfind(u"#080:", 0) == 0; });
  ASSERT_NE(grammar, env.language().tables.syntax.end());
  EXPECT_EQ(*grammar, u"#080: PAUSE 【 ∇ Δ 】 ; ");
  ASSERT_TRUE(env.pendingRename());
  ui.answers = {Answer::Yes, Answer::Yes};
  env.confirmRename();
  EXPECT_EQ(text::read_text_file(home / "PROG" / "p.mcl")->lines,
            (Lines{u"PAUSE 1; // PAUSE here", u"&S = \"PAUSE\";"}));
  EXPECT_TRUE(std::filesystem::exists(home / "T-Syntax.txt"));
  // The renamed word compiles at once, and the tables load with it next time.
  env.workspace.closeAllTabs();
  env.tabs.loadLines({u"PAUSE 0;", u"??\"ok\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0);
  language::Language reloaded;
  reloaded.load(home.path(), {});
  EXPECT_TRUE(reloaded.tables.IsKeyWord(u"PAUSE"));
}

TEST(WordLists, SortedByLengthThenAlphabet) {
  EXPECT_EQ(language::sorted_word_list({u"BB", u"A", u"", u"AA", u"C"}, false), (Lines{u"A", u"C", u"AA", u"BB"}));
  EXPECT_EQ(language::sorted_word_list({u"BB", u"A", u"AA"}, true), (Lines{u"BB", u"AA", u"A"}));
}

// A renamed flow word reaches the code-generation rules too: the renamed
// WHILE, IF, FOR and FUNCTION compile and run, the old words no longer do,
// and the rules are saved beside the program with the other tables.
TEST_F(Extraction, RenamedFlowWordsCompileAndRunThroughTheCodeGenerationRules) {
  for (auto [from, to] :
       {std::pair{u"WHILE", u"SOLANGE"}, {u"IF", u"WENN"}, {u"FOR", u"FUER"}, {u"FUNCTION", u"FUNKTION"}}) {
    env.renameWord(from, to);
    ui.answers = {Answer::No};  // saved programs stay as they are
    env.confirmRename();
  }
  env.workspace.closeAllTabs();
  env.tabs.loadLines(
      {u"FUNKTION ZEIGE;", u"??N;", u"ENDFUNC", u"N = 0; S = 0;", u"SOLANGE N < 4 DO N += 1; END",
       u"FUER I = 1 TO 3 DO S += I; END", u"WENN S = 6 THEN ??\"six\"; ELSE ??\"other\"; END", u"CALL ZEIGE;"},
      ui);
  ui.messages.clear();

  ASSERT_EQ(env.compileDriver.compileActiveTab(), 0) << (ui.messages.empty() ? "" : text::to_utf8(ui.messages.back()));
  ASSERT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.console.back(), u"\rsix4");

  env.workspace.closeAllTabs();
  env.tabs.loadLines({u"N = 0;", u"WHILE N < 4 DO N += 1; END"}, ui);
  EXPECT_LT(env.compileDriver.compileActiveTab(), 0);

  language::Language reloaded;
  reloaded.load(home.path(), {});
  EXPECT_TRUE(reloaded.rules.isFlowKeyword(u"SOLANGE"));
  EXPECT_FALSE(reloaded.rules.isFlowKeyword(u"WHILE"));
  auto pair = std::find_if(reloaded.rules.pairs().begin(), reloaded.rules.pairs().end(),
                           [](const language::FlowPair &p) { return p.head == u"FUNKTION"; });
  ASSERT_NE(pair, reloaded.rules.pairs().end());
  EXPECT_EQ(pair->terminator, u"ENDFUNC");
}

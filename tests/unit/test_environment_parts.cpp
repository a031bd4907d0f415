// Environment rules reached from the window: the error options of "エラー検出"
// and "半角英数字のみ許可", FREE PAGE moving on to the next page, the three
// ways of opening a program.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::drive;
using velmora::testing::set_setting;
using velmora::testing::TempDir;

namespace {

class EnvParts : public ::testing::Test {
 protected:
  TempDir home;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};

  RunResult run(const Lines &program) {
    env.tabs.loadLines(program, ui);
    EXPECT_GE(env.compileDriver.compileToFreeSlot(), 0);
    return env.runAll();
  }
  bool consoleHas(u16view text) const {
    for (const u16 &line : ui.console)
      if (line.find(text) != u16::npos) return true;
    return false;
  }
};

}  // namespace

TEST_F(EnvParts, FileErrorsStopTheRunUnlessIgnored) {
  const Lines program{u"FILE(1).OPEN(\"missing.txt\", READ);",
                      u"&L[] = <*> \"also_missing.txt\";",
                      u"FILE(2).OPEN(\"/no/such/dir/a.txt\", WRITE);",
                      u"FILE(3).OPEN(\"out.txt\", WRITE);",
                      u"FILE(3).WRITE(\"kept\");",
                      u"FILE(3).CLOSE;",
                      u"??\"after\";"};
  // On (the default): the first failing instruction ends the run.
  ASSERT_TRUE(env.settings().stopOnFileError);
  EXPECT_EQ(run(program), RunResult::Error);
  EXPECT_TRUE(consoleHas(u"ファイルオープンエラー"));
  EXPECT_FALSE(consoleHas(u"after"));
  ASSERT_EQ(ui.errors.size(), 1u);

  // Off: each failing instruction does nothing but say so, with its path,
  // and the instructions after it still run.
  set_setting(env, &environment::Settings::stopOnFileError, false);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_EQ(ui.errors.size(), 1u);
  int ignored = 0;
  for (const u16 &line : ui.console)
    if (line.find(u"- ファイルI/Oエラー(無視) ") != u16::npos) ++ignored;
  EXPECT_EQ(ignored, 3);
  EXPECT_TRUE(consoleHas(u"missing.txt"));
  EXPECT_TRUE(consoleHas(u"also_missing.txt"));
  EXPECT_TRUE(consoleHas(u"/no/such/dir/a.txt"));
  EXPECT_TRUE(consoleHas(u"after"));
  auto written = text::read_text_file(env.dataDirectory() / "out.txt");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->lines, (Lines{u"kept"}));
  EXPECT_FALSE(env.engine().errorFlag());
}

TEST_F(EnvParts, CommandsThatCannotStartStopTheRunUnlessIgnored) {
  const Lines program{u"EXEC \"/no/such/program --flag\";", u"COMMAND HIDE \"true\";", u"??\"after\";"};
  EXPECT_EQ(run(program), RunResult::Error);
  EXPECT_TRUE(consoleHas(u"実行エラー：/no/such/program"));
  EXPECT_FALSE(consoleHas(u"after"));

  // Off, with an interpreter that does not exist either: both are noted.
  set_setting(env, &environment::Settings::stopOnCommandError, false);
  set_setting(env, &environment::Settings::commandInterpreter, u"/no/such/shell");
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_TRUE(consoleHas(u"実行エラー(無視)：/no/such/program --flag"));
  EXPECT_TRUE(consoleHas(u"COMMAND.COM実行エラー(無視) /no/such/shell -c true"));
  EXPECT_TRUE(consoleHas(u"after"));
}

TEST_F(EnvParts, AsciiOnlyNamesRefuseOtherCharactersAtCompile) {
  const Lines program{u"COUNT_1 = 1;", u"&TEXT = \"x\";", u"&名前 = \"y\";", u"??COUNT_1;"};
  env.tabs.loadLines(program, ui);
  // Off (the default): the program compiles.
  EXPECT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  env.compileDriver.releaseSlot(0);

  set_setting(env, &environment::Settings::asciiNamesOnly, true);
  ui.messages.clear();
  EXPECT_EQ(env.compileDriver.compileToFreeSlot(), -1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(u"半角英数字"), u16::npos);
  EXPECT_NE(ui.messages[0].find(u"名前"), u16::npos);
  EXPECT_EQ(env.compileDriver.compileError().line, 2);
  EXPECT_EQ(env.engine().task(0).state, engine::tsEMPTY);
  // "追加" has nothing to register after a refused compile.
  EXPECT_EQ(env.compileDriver.registerAgain(), -1);

  // ASCII letters, digits and "_" pass, with any kind mark.
  env.tabs.setLines(env.tabs.active(), {u"A_b9 = 1;", u"&S = \"x\";", u"??A_b9;"});
  EXPECT_EQ(env.compileDriver.compileToFreeSlot(), 0);
}

// FREE PAGE: the page goes, and the next open page after the one named
// (the current task's number) becomes the active one, round to the first.
TEST_F(EnvParts, FreePageMovesOnToTheNextOpenPage) {
  for (int i = 0; i < 5; ++i) env.workspace.newProgram();  // tabs 0..4
  engine::EngineHost &host = env;
  host.Free_Page(3, 1);  // after page 1: page 2
  EXPECT_FALSE(env.tabs.tab(3).inUse);
  EXPECT_EQ(env.tabs.active(), 2);
  host.Free_Page(2, 1);  // after page 1: 2 and 3 are gone, page 4
  EXPECT_EQ(env.tabs.active(), 4);
  host.Free_Page(4, 4);  // after page 4, round: page 0
  EXPECT_EQ(env.tabs.active(), 0);
  host.Free_Page(0, -1);  // no page named: after page 0 (the one before, at least 0): page 1
  EXPECT_EQ(env.tabs.active(), 1);
  host.Free_Page(1, -1);
  EXPECT_EQ(env.tabs.active(), -1);
  EXPECT_EQ(env.tabs.openCount(), 0);

  // From a running program: the page of slot 0's program stays in front of
  // nothing; the next page after it becomes active.
  env.tabs.loadLines({u"[#3].FREE;", u"??\"freed\";"}, ui);  // tab 0
  env.workspace.newProgram();                                // tab 1
  env.workspace.newProgram();                                // tab 2
  env.tabs.activate(0);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  EXPECT_EQ(env.runAll(), RunResult::Ended);
  EXPECT_FALSE(env.tabs.tab(2).inUse);
  EXPECT_EQ(env.tabs.active(), 1);
}

// Bytes that read as UTF-8 and as Shift-JIS alike: the variants decide.
TEST_F(EnvParts, OpenVariantsDecodeAsChosen) {
  struct OpenUi : velmora::testing::ScriptedUi {
    std::optional<std::filesystem::path> file;
    u16 pattern;
    std::optional<std::filesystem::path> chooseOpenFile(const u16 &, const std::filesystem::path &,
                                                        const u16 &p) override {
      pattern = p;
      return file;
    }
  } openUi;
  Environment e(home.path(), openUi);
  const auto path = home.path() / "PROG" / "twofold.mcl";
  // "\xC3\xA9" is "é" in UTF-8 and the half-width "ﾃｩ" in Shift-JIS.
  ASSERT_TRUE(text::write_file_bytes(path, "??\"\xC3\xA9\";\r\n"));
  openUi.file = path;
  const int utf8 = e.workspace.openProgram(text::Encoding::Utf8);
  ASSERT_GE(utf8, 0);
  EXPECT_EQ(e.tabs.tab(utf8).lines, Lines{u"??\"é\";"});
  EXPECT_EQ(openUi.pattern, u"*.MCL");
  // The same file opened as Shift-JIS: its tab reads it again so.
  const int sjis = e.workspace.openProgram(text::Encoding::Cp932);
  EXPECT_EQ(sjis, utf8);
  EXPECT_EQ(e.tabs.tab(sjis).lines, Lines{u"??\"ﾃｩ\";"});
  EXPECT_EQ(e.tabs.tab(sjis).caption, u"twofold.mcl");
  EXPECT_EQ(e.tabs.tab(sjis).encoding, text::Encoding::Cp932);
  EXPECT_EQ(e.workspace.openProgram(std::nullopt), utf8);  // no encoding asked for: as it is
  EXPECT_EQ(e.tabs.tab(sjis).lines, Lines{u"??\"ﾃｩ\";"});
  // The default takes the bytes for UTF-8 when they are valid UTF-8.
  ASSERT_TRUE(e.workspace.closeTab(sjis));
  const int guessed = e.workspace.openProgram(std::nullopt);
  ASSERT_GE(guessed, 0);
  EXPECT_EQ(e.tabs.tab(guessed).lines, Lines{u"??\"é\";"});

  // Cancelled: nothing opens. Ten tabs: refused before the dialog.
  openUi.file.reset();
  EXPECT_EQ(e.workspace.openProgram(std::nullopt), -1);
  EXPECT_EQ(e.tabs.openCount(), 1);
  while (e.tabs.openCount() < TabPool::kTabs) e.workspace.newProgram();
  openUi.file = path;
  openUi.pattern.clear();
  EXPECT_EQ(e.workspace.openProgram(text::Encoding::Utf8), -1);
  EXPECT_EQ(openUi.messages.back(), u"10ファイル以上は編集できません");
  EXPECT_TRUE(openUi.pattern.empty());

  // "全て閉じる" closes every one of them (the modified ones asked first).
  e.tabs.activate(-1);
  EXPECT_TRUE(e.workspace.closeAllTabs());
  EXPECT_EQ(e.tabs.openCount(), 0);
}

// The code-debug menus: a reset, then one scheduler pass at a time.
TEST_F(EnvParts, TaskResetAndSinglePassesOfTheCodeDebugMenus) {
  env.tabs.loadLines({u"??\"a\";", u"??\"b\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  env.tabs.loadLines({u"??\"x\";"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 1);
  ASSERT_TRUE(env.resetTasks());
  EXPECT_EQ(env.engine().task(0).state, engine::tsACTIVE);
  EXPECT_EQ(env.engine().task(0).INSTP, 0);
  long passes = 0;
  while (!env.runLoop.allTasksFinished() && passes < 100) {
    ASSERT_TRUE(env.stepOnePass());
    ++passes;
    if (passes == 1) {
      // One pass: each task one instruction.
      EXPECT_NE(env.engine().task(0).INSTP, 0);
      EXPECT_NE(env.engine().task(1).INSTP, 0);
    }
  }
  EXPECT_GT(passes, 2);
  EXPECT_LT(passes, 100);
  EXPECT_FALSE(env.stepping());
  u16 printed;
  for (const u16 &line : ui.console) printed += line;
  EXPECT_LT(printed.find(u'a'), printed.find(u'b'));
  EXPECT_NE(printed.find(u'x'), u16::npos);
  // A pass after the end starts the tasks afresh, as a reset would.
  ASSERT_TRUE(env.stepOnePass());
  EXPECT_TRUE(env.stepping());
  EXPECT_EQ(env.engine().task(0).state, engine::tsACTIVE);
  // Refused while a run holds the slots.
  int refused = 0;
  ui.onPump = [&] {
    if (!env.runLoop.running()) return;
    refused += !env.resetTasks() && !env.stepOnePass();
    env.runLoop.stopAll();
  };
  env.workspace.closeAllTabs();
  env.tabs.loadLines({u"WHILE 1 DO END"}, ui);
  ASSERT_EQ(env.compileDriver.compileToFreeSlot(), 0);
  EXPECT_EQ(drive(env, ui), RunResult::Stopped);
  EXPECT_EQ(refused, 1);
}

// "トークン抽出" and "トークン抽出(汎用)": the two modes of the tokenizer on
// the active tab, and the classes their rows are coloured by.
TEST_F(EnvParts, TokenExtractionInBothModes) {
  EXPECT_FALSE(env.compileDriver.extractTokens(false));  // no tab
  env.tabs.loadLines({u"// head", u"SHARE &T;", u"x = sin(2) + 1.5;", u"", u"&T = \"a b\";", u"CALL F;"}, ui);
  ASSERT_TRUE(env.compileDriver.extractTokens(false));
  const Lines compiled = env.compileDriver.extractedTokens().tokens;
  ASSERT_FALSE(compiled.empty());
  EXPECT_EQ(compiled.front().substr(0, 2), u"1 ");  // the comment line is dropped
  for (const u16 &t : compiled) EXPECT_NE(compiler::token_type(t), u"ψ");
  EXPECT_NE(std::find(compiled.begin(), compiled.end(), u"2 ∇ X"), compiled.end());  // upper-cased
  EXPECT_EQ(env.compileDriver.extractedTokens().sharedNames, Lines{u"&T"});
  EXPECT_NE(std::find(env.compileDriver.extractedTokens().functionNames.begin(),
                      env.compileDriver.extractedTokens().functionNames.end(), u"F"),
            env.compileDriver.extractedTokens().functionNames.end());

  ASSERT_TRUE(env.compileDriver.extractTokens(true));
  const Lines general = env.compileDriver.extractedTokens().tokens;
  EXPECT_EQ(general.front().substr(0, 2), u"0 ");                                 // kept
  EXPECT_NE(std::find(general.begin(), general.end(), u"3 ψ 1"), general.end());  // the empty line
  EXPECT_NE(std::find(general.begin(), general.end(), u"2 ∇ x"), general.end());  // case as written

  using C = CompileDriver::TokenClass;
  EXPECT_EQ(CompileDriver::token_class(u"2 ∇ X"), C::Variable);
  EXPECT_EQ(CompileDriver::token_class(u"4 Σ &T"), C::Variable);
  EXPECT_EQ(CompileDriver::token_class(u"2 Δ 1.5"), C::Number);
  EXPECT_EQ(CompileDriver::token_class(u"4 Ω \"a b\""), C::String);
  EXPECT_EQ(CompileDriver::token_class(u"2 xMATH SIN"), C::Function);
  EXPECT_EQ(CompileDriver::token_class(u"5 xFNAME F"), C::Function);
  EXPECT_EQ(CompileDriver::token_class(u"3 ψ 1"), C::Spacing);
  EXPECT_EQ(CompileDriver::token_class(u"1 SHARE"), C::Keyword);
  EXPECT_EQ(CompileDriver::token_class(u""), C::Other);
}

// "ｽﾃｯﾌﾟ変換" ticked: the ordinary compile waits for "次" before every token,
// and still registers its code; "終了" unticks it and lets the compile finish.
TEST_F(EnvParts, StepTransformationStepsTheOrdinaryCompile) {
  struct StepUi : velmora::testing::ScriptedUi {
    int shown = 0;
    bool compileStepShown(const CompileStep &) override {
      ++shown;
      return true;  // the compile pauses for an answer
    }
  } stepUi;
  Environment e(home.path(), stepUi);
  e.tabs.loadLines({u"A = 1;", u"B = A + 2;", u"??B;"}, stepUi);
  EXPECT_EQ(e.compileDriver.compileToFreeSlot(), 0);
  EXPECT_EQ(stepUi.shown, 0);  // unticked: no steps

  // Ticked: the compile pauses before every token; "次" goes one further.
  e.compileDriver.setStepTransform(true);
  EXPECT_EQ(e.compileDriver.compileToFreeSlot(), -1);
  EXPECT_TRUE(e.compileDriver.stepCompiling());
  EXPECT_EQ(stepUi.shown, 1);
  while (e.compileDriver.stepCompiling()) e.compileDriver.stepCompileNext();
  const int allSteps = stepUi.shown;
  EXPECT_GT(allSteps, 8);  // a pause before every token
  EXPECT_EQ(e.compileDriver.stepResult(), 1);
  EXPECT_EQ(e.engine().registered(), 2);
  EXPECT_TRUE(e.compileDriver.stepTransform());  // stays ticked for the next compile

  stepUi.shown = 0;
  EXPECT_EQ(e.compileDriver.compileToFreeSlot(), -1);
  e.compileDriver.stepCompileNext();
  e.compileDriver.stepCompileNext();
  EXPECT_EQ(stepUi.shown, 3);
  e.compileDriver.endStepCompile();  // "終了" after three tokens: it runs on and registers
  EXPECT_EQ(stepUi.shown, 3);
  EXPECT_FALSE(e.compileDriver.stepCompiling());
  EXPECT_EQ(e.compileDriver.stepResult(), 2);
  EXPECT_FALSE(e.compileDriver.stepTransform());
  EXPECT_EQ(e.runAll(), RunResult::Ended);
  EXPECT_EQ(stepUi.console.back(), u"\r333");
}

// The browser keeps only the newest part of the console: trimming keeps at
// most so many lines and characters, a long line by its end, tells how many
// lines left the front, and tells nobody of the kept lines again; the
// buffer goes on growing from its last line.
TEST_F(EnvParts, TrimmingTheConsoleKeepsItsNewestLinesAndCharacters) {
  ASSERT_EQ(run({u"FOR I = 1 TO 1000 DO ??\"line \"; ??I; ??CRLF; END", u"??\"partial\";"}), RunResult::Ended);
  const Lines &lines = env.engine().console().lines();
  const std::size_t before = lines.size();
  ASSERT_GT(before, 1000u);
  const int heard = ui.linesCompleted;
  EXPECT_EQ(env.trimConsole(2000, 1u << 20, 1000), 0u);  // within bounds: nothing changes
  EXPECT_EQ(lines.size(), before);
  EXPECT_EQ(env.trimConsole(100, 1u << 20, 1000), before - 100);
  ASSERT_EQ(lines.size(), 100u);
  // Each line begins with its carriage return.
  EXPECT_EQ(lines.front(), u"\rline 902");
  EXPECT_EQ(lines.back(), u"\rpartial");
  EXPECT_EQ(env.engine().console().current(), 99);
  EXPECT_EQ(ui.linesCompleted, heard);  // no kept line was reported again
  // Characters: "\rline 9xx" has nine, "\rline 1000" ten, "\rpartial" eight.
  EXPECT_EQ(env.trimConsole(100, 8 * 9 + 10 + 8, 1000), 90u);
  EXPECT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines.front(), u"\rline 992");
  // A line longer than the limit keeps its end, and the last line is always kept.
  ASSERT_EQ(run({u"FOR I = 1 TO 3000 DO ??\"x\"; END", u"??\"end\";"}), RunResult::Ended);
  const std::size_t lineCount = lines.size();
  EXPECT_EQ(env.trimConsole(100, 10, 100), lineCount - 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 100u);
  EXPECT_EQ(lines[0].substr(97), u"end");
}

// The options of "エラー検出" and "変数名" as a compile and a run use them:
// file and command errors stop the run or are noted and passed, and names
// may be held to ASCII.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::TempDir;

namespace {

class ErrorOptions : public ::testing::Test {
 protected:
  TempDir home;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};

  RunResult run(const Lines &program) {
    env.tabs.loadLines(program, ui);
    EXPECT_GE(env.CompileButtonClick(), 0);
    return env.ExecTaskButtonClick();
  }
  bool consoleHas(u16view text) const {
    for (const u16 &line : ui.console)
      if (line.find(text) != u16::npos) return true;
    return false;
  }
};

}  // namespace

TEST_F(ErrorOptions, FileErrorsStopTheRunUnlessIgnored) {
  const Lines program{u"FILE(1).OPEN(\"missing.txt\", READ);",
                      u"&L[] = <*> \"also_missing.txt\";",
                      u"FILE(2).OPEN(\"/no/such/dir/a.txt\", WRITE);",
                      u"FILE(3).OPEN(\"out.txt\", WRITE);",
                      u"FILE(3).WRITE(\"kept\");",
                      u"FILE(3).CLOSE;",
                      u"??\"after\";"};
  // On (the default): the first failing instruction ends the run.
  ASSERT_TRUE(env.settings.FILE_ERROR_CheckBox);
  EXPECT_EQ(run(program), RunResult::Error);
  EXPECT_TRUE(consoleHas(u"ファイルオープンエラー"));
  EXPECT_FALSE(consoleHas(u"after"));
  ASSERT_EQ(ui.errors.size(), 1u);

  // Off: each failing instruction does nothing but say so, with its path,
  // and the instructions after it still run.
  env.settings.FILE_ERROR_CheckBox = false;
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_EQ(ui.errors.size(), 1u);
  int ignored = 0;
  for (const u16 &line : ui.console)
    if (line.find(u"- ファイルI/Oエラー(無視) ") != u16::npos) ++ignored;
  EXPECT_EQ(ignored, 3);
  EXPECT_TRUE(consoleHas(u"missing.txt"));
  EXPECT_TRUE(consoleHas(u"also_missing.txt"));
  EXPECT_TRUE(consoleHas(u"/no/such/dir/a.txt"));
  EXPECT_TRUE(consoleHas(u"after"));
  auto written = read_text_file(env.dataDirectory / "out.txt");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->lines, (Lines{u"kept"}));
  EXPECT_FALSE(env.engine.errorFlag);
}

TEST_F(ErrorOptions, CommandsThatCannotStartStopTheRunUnlessIgnored) {
  const Lines program{u"EXEC \"/no/such/program --flag\";", u"COMMAND HIDE \"true\";", u"??\"after\";"};
  EXPECT_EQ(run(program), RunResult::Error);
  EXPECT_TRUE(consoleHas(u"実行エラー：/no/such/program"));
  EXPECT_FALSE(consoleHas(u"after"));

  // Off, with an interpreter that does not exist either: both are noted.
  env.settings.COMMAND_EXEC_ERROR_CheckBox = false;
  env.settings.CMDEXEPathEdit = u"/no/such/shell";
  EXPECT_EQ(env.ExecTaskButtonClick(), RunResult::Ended);
  EXPECT_TRUE(consoleHas(u"実行エラー(無視)：/no/such/program --flag"));
  EXPECT_TRUE(consoleHas(u"COMMAND.COM実行エラー(無視) /no/such/shell -c true"));
  EXPECT_TRUE(consoleHas(u"after"));
}

TEST_F(ErrorOptions, AsciiOnlyNamesRefuseOtherCharactersAtCompile) {
  const Lines program{u"COUNT_1 = 1;", u"&TEXT = \"x\";", u"&名前 = \"y\";", u"??COUNT_1;"};
  env.tabs.loadLines(program, ui);
  // Off (the default): the program compiles.
  EXPECT_EQ(env.CompileButtonClick(), 0);
  env.DelTaskButtonClick(0);

  env.settings.Ascii_Name_Only_CheckBox = true;
  ui.messages.clear();
  EXPECT_EQ(env.CompileButtonClick(), -1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(u"半角英数字"), u16::npos);
  EXPECT_NE(ui.messages[0].find(u"名前"), u16::npos);
  EXPECT_EQ(env.compileError.line, 2);
  EXPECT_EQ(env.engine.tasks[0].state, engine::tsEMPTY);
  // "追加" has nothing to register after a refused compile.
  EXPECT_EQ(env.AddTaskButtonClick(), -1);

  // ASCII letters, digits and "_" pass, with any kind mark.
  env.tabs.tabs[std::size_t(env.tabs.active)].lines = {u"A_b9 = 1;", u"&S = \"x\";", u"??A_b9;"};
  EXPECT_EQ(env.CompileButtonClick(), 0);
}

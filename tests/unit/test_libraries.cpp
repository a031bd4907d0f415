// Library calls end to end: the frozen grammar rules enabled, a program that
// loads the test build's shared library, declares a function and calls it.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/library_rules.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

class Libraries : public ::testing::Test {
 protected:
  TempDir home;
  ScriptedUi ui;
  const bool rulesWritten = velmora::testing::write_library_rules(home.path());
  Environment env{home.path(), ui};
  void SetUp() override { ASSERT_TRUE(rulesWritten); }
  const u16 library = text::from_utf8(VELMORA_TEST_LIBRARY);

  RunResult runProgram(const Lines &program) {
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  const u16 &lastLine() const { return ui.console.back(); }
};

}  // namespace

TEST_F(Libraries, AFunctionChangesItsArgumentText) {
  RunResult r =
      runProgram({u"LIB &L \"" + library + u"\";", u"LIBA &L \"velmora_upper\" \"1\";", u"&F = \"velmora_upper\";",
                  u"&V = \"abc日本\";", u"&R = &L :: &F ( &V );", u"??&R;", u"&F = \"velmora_reverse\";",
                  u"&R = &L :: &F ( &V );", u"??\" \";", u"??&R;", u"??\" \";", u"??&L;"});
  ASSERT_EQ(r, RunResult::Ended) << text::to_utf8(lastLine());
  EXPECT_EQ(lastLine(), u"\rABC日本 本日cba " + library);
  // Each call is announced before it blocks, and the status cleared after.
  EXPECT_EQ(ui.statuses, (Lines{u"ライブラリ関数 velmora_upper を実行中（終わるまで中断できません）", u"",
                                u"ライブラリ関数 velmora_reverse を実行中（終わるまで中断できません）", u""}));
}

TEST_F(Libraries, RelativePathsStartInTheProgramsOwnDirectory) {
  std::filesystem::copy_file(VELMORA_TEST_LIBRARY, home / "lib.so");
  std::filesystem::create_directories(home / "DATA");
  EXPECT_EQ(runProgram({u"LIB &L \"lib.so\";", u"??\"ok\";"}), RunResult::Ended);
  EXPECT_EQ(lastLine(), u"\rok");
}

TEST_F(Libraries, FailuresAreReportedAndStopTheRun) {
  struct Case {
    Lines program;
    const char16_t *line;
  } cases[] = {
      {{u"LIB &L \"missing.so\";"}, u"  - DLL:ライブラリファイルが存在しません"},
      {{u"LIB &L \"" + library + u"\";", u"LIB &L \"" + library + u"\";"}, u"  - DLL:別名が重複しています"},
      {{u"LIBA &L \"velmora_upper\" \"1\";"}, u"  - DLL:エイリアスが登録されていません"},
      {{u"LIB &L \"" + library + u"\";", u"LIBA &L \"nothing\" \"1\";"}, u"  - DLL:指定関数がＤＬＬ内で見つかりません"},
      {{u"LIB &L \"" + library + u"\";", u"LIBA &L \"velmora_upper\" \"1\";", u"LIBA &L \"velmora_upper\" \"1\";"},
       u"  - DLL:関数定義が重複しています"},
  };
  for (const Case &c : cases) {
    env.workspace.closeAllTabs();
    EXPECT_EQ(runProgram(c.program), RunResult::Error);
    EXPECT_EQ(lastLine(), c.line);
    // After the error every library is released and must be defined again.
    EXPECT_EQ(env.engine().loadedLibraries(), 0);
  }
}

TEST_F(Libraries, ATwelfthLibraryIsRefused) {
  Lines program;
  for (int i = 0; i < 12; ++i) program.push_back(u"LIB &L" + text::int16(i) + u" \"" + library + u"\";");
  EXPECT_EQ(runProgram(program), RunResult::Error);
  EXPECT_EQ(lastLine(), u"  - DLL:DLLファイルが多すぎます");
}

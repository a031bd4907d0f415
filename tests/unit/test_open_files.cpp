// The files behind the tabs: the program list names files, not bare names;
// a file changed on the disk is never overwritten without a word; one file
// is never open in two tabs; a file keeps its line ends.
#include <gtest/gtest.h>

#include <thread>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/settings_change.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::TempDir;

namespace {

std::string bytes_of(const std::filesystem::path &p) { return text::read_file_bytes(p).value_or("<missing>"); }

class OpenFiles : public ::testing::Test {
 protected:
  TempDir home, outside;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};

  void edit(int tab, const u16 &line) {
    Lines lines = env.tabs.tab(tab).lines;
    lines.push_back(line);
    env.tabs.setLines(tab, lines);
    env.tabs.setModified(tab, true);
  }
  // Another program writes the file (a moment later, so its time differs).
  void writeElsewhere(const std::filesystem::path &p, const std::string &bytes) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(text::write_file_bytes(p, bytes));
  }
};

}  // namespace

// Saved outside PROG, a program is listed as the file it is: the list (and
// "Recent.$$$") keep its absolute path, a double click opens that file and
// not PROG's namesake, and an entry whose file is gone says so and opens
// nothing (it used to open an empty tab whose Ctrl+S made a second file).
TEST_F(OpenFiles, TheProgramListNamesFilesWhereverTheyWereSaved) {
  text::write_file_bytes(home / "PROG" / "outside.mcl", "??\"namesake\";\r\n");
  const int tab = env.workspace.newProgram();
  env.tabs.setLines(tab, {u"??\"mine\";"});
  const std::filesystem::path file = outside / "outside.mcl";
  ui.saveAs = file;
  ASSERT_TRUE(env.workspace.saveTabAsText(tab));
  ASSERT_EQ(env.workspace.recentFiles().size(), 1u);
  const u16 entry = env.workspace.recentFiles()[0];
  EXPECT_EQ(std::filesystem::path(text::to_utf8(entry)), file);
  EXPECT_EQ(Workspace::listedName(entry), u"outside.mcl");
  EXPECT_EQ(text::read_text_file(home / "Recent.$$$")->lines, Lines{entry});
  ASSERT_TRUE(env.workspace.closeAllTabs());

  const int opened = env.workspace.openListedFile(entry);
  ASSERT_GE(opened, 0);
  EXPECT_EQ(env.tabs.tab(opened).lines, Lines{u"??\"mine\";"});
  EXPECT_EQ(env.workspace.previewListedFile(entry), Lines{u"??\"mine\";"});
  ASSERT_TRUE(env.workspace.closeAllTabs());

  std::filesystem::remove(file);
  EXPECT_FALSE(env.workspace.listedFileExists(entry));
  ui.messages.clear();
  EXPECT_EQ(env.workspace.openListedFile(entry), -1);
  EXPECT_EQ(env.tabs.openCount(), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], u"ファイルがありません " + entry);

  // A list of an older version holds bare names: taken from PROG.
  text::write_lines_file(home / "Recent.$$$", {u"outside.mcl"});
  env.workspace.loadRecentFiles();
  const int old = env.workspace.openListedFile(env.workspace.recentFiles()[0]);
  ASSERT_GE(old, 0);
  EXPECT_EQ(env.tabs.tab(old).lines, Lines{u"??\"namesake\";"});
}

// A file changed on the disk while its tab has edits: Ctrl+S asks before it
// overwrites (it used to overwrite without a word); "比較" shows both texts
// and asks again; "キャンセル" keeps the file, "上書きする" writes the tab.
TEST_F(OpenFiles, AFileChangedOnTheDiskIsNotOverwrittenWithoutAsking) {
  const auto path = home / "PROG" / "p.mcl";
  text::write_file_bytes(path, "A = 1;\n");
  const int tab = env.workspace.openFile(path, std::nullopt);
  ASSERT_GE(tab, 0);
  EXPECT_EQ(env.workspace.diskChange(tab), Workspace::DiskChange::None);
  edit(tab, u"B = 2;");
  writeElsewhere(path, "A = 1;\nC = 3;\n");
  EXPECT_EQ(env.workspace.diskChange(tab), Workspace::DiskChange::Changed);

  ui.fileAnswers = {FileChangeAnswer::Compare, FileChangeAnswer::Cancel};
  EXPECT_FALSE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(path), "A = 1;\nC = 3;\n");
  EXPECT_EQ(ui.fileQuestions.size(), 2u);
  ASSERT_EQ(ui.comparisons.size(), 1u);
  EXPECT_EQ(ui.comparisons[0].first, (Lines{u"A = 1;", u"C = 3;"}));
  EXPECT_EQ(ui.comparisons[0].second, (Lines{u"A = 1;", u"B = 2;"}));
  EXPECT_TRUE(env.tabs.tab(tab).modified);

  ui.fileAnswers = {FileChangeAnswer::KeepMine};
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(path), "A = 1;\nB = 2;\n");
  // The tab's own save is no change from outside: no question next time.
  edit(tab, u"D = 4;");
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(ui.fileQuestions.size(), 3u);

  // "読み直す" before a save: the file's text in the tab, nothing written.
  edit(tab, u"E = 5;");
  writeElsewhere(path, "F = 6;\n");
  ui.fileAnswers = {FileChangeAnswer::Reload};
  EXPECT_FALSE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(env.tabs.tab(tab).lines, Lines{u"F = 6;"});
  EXPECT_FALSE(env.tabs.tab(tab).modified);
  EXPECT_EQ(bytes_of(path), "F = 6;\n");
}

// What the window's file watcher calls: a tab without edits takes the new
// text; a tab with edits asks and keeps its text on "このまま" (a save then
// writes without asking again) or takes the file's on "読み直す"; a file
// only touched is no change; a file deleted leaves its tab marked changed.
TEST_F(OpenFiles, AChangeFromOutsideIsTakenInOrAskedAbout) {
  const auto path = home / "PROG" / "w.mcl";
  text::write_file_bytes(path, "A = 1;\n");
  const int tab = env.workspace.openFile(path, std::nullopt);
  const unsigned revision = env.tabs.tab(tab).revision;
  writeElsewhere(path, "A = 2;\n");
  EXPECT_EQ(env.workspace.answerDiskChange(tab), Workspace::DiskAction::Reloaded);
  EXPECT_EQ(env.tabs.tab(tab).lines, Lines{u"A = 2;"});
  EXPECT_NE(env.tabs.tab(tab).revision, revision);  // the editor shows it anew
  EXPECT_TRUE(ui.fileQuestions.empty());

  writeElsewhere(path, "A = 2;\n");  // the same bytes again
  EXPECT_EQ(env.workspace.answerDiskChange(tab), Workspace::DiskAction::None);

  edit(tab, u"B = 1;");
  writeElsewhere(path, "A = 3;\n");
  ui.fileAnswers = {FileChangeAnswer::KeepMine};
  EXPECT_EQ(env.workspace.answerDiskChange(tab), Workspace::DiskAction::Kept);
  EXPECT_EQ(env.tabs.tab(tab).lines, (Lines{u"A = 2;", u"B = 1;"}));
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(path), "A = 2;\nB = 1;\n");
  EXPECT_EQ(ui.fileQuestions.size(), 1u);

  edit(tab, u"C = 1;");
  writeElsewhere(path, "A = 4;\n");
  ui.fileAnswers = {FileChangeAnswer::Reload};
  EXPECT_EQ(env.workspace.answerDiskChange(tab), Workspace::DiskAction::Reloaded);
  EXPECT_EQ(env.tabs.tab(tab).lines, Lines{u"A = 4;"});

  std::filesystem::remove(path);
  EXPECT_EQ(env.workspace.answerDiskChange(tab), Workspace::DiskAction::Removed);
  EXPECT_TRUE(env.tabs.tab(tab).modified);
  EXPECT_EQ(env.workspace.openFiles(), std::vector<std::filesystem::path>{path});
}

// One file, one tab: opening a file that is open brings its tab to the
// front; saving another tab under its name is refused (two tabs on one
// file would overwrite each other's edits).
TEST_F(OpenFiles, OneFileIsNeverOpenInTwoTabs) {
  const auto path = home / "PROG" / "a.mcl";
  text::write_file_bytes(path, "A = 1;\n");
  const int a = env.workspace.openFile(path, std::nullopt);
  const int b = env.workspace.newProgram();
  EXPECT_EQ(env.workspace.openFile(home / "PROG" / ".." / "PROG" / "a.mcl", std::nullopt), a);
  EXPECT_EQ(env.tabs.active(), a);
  EXPECT_EQ(env.tabs.openCount(), 2);
  EXPECT_EQ(env.workspace.openListedFile(text::from_utf8(path.string())), a);

  env.tabs.setLines(b, {u"B = 2;"});
  ui.saveAs = path;
  EXPECT_FALSE(env.workspace.saveTabAsText(b));
  EXPECT_EQ(bytes_of(path), "A = 1;\n");
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find(u"このファイルはタブ「a.mcl」で開いています"), u16::npos);
  // Under its own name, a tab saves as usual.
  EXPECT_TRUE(env.workspace.saveTabAsText(a));
}

// A file keeps the line ends it was read with (an LF file edited once is one
// line changed, not every line); a program saved for the first time gets
// LF, or CR LF when the settings say so.
TEST_F(OpenFiles, AFileKeepsItsLineEnds) {
  struct Case {
    const char *name;
    std::string bytes, saved;
  };
  const Case cases[] = {
      {"lf.mcl", "A = 1;\nB = 2;\n", "A = 1;\nB = 2;\n??2;\n"},
      {"crlf.mcl", "A = 1;\r\nB = 2;\r\n", "A = 1;\r\nB = 2;\r\n??2;\r\n"},
      {"cr.mcl", "A = 1;\rB = 2;\r", "A = 1;\rB = 2;\r??2;\r"},
      {"open_end.mcl", "A = 1;\nB = 2;", "A = 1;\nB = 2;\n??2;"},
      {"sjis.mcl", "??\"\x82\xa0\";\n", "??\"\x82\xa0\";\n??2;\n"},
  };
  for (const Case &c : cases) {
    const auto path = home / "PROG" / c.name;
    text::write_file_bytes(path, c.bytes);
    const int tab = env.workspace.openFile(path, std::nullopt);
    ASSERT_GE(tab, 0) << c.name;
    edit(tab, u"??2;");
    ASSERT_TRUE(env.workspace.overwriteSave(tab)) << c.name;
    EXPECT_EQ(bytes_of(path), c.saved) << c.name;
    ASSERT_TRUE(env.workspace.closeTab(tab));
  }
  const int fresh = env.workspace.newProgram();
  env.tabs.setLines(fresh, {u"A = 1;", u"B = 2;"});
  ui.saveAs = home / "PROG" / "new.mcl";
  ASSERT_TRUE(env.workspace.saveTabAsText(fresh));
  EXPECT_EQ(bytes_of(home / "PROG" / "new.mcl"), "A = 1;\nB = 2;\n");
  velmora::testing::set_setting(env, &Settings::newFilesCrLf, true);
  const int windows = env.workspace.newProgram();
  env.tabs.setLines(windows, {u"A = 1;"});
  ui.saveAs = home / "PROG" / "crlf_new.mcl";
  ASSERT_TRUE(env.workspace.saveTabAsText(windows));
  EXPECT_EQ(bytes_of(home / "PROG" / "crlf_new.mcl"), "A = 1;\r\n");
}

// Where a save goes and in which encoding: every path a tab keeps is
// absolute from the moment its file is opened, and a file keeps the
// encoding (and byte-order mark) it was read in.
#include <gtest/gtest.h>
#include <unistd.h>

#include "environment/environment.h"
#include "tests/unit/scripted_ui.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using namespace velmora::environment;
using velmora::testing::TempDir;

namespace {

// Works in a directory of its own for the test's length, as the IDE does
// when it is started there.
class InDirectory {
 public:
  explicit InDirectory(const std::filesystem::path &dir) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(before_); }

 private:
  std::filesystem::path before_;
};

std::string bytes_of(const std::filesystem::path &p) { return text::read_file_bytes(p).value_or("<missing>"); }

class WorkspaceFiles : public ::testing::Test {
 protected:
  TempDir home, start;
  velmora::testing::ScriptedUi ui;
  Environment env{home.path(), ui};

  // The tab's text changed by the user: one more line.
  void edit(int tab) {
    Lines lines = env.tabs.tab(tab).lines;
    lines.push_back(u"??2;");
    env.tabs.setLines(tab, lines);
    env.tabs.setModified(tab, true);
  }
};

}  // namespace

// Opened as "hello.mcl" from the directory the IDE started in, while the
// program directory holds a file of the same name: the save goes to the
// opened file and leaves the other alone.
TEST_F(WorkspaceFiles, RelativePathFromTheStartDirectorySavesThere) {
  const std::string original = "??1;\r\n";
  text::write_file_bytes(start / "hello.mcl", original);
  text::write_file_bytes(home / "PROG" / "hello.mcl", original);
  InDirectory in(start.path());
  const int tab = env.tabs.loadFile("hello.mcl", std::nullopt, ui);
  ASSERT_GE(tab, 0);
  EXPECT_EQ(std::filesystem::path(text::to_utf8(env.tabs.tab(tab).panels[2])), start / "hello.mcl");
  edit(tab);
  ASSERT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(start / "hello.mcl"), "??1;\r\n??2;\r\n");
  EXPECT_EQ(bytes_of(home / "PROG" / "hello.mcl"), original);
  EXPECT_FALSE(env.tabs.tab(tab).modified);
}

// The other ways in: a name of the file list (recent files) is taken from
// the program directory, a book's programs keep the book's absolute path.
TEST_F(WorkspaceFiles, ListedFilesAndBooksKeepAbsolutePaths) {
  text::write_file_bytes(home / "PROG" / "listed.mcl", "??1;\r\n");
  text::write_file_bytes(start / "shelf.TXB", "[=TXB=]:REVE VOVER BOOK VER1\r\n[=TXB=]#1\r\n??1;\r\n");
  InDirectory in(start.path());
  const int listed = env.workspace.openListedFile(u"listed.mcl");
  ASSERT_GE(listed, 0);
  const std::filesystem::path panel(text::to_utf8(env.tabs.tab(listed).panels[2]));
  EXPECT_TRUE(panel.is_absolute());
  EXPECT_EQ(panel, (home / "PROG" / "listed.mcl").lexically_normal());
  ASSERT_TRUE(env.workspace.readBookFile("shelf.TXB"));
  const std::filesystem::path book(text::to_utf8(env.tabs.tab(env.tabs.active()).panels[2]));
  EXPECT_EQ(book, start / "shelf.TXB");
}

// A recovery copy records the absolute path; one that holds a relative path
// (an older version wrote them) is restored without a file, so Ctrl+S asks
// for a name instead of writing beside whatever directory is current.
TEST_F(WorkspaceFiles, RecoveryCopiesNameTheirFileAbsolutely) {
  text::write_file_bytes(start / "hello.mcl", "??1;\r\n");
  env.workspace.setKeepRecoveryCopies(true);
  {
    InDirectory in(start.path());
    const int tab = env.tabs.loadFile("hello.mcl", std::nullopt, ui);
    edit(tab);
    env.workspace.writeRecoveryCopies();
  }
  std::vector<RecoveryCopy> copies = env.workspace.recoveryCopies();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(std::filesystem::path(text::to_utf8(copies[0].path)), start / "hello.mcl");

  text::write_lines_file(home / "Recovery" / "tab1.txt", {u"[=VELMORA RECOVERY=]", u"old.mcl", u"old.mcl", u"??3;"});
  velmora::testing::ScriptedUi later;
  Environment next(home.path(), later);
  next.workspace.setKeepRecoveryCopies(true);
  ASSERT_EQ(next.workspace.restoreRecoveryCopies(), 1);
  EXPECT_FALSE(next.workspace.overwriteSave(0));  // the save dialog was offered and cancelled
  ASSERT_FALSE(later.questions.empty());
  EXPECT_EQ(later.questions.back(), u"テキストで保存: old.mcl");
  EXPECT_FALSE(std::filesystem::exists(home / "PROG" / "old.mcl"));
}

// Each encoding the reader knows is written back as it was read.
TEST_F(WorkspaceFiles, SavesKeepTheEncodingTheFileWasReadIn) {
  struct Case {
    const char *name;
    std::string bytes, saved;
  };
  const Case cases[] = {
      {"sjis.mcl", "??\"\x82\xa0\";\r\n", "??\"\x82\xa0\";\r\n??2;\r\n"},
      {"bom.mcl", "\xEF\xBB\xBF??\"\xE3\x81\x82\";\r\n", "\xEF\xBB\xBF??\"\xE3\x81\x82\";\r\n??2;\r\n"},
      {"plain.mcl", "??\"\xE3\x81\x82\";\r\n", "??\"\xE3\x81\x82\";\r\n??2;\r\n"},
      {"le.mcl", std::string("\xFF\xFE?\0?\0\r\0\n\0", 10),
       std::string("\xFF\xFE?\0?\0\r\0\n\0?\0?\0"
                   "2\0;\0\r\0\n\0",
                   22)},
  };
  for (const Case &c : cases) {
    const auto path = home / "PROG" / c.name;
    text::write_file_bytes(path, c.bytes);
    const int tab = env.tabs.loadFile(path, std::nullopt, ui);
    ASSERT_GE(tab, 0) << c.name;
    edit(tab);
    ASSERT_TRUE(env.workspace.overwriteSave(tab)) << c.name;
    EXPECT_EQ(bytes_of(path), c.saved) << c.name;
    env.workspace.closeTab(tab);
  }
  // UTF-8 chosen when opening a file with a byte-order mark keeps the mark.
  const auto marked = home / "PROG" / "marked.mcl";
  text::write_file_bytes(marked, "\xEF\xBB\xBF??1;\r\n");
  const int tab = env.tabs.loadFile(marked, text::Encoding::Utf8, ui);
  edit(tab);
  ASSERT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(marked), "\xEF\xBB\xBF??1;\r\n??2;\r\n");
}

// A Shift-JIS file given a character Shift-JIS cannot hold: the user is
// asked; No leaves the file as it was and the tab modified, Yes writes UTF-8.
TEST_F(WorkspaceFiles, TextShiftJisCannotHoldAsksBeforeUtf8) {
  const auto path = home / "PROG" / "sjis.mcl";
  const std::string original = "??\"\x82\xa0\";\r\n";
  text::write_file_bytes(path, original);
  const int tab = env.tabs.loadFile(path, std::nullopt, ui);
  env.tabs.setLines(tab, {u"??\"あ한\";"});
  env.tabs.setModified(tab, true);

  ui.answers = {Answer::No};
  EXPECT_FALSE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(path), original);
  EXPECT_TRUE(env.tabs.tab(tab).modified);
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_NE(ui.questions[0].find(u"UTF-8 で保存するか"), u16::npos);

  ui.answers = {Answer::Yes};
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(bytes_of(path), "??\"\xE3\x81\x82\xED\x95\x9C\";\r\n");
  EXPECT_EQ(env.tabs.tab(tab).encoding, text::Encoding::Utf8);
  // From now on it is a UTF-8 file: no more questions.
  EXPECT_TRUE(env.workspace.overwriteSave(tab));
  EXPECT_EQ(ui.questions.size(), 2u);
}

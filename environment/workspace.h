#pragma once
// The workspace: opening, saving and closing the programs of the tabs, books
// (all open programs in one ".TXB" file), the recent-file list and the file
// list panel, and recovery copies of modified tabs.
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "environment/settings.h"
#include "environment/tab_pool.h"
#include "environment/user_interface.h"

namespace velmora::environment {

// A tab's content left by an earlier session that ended without saving it.
struct RecoveryCopy {
  u16 caption, path;
  Lines lines;
};

class Workspace {
 public:
  // tabClosing(tab) is called before a tab goes (its slots are freed);
  // lastTabClosed when no tab is left; runOwnsTabs tells whether a run is on
  // (its programs read and write the tabs as pages).
  Workspace(const std::filesystem::path &home, TabPool &tabs, Settings &settings, UserInterface &ui,
            std::function<void(int)> tabClosing, std::function<void()> lastTabClosed,
            std::function<bool()> runOwnsTabs);

  // Whether the user may open, close all or read a book now: not while a
  // run owns the tabs; the user is told to end the run first.
  bool mayChangeTabs();

  // The program directory of the settings, else the home directory.
  std::filesystem::path programDirectory() const;

  // ----- tabs
  int newProgram() { return tabs_.newProgram(programDirectory(), ui_); }
  // "開く(&O)" and its two variants: the file dialog, then the file in a new
  // tab, decoded as its bytes suggest (no encoding given), as Shift-JIS or
  // as UTF-8 whatever they suggest. Refused with ten tabs open; -1 then or
  // when cancelled.
  int openProgram(std::optional<text::Encoding> encoding);
  // A file in a new tab; a file already open in a tab brings that tab to
  // the front instead (two tabs on one file would overwrite each other).
  int openFile(const std::filesystem::path &path, std::optional<text::Encoding> encoding);
  // Whether another tab may open; when not, the user is told why.
  bool roomForAnotherTab();
  // Closes a tab: a modified one asks first (Yes saves, Cancel keeps it);
  // its slots are freed (tabClosing); with no tab left, all tasks stop
  // (lastTabClosed).
  // False when the user cancelled.
  bool closeTab(int tab);
  // Asks about every modified tab before any closes (Yes saves, No lets it
  // go); a Cancel, or a save that fails, leaves every tab open. True when
  // all may close; the tabs answered No then count as unmodified.
  bool confirmCloseAll();
  // Closes every tab after confirmCloseAll; false (nothing closed) when the
  // user cancelled.
  bool closeAllTabs();
  // "テキストで保存": the save dialog, ".mcl" appended to a name without
  // extension, the lines written with CR LF in the tab's encoding. False when
  // cancelled or failed.
  bool saveTabAsText(int tab);
  // "上書き保存(&S)": back to the tab's own file; refused for a book. A tab
  // with no file behind it (a new program) asks for a name instead.
  bool overwriteSave(int tab);

  // ----- files of open tabs changed on the disk (disk_changes.cpp)
  enum class DiskChange { None, Changed, Removed };
  // How the file of a tab differs from what the tab last read or wrote.
  DiskChange diskChange(int tab) const;
  // What a face that watches the files calls when one changed: a tab
  // without edits takes the new text; one with edits asks (reload, keep
  // the tab's text, or compare first); a file that went away leaves its tab
  // marked changed, so that closing it asks. Nothing while a run owns the
  // tabs (the face asks again when it has ended).
  enum class DiskAction { None, Reloaded, Kept, Removed };
  DiskAction answerDiskChange(int tab);
  // The tab's text read again from its file, unmodified; false when the
  // file cannot be read (the tab stays as it was).
  bool reloadFromDisk(int tab);
  // The files of the open tabs, for the face to watch.
  std::vector<std::filesystem::path> openFiles() const;
  // The open tab (other than `except`) holding this file, or -1.
  int tabOfFile(const std::filesystem::path &path, int except = -1) const;

  // ----- recovery copies of modified tabs (the IDE turns them on)
  bool keepRecoveryCopies() const { return keepRecoveryCopies_; }
  void setKeepRecoveryCopies(bool on) { keepRecoveryCopies_ = on; }
  // Writes a copy of every modified tab and removes those of the others.
  void writeRecoveryCopies();
  void removeRecoveryCopy(int tab);
  // The copies a previous session left, in tab order.
  std::vector<RecoveryCopy> recoveryCopies() const;
  // Opens the copies in new tabs, marked modified; the number opened.
  int restoreRecoveryCopies();
  void discardRecoveryCopies();

  // ----- books and the recent-file list
  // The file list: absolute paths ("Recent.$$$" beside the program; a bare
  // name a list of an older version holds is taken from the program
  // directory).
  const Lines &recentFiles() const { return recentFiles_; }
  const u16 &bookName() const { return bookName_; }
  void loadRecentFiles();
  void saveRecentFiles() const;
  void addRecentFile(const std::filesystem::path &file);
  Lines bookLines() const;           // the open programs as a book
  int readBook(const Lines &lines);  // programs into new tabs; how many
  bool saveBook();                   // "ブック保存"
  bool loadBook();                   // "ブック読込"
  bool releaseWorkspace();
  bool readBookFile(const std::filesystem::path &path);
  // The file list panel: the chosen files become the recent-file list and
  // the first one's directory the program directory; a listed entry is
  // previewed, opened as a program, or read as a book (".TXB"). An entry
  // whose file is gone opens nothing (the user is told).
  void setFileList(const std::vector<std::filesystem::path> &files);
  std::filesystem::path listedFilePath(const u16 &entry) const;
  static u16 listedName(const u16 &entry);  // the bare file name the list shows
  bool listedFileExists(const u16 &entry) const;
  Lines previewListedFile(const u16 &entry) const;
  int openListedFile(const u16 &entry);

  // ----- a start (first_start.cpp)
  // The ".mcl" and ".txb" files of the program directory, by name (their
  // absolute paths).
  Lines programsInDirectory() const;
  // A start without recent files: the programs of the program directory
  // (the examples an installed Velmora copies there) become the list, so
  // they are a double click away. The list file is not written for that.
  // True when the list was filled.
  bool listProgramDirectoryWhenEmpty();
  // The short program a first tab shows when a start leaves no tab open.
  static const Lines &greetingProgram();
  // Opens it, unmodified, when no tab is open; its tab, else -1.
  int openGreeting();

 private:
  const std::filesystem::path home_;
  TabPool &tabs_;
  Settings &settings_;
  UserInterface &ui_;
  std::function<void(int)> tabClosing_;
  std::function<void()> lastTabClosed_;
  std::function<bool()> runOwnsTabs_;
  bool keepRecoveryCopies_ = false;
  Lines recentFiles_;
  u16 bookName_;
  // Writes a tab's lines in its encoding and line ends; a Shift-JIS text
  // that no longer fits asks whether to write UTF-8 instead, and the tab's
  // own file changed on the disk since it was read asks whether to
  // overwrite it. False when refused or failed (after the message).
  bool writeTab(int tab, const std::filesystem::path &path);
  // Before the tab's own file is overwritten: false when the user would
  // rather not (the tab may have taken the file's text).
  bool mayOverwriteChangedFile(int tab);
};

}  // namespace velmora::environment

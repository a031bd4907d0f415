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
  const Lines &recentFiles() const { return recentFiles_; }  // bare file names, "Recent.$$$" beside the program
  const u16 &bookName() const { return bookName_; }
  void loadRecentFiles();
  void saveRecentFiles() const;
  void addRecentFile(const u16 &name);
  Lines bookLines() const;           // the open programs as a book
  int readBook(const Lines &lines);  // programs into new tabs; how many
  bool saveBook();                   // "ブック保存"
  bool loadBook();                   // "ブック読込"
  bool releaseWorkspace();
  bool readBookFile(const std::filesystem::path &path);
  // The file list panel: the chosen files become the recent-file list and
  // the first one's directory the program directory; a listed name is
  // previewed, opened as a program, or read as a book (".TXB").
  void setFileList(const std::vector<std::filesystem::path> &files);
  std::filesystem::path listedFilePath(const u16 &name) const;
  Lines previewListedFile(const u16 &name) const;
  int openListedFile(const u16 &name);

  // ----- a start (first_start.cpp)
  // The ".mcl" and ".txb" files of the program directory, by name.
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
  // Writes a tab's lines in its encoding; a Shift-JIS text that no longer
  // fits asks whether to write UTF-8 instead. False when refused or failed
  // (after the message).
  bool writeTab(Tab &t, const std::filesystem::path &path);
};

}  // namespace velmora::environment

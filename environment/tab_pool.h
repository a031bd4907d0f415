#pragma once
// The ten editor tabs: program texts, captions, modified flags and the
// status panels (line count, modified mark, path).
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "environment/user_interface.h"
#include "text/encoding.h"
#include "text/lines.h"

namespace velmora::environment {

// A file as a tab last read or wrote it: its time of change, size and a
// hash of its bytes. A file changed on the disk since differs in one of
// them (a touch that left the bytes as they were is no change).
struct DiskStamp {
  bool exists = false;
  std::int64_t changedNs = 0;
  std::uintmax_t size = 0;
  std::size_t hash = 0;
  bool operator==(const DiskStamp &) const = default;
};
// The stamp of the file at path now; bytes, when given, are its content.
DiskStamp disk_stamp(const std::filesystem::path &path, const std::string *bytes = nullptr);

struct Tab {
  bool inUse = false;
  u16 caption;
  Lines lines;
  bool modified = false;
  std::array<u16, 3> panels;  // line count, modified mark, file path
  bool hasFile = false;       // the path names the tab's own file
  // The encoding the file was read in (its byte-order mark included); a
  // save writes the same, unless the user agrees to UTF-8 for a text that
  // encoding cannot hold.
  text::Encoding encoding = text::Encoding::Utf8;
  // The line ends the file was read with, kept by every save; none for a
  // text that came from no file (the settings decide at its first save).
  std::optional<text::LineEnds> lineEnds;
  // The file as the tab last read or wrote it (a tab with a file only).
  DiskStamp disk;
  unsigned revision = 0;  // counts changes made by running programs
};

class Environment;

class TabPool {
 public:
  static constexpr int kTabs = 10;

  const Tab &tab(int i) const { return tabs_[std::size_t(i)]; }
  int openCount() const { return openCount_; }
  int active() const { return active_; }
  const Tab *activeTab() const { return active_ >= 0 ? &tabs_[std::size_t(active_)] : nullptr; }
  // Whether i names an open tab.
  bool isOpen(int i) const { return i >= 0 && i < kTabs && tabs_[std::size_t(i)].inUse; }

  // The tab the user works in (-1: none); an index that is no open tab
  // leaves no tab active.
  void activate(int tab);
  // The editor's text of an open tab.
  void setLines(int tab, Lines lines);
  // The changed mark: the editor says whether its text differs from the
  // last load or save; the tab keeps the flag and its status panel shows
  // "変更" (nothing once saved).
  void setModified(int tab, bool modified);

  // A text from outside (the browser's editor) placed into tab i, opening
  // it when free; unmodified afterwards.
  void place(int i, const u16 &caption, Lines lines);

  int lowestFree() const;
  // A new empty program "#n"; -1 (after the message) when all tabs are open.
  int newProgram(const std::filesystem::path &programDir, UserInterface &ui);
  // A program file in a new tab, by the given encoding or the text layer's
  // rules; an unreadable file leaves the tab empty after a message. The tab
  // keeps the absolute path (a relative one is taken from the directory the
  // process works in, where the user named it) and the encoding.
  int loadFile(const std::filesystem::path &path, std::optional<text::Encoding> encoding, UserInterface &ui,
               bool *readOk = nullptr);
  // A tab's file read again (in the given encoding, or by the text rules),
  // unmodified; false (the tab as it was) when it cannot be read.
  bool reread(int tab, std::optional<text::Encoding> encoding);
  // Lines that come from no file: caption "__$$$__".
  int loadLines(const Lines &lines, UserInterface &ui);
  // Frees a tab without questions.
  void release(int tab);

 private:
  // The environment changes tabs as its commands decide (saves, books,
  // pages a program writes, recovery copies).
  friend class Environment;
  friend class CompileDriver;
  friend class Workspace;
  Tab &at(int i) { return tabs_[std::size_t(i)]; }
  const Tab &at(int i) const { return tabs_[std::size_t(i)]; }
  Tab *activeTab() { return active_ >= 0 ? &tabs_[std::size_t(active_)] : nullptr; }

  std::array<Tab, kTabs> tabs_;
  int openCount_ = 0;
  int active_ = -1;
  int take(const u16 &caption);
  static bool readFile(Tab &t, const std::filesystem::path &full, std::optional<text::Encoding> encoding);
};

}  // namespace velmora::environment

#pragma once
// The ten editor tabs: program texts, captions, modified flags and the
// status panels (line count, modified mark, path).
#include <array>
#include <filesystem>
#include <optional>

#include "environment/user_interface.h"
#include "text/encoding.h"

namespace velmora::environment {

struct Tab {
  bool inUse = false;
  u16 caption;
  Lines lines;
  bool modified = false;
  std::array<u16, 3> panels;  // line count, modified mark, file path
  bool hasFile = false;       // the path names the tab's own file
  unsigned revision = 0;      // counts changes made by running programs
};

class TabPool {
 public:
  static constexpr int kTabs = 10;

  std::array<Tab, kTabs> tabs;
  int openCount = 0;
  int active = -1;

  int lowestFree() const;
  // A new empty program "#n"; -1 (after the message) when all tabs are open.
  int newProgram(const std::filesystem::path &programDir, UserInterface &ui);
  // A program file in a new tab, by the given encoding or the text layer's
  // rules; an unreadable file leaves the tab empty after a message.
  int loadFile(const std::filesystem::path &path, std::optional<Encoding> encoding,
               UserInterface &ui, bool *readOk = nullptr);
  // Lines that come from no file: caption "__$$$__".
  int loadLines(const Lines &lines, UserInterface &ui);
  // Frees a tab without questions.
  void release(int tab);
  Tab *activeTab() { return active >= 0 ? &tabs[std::size_t(active)] : nullptr; }

 private:
  int take(const u16 &caption);
};

}  // namespace velmora::environment

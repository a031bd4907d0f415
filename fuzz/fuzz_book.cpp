// The book reader: arbitrary ".TXB" lines read into the tabs of a headless
// environment (up to ten programs), then the tabs are closed again.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "environment/environment.h"
#include "fuzz/fuzz_common.h"

using namespace velmora;
namespace env = velmora::environment;

namespace {

class QuietUi : public env::UserInterface {
 public:
  void message(const u16 &, const u16 &) override {}
  bool askYesNo(const u16 &, const u16 &) override { return false; }
  env::Answer askYesNoCancel(const u16 &, const u16 &) override { return env::Answer::No; }
};

// The environment's own directory, removed when the fuzzer ends.
struct HomeDir {
  std::filesystem::path path;
  HomeDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
  }
  ~HomeDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

env::Environment &shared_environment() {
  static QuietUi ui;
  static HomeDir home;
  static env::Environment e(home.path, ui);
  return e;
}

std::vector<Lines> open_programs(const env::Environment &e) {
  std::vector<Lines> programs;
  for (int i = 0; i < env::TabPool::kTabs; ++i)
    if (e.tabs.isOpen(i) && !e.tabs.tab(i).lines.empty()) programs.push_back(e.tabs.tab(i).lines);
  return programs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  env::Environment &e = shared_environment();
  int count = e.workspace.readBook(fuzz::lines_of(fuzz::bytes_of(data, size)));
  if (count < 0 || count > env::TabPool::kTabs || count != e.tabs.openCount()) std::abort();
  // Written out as a book and read again, the programs come back alike.
  // (Empty programs are not written.)
  Lines book = e.workspace.bookLines();
  std::vector<Lines> before = open_programs(e);
  e.workspace.closeAllTabs();
  if (e.tabs.openCount() != 0) std::abort();
  e.workspace.readBook(book);
  if (open_programs(e) != before || e.tabs.openCount() != int(before.size())) std::abort();
  e.workspace.closeAllTabs();
  return 0;
}

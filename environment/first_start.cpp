// What a start offers a newcomer: the programs of the program directory in
// the file list when there are no recent files yet, and a short greeting
// program in a first tab, ready to compile and run.
#include <algorithm>
#include <cctype>

#include "environment/workspace.h"
#include "text/lines.h"

namespace velmora::environment {

namespace {

bool is_listed_program(const std::filesystem::path &p) {
  std::string ext = p.extension().string();
  for (char &c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".mcl" || ext == ".txb";
}

}  // namespace

Lines Workspace::programsInDirectory() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const std::filesystem::directory_entry &e : std::filesystem::directory_iterator(programDirectory(), ec))
    if (e.is_regular_file(ec) && is_listed_program(e.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  Lines out;
  const std::filesystem::path dir = std::filesystem::absolute(programDirectory(), ec).lexically_normal();
  for (const std::string &n : names) out.push_back(text::from_utf8((dir / n).string()));
  return out;
}

bool Workspace::listProgramDirectoryWhenEmpty() {
  if (!recentFiles_.empty()) return false;
  recentFiles_ = programsInDirectory();
  return !recentFiles_.empty();
}

const Lines &Workspace::greetingProgram() {
  static const Lines program{
      u"// ようこそ Velmora へ。",
      u"// F9 でコンパイル、Ctrl+F5 でこのタブを実行。結果は右の「システムコンソール」に出る。",
      u"// 左の「プログラムリスト」の例は、ダブルクリックで開く。",
      u"??\"こんにちは、Velmora！\";",
      u"??CRLF;",
      u"FOR I = 1 TO 3 DO",
      u"  ??I; ??\" 回目\";",
      u"  ??CRLF;",
      u"END",
  };
  return program;
}

int Workspace::openGreeting() {
  if (tabs_.openCount() > 0) return -1;
  const int tab = newProgram();
  if (tab < 0) return -1;
  Tab &t = tabs_.at(tab);
  t.lines = greetingProgram();
  t.panels[0] = text::int16(long(t.lines.size()));
  t.modified = false;
  return tab;
}

}  // namespace velmora::environment

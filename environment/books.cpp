// Books (all open programs in one ".TXB" file) and the recent-file list
// "Recent.$$$" beside the program.
#include "environment/workspace.h"
#include "text/lines.h"

namespace velmora::environment {

namespace {

constexpr char16_t kBookHead[] = u"[=TXB=]:REVE VOVER BOOK VER1";
constexpr char16_t kProgramHead[] = u"[=TXB=]#";
constexpr char16_t kMark[] = u"[=TXB=]:";

bool starts_with(u16view s, u16view p) { return s.substr(0, p.size()) == p; }
bool contains(u16view s, u16view p) { return s.find(p) != u16view::npos; }
bool contains_any_case(u16view s, const char *word) {
  return text::to_utf8(text::upper_ascii(s)).find(word) != std::string::npos;
}

}  // namespace

void Workspace::loadRecentFiles() {
  recentFiles_.clear();
  if (auto file = text::read_text_file(home_ / "Recent.$$$")) recentFiles_ = file->lines;
}

void Workspace::saveRecentFiles() const {
  text::write_lines_file(home_ / "Recent.$$$", recentFiles_, text::Encoding::Utf8);
}

void Workspace::addRecentFile(const u16 &name) {
  for (const u16 &n : recentFiles_)
    if (n == name) return;
  recentFiles_.push_back(name);
  saveRecentFiles();
}

Lines Workspace::bookLines() const {
  Lines out{kBookHead};
  for (int i = 0; i < TabPool::kTabs; ++i) {
    const Tab &t = tabs_.at(i);
    if (!t.inUse || t.lines.empty()) continue;
    out.push_back(kProgramHead + text::int16(i + 1));
    out.insert(out.end(), t.lines.begin(), t.lines.end());
  }
  return out;
}

bool Workspace::saveBook() {
  u16 proposed = u"book.TXB";
  auto chosen = ui_.chooseSaveFile(u"TXBブック形式で保存", programDirectory(), proposed);
  if (!chosen) return false;
  std::filesystem::path path = *chosen;
  u16 name = text::from_utf8(path.filename().string());
  if (!contains_any_case(name, ".TXB")) path += ".txb";
  if (path.is_relative()) path = programDirectory() / path;
  if (!text::write_lines_file(path, bookLines(), text::Encoding::Utf8)) {
    ui_.message(u"ファイルを保存できない " + text::from_utf8(path.string()), u"");
    return false;
  }
  addRecentFile(text::from_utf8(path.filename().string()));
  for (Tab &t : tabs_.tabs_)
    if (t.inUse) {
      t.modified = false;
      t.panels[1].clear();
    }
  return true;
}

int Workspace::readBook(const Lines &lines) {
  int loaded = 0;
  std::size_t i = 0;
  auto header = [&](std::size_t k) { return starts_with(lines[k], kProgramHead); };
  while (i < lines.size() && !header(i)) ++i;  // the outer scan skips everything else
  while (i < lines.size()) {
    int number = 0;
    if (!text::parse_int(u16view(lines[i]).substr(8), number)) break;  // a broken header ends the read
    ++i;
    int tab = newProgram();
    if (tab < 0) break;
    Tab &t = tabs_.at(tab);
    for (; i < lines.size() && !header(i); ++i)
      if (!contains(lines[i], kMark)) t.lines.push_back(lines[i]);
    t.panels[0] = text::int16(long(t.lines.size()));
    t.modified = false;
    ++loaded;
  }
  return loaded;
}

// Every tab closes after the question; false when the user said No or kept
// a tab.
bool Workspace::releaseWorkspace() {
  if (tabs_.openCount() > 0 && !ui_.askYesNo(u"ワークスペースが破棄されます", u"解放")) return false;
  return closeAllTabs();
}

bool Workspace::loadBook() {
  if (!mayChangeTabs()) return false;
  if (!releaseWorkspace()) return false;
  auto chosen = ui_.chooseOpenFile(u"ブック読込", programDirectory(), u"*.TXB");
  return chosen && readBookFile(*chosen);
}

bool Workspace::readBookFile(const std::filesystem::path &given) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(given, ec);
  path = ec ? given : path.lexically_normal();
  auto file = text::read_text_file(path);
  if (!file) {
    ui_.message(u"ファイルを読めない " + text::from_utf8(path.string()), u"");
    return false;
  }
  int first = tabs_.lowestFree();
  int count = readBook(file->lines);
  bookName_ = text::from_utf8(path.filename().string());
  // The programs belong to the book: saving goes through "ブック保存".
  for (int i = first; count > 0 && i < TabPool::kTabs; ++i)
    if (tabs_.at(i).inUse) tabs_.at(i).panels[2] = text::from_utf8(path.string());
  return true;
}

void Workspace::setFileList(const std::vector<std::filesystem::path> &files) {
  if (files.empty()) return;
  recentFiles_.clear();
  for (const auto &f : files) recentFiles_.push_back(text::from_utf8(f.filename().string()));
  const std::filesystem::path dir = std::filesystem::absolute(files.front()).parent_path();
  settings_.programDirectoryPath = text::from_utf8(dir.string());
  settings_.useProgramDirectory = true;
  saveRecentFiles();
}

std::filesystem::path Workspace::listedFilePath(const u16 &name) const {
  std::filesystem::path path(text::to_utf8(name));
  return path.is_relative() ? programDirectory() / path : path;
}

Lines Workspace::previewListedFile(const u16 &name) const {
  auto file = text::read_text_file(listedFilePath(name));
  return file ? file->lines : Lines{};
}

int Workspace::openListedFile(const u16 &name) {
  if (!mayChangeTabs()) return -1;
  const std::filesystem::path path = listedFilePath(name);
  if (contains_any_case(name, ".TXB")) {
    if (!releaseWorkspace() || !readBookFile(path)) return -1;
    return tabs_.active();
  }
  if (!roomForAnotherTab()) return -1;
  return tabs_.loadFile(path, std::nullopt, ui_);
}

bool Workspace::roomForAnotherTab() {
  if (tabs_.openCount() < TabPool::kTabs) return true;
  ui_.message(text::int16(TabPool::kTabs) + u"ファイル以上は編集できません", u"");
  return false;
}

bool Workspace::overwriteSave(int tab) {
  if (tab < 0 || tab >= TabPool::kTabs || !tabs_.at(tab).inUse) return false;
  Tab &t = tabs_.at(tab);
  if (contains_any_case(t.panels[2], ".TXB")) {
    ui_.message(u"ＢＯＯＫ形式は保存メニューを使用する", u"");
    return false;
  }
  std::filesystem::path path(text::to_utf8(t.panels[2]));
  // A new program's panel shows where it would go ("PROG/#1"); it has no
  // file yet, so the user names one. A "#n" file is never written.
  // A path is absolute from the moment the file was opened; one that is
  // not (a recovery copy of an older version) does not say where the file
  // is, so the user names it rather than a guess being overwritten.
  if (path.empty() || !t.hasFile || path.is_relative()) return saveTabAsText(tab);
  if (!writeTab(t, path)) return false;
  t.modified = false;
  t.panels[1].clear();
  removeRecoveryCopy(tab);
  return true;
}

}  // namespace velmora::environment

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

void Workspace::addRecentFile(const std::filesystem::path &file) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(file, ec).lexically_normal();
  for (const u16 &entry : recentFiles_)
    if (listedFilePath(entry) == full) return;
  recentFiles_.push_back(text::from_utf8(full.string()));
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
  addRecentFile(path);
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
  std::error_code ec;
  for (const auto &f : files)
    recentFiles_.push_back(text::from_utf8(std::filesystem::absolute(f, ec).lexically_normal().string()));
  const std::filesystem::path dir = std::filesystem::absolute(files.front()).parent_path();
  settings_.programDirectoryPath = text::from_utf8(dir.string());
  settings_.useProgramDirectory = true;
  saveRecentFiles();
}

std::filesystem::path Workspace::listedFilePath(const u16 &entry) const {
  std::filesystem::path path(text::to_utf8(entry));
  return path.is_relative() ? (programDirectory() / path).lexically_normal() : path;
}

u16 Workspace::listedName(const u16 &entry) {
  return text::from_utf8(std::filesystem::path(text::to_utf8(entry)).filename().string());
}

bool Workspace::listedFileExists(const u16 &entry) const {
  std::error_code ec;
  return std::filesystem::is_regular_file(listedFilePath(entry), ec);
}

Lines Workspace::previewListedFile(const u16 &entry) const {
  auto file = text::read_text_file(listedFilePath(entry));
  return file ? file->lines : Lines{};
}

int Workspace::openListedFile(const u16 &entry) {
  if (!mayChangeTabs()) return -1;
  const std::filesystem::path path = listedFilePath(entry);
  // A file that is gone opens nothing: an empty tab of its name would be
  // saved as a new file of that name.
  if (!listedFileExists(entry)) {
    ui_.message(u"ファイルがありません " + text::from_utf8(path.string()), u"");
    return -1;
  }
  if (contains_any_case(listedName(entry), ".TXB")) {
    if (!releaseWorkspace() || !readBookFile(path)) return -1;
    return tabs_.active();
  }
  if (tabOfFile(path) < 0 && !roomForAnotherTab()) return -1;
  return openFile(path, std::nullopt);
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
  if (!writeTab(tab, path)) return false;
  t.modified = false;
  t.panels[1].clear();
  removeRecoveryCopy(tab);
  return true;
}

}  // namespace velmora::environment

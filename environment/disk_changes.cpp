// The files of open tabs, changed on the disk by someone else: a program
// file an editor or version control changed while it was open here is taken
// in or kept apart as the user decides, never overwritten without a word.
#include "environment/workspace.h"
#include "text/lines.h"

namespace velmora::environment {

namespace {

std::filesystem::path file_of(const Tab &t) { return std::filesystem::path(text::to_utf8(t.panels[2])); }

// One file however it is named (links and ".." resolved).
std::filesystem::path same_file(const std::filesystem::path &p) {
  std::error_code ec;
  std::filesystem::path c = std::filesystem::weakly_canonical(p, ec);
  return ec ? p : c;
}

bool has_own_file(const Tab &t) { return t.inUse && t.hasFile && file_of(t).is_absolute(); }

}  // namespace

Workspace::DiskChange Workspace::diskChange(int tab) const {
  if (!tabs_.isOpen(tab) || !has_own_file(tabs_.at(tab))) return DiskChange::None;
  const Tab &t = tabs_.at(tab);
  const DiskStamp now = disk_stamp(file_of(t));
  if (now == t.disk) return DiskChange::None;
  if (!now.exists) return t.disk.exists ? DiskChange::Removed : DiskChange::None;
  // Touched, or written with the same bytes: nothing to take in.
  if (t.disk.exists && now.size == t.disk.size && now.hash == t.disk.hash) return DiskChange::None;
  return DiskChange::Changed;
}

bool Workspace::reloadFromDisk(int tab) {
  if (!tabs_.isOpen(tab)) return false;
  if (!tabs_.reread(tab, tabs_.at(tab).encoding)) {
    ui_.message(u"ファイルを読めない " + tabs_.at(tab).panels[2], u"");
    return false;
  }
  removeRecoveryCopy(tab);
  return true;
}

Workspace::DiskAction Workspace::answerDiskChange(int tab) {
  if (runOwnsTabs_()) return DiskAction::None;  // asked again once the run has ended
  const DiskChange change = diskChange(tab);
  if (change == DiskChange::None) {
    if (tabs_.isOpen(tab)) tabs_.at(tab).disk = disk_stamp(file_of(tabs_.at(tab)));  // a touch: seen
    return DiskAction::None;
  }
  Tab &t = tabs_.at(tab);
  if (change == DiskChange::Removed) {
    t.disk = DiskStamp{};
    tabs_.setModified(tab, true);  // its text is nowhere else now
    return DiskAction::Removed;
  }
  if (!t.modified) return reloadFromDisk(tab) ? DiskAction::Reloaded : DiskAction::None;
  const u16 question = u"「" + t.caption + u"」のファイルがほかで変更されました。\r\r  " + t.panels[2] +
                       u"\r\rこのタブにも編集中の変更があります。ファイルを読み直しますか？";
  for (;;) {
    switch (ui_.askFileChanged(question, u"ファイルの変更", false)) {
      case FileChangeAnswer::Compare: {
        auto file = text::read_text_file(file_of(t));
        ui_.showComparison(t.caption, file ? file->lines : Lines{}, t.lines);
        continue;
      }
      case FileChangeAnswer::Reload: return reloadFromDisk(tab) ? DiskAction::Reloaded : DiskAction::None;
      case FileChangeAnswer::KeepMine:
      case FileChangeAnswer::Cancel:
        // The tab keeps its text; the file as it is now has been seen, so
        // a save writes over it without asking again.
        t.disk = disk_stamp(file_of(t));
        return DiskAction::Kept;
    }
  }
}

bool Workspace::mayOverwriteChangedFile(int tab) {
  if (diskChange(tab) != DiskChange::Changed) return true;
  Tab &t = tabs_.at(tab);
  const u16 question = u"「" + t.caption + u"」のファイルは、このタブに読んだ後にほかで変更されています。\r\r  " +
                       t.panels[2] + u"\r\r上書きすると、その変更は失われます。";
  for (;;) {
    switch (ui_.askFileChanged(question, u"ファイルの変更", true)) {
      case FileChangeAnswer::Compare: {
        auto file = text::read_text_file(file_of(t));
        ui_.showComparison(t.caption, file ? file->lines : Lines{}, t.lines);
        continue;
      }
      case FileChangeAnswer::KeepMine: return true;
      case FileChangeAnswer::Reload: reloadFromDisk(tab); return false;
      case FileChangeAnswer::Cancel: return false;
    }
  }
}

std::vector<std::filesystem::path> Workspace::openFiles() const {
  std::vector<std::filesystem::path> files;
  for (int i = 0; i < TabPool::kTabs; ++i)
    if (has_own_file(tabs_.at(i))) files.push_back(file_of(tabs_.at(i)));
  return files;
}

int Workspace::tabOfFile(const std::filesystem::path &path, int except) const {
  const std::filesystem::path wanted = same_file(path);
  for (int i = 0; i < TabPool::kTabs; ++i)
    if (i != except && has_own_file(tabs_.at(i)) && same_file(file_of(tabs_.at(i))) == wanted) return i;
  return -1;
}

}  // namespace velmora::environment

// Recovery copies: the IDE keeps a copy of every modified tab in
// "Recovery/" beside the settings, written when a run starts and every
// minute, so that a crash (a library function that faults takes the whole
// process down) loses at most a minute of editing. A copy goes away when its
// tab is saved or closed, and is offered back at the next start.
//
// A copy is a line file: a header line, the tab's caption, the path of its
// own file (empty for a new program), then the program's lines.
#include "environment/workspace.h"
#include "text/lines.h"

namespace velmora::environment {

namespace {

constexpr char16_t kHeader[] = u"[=VELMORA RECOVERY=]";

std::filesystem::path copy_path(const std::filesystem::path &home_, int tab) {
  return home_ / "Recovery" / ("tab" + std::to_string(tab + 1) + ".txt");
}

}  // namespace

void Workspace::writeRecoveryCopies() {
  if (!keepRecoveryCopies_) return;
  std::error_code ec;
  for (int i = 0; i < TabPool::kTabs; ++i) {
    const Tab &t = tabs_.at(i);
    if (!t.inUse || !t.modified) {
      removeRecoveryCopy(i);
      continue;
    }
    std::filesystem::create_directories(home_ / "Recovery", ec);
    Lines copy{kHeader, t.caption, t.hasFile ? t.panels[2] : u16()};
    copy.insert(copy.end(), t.lines.begin(), t.lines.end());
    text::write_lines_file(copy_path(home_, i), copy, text::Encoding::Utf8);
  }
}

void Workspace::removeRecoveryCopy(int tab) {
  if (!keepRecoveryCopies_ || tab < 0 || tab >= TabPool::kTabs) return;
  std::error_code ec;
  std::filesystem::remove(copy_path(home_, tab), ec);
}

std::vector<RecoveryCopy> Workspace::recoveryCopies() const {
  std::vector<RecoveryCopy> found;
  for (int i = 0; i < TabPool::kTabs; ++i) {
    auto file = text::read_text_file(copy_path(home_, i));
    if (!file || file->lines.size() < 3 || file->lines[0] != kHeader) continue;
    RecoveryCopy c;
    c.caption = file->lines[1];
    c.path = file->lines[2];
    c.lines.assign(file->lines.begin() + 3, file->lines.end());
    found.push_back(std::move(c));
  }
  return found;
}

int Workspace::restoreRecoveryCopies() {
  std::vector<RecoveryCopy> copies = recoveryCopies();
  discardRecoveryCopies();
  int restored = 0;
  for (RecoveryCopy &c : copies) {
    if (tabs_.openCount() >= TabPool::kTabs) break;
    int tab = tabs_.loadLines(c.lines, ui_);
    if (tab < 0) break;
    Tab &t = tabs_.at(tab);
    t.caption = c.caption;
    // Only an absolute path names the file: a relative one (written by an
    // older version) would resolve against whatever directory is current.
    if (const std::filesystem::path file(text::to_utf8(c.path)); !c.path.empty() && file.is_absolute()) {
      t.panels[2] = c.path;
      t.hasFile = true;
      // The file as it is now is what the copy is saved over; it keeps its
      // encoding and line ends.
      if (auto bytes = text::read_file_bytes(file)) {
        const text::Decoded d = text::decode_bytes(*bytes);
        t.encoding = d.encoding;
        t.lineEnds = text::line_ends_of(d.text);
        t.disk = disk_stamp(file, &*bytes);
      }
    }
    // Still unsaved: the user decides where it goes.
    t.modified = true;
    t.panels[1] = u"変更";
    ++restored;
  }
  writeRecoveryCopies();
  return restored;
}

void Workspace::discardRecoveryCopies() {
  std::error_code ec;
  for (int i = 0; i < TabPool::kTabs; ++i) std::filesystem::remove(copy_path(home_, i), ec);
}

}  // namespace velmora::environment

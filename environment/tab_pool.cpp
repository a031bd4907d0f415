#include "environment/tab_pool.h"

#include <chrono>

#include "text/lines.h"

namespace velmora::environment {

DiskStamp disk_stamp(const std::filesystem::path &path, const std::string *bytes) {
  DiskStamp s;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::is_regular_file(status)) return s;
  s.exists = true;
  s.size = std::filesystem::file_size(path, ec);
  const auto when = std::filesystem::last_write_time(path, ec);
  if (!ec) s.changedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  std::optional<std::string> read;
  if (!bytes && (read = text::read_file_bytes(path))) bytes = &*read;
  if (bytes) s.hash = std::hash<std::string>{}(*bytes);
  return s;
}

int TabPool::lowestFree() const {
  for (int i = 0; i < kTabs; ++i)
    if (!tabs_[std::size_t(i)].inUse) return i;
  return -1;
}

int TabPool::take(const u16 &caption) {
  int i = lowestFree();
  if (i < 0) return -1;
  Tab &t = tabs_[std::size_t(i)];
  unsigned revision = t.revision;
  t = Tab{};
  t.revision = revision + 1;  // views see every change of a tab, reuse included
  t.inUse = true;
  t.caption = caption;
  ++openCount_;
  active_ = i;
  return i;
}

int TabPool::newProgram(const std::filesystem::path &programDir, UserInterface &ui) {
  int i = lowestFree();
  if (i < 0) {
    ui.message(u"なぜかファイル保管場所が見つからない", u"");
    return -1;
  }
  take(u"#" + text::int16(i + 1));
  Tab &t = tabs_[std::size_t(i)];
  t.panels = {text::int16(0), u"", text::from_utf8((programDir / text::to_utf8(t.caption)).string())};
  return i;
}

int TabPool::loadFile(const std::filesystem::path &path, std::optional<text::Encoding> encoding, UserInterface &ui,
                      bool *readOk) {
  int i = lowestFree();
  if (i < 0) {
    ui.message(u"これ以上編集できない", u"");
    return -1;
  }
  take(text::from_utf8(path.filename().string()));
  Tab &t = tabs_[std::size_t(i)];
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  full = ec ? path : full.lexically_normal();
  const bool ok = readFile(t, full, encoding);
  if (!ok) ui.message(u"ファイルを読めない " + text::from_utf8(full.string()), u"");
  if (readOk) *readOk = ok;
  t.panels = {text::int16(long(t.lines.size())), u"", text::from_utf8(full.string())};
  t.hasFile = true;
  return i;
}

bool TabPool::readFile(Tab &t, const std::filesystem::path &full, std::optional<text::Encoding> encoding) {
  auto bytes = text::read_file_bytes(full);
  if (!bytes) return false;
  if (encoding) {
    const u16 whole = text::decode_as(*bytes, *encoding);
    t.lines = text::split_lines(whole);
    t.lineEnds = text::line_ends_of(whole);
    // UTF-8 chosen for a file with a byte-order mark keeps the mark.
    t.encoding =
        *encoding == text::Encoding::Utf8 && bytes->rfind("\xEF\xBB\xBF", 0) == 0 ? text::Encoding::Utf8Bom : *encoding;
  } else {
    text::Decoded d = text::decode_bytes(*bytes);
    t.lines = text::split_lines(d.text);
    t.lineEnds = text::line_ends_of(d.text);
    t.encoding = d.encoding;
  }
  t.disk = disk_stamp(full, &*bytes);
  t.modified = false;
  t.panels[0] = text::int16(long(t.lines.size()));
  t.panels[1].clear();
  ++t.revision;
  return true;
}

bool TabPool::reread(int tab, std::optional<text::Encoding> encoding) {
  if (!isOpen(tab)) return false;
  Tab &t = tabs_[std::size_t(tab)];
  return readFile(t, std::filesystem::path(text::to_utf8(t.panels[2])), encoding);
}

int TabPool::loadLines(const Lines &lines, UserInterface &ui) {
  int i = lowestFree();
  if (i < 0) {
    ui.message(u"これ以上編集できない", u"");
    return -1;
  }
  take(u"__$$$__");
  Tab &t = tabs_[std::size_t(i)];
  t.lines = lines;
  t.panels = {text::int16(long(lines.size())), u"", u""};
  return i;
}

void TabPool::activate(int tab) { active_ = isOpen(tab) ? tab : -1; }

void TabPool::setLines(int tab, Lines lines) {
  if (isOpen(tab)) tabs_[std::size_t(tab)].lines = std::move(lines);
}

void TabPool::setModified(int tab, bool modified) {
  if (!isOpen(tab)) return;
  Tab &t = tabs_[std::size_t(tab)];
  t.modified = modified;
  t.panels[1] = modified ? u"変更" : u"";
}

void TabPool::place(int i, const u16 &caption, Lines lines) {
  if (i < 0 || i >= kTabs) return;
  Tab &t = tabs_[std::size_t(i)];
  if (!t.inUse) {
    const unsigned revision = t.revision;
    t = Tab{};
    t.revision = revision;
    t.inUse = true;
    ++openCount_;
  }
  if (t.lines != lines) ++t.revision;
  t.caption = caption;
  t.lines = std::move(lines);
  t.modified = false;
  t.panels[1].clear();
}

void TabPool::release(int tab) {
  if (tab < 0 || tab >= kTabs || !tabs_[std::size_t(tab)].inUse) return;
  unsigned revision = tabs_[std::size_t(tab)].revision;
  tabs_[std::size_t(tab)] = Tab{};
  tabs_[std::size_t(tab)].revision = revision + 1;
  --openCount_;
  if (active_ == tab) {
    active_ = -1;
    for (int i = tab - 1; i >= 0 && active_ < 0; --i)
      if (tabs_[std::size_t(i)].inUse) active_ = i;
    for (int i = 0; i < kTabs && active_ < 0; ++i)
      if (tabs_[std::size_t(i)].inUse) active_ = i;
  }
}

}  // namespace velmora::environment

// The page services: the tab pool as running programs see it.
#include "environment/environment.h"
#include "text/lines.h"

namespace velmora::environment {

Tab *Environment::page(int pageNo) {
  if (pageNo < 0 || pageNo >= TabPool::kTabs) return nullptr;
  return &tabs.at(pageNo);
}

namespace {
void changed(Tab &t) {
  ++t.revision;
  t.panels[0] = text::int16(long(t.lines.size()));
}
}  // namespace

void Environment::Clear_Page(int pageNo) {
  if (Tab *t = page(pageNo)) {
    t->lines.clear();
    changed(*t);
  }
}

void Environment::Get_Page_Append(int pageNo, Lines &list) {
  if (Tab *t = page(pageNo)) list.insert(list.end(), t->lines.begin(), t->lines.end());
}

void Environment::Set_Page_Append(int pageNo, const Lines &list) {
  if (Tab *t = page(pageNo)) {
    t->lines.insert(t->lines.end(), list.begin(), list.end());
    changed(*t);
  }
}

void Environment::Add_To_Page(int pageNo, u16view line) {
  if (Tab *t = page(pageNo)) {
    t->lines.emplace_back(line);
    changed(*t);
  }
}

bool Environment::Ins_To_Page(int pageNo, int lineNo, u16view line) {
  Tab *t = page(pageNo);
  if (!t || lineNo < 0 || lineNo > int(t->lines.size())) return false;
  t->lines.insert(t->lines.begin() + lineNo, u16(line));
  changed(*t);
  return true;
}

bool Environment::Del_From_Page(int pageNo, int lineNo) {
  Tab *t = page(pageNo);
  if (!t || lineNo < 0 || lineNo >= int(t->lines.size())) return false;
  t->lines.erase(t->lines.begin() + lineNo);
  changed(*t);
  return true;
}

int Environment::New_Page() {
  int i = workspace.newProgram();
  return i < 0 ? -1 : i + 1;
}

void Environment::Let_Page_Active(int pageIndex) {
  if (Tab *t = page(pageIndex); t && t->inUse) tabs.activate(pageIndex);
}

bool Environment::Get_Page_Name(int pageNo, u16 &name) {
  Tab *t = page(pageNo);
  if (!t) return false;
  name = t->caption;
  return true;
}

bool Environment::Set_Page_Name(int pageNo, u16view name) {
  Tab *t = page(pageNo);
  if (!t) return false;
  t->caption = u16(name);
  changed(*t);
  return true;
}

bool Environment::Set_Page_Save(int pageNo, u16view fileName, u16 &writeFailed) {
  Tab *t = page(pageNo);
  if (!t || fileName.empty()) return false;
  std::filesystem::path path(text::to_utf8(fileName));
  if (path.is_relative()) path = workspace.programDirectory() / path;
  if (!engine_.storeFile(path, text::join_lines_crlf(t->lines, text::Encoding::Utf8), u"SAVE")) {
    if (!engine_.errorFlag()) writeFailed = text::from_utf8(path.string());
    return false;
  }
  t->modified = false;
  t->panels[1].clear();
  return true;
}

bool Environment::Get_Page_Load(int pageNo, u16view fileName) {
  Tab *t = page(pageNo);
  if (!t || fileName.empty()) return false;
  std::filesystem::path path(text::to_utf8(fileName));
  if (path.is_relative()) path = workspace.programDirectory() / path;
  auto bytes = engine_.loadFile(path, u"LOAD");
  if (!bytes) return false;
  t->lines = text::split_lines(text::decode_bytes(*bytes).text);
  t->modified = true;
  t->panels[1] = u"!";
  changed(*t);
  return true;
}

void Environment::Free_Page(int pageNo, int activePageIndex) {
  Tab *t = page(pageNo);
  if (!t || !t->inUse) return;
  int slot = compileDriver.findSlot(pageNo, t->caption);
  if (slot >= 0 && slot != engine_.currentSlot()) compileDriver.releaseSlot(slot);
  tabs.release(pageNo);
  // The page named (FREE PAGE names the current task's slot number), or the
  // one before the freed page; then on to the next open page after it,
  // round to the first again. None open: no page is active.
  const int from = activePageIndex >= 0 ? activePageIndex : std::max(0, pageNo - 1);
  tabs.activate(-1);
  for (int k = 1; k <= TabPool::kTabs; ++k) {
    const int candidate = (from + k) % TabPool::kTabs;
    if (tabs.at(candidate).inUse) {
      tabs.activate(candidate);
      break;
    }
  }
}

}  // namespace velmora::environment

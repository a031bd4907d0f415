// The workspace's tab commands: opening, saving and closing programs.
#include "environment/workspace.h"

#include "text/lines.h"

namespace velmora::environment {

Workspace::Workspace(const std::filesystem::path &home, TabPool &tabs, Settings &settings, UserInterface &ui,
                     std::function<void(int)> tabClosing, std::function<void()> lastTabClosed,
                     std::function<bool()> runOwnsTabs)
    : home_(home),
      tabs_(tabs),
      settings_(settings),
      ui_(ui),
      tabClosing_(std::move(tabClosing)),
      lastTabClosed_(std::move(lastTabClosed)),
      runOwnsTabs_(std::move(runOwnsTabs)) {
  loadRecentFiles();
}

bool Workspace::mayChangeTabs() {
  if (!runOwnsTabs_()) return true;
  ui_.message(u"タスク実行を終了すること", u"");
  return false;
}

std::filesystem::path Workspace::programDirectory() const {
  if (settings_.useProgramDirectory && !settings_.programDirectoryPath.empty())
    return std::filesystem::path(text::to_utf8(settings_.programDirectoryPath));
  return home_;
}

bool Workspace::writeTab(int tab, const std::filesystem::path &path) {
  Tab &t = tabs_.at(tab);
  if (tabOfFile(path) == tab && !mayOverwriteChangedFile(tab)) return false;
  text::Encoding encoding = t.encoding;
  if (encoding == text::Encoding::Cp932) {
    u16 text;
    for (const u16 &line : t.lines) text += line;
    if (text::from_cp932(text::to_cp932(text)) != text) {
      // Writing would turn characters into '?': the user decides.
      if (!ui_.askYesNo(u"「" + t.caption + u"」には Shift-JIS で保存できない文字がある。\r\rUTF-8 で保存するか？" +
                            u"（いいえ: 保存しない）",
                        u"文字コードの確認"))
        return false;
      encoding = text::Encoding::Utf8;
    }
  }
  const text::LineEnds ends =
      t.lineEnds.value_or(text::LineEnds{settings_.newFilesCrLf ? text::LineEnds::CrLf : text::LineEnds::Lf, true});
  if (!text::write_lines_file(path, t.lines, encoding, ends)) {
    ui_.message(u"ファイルを保存できない " + text::from_utf8(path.string()), u"");
    return false;
  }
  t.encoding = encoding;
  t.lineEnds = ends;
  t.disk = disk_stamp(path);
  return true;
}

bool Workspace::saveTabAsText(int tab) {
  if (tab < 0 || tab >= TabPool::kTabs || !tabs_.at(tab).inUse) return false;
  Tab &t = tabs_.at(tab);
  auto chosen = ui_.chooseSaveFile(u"テキストで保存", programDirectory(), t.caption.empty() ? u"*.*" : t.caption);
  if (!chosen) return false;
  std::filesystem::path path = *chosen;
  u16 name = text::from_utf8(path.filename().string());
  if (name.find(u'.') == u16::npos) path += ".mcl";
  if (path.is_relative()) path = programDirectory() / path;
  std::error_code ec;
  path = std::filesystem::absolute(path, ec).lexically_normal();
  // Two tabs on one file would overwrite each other's edits.
  if (const int other = tabOfFile(path, tab); other >= 0) {
    ui_.message(u"このファイルはタブ「" + tabs_.at(other).caption + u"」で開いています。\r\r  " +
                    text::from_utf8(path.string()) +
                    u"\r\r別の名前で保存するか、そのタブを閉じてから保存してください。",
                u"テキストで保存");
    return false;
  }
  if (!writeTab(tab, path)) return false;
  u16 bare = text::from_utf8(path.filename().string());
  if (bare.find(u".MCL") != u16::npos || bare.find(u".mcl") != u16::npos) addRecentFile(path);
  t.modified = false;
  t.hasFile = true;
  removeRecoveryCopy(tab);
  t.panels[1].clear();
  t.panels[2] = text::from_utf8(path.string());
  return true;
}

bool Workspace::closeTab(int tab) {
  if (tab < 0 || tab >= TabPool::kTabs || !tabs_.at(tab).inUse) return true;
  Tab &t = tabs_.at(tab);
  if (t.modified) {
    Answer a = ui_.askYesNoCancel(u"編集内容をファイル保存するか？\r\r  " + t.caption, u"変更確認");
    if (a == Answer::Cancel) return false;
    if (a == Answer::Yes && !saveTabAsText(tab)) return false;
  }
  tabClosing_(tab);
  tabs_.release(tab);
  removeRecoveryCopy(tab);
  if (tabs_.openCount() == 0) lastTabClosed_();
  return true;
}

bool Workspace::confirmCloseAll() {
  std::vector<int> discarded;
  for (int i = 0; i < TabPool::kTabs; ++i) {
    Tab &t = tabs_.at(i);
    if (!t.inUse || !t.modified) continue;
    Answer a = ui_.askYesNoCancel(u"編集内容をファイル保存するか？\r\r  " + t.caption, u"変更確認");
    if (a == Answer::Cancel) return false;
    if (a == Answer::Yes && !saveTabAsText(i)) return false;
    if (a == Answer::No) discarded.push_back(i);
  }
  for (int i : discarded) tabs_.at(i).modified = false;
  return true;
}

bool Workspace::closeAllTabs() {
  if (!mayChangeTabs()) return false;
  if (!confirmCloseAll()) return false;
  while (tabs_.openCount() > 0) {
    int tab = tabs_.active() >= 0 && tabs_.at(tabs_.active()).inUse ? tabs_.active() : -1;
    for (int i = 0; i < TabPool::kTabs && tab < 0; ++i)
      if (tabs_.at(i).inUse) tab = i;
    if (!closeTab(tab)) return false;
  }
  return true;
}

int Workspace::openProgram(std::optional<text::Encoding> encoding) {
  if (!mayChangeTabs()) return -1;
  if (!roomForAnotherTab()) return -1;
  auto chosen = ui_.chooseOpenFile(u"開く", programDirectory(), u"*.MCL");
  if (!chosen) return -1;
  return openFile(*chosen, encoding);
}

int Workspace::openFile(const std::filesystem::path &path, std::optional<text::Encoding> encoding) {
  const int open = tabOfFile(path);
  if (open < 0) return tabs_.loadFile(path, encoding, ui_);
  tabs_.activate(open);
  // Opened again in another encoding (a Shift-JIS file whose bytes passed
  // for UTF-8): the tab reads it again so, its edits only if the user agrees.
  Tab &t = tabs_.at(open);
  const bool same = !encoding || *encoding == t.encoding ||
                    (*encoding == text::Encoding::Utf8 && t.encoding == text::Encoding::Utf8Bom);
  if (!same &&
      (!t.modified || ui_.askYesNo(u"「" + t.caption + u"」を " + text::from_utf8(text::encoding_name(*encoding)) +
                                       u" で読み直すと、このタブの編集中の変更は失われます。読み直しますか？",
                                   u"文字コードの確認")))
    tabs_.reread(open, encoding);
  return open;
}

}  // namespace velmora::environment

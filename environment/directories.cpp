// The program and data directories as running programs see them:
// [DIR PROG] and [DIR DATA] read and change the settings' directories. A
// change a program makes is the program's, not the user's: it lasts for the
// rest of the run, and is kept in the settings only when the user says so
// after the run (a program of someone else's must not move where the next
// runs save and load, or what counts as the program's own directory).
#include "environment/environment.h"
#include "text/visible.h"

namespace velmora::environment {

namespace {

struct DirectoryField {
  u16 Settings::*path;
  const char16_t *caption;
};
const DirectoryField kProgram{&Settings::programDirectoryPath, u"ユーザープログラム用ディレクトリ"};
const DirectoryField kData{&Settings::dataDirectoryPath, u"データ 用ディレクトリ"};

}  // namespace

u16 Environment::Directory_Get(u16view type) { return settings_.*(type == u"PROG" ? kProgram : kData).path; }

u16 Environment::Directory_Set(u16view type, u16view dir) {
  const bool program = type == u"PROG";
  std::optional<u16> &before = program ? programDirectoryBefore_ : dataDirectoryBefore_;
  u16 &field = settings_.*(program ? kProgram : kData).path;
  if (!before) before = field;
  field = u16(dir);
  return u16(dir);
}

void Environment::confirmDirectoryChanges() {
  for (auto [before, field] :
       {std::pair{&programDirectoryBefore_, kProgram}, std::pair{&dataDirectoryBefore_, kData}}) {
    if (!*before) continue;
    u16 &now = settings_.*field.path;
    if (now != **before) {
      const bool keep =
          canAsk_ &&
          ui.askPermission(u"実行したプログラムが「" + u16(field.caption) + u"」を変更しました。\r\r  " +
                               text::visible_text(**before, kQuestionWidth, u"  ") + u"\r  → " +
                               text::visible_text(now, kQuestionWidth, u"    ") + u"\r\rこの変更を設定に残しますか？",
                           u"設定の変更");
      if (!keep) now = **before;
    }
    before->reset();
  }
}

bool Environment::saveSettings() const {
  Settings saved = settings_;
  if (programDirectoryBefore_) saved.programDirectoryPath = *programDirectoryBefore_;
  if (dataDirectoryBefore_) saved.dataDirectoryPath = *dataDirectoryBefore_;
  return saved.save(home);
}

}  // namespace velmora::environment

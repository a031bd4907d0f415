#include "environment/environment.h"

namespace velmora::environment {

Environment::Environment(const std::filesystem::path &homeDir, UserInterface &userInterface)
    : home(homeDir), ui(userInterface) {
  language.load(home, [this](const u16 &m) { ui.message(m, u""); });
  settings.initialise(home);
  for (int s = 0; s < engine::kSlots; ++s) {
    u16 number = int16(s + 1);
    if (number.size() < 2) number.insert(0, 1, u'0');
    permitRows[std::size_t(s)] = number + u": 実行許可　〇";
  }
  engine.host = this;
  engine.console.onLineComplete = [this](u16view line) { ui.consoleLineCompleted(line); };
  tokenizer_ = std::make_unique<compiler::Tokenizer>(language);
  compiler_ = std::make_unique<compiler::StatementCompiler>(language, static_cast<compiler::CompileHost &>(*this));
}

Environment::~Environment() = default;

u16 Environment::Directory_Get(u16view type) {
  return type == u"PROG" ? settings.AppliProgDirEdit : settings.AppliDirEdit;
}

u16 Environment::Directory_Set(u16view type, u16view dir) {
  (type == u"PROG" ? settings.AppliProgDirEdit : settings.AppliDirEdit) = u16(dir);
  return u16(dir);
}

std::filesystem::path Environment::programDirectory() const {
  if (settings.AppliProgDirCheckBox && !settings.AppliProgDirEdit.empty())
    return std::filesystem::path(to_utf8(settings.AppliProgDirEdit));
  return home;
}

}  // namespace velmora::environment

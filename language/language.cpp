#include "language/language.h"

namespace velmora::language {

void Language::load(const std::filesystem::path &dir, const MessageSink &sink) {
  MessageSink out = sink ? sink : [](const u16 &) {};
  tables.SetupSyntaxKeyWord(dir, out);
  rules.loadText(dir, out);
  rules.Load_Code_Generation_Format(out);
  tables.ReconstSyntax(out);
}

Language Language::builtin(const MessageSink &sink) {
  MessageSink out = sink ? sink : [](const u16 &) {};
  Language lang;
  lang.tables.loadBuiltins();
  lang.rules.loadBuiltinText();
  lang.rules.Load_Code_Generation_Format(out);
  lang.tables.ReconstSyntax(out);
  return lang;
}

}  // namespace velmora::language

#pragma once
// The built-in grammar ships its library rules as comment lines
// ("//#800: ..."); tests of library calls enable them as a user would: a
// grammar file in the home directory with those lines turned into rules
// ("#800: ..."), read when the environment starts.
#include <filesystem>

#include "language/language.h"
#include "text/lines.h"

namespace velmora::testing {

inline bool write_library_rules(const std::filesystem::path &home) {
  Lines syntax = language::Language::builtin().tables.syntax;
  for (u16 &line : syntax)
    if (line.size() > 6 && line.substr(0, 3) == u"//#" && line[6] == u':' && line.substr(3, 1) == u"8")
      line = line.substr(2);
  return text::write_lines_file(home / language::LanguageTables::kSyntaxFile, syntax);
}

}  // namespace velmora::testing

#pragma once
// The language as one value: the word and grammar tables with the
// code-generation rules, loaded from files beside the program or built in.
#include "language/codegen_rules.h"
#include "language/language_tables.h"

namespace velmora::language {

// Everything that defines the language: the word lists and grammar, and the
// code-generation rules. Loaded once at start-up.
struct Language {
  LanguageTables tables;
  CodeGenRules rules;

  // Loads the five tables (a file in dir replaces its built-in list), the
  // code-generation rules, then builds the fixed tables.
  void load(const std::filesystem::path &dir, const MessageSink &sink);
  // The built-in language alone, for tools and tests.
  static Language builtin(const MessageSink &sink = {});
};

}  // namespace velmora::language

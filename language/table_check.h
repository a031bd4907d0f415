#pragma once
// Telling a broken table file beside the program apart at start-up.
#include <filesystem>
#include <string_view>

#include "text/u16.h"

namespace velmora::language {

// What a table file beside the program holds, as far as loading can tell.
enum class TableKind {
  WordList,      // T-Keyword.txt, T-Symbol.txt, T-Command.txt, T-Math.txt
  Grammar,       // T-Syntax.txt
  CodeGenRules,  // T-CodeGenerationRule.txt
};

// A table file that replaces its built-in copy but cannot define anything:
// every program then fails to compile, so loading names the file at start.
enum class TableFault {
  None,
  NotText,  // control characters or undecodable bytes: a binary file
  NoWord,   // a word list with no word on any line (an empty file)
  NoRule,   // a grammar or rule text without a single rule
};

// Judges the raw bytes of a table file of the given kind.
TableFault table_fault(std::string_view bytes, TableKind kind);

// The start-up message for a faulty table file, naming the file.
u16 table_fault_message(TableFault fault, const std::filesystem::path &file);

}  // namespace velmora::language

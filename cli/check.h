#pragma once
// velmora-run --check: compile only, and print every diagnostic of each
// program in the form editors, terminals and CI understand.
#include <string>
#include <vector>

#include "compiler/diagnostics.h"

namespace velmora::cli {

// "FILE:LINE:COLUMN: severity: explanation", line and column from 1, the
// column in UTF-16 code units of the line (as the window and the language
// server count).
std::string diagnostic_line(const std::string &file, const compiler::Diagnostic &d);

struct CheckedFile {
  std::string file;
  std::vector<compiler::Diagnostic> diagnostics;
};

// The JSON form for tools: {"files":[{"file":…,"diagnostics":[{"severity",
// "line","column" (from 1),"length","id","message","explanation"}]}],
// "errors":n,"warnings":n,"notes":n}.
std::string diagnostics_json(const std::vector<CheckedFile> &files);

// 2 when any file has an error, 1 when there are warnings only, else 0
// (notes do not count).
int check_status(const std::vector<CheckedFile> &files);

}  // namespace velmora::cli

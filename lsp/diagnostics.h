#pragma once
// The diagnostics of a program, as velmora-run gives them: every finding of
// the compile with its plain-Japanese explanation, at the line and column
// of its token (UTF-16 units, as the protocol counts them).
#include "lsp/analysis.h"

namespace velmora::lsp {

struct Finding {
  Span span;
  bool warning = false;  // a program that compiles but looks wrong
  u16 message;           // the explanation
  std::string code;      // the kind of mistake ("missing-semicolon")
};

// The analysis must be of the same lines, with the same language.
std::vector<Finding> diagnostics_of(const Lines &lines, const language::Language &language, const Analysis &analysis);

}  // namespace velmora::lsp

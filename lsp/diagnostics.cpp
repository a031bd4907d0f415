#include "lsp/diagnostics.h"

#include "compiler/diagnostics.h"

namespace velmora::lsp {

// The one diagnostics function of the core: the same kind, place and text
// as velmora-run --check, the window and the playground.
std::vector<Finding> diagnostics_of(const Lines &lines, const language::Language &language, const Analysis &) {
  std::vector<Finding> out;
  for (const compiler::Diagnostic &d : compiler::program_diagnostics(language, lines)) {
    Finding f;
    f.span = {d.line, d.column, d.length};
    f.warning = d.severity != compiler::Severity::Error;
    f.message = d.explanation;
    f.code = d.id;
    out.push_back(std::move(f));
  }
  return out;
}

}  // namespace velmora::lsp

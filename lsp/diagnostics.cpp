#include "lsp/diagnostics.h"

#include "compiler/explanations.h"
#include "compiler/statement_compiler.h"

namespace velmora::lsp {

namespace {

class QuietHost : public compiler::CompileHost {
 public:
  void message(const u16 &) override {}
};

}  // namespace

std::vector<Finding> diagnostics_of(const Lines &lines, const language::Language &language, const Analysis &analysis) {
  // The analysis tokenised the lines as the compiler does.
  const compiler::TokenStream &stream = analysis.stream;
  QuietHost host;
  compiler::StatementCompiler compiler(language, host);
  compiler.compile(stream.tokens, false, stream.columns);

  std::vector<Finding> out;
  for (const compiler::Diagnosis &d : compiler.diagnoses()) {
    Finding f;
    f.warning = d.note;
    f.message = compiler::explanation_text(d);
    if (const compiler::ExplanationRow *row = compiler::explanation_row(d.kind)) f.code = row->id;
    const int line = d.line >= 0 && std::size_t(d.line) < lines.size() ? d.line : 0;
    const int lineLength = lines.empty() ? 0 : int(lines[std::size_t(line)].size());
    if (d.line < 0) {
      f.span = {0, 0, lineLength};
    } else if (d.column < 0) {
      f.span = {line, 0, lineLength};
    } else {
      const int column = std::min(d.column, lineLength);
      // The mark covers the token the finding is about, at least one character.
      int length = 1;
      if (const SourceToken *t = analysis.tokenAt(line, column); t && t->span.column == column)
        length = std::max(t->span.length, 1);
      f.span = {line, column, std::min(length, std::max(lineLength - column, 0))};
    }
    out.push_back(std::move(f));
  }
  return out;
}

}  // namespace velmora::lsp

#pragma once
// The answers of the language server, each from a document's analysis and
// the live vocabulary, as protocol JSON.
#include <nlohmann/json.hpp>

#include "lsp/analysis.h"
#include "lsp/diagnostics.h"

namespace velmora::lsp {

using Json = nlohmann::json;

// What a feature may read of one open document.
struct DocumentView {
  const Document &document;
  const Analysis &analysis;
  const Vocabulary &words;
  const language::Language &language;
};

std::string utf8(u16view text);
u16 utf16(const std::string &text);
Json range_json(const Span &span);
Json range_json(Position start, Position end);
Position position_of(const Json &position);  // throws on a malformed position
// A whole number of the protocol, held to the range of int; throws
// std::invalid_argument for anything else.
int int_of(const Json &value);

Json diagnostics_json(const std::vector<Finding> &findings);
Json completion(const DocumentView &doc, Position at);
Json hover(const DocumentView &doc, Position at);
Json definition(const DocumentView &doc, const std::string &uri, Position at);
Json references(const DocumentView &doc, const std::string &uri, Position at, bool includeDeclaration);
Json document_symbols(const DocumentView &doc);
Json document_highlights(const DocumentView &doc, Position at);

// Semantic tokens: the legend the server announces and the encoded tokens
// of the lines first..last (all when last < 0).
Json semantic_token_legend();
Json semantic_tokens(const DocumentView &doc, int firstLine = 0, int lastLine = -1);

// Indentation as the editors' auto-indent keeps it: one step more after a
// line that opens a block (THEN, DO, a function), one less for a line that
// starts with END, ELSE or ENDFUNC. Edits for lines first..last.
struct IndentOptions {
  int tabSize = 2;
  bool insertSpaces = true;
};
Json formatting(const DocumentView &doc, const IndentOptions &options, int firstLine = 0, int lastLine = -1);

}  // namespace velmora::lsp

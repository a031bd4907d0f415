// Document symbols, go to definition, references and highlights: the
// program's functions, timers and variables with every place they appear.
#include "lsp/features.h"

namespace velmora::lsp {

namespace {

Json location(const std::string &uri, const Span &span) { return {{"uri", uri}, {"range", range_json(span)}}; }

}  // namespace

Json definition(const DocumentView &doc, const std::string &uri, Position at) {
  const ProgramSymbol *s = doc.analysis.symbolAt(at.line, at.character);
  if (!s) return nullptr;
  Json out = Json::array();
  for (const Occurrence &o : s->occurrences)
    if (o.definition) out.push_back(location(uri, o.span));
  if (out.empty()) return nullptr;
  return out;
}

Json references(const DocumentView &doc, const std::string &uri, Position at, bool includeDeclaration) {
  const ProgramSymbol *s = doc.analysis.symbolAt(at.line, at.character);
  if (!s) return nullptr;
  Json out = Json::array();
  for (const Occurrence &o : s->occurrences)
    if (includeDeclaration || !o.definition) out.push_back(location(uri, o.span));
  return out;
}

Json document_highlights(const DocumentView &doc, Position at) {
  const ProgramSymbol *s = doc.analysis.symbolAt(at.line, at.character);
  if (!s) return nullptr;
  Json out = Json::array();
  // Kinds: 2 read, 3 write (a definition).
  for (const Occurrence &o : s->occurrences)
    out.push_back({{"range", range_json(o.span)}, {"kind", o.definition ? 3 : 2}});
  return out;
}

Json document_symbols(const DocumentView &doc) {
  // Protocol symbol kinds: 12 function, 24 event (a timer).
  Json out = Json::array();
  for (const auto &[key, s] : doc.analysis.symbols) {
    if (s.kind == SymbolKind::Variable || !s.defined) continue;
    const Occurrence *def = nullptr;
    for (const Occurrence &o : s.occurrences)
      if (o.definition) {
        def = &o;
        break;
      }
    if (!def) continue;
    Json symbol = {{"name", utf8(s.name)}, {"selectionRange", range_json(def->span)}};
    if (s.kind == SymbolKind::Function) {
      symbol["kind"] = 12;
      symbol["detail"] = "FUNCTION";
      symbol["range"] = range_json({s.start.line, s.start.column}, s.end);
    } else {
      symbol["kind"] = 24;
      symbol["detail"] = "TIMER";
      symbol["range"] = range_json(def->span);
    }
    out.push_back(std::move(symbol));
  }
  std::sort(out.begin(), out.end(), [](const Json &a, const Json &b) {
    const Json &x = a["range"]["start"], &y = b["range"]["start"];
    return x["line"] != y["line"] ? x["line"] < y["line"] : x["character"] < y["character"];
  });
  return out;
}

}  // namespace velmora::lsp

// Semantic tokens: colouring by the live tables, so that a renamed word is
// coloured as the word it now is.
#include <algorithm>

#include "lsp/features.h"

namespace velmora::lsp {

namespace {

// Token types, in the order of the legend.
enum TokenType { kKeyword, kOperator, kVariable, kFunction, kString, kNumber, kComment, kProperty };
// Modifier bits.
enum TokenModifier { kDeclaration = 1, kDefaultLibrary = 2 };

struct Coloured {
  Span span;
  int type;
  int modifiers;
};

}  // namespace

Json semantic_token_legend() {
  return {{"tokenTypes", {"keyword", "operator", "variable", "function", "string", "number", "comment", "property"}},
          {"tokenModifiers", {"declaration", "defaultLibrary"}}};
}

Json semantic_tokens(const DocumentView &doc, int firstLine, int lastLine) {
  if (lastLine < 0) lastLine = doc.document.lineCount() - 1;
  std::vector<Coloured> all;
  const Analysis &a = doc.analysis;
  for (std::size_t i = 0; i < a.tokens.size(); ++i) {
    const SourceToken &t = a.tokens[i];
    if (t.span.line < firstLine || t.span.line > lastLine || t.span.length <= 0) continue;
    int type = kKeyword, modifiers = 0;
    if (t.type == u"∇" || t.type == u"Σ" || t.type == u"□" || t.type == u"xVECTVAR") {
      type = kVariable;
    } else if (t.type == u"Δ") {
      type = kNumber;
    } else if (t.type == u"Ω") {
      type = kString;
    } else if (t.type == u"xMATH") {
      type = kFunction;
      modifiers = kDefaultLibrary;
    } else if (t.type == u"xFNAME") {
      type = kFunction;
      if (const ProgramSymbol *s = a.symbol(SymbolKind::Function, t.text))
        for (const Occurrence &o : s->occurrences)
          if (o.definition && o.span.line == t.span.line && o.span.column == t.span.column) modifiers = kDeclaration;
    } else if (doc.words.find(t.type)) {
      type = is_alphabetic_word(t.type) ? kKeyword : kOperator;
    } else {
      // A member word the lists do not hold (FILE(1).EOF, $V.X).
      type = is_alphabetic_word(t.type) ? kProperty : kOperator;
    }
    all.push_back({t.span, type, modifiers});
  }
  for (const Span &c : a.comments)
    if (c.line >= firstLine && c.line <= lastLine) all.push_back({c, kComment, 0});
  std::sort(all.begin(), all.end(), [](const Coloured &x, const Coloured &y) {
    return x.span.line != y.span.line ? x.span.line < y.span.line : x.span.column < y.span.column;
  });
  // Relative encoding: line delta, start delta (on the same line), length,
  // type, modifiers. Tokens never overlap: a comment starts after the code.
  std::vector<int> data;
  data.reserve(all.size() * 5);
  int line = 0, column = 0, lastEnd = -1, lastLineSeen = -1;
  for (const Coloured &c : all) {
    if (c.span.line == lastLineSeen && c.span.column < lastEnd) continue;
    data.push_back(c.span.line - line);
    data.push_back(c.span.line == line ? c.span.column - column : c.span.column);
    data.push_back(c.span.length);
    data.push_back(c.type);
    data.push_back(c.modifiers);
    line = c.span.line;
    column = c.span.column;
    lastLineSeen = c.span.line;
    lastEnd = c.span.column + c.span.length;
  }
  return {{"data", std::move(data)}};
}

}  // namespace velmora::lsp

#pragma once
// What the server knows of one program: its tokens as the compiler reads
// them (with their places in the source), its comments, and the names it
// defines and uses (variables, functions, timers) with every place.
#include <map>

#include "compiler/tokenizer.h"
#include "lsp/document.h"
#include "lsp/vocabulary.h"

namespace velmora::lsp {

// A stretch of one line: 0-based line, start and length in UTF-16 units.
struct Span {
  int line = 0;
  int column = 0;
  int length = 0;
  bool contains(int l, int c) const { return l == line && c >= column && c <= column + length; }
};

struct SourceToken {
  Span span;
  u16 type;  // the class symbol (∇ Δ Ω Σ □ xVECTVAR xFNAME xMATH) or the word itself
  u16 text;  // the token as the compiler reads it (upper case outside strings)
};

enum class SymbolKind { Variable, Function, Timer };

struct Occurrence {
  Span span;
  bool definition = false;
};

struct ProgramSymbol {
  u16 name;  // as the compiler reads it: A, &S, %M, $V, a function or timer name
  SymbolKind kind = SymbolKind::Variable;
  std::vector<Occurrence> occurrences;  // in source order
  // Functions: from the defining word to the end of the function.
  Span start;
  Position end;
  bool defined = false;
  bool shared = false;  // variables: declared by SHARE
};

struct Analysis {
  compiler::TokenStream stream;     // as the compiler reads it (compile mode)
  std::vector<SourceToken> tokens;  // in source order
  std::vector<Span> comments;
  std::map<std::pair<int, u16>, ProgramSymbol> symbols;  // by (kind, name)

  // The token at a place (a cursor just after a token counts as on it).
  const SourceToken *tokenAt(int line, int column) const;
  // The symbol with an occurrence at a place.
  const ProgramSymbol *symbolAt(int line, int column) const;
  const ProgramSymbol *symbol(SymbolKind kind, const u16 &name) const;
};

// Tokenises the lines in compile mode and collects the names.
Analysis analyse(const Lines &lines, const language::Language &language, const Vocabulary &words);

// The comment of a line ("//" outside a string, to the end of the line).
bool comment_of(u16view line, Span &out, int lineNumber);

}  // namespace velmora::lsp

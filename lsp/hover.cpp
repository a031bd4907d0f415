// Hover: what the word under the cursor is.
#include "lsp/describe.h"
#include "lsp/features.h"

namespace velmora::lsp {

namespace {

bool classed(const u16 &type) {
  return type == u"∇" || type == u"Δ" || type == u"Ω" || type == u"Σ" || type == u"□" || type == u"xVECTVAR" ||
         type == u"xFNAME" || type == u"xMATH";
}

u16 symbol_markdown(const ProgramSymbol &s) {
  u16 md = u"**" + s.name + u"**　";
  int uses = 0;
  const Occurrence *def = nullptr;
  for (const Occurrence &o : s.occurrences) {
    ++uses;
    if (o.definition && !def) def = &o;
  }
  switch (s.kind) {
    case SymbolKind::Variable: {
      const char16_t mark = s.name.empty() ? 0 : s.name[0];
      md += mark == u'&'   ? u"文字列・リストの変数"
            : mark == u'%' ? u"行列・ベクトルの変数"
            : mark == u'$' ? u"ベクトル変数"
                           : u"数の変数";
      if (s.shared) md += u"（SHARE で共有）";
      break;
    }
    case SymbolKind::Function: md += u"関数"; break;
    case SymbolKind::Timer: md += u"タイマー"; break;
  }
  md += u"\n\n";
  if (s.kind != SymbolKind::Variable) {
    if (def) md += text::int16(def->span.line) + u" 行目で定義。";
    else
      md += s.kind == SymbolKind::Function ? u"定義がありません（CALL すると実行時エラー）。" : u"SET がありません。";
  } else if (def) {
    md += text::int16(def->span.line) + u" 行目に初出。";
  }
  md += u"使われている箇所: " + text::int16(uses);
  return md;
}

}  // namespace

Json hover(const DocumentView &doc, Position at) {
  if (const ProgramSymbol *s = doc.analysis.symbolAt(at.line, at.character)) {
    for (const Occurrence &o : s->occurrences)
      if (o.span.contains(at.line, at.character))
        return {{"contents", {{"kind", "markdown"}, {"value", utf8(symbol_markdown(*s))}}},
                {"range", range_json(o.span)}};
  }
  const SourceToken *t = doc.analysis.tokenAt(at.line, at.character);
  if (!t) return nullptr;
  // A word of the language: a keyword, symbol, member word or function.
  const u16 word = t->type == u"xMATH" ? t->text : classed(t->type) ? u16() : t->type;
  if (word.empty()) return nullptr;
  const u16 md = word_markdown(doc.words, doc.language, word);
  return {{"contents", {{"kind", "markdown"}, {"value", utf8(md)}}}, {"range", range_json(t->span)}};
}

}  // namespace velmora::lsp

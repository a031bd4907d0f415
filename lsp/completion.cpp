// Completion: the words of the live tables and the program's own names.
#include <set>

#include "lsp/describe.h"
#include "lsp/features.h"

namespace velmora::lsp {

namespace {

// Protocol completion item kinds.
enum ItemKind { kFunction = 3, kVariable = 6, kKeyword = 14, kEvent = 23, kOperator = 24 };

bool name_char(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c >= 0x80;
}

u16 variable_kind(const u16 &name) {
  if (name.empty()) return {};
  switch (name[0]) {
    case u'&': return u"文字列・リストの変数";
    case u'%': return u"行列・ベクトルの変数";
    case u'$': return u"ベクトル変数";
    default: return u"数の変数";
  }
}

}  // namespace

Json completion(const DocumentView &doc, Position at) {
  // What is typed before the cursor: a name, with its kind mark.
  const u16view line = doc.document.line(at.line);
  const std::size_t end = std::min(std::size_t(std::max(at.character, 0)), line.size());
  std::size_t begin = end;
  while (begin > 0 && name_char(line[begin - 1])) --begin;
  if (begin > 0 && (line[begin - 1] == u'&' || line[begin - 1] == u'%' || line[begin - 1] == u'$')) --begin;
  const Json replace = range_json({at.line, int(begin)}, {at.line, int(end)});

  Json items = Json::array();
  std::set<u16> seen;
  auto add = [&](const u16 &label, int kind, const u16 &detail, const Json &documentation, const char *sortGroup) {
    if (label.empty() || !seen.insert(label).second) return;
    Json item = {{"label", utf8(label)},
                 {"kind", kind},
                 {"sortText", std::string(sortGroup) + utf8(label)},
                 {"textEdit", {{"range", replace}, {"newText", utf8(label)}}}};
    if (!detail.empty()) item["detail"] = utf8(detail);
    if (!documentation.is_null()) item["documentation"] = documentation;
    items.push_back(std::move(item));
  };

  // The program's names first: they are what a program uses most.
  for (const auto &[key, s] : doc.analysis.symbols) {
    switch (s.kind) {
      case SymbolKind::Variable: add(s.name, kVariable, variable_kind(s.name), nullptr, "1"); break;
      case SymbolKind::Function: {
        u16 detail = u"関数";
        for (const Occurrence &o : s.occurrences)
          if (o.definition) {
            detail += u"（" + text::int16(o.span.line) + u" 行目で定義）";
            break;
          }
        add(s.name, kFunction, detail, nullptr, "1");
        break;
      }
      case SymbolKind::Timer: break;  // a timer name is a string: not completed as a word
    }
  }
  for (const Vocabulary::Word &w : doc.words.words()) {
    const int kind = w.math ? kFunction : is_alphabetic_word(w.text) ? kKeyword : kOperator;
    const Json documentation = {{"kind", "markdown"}, {"value", utf8(word_markdown(doc.words, doc.language, w.text))}};
    add(w.text, kind, word_summary(doc.words, w.text), documentation, kind == kOperator ? "3" : "2");
  }
  return {{"isIncomplete", false}, {"items", std::move(items)}};
}

}  // namespace velmora::lsp

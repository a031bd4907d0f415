#include "lsp/analysis.h"

#include <algorithm>

#include "text/fields.h"

namespace velmora::lsp {

namespace {

bool blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

// How many units of the source line, from column on, the token's text
// takes: letters compare without case, and blanks the tokenizer passed over
// between a kind mark and its name ("& NAME") are counted.
int source_extent(u16view line, int column, u16view text) {
  std::size_t s = std::size_t(column), t = 0;
  while (t < text.size() && s < line.size()) {
    if (text::ascii_upper(line[s]) == text::ascii_upper(text[t])) {
      ++s;
      ++t;
    } else if (blank(line[s]) && t > 0) {
      ++s;
    } else {
      return int(std::min(text.size(), line.size() - std::size_t(column)));
    }
  }
  return int(s) - column;
}

int string_extent(u16view line, int column) {
  if (std::size_t(column) >= line.size()) return 0;
  const std::size_t close = line.find(u'"', std::size_t(column) + 1);
  return int((close == u16view::npos ? line.size() : close + 1) - std::size_t(column));
}

// The items of the first grammar row of a rule code.
Lines rule_items(const language::LanguageTables &t, u16view code) {
  for (int r = 0; r < t.grammarRowCount(); ++r) {
    const char16_t g = t.SttCode(r);
    if (g == u'/' || g == 0 || t.State_End(r) || t.ruleCode(r) != code) continue;
    Lines items;
    for (int f = 1; f < language::LanguageTables::kGrammarFields && !t.SbSt(r, f).empty(); ++f)
      items.push_back(t.SbSt(r, f));
    return items;
  }
  return {};
}

u16 word_before(const Lines &items, u16view item) {
  for (std::size_t i = 1; i < items.size(); ++i)
    if (items[i] == item) return items[i - 1];
  return {};
}

u16 unquoted(u16view s) {
  if (!s.empty() && s.front() == u'"') s.remove_prefix(1);
  if (!s.empty() && s.back() == u'"') s.remove_suffix(1);
  return u16(s);
}

bool is_variable_type(u16view type) { return type == u"∇" || type == u"Σ" || type == u"□" || type == u"xVECTVAR"; }

}  // namespace

bool comment_of(u16view line, Span &out, int lineNumber) {
  bool inString = false;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] == u'"') inString = !inString;
    else if (!inString && line[i] == u'/' && line[i + 1] == u'/') {
      out = {lineNumber, int(i), int(line.size() - i)};
      return true;
    }
  }
  return false;
}

const SourceToken *Analysis::tokenAt(int line, int column) const {
  auto it =
      std::lower_bound(tokens.begin(), tokens.end(), line, [](const SourceToken &t, int l) { return t.span.line < l; });
  const SourceToken *after = nullptr;
  for (; it != tokens.end() && it->span.line == line; ++it) {
    const Span &s = it->span;
    if (column >= s.column && column < s.column + s.length) return &*it;
    if (column == s.column + s.length) after = &*it;
  }
  return after;
}

const ProgramSymbol *Analysis::symbolAt(int line, int column) const {
  const ProgramSymbol *after = nullptr;
  for (const auto &[key, symbol] : symbols)
    for (const Occurrence &o : symbol.occurrences) {
      if (o.span.line != line) continue;
      if (column >= o.span.column && column < o.span.column + o.span.length) return &symbol;
      if (column == o.span.column + o.span.length) after = &symbol;
    }
  return after;
}

const ProgramSymbol *Analysis::symbol(SymbolKind kind, const u16 &name) const {
  auto it = symbols.find({int(kind), name});
  return it == symbols.end() ? nullptr : &it->second;
}

Analysis analyse(const Lines &lines, const language::Language &language, const Vocabulary &words) {
  Analysis a;
  compiler::Tokenizer tokenizer(language);
  compiler::TokenizeOptions options;  // compile mode, as the compiler reads the program
  a.stream = tokenizer.Make_Token_From_Text(lines, options, [](const u16 &) {});
  const compiler::TokenStream &stream = a.stream;

  a.tokens.reserve(stream.tokens.size());
  for (std::size_t i = 0; i < stream.tokens.size(); ++i) {
    const auto fields = text::split_fields(stream.tokens[i]);
    if (fields.size() < 2) continue;
    int line = 0;
    if (!text::parse_int(fields[0], line) || line < 0 || std::size_t(line) >= lines.size()) continue;
    SourceToken t;
    t.type = u16(fields[1]);
    t.text = fields.size() > 2 ? u16(fields[2]) : t.type;
    const int column = i < stream.columns.size() ? stream.columns[i] : 0;
    const u16view source = lines[std::size_t(line)];
    const int length = t.type == u"Ω" ? string_extent(source, column) : source_extent(source, column, t.text);
    t.span = {line, column, std::max(length, 0)};
    a.tokens.push_back(std::move(t));
  }
  // In source order already but where a string ran across lines.
  auto before = [](const SourceToken &x, const SourceToken &y) {
    return x.span.line != y.span.line ? x.span.line < y.span.line : x.span.column < y.span.column;
  };
  if (!std::is_sorted(a.tokens.begin(), a.tokens.end(), before))
    std::stable_sort(a.tokens.begin(), a.tokens.end(), before);
  for (std::size_t l = 0; l < lines.size(); ++l) {
    Span c;
    if (comment_of(lines[l], c, int(l))) a.comments.push_back(c);
  }

  // The words that define and call functions, the timer word and its SET,
  // the shared-name word, and the end of a function, as the live grammar
  // spells them.
  const language::LanguageTables &t = language.tables;
  const u16 defineWord = word_before(rule_items(t, u"019"), u"xFNAME");
  const Lines timerItems = rule_items(t, u"081");
  const u16 timerWord = timerItems.empty() ? u16() : timerItems[0];
  u16 setWord;
  for (std::size_t i = 1; i < timerItems.size() && setWord.empty(); ++i)
    if (is_alphabetic_word(timerItems[i])) setWord = timerItems[i];
  const Lines shareItems = rule_items(t, u"014");
  const u16 shareWord = shareItems.empty() ? u16() : shareItems[0];
  const u16 endFunction = words.liveOf(u"ENDFUNC");

  auto symbol = [&a](SymbolKind kind, const u16 &name) -> ProgramSymbol & {
    ProgramSymbol &s = a.symbols[{int(kind), name}];
    s.name = name;
    s.kind = kind;
    return s;
  };
  const std::size_t n = a.tokens.size();
  for (std::size_t i = 0; i < n; ++i) {
    const SourceToken &tok = a.tokens[i];
    if (is_variable_type(tok.type)) {
      const bool declared = i > 0 && a.tokens[i - 1].type == shareWord;
      symbol(SymbolKind::Variable, tok.text).occurrences.push_back({tok.span, declared});
    } else if (tok.type == u"xFNAME") {
      const bool defines = i > 0 && a.tokens[i - 1].type == defineWord;
      ProgramSymbol &f = symbol(SymbolKind::Function, tok.text);
      f.occurrences.push_back({tok.span, defines});
      if (defines && !f.defined) {
        f.defined = true;
        f.start = a.tokens[i - 1].span;
        const Span *last = &tok.span;
        for (std::size_t k = i + 1; k < n; ++k) {
          if (a.tokens[k].type == defineWord) break;
          last = &a.tokens[k].span;
          if (a.tokens[k].type == endFunction) break;
        }
        f.end = {last->line, last->column + last->length};
      }
    } else if (tok.type == timerWord && !timerWord.empty() && i + 1 < n && a.tokens[i + 1].type == u"Ω") {
      std::size_t end = i + 1;
      bool sets = false;
      while (end < n && a.tokens[end].type != u";") {
        if (a.tokens[end].type == setWord) sets = true;
        ++end;
      }
      const SourceToken &name = a.tokens[i + 1];
      const Span inside{name.span.line, name.span.column + 1, std::max(name.span.length - 2, 0)};
      ProgramSymbol &timer = symbol(SymbolKind::Timer, unquoted(name.text));
      timer.occurrences.push_back({inside, sets});
      if (sets && end > i + 2 && a.tokens[end - 1].type == u"Ω") {
        const SourceToken &handler = a.tokens[end - 1];
        const Span hs{handler.span.line, handler.span.column + 1, std::max(handler.span.length - 2, 0)};
        symbol(SymbolKind::Function, text::upper_ascii(unquoted(handler.text))).occurrences.push_back({hs, false});
      }
    }
  }
  // A variable is defined where SHARE declares it, else where it first appears.
  for (auto &[key, s] : a.symbols) {
    if (s.kind != SymbolKind::Variable || s.occurrences.empty()) continue;
    const bool declared =
        std::any_of(s.occurrences.begin(), s.occurrences.end(), [](const Occurrence &o) { return o.definition; });
    if (!declared) s.occurrences.front().definition = true;
    s.shared = declared;
    s.defined = true;
  }
  for (auto &[key, s] : a.symbols) {
    if (s.kind == SymbolKind::Timer)
      s.defined =
          std::any_of(s.occurrences.begin(), s.occurrences.end(), [](const Occurrence &o) { return o.definition; });
    std::sort(s.occurrences.begin(), s.occurrences.end(), [](const Occurrence &x, const Occurrence &y) {
      return x.span.line != y.span.line ? x.span.line < y.span.line : x.span.column < y.span.column;
    });
  }
  return a;
}

}  // namespace velmora::lsp

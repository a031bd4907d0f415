#include "compiler/tokenizer.h"

#include <algorithm>
#include <stdexcept>

#include "text/fields.h"

namespace velmora::compiler {

namespace {

// Upper-cases letters outside strings in compile mode, one code unit for one.
char16_t upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return char16_t(c - 32);
  if (c >= u'ａ' && c <= u'ｚ') return char16_t(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
  return c;
}

bool is_upper_ident(char16_t c) { return (c >= u'A' && c <= u'Z') || c == u'_' || text::is_ascii_digit(c); }

struct Tok {
  int line;
  u16 type;
  u16 text;  // empty for keyword and member-word tokens
  int column = 0;
};

// Cuts a line into pieces: non-string pieces (finished: upper-cased in
// compile mode, cut at "//" unless comments are kept) and string pieces.
class PieceSplitter {
 public:
  PieceSplitter(const TokenizeOptions &o) : opt_(o) {}

  // Feeds characters; returns false once a comment cut dropped the rest.
  // source: the index in the source line of text's first character.
  void feed(u16view text, int source = 0) {
    for (char16_t ch : text) {
      if (dropped_) return;
      ++column_;
      const int here = source++;
      // Every tab of a line becomes blanks, inside strings too; only the
      // full-width blank is kept inside strings.
      if (ch == u'\t') {
        if (opt_.tabPitch <= 0) throw std::runtime_error("tab pitch");
        int p = opt_.tabPitch;
        int n = (column_ / p + 1) * p - column_;
        current_.append(std::size_t(n), u' ');
        cols_.insert(cols_.end(), std::size_t(n), here);
      } else if (ch == u'"') {
        if (!inString_) {
          finish(false);
          current_ = u"\"";
          cols_.assign(1, here);
          inString_ = true;
        } else {
          current_ += u'"';
          cols_.push_back(here);
          pieces.push_back(std::move(current_));
          columns.push_back(std::move(cols_));
          isString.push_back(true);
          current_.clear();
          cols_.clear();
          inString_ = false;
        }
      } else if (ch == u'\u3000' && !inString_) {
        current_ += u"  ";
        cols_.insert(cols_.end(), 2, here);
      } else {
        current_ += ch;
        cols_.push_back(here);
      }
    }
  }
  bool inString() const { return inString_; }
  void appendToString(u16view text) {
    current_ += text;
    for (std::size_t i = 0; i < text.size(); ++i) cols_.push_back(int(i));
  }
  void closeString(int source) {
    current_ += u'"';
    cols_.push_back(source);
    pieces.push_back(std::move(current_));
    columns.push_back(std::move(cols_));
    isString.push_back(true);
    current_.clear();
    cols_.clear();
    inString_ = false;
  }
  // Ends the line: an unterminated string is finished like other text.
  void end() {
    if (dropped_) return;
    if (inString_) {
      finish(true);
      inString_ = false;
    } else {
      finish(false);
    }
  }

  Lines pieces;
  std::vector<bool> isString;
  std::vector<std::vector<int>> columns;  // per piece: the source column of each character

 private:
  const TokenizeOptions &opt_;
  u16 current_;
  std::vector<int> cols_;
  bool inString_ = false;
  bool dropped_ = false;
  int column_ = 0;

  void finish(bool openString) {
    if (dropped_) return;
    u16 piece = std::move(current_);
    std::vector<int> cols = std::move(cols_);
    current_.clear();
    cols_.clear();
    if (opt_.IsUpperCase)
      for (std::size_t i = openString ? 1 : 0; i < piece.size(); ++i) piece[i] = upper(piece[i]);
    if (!opt_.IsNoComment) {
      std::size_t cut = piece.find(u"//");
      if (cut != u16::npos) {
        piece.resize(cut);
        cols.resize(cut);
        dropped_ = true;
      }
    }
    if (piece.empty()) return;
    pieces.push_back(std::move(piece));
    columns.push_back(std::move(cols));
    isString.push_back(openString);
  }
};

}  // namespace

u16 GetToken(std::size_t n, u16view line) { return u16(text::field(line, n)); }
u16 token_type(u16view line) { return u16(text::field(line, 1)); }

bool is_AlphaNum(char16_t ch) { return text::is_ascii_digit(ch) || text::is_ascii_alpha(ch) || ch == u'_'; }

bool IsVarNameChars(u16view text) {
  if (text.empty()) return false;
  if (!((text[0] >= u'A' && text[0] <= u'Z') || text[0] == u'_')) return false;
  for (char16_t c : text.substr(1))
    if (!is_upper_ident(c)) return false;
  return true;
}

Tokenizer::Tokenizer(const language::Language &language) : lang_(language) {
  const Lines &kw = lang_.tables.keywords;
  for (int i = int(kw.size()) - 1; i >= 0; --i)
    if (!kw[std::size_t(i)].empty()) keywordsByFirst_.add(kw[std::size_t(i)][0], i);
}

void Tokenizer::RegisterUserSymbol(const u16 &name) {
  if (name.empty() || !symbolSet_.insert(name).second) return;
  out_->userSymbols.push_back(name);
  symbolsByFirst_.add(name[0], int(out_->userSymbols.size()) - 1);
}

int Tokenizer::KeyWordOrUserSymbol(const u16 &item) {
  if (lang_.tables.IsKeyWord(item)) return 1;
  if (IsUserSymbol(item) || IsVarNameChars(item)) {
    RegisterUserSymbol(item);
    return 2;
  }
  return 0;
}

int Tokenizer::columnAt(u16view text) const {
  if (!pieceColumns_ || !pieceStart_) return 0;
  std::size_t at = std::size_t(text.data() - pieceStart_);
  return at < pieceColumns_->size() ? (*pieceColumns_)[at] : (pieceColumns_->empty() ? 0 : pieceColumns_->back());
}

void Tokenizer::emitToken(int line, int column, u16view type, u16view text) {
  u16 t = text::int16(line) + u" " + u16(type);
  if (!text.empty()) t += u" " + u16(text);
  out_->tokens.push_back(std::move(t));
  out_->columns.push_back(column);
}

void Tokenizer::RecogniseToken(int line, u16view text) {
  const language::LanguageTables &tables = lang_.tables;
  while (!text.empty()) {
    // 1. The longest keyword at the start.
    bool done = false;
    for (int index : keywordsByFirst_[text[0]]) {
      const u16 &k = tables.keywords[std::size_t(index)];
      if (text.substr(0, k.size()) != k) continue;
      bool fits = tables.isSymbolicTerm(k) || k.size() >= text.size() || !is_AlphaNum(text[k.size()]);
      if (!fits) continue;
      if (k == u"\"") {
        std::size_t close = text.find(u'"', 1);
        std::size_t end = close == u16view::npos ? text.size() : close + 1;
        emitToken(line, columnAt(text), u"Ω", text.substr(0, end));
        text.remove_prefix(end);
      } else {
        emitToken(line, columnAt(text), k);
        text.remove_prefix(k.size());
      }
      done = true;
      break;
    }
    if (done) continue;
    // 2. A known identifier, the last registered first.
    u16 known, extended;
    for (auto it = symbolsByFirst_[text[0]].rbegin(); it != symbolsByFirst_[text[0]].rend(); ++it) {
      const u16 &s = out_->userSymbols[std::size_t(*it)];
      if (text.substr(0, s.size()) != s) continue;
      if (s.size() < text.size() && !text::is_ascii_digit(text[s.size()]) && is_upper_ident(text[s.size()])) {
        std::size_t end = s.size();
        while (end < text.size() && is_upper_ident(text[end])) ++end;
        extended = u16(text.substr(0, end));
        break;
      }
      if (text.size() == s.size() || tables.SingleChar_KeyWordFollow(text, s.size())) {
        known = s;
        break;
      }
    }
    if (!extended.empty()) {
      emitToken(line, columnAt(text), u"∇", extended);
      RegisterUserSymbol(extended);
      text.remove_prefix(extended.size());
      continue;
    }
    if (!known.empty()) {
      emitToken(line, columnAt(text), u"∇", known);
      text.remove_prefix(known.size());
      continue;
    }
    // 3. A number: digits and points.
    std::size_t n = 0;
    while (n < text.size() && (text::is_ascii_digit(text[n]) || text[n] == u'.')) ++n;
    if (n > 0) {
      emitToken(line, columnAt(text), u"Δ", text.substr(0, n));
      text.remove_prefix(n);
      continue;
    }
    // 4. A new identifier, up to a one-character symbol.
    if (IsVarNameChars(text)) {
      RegisterUserSymbol(u16(text));
      emitToken(line, columnAt(text), u"∇", text);
      return;
    }
    std::size_t end = 0;
    while (end < text.size() && (is_AlphaNum(text[end]) || tables.Non_SingleSymbol(text[end]))) ++end;
    if (end > 0) {
      u16 name(text.substr(0, end));
      RegisterUserSymbol(name);
      emitToken(line, columnAt(text), u"∇", name);
      text.remove_prefix(end);
    } else {
      // A one-character symbol that is no keyword: taken as a word of its own.
      emitToken(line, columnAt(text), text.substr(0, 1));
      text.remove_prefix(1);
    }
  }
}

void Tokenizer::Process_SingleLine(int line, const Lines &pieces, const std::vector<bool> &isString,
                                   const std::vector<std::vector<int>> &columns) {
  const bool spacing = opt_->IsGenSpaceInfo;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    u16view piece = pieces[p];
    pieceColumns_ = p < columns.size() ? &columns[p] : nullptr;
    pieceStart_ = piece.data();
    if (isString[p] || (!piece.empty() && piece[0] == u'"')) {
      emitToken(line, columnAt(piece), u"Ω", piece);
      continue;
    }
    if (piece.find_first_not_of(u' ') == u16view::npos) {
      if (spacing) emitToken(line, columnAt(piece), u"ψ", text::int16(long(piece.size())));
      continue;
    }
    std::size_t i = 0;
    while (i < piece.size()) {
      std::size_t start = i;
      while (i < piece.size() && piece[i] == u' ') ++i;
      if (spacing && i > start) emitToken(line, columnAt(piece.substr(start)), u"ψ", text::int16(long(i - start)));
      if (i >= piece.size()) break;
      std::size_t end = i;
      while (end < piece.size() && piece[end] != u' ') ++end;
      u16 item(piece.substr(i, end - i));
      switch (KeyWordOrUserSymbol(item)) {
        case 1: emitToken(line, columnAt(piece.substr(i)), item); break;
        case 2: emitToken(line, columnAt(piece.substr(i)), u"∇", item); break;
        default: RecogniseToken(line, piece.substr(i, end - i)); break;
      }
      i = end;
    }
  }
  pieceColumns_ = nullptr;
  pieceStart_ = nullptr;
}

void Tokenizer::Make_Tokens(const Lines &text) {
  const bool spacing = opt_->IsGenSpaceInfo;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const u16 &line = text[i];
    if (!spacing && line.size() >= 2 && line[0] == u'/' && line[1] == u'/') continue;
    if (line.empty()) {
      if (spacing) emitToken(int(i), 0, u"ψ", u"1");
      continue;
    }
    PieceSplitter splitter(*opt_);
    splitter.feed(line);
    std::size_t last = i;
    // In spacing mode a string left open continues on the following lines.
    while (spacing && splitter.inString() && last + 1 < text.size()) {
      const u16 &next = text[++last];
      std::size_t quote = next.find(u'"');
      if (quote == u16::npos) {
        splitter.appendToString(next);
        continue;
      }
      splitter.appendToString(u16view(next).substr(0, quote));
      splitter.closeString(int(quote));
      splitter.feed(u16view(next).substr(quote + 1), int(quote) + 1);
    }
    splitter.end();
    Process_SingleLine(int(last), splitter.pieces, splitter.isString, splitter.columns);
    i = last;
  }
}

void Tokenizer::renameSymbol(const u16 &from, const u16 &to) {
  // The set holds every name of the list: a name it lacks needs no search
  // (the second &A of a program finds A renamed already).
  if (!symbolSet_.count(from)) return;
  auto it = std::find(out_->userSymbols.begin(), out_->userSymbols.end(), from);
  if (it == out_->userSymbols.end()) return;
  *it = to;
  symbolSet_.erase(from);
  symbolSet_.insert(to);
  renames_.emplace_back(from, to);
}

namespace {

void remove_name(Lines &list, const u16 &name) { list.erase(std::remove(list.begin(), list.end(), name), list.end()); }

void add_unique(Lines &list, const u16 &name) {
  if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}

Tok parse_token(const u16 &line) {
  std::vector<u16view> f = text::split_fields(line);
  Tok t{0, u16(), u16()};
  if (!f.empty()) {
    long n = 0;
    for (char16_t c : f[0]) n = n * 10 + (c - u'0');
    t.line = int(n);
  }
  if (f.size() > 1) t.type = u16(f[1]);
  if (f.size() > 2) {
    // The text is everything after the type (a string keeps its blanks).
    std::size_t pos = std::size_t(f[2].data() - line.data());
    t.text = line.substr(pos);
  }
  return t;
}

}  // namespace

void Tokenizer::ModifyTokenStreamMOre() {
  std::vector<Tok> toks;
  toks.reserve(out_->tokens.size());
  for (std::size_t i = 0; i < out_->tokens.size(); ++i) {
    toks.push_back(parse_token(out_->tokens[i]));
    if (i < out_->columns.size()) toks.back().column = out_->columns[i];
  }
  const language::CodeGenRules &rules = lang_.rules;
  Lines &symbols = out_->userSymbols;
  auto drop_symbol = [&](const u16 &name) {
    if (symbolSet_.erase(name)) remove_name(symbols, name);
  };
  // A merge marks the token it absorbed; only the token right after the
  // current one is ever absorbed, so the next step simply skips it.
  const u16 absorbed = u"\x01";
  for (std::size_t k = 0; k + 1 < toks.size(); ++k) {
    if (toks[k].type == absorbed) continue;
    const u16 &t1 = toks[k].type;
    const u16 &t2 = toks[k + 1].type;
    const u16 t3 = k + 2 < toks.size() ? toks[k + 2].type : u16();
    if (t1 == u"∇" && lang_.tables.isMathFunction(toks[k].text)) {
      toks[k].type = u"xMATH";
      drop_symbol(toks[k].text);
    } else if (t1 == u"." && t2 == u"∇") {
      toks[k + 1].type = toks[k + 1].text;
      toks[k + 1].text.clear();
    } else if (t1 == u"$" && t2 == u"∇") {
      u16 name = toks[k + 1].text;
      toks[k] = Tok{toks[k].line, u"xVECTVAR", u"$" + name, toks[k].column};
      toks[k + 1].type = absorbed;
      renameSymbol(name, u"$" + name);
    } else if (rules.isSubroutineWord(t1) && t2 == u"∇") {
      toks[k + 1].type = u"xFNAME";
      drop_symbol(toks[k + 1].text);
      add_unique(out_->functionNames, toks[k + 1].text);
    } else if (t1 == u"SHARE" && (t2 == u"∇" || ((t2 == u"&" || t2 == u"%") && t3 == u"∇"))) {
      u16 name = t2 == u"∇" ? toks[k + 1].text : t2 + toks[k + 2].text;
      drop_symbol(name);
      add_unique(out_->sharedNames, name);
    } else if ((t1 == u"&" || t1 == u"%") && t2 == u"∇") {
      u16 name = toks[k + 1].text;
      toks[k] = Tok{toks[k].line, t1 == u"&" ? u"Σ" : u"□", t1 + name, toks[k].column};
      toks[k + 1].type = absorbed;
      renameSymbol(name, toks[k].text);
    }
  }
  // A plain variable that shares its name with a renamed &, % or $ variable
  // keeps its own entry: every ∇ name of the stream is a user symbol.
  for (const Tok &t : toks)
    if (t.type == u"∇" && !IsUserSymbol(t.text)) RegisterUserSymbol(t.text);
  // A rename merges two variables only when the old name is still used as a
  // plain variable of the program (A and &A both written); only that is
  // reported. Every other rename just gives a variable its kind mark.
  if (opt_->variableAlert)
    for (const std::pair<u16, u16> &rename : renames_)
      if (std::any_of(toks.begin(), toks.end(),
                      [&](const Tok &t) { return t.type == u"∇" && t.text == rename.first; })) {
        out_->report.push_back(u"変数削除: " + rename.first);
        out_->report.push_back(u"変数追加: " + rename.second);
      }
  renames_.clear();
  out_->tokens.clear();
  out_->columns.clear();
  for (const Tok &t : toks)
    if (t.type != absorbed) emitToken(t.line, t.column, t.type, t.text);
}

void Tokenizer::RemoveLocalVariables() {
  for (const u16 &name : out_->sharedNames) remove_name(out_->userSymbols, name);
}

TokenStream Tokenizer::Make_Token_From_Text(const Lines &text, const TokenizeOptions &options,
                                            const language::MessageSink &sink) {
  TokenStream stream;
  out_ = &stream;
  opt_ = &options;
  symbolSet_.clear();
  symbolsByFirst_.clear();
  renames_.clear();
  try {
    Make_Tokens(text);
  } catch (const std::exception &) {
    stream.failed = true;
    if (sink) sink(u"トークン生成でエラー");
  }
  ModifyTokenStreamMOre();
  RemoveLocalVariables();
  out_ = nullptr;
  opt_ = nullptr;
  return stream;
}

}  // namespace velmora::compiler

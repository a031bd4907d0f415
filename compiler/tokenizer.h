#pragma once
// The tokenizer: the text of an editor tab becomes the token stream, one token
// line per token ("{line} {type} {text}"), with the program's user symbols,
// shared names and function names.
#include <array>
#include <memory>
#include <unordered_set>
#include <vector>

#include "language/language.h"

namespace velmora::compiler {

struct TokenizeOptions {
  bool IsUpperCase = true;      // compile mode: upper-case outside strings
  bool IsGenSpaceInfo = false;  // spacing mode: ψ tokens, strings across lines
  bool IsNoComment = false;     // keep comments
  int tabPitch = 16;            // the console tab pitch setting
  bool variableAlert = false;   // report renames as "変数削除: " / "変数追加: "
};

struct TokenStream {
  Lines tokens;              // token lines
  std::vector<int> columns;  // per token: its 0-based column in its source line
  Lines userSymbols;         // in order of first registration
  Lines sharedNames;
  Lines functionNames;
  Lines report;         // rename report lines
  bool failed = false;  // cutting tokens ended with "トークン生成でエラー"
};

// Field n of a token line, with quoted runs as one field.
u16 GetToken(std::size_t n, u16view line);
// The type of a token line (its second field).
u16 token_type(u16view line);

bool IsVarNameChars(u16view text);
bool is_AlphaNum(char16_t ch);

class Tokenizer {
 public:
  explicit Tokenizer(const language::Language &language);

  // Tokenises all lines of a tab. Errors are reported through the sink.
  TokenStream Make_Token_From_Text(const Lines &text, const TokenizeOptions &options,
                                   const language::MessageSink &sink);

 private:
  // Lists of positions by a text's first character. Pages of 256 characters
  // are made when first written: a table over every UTF-16 unit costs what
  // the characters in use cost (two flat tables of 65536 lists were 3 MB
  // cleared and freed by every start).
  class ByFirstChar {
   public:
    const std::vector<int> &operator[](char16_t c) const {
      const auto &page = pages_[c >> 8];
      return page ? (*page)[c & 0xFF] : kNone;
    }
    void add(char16_t c, int position) {
      auto &page = pages_[c >> 8];
      if (!page) page = std::make_unique<std::array<std::vector<int>, 256>>();
      (*page)[c & 0xFF].push_back(position);
    }
    void clear() {
      for (auto &page : pages_) page.reset();
    }

   private:
    std::array<std::unique_ptr<std::array<std::vector<int>, 256>>, 256> pages_;
    static inline const std::vector<int> kNone;
  };

  const language::Language &lang_;
  // Keyword list positions by first character, last line first, so that the
  // longest keyword at a position is tried first.
  ByFirstChar keywordsByFirst_;

  // State of one tokenisation.
  TokenStream *out_ = nullptr;
  const TokenizeOptions *opt_ = nullptr;
  std::unordered_set<u16> symbolSet_;
  std::vector<std::pair<u16, u16>> renames_;  // user symbols given a kind mark
  ByFirstChar symbolsByFirst_;

  void RegisterUserSymbol(const u16 &name);
  bool IsUserSymbol(const u16 &name) const { return symbolSet_.count(name) != 0; }
  int KeyWordOrUserSymbol(const u16 &item);
  // Source columns of the characters of the piece being tokenised.
  const std::vector<int> *pieceColumns_ = nullptr;
  const char16_t *pieceStart_ = nullptr;
  int columnAt(u16view text) const;
  void emitToken(int line, int column, u16view type, u16view text = {});
  void Make_Tokens(const Lines &text);
  void Process_SingleLine(int line, const Lines &pieces, const std::vector<bool> &isString,
                          const std::vector<std::vector<int>> &columns);
  void RecogniseToken(int line, u16view text);
  void ModifyTokenStreamMOre();
  void RemoveLocalVariables();
  void renameSymbol(const u16 &from, const u16 &to);
};

}  // namespace velmora::compiler

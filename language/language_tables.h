#pragma once
// The word lists and the grammar ("T-Keyword.txt" ... "T-Syntax.txt") and
// the fixed tables the tokenizer and the recogniser read.
#include <filesystem>
#include <unordered_set>

#include "language/message_sink.h"
#include "text/u16.h"

namespace velmora::language {

// The five word and grammar tables of the language and the two fixed tables
// built from them: the grammar table read by the recogniser and the keyword
// table read by the tokenizer.
class LanguageTables {
 public:
  static constexpr int kGrammarRows = 2000;
  static constexpr int kGrammarFields = 40;  // field 0 (head) + 39 pattern items
  static constexpr std::size_t kItemBytes = 20;
  static constexpr int kKeywordEntries = 500;
  static constexpr std::size_t kKeywordBytes = 30;

  // File names beside the program, in loading order.
  static constexpr const char *kKeywordFile = "T-Keyword.txt";
  static constexpr const char *kSymbolFile = "T-Symbol.txt";
  static constexpr const char *kCommandFile = "T-Command.txt";
  static constexpr const char *kMathFile = "T-Math.txt";
  static constexpr const char *kSyntaxFile = "T-Syntax.txt";

  // The lists as text lines, in stored order (never sorted on loading).
  Lines keywords;   // KEYWORDListBox
  Lines symbols;    // SymbolicListBox
  Lines commands;   // CommandListBox
  Lines mathFuncs;  // MathFuncListBox
  Lines syntax;     // SyntaxListBox

  // Fills the five lists with the built-in copies.
  void loadBuiltins();
  // Built-in lists, then each list whose file lies in dir replaces its
  // built-in copy (that list only). A file that is not text or defines
  // nothing is still taken, and named through sink.
  void SetupSyntaxKeyWord(const std::filesystem::path &dir, const MessageSink &sink = {});
  // Rebuilds the grammar table and the keyword table from the lists.
  void ReconstSyntax(const MessageSink &sink);

  bool IsKeyWord(u16view word) const;
  bool isSymbolicTerm(u16view text) const;
  bool Non_SingleSymbol(char16_t ch) const;
  bool SingleChar_KeyWordFollow(u16view text, std::size_t pos) const;
  bool isMathFunction(u16view word) const;

  // Grammar table rows (row = line of the grammar text).
  int grammarRowCount() const { return int(grammar_.size()); }
  const Lines &row(int r) const;
  char16_t SttCode(int r) const { return r >= 0 && r < int(rowGroups_.size()) ? rowGroups_[std::size_t(r)] : u'\0'; }
  bool State_End(int r) const { return r >= 0 && r < int(rowEnds_.size()) && rowEnds_[std::size_t(r)]; }
  const u16 &SbSt(int r, int f) const;
  // The rule code of a row: field 0 from its second character up to the one
  // before the first colon.
  u16 ruleCode(int r) const;

  // Keyword table (entry i = keyword line i, cut to 30 bytes).
  const Lines &keywordTable() const { return keywordTable_; }

 private:
  std::vector<Lines> grammar_;
  std::u16string rowGroups_;   // per row: the first character of field 0
  std::vector<bool> rowEnds_;  // per row: field 0 is "//*E*"
  Lines keywordTable_;
  std::unordered_set<u16> keywordIndex_;
  std::unordered_set<u16> symbolIndex_;
  std::unordered_set<u16> mathIndex_;
  std::u16string singleSymbols_;
  std::u16string singleKeywords_;

  void rebuildIndexes();
};

// Items of a grammar line: runs of ASCII blanks separate them (a full-width
// blank does not).
Lines blank_items(u16view line);

}  // namespace velmora::language

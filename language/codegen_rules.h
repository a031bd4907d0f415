#pragma once
// The code-generation rule table ("T-CodeGenerationRule.txt"): loading it
// and looking up how a flow-control statement becomes T-code.
#include <array>
#include <filesystem>

#include "language/message_sink.h"
#include "text/u16.h"

namespace velmora::language {

struct FlowPair {
  u16 head;        // FOR
  u16 terminator;  // END
};

// The code-generation rule table: how flow-control statements become T-code.
class CodeGenRules {
 public:
  static constexpr int kRows = 301;
  static constexpr int kUsableRows = 300;
  static constexpr int kCells = 21;
  static constexpr int kMaxItems = 20;
  static constexpr int kMaxKeywords = 20;
  static constexpr int kMaxPairs = 10;
  static constexpr int kMaxSubroutineWords = 2;
  static constexpr const char *kFileName = "T-CodeGenerationRule.txt";

  using Row = std::array<u16, kCells>;

  Lines text;  // CodeGenRule_ListBox: the rule text the tables come from

  // The file beside the program when it exists, else the built-in text. A
  // file that is not text or holds no rule is still taken, and named
  // through sink.
  void loadText(const std::filesystem::path &dir, const MessageSink &sink = {});
  void loadBuiltinText();
  // Clears every table and fills them from `text`.
  void Load_Code_Generation_Format(const MessageSink &sink);

  const Row &row(int r) const;
  const u16 &cell(int r, int c) const;

  const Lines &keywords() const { return keywords_; }
  const std::vector<FlowPair> &pairs() const { return pairs_; }
  const Lines &subroutineWords() const { return subroutineWords_; }
  const u16 &endFunctionWord() const { return endFunctionWord_; }
  const u16 &vectorSetWord() const { return vectorSetWord_; }

  bool isFlowKeyword(u16view word) const;
  bool isSubroutineWord(u16view word) const;

 private:
  std::vector<Row> rows_ = std::vector<Row>(kRows);
  Lines keywords_;
  std::vector<FlowPair> pairs_;
  Lines subroutineWords_;
  u16 endFunctionWord_;
  u16 vectorSetWord_;
};

}  // namespace velmora::language

#include "language/language_tables.h"

#include "data/builtin_tables.h"
#include "language/table_check.h"
#include "text/encoding.h"
#include "text/lines.h"

namespace velmora::language {

namespace {

const Lines kEmptyRow;
const u16 kEmptyItem;

Lines builtin_lines(const char *name) { return text::split_lines(text::from_utf8(data::builtin_file(name))); }

}  // namespace

Lines blank_items(u16view line) {
  Lines items;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == u' ') ++i;
    if (i >= line.size()) break;
    std::size_t start = i;
    while (i < line.size() && line[i] != u' ') ++i;
    items.emplace_back(line.substr(start, i - start));
  }
  return items;
}

void LanguageTables::loadBuiltins() {
  keywords = builtin_lines(kKeywordFile);
  symbols = builtin_lines(kSymbolFile);
  commands = builtin_lines(kCommandFile);
  mathFuncs = builtin_lines(kMathFile);
  syntax = builtin_lines(kSyntaxFile);
  rebuildIndexes();
}

void LanguageTables::SetupSyntaxKeyWord(const std::filesystem::path &dir, const MessageSink &sink) {
  loadBuiltins();
  const std::pair<const char *, Lines *> files[] = {{kKeywordFile, &keywords},
                                                    {kSymbolFile, &symbols},
                                                    {kCommandFile, &commands},
                                                    {kMathFile, &mathFuncs},
                                                    {kSyntaxFile, &syntax}};
  for (auto &[name, list] : files) {
    auto bytes = text::read_file_bytes(dir / name);
    if (!bytes) continue;
    TableFault fault = table_fault(*bytes, list == &syntax ? TableKind::Grammar : TableKind::WordList);
    if (fault != TableFault::None && sink) sink(table_fault_message(fault, dir / name));
    *list = text::split_lines(text::decode_bytes(*bytes).text);
  }
  rebuildIndexes();
}

void LanguageTables::ReconstSyntax(const MessageSink &sink) {
  grammar_.clear();
  rowGroups_.clear();
  rowEnds_.clear();
  for (std::size_t r = 0; r < syntax.size(); ++r) {
    if (r >= std::size_t(kGrammarRows)) {
      sink(u"文法が多すぎます（内部エラー・要再構築）");
      break;
    }
    Lines items = blank_items(syntax[r]);
    Lines row;
    bool overflow = false;
    for (std::size_t f = 0; f < items.size(); ++f) {
      if (f >= std::size_t(kGrammarFields)) {
        overflow = true;
        break;
      }
      row.push_back(text::cut_cp932(items[f], kItemBytes));
    }
    // The recogniser asks every row for these at every rule search.
    rowGroups_.push_back(row.empty() || row[0].empty() ? u'\0' : row[0][0]);
    rowEnds_.push_back(!row.empty() && row[0] == u"//*E*");
    grammar_.push_back(std::move(row));
    if (overflow) {
      sink(u"文法１行内の定義数が多すぎます（内部エラー・要再構築）");
      break;
    }
  }

  keywordTable_.clear();
  for (std::size_t i = 0; i < keywords.size(); ++i) {
    if (i >= std::size_t(kKeywordEntries)) {
      sink(u"キーワードが多すぎます（内部エラー・要再構築）>" + text::int16(kKeywordEntries));
      break;
    }
    keywordTable_.push_back(text::cut_cp932(keywords[i], kKeywordBytes));
  }
  rebuildIndexes();
}

void LanguageTables::rebuildIndexes() {
  // Exact-match lookups over whole lists answer the same through a set.
  keywordIndex_.clear();
  for (const u16 &k : keywordTable_)
    if (!k.empty()) keywordIndex_.insert(k);
  symbolIndex_ = std::unordered_set<u16>(symbols.begin(), symbols.end());
  mathIndex_ = std::unordered_set<u16>(mathFuncs.begin(), mathFuncs.end());
  singleSymbols_.clear();
  for (const u16 &s : symbols)
    if (s.size() == 1) singleSymbols_ += s[0];
  // One-character keywords: scanned from the first line, stopping at the first
  // keyword longer than one character.
  singleKeywords_.clear();
  for (const u16 &k : keywords) {
    if (k.size() > 1) break;
    if (k.size() == 1) singleKeywords_ += k[0];
  }
}

bool LanguageTables::IsKeyWord(u16view word) const {
  if (word.empty()) return false;
  return keywordIndex_.count(u16(word)) != 0;
}

bool LanguageTables::isSymbolicTerm(u16view text) const { return symbolIndex_.count(u16(text)) != 0; }

bool LanguageTables::Non_SingleSymbol(char16_t ch) const { return singleSymbols_.find(ch) == u16::npos; }

bool LanguageTables::SingleChar_KeyWordFollow(u16view text, std::size_t pos) const {
  if (pos >= text.size()) return false;
  return singleKeywords_.find(text[pos]) != u16::npos;
}

bool LanguageTables::isMathFunction(u16view word) const {
  if (word.empty()) return false;
  return mathIndex_.count(u16(word)) != 0;
}

const Lines &LanguageTables::row(int r) const {
  if (r < 0 || r >= int(grammar_.size())) return kEmptyRow;
  return grammar_[std::size_t(r)];
}

const u16 &LanguageTables::SbSt(int r, int f) const {
  const Lines &items = row(r);
  if (f < 0 || f >= int(items.size())) return kEmptyItem;
  return items[std::size_t(f)];
}

u16 LanguageTables::ruleCode(int r) const {
  const u16 &head = SbSt(r, 0);
  std::size_t colon = head.find(u':');
  if (colon == u16::npos || colon < 1) return {};
  return head.substr(1, colon - 1);
}

}  // namespace velmora::language

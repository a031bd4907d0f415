#include "language/word_editing.h"

#include <algorithm>

#include "text/lines.h"

namespace velmora::language {

namespace {

void rename_in_list(Lines &list, u16view oldWord, u16view newWord) {
  auto it = std::find(list.begin(), list.end(), oldWord);
  if (it == list.end()) return;
  list.erase(it);
  auto at = std::find_if(list.begin(), list.end(), [&](const u16 &w) { return w.size() == newWord.size(); });
  list.insert(at, u16(newWord));
}

}  // namespace

void apply_rename(LanguageTables &tables, u16view oldWord, u16view newWord, const MessageSink &sink) {
  for (Lines *list : {&tables.keywords, &tables.symbols, &tables.mathFuncs, &tables.commands})
    rename_in_list(*list, oldWord, newWord);
  for (u16 &line : tables.syntax) {
    u16 rewritten;
    for (const u16 &item : blank_items(line)) rewritten += (item == oldWord ? u16(newWord) : item) + u" ";
    line = std::move(rewritten);
  }
  tables.ReconstSyntax(sink ? sink : [](const u16 &) {});
}

void apply_rename(CodeGenRules &rules, u16view oldWord, u16view newWord, const MessageSink &sink) {
  static const Lines naming{u"*KEYDEF",  u"*FLOWTERM", u"*FUNCALL", u"*ENDFUN", u"*VECTSET",
                            u"*TKBUF=)", u"*HT",       u"*IPL",     u"*NLN"};
  for (u16 &line : rules.text) {
    if (line.find(u"---") != u16::npos) continue;  // a comment line
    Lines items = blank_items(line);
    if (items.size() < 2 || std::find(naming.begin(), naming.end(), items[0]) == naming.end()) continue;
    if (std::find(items.begin() + 1, items.end(), oldWord) == items.end()) continue;
    // Keep the indentation of block lines; items are joined with one blank.
    u16 rewritten(line.substr(0, line.find_first_not_of(u' ')));
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) rewritten += u" ";
      rewritten += i > 0 && items[i] == oldWord ? u16(newWord) : items[i];
    }
    line = std::move(rewritten);
  }
  rules.Load_Code_Generation_Format(sink ? sink : [](const u16 &) {});
}

bool save_codegen_rules(const CodeGenRules &rules, const std::filesystem::path &dir) {
  return text::write_lines_file(dir / CodeGenRules::kFileName, rules.text);
}

Lines sorted_word_list(const Lines &words, bool longestFirst) {
  Lines out;
  std::size_t longest = 0;
  for (const u16 &w : words) longest = std::max(longest, w.size());
  for (std::size_t length = 1; length <= longest; ++length) {
    Lines group;
    for (const u16 &w : words)
      if (w.size() == length) group.push_back(w);
    std::sort(group.begin(), group.end());
    out.insert(out.end(), group.begin(), group.end());
  }
  if (longestFirst) std::reverse(out.begin(), out.end());
  return out;
}

bool save_language_tables(const LanguageTables &t, const std::filesystem::path &dir) {
  return text::write_lines_file(dir / LanguageTables::kKeywordFile, sorted_word_list(t.keywords, false)) &&
         text::write_lines_file(dir / LanguageTables::kSymbolFile, sorted_word_list(t.symbols, false)) &&
         text::write_lines_file(dir / LanguageTables::kMathFile, sorted_word_list(t.mathFuncs, false)) &&
         text::write_lines_file(dir / LanguageTables::kCommandFile, sorted_word_list(t.commands, true)) &&
         text::write_lines_file(dir / LanguageTables::kSyntaxFile, t.syntax);
}

}  // namespace velmora::language

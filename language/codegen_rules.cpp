#include "language/codegen_rules.h"

#include "data/builtin_tables.h"
#include "language/table_check.h"
#include "text/encoding.h"
#include "text/fields.h"
#include "text/lines.h"

namespace velmora::language {

namespace {

const u16 kEmpty;

bool contains(u16view line, u16view what) { return line.find(what) != u16view::npos; }

bool starts_with(u16view s, u16view prefix) { return s.substr(0, prefix.size()) == prefix; }

// A parameter item that must carry a decimal number after its prefix.
bool lacks_number(u16view item) {
  for (u16view prefix : {u16view(u"*LC+"), u16view(u"*FL+"), u16view(u"*TL+"), u16view(u"%")}) {
    if (!starts_with(item, prefix)) continue;
    u16view rest = item.substr(prefix.size());
    if (rest.empty()) return true;
    for (char16_t c : rest)
      if (!text::is_ascii_digit(c)) return true;
    return false;
  }
  return false;
}

}  // namespace

void CodeGenRules::loadText(const std::filesystem::path &dir, const MessageSink &sink) {
  if (auto bytes = text::read_file_bytes(dir / kFileName)) {
    TableFault fault = table_fault(*bytes, TableKind::CodeGenRules);
    if (fault != TableFault::None && sink) sink(table_fault_message(fault, dir / kFileName));
    text = text::split_lines(text::decode_bytes(*bytes).text);
  } else {
    loadBuiltinText();
  }
}

void CodeGenRules::loadBuiltinText() { text = text::split_lines(text::from_utf8(data::builtin_file(kFileName))); }

void CodeGenRules::Load_Code_Generation_Format(const MessageSink &sink) {
  for (Row &r : rows_) r.fill(u16());
  keywords_.clear();
  pairs_.clear();
  subroutineWords_.clear();
  endFunctionWord_.clear();
  vectorSetWord_.clear();

  int keywordCount = 0, pairCount = 0, subroutineCount = 0, ruleLines = 0;
  for (std::size_t i = 0; i < text.size() && i < std::size_t(kUsableRows); ++i) {
    const u16 &line = text[i];
    auto items = text::split_fields(line);
    auto item = [&](std::size_t n) { return n < items.size() ? u16(items[n]) : u16(); };

    if (contains(line, u"---")) continue;
    if (contains(line, u"*VECTSET")) {
      vectorSetWord_ = item(1);
      continue;
    }
    if (contains(line, u"*FUNCALL")) {
      if (items.size() < 2) continue;
      ++subroutineCount;
      if (subroutineCount <= kMaxSubroutineWords) subroutineWords_.push_back(item(1));
      if (subroutineCount > kMaxSubroutineWords)
        sink(u"サブルーチンキーワードが多すぎる　" + text::int16(subroutineCount));
      continue;
    }
    if (contains(line, u"*ENDFUN")) {
      endFunctionWord_ = item(1);
      continue;
    }
    if (contains(line, u"*KEYDEF")) {
      if (items.size() < 2) continue;
      ++keywordCount;
      if (keywordCount <= kMaxKeywords) keywords_.push_back(item(1));
      if (keywordCount >= kMaxKeywords) sink(u"制御キーワードが多すぎる　" + text::int16(keywordCount));
      continue;
    }
    if (contains(line, u"*FLOWTERM")) {
      if (items.size() < 2) continue;
      ++pairCount;
      if (pairCount <= kMaxPairs) pairs_.push_back({item(1), item(2)});
      if (pairCount >= kMaxPairs) sink(u"制御ターミネータが多すぎる　" + text::int16(pairCount));
      continue;
    }

    ++ruleLines;
    if (ruleLines >= kUsableRows) {
      sink(u"コード生成ルールが多すぎる　" + text::int16(ruleLines));
      return;
    }
    Row &row = rows_[i];
    for (std::size_t n = 0; n < items.size(); ++n) {
      row[n] = u16(items[n]);
      if (n > 0 && lacks_number(items[n]))
        sink(u"コード生成ルールの項目に数値がありません（" + text::int16(long(i) + 1) + u"行目）: " + row[n]);
      if (n + 1 == std::size_t(kMaxItems)) {
        sink(u"生成パラメータが多すぎる " + text::int16(kMaxItems));
        break;
      }
    }
  }
}

const CodeGenRules::Row &CodeGenRules::row(int r) const {
  static const Row empty{};
  if (r < 0 || r >= kRows) return empty;
  return rows_[std::size_t(r)];
}

const u16 &CodeGenRules::cell(int r, int c) const {
  if (c < 0 || c >= kCells) return kEmpty;
  return row(r)[std::size_t(c)];
}

bool CodeGenRules::isFlowKeyword(u16view word) const {
  for (const u16 &k : keywords_)
    if (k == word) return true;
  return false;
}

bool CodeGenRules::isSubroutineWord(u16view word) const {
  for (const u16 &k : subroutineWords_)
    if (k == word) return true;
  return false;
}

}  // namespace velmora::language

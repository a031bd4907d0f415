#include "language/table_check.h"

#include "language/language_tables.h"
#include "text/encoding.h"
#include "text/lines.h"

namespace velmora::language {

namespace {

// Tab, line ends, form feed, vertical tab and the old end-of-file mark occur
// in hand-edited text; any other control character means binary data.
bool is_text_control(char16_t c) {
  return c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v' || c == 0x1A;
}

bool looks_binary(const text::Decoded &decoded) {
  for (char16_t c : decoded.text) {
    if (c < 0x20 && !is_text_control(c)) return true;
    if (c == 0x7F) return true;
    // CP932 decoding turns bytes it cannot read into U+FFFD.
    if (c == 0xFFFD && decoded.encoding == text::Encoding::Cp932) return true;
  }
  return false;
}

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

bool has_content(u16view line) {
  for (char16_t c : line)
    if (!is_blank(c)) return true;
  return false;
}

// A rule head: a group character, the rule code and a colon ("#022:").
bool is_rule_head(u16view item) {
  static constexpr std::u16string_view kGroups = u"!$@?#☆%\\";
  if (item.size() < 3 || kGroups.find(item[0]) == u16view::npos) return false;
  std::size_t colon = item.find(u':');
  return colon != u16view::npos && colon >= 2;
}

}  // namespace

TableFault table_fault(std::string_view bytes, TableKind kind) {
  text::Decoded decoded = text::decode_bytes(bytes);
  if (looks_binary(decoded)) return TableFault::NotText;
  Lines lines = text::split_lines(decoded.text);
  switch (kind) {
    case TableKind::WordList:
      for (const u16 &line : lines)
        if (has_content(line)) return TableFault::None;
      return TableFault::NoWord;
    case TableKind::Grammar:
      for (const u16 &line : lines) {
        Lines items = blank_items(line);
        if (!items.empty() && is_rule_head(items[0])) return TableFault::None;
      }
      return TableFault::NoRule;
    case TableKind::CodeGenRules:
      // Lines holding "---" are comments; any other line with an item is a
      // declaration or a rule line.
      for (const u16 &line : lines)
        if (line.find(u"---") == u16::npos && has_content(line)) return TableFault::None;
      return TableFault::NoRule;
  }
  return TableFault::None;
}

u16 table_fault_message(TableFault fault, const std::filesystem::path &file) {
  u16 head;
  switch (fault) {
    case TableFault::None: return {};
    case TableFault::NotText: head = u"言語テーブルファイルがテキストではありません: "; break;
    case TableFault::NoWord: head = u"言語テーブルファイルに語がひとつもありません: "; break;
    case TableFault::NoRule: head = u"言語テーブルファイルに規則がひとつもありません: "; break;
  }
  return head + text::from_utf8(file.string()) + u"（組み込みの表の代わりに使われます。直すか削除してください）";
}

}  // namespace velmora::language

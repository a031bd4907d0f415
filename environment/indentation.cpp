#include "environment/indentation.h"

#include <algorithm>

namespace velmora::environment {

namespace {

bool blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

bool word_at_end(u16view code, u16view word) {
  if (code.size() < word.size() || code.substr(code.size() - word.size()) != word) return false;
  return code.size() == word.size() || blank(code[code.size() - word.size() - 1]) ||
         code[code.size() - word.size() - 1] == u';';
}

u16 leading_blanks(u16view line) {
  std::size_t n = 0;
  while (n < line.size() && blank(line[n])) ++n;
  return u16(line.substr(0, n));
}

}  // namespace

u16 codeOfLine(u16view line) {
  u16 code;
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') inString = !inString;
    if (!inString && c == u'/' && i + 1 < line.size() && line[i + 1] == u'/') break;
    code += (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
  }
  std::size_t b = 0, e = code.size();
  while (b < e && blank(code[b])) ++b;
  while (e > b && blank(code[e - 1])) --e;
  return code.substr(b, e - b);
}

bool opensBlock(u16view line) {
  const u16 code = codeOfLine(line);
  if (code.rfind(u"FUNCTION", 0) == 0 && (code.size() == 8 || blank(code[8]))) return true;
  return word_at_end(code, u"DO") || word_at_end(code, u"THEN") || word_at_end(code, u"ELSE");
}

u16 indentAfter(u16view line, int unit) {
  u16 indent = leading_blanks(line);
  if (opensBlock(line)) indent.append(std::size_t(std::max(unit, 1)), u' ');
  return indent;
}

u16 dedentClosing(u16view line, int unit) {
  const u16 code = codeOfLine(line);
  if (code != u"END" && code != u"ELSE" && code != u"ENDFUNC") return u16(line);
  const u16 indent = leading_blanks(line);
  const std::size_t step = std::size_t(std::max(unit, 1));
  if (indent.size() < step || indent.find_first_not_of(u' ') != u16::npos) return u16(line);
  return u16(line.substr(step));
}

}  // namespace velmora::environment

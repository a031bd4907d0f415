// Formatting: the indentation the editors' auto-indent gives, for a whole
// program. Block words are read from the tokens (strings and comments do
// not count) and follow renamed words.
#include "lsp/features.h"

namespace velmora::lsp {

namespace {

bool indent_char(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

}  // namespace

Json formatting(const DocumentView &doc, const IndentOptions &options, int firstLine, int lastLine) {
  const Vocabulary &w = doc.words;
  const u16 then = w.liveOf(u"THEN"), loop = w.liveOf(u"DO"), end = w.liveOf(u"END"), otherwise = w.liveOf(u"ELSE"),
            endFunction = w.liveOf(u"ENDFUNC"), function = w.liveOf(u"FUNCTION");
  const u16 step = options.insertSpaces ? u16(std::size_t(std::clamp(options.tabSize, 1, 16)), u' ') : u16(u"\t");
  if (lastLine < 0) lastLine = doc.document.lineCount() - 1;

  Json edits = Json::array();
  const std::vector<SourceToken> &tokens = doc.analysis.tokens;
  std::size_t k = 0;
  int level = 0;
  for (int line = 0; line < doc.document.lineCount(); ++line) {
    int opens = 0, closes = 0;
    bool closerFirst = false, first = true;
    while (k < tokens.size() && tokens[k].span.line < line) ++k;
    for (; k < tokens.size() && tokens[k].span.line == line; ++k) {
      const u16 &type = tokens[k].type;
      if (type == then || type == loop || type == function) ++opens;
      else if (type == end || type == endFunction) ++closes;
      if (first && (type == end || type == endFunction || type == otherwise)) closerFirst = true;
      first = false;
    }
    const u16view text = doc.document.line(line);
    std::size_t lead = 0;
    while (lead < text.size() && indent_char(text[lead])) ++lead;
    const bool blank = lead == text.size();
    int depth = std::max(level - (closerFirst ? 1 : 0), 0);
    level = std::max(level + opens - closes, 0);
    if (line < firstLine || line > lastLine) continue;
    u16 indent;
    if (!blank)
      for (int i = 0; i < depth; ++i) indent += step;
    if (text.substr(0, lead) != indent)
      edits.push_back({{"range", range_json({line, 0}, {line, int(lead)})}, {"newText", utf8(indent)}});
  }
  return edits;
}

}  // namespace velmora::lsp

#include "lsp/describe.h"

#include "compiler/word_reference.h"

namespace velmora::lsp {

namespace {

bool word_char(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// The example with every renamed built-in word written as it is now.
u16 live_example(const Vocabulary &words, u16view example) {
  u16 out;
  bool inString = false;
  for (std::size_t i = 0; i < example.size();) {
    const char16_t c = example[i];
    if (c == u'"') inString = !inString;
    if (inString || !word_char(c) || (i > 0 && word_char(example[i - 1]))) {
      out += c;
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < example.size() && word_char(example[j])) ++j;
    out += words.liveOf(example.substr(i, j - i));
    i = j;
  }
  return out;
}

u16 kinds_of(const Vocabulary::Word *w) {
  if (!w) return {};
  Lines kinds;
  if (w->math) kinds.push_back(u"数学関数");
  if (w->command) kinds.push_back(u"コマンド");
  if (w->keyword && !w->math && !w->command) kinds.push_back(is_alphabetic_word(w->text) ? u"キーワード" : u"記号");
  if (w->symbol && !w->keyword) kinds.push_back(u"記号");
  u16 out;
  for (const u16 &k : kinds) out += (out.empty() ? u"" : u"・") + k;
  return out;
}

}  // namespace

u16 word_summary(const Vocabulary &words, u16view liveWord) {
  const u16 builtin = words.builtinOf(liveWord);
  u16 out;
  if (const compiler::WordEntry *e = compiler::word_entry(builtin)) out = e->summary;
  else out = kinds_of(words.find(liveWord));
  if (words.renamed(liveWord)) out = u"（" + builtin + u" の新しい名前）" + out;
  return out;
}

u16 word_markdown(const Vocabulary &words, const language::Language &language, u16view liveWord) {
  auto cached = words.markdownCache.find(u16(liveWord));
  if (cached != words.markdownCache.end()) return cached->second;
  const u16 builtin = words.builtinOf(liveWord);
  u16 md = u"**" + u16(liveWord) + u"**";
  const u16 kinds = kinds_of(words.find(liveWord));
  if (!kinds.empty()) md += u"　" + kinds;
  if (words.renamed(liveWord)) md += u"（組み込みの語 " + builtin + u" の新しい名前）";
  md += u"\n\n";
  if (const compiler::WordEntry *e = compiler::word_entry(builtin)) {
    md += u16(e->summary) + u"\n\n```velmora\n" + live_example(words, e->example) + u"\n```\n";
  }
  u16 instructions;
  for (const u16 &code : compiler::rule_codes_of(language.tables, liveWord)) {
    const u16 s = compiler::instruction_summary(code);
    if (!s.empty()) instructions += u"- " + s + u"\n";
  }
  if (!instructions.empty()) md += u"\n命令:\n\n" + instructions;
  words.markdownCache.emplace(liveWord, md);
  return md;
}

}  // namespace velmora::lsp

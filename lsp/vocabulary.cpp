#include "lsp/vocabulary.h"

#include <algorithm>
#include <set>

namespace velmora::lsp {

namespace {

bool is_word_char(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Pairs live and built-in words: first where the grammar rows differ item
// by item (a rename rewrites every item equal to the old word), then, list
// by list, the one word left on each side.
void pair_renames(const language::Language &live, const language::Language &builtin,
                  std::unordered_map<u16, u16> &toBuiltin, std::unordered_map<u16, u16> &toLive) {
  const Lines &a = live.tables.syntax, &b = builtin.tables.syntax;
  auto add = [&](const u16 &liveWord, const u16 &builtinWord) {
    if (liveWord == builtinWord || liveWord.empty() || builtinWord.empty()) return;
    if (toBuiltin.count(liveWord) || toLive.count(builtinWord)) return;
    toBuiltin[liveWord] = builtinWord;
    toLive[builtinWord] = liveWord;
  };
  if (a.size() == b.size()) {
    for (std::size_t r = 0; r < a.size(); ++r) {
      const Lines x = language::blank_items(a[r]), y = language::blank_items(b[r]);
      if (x.size() != y.size() || x.empty() || x[0].rfind(u"//", 0) == 0) continue;
      if (x[0] != y[0]) continue;  // another rule: no rename to learn from
      for (std::size_t i = 1; i < x.size(); ++i)
        if (x[i] != y[i]) add(x[i], y[i]);
    }
  }
  const std::pair<const Lines *, const Lines *> lists[] = {
      {&live.tables.keywords, &builtin.tables.keywords},
      {&live.tables.symbols, &builtin.tables.symbols},
      {&live.tables.commands, &builtin.tables.commands},
      {&live.tables.mathFuncs, &builtin.tables.mathFuncs},
  };
  for (const auto &[liveList, builtinList] : lists) {
    const std::set<u16> l(liveList->begin(), liveList->end()), bl(builtinList->begin(), builtinList->end());
    std::vector<u16> onlyLive, onlyBuiltin;
    for (const u16 &w : l)
      if (!w.empty() && !bl.count(w) && !toBuiltin.count(w)) onlyLive.push_back(w);
    for (const u16 &w : bl)
      if (!w.empty() && !l.count(w) && !toLive.count(w)) onlyBuiltin.push_back(w);
    if (onlyLive.size() == 1 && onlyBuiltin.size() == 1) add(onlyLive[0], onlyBuiltin[0]);
  }
}

}  // namespace

bool is_alphabetic_word(u16view word) {
  if (word.empty()) return false;
  return std::all_of(word.begin(), word.end(), is_word_char);
}

Vocabulary::Vocabulary(const language::Language &live, const language::Language &builtin) {
  pair_renames(live, builtin, toBuiltin_, toLive_);
  auto note = [this](const Lines &list, bool Word::*kind) {
    for (const u16 &w : list) {
      if (w.empty()) continue;
      auto it = index_.find(w);
      if (it == index_.end()) {
        it = index_.emplace(w, words_.size()).first;
        words_.push_back(Word{w});
      }
      words_[it->second].*kind = true;
    }
  };
  note(live.tables.keywords, &Word::keyword);
  note(live.tables.symbols, &Word::symbol);
  note(live.tables.commands, &Word::command);
  note(live.tables.mathFuncs, &Word::math);
}

u16 Vocabulary::builtinOf(u16view liveWord) const {
  auto it = toBuiltin_.find(u16(liveWord));
  return it == toBuiltin_.end() ? u16(liveWord) : it->second;
}

u16 Vocabulary::liveOf(u16view builtinWord) const {
  auto it = toLive_.find(u16(builtinWord));
  return it == toLive_.end() ? u16(builtinWord) : it->second;
}

const Vocabulary::Word *Vocabulary::find(u16view liveWord) const {
  auto it = index_.find(u16(liveWord));
  return it == index_.end() ? nullptr : &words_[it->second];
}

}  // namespace velmora::lsp

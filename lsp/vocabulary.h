#pragma once
// The words of the live language and what each stands for. A home may have
// renamed words (a renamed word is carried through the word lists and every
// grammar line); descriptions and the editors' block words belong to the
// built-in words, so the server keeps both directions of the renames,
// found by comparing the live tables with the built-in ones.
#include <unordered_map>

#include "language/language.h"

namespace velmora::lsp {

enum class WordKind { Keyword, Symbol, Command, MathFunction };

class Vocabulary {
 public:
  Vocabulary(const language::Language &live, const language::Language &builtin);

  // The built-in word a live word stands for: itself when it was not renamed.
  u16 builtinOf(u16view liveWord) const;
  // The live word for a built-in one: itself when it was not renamed.
  u16 liveOf(u16view builtinWord) const;
  bool renamed(u16view liveWord) const { return toBuiltin_.count(u16(liveWord)) != 0; }

  // Every word of the live lists once, with its kinds (a word such as WAIT
  // is both a keyword and a command).
  struct Word {
    u16 text;
    bool keyword = false, symbol = false, command = false, math = false;
  };
  const std::vector<Word> &words() const { return words_; }
  const Word *find(u16view liveWord) const;

  // Descriptions made once per word for this vocabulary (describe.cpp):
  // every completion list shows them all.
  mutable std::unordered_map<u16, u16> markdownCache;

 private:
  std::unordered_map<u16, u16> toBuiltin_, toLive_;
  std::vector<Word> words_;
  std::unordered_map<u16, std::size_t> index_;
};

// A word made of letters, digits and "_" (IF, WAIT), not a symbol (<*>).
bool is_alphabetic_word(u16view word);

}  // namespace velmora::lsp

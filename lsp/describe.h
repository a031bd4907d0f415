#pragma once
// Descriptions of the words of the live language for completion and hover:
// the built-in word's entry of the word reference, with the example written
// in the live words, and the instructions its grammar rules make.
#include "lsp/vocabulary.h"

namespace velmora::lsp {

// One line: the entry's summary; for a renamed word, which word it renames.
u16 word_summary(const Vocabulary &words, u16view liveWord);
// Markdown: the summary, the example (live words), the instructions.
u16 word_markdown(const Vocabulary &words, const language::Language &language, u16view liveWord);

}  // namespace velmora::lsp

#pragma once
// What each word of the built-in language does, in one line of plain
// Japanese with an example: the word reference of the language guide
// (docs/words.ja.md is generated from it), the editors' completion and
// hover. The instructions a word's grammar rules make are described in the
// instruction table (engine/instructions.h, docs/instructions.md).
#include <vector>

#include "language/language.h"

namespace velmora::compiler {

struct WordEntry {
  const char16_t *word;     // the built-in word
  const char16_t *summary;  // one line
  const char16_t *example;  // a statement or two; lines separated by "\n"
};

const std::vector<WordEntry> &word_reference();
// The entry of a built-in word, or nullptr.
const WordEntry *word_entry(u16view word);

// The instruction a rule code makes: "WAIT: the task runs nothing for ..."
// (name and description from the instruction table); empty when the code
// makes none.
u16 instruction_summary(u16view ruleCode);

// The rule codes of the grammar rows whose pattern names the word.
std::vector<u16> rule_codes_of(const language::LanguageTables &tables, u16view word);

// The word reference as Markdown (docs/words.ja.md).
u16 word_reference_markdown(const language::Language &language);

}  // namespace velmora::compiler

#pragma once
// Renaming words of the language and saving edited tables.
#include "language/codegen_rules.h"
#include "language/language_tables.h"

namespace velmora::language {

// Old → new in the four word lists (the new word goes before the first
// entry of its length, or at the end) and in every grammar line (items
// equal to the old word; items are joined with one blank after each). The
// fixed tables are rebuilt.
void apply_rename(LanguageTables &tables, u16view oldWord, u16view newWord, const MessageSink &sink);

// Old → new in the code-generation rules wherever they name a word of the
// language: the declarations (*KEYDEF, *FLOWTERM, *FUNCALL, *ENDFUN,
// *VECTSET), the block keys (*TKBUF=)), the head words (*HT) and the label
// owners (*IPL, *NLN). T-code texts (*GEN, *PUC) and comments stay. The
// tables are rebuilt.
void apply_rename(CodeGenRules &rules, u16view oldWord, u16view newWord, const MessageSink &sink);

// Grouped by length, alphabetical within a length; longest first (reversed)
// for the command list. Empty lines are dropped.
Lines sorted_word_list(const Lines &words, bool longestFirst);

// Sorts the word lists and writes them and the grammar beside the program.
bool save_language_tables(const LanguageTables &tables, const std::filesystem::path &dir);
// Writes the code-generation rule text beside the program.
bool save_codegen_rules(const CodeGenRules &rules, const std::filesystem::path &dir);

}  // namespace velmora::language

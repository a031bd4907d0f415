// The language table readers: the first byte of the input picks a table
// file, the rest is that file's bytes. The table is judged as at start-up,
// replaces its built-in copy, the fixed tables are rebuilt, and a small
// program is tokenised and compiled with the changed language, so that the
// tokenizer and the recogniser read the tables a user may have edited.
#include "compiler/statement_compiler.h"
#include "compiler/tokenizer.h"
#include "fuzz/fuzz_common.h"
#include "language/table_check.h"

using namespace velmora;

namespace {

const Lines kProgram = {
    u"SHARE T;",
    u"A = 1 + 2 * (3 - 4) / SIN(0.5); &S = \"x\" + \"y\";",
    u"IF A > 1 AND NOT A = 4 OR A < 0 THEN ??A; ELSE ??&S; END",
    u"FOR I = 1 TO 10 DO A += I; IF I = 5 THEN BREAK; END END",
    u"WHILE A > 0 DO A -= 1; END",
    u"EACH &L[] DO ??&L; END",
    u"FUNCTION F; T = T + 1; ENDFUNC",
    u"CALL F; %M = MATRIX(2, 2); SET $V = (1, 2, 3);",
    u"&L[] = <*> \"in.txt\"; FILE(0).OPEN(\"o.txt\", WRITE); FILE(0).CLOSE;",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view file = fuzz::bytes_of(data + 1, size - 1);
  language::Language lang = fuzz::builtin_language();
  language::LanguageTables &t = lang.tables;
  Lines lines = fuzz::lines_of(file);
  const auto quiet = [](const u16 &) {};
  switch (data[0] % 6) {
    case 0:
      language::table_fault(file, language::TableKind::WordList);
      t.keywords = std::move(lines);
      break;
    case 1:
      language::table_fault(file, language::TableKind::WordList);
      t.symbols = std::move(lines);
      break;
    case 2:
      language::table_fault(file, language::TableKind::WordList);
      t.commands = std::move(lines);
      break;
    case 3:
      language::table_fault(file, language::TableKind::WordList);
      t.mathFuncs = std::move(lines);
      break;
    case 4:
      language::table_fault(file, language::TableKind::Grammar);
      t.syntax = std::move(lines);
      break;
    case 5:
      language::table_fault(file, language::TableKind::CodeGenRules);
      lang.rules.text = std::move(lines);
      lang.rules.Load_Code_Generation_Format(quiet);
      break;
  }
  t.ReconstSyntax(quiet);

  compiler::Tokenizer tokenizer(lang);
  compiler::TokenStream stream = tokenizer.Make_Token_From_Text(kProgram, {}, quiet);
  if (stream.failed) return 0;
  fuzz::QuietHost host;
  compiler::StatementCompiler compiler(lang, host);
  compiler.compile(stream.tokens);
  return 0;
}

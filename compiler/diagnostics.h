#pragma once
// Every diagnostic of a program, from one function: the compile error with
// its plain-Japanese explanation, the compile warnings, and the likely
// mistakes of a program that compiles. The window, velmora-run (its compile
// and --check), the playground and the language server all show these, so
// they agree on kind, place and text.
//
// Places: `line` is the 0-based index of the source line (lines end at CR LF,
// LF or CR, as text::split_lines cuts them); `column` is 0-based and counts
// UTF-16 code units of that line as written: a tab, a full-width blank and a
// kanji are one unit each, a character outside the BMP (an emoji) two. That is
// the unit the language server protocol uses, so a client converts nothing;
// velmora-run prints both from 1.
#include <optional>
#include <utility>
#include <vector>

#include "language/language.h"

namespace velmora::compiler {

class StatementCompiler;
struct TokenStream;

enum class Severity {
  Error,    // the program does not compile; nothing is registered
  Warning,  // it compiles, but almost certainly does not do what was meant
  Note,     // it compiles and works; something is superfluous or worth knowing
};

// "error", "warning", "note".
const char *severity_name(Severity severity);

struct Diagnostic {
  Severity severity = Severity::Error;
  int line = 0;    // 0-based source line (always a place: 0 when the whole program is meant)
  int column = 0;  // 0-based, UTF-16 code units of that line
  int length = 0;  // code units the marker covers from column; 0 marks a point (where a ";" belongs)
  // A short, stable name of the kind ("missing-semicolon", "label-left"), for
  // tools and tests; the rows of explanation_table() and of the warnings.
  const char *id = "";
  // The compiler's own words for it, exactly as its message box shows them
  // ("Syntax Error \rLine  => 3\r…", "事象：ラベル残存(…)\r⇒…"); empty when the
  // compiler says nothing (most likely mistakes of a program that compiles).
  u16 message;
  // What is wrong and what to try, in plain Japanese.
  u16 explanation;
};

// The settings that change what a compile finds.
struct DiagnosticOptions {
  bool replaceSingleQuotes = false;  // "シングルクォートをダブルクォートに置き換え"
  bool asciiNamesOnly = false;       // "半角英数字のみ許可"
  int tabPitch = 16;                 // the console tab pitch (tabs become blanks for the tokenizer)
};

// The window's status-bar text of a diagnostic: "行 3（5 文字目）: " (the line
// as the editor's gutter counts it and the character, both from 1), "注意: "
// before a warning and "参考: " before a note, then the explanation.
u16 diagnostic_status_text(const Diagnostic &d);

// Compiles the program (nothing is registered or run) and returns every
// diagnostic, in order of place; an error, when there is one, first.
std::vector<Diagnostic> program_diagnostics(const language::Language &language, const Lines &program,
                                            const DiagnosticOptions &options = {});
// The same for a whole text, cut into lines by text::split_lines.
std::vector<Diagnostic> program_diagnostics(const language::Language &language, u16view program,
                                            const DiagnosticOptions &options = {});

// ----- for a face that compiles by itself (the compile driver: step mode,
// registration) and must give the same list

// What one compile left behind.
struct CompileRecord {
  const Lines &program;               // the source lines as compiled (after quote replacement)
  const TokenStream &tokens;          // their token stream
  const StatementCompiler &compiler;  // after compile()
  const Lines &messages;              // the compiler's messages, in the order shown
  bool compiled = false;              // what compile() returned
};
std::vector<Diagnostic> compile_diagnostics(const CompileRecord &record);

// "半角英数字のみ許可": the first variable whose name (without its kind mark
// &, % or $) has a character other than an ASCII letter, digit or "_", with
// the source line that first uses it (-1 when no token shows it) ...
std::optional<std::pair<u16, int>> non_ascii_name(const TokenStream &stream);
// ... and the error that refuses the compile for it (nothing when every name is fine).
std::optional<Diagnostic> ascii_names_diagnostic(const TokenStream &stream, const Lines &program);

}  // namespace velmora::compiler

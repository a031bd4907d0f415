#pragma once
// Plain-Japanese explanations of compile errors. The compiler reports a
// failure in its own terms ("Syntax Error", "MATH Syntax Error #[2]"); this
// part finds what a beginner most likely did wrong, where (the line and
// column of the token), and says what to try. One table holds every kind
// with its text and an example; the language guide's "よくあるエラー" is
// generated from it.
#include <vector>

#include "language/language.h"

namespace velmora::compiler {

enum class Failure {
  None,
  MissingSemicolon,
  MissingOperand,
  MissingValue,
  MissingOperator,
  DoubleOperator,
  UnexpectedToken,
  UnclosedString,
  SingleQuote,
  UnclosedParenthesis,
  StrayParenthesis,
  OpenBlock,
  EndWithoutBlock,
  ElseWithoutIf,
  DoubleEquals,
  ReservedName,
  MisspeltKeyword,
  UnknownStatement,
  MissingThen,
  MissingDo,
  ForForm,
  SemicolonAfterThen,
  StringToNumber,
  NumberToString,
  UnknownFunction,
  UndefinedCall,
  DuplicateFunction,
  ConditionArithmetic,
  VectorWithoutSet,
  LibraryRulesOff,
  NonAsciiName,
  FullWidth,
  FunctionArguments,
  TextPlusNumber,
  PercentModulo,
  ConditionFunction,
  DecimalComma,
  CommaInAssignment,
  CurlyQuotes,
  WideSpace,
  StatementNeverRun,
  SemicolonAfterEndfunc,
  PrintExpression,
  NotEqual,
  ConditionParentheses,
  Increment,
  SyntaxError,
  ExpressionError,
  RegistrationFailed,
};

// One finding: what kind, where, and the words its text names.
struct Diagnosis {
  Failure kind = Failure::None;
  bool note = false;  // the program compiles; a likely mistake all the same
  int line = -1;      // 0-based source line; -1 when there is no place
  int column = -1;    // 0-based column in that line
  int length = -1;    // code units of the source it covers from there; -1: those of the word
  u16 word;           // {W} of the text: the token or name concerned
  u16 suggestion;     // {S} of the text: a word meant, when one is guessed
};

struct ExplanationRow {
  Failure kind;
  const char *id;           // a short name (tests, the generated page)
  const char16_t *title;    // the heading of the generated page
  const char16_t *text;     // what is wrong and what to try; {W} and {S} are filled in
  const char16_t *example;  // a program showing the mistake
};

const std::vector<ExplanationRow> &explanation_table();
const ExplanationRow *explanation_row(Failure kind);

// The text of a finding, without its place.
u16 explanation_text(const Diagnosis &d);

// The section "よくあるエラー" of the language guide (Markdown), from the
// table: each example compiled with the language given, with the text it
// gets.
u16 common_errors_markdown(const language::Language &language);

// What stopped a compile, in the compiler's terms.
struct RawFailure {
  enum class Kind { None, Syntax, Expression, Stop, OpenParenthesis, StrayParenthesis };
  Kind kind = Kind::None;
  char16_t group = 0;  // the recogniser's state
  int token = -1;      // index of the token the compiler stood on
};

struct DiagnosisInput {
  const Lines &tokens;              // the token stream as compiled
  const std::vector<int> &columns;  // per token its column (may be empty)
  const language::LanguageTables &tables;
  RawFailure failure;
  std::vector<int> openBlocks;     // head tokens of blocks still open at the end, outermost first
  bool statementLeftOpen = false;  // the last statement's line never came out (no ";")
};

// The findings of a compile: when it failed, the explanation of the failure
// first; notes (likely mistakes of a program that compiles) after it.
std::vector<Diagnosis> diagnose(const DiagnosisInput &input);

}  // namespace velmora::compiler

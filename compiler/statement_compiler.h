#pragma once
// The statement compiler: one object whose state is the compile-time state
// of the recogniser (grammar rules), the rule-driven T-code generator (flow
// control by the code-generation rule table) and the expression compiler
// (arithmetic). The three call into each other inside one statement.
#include <array>

#include "compiler/compile_host.h"
#include "compiler/explanations.h"
#include "compiler/tokenizer.h"
#include "engine/instructions.h"

namespace velmora::compiler {

using engine::Op;

// The T-code text of an instruction's rule code: "022".
inline u16 code_text(Op op) {
  const engine::CodeDigits digits = engine::code_digits(op);
  return u16{char16_t(digits.text[0]), char16_t(digits.text[1]), char16_t(digits.text[2])};
}

struct StateEntry {
  char16_t group;
  int row;
  int field;
  int cursor;
};

class StatementCompiler {
 public:
  static constexpr int kFunctionLevels = 101;

  StatementCompiler(const language::Language &language, CompileHost &host);

  // Start_Compile and Compile_UserProgram over a token stream: resets the
  // compile state, runs the statement loop and reports leftover labels.
  // True when the whole stream was compiled.
  // columns: per token its column in its line (the tokenizer's), for the
  // places of the explanations.
  bool compile(const Lines &tokenStream, bool stepMode = false, const std::vector<int> &columns = {});
  // What the last compile found, in plain Japanese terms: the failure's
  // explanation first when it failed, then notes on likely mistakes.
  const std::vector<Diagnosis> &diagnoses() const { return diagnoses_; }

  // ----- results and state (readable by step-mode displays)
  const Lines &tcode() const { return tcode_; }
  const Lines &tokens() const { return tokens_; }
  const Lines &labelStack() const { return labelStack_; }
  const Lines &termStack() const { return termStack_; }
  const std::vector<StateEntry> &stateStack() const { return states_; }
  const u16 &tokenBuffer() const { return tokenBuffer_; }
  const Lines &operatorStack() const { return ops_; }
  const Lines &operandStack() const { return operands_; }
  int tokenCursor() const { return cursor_; }
  int lastTokenIndex() const { return lastToken_; }
  const u16 &currentLine() const { return curLine_; }
  bool stopped() const { return stop_; }
  bool stepMode = false;

 private:
  const language::Language &lang_;
  const language::LanguageTables &tables_;
  const language::CodeGenRules &rules_;
  CompileHost &host_;

  // ----- token cursor
  Lines tokens_;
  std::vector<int> columns_;
  int cursor_ = -1;
  int lastToken_ = -1;
  u16 curLine_, prevLine_;
  u16 NextToken();
  u16 PeepNextToken() const;
  u16 GetNextToken(int k) const;
  void Insert_Token(const u16 &token);
  void restoreCursor(int cursor);

  // ----- rule cursor and stacks
  int row_ = 0, field_ = 1;
  std::vector<StateEntry> states_;
  Lines termStack_;
  std::vector<int> blockStarts_;  // per term-stack entry: the token that opened it
  RawFailure failure_;
  std::vector<Diagnosis> diagnoses_;
  void recordFailure(RawFailure::Kind kind, char16_t group, int token);
  bool stop_ = false;
  bool stopShown_ = false;
  bool statementDone_ = false;  // the statement's ";" has been consumed
  // Each group's first grammar row, found once per compile.
  std::vector<std::pair<char16_t, int>> firstRows_;
  void LocateState(char16_t group);
  u16 NextSubState();
  static bool isStateChangeCode(u16view item);
  char16_t GetStateCode() const;
  void PushState(char16_t group);
  void PopState(bool restoreTokenCursor = false);
  bool FindTKType(u16view type, int row);
  bool Find_First_SubState(u16view type);
  bool isExpTermination(u16view type) const;
  bool EvalExpression(char16_t group, u16 first);
  bool subPhrase(char16_t s, u16 u, char16_t statementGroup);
  // The rest of the rule on top of the state stack: its terminals are
  // matched and collected, a non-terminal hands over to subPhrase. A token
  // that does not match either leaves the rule to be backtracked (the next
  // row is tried) or is a syntax error.
  enum class OnMismatch { Backtrack, SyntaxError };
  struct RuleEnd {
    bool mismatched = false;  // backtrack: nothing was generated
    bool result = false;
  };
  RuleEnd restOfRule(char16_t statementGroup, OnMismatch onMismatch, bool takeBackAssignments);
  bool expressionList(u16 u, char16_t statementGroup);
  bool closeBlock();
  void compileStop();
  void syntaxError(char16_t group, const u16 &token);
  bool parenthesesBalanced();

  // ----- generation
  Lines tcode_;
  u16 prefix_;
  u16 tokenBuffer_;
  u16 ruleCode_;
  char16_t ruleGroup_ = 0;
  int labelCounter_ = 0;
  Lines labelStack_;
  int andCount_ = 0, orCount_ = 0, falseLabel_ = 0, trueLabel_ = 0;
  bool assignDeferred_ = false;
  int paramCounter_ = 0;
  bool vectorSet_ = false;
  u16 vectorName_;
  void AppendToBuffer(u16view item);
  void Set_TCodeID();
  void Gen_TCode(const u16 &head);
  void Gen_ThisCode(const u16 &text);
  void emitLine(u16view code, u16view items);
  bool Generate_TransferLogic(const u16 &buffer, const u16 &head);
  void runBlock(int row, const u16 &buffer, const u16 &head);
  void Push_LABEL(const u16 &owner);
  void Pop_LABEL_Gen();
  int Pop_Gen_LABEL_GetNumber();
  std::pair<int, int> FindNearestLABEL_GetNumber(u16view owner) const;
  void Swap_Last_Tcode();
  void Gen_True_Label();
  void Push_Flow_Control_Terminator(u16view type);
  void takeBackAssignment();
  void emitDeferred();

  // ----- expressions
  Lines ops_;
  Lines operands_;
  std::vector<std::size_t> operandsAtFunction_;
  int functionLevel_ = -1;
  bool Eval_MathExpress(u16 first);
  bool stackToken(const u16 &token, bool &expectOperand);
  bool reduceBinary();
  bool applyFunction();
  bool closeParenthesis();
  bool completeReduction();
  bool isMathName(u16view item) const;
  void mathError(char16_t group, u16view detail = {});
};

}  // namespace velmora::compiler

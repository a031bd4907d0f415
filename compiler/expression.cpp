// The expression compiler: arithmetic with the usual precedence ("^" above
// "*" and "/", above "+" and "-"; "^" to the right, the others to the
// left), parentheses and math-function calls, compiled into 100 / 102 steps
// on the run-time calculation stack and a closing 005 or 101 line.
#include "compiler/statement_compiler.h"
#include "text/fields.h"

namespace velmora::compiler {

namespace {

u16 type_of(u16view token) { return u16(text::field(token, 0)); }

bool is_binary(u16view op) { return op == u"+" || op == u"-" || op == u"*" || op == u"/" || op == u"^"; }

int precedence(u16view op) {
  if (op == u"^") return 3;
  if (op == u"*" || op == u"/") return 2;
  return 1;
}

bool is_operand_class(u16view type) {
  return type == u"Δ" || type == u"∇" || type == u"xN" || type == u"xNVAR" || type == u"Σ" || type == u"Ω" ||
         type == u"□";
}

// "- operand" folded into the operand.
u16 negated(const u16 &token) {
  u16view type = text::field(token, 0);
  u16 rest = token.substr(std::min(token.size(), type.size() + 1));
  if (type == u"Δ") return u"xN " + rest;
  if (type == u"xN") return u"Δ " + rest;
  if (type == u"xNVAR") return u"∇ " + rest;
  return u"xNVAR " + rest;
}

// An operand as it stands in a 100 line: a computed value fills two items.
u16 operand_text(const u16 &operand) { return operand == u"xPOP" ? u16(u"xPOP xDMY") : operand; }

}  // namespace

bool StatementCompiler::isMathName(u16view item) const { return tables_.isMathFunction(item); }

void StatementCompiler::mathError(char16_t group, u16view detail) {
  recordFailure(RawFailure::Kind::Expression, group, cursor_);
  u16 text = u"MATH Syntax Error #[" + curLine_ + u"] Token => " + u16(1, group);
  if (!detail.empty()) text += u"\r" + u16(detail);
  host_.message(text);
  host_.locateLine(curLine_);
}

bool StatementCompiler::reduceBinary() {
  if (ops_.empty() || !is_binary(ops_.back()) || operands_.size() < 2) return false;
  u16 op = ops_.back();
  ops_.pop_back();
  u16 right = operands_.back();
  operands_.pop_back();
  u16 left = operands_.back();
  operands_.back() = u"xPOP";
  emitLine(code_text(engine::opSTEP), op + u" " + operand_text(left) + u" " + operand_text(right));
  return true;
}

bool StatementCompiler::applyFunction() {
  if (ops_.empty() || !isMathName(ops_.back()) || operandsAtFunction_.empty()) return false;
  // A function takes exactly one argument, which must have been given.
  if (operands_.size() <= operandsAtFunction_.back()) return false;
  u16 name = ops_.back();
  ops_.pop_back();
  operandsAtFunction_.pop_back();
  u16 operand = operands_.back();
  operands_.back() = u"xPOP";
  emitLine(code_text(engine::opMATH), name + u" " + operand);
  --functionLevel_;
  return true;
}

bool StatementCompiler::closeParenthesis() {
  while (!ops_.empty() && is_binary(ops_.back()))
    if (!reduceBinary()) return false;
  if (ops_.empty() || ops_.back() != u"(") return true;  // an unmatched ")" closes nothing
  ops_.pop_back();
  if (!ops_.empty() && isMathName(ops_.back())) return applyFunction();
  return true;
}

bool StatementCompiler::stackToken(const u16 &token, bool &expectOperand) {
  const u16 type = type_of(token);
  if (is_operand_class(type)) {
    if (!expectOperand) return false;
    expectOperand = false;
    operands_.push_back(token);
    return true;
  }
  if (type == u"xMATH" || isMathName(type)) {
    if (!expectOperand) return false;
    if (functionLevel_ + 1 >= kFunctionLevels) return false;
    ++functionLevel_;
    ops_.push_back(type == u"xMATH" ? u16(text::field(token, 1)) : type);
    operandsAtFunction_.push_back(operands_.size());
    return true;
  }
  if (type == u"(") {
    if (!expectOperand) return false;
    ops_.push_back(u"(");
    return true;
  }
  if (type == u")") {
    if (expectOperand) return false;
    return closeParenthesis();
  }
  return false;
}

bool StatementCompiler::Eval_MathExpress(u16 first) {
  ops_.clear();
  operands_.clear();
  operandsAtFunction_.clear();
  functionLevel_ = -1;
  bool expectOperand = true;

  auto belongs = [&](u16view type) {
    return is_binary(type) || type == u"xMATH" || type == u"(" || type == u")" || is_operand_class(type) ||
           isMathName(type);
  };
  // A sign before a number or variable is folded into it: at the start, after
  // "(" and after an operator.
  auto fold_sign = [&](u16view sign, u16 &token) {
    u16 next = GetNextToken(1);
    if ((sign != u"-" && sign != u"+") || !is_operand_class(next) || next == u"Ω" || next == u"□") return false;
    token = NextToken();
    if (sign == u"-") token = negated(token);
    return true;
  };

  u16 token = first;
  if (!fold_sign(type_of(first), token)) token = first;
  if (!stackToken(token, expectOperand)) return false;
  for (;;) {
    u16 type = PeepNextToken();
    if (type.empty() || !belongs(type)) break;
    if (is_binary(type) && !expectOperand) {
      while (
          !ops_.empty() && is_binary(ops_.back()) &&
          (precedence(ops_.back()) > precedence(type) || (precedence(ops_.back()) == precedence(type) && type != u"^")))
        if (!reduceBinary()) return false;
      ops_.push_back(NextToken());
      expectOperand = true;
      continue;
    }
    u16 t = NextToken();
    if (expectOperand && (type == u"-" || type == u"+")) {
      u16 folded;
      if (!fold_sign(type, folded)) return false;
      if (!stackToken(folded, expectOperand)) return false;
      continue;
    }
    if (!stackToken(t, expectOperand)) {
      if (functionLevel_ + 1 >= kFunctionLevels) {
        mathError(u'$', u"数学関数の入れ子は " + text::int16(kFunctionLevels) + u" 段までです");
        stop_ = true;
      }
      return false;
    }
  }
  return completeReduction();
}

bool StatementCompiler::completeReduction() {
  while (!ops_.empty()) {
    const u16 &top = ops_.back();
    if (is_binary(top)) {
      if (!reduceBinary()) return false;
    } else if (top == u"(") {
      ops_.pop_back();  // an unclosed "(" closes at the end
    } else if (isMathName(top)) {
      if (!applyFunction()) return false;
    } else {
      return false;
    }
  }
  if (operands_.size() != 1) return false;
  if (operands_.back() == u"xPOP") emitLine(code_text(engine::opLOAD_VALUE), u"xPOP");
  else emitLine(code_text(engine::opLOAD), operands_.back());
  operands_.clear();
  return true;
}

}  // namespace velmora::compiler

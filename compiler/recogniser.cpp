// The syntax recogniser: the token cursor, the rule cursor and state stack,
// first-fit rule search with backtracking, sub-phrases and the statement
// loop.
#include <algorithm>

#include "compiler/statement_compiler.h"
#include "text/fields.h"

namespace velmora::compiler {

namespace {

// A token line without its line number ("12 ∇ X" gives "∇ X").
u16 without_line(const u16 &line) {
  std::size_t blank = line.find(u' ');
  return blank == u16::npos ? u16() : line.substr(blank + 1);
}

u16 line_of(const u16 &line) { return u16(text::field(line, 0)); }

u16 type_of(u16view token) { return u16(text::field(token, 0)); }

}  // namespace

StatementCompiler::StatementCompiler(const language::Language &language, CompileHost &host)
    : lang_(language), tables_(language.tables), rules_(language.rules), host_(host) {}

// ----- token cursor

u16 StatementCompiler::NextToken() {
  if (stepMode) host_.stepWait(*this);
  if (cursor_ + 1 >= int(tokens_.size())) return {};
  ++cursor_;
  prevLine_ = curLine_;
  curLine_ = line_of(tokens_[std::size_t(cursor_)]);
  lastToken_ = cursor_;
  return without_line(tokens_[std::size_t(cursor_)]);
}

u16 StatementCompiler::PeepNextToken() const { return GetNextToken(1); }

u16 StatementCompiler::GetNextToken(int k) const {
  int i = cursor_ + k;
  if (i < 0 || i >= int(tokens_.size())) return {};
  return type_of(without_line(tokens_[std::size_t(i)]));
}

void StatementCompiler::Insert_Token(const u16 &token) {
  if (cursor_ < 0 || cursor_ >= int(tokens_.size())) return;
  u16 line = line_of(tokens_[std::size_t(cursor_)]);
  tokens_.insert(tokens_.begin() + cursor_, line + u" " + token);
  if (std::size_t(cursor_) < columns_.size())
    columns_.insert(columns_.begin() + cursor_, columns_[std::size_t(cursor_)]);
}

// Backtracking returns the cursor to a phrase's first token; the line
// displays follow it.
void StatementCompiler::restoreCursor(int cursor) {
  cursor_ = cursor;
  curLine_ = cursor >= 0 && cursor < int(tokens_.size()) ? line_of(tokens_[std::size_t(cursor)]) : u16();
  prevLine_ = cursor >= 1 && cursor - 1 < int(tokens_.size()) ? line_of(tokens_[std::size_t(cursor - 1)]) : curLine_;
}

// ----- rule cursor and stacks

void StatementCompiler::LocateState(char16_t group) {
  row_ = 0;
  for (const auto &[g, r] : firstRows_)
    if (g == group) {
      row_ = r;
      break;
    }
  field_ = 1;
}

u16 StatementCompiler::NextSubState() {
  ++field_;
  u16 item = tables_.SbSt(row_, field_);
  if (item == u"|") {
    ++row_;
    field_ = 1;
    item = tables_.SbSt(row_, field_);
  }
  return item;
}

bool StatementCompiler::isStateChangeCode(u16view item) {
  return item == u"#" || item == u"!" || item == u"$" || item == u"☆" || item == u"%" || item == u"@" || item == u"?" ||
         item == u"\\";
}

char16_t StatementCompiler::GetStateCode() const { return states_.empty() ? 0 : states_.back().group; }

void StatementCompiler::PushState(char16_t group) { states_.push_back({group, row_, field_, cursor_}); }

void StatementCompiler::PopState(bool restoreTokenCursor) {
  if (states_.empty()) return;
  StateEntry e = states_.back();
  states_.pop_back();
  row_ = e.row;
  field_ = e.field;
  if (restoreTokenCursor) restoreCursor(e.cursor);
}

bool StatementCompiler::FindTKType(u16view type, int row) {
  bool match = false;
  for (;;) {
    ++field_;
    const u16 &item = tables_.SbSt(row, field_);
    if (item.empty() || item == u"】") break;
    if (item == type) match = true;
  }
  return match;
}

bool StatementCompiler::Find_First_SubState(u16view type) {
  char16_t g = GetStateCode();
  if (!g) {
    stop_ = true;
    return false;
  }
  for (int r = row_; r < tables_.grammarRowCount(); ++r) {
    if (tables_.State_End(r)) return false;
    if (tables_.SttCode(r) != g) continue;
    const u16 &p = tables_.SbSt(r, 1);
    if (p == u"【") {
      field_ = 1;
      if (FindTKType(type, r)) {
        row_ = r;
        return true;
      }
    } else if (p == type) {
      row_ = r;
      field_ = 1;
      return true;
    } else if (isStateChangeCode(p)) {
      row_ = r;
      return false;
    }
  }
  return false;
}

bool StatementCompiler::isExpTermination(u16view type) const {
  if (termStack_.empty()) return type == u";";
  return type == text::field(termStack_.back(), 1);
}

void StatementCompiler::compileStop() {
  stop_ = true;
  if (!stopShown_) {
    stopShown_ = true;
    host_.message(u"COMPILE STOP");
  }
}

void StatementCompiler::recordFailure(RawFailure::Kind kind, char16_t group, int token) {
  if (failure_.kind == RawFailure::Kind::None) failure_ = {kind, group, token};
}

void StatementCompiler::syntaxError(char16_t group, const u16 &token) {
  recordFailure(RawFailure::Kind::Syntax, group, cursor_);
  host_.message(u"Syntax Error \rLine  => " + curLine_ + u"\r" + u"State => " + u16(1, group) + u"\r" + u"Token => " +
                token);
  host_.locateLine(curLine_);
}

// Recognises one phrase of a group, beginning with a token already taken.
bool StatementCompiler::EvalExpression(char16_t g, u16 t) {
  if (stop_) return true;
  const u16 type = type_of(t);
  bool pushedTerm = false;
  for (;;) {
    if (!Find_First_SubState(type)) {
      if (stop_) return true;
      if (isExpTermination(type)) return closeBlock();
      if (g != u'$') syntaxError(g, t);
      return false;
    }
    const std::size_t terms = termStack_.size();
    Push_Flow_Control_Terminator(type);
    pushedTerm = termStack_.size() > terms;
    AppendToBuffer(t);
    PushState(g);
    const RuleEnd end = restOfRule(g, OnMismatch::Backtrack, true);
    if (!end.mismatched) return end.result;
    tokenBuffer_.clear();
    if (pushedTerm && !termStack_.empty()) {
      termStack_.pop_back();
      if (!blockStarts_.empty()) blockStarts_.pop_back();
    }
    PopState(true);
    ++row_;
  }
}

StatementCompiler::RuleEnd StatementCompiler::restOfRule(char16_t statementGroup, OnMismatch onMismatch,
                                                         bool takeBackAssignments) {
  for (;;) {
    if (stop_) return {false, true};
    u16 item = NextSubState();
    if (item.empty()) {
      Set_TCodeID();
      PopState();
      Gen_TCode(u16());
      return {false, true};
    }
    u16 next = NextToken();
    if (isStateChangeCode(item)) {
      // A non-terminal: what was collected is generated first.
      Set_TCodeID();
      Gen_TCode(u16());
      if (takeBackAssignments &&
          (ruleCode_ == code_text(engine::opASSIGN) || ruleCode_ == code_text(engine::opASSIGN_OP)))
        takeBackAssignment();
      return {false, subPhrase(item[0], next, statementGroup)};
    }
    u16 nt = type_of(next);
    if (!next.empty() && (nt == item || (item == u"【" && FindTKType(nt, row_)))) {
      AppendToBuffer(next);
      continue;
    }
    if (onMismatch == OnMismatch::Backtrack) return {true, false};
    syntaxError(statementGroup, next);
    PopState();
    return {false, false};
  }
}

// The non-terminal s of the rule on top of the state stack, starting at u.
// Returns the phrase's result; the rule is complete when it returns.
bool StatementCompiler::subPhrase(char16_t s, u16 u, char16_t statementGroup) {
  const std::size_t blockDepth = termStack_.size();
  for (;;) {
    PushState(s);
    LocateState(s);
    if (stop_) {
      PopState();
      PopState();
      compileStop();
      return true;
    }
    if (s == u'$') {
      PopState();
      PopState();  // the rule's entry: the expression list ends the rule
      return expressionList(u, statementGroup);
    }
    bool r = EvalExpression(s, u);
    PopState();
    switch (s) {
      case u'!':
      case u'\\': {
        if (!r) {
          PopState();
          return false;
        }
        return restOfRule(statementGroup, OnMismatch::SyntaxError, false).result;
      }
      case u'#': {
        if (!r) {
          PopState();
          return false;
        }
        statementDone_ = false;
        // The block this statement sequence belongs to has been closed.
        if (termStack_.size() < blockDepth || stop_) {
          PopState();
          return true;
        }
        u = NextToken();
        if (u.empty() || type_of(u) == u";") {
          assignDeferred_ = false;
          PopState();
          return true;
        }
        continue;  // the next statement of the same block
      }
      case u'@':
      case u'?':
      case u'%': {
        if (!r) {
          PopState();
          return false;
        }
        if (statementDone_ || stop_) {
          PopState();
          return true;
        }
        u = NextToken();
        if (u.empty()) {
          PopState();
          return true;
        }
        if (type_of(u) == u";") {
          emitDeferred();
          statementDone_ = true;
          PopState();
          return true;
        }
        continue;  // another phrase of the same group (a join or an option)
      }
      case u'☆': {
        vectorSet_ = false;
        PopState();
        if (!r) return false;
        Swap_Last_Tcode();
        // The vector phrase ends the statement: its ";" is taken here, also
        // inside a block.
        if (PeepNextToken() == u";") {
          NextToken();
          statementDone_ = true;
        }
        return true;
      }
      default: PopState(); return r;
    }
  }
}

// The "$" non-terminal: one expression, or several separated by ",", ended
// by ";" or ">".
bool StatementCompiler::expressionList(u16 u, char16_t statementGroup) {
  for (;;) {
    PushState(u'$');
    LocateState(u'$');
    bool r = EvalExpression(u'$', u);
    PopState();
    if (stop_) {
      compileStop();
      return true;
    }
    if (!r) {
      u16 first = u;
      if (type_of(u) == u"-") {
        Insert_Token(u"Δ 0");
        first = u"Δ 0";
      }
      const std::size_t before = tcode_.size();
      if (!Eval_MathExpress(first) || tcode_.size() == before) {
        mathError(statementGroup);
        return false;
      }
    }
    u16 next = PeepNextToken();
    if (next == u";" || next == u">") {
      if (vectorSet_) emitLine(code_text(engine::opVECTOR_COMPONENT_SET), u"xVECTCO " + vectorName_ + u" 1 =");
      if (paramCounter_ > 0) {
        emitLine(code_text(engine::opPARAMETER), u"xPR " + text::int16(paramCounter_));
        emitLine(code_text(engine::opPARAMETER), u"xPR " + text::int16(-(paramCounter_ + 1)));
        paramCounter_ = 0;
      }
      emitDeferred();
      vectorSet_ = false;
      NextToken();
      statementDone_ = true;
      return true;
    }
    if (next == u",") {
      emitLine(code_text(engine::opPARAMETER), u"xPR " + text::int16(paramCounter_));
      ++paramCounter_;
      NextToken();
      u = NextToken();
      continue;
    }
    if (!tcode_.empty()) tcode_.pop_back();
    recordFailure(RawFailure::Kind::Stop, u'$', cursor_);
    compileStop();
    return true;
  }
}

bool StatementCompiler::closeBlock() {
  if (termStack_.empty()) return true;  // a ";" with no open block closes nothing
  u16 entry = termStack_.back();
  termStack_.pop_back();
  if (!blockStarts_.empty()) blockStarts_.pop_back();
  u16 head(text::field(entry, 0)), terminator(text::field(entry, 1));
  const u16 &endWord = rules_.endFunctionWord();
  if (endWord.empty() || terminator.find(endWord) == u16::npos) {
    AppendToBuffer(code_text(engine::opBLOCK_CLOSE) + u" " + terminator);
    ruleCode_.clear();
    ruleGroup_ = u'#';
    Gen_TCode(head);
  } else {
    tokenBuffer_.clear();
    ruleCode_ = code_text(engine::opRET);
    ruleGroup_ = u'#';
    prefix_ = u16(5 - std::min<std::size_t>(5, prevLine_.size()), u'0') + prevLine_ + u" ";
    tcode_.push_back(prefix_ + code_text(engine::opRET) + u" ");
  }
  return true;
}

// Every "(" of a statement needs its ")" before the statement's ";" and no
// ")" may come before its "(". The arithmetic compiler alone would close an
// open "(" at the end and pass over a stray ")", giving a wrong value
// silently; the grammar's own rules always pair their parentheses, so the
// count over each statement is exact. "(=" and "=)" are other tokens.
bool StatementCompiler::parenthesesBalanced() {
  int depth = 0;
  int open = -1;
  auto fail = [&](int index, const u16 &token) {
    curLine_ = u16(text::field(tokens_[std::size_t(index)], 0));
    recordFailure(token == u"(" ? RawFailure::Kind::OpenParenthesis : RawFailure::Kind::StrayParenthesis, u'$', index);
    syntaxError(u'$', token);
    return false;
  };
  for (int i = 0; i < int(tokens_.size()); ++i) {
    u16view type = text::field(tokens_[std::size_t(i)], 1);
    if (type == u"(") {
      if (depth++ == 0) open = i;
    } else if (type == u")") {
      if (--depth < 0) return fail(i, u")");
    } else if (type == u";") {
      if (depth > 0) return fail(open, u"(");
      depth = 0;
    }
  }
  if (depth > 0) return fail(open, u"(");
  return true;
}

bool StatementCompiler::compile(const Lines &tokenStream, bool step, const std::vector<int> &columns) {
  tokens_ = tokenStream;
  columns_ = columns;
  columns_.resize(tokens_.size(), -1);
  blockStarts_.clear();
  failure_ = RawFailure{};
  diagnoses_.clear();
  stepMode = step;
  cursor_ = lastToken_ = -1;
  curLine_.clear();
  prevLine_.clear();
  states_.clear();
  termStack_.clear();
  tcode_.clear();
  labelStack_.clear();
  tokenBuffer_.clear();
  ruleCode_.clear();
  labelCounter_ = andCount_ = orCount_ = falseLabel_ = trueLabel_ = paramCounter_ = 0;
  assignDeferred_ = vectorSet_ = stop_ = stopShown_ = statementDone_ = false;
  ops_.clear();
  operands_.clear();
  // The first row of each group, as LocateState finds it, once per compile
  // (the grammar may have been rebuilt since the last one).
  firstRows_.clear();
  for (int r = 0; r < tables_.grammarRowCount(); ++r) {
    const char16_t g = tables_.SttCode(r);
    if (std::none_of(firstRows_.begin(), firstRows_.end(), [g](const auto &e) { return e.first == g; }))
      firstRows_.emplace_back(g, r);
  }

  if (!parenthesesBalanced()) {
    diagnoses_ = diagnose({tokens_, columns_, tables_, failure_, {}, false});
    return false;
  }
  LocateState(u'#');
  PushState(u'#');
  bool failed = false;
  for (;;) {
    u16 t = NextToken();
    if (t.empty()) break;
    statementDone_ = false;
    if (!EvalExpression(u'#', t)) {
      failed = true;
      break;
    }
    if (stop_) break;
    PopState();
    LocateState(u'#');
    PushState(u'#');
  }
  states_.clear();
  bool ok = !failed && !stop_ && cursor_ + 1 >= int(tokens_.size());
  if (!labelStack_.empty())
    host_.message(u"事象：ラベル残存(" + labelStack_.back() + u")" + u"\r" + u"⇒記述ルール定義の対象外");
  if (!ok) recordFailure(RawFailure::Kind::Stop, u'$', cursor_);
  const bool lineLeftOpen = !labelStack_.empty() && labelStack_.back().substr(0, 2) != u"L_";
  diagnoses_ = diagnose({tokens_, columns_, tables_, ok ? RawFailure{} : failure_,
                         ok ? blockStarts_ : std::vector<int>{}, ok && lineLeftOpen});
  return ok;
}

}  // namespace velmora::compiler

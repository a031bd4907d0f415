// Rule-driven T-code generation: the token buffer, emission with the
// line-number prefix and assignment deferral, the flow test and the blocks
// of the code-generation rule table, and the label stack.
#include <algorithm>

#include "compiler/statement_compiler.h"
#include "text/fields.h"

namespace velmora::compiler {

namespace {

bool contains(u16view text, u16view part) { return !part.empty() && text.find(part) != u16view::npos; }

// Instruction codes whose line is deferred to the end of the statement: it
// stores a value that the following code computes.
bool is_deferred_code(u16view code) {
  for (const engine::InstructionRow &row : engine::kInstructionRows)
    if ((row.flags & engine::ifDeferred) && code == code_text(Op(row.code))) return true;
  return false;
}

// The number after "L_" in the first item of a label-stack entry; 0 if none.
int label_number(u16view entry) {
  u16view first = text::field(entry, 0);
  int n = 0;
  if (first.substr(0, 2) != u"L_" || !text::parse_int(first.substr(2), n)) return 0;
  return n;
}

// "Ω" and a double quote: the statement holds a string constant.
bool holds_string(u16view t) { return contains(t, u"Ω") && contains(t, u"\""); }

}  // namespace

void StatementCompiler::AppendToBuffer(u16view item) {
  if (tokenBuffer_.empty() || tokenBuffer_ == u" ") tokenBuffer_ = u16(item);
  else tokenBuffer_ += u" " + u16(item);
}

void StatementCompiler::Set_TCodeID() {
  // The head row of the rule, also when the pattern continued on later rows.
  int r = row_;
  while (r > 0) {
    const Lines &prev = tables_.row(r - 1);
    if (prev.empty() || prev.back() != u"|") break;
    --r;
  }
  ruleCode_ = tables_.ruleCode(r);
  ruleGroup_ = tables_.SttCode(r);
}

void StatementCompiler::Gen_TCode(const u16 &head) {
  u16 t = std::move(tokenBuffer_);
  tokenBuffer_.clear();
  const u16 code = ruleCode_;
  int numeric = -1;
  text::parse_int(code, numeric);
  if (numeric >= 0 && engine::has_flag(numeric, engine::ifOperatorFirst)) {
    std::vector<u16view> f = text::split_fields(t);
    auto item = [&](std::size_t n) { return n < f.size() ? u16(f[n]) : u16(); };
    t = u" " + item(2) + u" " + item(0) + u" " + item(1) + u" " + item(3) + u" " + item(4);
  }
  if (t.empty() || t == u";" || (code == code_text(engine::opVECTOR_COMPONENT_SET) && t == u",")) return;
  prefix_ = u16(5 - std::min<std::size_t>(5, prevLine_.size()), u'0') + prevLine_ + u" ";
  u16view first = text::field(t, 0);
  for (const u16 &command : tables_.commands) {
    if (contains(first, command)) {
      Gen_ThisCode(code + u" " + t);
      return;
    }
  }
  // Operator words of scalar rules (AND, OR between numbers) are not flow
  // keywords.
  if (ruleGroup_ != u'$' && Generate_TransferLogic(t, head)) {
    const u16 &setWord = rules_.vectorSetWord();
    if (contains(t, setWord) && contains(t, u"xVECTVAR") && contains(t, u"=")) {
      vectorSet_ = true;
      vectorName_ = u16(text::field(t, 2));
    }
    return;
  }
  Gen_ThisCode(code + u" " + t);
}

void StatementCompiler::emitLine(u16view code, u16view items) {
  ruleCode_ = u16(code);
  ruleGroup_ = u'$';  // lines of the expression compiler are never flow control
  tokenBuffer_ = u16(items);
  Gen_TCode(u16());
}

void StatementCompiler::Gen_ThisCode(const u16 &text) {
  if (!assignDeferred_ && is_deferred_code(text::field(text, 0))) {
    assignDeferred_ = true;
    paramCounter_ = 0;
    labelStack_.push_back(text);
    return;
  }
  tcode_.push_back(prefix_ + text);
}

bool StatementCompiler::Generate_TransferLogic(const u16 &t, const u16 &head) {
  if (holds_string(t)) return false;
  std::vector<u16view> items = text::split_fields(t);
  u16view first = items.empty() ? u16view() : items[0];
  if (first == u"+" || first == u"-" || first == u"*" || first == u"/") return false;
  bool flow = false;
  const Lines &keywords = rules_.keywords();
  for (std::size_t k = 0; k < keywords.size() && k < std::size_t(language::CodeGenRules::kMaxKeywords) && !flow; ++k) {
    const u16 &kw = keywords[k];
    if (!contains(t, kw)) continue;
    bool inName = false;
    for (std::size_t i = 0; i + 1 < items.size(); ++i)
      if ((items[i] == u"∇" || items[i] == u"Σ" || items[i] == u"□") && contains(items[i + 1], kw)) inName = true;
    if (!inName) flow = true;
  }
  if (!flow) return false;
  for (int r = 0; r < language::CodeGenRules::kUsableRows; ++r) {
    if (rules_.cell(r, 0) != u"*TKBUF=)" || !contains(t, rules_.cell(r, 1))) continue;
    runBlock(r + 1, t, head);
    return true;
  }
  return false;
}

void StatementCompiler::runBlock(int row, const u16 &t, const u16 &head) {
  std::vector<u16view> items = text::split_fields(t);
  auto buffer_item = [&](int n) { return n >= 0 && n < int(items.size()) ? u16(items[std::size_t(n)]) : u16(); };
  int kept = 0;
  for (; row < language::CodeGenRules::kUsableRows; ++row) {
    const language::CodeGenRules::Row &cells = rules_.row(row);
    const u16 &directive = cells[0];
    if (directive.empty()) continue;
    if (directive == u"*HT") {
      if (cells[1] == head) {
        ++row;  // the "[" line; the rows inside run as part of the block
      } else {
        while (row < language::CodeGenRules::kUsableRows - 1 && rules_.cell(row, 0) != u"]") ++row;
      }
      continue;
    }
    if (directive == u"/STOP/") return;

    u16 text;
    bool joinNext = false;
    auto append = [&](const u16 &x) {
      if (!text.empty() && !joinNext) text += u" ";
      text += x;
      joinNext = false;
    };
    for (int c = 1; c < language::CodeGenRules::kCells; ++c) {
      const u16 &item = cells[std::size_t(c)];
      if (item.empty()) break;
      int n = 0;
      if (item[0] == u'%' && text::parse_int(u16view(item).substr(1), n)) {
        append(buffer_item(n));
      } else if (contains(item, u"*NS")) {
        joinNext = true;
      } else if (contains(item, u"*LC+")) {
        text::parse_int(u16view(item).substr(item.find(u"*LC+") + 4), n);
        append(text::int16(labelCounter_ + n));
      } else if (contains(item, u"*FL+")) {
        if (andCount_ == 1 && text::parse_int(u16view(item).substr(item.find(u"*FL+") + 4), n))
          falseLabel_ = labelCounter_ + n;
      } else if (contains(item, u"*FL")) {
        if (andCount_ == 1) ++falseLabel_;
        append(text::int16(falseLabel_));
      } else if (contains(item, u"*TL+")) {
        if (orCount_ == 1 && text::parse_int(u16view(item).substr(item.find(u"*TL+") + 4), n))
          trueLabel_ = labelCounter_ + n;
      } else if (contains(item, u"*TL")) {
        if (orCount_ == 1) ++trueLabel_;
        append(text::int16(trueLabel_));
      } else if (contains(item, u"*NLN")) {
        int bestIndex = -1, bestNumber = -1;
        for (int w = 1; w <= 3; ++w) {
          const u16 &owner = rules_.cell(row, c + w);
          if (owner.empty()) continue;
          auto [index, number] = FindNearestLABEL_GetNumber(owner);
          if (index > bestIndex) {
            bestIndex = index;
            bestNumber = number;
          }
        }
        kept = bestNumber;
        append(text::int16(kept));
      } else if (contains(item, u"*LN")) {
        append(text::int16(kept));
      } else if (item[0] == u'*') {
        // other parameter words act only through their side effects
      } else {
        append(item);
      }
    }

    if (directive == u"*GEN") Gen_ThisCode(text);
    else if (directive == u"*SWP") Swap_Last_Tcode();
    else if (directive == u"*PUC") labelStack_.push_back(text);
    else if (directive == u"*IPL") Push_LABEL(text);
    else if (directive == u"*PLG") Pop_LABEL_Gen();
    else if (directive == u"*PLGLN") kept = Pop_Gen_LABEL_GetNumber();
    else if (directive == u"*DECLC") --labelCounter_;
    else if (directive == u"*CAND") andCount_ = 0;
    else if (directive == u"*IAND") ++andCount_;
    else if (directive == u"*COR") orCount_ = 0;
    else if (directive == u"*IOR") ++orCount_;
    else if (directive == u"*GTL") Gen_True_Label();
  }
}

void StatementCompiler::Push_LABEL(const u16 &owner) {
  ++labelCounter_;
  labelStack_.push_back(u"L_" + text::int16(labelCounter_) + u" " + owner);
}

void StatementCompiler::Pop_LABEL_Gen() {
  if (labelStack_.empty()) return;
  u16 top = labelStack_.back();
  labelStack_.pop_back();
  Gen_ThisCode(top);
}

int StatementCompiler::Pop_Gen_LABEL_GetNumber() {
  if (labelStack_.empty()) return 0;
  int n = label_number(labelStack_.back());
  labelStack_.pop_back();
  return n;
}

std::pair<int, int> StatementCompiler::FindNearestLABEL_GetNumber(u16view owner) const {
  for (int i = int(labelStack_.size()) - 1; i >= 0; --i)
    if (text::field(labelStack_[std::size_t(i)], 1) == owner) return {i, label_number(labelStack_[std::size_t(i)])};
  return {-1, -1};
}

void StatementCompiler::Swap_Last_Tcode() {
  if (tcode_.size() < 2) return;
  std::swap(tcode_[tcode_.size() - 1], tcode_[tcode_.size() - 2]);
}

void StatementCompiler::Gen_True_Label() {
  if (trueLabel_ != 0) Gen_ThisCode(u"L_" + text::int16(trueLabel_));
  orCount_ = 0;
  trueLabel_ = 0;
}

void StatementCompiler::Push_Flow_Control_Terminator(u16view type) {
  const auto &pairs = rules_.pairs();
  for (std::size_t i = 0; i < pairs.size() && i < std::size_t(language::CodeGenRules::kMaxPairs); ++i)
    if (pairs[i].head == type) {
      termStack_.push_back(pairs[i].head + u" " + pairs[i].terminator);
      blockStarts_.push_back(cursor_);
      return;
    }
}

// A scalar assignment line waits until the expression after it is compiled.
void StatementCompiler::takeBackAssignment() {
  if (tcode_.empty()) return;
  u16 line = tcode_.back();
  tcode_.pop_back();
  labelStack_.push_back(line.size() > 6 ? line.substr(6) : u16());
  assignDeferred_ = true;
  paramCounter_ = 0;
}

// The line deferred by this statement, if any, comes out now.
void StatementCompiler::emitDeferred() {
  if (assignDeferred_ && !labelStack_.empty()) {
    u16 line = labelStack_.back();
    labelStack_.pop_back();
    tcode_.push_back(prefix_ + line);
  }
  assignDeferred_ = false;
}

}  // namespace velmora::compiler

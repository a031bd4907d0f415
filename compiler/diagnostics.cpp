#include "compiler/diagnostics.h"

#include <algorithm>
#include <set>

#include "compiler/explanations.h"
#include "compiler/statement_compiler.h"
#include "compiler/tokenizer.h"
#include "engine/types.h"
#include "text/fields.h"
#include "text/lines.h"

namespace velmora::compiler {

namespace {

const u16view kLabelLeft = u"事象：ラベル残存(";

// The source length of the text at a place, kept inside its line.
int span(const Lines &program, int line, int column, std::size_t length) {
  if (line < 0 || std::size_t(line) >= program.size() || column < 0) return int(length);
  const std::size_t size = program[std::size_t(line)].size();
  return std::size_t(column) >= size ? 0 : int(std::min(length, size - std::size_t(column)));
}

// The column of the first token of a line, 0 when the line has none.
int first_column(const TokenStream &tokens, int line) {
  for (std::size_t i = 0; i < tokens.tokens.size(); ++i) {
    int n = -1;
    if (text::parse_int(text::field(tokens.tokens[i], 0), n) && n == line)
      return i < tokens.columns.size() ? std::max(tokens.columns[i], 0) : 0;
  }
  return 0;
}

// The source line of a T-code line (its five-digit prefix).
int tcode_line(u16view line) {
  int n = 0;
  return text::parse_int(text::field(line, 0), n) ? n : 0;
}

// The first label or function the T-code defines twice, as the loader says
// it when it refuses the program ("関数・ラベル多重定義: --> 1"); empty when none.
u16 duplicate_definition(const Lines &tcode) {
  std::set<u16view> names;
  for (const u16 &line : tcode) {
    u16view instruction = u16view(line).substr(std::min<std::size_t>(6, line.size()));
    if (instruction.substr(0, 2) != u"L_" && instruction.substr(0, 2) != u"F_") continue;
    u16view name = text::field(instruction, 0);
    if (!names.insert(name).second) return u"関数・ラベル多重定義: --> " + u16(name.substr(2));
  }
  return {};
}

Diagnostic from_diagnosis(const Diagnosis &d, const Lines &program) {
  Diagnostic out;
  out.severity = d.note ? Severity::Warning : Severity::Error;
  out.line = std::max(d.line, 0);
  out.column = std::max(d.column, 0);
  const ExplanationRow *row = explanation_row(d.kind);
  out.id = row ? row->id : "";
  out.explanation = explanation_text(d);
  // A missing ";" is a point between two characters; anything else covers
  // the tokens it names.
  out.length = d.line < 0 || d.column < 0
                   ? 0
                   : span(program, out.line, out.column, d.length >= 0 ? std::size_t(d.length) : d.word.size());
  return out;
}

// Limits a program compiles with but meets only when it is registered or
// run: a name longer than the variable table keeps (cut, so never found),
// more timer names than there are timers; and, refused when the program is
// registered (errors), more records than the execution point reaches or
// more labels than the label table holds.
std::vector<Diagnostic> limit_warnings(const TokenStream &tokens, const Lines &tcode, const Lines &program) {
  std::vector<Diagnostic> out;
  auto warn = [&](const char *id, int line, int column, int length, u16 message, u16 explanation,
                  Severity severity = Severity::Warning) {
    Diagnostic d;
    d.severity = severity;
    d.id = id;
    d.line = line;
    d.column = column;
    d.length = span(program, line, column, std::size_t(std::max(length, 0)));
    d.message = std::move(message);
    d.explanation = std::move(explanation);
    out.push_back(std::move(d));
  };
  for (const Lines *names : {&tokens.userSymbols, &tokens.sharedNames})
    for (const u16 &name : *names) {
      if (name.size() <= std::size_t(engine::kNameLength)) continue;
      int line = 0, column = 0;
      for (std::size_t i = 0; i < tokens.tokens.size(); ++i)
        if (text::field(tokens.tokens[i], 2) == u16view(name)) {
          text::parse_int(text::field(tokens.tokens[i], 0), line);
          column = i < tokens.columns.size() ? std::max(tokens.columns[i], 0) : 0;
          break;
        }
      const u16 limit = text::int16(engine::kNameLength);
      warn("long-name", line, column, int(name.size()),
           u"変数名が " + limit + u" 文字を超える: " + name + u"（実行時に変数未定義となる）",
           u"変数名 " + name + u" は長すぎます。名前は " + limit +
               u" 文字までしか覚えられないので、実行すると「変数未定義」で止まります。" + limit +
               u" 文字以内の名前にしてください。");
    }
  long maxLabel = 0;
  int maxLabelLine = 0;
  std::set<u16> timerNames;
  int timerLine = -1;
  long records = 0;
  for (const u16 &line : tcode) {
    u16view op = text::field(line, 1);
    if (!op.empty()) ++records;  // every line the compiler writes is one record of the loaded program
    if (op.substr(0, 2) == u"L_") {
      long n = 0;
      for (char16_t c : op.substr(2)) n = c >= u'0' && c <= u'9' ? std::min(n * 10 + (c - u'0'), 1L << 30) : n;
      if (n > maxLabel) {
        maxLabel = n;
        maxLabelLine = tcode_line(line);
      }
    } else if (int code = 0; text::parse_int(op, code) && code == engine::opTIMER_SET) {
      if (timerNames.insert(u16(text::field(line, 4))).second && timerNames.size() == std::size_t(engine::kTimers) + 1)
        timerLine = tcode_line(line);
    }
  }
  if (maxLabel >= engine::kLabels - 1)
    warn("too-many-labels", maxLabelLine, first_column(tokens, maxLabelLine), 0,
         u"ラベル数 " + text::int16(maxLabel) + u" が上限 " + text::int16(engine::kLabels - 1) +
             u" を超える（リンクできない）",
         u"IF・WHILE・FOR・EACH が多すぎて、ジャンプ先のラベルが上限 " + text::int16(engine::kLabels - 1) +
             u" を超えます（この行まで）。このままでは実行できません。プログラムを分けるか、繰り返しをまとめてください"
             u"。",
         Severity::Error);
  if (records > engine::kMaxRecords)
    warn("too-long", 0, 0, 0,
         u"中間コード " + text::int16(records) + u" 行が上限 " + text::int16(engine::kMaxRecords) +
             u" 行を超える（実行できない）",
         u"プログラムが長すぎます。中間コードが " + text::int16(records) + u" 行になり、実行位置の数えられる上限 " +
             text::int16(engine::kMaxRecords) +
             u" 行を超えるので、タスクスロットに登録できません。プログラムを分けてください。",
         Severity::Error);
  if (timerLine >= 0)
    warn("too-many-timers", timerLine, first_column(tokens, timerLine), 0,
         u"タイマー名 " + text::int16(long(timerNames.size())) + u" 個が上限 " + text::int16(engine::kTimers) +
             u" 個を超える（超えた分の TIMER SET は無視される）",
         u"タイマーは " + text::int16(engine::kTimers) +
             u" 個までです。この TIMER SET から先の新しいタイマーは無視されます。");
  return out;
}

// Full-width blanks between the words of a line, outside strings and
// comments: the tokenizer reads each as two blanks, so "A　B" is two names.
// The indentation and the end of a line are left alone.
std::vector<Diagnostic> wide_spaces(const Lines &program) {
  std::vector<Diagnostic> out;
  for (std::size_t n = 0; n < program.size(); ++n) {
    const u16 &line = program[n];
    if (line.size() >= 2 && line[0] == u'/' && line[1] == u'/') continue;
    bool inString = false, text = false, followed = false;
    int pending = -1;
    for (std::size_t k = 0; k < line.size(); ++k) {
      const char16_t c = line[k];
      if (!inString && c == u'/' && k + 1 < line.size() && line[k + 1] == u'/') break;
      if (c == u'\u3000' && !inString) {
        if (text && pending < 0) pending = int(k);
        continue;
      }
      if (c == u' ' || c == u'\t') continue;
      if (pending >= 0) {  // a word follows it
        followed = true;
        break;
      }
      if (c == u'"') inString = !inString;
      text = true;
    }
    if (!followed) continue;
    Diagnosis d;
    d.kind = Failure::WideSpace;
    d.note = true;
    d.line = int(n);
    d.column = pending;
    d.length = 1;
    out.push_back(from_diagnosis(d, program));
  }
  return out;
}

// Warnings after an error, the rest by place.
void order(std::vector<Diagnostic> &list) {
  std::stable_sort(list.begin(), list.end(), [](const Diagnostic &a, const Diagnostic &b) {
    if ((a.severity == Severity::Error) != (b.severity == Severity::Error)) return a.severity == Severity::Error;
    return std::pair(a.line, a.column) < std::pair(b.line, b.column);
  });
}

}  // namespace

const char *severity_name(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Note: return "note";
  }
  return "error";
}

u16 diagnostic_status_text(const Diagnostic &d) {
  return u"行 " + text::int16(d.line + 1) + u"（" + text::int16(d.column + 1) + u" 文字目）: " +
         (d.severity == Severity::Warning ? u"注意: "
          : d.severity == Severity::Note  ? u"参考: "
                                          : u"") +
         d.explanation;
}

std::optional<std::pair<u16, int>> non_ascii_name(const TokenStream &stream) {
  auto allowed = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_';
  };
  for (const Lines *names : {&stream.userSymbols, &stream.sharedNames})
    for (const u16 &name : *names) {
      // The kind marks of list, matrix and vector variables are no part of the name.
      u16view bare = name;
      if (!bare.empty() && (bare[0] == u'&' || bare[0] == u'%' || bare[0] == u'$')) bare.remove_prefix(1);
      if (std::all_of(bare.begin(), bare.end(), allowed)) continue;
      // The first line that uses it: the line number of its first token.
      int line = -1;
      for (const u16 &token : stream.tokens)
        if (text::field(token, 2) == u16view(name)) {
          text::parse_int(text::field(token, 0), line);
          break;
        }
      return std::pair{name, line};
    }
  return std::nullopt;
}

std::optional<Diagnostic> ascii_names_diagnostic(const TokenStream &stream, const Lines &program) {
  auto bad = non_ascii_name(stream);
  if (!bad) return std::nullopt;
  Diagnosis d;
  d.kind = Failure::NonAsciiName;
  d.word = bad->first;
  d.line = bad->second;
  for (std::size_t i = 0; i < stream.tokens.size() && i < stream.columns.size(); ++i)
    if (text::field(stream.tokens[i], 2) == u16view(bad->first)) {
      d.column = stream.columns[i];
      break;
    }
  Diagnostic out = from_diagnosis(d, program);
  out.message = u"変数名は半角英数字のみ: " + bad->first;
  return out;
}

std::vector<Diagnostic> compile_diagnostics(const CompileRecord &record) {
  const Lines &program = record.program;
  std::vector<Diagnostic> out;
  const std::vector<Diagnosis> &found = record.compiler.diagnoses();
  u16 labelLeft;
  for (const u16 &m : record.messages)
    if (u16view(m).substr(0, kLabelLeft.size()) == kLabelLeft) labelLeft = m;
  if (!record.compiled) {
    // The failure's explanation, with the compiler's first word on it; the
    // slips of the text as warnings beside it.
    if (!found.empty()) {
      for (const Diagnosis &d : found) out.push_back(from_diagnosis(d, program));
      out.front().severity = Severity::Error;
    } else {
      Diagnosis d;
      d.kind = Failure::SyntaxError;
      out.push_back(from_diagnosis(d, program));
    }
    for (const u16 &m : record.messages)
      if (u16view(m).substr(0, kLabelLeft.size()) != kLabelLeft) {
        out.front().message = m;
        break;
      }
    for (Diagnostic &d : wide_spaces(program)) out.push_back(std::move(d));
    order(out);
    return out;
  }
  // A label or function defined twice: the loader refuses the program, for
  // the likely mistake that made the second one when there is one.
  const u16 duplicate = duplicate_definition(record.compiler.tcode());
  const Diagnosis *refused = nullptr;
  if (!duplicate.empty()) {
    for (const Diagnosis &d : found)
      if (d.kind == Failure::DuplicateFunction || d.kind == Failure::MissingDo || d.kind == Failure::MissingThen) {
        refused = &d;
        break;
      }
    Diagnosis general;
    general.kind = Failure::RegistrationFailed;
    general.word = duplicate;
    Diagnostic error = from_diagnosis(refused ? *refused : general, program);
    error.severity = Severity::Error;
    error.message = duplicate;
    out.push_back(std::move(error));
  }
  bool labelShown = false;
  for (const Diagnosis &d : found) {
    if (&d == refused) continue;
    out.push_back(from_diagnosis(d, program));
    // The open block, or the last statement without its ";", is what leaves
    // a label behind.
    if (!labelShown && !labelLeft.empty() &&
        (d.kind == Failure::OpenBlock || d.kind == Failure::StatementNeverRun || d.kind == Failure::MissingOperand)) {
      out.back().message = labelLeft;
      labelShown = true;
    }
  }
  if (!labelShown && !labelLeft.empty()) {
    Diagnostic d;
    d.severity = Severity::Warning;
    d.id = "label-left";
    const int last = int(record.tokens.tokens.size()) - 1;
    if (last >= 0) {
      text::parse_int(text::field(record.tokens.tokens[std::size_t(last)], 0), d.line);
      d.column =
          std::size_t(last) < record.tokens.columns.size() ? std::max(record.tokens.columns[std::size_t(last)], 0) : 0;
    }
    d.message = labelLeft;
    d.explanation = u"コンパイルのあとに閉じていないブロックか文が残りました（" +
                    labelLeft.substr(kLabelLeft.size(), labelLeft.find(u')') - kLabelLeft.size()) +
                    u"）。IF・WHILE・FOR・EACH の END と文の終わりの ; を確かめてください。";
    out.push_back(std::move(d));
  }
  for (Diagnostic &d : limit_warnings(record.tokens, record.compiler.tcode(), program)) out.push_back(std::move(d));
  for (Diagnostic &d : wide_spaces(program)) out.push_back(std::move(d));
  // An error first (registration refuses the program), then by place.
  order(out);
  return out;
}

namespace {

struct RecordingHost : CompileHost {
  Lines messages;
  void message(const u16 &text) override { messages.push_back(text); }
};

}  // namespace

std::vector<Diagnostic> program_diagnostics(const language::Language &language, const Lines &source,
                                            const DiagnosticOptions &options) {
  Lines program = source;
  if (options.replaceSingleQuotes)
    for (u16 &line : program) std::replace(line.begin(), line.end(), u'\'', u'"');
  TokenizeOptions o;
  o.tabPitch = options.tabPitch;
  RecordingHost host;
  Tokenizer tokenizer(language);
  const TokenStream tokens = tokenizer.Make_Token_From_Text(program, o, [&host](const u16 &m) { host.message(m); });
  if (options.asciiNamesOnly)
    if (auto d = ascii_names_diagnostic(tokens, program)) return {*d};
  StatementCompiler compiler(language, host);
  const bool compiled = compiler.compile(tokens.tokens, false, tokens.columns);
  return compile_diagnostics({program, tokens, compiler, host.messages, compiled});
}

std::vector<Diagnostic> program_diagnostics(const language::Language &language, u16view program,
                                            const DiagnosticOptions &options) {
  return program_diagnostics(language, text::split_lines(program), options);
}

}  // namespace velmora::compiler

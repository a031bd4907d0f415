#include "compiler/explanations.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "compiler/diagnostics.h"
#include "compiler/statement_compiler.h"
#include "compiler/tokenizer.h"
#include "text/fields.h"

namespace velmora::compiler {

namespace {

using F = Failure;

const std::vector<ExplanationRow> kRows = {
    {F::MissingSemicolon, "missing-semicolon", u"文の終わりの「;」がない",
     u"文の終わりに「;」がありません。この位置に ; を書いてください。", u"A = 1\nB = 2;"},
    {F::MissingOperand, "missing-operand", u"演算子のあとに値がない",
     u"「{W}」のあとに計算する値がありません。数か変数を書くか、余分な「{W}」を消してください。", u"C = A +;"},
    {F::MissingValue, "missing-value", u"「=」のあとに値がない",
     u"「=」のあとに代入する値がありません。値（数・変数・式）を書いてください。", u"A = ;"},
    {F::MissingOperator, "missing-operator", u"値が二つ並んでいる",
     u"「{W}」の前に演算子がありません。+ - * / のどれかを入れてください。", u"A = 1 2;"},
    {F::DoubleOperator, "double-operator", u"演算子が続いている",
     u"演算子「{W}」の前にも演算子があります。間に数か変数を書くか、どちらかを消してください。", u"A = 1 + * 2;"},
    {F::UnexpectedToken, "unexpected-token", u"式のあとに余分なものがある",
     u"式のあとに「{W}」があります。文の終わりは「;」です。「{W}」を消すか ; に直してください。", u"A = 1:"},
    {F::UnclosedString, "unclosed-string", u"文字列が閉じていない",
     u"文字列が「\"」で閉じられていません。文字列の終わりに \" を書いてください（文字列は行をまたげません）。",
     u"&S = \"abc;"},
    {F::SingleQuote, "single-quote", u"「'」で囲んだ文字列",
     u"文字列は「'」ではなく「\"」で囲みます。' を \" "
     u"に直してください（設定「シングルクォートをダブルクォートに置き換え」もあります）。",
     u"&S = 'abc';"},
    {F::UnclosedParenthesis, "unclosed-parenthesis", u"「(」が閉じていない",
     u"この「(」に対応する「)」がありません。文の終わりの ; より前に ) を書いてください。", u"X = 2 * (3 + 4;"},
    {F::StrayParenthesis, "stray-parenthesis", u"対応する「(」のない「)」",
     u"この「)」に対応する「(」がありません。余分な ) を消すか、( を足してください。", u"X = (2 + 3)) * 2;"},
    {F::OpenBlock, "open-block", u"ブロックの END がない",
     u"この {W} のブロックが {S} で閉じられていません。ブロックの最後に {S} "
     u"を書いてください（今のままでは中身が一度だけ実行されます）。",
     u"FOR I = 1 TO 3 DO\n  ??I;"},
    {F::EndWithoutBlock, "end-without-block", u"対応するブロックのない END",
     u"この {W} に対応する IF・WHILE・FOR・EACH・FUNCTION がありません。余分な {W} "
     u"を消すか、ブロックの始まりを確かめてください。",
     u"A = 1;\nEND"},
    {F::ElseWithoutIf, "else-without-if", u"IF のない ELSE",
     u"この ELSE の前に IF … THEN がありません。IF 条件 THEN 文 ELSE 文 END の形にしてください。", u"A = 1;\nELSE"},
    {F::DoubleEquals, "double-equals", u"「==」を使った",
     u"「==」はありません。比べるときも代入するときも「=」を一つだけ書きます。", u"IF A == 1 THEN\n  ??A;\nEND"},
    {F::ReservedName, "reserved-name", u"予約語を変数名にした",
     u"{W} は予約語なので変数名に使えません。{W}1 や MY_{W} のような別の名前にしてください。", u"&NAME = \"Taro\";"},
    {F::MisspeltKeyword, "misspelt-keyword", u"命令のつづり違い",
     u"「{W}」という命令はありません。{S} のつづり違いではありませんか。", u"IFF A > 0 THEN\n  ??A;\nEND"},
    {F::UnknownStatement, "unknown-statement", u"知らない語で始まる文",
     u"「{W}」で始まる文はありません。命令のつづりを確かめてください。代入なら {W} = 値; と書きます（表示は ??）。",
     u"PRINT \"hello\";"},
    {F::MissingThen, "missing-then", u"IF に THEN がない",
     u"IF の条件のあとに THEN がありません。IF 条件 THEN 文 END の形にしてください。", u"IF A > 0\n  ??A;\nEND"},
    {F::MissingDo, "missing-do", u"WHILE・FOR・EACH に DO がない",
     u"{W} の行に DO がありません。{W} … DO 文 END の形にしてください（WHILE A < 3 DO … END、FOR I = 1 TO 10 DO … "
     u"END）。",
     u"WHILE A < 3\n  A += 1;\nEND"},
    {F::ForForm, "for-form", u"FOR の形が違う",
     u"FOR の書き方が違います。FOR I = 1 TO 10 DO 文 END の形にしてください（始めと終わりは数か変数）。",
     u"FOR I = 1 10 DO\n  ??I;\nEND"},
    {F::SemicolonAfterThen, "semicolon-after-then", u"THEN・DO のあとの「;」",
     u"{W} のあとに「;」は要りません。; を消してください。", u"IF A > 0 THEN;\n  ??A;\nEND"},
    {F::StringToNumber, "string-to-number", u"数の変数に文字列を代入した",
     u"数の変数 {W} に文字列を代入しています。文字列を入れるなら &{W} と書き、数にするなら STRVAL(\"…\") "
     u"を使ってください。",
     u"A = \"abc\";"},
    {F::NumberToString, "number-to-string", u"文字列の変数に数を代入した",
     u"文字列の変数 {W} に数は代入できません。\"5\" のように \" で囲むか、INTSTR(X) で数を文字列にしてください。",
     u"&S = 5;"},
    {F::UnknownFunction, "unknown-function", u"知らない関数",
     u"「{W}」という関数はありません。{S}使える関数は言語の手引きの「式」にあります。", u"A = SQR(4);"},
    {F::UndefinedCall, "undefined-call", u"定義していない関数を呼んだ",
     u"関数 {W} が定義されていません（実行すると「関数ラベル不明エラー」で止まります）。FUNCTION {W}; … ENDFUNC "
     u"を書くか、名前を確かめてください。",
     u"CALL FOO;"},
    {F::DuplicateFunction, "duplicate-function", u"同じ名前の関数を二つ定義した",
     u"関数 {W} は前にも定義されています。どちらかの名前を変えるか、一つにまとめてください。",
     u"FUNCTION F;\n  ??1;\nENDFUNC\nFUNCTION F;\n  ??2;\nENDFUNC"},
    {F::ConditionArithmetic, "condition-arithmetic", u"条件の中で計算した",
     u"条件の中では計算できません（「{W}」）。先に変数に計算してから比べてください（T = A + 1; IF T > 0 THEN …）。",
     u"IF A + 1 > 0 THEN\n  ??A;\nEND"},
    {F::VectorWithoutSet, "vector-without-set", u"ベクトルに値を並べるのに SET がない",
     u"ベクトルに値を並べるには SET が要ります。SET {W} = 1, 2, 3; と書いてください。", u"$V = 1, 2, 3;"},
    {F::LibraryRulesOff, "library-rules-off", u"LIB・LIBA が使えない",
     u"{W} の文法規則は組み込みの文法ではコメント行（凍結中）です。examples/library_call.T-Syntax.txt "
     u"をプログラムのディレクトリに T-Syntax.txt としてコピーすると使えます。",
     u"LIB &DLL \"libvelmora_test_library.so\";"},
    {F::NonAsciiName, "non-ascii-name", u"変数名に半角英数字以外の文字",
     u"変数名 {W} に半角英数字と _ "
     u"以外の文字があります（設定「半角英数字のみ許可」）。名前を半角英数字にしてください。",
     u"合計 = 1;"},
    {F::FullWidth, "full-width", u"全角の記号や数字",
     u"全角の「{W}」が入っています。半角の「{S}」にしてください（日本語入力をオフにして打ち直します）。", u"A = 1；"},
    {F::FunctionArguments, "function-arguments", u"関数に ( ) で値を渡した",
     u"関数は ( ) で値を受け取れません（引数はありません）。{W} {S}; と名前だけを書き、値は変数に入れて"
     u"受け渡してください（関数の中からもプログラムの変数が見えます）。",
     u"FUNCTION TWICE;\n  X = X * 2;\nENDFUNC\nX = 4;\nCALL TWICE(X);"},
    {F::TextPlusNumber, "text-plus-number", u"文字列と数を + でつないだ",
     u"文字列と数は「+」でつなげません。数 {W} を文字列にしてからつないでください: INTSTR({W})（整数にする）か "
     u"{W} : \"0.00\"（書式をつける）。表示するだけなら ??\"…\"; ??{W}; と二つに分けても書けます。",
     u"X = 3;\n??\"X=\" + X;"},
    {F::PrintExpression, "print-expression", u"?? のあとに計算や関数を書いた",
     u"?? のあとに書けるのは値一つ（数・変数・文字列）か、文字列を「+」でつないだものだけで、計算や関数は"
     u"書けません。先に T = …; のように変数に計算してから ??T; と表示してください。",
     u"X = 4;\n??X * 2;"},
    {F::NotEqual, "not-equal", u"「!=」で等しくないを書いた",
     u"「!=」はありません。等しくないことは「<>」で比べます: IF A <> 1 THEN … END。",
     u"A = 1;\nIF A != 1 THEN\n  ??A;\nEND"},
    {F::ConditionParentheses, "condition-parentheses", u"条件を ( ) で囲んだ",
     u"{S} の条件は ( ) で囲みません。{S} A > 0 THEN のように、( と ) を消して書いてください。",
     u"A = 1;\nIF (A > 0) THEN\n  ??A;\nEND"},
    {F::Increment, "increment", u"「++」「--」で 1 増やした",
     u"「{W}」はありません。1 増やすには {S} += 1;、1 減らすには {S} -= 1; と書きます。", u"A = 1;\nA++;"},
    {F::PercentModulo, "percent-modulo", u"「%」で余りを求めた",
     u"「%」は余りの演算子ではありません（% は行列の変数の印です）。余りは MOD で求めます: "
     u"M = MOD({W}, {S}); のように = の右に単独で書いてください。",
     u"I = 7;\nA = I % 3;"},
    {F::ConditionFunction, "condition-function", u"条件の中で関数を使った",
     u"{S} の条件の中では {W}( ) を使えません（条件は数や変数を比べるだけです）。先に T = {W}(…); のように"
     u"変数に計算し、{S} T = 0 … と変数を比べてください（IF には THEN、WHILE には DO が要ります）。",
     u"FOR I = 1 TO 6 DO\n  IF MOD(I, 3) = 0 THEN\n    ??I;\n  END\nEND"},
    {F::DecimalComma, "decimal-comma", u"小数点に「,」を使った",
     u"「{W}」の「,」は小数点ではありません。このままでは {S} に「,」のあとの値だけが入ります。"
     u"小数は「.」で書いてください（3.14）。",
     u"P = 3,14;\n??P;"},
    {F::CommaInAssignment, "comma-in-assignment", u"数の代入に「,」で値を並べた",
     u"数の変数 {S} に「,」で区切った値を書いても、入るのは最後の値だけです。計算なら + - * / でつないでください。",
     u"X = 2;\nP = X, 5;\n??P;"},
    {F::CurlyQuotes, "curly-quotes", u"全角の引用符で文字列を囲んだ",
     u"「{S}」は文字列の引用符ではないので、{W} は変数の名前として読まれます（表示すると 0 です）。"
     u"文字列は半角の \" で囲んでください。",
     u"??“hello”;"},
    {F::WideSpace, "wide-space", u"全角の空白",
     u"全角の空白「　」があります。区切りとして読みますが、名前の途中にあるとそこで名前が二つに分かれます。"
     u"空白は半角で書いてください。",
     u"A　= 1;\n??A;"},
    {F::StatementNeverRun, "statement-never-run", u"最後の文に「;」がない",
     u"最後の文の終わりに「;」がないので、この文は実行されません（何も表示も代入もされません）。"
     u"この位置に ; を書いてください。",
     u"??\"hello\""},
    {F::SemicolonAfterEndfunc, "semicolon-after-endfunc", u"ENDFUNC のあとの「;」",
     u"ENDFUNC のあとに「;」を書くと ENDFUNC が働かず、関数がここで閉じません（あとの文もすべて関数の中になり、"
     u"CALL しない限り実行されません）。; を消してください。",
     u"FUNCTION F;\n  ??1;\nENDFUNC;\nCALL F;"},
    {F::SyntaxError, "syntax-error", u"文の形が違う",
     u"「{W}」のところで文の形が言語の規則に合いません。文の形を言語の手引きと比べ、つづりと ; を確かめてください。",
     u"1 = A;"},
    {F::ExpressionError, "expression-error", u"式の形が違う",
     u"「{W}」のところで式を計算の形にできません。演算子と値が交互に並んでいるか確かめてください。", u"A = SIN;"},
    {F::RegistrationFailed, "registration-failed", u"タスクスロットに登録できない",
     u"プログラムをタスクスロットに登録できませんでした（{W}"
     u"）。空きスロットがあるか、変数や関数やラベルの数、プログラムの長さを確かめてください。",
     u""},
};

u16 fill(const char16_t *text, const Diagnosis &d) {
  u16 out;
  for (u16view t = text; !t.empty();) {
    if (t.substr(0, 3) == u"{W}") {
      out += d.word;
      t.remove_prefix(3);
    } else if (t.substr(0, 3) == u"{S}") {
      out += d.suggestion;
      t.remove_prefix(3);
    } else {
      out += t[0];
      t.remove_prefix(1);
    }
  }
  return out;
}

// ----- the token stream as the diagnosis reads it

struct Stream {
  const DiagnosisInput &in;
  int size() const { return int(in.tokens.size()); }
  u16 type(int i) const { return i >= 0 && i < size() ? u16(text::field(in.tokens[std::size_t(i)], 1)) : u16(); }
  // The token as written: its text, or the word itself for keyword tokens.
  u16 word(int i) const {
    if (i < 0 || i >= size()) return {};
    const u16 &t = in.tokens[std::size_t(i)];
    u16view f2 = text::field(t, 2);
    if (f2.empty()) return type(i);
    return t.substr(std::size_t(f2.data() - t.data()));
  }
  int line(int i) const {
    int n = -1;
    if (i >= 0 && i < size()) text::parse_int(text::field(in.tokens[std::size_t(i)], 0), n);
    return n;
  }
  int column(int i) const { return i >= 0 && i < int(in.columns.size()) ? in.columns[std::size_t(i)] : -1; }
  Diagnosis at(Failure kind, int i, u16 w = {}) const {
    Diagnosis d;
    d.kind = kind;
    d.line = line(i);
    d.column = column(i);
    d.length = int(word(i).size());
    d.word = w.empty() ? word(i) : std::move(w);
    return d;
  }
  // Tokens i to j as one finding (a kind mark and its name).
  Diagnosis span(Failure kind, int i, int j, u16 w = {}) const {
    Diagnosis d = at(kind, i, std::move(w));
    if (line(j) == line(i) && column(j) >= d.column) d.length = column(j) - d.column + int(word(j).size());
    return d;
  }
  // Just after token i (where a missing ";" belongs).
  Diagnosis after(Failure kind, int i) const {
    Diagnosis d = at(kind, i);
    if (d.column >= 0) d.column += int(word(i).size());
    d.length = 0;
    return d;
  }
};

bool is_operator(u16view type) { return type == u"+" || type == u"-" || type == u"*" || type == u"/" || type == u"^"; }

bool is_operand(u16view type) {
  return type == u"Δ" || type == u"∇" || type == u"Σ" || type == u"Ω" || type == u"□" || type == u"xN" ||
         type == u"xNVAR" || type == u"xVECTVAR" || type == u")";
}

bool is_word(u16view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || c == u'_' || (c >= u'0' && c <= u'9');
  }) && !(text[0] >= u'0' && text[0] <= u'9');
}

bool is_assignment(u16view type) {
  return type == u"=" || type == u"+=" || type == u"-=" || type == u"*=" || type == u"/=";
}

bool is_number(u16view type) { return type == u"Δ" || type == u"∇" || type == u"xN" || type == u"xNVAR"; }

// The half-width form of a full-width ASCII character that is no letter (；
// （ ） ＋ ＝ １: slips of a Japanese input method), or 0.
char16_t half_width_of(char16_t c) {
  if (c < 0xFF01 || c > 0xFF5E || (c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A)) return 0;
  return char16_t(c - 0xFEE0);
}

// Quotation marks that are no string quotes: typographic and Japanese ones.
bool is_curly_quote(char16_t c) {
  return c == u'“' || c == u'”' || c == u'‘' || c == u'’' || c == u'「' || c == u'」' || c == u'『' || c == u'』';
}

// Words after which a new statement starts.
bool ends_statement(u16view type) {
  return type.empty() || type == u";" || type == u"THEN" || type == u"DO" || type == u"ELSE" || type == u"END" ||
         type == u"ENDFUNC";
}

int statement_start(const Stream &s, int i) {
  while (i > 0 && !ends_statement(s.type(i - 1))) --i;
  return std::max(i, 0);
}

// Edit distance with transpositions, small words only.
int distance(u16view a, u16view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<int>> d(n + 1, std::vector<int>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = int(i);
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = int(j);
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

// The word of a list closest to a misspelt one, when it is close enough.
u16 closest(u16view word, const Lines &words) {
  if (word.size() < 2) return {};
  const int allowed = word.size() <= 4 ? 1 : 2;
  u16 best;
  int bestDistance = allowed + 1;
  for (const u16 &w : words) {
    if (w.size() < 2 || !is_word(w) || w == word) continue;
    int dist = distance(word, w);
    if (dist < bestDistance) {
      bestDistance = dist;
      best = w;
    }
  }
  return best;
}

// ----- findings from the token stream alone

// A full-width character or a curly quote in token i (never in a string):
// the finding at the character itself.
std::optional<Diagnosis> slip_at(const Stream &s, int i) {
  if (i < 0 || i >= s.size() || s.type(i) == u"Ω") return std::nullopt;
  const u16 word = s.word(i);
  for (std::size_t k = 0; k < word.size(); ++k) {
    Diagnosis d;
    if (char16_t half = half_width_of(word[k])) {
      d = s.at(F::FullWidth, i, u16(1, word[k]));
      d.suggestion = u16(1, half);
    } else if (is_curly_quote(word[k])) {
      d = s.at(F::CurlyQuotes, i, word);
      d.suggestion = u16(1, word[k]);
    } else {
      continue;
    }
    if (d.column >= 0 && d.kind == F::FullWidth) d.column += int(k);
    if (d.kind == F::FullWidth) d.length = 1;
    return d;
  }
  return std::nullopt;
}

// A number assignment whose value is a list ("P = 3,14;" stores 14): the
// "," at the statement's own level.
std::optional<Diagnosis> comma_in_assignment(const Stream &s, int i) {
  if (s.type(i) != u"∇" || !is_assignment(s.type(i + 1)) || statement_start(s, i) != i) return std::nullopt;
  int depth = 0;
  for (int j = i + 2; j < s.size() && s.type(j) != u";"; ++j) {
    const u16 t = s.type(j);
    if (t == u"(" || t == u"[") ++depth;  // a function's arguments, a matrix element's indices
    else if (t == u")" || t == u"]") --depth;
    if (t != u"," || depth != 0) continue;
    const bool decimal = s.type(j - 1) == u"Δ" && s.type(j + 1) == u"Δ" && s.line(j - 1) == s.line(j + 1) &&
                         s.column(j) == s.column(j - 1) + int(s.word(j - 1).size()) &&
                         s.column(j + 1) == s.column(j) + 1;
    Diagnosis d = decimal ? s.span(F::DecimalComma, j - 1, j + 1, s.word(j - 1) + u"," + s.word(j + 1))
                          : s.at(F::CommaInAssignment, j);
    d.suggestion = s.word(i);
    return d;
  }
  return std::nullopt;
}

bool is_lexical(Failure kind) {
  return kind == F::FullWidth || kind == F::CurlyQuotes || kind == F::DecimalComma || kind == F::CommaInAssignment;
}

std::vector<std::pair<int, Diagnosis>> static_findings(const Stream &s) {
  std::vector<std::pair<int, Diagnosis>> found;
  auto add = [&](int i, Diagnosis d) { found.emplace_back(i, std::move(d)); };
  Lines defined;
  for (int i = 0; i < s.size(); ++i) {
    const u16 type = s.type(i);
    if (auto d = slip_at(s, i)) add(i, *d);
    if (auto d = comma_in_assignment(s, i)) add(i, *d);
    if (type == u"Ω") {
      const u16 text = s.word(i);
      if (text.size() < 2 || text.back() != u'"') add(i, s.at(F::UnclosedString, i));
    } else if (type == u"'") {
      add(i, s.at(F::SingleQuote, i));
    } else if ((type == u"&" || type == u"%" || type == u"$") && is_word(s.type(i + 1)) &&
               s.in.tables.IsKeyWord(s.type(i + 1))) {
      add(i, s.span(F::ReservedName, i, i + 1, s.type(i + 1)));
    } else if ((type == u"IF" || type == u"WHILE" || type == u"FOR" || type == u"EACH") &&
               s.in.tables.IsKeyWord(type == u"IF" ? u"THEN" : u"DO")) {
      // (Only while THEN and DO are words of the language: a renamed one is
      // looked for under its own name by nobody, so nothing is said.)
      const u16 wanted = type == u"IF" ? u"THEN" : u"DO";
      int j = i + 1;
      while (j < s.size() && s.type(j) != wanted && s.type(j) != u";" && s.type(j) != u"THEN" && s.type(j) != u"DO" &&
             s.type(j) != u"END")
        ++j;
      if (s.type(j) != wanted) add(i, s.at(type == u"IF" ? F::MissingThen : F::MissingDo, i));
    } else if (type == u"ENDFUNC" && s.type(i + 1) == u";") {
      Diagnosis d = s.at(F::SemicolonAfterEndfunc, i + 1, type);
      d.note = true;
      add(i + 1, d);
    } else if (is_operator(type) && s.type(i + 1) == u";" && is_operand(s.type(i - 1))) {
      Diagnosis d = s.at(F::MissingOperand, i);
      d.note = true;
      add(i, d);
    } else if (type == u"FUNCTION" && s.type(i + 1) == u"xFNAME") {
      const u16 name = s.word(i + 1);
      if (std::find(defined.begin(), defined.end(), name) != defined.end()) add(i, s.at(F::DuplicateFunction, i + 1));
      else defined.push_back(name);
    }
  }
  // Calls of functions the program never defines, and strings given to
  // number variables; both compile and go wrong only when run.
  for (int i = 0; i < s.size(); ++i) {
    const u16 type = s.type(i);
    if (type == u"CALL" && s.type(i + 1) == u"xFNAME" &&
        std::find(defined.begin(), defined.end(), s.word(i + 1)) == defined.end()) {
      Diagnosis d = s.at(F::UndefinedCall, i + 1);
      d.note = true;
      add(i + 1, d);
    } else if (type == u"∇" && s.type(i + 1) == u"=" && s.type(i + 2) == u"Ω" && s.type(i + 3) == u";" &&
               statement_start(s, i) == i) {
      Diagnosis d = s.at(F::StringToNumber, i);
      d.note = true;
      add(i, d);
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  return found;
}

bool explains_failures(Failure kind) {
  return kind == F::UnclosedString || kind == F::SingleQuote || kind == F::ReservedName || kind == F::MissingThen ||
         kind == F::MissingDo;
}

// ----- the failure the compiler met

bool is_print(u16view type) { return type == u"??" || type == u"CONSOLE"; }

// Whether the statement from token start has a text of its own (a string or
// a string variable outside parentheses): "??X + \"a\"" joins text, "??X * 2"
// computes.
bool has_text(const Stream &s, int start) {
  int depth = 0;
  for (int j = start + 1; j < s.size() && s.type(j) != u";"; ++j) {
    const u16 t = s.type(j);
    if (t == u"(" || t == u"[") ++depth;
    else if (t == u")" || t == u"]") --depth;
    else if (depth == 0 && (t == u"Ω" || t == u"Σ")) return true;
  }
  return false;
}

// Mistakes that explain whatever the compiler said about their statement:
// an input-method slip, arguments given to a function, "%" for the
// remainder, a function in a condition, text joined with a number.
std::optional<Diagnosis> beginner_failure(const Stream &s, const RawFailure &f) {
  const int i = std::max(f.token, 0);
  const int start = statement_start(s, i);
  const int end = std::min(i + 1, s.size() - 1);
  for (int j = start; j <= end; ++j)
    if (auto d = slip_at(s, j)) return d;
  for (int j = start; j <= end; ++j)
    if (s.word(j) == u"!" && s.type(j + 1) == u"=" && s.line(j + 1) == s.line(j) && s.column(j + 1) == s.column(j) + 1)
      return s.span(F::NotEqual, j, j + 1, u"!=");
  if ((s.type(start) == u"IF" || s.type(start) == u"WHILE") && s.type(start + 1) == u"(" && i <= start + 1) {
    Diagnosis d = s.at(F::ConditionParentheses, start + 1);
    d.suggestion = s.type(start);
    return d;
  }
  // "A++" ("++" is one symbol of the tables) and "A--" (two minus signs).
  if (s.type(start) == u"∇" && (s.type(start + 1) == u"++" || s.type(start + 1) == u"--")) {
    Diagnosis d = s.at(F::Increment, start + 1);
    d.suggestion = s.word(start);
    return d;
  }
  if (s.type(start) == u"∇" && s.type(start + 1) == u"-" && s.type(start + 2) == u"-" &&
      s.line(start + 2) == s.line(start + 1) && s.column(start + 2) == s.column(start + 1) + 1) {
    Diagnosis d = s.span(F::Increment, start + 1, start + 2, u"--");
    d.suggestion = s.word(start);
    return d;
  }
  if ((s.type(start) == u"CALL" || s.type(start) == u"FUNCTION") && s.type(start + 1) == u"xFNAME" &&
      s.type(start + 2) == u"(") {
    Diagnosis d = s.at(F::FunctionArguments, start + 2, s.type(start));
    d.suggestion = s.word(start + 1);
    return d;
  }
  for (int j = std::max(start, 1); j <= end; ++j) {
    if (!is_operand(s.type(j - 1))) continue;
    if (s.type(j) == u"%") {
      Diagnosis d = s.at(F::PercentModulo, j, s.word(j - 1));
      d.suggestion = is_operand(s.type(j + 1)) ? s.word(j + 1) : u16(u"…");
      return d;
    }
    if (s.type(j) == u"□") {  // "I %B": the "%" and the name make a matrix variable
      Diagnosis d = s.at(F::PercentModulo, j, s.word(j - 1));
      d.length = 1;
      d.suggestion = s.word(j).substr(1);
      return d;
    }
  }
  if ((s.type(start) == u"IF" || s.type(start) == u"WHILE") && s.type(i + 1) == u"(" &&
      (s.type(i) == u"xMATH" || (is_word(s.type(i)) && s.in.tables.IsKeyWord(s.type(i))))) {
    Diagnosis d = s.at(F::ConditionFunction, i);
    d.suggestion = s.type(start);
    return d;
  }
  if (f.kind == RawFailure::Kind::Syntax && f.group == u'@' && i == start + 1 && is_print(s.type(start)) &&
      !has_text(s, start) && (is_number(s.type(i)) || s.type(i + 1) == u"("))
    return s.at(F::PrintExpression, i);
  if (f.kind == RawFailure::Kind::Syntax && f.group == u'@' && is_number(s.type(i)) &&
      (s.type(i - 1) == u"+" || s.type(i - 1) == u"," || s.type(i + 1) == u"+"))
    return s.at(F::TextPlusNumber, i);
  return std::nullopt;
}

// The words a statement may begin with: the first items of the statement
// rules, and the words that close a block.
bool begins_statement(const Stream &s, u16view type) {
  if (type == u"END" || type == u"ELSE" || type == u"ENDFUNC") return true;
  if (!is_word(type)) return false;
  const language::LanguageTables &t = s.in.tables;
  for (int r = 0; r < t.grammarRowCount(); ++r)
    if (t.SttCode(r) == u'#' && t.SbSt(r, 1) == type) return true;
  return false;
}

Diagnosis classify_syntax(const Stream &s, const RawFailure &f) {
  const int i = f.token;
  const u16 type = s.type(i);
  const u16 prev = s.type(i - 1);
  if (type == u"END" || type == u"ENDFUNC") return s.at(F::EndWithoutBlock, i);
  if (type == u"ELSE") return s.at(F::ElseWithoutIf, i);
  // A statement on the next line where the last one has no ";".
  if (i > 0 && !ends_statement(prev) && s.line(i) > s.line(i - 1)) return s.after(F::MissingSemicolon, i - 1);
  if (type == u"FUNCTION" && s.type(i + 1) == u"xFNAME" && s.type(i + 2) != u";")
    return s.after(F::MissingSemicolon, i + 1);
  if (type == u"=" && prev == u"=") return s.at(F::DoubleEquals, i - 1, u"==");
  if (type == u"=" && s.type(i + 1) == u"=") return s.at(F::DoubleEquals, i, u"==");
  if (type == u";" && (prev == u"THEN" || prev == u"DO" || prev == u"ELSE"))
    return s.at(F::SemicolonAfterThen, i, prev);
  if (f.group == u'☆') {
    int v = i;
    while (v > 0 && s.type(v) != u"xVECTVAR") --v;
    return s.at(F::VectorWithoutSet, i, s.type(v) == u"xVECTVAR" ? s.word(v) : u16(u"$V"));
  }
  if (f.group == u'@' && (s.type(i) == u"Δ" || s.type(i) == u"∇" || s.type(i) == u"xN")) {
    int v = i;
    while (v > 0 && s.type(v) != u"Σ") --v;
    if (s.type(v) == u"Σ" && statement_start(s, v) == v) return s.at(F::NumberToString, i, s.word(v));
  }
  const int start = statement_start(s, i);
  if (is_operator(type) && (s.type(start) == u"IF" || s.type(start) == u"WHILE"))
    return s.at(F::ConditionArithmetic, i);
  if (i == start && f.group == u'#') {
    if (type == u"FOR") return s.at(F::ForForm, i);
    if (type == u"LIB" || type == u"LIBA") return s.at(F::LibraryRulesOff, i);
    if (type == u"∇" && !is_assignment(s.type(i + 1))) {
      const u16 name = s.word(i);
      Lines statementWords;
      for (const u16 &k : s.in.tables.keywords)
        if (is_word(k)) statementWords.push_back(k);
      Diagnosis d = s.at(F::UnknownStatement, i);
      if (u16 guess = closest(name, statementWords); !guess.empty()) {
        d.kind = F::MisspeltKeyword;
        d.suggestion = guess;
      }
      return d;
    }
    if (is_word(type) && s.in.tables.IsKeyWord(type) && is_assignment(s.type(i + 1))) return s.at(F::ReservedName, i);
  }
  if (type.empty()) {  // the stream ended inside a statement
    Diagnosis d = s.after(F::MissingSemicolon, s.size() - 1);
    return d;
  }
  return s.at(F::SyntaxError, i);
}

Diagnosis classify_expression(const Stream &s, const RawFailure &f, bool stopped) {
  int i = std::max(f.token, 0);
  const int start = statement_start(s, i);
  // A name called like a function that is none.
  for (int j = start; j <= i + 1 && j + 1 < s.size(); ++j)
    if (s.type(j) == u"∇" && s.type(j + 1) == u"(") {
      Diagnosis d = s.at(F::UnknownFunction, j);
      if (u16 guess = closest(d.word, s.in.tables.mathFuncs); !guess.empty())
        d.suggestion = guess + u" のつづり違いではありませんか。";
      return d;
    }
  const u16 type = s.type(i), next = s.type(i + 1), prev = s.type(i - 1);
  if (type == u";" && is_assignment(prev)) return s.at(F::MissingValue, i - 1);
  if (type == u"=" && prev == u"=") return s.at(F::DoubleEquals, i - 1, u"==");
  if (type == u"=" && next == u"=") return s.at(F::DoubleEquals, i, u"==");
  if (stopped) {
    // The expression ended before the token after it: a statement or the
    // end of a block after it on the same line wants a ";" between them.
    if (next.empty() || s.line(i + 1) > s.line(i) || begins_statement(s, next)) return s.after(F::MissingSemicolon, i);
    if (type == u"=" && next == u";") return s.at(F::MissingValue, i);
    return s.at(F::UnexpectedToken, i + 1);
  }
  if (is_operator(type)) {
    if (is_operator(prev) || prev == u"=" || prev == u"(") return s.at(F::DoubleOperator, i);
    if (!is_operand(next) && next != u"(" && next != u"xMATH") return s.at(F::MissingOperand, i);
  }
  if (type == u"=" && (next == u";" || next.empty())) return s.at(F::MissingValue, i);
  if (is_operand(type) && is_operand(prev) && type != u")") {
    if (s.line(i) > s.line(i - 1)) return s.after(F::MissingSemicolon, i - 1);
    return s.at(F::MissingOperator, i);
  }
  if (is_operand(type) && is_operand(next) && next != u")") {
    if (s.line(i + 1) > s.line(i)) return s.after(F::MissingSemicolon, i);
    return s.at(F::MissingOperator, i + 1);
  }
  return s.at(F::ExpressionError, i);
}

}  // namespace

const std::vector<ExplanationRow> &explanation_table() { return kRows; }

const ExplanationRow *explanation_row(Failure kind) {
  for (const ExplanationRow &row : kRows)
    if (row.kind == kind) return &row;
  return nullptr;
}

u16 explanation_text(const Diagnosis &d) {
  const ExplanationRow *row = explanation_row(d.kind);
  return row ? fill(row->text, d) : u16();
}

namespace {

// The diagnostic the example of a row gets, when it is that row's.
std::optional<Diagnostic> example_finding(const language::Language &language, const ExplanationRow &row) {
  Lines lines(1);
  for (const char16_t *c = row.example; *c; ++c) {
    if (*c == u'\n') lines.emplace_back();
    else lines.back() += *c;
  }
  for (const Diagnostic &d : program_diagnostics(language, lines))
    if (std::string_view(d.id) == row.id) return d;
  return std::nullopt;
}

}  // namespace

u16 common_errors_markdown(const language::Language &language) {
  u16 out = u"## よくあるエラー\n\n";
  out +=
      u"コンパイルに失敗すると、コンパイラのメッセージ（\"Syntax Error\" など）のあとに、"
      u"何がいけないか・どこか（行と何文字目か）・どうすればよいかを日本語で示します。"
      u"コンパイルできても、まず間違いと思われるところ（「注意」）にも同じように印をつけます。"
      u"ウィンドウではその文字に波線、行番号の横に印、行にマウスを置くと説明が出ます（エラーはステータスバーにも）。"
      u"velmora-run では標準エラーに、velmora-run --check では標準出力に "
      u"`ファイル:行:文字: error: 説明`（注意は warning）の形で出ます（行と文字は 1 から数え、"
      u"文字は UTF-16 の単位で数えます）。下の例の行と文字も 1 から数えています。\n";
  for (const ExplanationRow &row : kRows) {
    if (!row.example || !*row.example) continue;
    out += u"\n### " + u16(row.title) + u"\n\n";
    u16 example = row.example;
    out += u"    ";
    for (char16_t c : example) {
      out += c;
      if (c == u'\n') out += u"    ";
    }
    out += u"\n\n";
    if (std::optional<Diagnostic> found = example_finding(language, row)) {
      out += text::int16(found->line + 1) + u" 行 " + text::int16(found->column + 1) + u" 文字目: " +
             (found->severity == Severity::Warning ? u"注意: "
              : found->severity == Severity::Note  ? u"参考: "
                                                   : u"") +
             found->explanation + u"\n";
      continue;
    }
    Diagnosis d;
    d.kind = row.kind;
    d.word = u"{W}";
    d.suggestion = u"{S}";
    u16 text = explanation_text(d);
    // The placeholders read as the words of the example.
    u16 shown;
    for (u16view t = text; !t.empty();) {
      if (t.substr(0, 3) == u"{W}") {
        shown += u"…";
        t.remove_prefix(3);
      } else if (t.substr(0, 3) == u"{S}") {
        shown += u"…";
        t.remove_prefix(3);
      } else {
        shown += t[0];
        t.remove_prefix(1);
      }
    }
    out += shown + u"\n";
  }
  return out;
}

std::vector<Diagnosis> diagnose(const DiagnosisInput &in) {
  const Stream s{in};
  std::vector<Diagnosis> out;
  auto found = static_findings(s);
  const RawFailure &f = in.failure;
  if (f.kind != RawFailure::Kind::None) {
    auto failure = [&]() -> Diagnosis {
      if (auto d = beginner_failure(s, f)) return *d;
      // A mistake the token stream shows at or before the failure explains it.
      for (const auto &[index, d] : found)
        if (explains_failures(d.kind) && (f.token < 0 || index <= f.token + 1)) return d;
      switch (f.kind) {
        case RawFailure::Kind::OpenParenthesis: return s.at(F::UnclosedParenthesis, f.token);
        case RawFailure::Kind::StrayParenthesis: return s.at(F::StrayParenthesis, f.token);
        case RawFailure::Kind::Syntax: return classify_syntax(s, f);
        case RawFailure::Kind::Expression: return classify_expression(s, f, false);
        case RawFailure::Kind::Stop: return classify_expression(s, f, true);
        case RawFailure::Kind::None: break;
      }
      return s.at(F::SyntaxError, f.token);
    };
    out.push_back(failure());
    out.back().note = false;
    // Slips of the whole text are worth a marker even so.
    for (const auto &[index, d] : found)
      if (is_lexical(d.kind) &&
          !(d.kind == out.front().kind && d.line == out.front().line && d.column == out.front().column)) {
        out.push_back(d);
        out.back().note = true;
      }
    return out;
  }
  for (auto &[index, d] : found) {
    d.note = true;
    out.push_back(d);
  }
  // The innermost block left open: its END is surely missing.
  if (!in.openBlocks.empty()) {
    const int i = in.openBlocks.back();
    Diagnosis d = s.at(F::OpenBlock, i);
    d.suggestion = s.type(i) == u"FUNCTION" ? u"ENDFUNC" : u"END";
    d.note = true;
    out.push_back(d);
  } else if (in.statementLeftOpen && s.size() > 0 &&
             std::none_of(out.begin(), out.end(), [](const Diagnosis &d) { return d.kind == F::MissingOperand; })) {
    Diagnosis d = s.after(F::StatementNeverRun, s.size() - 1);
    d.note = true;
    out.push_back(d);
  }
  return out;
}

}  // namespace velmora::compiler

#include "compiler/word_reference.h"

#include <algorithm>

#include "engine/instructions.h"
#include "text/fields.h"

namespace velmora::compiler {

namespace {

// Order: as a reader of the guide meets them (control, variables and
// functions, console, strings and lists, files, canvases, tasks, pages,
// outside), then the symbols.
const std::vector<WordEntry> kWords = {
    {u"IF", u"条件が成り立つときだけ THEN のあとの文を実行する。END で閉じる。", u"IF A > 0 THEN\n  ??\"正\";\nEND"},
    {u"THEN", u"IF の条件のあとに書き、条件が成り立つときの文を始める。", u"IF A = 1 THEN B = 2; END"},
    {u"ELSE", u"IF の条件が成り立たないときの文を始める。", u"IF A > 0 THEN ??\"正\"; ELSE ??\"0 以下\"; END"},
    {u"END", u"IF・WHILE・FOR・EACH のブロックを閉じる（前の文の ; を忘れずに）。", u"WHILE I < 3 DO I += 1; END"},
    {u"AND", u"条件をつなぐ（両方が真のとき真）。数どうしでは 32 ビットの論理積。",
     u"IF A > 0 AND B > 0 THEN ??\"両方\"; END\nC = A AND 255;"},
    {u"OR", u"条件をつなぐ（どちらかが真のとき真）。数どうしでは 32 ビットの論理和。",
     u"IF A = 1 OR A = 2 THEN ??A; END"},
    {u"NOT", u"条件を否定する。", u"IF NOT A > 0 THEN ??\"0 以下\"; END"},
    {u"XOR", u"二つの数の 32 ビットの排他的論理和。", u"C = A XOR 255;"},
    {u"SHL", u"数を 32 ビットとして左へずらす。", u"C = A SHL 2;"},
    {u"SHR", u"数を 32 ビットとして右へずらす。", u"C = A SHR 2;"},
    {u"WHILE", u"条件が真の間、DO から END までを繰り返す。", u"WHILE I < 10 DO I += 1; END"},
    {u"DO", u"WHILE・FOR・EACH の繰り返す文を始める。", u"FOR I = 1 TO 3 DO ??I; END"},
    {u"FOR", u"変数を初値から終値まで 1 ずつ増やして繰り返す（初値と終値は数か変数）。",
     u"FOR I = 1 TO 10 DO S += I; END"},
    {u"TO", u"FOR の終値を示す。", u"FOR I = 1 TO N DO ??I; END"},
    {u"EACH", u"リストの各行について繰り返す。変数が行番号 0, 1, … を回る。", u"EACH &L[K] DO ??&L[K]; ??CRLF; END"},
    {u"BREAK", u"最も内側の FOR・WHILE・EACH を抜ける。", u"WHILE TRUE DO\n  I += 1;\n  IF I > 5 THEN BREAK; END\nEND"},
    {u"STOP", u"プログラム（タスク）を終える。[#n].STOP はページ n のタスクを止める。", u"STOP;"},
    {u"TRUE", u"真。数としては 1。", u"X = TRUE;"},
    {u"FALSE", u"偽。数としては 0。", u"X = FALSE;"},
    {u"VAR", u"数の変数を宣言する（宣言しなくても使える）。", u"VAR X;"},
    {u"SHARE", u"変数を、同じく SHARE したほかのプログラムと共有する。", u"SHARE &S;\nSHARE N;"},
    {u"FUNCTION", u"関数（サブルーチン）を定義する。ENDFUNC までが本体。流れが来たときは飛び越す。",
     u"FUNCTION HELLO;\n  ??\"hello\";\nENDFUNC"},
    {u"ENDFUNC", u"関数の終わり。呼び出し元へ戻る（; は付けない）。", u"FUNCTION F;\n  ??1;\nENDFUNC"},
    {u"EXIT", u"関数の途中で呼び出し元へ戻る。", u"FUNCTION F;\n  IF A = 0 THEN EXIT; END\n  ??A;\nENDFUNC"},
    {u"CALL", u"関数を呼ぶ。関数は引数を取らない。", u"CALL HELLO;"},
    {u"SET", u"ベクトル変数に三つの値を入れる。TIMER ではタイマーを設定する。", u"SET $V = 1, 2, 3;"},
    {u"RANDSEED", u"乱数の種を決め、RAND の列を再現できるようにする（32 ビット整数）。", u"RANDSEED 42;"},
    {u"WAIT", u"タスクを n × 0.1 秒止める（ほかのタスクは動き続ける）。", u"WAIT 10;"},
    {u"TIMER", u"名前つきのタイマー割り込み：周期と関数を設定し、開始・停止・取り消しする。",
     u"TIMER \"T\", SET, 5, \"TICK\";\nTIMER \"T\", START;"},
    {u"START", u"タイマーを動かす。", u"TIMER \"T\", START;"},
    {u"CANCEL", u"タイマーを取り消す。", u"TIMER \"T\", CANCEL;"},
    {u"INTRET", u"タイマー割り込みの関数から、割り込まれたところへ戻る（ENDFUNC の前）。",
     u"FUNCTION TICK;\n  N += 1;\n  INTRET;\nENDFUNC"},
    {u"MOD", u"割り算の余り（被除数の符号を持つ）。引数は数か変数。", u"M = MOD(I, 3);"},
    {u"ASC", u"文字列の最初の文字の文字コード。", u"C = ASC(\"A\");"},
    {u"HEX", u"16 進数の文字列の値。", u"V = HEX(\"FF\");"},
    {u"SPOS", u"二つ目の文字列の中で一つ目が始まる位置（1 から。見つからないと 0 以下）。",
     u"P = SPOS(\"b\", \"abc\");"},
    {u"CHAR", u"文字コードの一文字。", u"&C = CHAR(65);"},
    {u"INTSTR", u"数を整数の文字列にする。", u"&S = INTSTR(X);"},
    {u"COPY", u"文字列の一部（開始位置は 1 から、長さ）。", u"&C = COPY(&S, 2, 3);"},
    {u"VALSTR", u"数を書式で文字列にする。", u"&S = VALSTR(X, \"#,##0.0\");"},
    {u"LENGTH", u"文字列の長さ（文字数）。", u"N = LENGTH(&S);"},
    {u"STRVAL", u"数の書かれた文字列の値。", u"X = STRVAL(\"2.5\");"},
    {u"SIN", u"正弦（ラジアン）。", u"Y = SIN(X);"},
    {u"COS", u"余弦（ラジアン）。", u"Y = COS(X);"},
    {u"TAN", u"正接（ラジアン）。", u"Y = TAN(X);"},
    {u"ATAN", u"逆正接（ラジアン）。", u"Y = ATAN(X);"},
    {u"LN", u"自然対数。負の数や 0 は計算エラー。", u"Y = LN(X);"},
    {u"EXP", u"指数関数 e の x 乗。", u"Y = EXP(1);"},
    {u"SQRT", u"平方根。負の数は計算エラー。", u"Y = SQRT(2);"},
    {u"TRUNC", u"小数部分を切り捨てる（0 の方向へ）。", u"Y = TRUNC(2.7);"},
    {u"INC", u"1 を足した値。", u"Y = INC(X);"},
    {u"DEC", u"1 を引いた値。", u"Y = DEC(X);"},
    {u"PAI", u"x × 円周率（PAI(1) は 3.14159…）。", u"Y = PAI(2);"},
    {u"RAND", u"0 以上 x 未満の一様乱数。", u"R = RAND(6);"},
    {u"CONSOLE", u"コンソールに出力する（?? と同じ）。", u"CONSOLE \"hello\";"},
    {u"CRLF", u"コンソールの改行。", u"??\"hello\"; ??CRLF;"},
    {u"CLEAR", u"コンソール・リスト・ページを空にする。", u"??CLEAR;\n&L[].CLEAR;"},
    {u"OPEN", u"ファイルを開く（READ・WRITE・APPEND）。コンソールでは開く。", u"FILE(1).OPEN(\"a.txt\", READ);"},
    {u"CLOSE", u"ファイルを閉じる。", u"FILE(1).CLOSE;"},
    {u"ECHO", u"文字コードの一文字をコンソールに出す。", u"??ECHO 65;"},
    {u"GETS", u"キーボードから一行読む（velmora-run では標準入力から）。", u"?? GETS &S;"},
    {u"FONT", u"コンソールのフォント（受け付けるだけ）。", u"??FONT 12, 0, \"Gothic\";"},
    {u"BACK", u"コンソールの背景色（受け付けるだけ）。", u"??BACK 0;"},
    {u"FILE", u"番号 0〜9 のファイルを開き、読み、書き、閉じる。",
     u"FILE(1).OPEN(\"a.txt\", READ);\nFILE(1).READ(&S);"},
    {u"READ", u"ファイルから一行読む。OPEN では読むために開く。", u"FILE(1).READ(&S);"},
    {u"WRITE", u"ファイルに書く。OPEN では書くために開く（前の中身は消える）。", u"FILE(1).WRITE(&S);"},
    {u"APPEND", u"ファイルを末尾に書き足すために開く。", u"FILE(1).OPEN(\"log.txt\", APPEND);"},
    {u"EOF", u"ファイルの終わりに来たら真。", u"WHILE NOT FILE(1).EOF DO FILE(1).READ(&S); END"},
    {u"EXIST", u"その名前のファイルがあれば真。", u"IF EXIST \"a.txt\" THEN ??\"ある\"; END"},
    {u"DATE", u"日付のリスト：[0] 年 [1] 月 [2] 日 … [7] 曜日（日本語）。", u"&D[] = DATE;"},
    {u"TIME", u"時刻のリスト：[0] 時 [1] 分 [2] 秒 [3] ミリ秒 [4] 0 時からのミリ秒。", u"&T[] = TIME;"},
    {u"VOLINF", u"ドライブ（ファイルシステム）の情報のリスト。", u"&V[] = VOLINF \"C\";"},
    {u"DIR", u"データ（DATA）かプログラム（PROG）のディレクトリを得る・変える。", u"&D = [DIR DATA];"},
    {u"DATA", u"DIR でデータディレクトリを指す。", u"&D = [DIR DATA];"},
    {u"PROG", u"DIR でプログラムディレクトリを指す。", u"&P = [DIR PROG];"},
    {u"UTF8", u"ファイル全体を UTF-8 として読む。", u"&L[] = <*> UTF8 \"a.txt\";"},
    {u"SJIS", u"ファイル全体をシフト JIS として読む。", u"&L[] = <*> SJIS \"a.txt\";"},
    {u"URLS", u"URL の % エンコードを戻した文字列。", u"&S = URLS \"a%20b\";"},
    {u"URLP", u"URL を ? と & で分けたリスト（二つ目は = などの区切り）。",
     u"&L[] = URLP \"http://h/p?a=1&b=2\", \"=\";"},
    {u"HTTP", u"HTTP の設定：[0] 接続待ち ms、[1] 応答待ち ms、[2] User-Agent。", u"HTTP &H[];"},
    {u"COMMAND", u"外部コマンドを /bin/sh で実行する（SHOW・HIDE・STAY）。終わりは待たない。",
     u"COMMAND HIDE \"ls > files.txt\";"},
    {u"SHOW", u"端末のウィンドウで実行する。キャンバスでは表示。", u"COMMAND SHOW \"top\";"},
    {u"HIDE", u"ウィンドウなしで実行する（出力はどこにも出ない）。", u"COMMAND HIDE \"date > now.txt\";"},
    {u"STAY", u"実行したあとも端末を開いたままにする。", u"COMMAND STAY \"ls -l\";"},
    {u"EXEC", u"プログラムをシェルを通さずに起動する。", u"EXEC \"gedit notes.txt\";"},
    {u"LIB", u"共有ライブラリを変数の名前で読み込む。", u"LIB &DLL \"libvelmora_test_library.so\";"},
    {u"LIBA", u"ライブラリの関数を公開名で宣言する。", u"LIBA &DLL \"velmora_upper\" \"1\";"},
    {u"MATRIX", u"行列を定義する（行と列は数で。21 x 21 まで）。", u"MATRIX %A[2, 3];"},
    {u"VECTOR", u"一列の行列（ベクトル）を定義する。", u"VECTOR %V[3];"},
    {u"UNITV", u"長さ 1 にしたベクトル。", u"$U = UNITV($V);"},
    {u"X", u"ベクトルの X 成分。", u"A = $V.X;"},
    {u"Y", u"ベクトルの Y 成分。", u"A = $V.Y;"},
    {u"Z", u"ベクトルの Z 成分。", u"A = $V.Z;"},
    {u"SIZE", u"リストの行数。", u"N = &L[].SIZE;"},
    {u"INS", u"リストやページに一行を挿入する。", u"&L[2].INS(\"x\");\n[#1].INS(0, \"??1;\");"},
    {u"DEL", u"リストやページの行を消す。", u"&L[2].DEL;\n&L[\"x\"].DEL;"},
    {u"NEW", u"新しいページ（タブ）を作り、その番号を得る。", u"P = [#].NEW;"},
    {u"SELF", u"このプログラムのページ番号。", u"P = [#].SELF;"},
    {u"CALLER", u"関数を呼んだ行の番号（分からなければ -1）。", u"L = [#].CALLER;"},
    {u"STATUS", u"ページ n のタスクの状態（0 コードなし、1 実行中、2 停止、3 終了）。", u"S = [#P].STATUS;"},
    {u"RUN", u"ページをコンパイルして起動する。", u"[#P].RUN;"},
    {u"FREE", u"ページを手放す。", u"[#P].FREE;"},
    {u"ACTIVE", u"止めたページのタスクを動かす。", u"[#P].ACTIVE;"},
    {u"NAME", u"ページの名前を得る・付ける。", u"[#P].NAME(\"memo\");"},
    {u"LINE", u"ページの一行。", u"&S = [#P].LINE(0);"},
    {u"SAVE", u"ページをファイルに保存する。キャンバスでは絵を保存。", u"[#P].SAVE(\"page.txt\");"},
    {u"LOAD", u"ファイルをページに読み込む。", u"[#P].LOAD(\"page.txt\");"},
    {u"BY", u"~= で置き換える文字列を示す。", u"&S ~= \"old\" BY \"new\";"},
    {u"??", u"コンソールに出力する（数、文字列、式、書式付き）。", u"??\"sum: \"; ??S; ??CRLF;"},
    {u"???", u"リストの各行をコンソールに出力する。", u"???&L[];"},
    {u"<*>", u"ファイル全体（または URL のページ）を読む・書く。", u"&L[] = <*> \"a.txt\";\n<*> \"b.txt\" = &L[];"},
    {u"<!!!>", u"ファイルを削除する。", u"<!!!> \"old.txt\";"},
    {u"!>", u"COMMAND・EXEC の別の書き方。", u"!> HIDE \"ls > files.txt\";"},
    {u"<??", u"キャンバス n を表示する。", u"<?? 0 >"},
    {u"<?\?!", u"キャンバス n を隠す。", u"<?\?! 0 >"},
    {u"<?", u"このタスクが描くキャンバスを選ぶ。", u"<? 0 >"},
    {u"[#]", u"このプログラムのページ。", u"P = [#].SELF;"},
    {u"[#", u"ページ n（[#n] と書く）。", u"[#P] += \"??1;\";\n&L[] = [#P];"},
    {u"[$]", u"コンソールの出力をリストとして。", u"&C[] = [$];"},
    {u"[<]", u"リストを昇順に並べる（大小文字を区別しない。等しい行は一つになる）。", u"&A[] = [<] &L[];"},
    {u"[>]", u"リストを降順に並べる（大小文字を区別しない。等しい行は一つになる）。", u"&A[] = [>] &L[];"},
    {u"[!]", u"条件に合わない行のほう。", u"&A[] = [!] &L[\"x\"];"},
    {u"[^]", u"大文字と小文字を区別しないで探す。", u"&A[] = [^] &L[\"abc\"];"},
    {u"[++]", u"ゾーンの開始と終了の文字列を両方残す。", u"&Z, &R = [++] &S < \"(\" -> \")\" >;"},
    {u"[+-]", u"ゾーンの開始の文字列だけ残す。", u"&Z, &R = [+-] &S < \"(\" -> \")\" >;"},
    {u"[-+]", u"ゾーンの終了の文字列だけ残す。", u"&Z, &R = [-+] &S < \"(\" -> \")\" >;"},
    {u"[--]", u"ゾーンの開始と終了の文字列を残さない（既定）。", u"&Z, &R = [--] &S < \"(\" -> \")\" >;"},
    {u"->", u"ゾーン（二つの文字列の間）や二つの行の間を示す。", u"&Z = &S < \"<b>\" -> \"</b>\" >;"},
    {u"~=", u"文字列の中のすべての出現を置き換える。", u"&S ~= \"old\" BY \"new\";"},
    {u"+=", u"足して代入する。文字列とリストでは後ろに足す。", u"S += I;\n&S += \"!\";\n&L[] += \"行\";"},
    {u"-=", u"引いて代入する。文字列とリストでは取り除く。", u"S -= 1;\n&S -= \"x\";"},
    {u"*=", u"掛けて代入する。", u"S *= 2;"},
    {u"/=", u"割って代入する。", u"S /= 2;"},
    {u"=)", u"左の文字列が右の文字列を含めば真。", u"IF &S =) \"abc\" THEN ??1; END"},
    {u"(=", u"左の文字列が右の文字列に含まれれば真。", u"IF \"b\" (= &S THEN ??1; END"},
    {u"::", u"ライブラリの関数を呼ぶ。", u"&R = &DLL :: &F ( &TEXT );"},
    {u"[]", u"文字列の変数を行のリストとして使う。", u"&L[] += \"a\";\nN = &L[].SIZE;"},
    {u";", u"文の終わり。", u"A = 1;"},
    {u"//", u"行末までのコメント。", u"A = 1;  // 初期値"},
    {u"&", u"文字列・リストの変数の印。", u"&S = \"abc\";"},
    {u"%", u"行列・ベクトルの変数の印（剰余ではない。余りは MOD）。", u"MATRIX %A[2, 2];"},
    {u"$", u"三成分のベクトル変数の印。", u"SET $V = 1, 2, 3;"},
    {u"<>", u"等しくないとき真。", u"IF A <> 0 THEN ??A; END"},
    {u"<=", u"以下のとき真。", u"IF A <= 10 THEN ??A; END"},
    {u">=", u"以上のとき真。", u"IF A >= 10 THEN ??A; END"},
    {u"=", u"代入。条件では等しいとき真（== はない）。", u"A = 1;\nIF A = 1 THEN ??A; END"},
};

}  // namespace

const std::vector<WordEntry> &word_reference() { return kWords; }

const WordEntry *word_entry(u16view word) {
  for (const WordEntry &e : kWords)
    if (word == e.word) return &e;
  return nullptr;
}

u16 instruction_summary(u16view ruleCode) {
  int code = 0;
  if (!text::parse_int(ruleCode, code)) return {};
  const engine::InstructionRow *row = engine::instruction_row(code);
  if (!row) return {};
  return text::ascii16(row->name) + u" (" + u16(ruleCode) + u"): " + text::from_utf8(row->description);
}

std::vector<u16> rule_codes_of(const language::LanguageTables &t, u16view word) {
  std::vector<u16> codes;
  for (int r = 0; r < t.grammarRowCount(); ++r) {
    const char16_t g = t.SttCode(r);
    if (g == u'/' || g == 0 || t.State_End(r)) continue;
    for (int f = 1; f < language::LanguageTables::kGrammarFields; ++f) {
      const u16 &item = t.SbSt(r, f);
      if (item.empty()) break;
      if (item == word) {
        u16 code = t.ruleCode(r);
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(std::move(code));
        break;
      }
    }
  }
  return codes;
}

u16 word_reference_markdown(const language::Language &language) {
  u16 out =
      u"# 語の一覧\n\n"
      u"組み込みの言語の語（キーワード、記号、コマンド、数学関数）が何をするかの一覧です。"
      u"エディタの補完とホバーが示す説明と同じものです。「命令」はその語の文法規則が作る P-code の命令"
      u"（[instructions.md](instructions.md)）です。\n\n"
      u"<!-- compiler/word_reference.cpp の表から word-docs が作る。直すのは表のほう -->\n\n"
      u"| 語 | 働き | 例 | 命令 |\n|---|---|---|---|\n";
  // Cells as HTML, so that an example keeps its lines inside the table.
  auto cell = [](u16view s) {
    u16 c;
    for (char16_t ch : s) {
      switch (ch) {
        case u'\n': c += u"<br>"; break;
        case u'|': c += u"&#124;"; break;
        case u'<': c += u"&lt;"; break;
        case u'>': c += u"&gt;"; break;
        case u'&': c += u"&amp;"; break;
        default: c += ch;
      }
    }
    return c;
  };
  for (const WordEntry &e : kWords) {
    u16 codes;
    for (const u16 &code : rule_codes_of(language.tables, e.word)) {
      int n = 0;
      if (!text::parse_int(code, n) || !engine::instruction_row(n)) continue;
      if (!codes.empty()) codes += u", ";
      codes += text::ascii16(engine::instruction_row(n)->name);
    }
    out += u"| <code>" + cell(e.word) + u"</code> | " + cell(e.summary) + u" | <code>" + cell(e.example) +
           u"</code> | " + codes + u" |\n";
  }
  return out;
}

}  // namespace velmora::compiler

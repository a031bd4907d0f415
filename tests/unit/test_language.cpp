#include <gtest/gtest.h>
#include <algorithm>

#include "data/builtin_tables.h"
#include "language/language.h"
#include "language/table_check.h"
#include "tests/unit/temp_dir.h"
#include "text/lines.h"

using namespace velmora;
using velmora::testing::TempDir;

namespace {

// Rule heads and group end markers of the built-in grammar, in order.
const char *kExpectedHeads =
    "!000: !000: !001: !002: !201: !201: !201: !201: !202: !202: !202: !202: !203: !203: !204: "
    "!204: !704: !704: !705: !705: !411: !411: !412: !412: !410: !410: //*E* $043: $302: $015: "
    "$030: $040: $041: $353: $360: $361: $358: $049: $121: $103: $127: //*E* @811: @342: @316: "
    "@341: @318: @314: @310: @313: @317: @311: @364: @382: @362: @380: @315: @420: @422: @461: "
    "@462: @371: @338: @337: @312: //*E* ?340: ?335: ?375: ?372: ?334: ?330: ?374: ?331: ?332: "
    "?333: ?460: ?336: ?337: ?338: ?339: ?350: ?368: ?370: //*E* #009: #009: #009: #009: #010: "
    "#011: #450: #012: #012: #013: #014: #019: #020: #021: #022: #023: #024: #025: #044: #046: "
    "#048: #405: #406: #338: #323: #322: #304: #303: #324: #327: #329: #326: #320: #321: #325: "
    "#328: #365: #363: #367: #366: #383: #381: #385: #384: #387: #386: #359: #351: #352: #354: "
    "#355: #356: #357: #373: #300: #301: #080: #081: #082: #083: #096: #097: #500: #501: #502: "
    "#505: #504: #503: #510: #509: #508: #507: #506: #700: #701: #702: #703: #757: #758: #754: "
    "#761: #753: #755: #756: #751: #763: #752: #760: #759: #120: #127: #122: #126: #125: //*E* "
    "☆007: ☆031: ☆032: ☆033: ☆008: //*E* %129: %124: %128: %123: //*E* ";

struct Collected {
  Lines messages;
  language::MessageSink sink() {
    return [this](const u16 &m) { messages.push_back(m); };
  }
};

std::vector<std::string> words(const char *text) {
  std::vector<std::string> out;
  std::string w;
  for (const char *p = text;; ++p) {
    if (*p == ' ' || *p == '\0') {
      if (!w.empty()) out.push_back(w);
      w.clear();
      if (!*p) break;
    } else {
      w += *p;
    }
  }
  return out;
}

Lines numbered_lines(int n, const u16 &stem) {
  Lines lines;
  for (int i = 0; i < n; ++i) lines.push_back(stem + text::int16(i));
  return lines;
}

}  // namespace

TEST(BuiltinTables, WordListsHaveTheirCountsAndOrder) {
  language::LanguageTables t;
  t.loadBuiltins();
  ASSERT_EQ(t.keywords.size(), 174u);  // 173 words and the closing empty line
  EXPECT_EQ(t.keywords.front(), u"\"");
  EXPECT_EQ(t.keywords[172], u"RANDSEED");
  EXPECT_EQ(t.keywords.back(), u"");
  for (std::size_t i = 1; i + 1 < t.keywords.size(); ++i)
    EXPECT_LE(t.keywords[i - 1].size(), t.keywords[i].size()) << "keyword " << i;
  ASSERT_EQ(t.symbols.size(), 71u);
  EXPECT_EQ(t.symbols[23], u"_");
  EXPECT_EQ(t.symbols.back(), u"<!!!>");
  ASSERT_EQ(t.commands.size(), 58u);
  EXPECT_EQ(t.commands.front(), u"RANDSEED");
  EXPECT_EQ(t.commands.back(), u"DEL");
  EXPECT_EQ(t.mathFuncs, (Lines{u"LN", u"COS", u"DEC", u"INC", u"EXP", u"PAI", u"SIN", u"TAN", u"ATAN", u"RAND",
                                u"SQRT", u"TRUNC", u"LENGTH", u"STRVAL"}));
}

// ECHO, VALSTR and APPEND are needed by built-in rules (#755, #048, #700); each sits in its
// length group in alphabetical order, so the tokenizer's longest-match scan still works.
TEST(BuiltinTables, KeywordListHoldsTheWordsTheGrammarNeedsInTheirPlaces) {
  language::LanguageTables t;
  t.loadBuiltins();
  auto at = [&](const char16_t *w) {
    auto it = std::find(t.keywords.begin(), t.keywords.end(), u16(w));
    return it == t.keywords.end() ? -1 : int(it - t.keywords.begin());
  };
  ASSERT_GE(at(u"ECHO"), 0);
  EXPECT_EQ(at(u"ECHO"), at(u"EACH") + 1);
  EXPECT_EQ(at(u"ELSE"), at(u"ECHO") + 1);
  EXPECT_EQ(at(u"APPEND"), at(u"VOLINF") - 9);  // first of the six-letter words
  EXPECT_EQ(at(u"APPEND"), at(u"CANCEL") - 1);
  EXPECT_EQ(t.keywords[std::size_t(at(u"APPEND")) - 1].size(), 5u);
  EXPECT_EQ(at(u"VALSTR"), at(u"STATUS") + 1);
  EXPECT_EQ(at(u"VECTOR"), at(u"VALSTR") + 1);
}

// Every literal item of a built-in rule must be something the tokenizer can produce: a
// keyword, symbol, command or function word, a token class, a group code or a bracket; the
// only exception is a member word after "." (X, Y, Z of a vector, EOF of a file and the like),
// which the rule reads as written. A word missing from the lists makes its rule dead.
TEST(BuiltinTables, EveryWordABuiltinRuleNeedsIsKnown) {
  language::Language lang = language::Language::builtin();
  const language::LanguageTables &t = lang.tables;
  auto in = [](const Lines &list, const u16 &w) { return std::find(list.begin(), list.end(), w) != list.end(); };
  const Lines structural{u"∇", u"Δ", u"xN", u"Ω", u"Σ", u"□", u"xVECTVAR", u"xFNAME", u"xMATH", u"!",
                         u"$", u"@", u"?",  u"#", u"☆", u"%", u"\\",       u"【",     u"】",    u"|"};
  Lines unknown;
  bool continued = false;
  int rules = 0;
  for (int r = 0; r < t.grammarRowCount(); ++r) {
    const Lines items = language::blank_items(t.syntax[std::size_t(r)]);
    if (items.empty()) {
      continued = false;
      continue;
    }
    const u16 &head = items[0];
    bool rule = head.size() >= 5 && head[4] == u':' && head.substr(0, 2) != u"//";
    if (!continued && !rule) continue;
    rules += rule ? 1 : 0;
    bool memberNext = false, inMemberSet = false;  // right after "." (a word or a bracket set)
    for (std::size_t i = 1; i < items.size(); ++i) {
      const u16 &it = items[i];
      if (memberNext) {
        memberNext = false;
        inMemberSet = it == u"【";
        continue;
      }
      if (inMemberSet) {
        inMemberSet = it != u"】";
        continue;
      }
      memberNext = it == u".";
      if (in(structural, it) || in(t.keywords, it) || in(t.symbols, it) || in(t.commands, it) || in(t.mathFuncs, it))
        continue;
      if (head == u"@811:" && it == u"∇ECTVAR") continue;  // kept as the table has it
      unknown.push_back(u16(t.syntax[std::size_t(r)].substr(0, 5)) + u" " + it);
    }
    continued = items.back() == u"|";
  }
  EXPECT_GT(rules, 150);
  Lines none;
  EXPECT_EQ(unknown, none);
}

TEST(BuiltinTables, GrammarRuleHeadsComeInTheirOrder) {
  Collected c;
  language::Language lang = language::Language::builtin(c.sink());
  EXPECT_TRUE(c.messages.empty());
  const language::LanguageTables &t = lang.tables;
  std::vector<std::string> heads;
  for (int r = 0; r < t.grammarRowCount(); ++r) {
    const u16 &head = t.SbSt(r, 0);
    if (t.State_End(r) || (!head.empty() && head.find(u':') == 4 && head.substr(0, 2) != u"//"))
      heads.push_back(text::to_utf8(head));
  }
  EXPECT_EQ(heads, words(kExpectedHeads));
}

TEST(BuiltinTables, PatternsAreKeptExactlyAndCommentsOccupyRows) {
  language::Language lang = language::Language::builtin();
  const language::LanguageTables &t = lang.tables;
  auto find_row = [&](const u16 &head, const u16 &second) {
    for (int r = 0; r < t.grammarRowCount(); ++r)
      if (t.SbSt(r, 0) == head && t.SbSt(r, 1) == second) return r;
    return -1;
  };
  int lib = find_row(u"@811:", u"Σ");
  ASSERT_GE(lib, 0);
  EXPECT_EQ(t.SbSt(lib, 8), u"∇ECTVAR");  // kept as the table has it
  EXPECT_EQ(t.ruleCode(lib), u"811");
  EXPECT_EQ(t.SttCode(lib), u'@');
  int forRule = find_row(u"#011:", u"FOR");
  ASSERT_GE(forRule, 0);
  EXPECT_EQ(t.row(forRule), (Lines{u"#011:", u"FOR", u"∇", u"=", u"【", u"∇", u"Δ", u"xN", u"】", u"TO", u"【", u"∇",
                                   u"Δ", u"xN", u"】", u"DO", u"#", u"END"}));
  // The row number of a rule is its line number in the grammar text.
  EXPECT_EQ(t.syntax[std::size_t(forRule)].substr(0, 9), u"#011: FOR");
  EXPECT_EQ(t.SttCode(0), u'/');
  // The library rules are present only as frozen comment lines.
  EXPECT_LT(find_row(u"#800:", u"LIB"), 0);
  EXPECT_GE(find_row(u"//#800:", u"LIB"), 0);
}

TEST(BuiltinTables, LookupsFollowTheirLists) {
  language::Language lang = language::Language::builtin();
  const language::LanguageTables &t = lang.tables;
  EXPECT_TRUE(t.IsKeyWord(u"IF"));
  EXPECT_TRUE(t.IsKeyWord(u"<!!!>"));
  EXPECT_FALSE(t.IsKeyWord(u"if"));  // case-sensitive
  EXPECT_FALSE(t.IsKeyWord(u""));    // the closing empty line never matches
  EXPECT_TRUE(t.isSymbolicTerm(u">V<"));
  EXPECT_FALSE(t.isSymbolicTerm(u"?>"));  // keyword, not symbol
  EXPECT_FALSE(t.Non_SingleSymbol(u'_'));
  EXPECT_TRUE(t.Non_SingleSymbol(u'|'));
  EXPECT_TRUE(t.SingleChar_KeyWordFollow(u"a|b", 1));
  EXPECT_FALSE(t.SingleChar_KeyWordFollow(u"a_b", 1));
  EXPECT_FALSE(t.SingleChar_KeyWordFollow(u"ab", 5));
  EXPECT_TRUE(t.isMathFunction(u"SQRT"));
  EXPECT_FALSE(t.isMathFunction(u""));
  EXPECT_FALSE(t.isMathFunction(u"MOD"));
}

TEST(TableFiles, AFileBesideTheProgramReplacesOnlyItsList) {
  TempDir dir;
  dir.write("T-Math.txt", "SQRT\r\nCUBE\r\n");
  language::Language lang;
  lang.load(dir.path(), {});
  EXPECT_EQ(lang.tables.mathFuncs, (Lines{u"SQRT", u"CUBE"}));
  EXPECT_TRUE(lang.tables.isMathFunction(u"CUBE"));
  EXPECT_FALSE(lang.tables.isMathFunction(u"SIN"));
  language::Language builtin = language::Language::builtin();
  EXPECT_EQ(lang.tables.keywords, builtin.tables.keywords);
  EXPECT_EQ(lang.tables.syntax, builtin.tables.syntax);
  EXPECT_EQ(lang.rules.text, builtin.rules.text);
}

TEST(TableFiles, ShiftJisTableFilesAreRead) {
  TempDir dir;
  // "∇" in CP932, no byte-order mark.
  dir.write("T-Symbol.txt", "\x81\xde\r\n+\r\n");
  language::Language lang;
  lang.load(dir.path(), {});
  EXPECT_EQ(lang.tables.symbols, (Lines{u"∇", u"+"}));
}

TEST(GrammarLimits, TwoThousandLinesBuildAndOneMoreIsReportedOnce) {
  language::LanguageTables t;
  t.loadBuiltins();
  t.syntax = numbered_lines(2000, u"// line ");
  Collected ok;
  t.ReconstSyntax(ok.sink());
  EXPECT_TRUE(ok.messages.empty());
  EXPECT_EQ(t.grammarRowCount(), 2000);

  t.syntax = numbered_lines(2001, u"// line ");
  Collected over;
  t.ReconstSyntax(over.sink());
  EXPECT_EQ(over.messages, Lines{u"文法が多すぎます（内部エラー・要再構築）"});
  EXPECT_EQ(t.grammarRowCount(), 2000);
  EXPECT_TRUE(t.IsKeyWord(u"IF"));  // the keyword table is still built
}

TEST(GrammarLimits, ThirtyNineItemsBuildAndFortyEndTheBuild) {
  auto line_with = [](int items) {
    u16 line = u"#999:";
    for (int i = 1; i < items; ++i) line += u" A";
    return line;
  };
  language::LanguageTables t;
  t.loadBuiltins();
  t.syntax = {line_with(40), u"#022: ∇ = $ ;"};  // head + 39 items
  Collected ok;
  t.ReconstSyntax(ok.sink());
  EXPECT_TRUE(ok.messages.empty());
  EXPECT_EQ(t.grammarRowCount(), 2);
  EXPECT_EQ(t.SbSt(0, 39), u"A");

  t.syntax = {u"#001: X", line_with(41), u"#022: ∇ = $ ;"};
  Collected over;
  t.ReconstSyntax(over.sink());
  EXPECT_EQ(over.messages, Lines{u"文法１行内の定義数が多すぎます（内部エラー・要再構築）"});
  EXPECT_EQ(t.grammarRowCount(), 2);  // later rules are missing
  EXPECT_EQ(t.row(1).size(), 40u);
  EXPECT_TRUE(t.IsKeyWord(u"IF"));
}

TEST(GrammarLimits, ItemsAreCutToTwentyCp932Bytes) {
  language::LanguageTables t;
  t.loadBuiltins();
  t.syntax = {u"// ∇∇∇∇∇∇∇∇∇∇∇∇ abcdefghijklmnopqrstuvwxyz x\u3000y"};
  t.ReconstSyntax([](const u16 &) {});
  EXPECT_EQ(t.SbSt(0, 1), u"∇∇∇∇∇∇∇∇∇∇");
  EXPECT_EQ(t.SbSt(0, 2), u"abcdefghijklmnopqrst");
  EXPECT_EQ(t.SbSt(0, 3), u"x\u3000y");  // a full-width blank does not separate
}

TEST(GrammarLimits, ContinuationBarStaysAnItemOfItsRow) {
  language::LanguageTables t;
  t.loadBuiltins();
  t.syntax = {u"#700: FILE ( 【 ∇ Δ 】 ) |", u"#700: . CLOSE ;"};
  t.ReconstSyntax([](const u16 &) {});
  EXPECT_EQ(t.SbSt(0, 8), u"|");
  EXPECT_EQ(t.SbSt(1, 1), u".");
}

TEST(KeywordLimits, FiveHundredKeywordsAndTheMessageBeyond) {
  language::LanguageTables t;
  t.loadBuiltins();
  t.keywords = numbered_lines(500, u"K");
  Collected ok;
  t.ReconstSyntax(ok.sink());
  EXPECT_TRUE(ok.messages.empty());
  EXPECT_TRUE(t.IsKeyWord(u"K499"));

  t.keywords = numbered_lines(501, u"K");
  Collected over;
  t.ReconstSyntax(over.sink());
  EXPECT_EQ(over.messages, Lines{u"キーワードが多すぎます（内部エラー・要再構築）>500"});
  EXPECT_EQ(t.keywordTable().size(), 500u);
  EXPECT_FALSE(t.IsKeyWord(u"K500"));
}

TEST(KeywordLimits, EntriesAreCutToThirtyBytes) {
  language::LanguageTables t;
  t.loadBuiltins();
  t.keywords = {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"};
  t.ReconstSyntax([](const u16 &) {});
  EXPECT_TRUE(t.IsKeyWord(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123"));
  EXPECT_FALSE(t.IsKeyWord(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
}

// Table files beside the program that cannot define anything are named at
// start, and still replace their built-in copy.
TEST(TableFileFaults, BuiltinTablesAndOrdinaryEncodingsPass) {
  for (const char *name : {"T-Keyword.txt", "T-Symbol.txt", "T-Command.txt", "T-Math.txt"})
    EXPECT_EQ(language::table_fault(data::builtin_file(name), language::TableKind::WordList),
              language::TableFault::None)
        << name;
  EXPECT_EQ(language::table_fault(data::builtin_file("T-Syntax.txt"), language::TableKind::Grammar),
            language::TableFault::None);
  EXPECT_EQ(language::table_fault(data::builtin_file("T-CodeGenerationRule.txt"), language::TableKind::CodeGenRules),
            language::TableFault::None);
  // CP932 without a byte-order mark, UTF-16 with one, tabs and a final ^Z.
  EXPECT_EQ(language::table_fault(text::to_cp932(u"ＡＢ\r\nＣ\t\x1A"), language::TableKind::WordList),
            language::TableFault::None);
  EXPECT_EQ(language::table_fault(std::string("\xFF\xFE#\0"
                                              "0\0"
                                              "0\0"
                                              "1\0"
                                              ":\0",
                                              12),
                                  language::TableKind::Grammar),
            language::TableFault::None);
}

TEST(TableFileFaults, BinaryEmptyAndRulelessFilesAreJudged) {
  const std::string binary(
      "\x7F"
      "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
      16);
  EXPECT_EQ(language::table_fault(binary, language::TableKind::WordList), language::TableFault::NotText);
  EXPECT_EQ(language::table_fault(binary, language::TableKind::Grammar), language::TableFault::NotText);
  EXPECT_EQ(language::table_fault(std::string("I\0F\0", 4), language::TableKind::WordList),
            language::TableFault::NotText);  // UTF-16 without a mark
  EXPECT_EQ(language::table_fault("\x81\x20\xFF\xFE", language::TableKind::WordList),
            language::TableFault::NotText);  // no CP932 either
  EXPECT_EQ(language::table_fault("", language::TableKind::WordList), language::TableFault::NoWord);
  EXPECT_EQ(language::table_fault(" \r\n\t\r\n\xE3\x80\x80\r\n", language::TableKind::WordList),
            language::TableFault::NoWord);
  EXPECT_EQ(language::table_fault("", language::TableKind::Grammar), language::TableFault::NoRule);
  EXPECT_EQ(language::table_fault("// only comments\r\n//*E*\r\nIF THEN\r\n#:\r\n", language::TableKind::Grammar),
            language::TableFault::NoRule);
  EXPECT_EQ(language::table_fault("//\r\n  #022: ∇ = $ ;\r\n", language::TableKind::Grammar),
            language::TableFault::None);
  EXPECT_EQ(language::table_fault("", language::TableKind::CodeGenRules), language::TableFault::NoRule);
  EXPECT_EQ(language::table_fault("--- comment\r\n\r\n   \r\n", language::TableKind::CodeGenRules),
            language::TableFault::NoRule);
  EXPECT_EQ(language::table_fault("*KEYDEF IF\r\n", language::TableKind::CodeGenRules), language::TableFault::None);
}

TEST(TableFileFaults, LoadingNamesEachFaultyFileAndStillTakesIt) {
  TempDir dir;
  dir.write("T-Syntax.txt", "");
  dir.write("T-Keyword.txt", std::string("\0\1\2\3binary\0", 11));
  dir.write("T-Symbol.txt", "\r\n\r\n");
  dir.write("T-Math.txt", "SIN\r\nCOS\r\n");  // a good file: no message
  dir.write("T-CodeGenerationRule.txt", "--- nothing but a comment\r\n");
  Collected c;
  language::Language lang;
  lang.load(dir.path(), c.sink());
  const std::string base = dir.path().string();
  const u16 tail = u"（組み込みの表の代わりに使われます。直すか削除してください）";
  ASSERT_GE(c.messages.size(), 4u);
  // Files in loading order, before any message of building the tables.
  EXPECT_EQ(c.messages[0],
            u"言語テーブルファイルがテキストではありません: " + text::from_utf8(base + "/T-Keyword.txt") + tail);
  EXPECT_EQ(c.messages[1],
            u"言語テーブルファイルに語がひとつもありません: " + text::from_utf8(base + "/T-Symbol.txt") + tail);
  EXPECT_EQ(c.messages[2],
            u"言語テーブルファイルに規則がひとつもありません: " + text::from_utf8(base + "/T-Syntax.txt") + tail);
  EXPECT_EQ(c.messages[3], u"言語テーブルファイルに規則がひとつもありません: " +
                               text::from_utf8(base + "/T-CodeGenerationRule.txt") + tail);
  EXPECT_EQ(c.messages.size(), 4u);
  // The files replaced their built-in copies all the same.
  EXPECT_TRUE(lang.tables.syntax.empty());
  EXPECT_EQ(lang.tables.mathFuncs, (Lines{u"SIN", u"COS"}));
  EXPECT_TRUE(lang.rules.keywords().empty());

  // Without table files nothing is said.
  TempDir clean;
  Collected none;
  lang.load(clean.path(), none.sink());
  EXPECT_TRUE(none.messages.empty());
}

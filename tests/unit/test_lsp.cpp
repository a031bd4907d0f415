// The language server's parts without a client: the message framing (split
// and joined reads, bad headers, a message too large to keep), documents and
// their UTF-16 positions, the renames the vocabulary finds, and the word
// reference whose examples the editors show.
#include <gtest/gtest.h>

#include <cstring>

#include "compiler/statement_compiler.h"
#include "compiler/word_reference.h"
#include "language/word_editing.h"
#include "lsp/analysis.h"
#include "lsp/document.h"
#include "lsp/framing.h"
#include "lsp/vocabulary.h"

using namespace velmora;
using namespace velmora::lsp;

namespace {

// A source that hands out the bytes in pieces of the given sizes (the last
// size repeats).
MessageReader::Source pieces(std::string bytes, std::vector<std::size_t> sizes) {
  auto state = std::make_shared<std::pair<std::string, std::size_t>>(std::move(bytes), 0);
  auto k = std::make_shared<std::size_t>(0);
  return [state, sizes, k](char *buffer, std::size_t n) -> std::size_t {
    auto &[data, at] = *state;
    std::size_t size = sizes[std::min(*k, sizes.size() - 1)];
    ++*k;
    size = std::min({size, n, data.size() - at});
    std::memcpy(buffer, data.data() + at, size);
    at += size;
    return size;
  };
}

std::vector<MessageReader::Result> read_all(MessageReader &reader) {
  std::vector<MessageReader::Result> out;
  for (;;) {
    MessageReader::Result r = reader.next();
    if (r.status == MessageReader::Status::End) return out;
    out.push_back(std::move(r));
  }
}

}  // namespace

TEST(Framing, MessagesSplitAndJoinedAcrossReadsComeOutWhole) {
  const std::string input =
      frame("{\"a\":1}") + "content-length:  8 \r\nContent-Type: x\r\n\r\n{\"b\":22}" + frame("{\"日本\":\"語\"}");
  for (std::size_t piece : {1, 2, 5, 64, 100000}) {
    MessageReader reader(pieces(input, {piece}));
    const auto all = read_all(reader);
    ASSERT_EQ(all.size(), 3u) << piece;
    EXPECT_EQ(all[0].body, "{\"a\":1}");
    EXPECT_EQ(all[1].body, "{\"b\":22}") << "names without case, blanks around the value";
    EXPECT_EQ(all[2].body, "{\"日本\":\"語\"}") << "the length counts bytes";
  }
}

TEST(Framing, ABadHeaderIsReportedAndTheNextMessageStillRead) {
  MessageReader reader(pieces(
      "Content-Type: text\r\n\r\n" + std::string("Content-Length: 12x\r\n\r\n") + "garbage line\r\n\r\n" + frame("{}"),
      {7}));
  const auto all = read_all(reader);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].status, MessageReader::Status::BadHeader);
  EXPECT_NE(all[0].error.find("without Content-Length"), std::string::npos);
  EXPECT_EQ(all[1].status, MessageReader::Status::BadHeader);
  EXPECT_EQ(all[2].status, MessageReader::Status::BadHeader);
  EXPECT_EQ(all[3].status, MessageReader::Status::Message);
  EXPECT_EQ(all[3].body, "{}");
}

TEST(Framing, AMessageOverTheLimitIsSkippedWithoutBeingKept) {
  const std::size_t big = MessageReader::kMaxContent + 1;
  // The source makes the body as it is read: nothing holds it whole.
  std::size_t sent = 0;
  const std::string head = "Content-Length: " + std::to_string(big) + "\r\n\r\n";
  const std::string tail = frame("{\"after\":true}");
  MessageReader reader([&](char *buffer, std::size_t n) -> std::size_t {
    const std::size_t total = head.size() + big + tail.size();
    if (sent >= total) return 0;
    std::size_t k = 0;
    for (; k < n && sent < total; ++k, ++sent) {
      buffer[k] = sent < head.size() ? head[sent] : sent < head.size() + big ? 'x' : tail[sent - head.size() - big];
    }
    return k;
  });
  MessageReader::Result r = reader.next();
  EXPECT_EQ(r.status, MessageReader::Status::TooLarge);
  EXPECT_EQ(r.length, big);
  EXPECT_TRUE(r.body.empty());
  r = reader.next();
  EXPECT_EQ(r.status, MessageReader::Status::Message);
  EXPECT_EQ(r.body, "{\"after\":true}");
  EXPECT_EQ(reader.next().status, MessageReader::Status::End);
}

TEST(Framing, AnOverlongHeaderAndACutOffBodyEndCleanly) {
  MessageReader reader(pieces(std::string(MessageReader::kMaxHeader * 3, 'h') + "\r\n\r\n" + frame("{}"), {4096}));
  auto r = reader.next();
  EXPECT_EQ(r.status, MessageReader::Status::BadHeader);
  EXPECT_EQ(reader.next().body, "{}");
  MessageReader cut(pieces("Content-Length: 10\r\n\r\n{\"a\"", {3}));
  EXPECT_EQ(cut.next().status, MessageReader::Status::End);
}

TEST(Document, PositionsCountUtf16UnitsAndLinesEndAtCrLfLfOrCr) {
  Document d(u"a😀b\r\nsecond\rthird\nlast");
  ASSERT_EQ(d.lineCount(), 4);
  EXPECT_EQ(d.line(0), u"a😀b");
  EXPECT_EQ(d.line(1), u"second");
  EXPECT_EQ(d.line(2), u"third");
  EXPECT_EQ(d.line(3), u"last");
  EXPECT_EQ(d.offsetOf({0, 3}), 3u) << "b follows the two units of the emoji";
  EXPECT_EQ(d.offsetOf({0, 99}), 4u) << "beyond the line's end: its end, before CR LF";
  EXPECT_EQ(d.offsetOf({1, 0}), 6u);
  EXPECT_EQ(d.offsetOf({9, 0}), d.text().size());
  EXPECT_EQ(d.positionOf(7), (Position{1, 1}));
  EXPECT_EQ(d.positionOf(5), (Position{0, 4})) << "inside a CR LF: the end of the line";
  d.replace({0, 3}, {2, 2}, u"X\nY");
  EXPECT_EQ(d.text(), u"a😀X\nYird\nlast");
  EXPECT_EQ(d.lines(), (Lines{u"a😀X", u"Yird", u"last"}));
  Document ends(u"A = 1;\r\n");
  EXPECT_EQ(ends.lines(), (Lines{u"A = 1;"})) << "a last line end starts no line of the program";
}

TEST(Vocabulary, RenamesAreFoundFromTheGrammarAndTheLists) {
  language::Language live = language::Language::builtin();
  const language::Language builtin = language::Language::builtin();
  language::apply_rename(live.tables, u"WAIT", u"PAUSE", {});
  language::apply_rename(live.tables, u"SQRT", u"ROOT", {});  // a function: in no grammar row
  language::apply_rename(live.tables, u"THEN", u"NARA", {});
  Vocabulary words(live, builtin);
  EXPECT_EQ(words.builtinOf(u"PAUSE"), u"WAIT");
  EXPECT_EQ(words.liveOf(u"WAIT"), u"PAUSE");
  EXPECT_EQ(words.builtinOf(u"ROOT"), u"SQRT");
  EXPECT_EQ(words.liveOf(u"THEN"), u"NARA");
  EXPECT_TRUE(words.renamed(u"NARA"));
  EXPECT_FALSE(words.renamed(u"IF"));
  ASSERT_NE(words.find(u"PAUSE"), nullptr);
  EXPECT_TRUE(words.find(u"PAUSE")->keyword && words.find(u"PAUSE")->command);
  EXPECT_EQ(words.find(u"WAIT"), nullptr);
  EXPECT_TRUE(words.find(u"ROOT")->math);
}

TEST(Analysis, NamesAreFoundWithTheirPlacesInTheSource) {
  const language::Language lang = language::Language::builtin();
  const Vocabulary words(lang, lang);
  const Lines program = {u"FUNCTION 表示;",
                         u"??&S;",
                         u"ENDFUNC",
                         u"&s = \"a\tb\";  // c",
                         u"CALL 表示; SHARE N;",
                         u"TIMER \"T\", SET, 5, \"表示\";",
                         u"N = & S;"};
  const Analysis a = analyse(program, lang, words);
  const ProgramSymbol *f = a.symbol(SymbolKind::Function, u"表示");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->occurrences.size(), 3u);
  EXPECT_TRUE(f->occurrences[0].definition);
  EXPECT_EQ(f->occurrences[2].span.line, 5) << "the timer's handler, named in a string";
  EXPECT_EQ(f->occurrences[2].span.column, 20);
  EXPECT_EQ(f->end, (Position{2, 7}));
  const ProgramSymbol *s = a.symbol(SymbolKind::Variable, u"&S");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->occurrences.size(), 3u);
  EXPECT_EQ(s->occurrences[2].span.length, 3) << "& S: the blank between mark and name belongs to the token";
  const SourceToken *str = a.tokenAt(3, 6);
  ASSERT_NE(str, nullptr);
  EXPECT_EQ(str->type, u"Ω");
  EXPECT_EQ(str->span.length, 5) << "the tab inside the string is one unit of the source";
  const ProgramSymbol *n = a.symbol(SymbolKind::Variable, u"N");
  ASSERT_NE(n, nullptr);
  EXPECT_TRUE(n->shared);
  EXPECT_TRUE(n->occurrences[0].definition);
  ASSERT_EQ(a.comments.size(), 1u);
  EXPECT_EQ(a.comments[0].column, 13);
  EXPECT_NE(a.symbol(SymbolKind::Timer, u"T"), nullptr);
}

TEST(WordReference, EveryExampleCompilesWithTheBuiltInLanguage) {
  const language::Language lang = language::Language::builtin();
  class Quiet : public compiler::CompileHost {
   public:
    void message(const u16 &) override {}
  } host;
  for (const compiler::WordEntry &e : compiler::word_reference()) {
    compiler::Tokenizer tokenizer(lang);
    Lines lines;
    u16 example = e.example;
    for (std::size_t at = 0;;) {
      const std::size_t nl = example.find(u'\n', at);
      lines.push_back(example.substr(at, nl == u16::npos ? u16::npos : nl - at));
      if (nl == u16::npos) break;
      at = nl + 1;
    }
    const auto stream = tokenizer.Make_Token_From_Text(lines, {}, [](const u16 &) {});
    compiler::StatementCompiler c(lang, host);
    const bool ok = c.compile(stream.tokens, false, stream.columns);
    // The library words need the library rules, which the built-in grammar
    // keeps as comments.
    const bool library = u16view(e.word) == u"LIB" || u16view(e.word) == u"LIBA";
    EXPECT_EQ(ok, !library) << text::to_utf8(e.word) << ": " << text::to_utf8(e.example);
    if (!library) {
      for (const auto &d : c.diagnoses())
        EXPECT_TRUE(d.note && d.kind != compiler::Failure::None)
            << text::to_utf8(e.word) << " " << text::to_utf8(compiler::explanation_text(d));
    }
  }
}

TEST(WordReference, EveryAlphabeticWordOfTheBuiltInListsThatMakesAnInstructionIsDescribed) {
  const language::Language lang = language::Language::builtin();
  const Vocabulary words(lang, lang);
  for (const Vocabulary::Word &w : words.words()) {
    if (!is_alphabetic_word(w.text)) continue;
    const bool used = w.math || !compiler::rule_codes_of(lang.tables, w.text).empty();
    if (used) {
      EXPECT_NE(compiler::word_entry(w.text), nullptr) << text::to_utf8(w.text);
    }
  }
  EXPECT_NE(compiler::instruction_summary(u"080").find(u"WAIT"), u16::npos);
  EXPECT_TRUE(compiler::instruction_summary(u"999").empty());
}
